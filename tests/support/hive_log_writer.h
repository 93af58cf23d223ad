#pragma once
// Dirty hives for tests: from a clean hive `before` and a changed `after` of
// it, the files Windows leaves on disk when it has logged the change but not
// yet written it into the hive: the primary still holding `before` (with
// sequence numbers that differ), and transaction logs holding the pages that
// differ, in the new format (LOG1/LOG2 with log entries) or the old one
// (a dirty page bitmap and the pages).
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace brisko::test {

struct NewLogOptions {
    size_t entries = 3;        // log entries the dirty pages are spread over
    size_t entriesInLog2 = 0;  // the last this many go to LOG2, as after a log switch
    bool swapFiles = false;    // the earlier entries in LOG2, the later in LOG1
    int badHashEntry = -1;     // this entry's pages are damaged after hashing
    int gapBeforeEntry = -1;   // this entry's sequence number skips one
    bool staleTail = false;    // an older, already applied entry follows LOG1's live ones
};

struct DirtyHive {
    std::vector<uint8_t> primary;  // as left on disk: `before` with a dirty base block
    std::vector<std::pair<std::string, std::vector<uint8_t>>> logs;  // suffix (".LOG1"), bytes
    size_t dirtyPages = 0;                                           // 4096-byte pages that differ
    std::vector<std::vector<uint32_t>> entryPages;  // new format: page offsets per entry
    std::vector<uint32_t> entrySequence;            // new format: sequence number per entry

    // The hive as recovery leaves it after the first `entries` log entries of
    // the new format; with all of them, or with the old format, that is
    // `after` itself with both sequence numbers set to the last one applied.
    std::vector<uint8_t> expected(size_t entries = SIZE_MAX) const;

    std::vector<uint8_t> before, after;
    uint32_t recoveredSequence = 0;  // old format: the sequence numbers after recovery
};

DirtyHive makeNewFormatLogs(const std::vector<uint8_t>& before, const std::vector<uint8_t>& after,
                            const NewLogOptions& options = {});
// Old format: one log (".LOG", or the suffix given) with after's dirty pages.
DirtyHive makeOldFormatLog(const std::vector<uint8_t>& before, const std::vector<uint8_t>& after,
                           const std::string& suffix = ".LOG");

// Gives a base block a wrong checksum, as a torn write of it would.
void breakBaseBlock(std::vector<uint8_t>& hive);
// Recomputes the checksum after a base block field was changed.
void sealBaseBlock(std::vector<uint8_t>& hive);

// Writes the primary as `file` and each log beside it (file + suffix).
void writeDirtyHive(const DirtyHive& hive, const std::filesystem::path& file);

}  // namespace brisko::test
