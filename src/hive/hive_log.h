#pragma once
// Recovery of dirty hives from their transaction logs, as Windows does when it
// loads a hive whose last write did not finish or whose newest changes live
// only in the logs (Windows 8.1 and later write the logs first and fold them
// into the hive up to an hour later; a disk taken from a machine that was
// switched off or hibernated very often holds such hives).
//
// Two log formats exist: the old one (.LOG, .LOG1, .LOG2 with a bitmap of
// dirty 512-byte pages, Windows XP to 8) and the new one (.LOG1 and .LOG2
// holding "HvLE" log entries with their own sequence numbers and Marvin32
// hashes, Windows 8.1 and later). Logs come from untrusted disks: every size
// and offset in them is checked, and a log that cannot be applied leaves the
// hive untouched.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace brisko::hive {

struct LogReplay {
    bool dirty = false;    // the primary's base block asked for recovery (seq1 != seq2,
                           // or bad checksum / unreadable base block)
    bool applied = false;  // recovery done: `primary` now holds the recovered hive
    std::string problem;   // for a person: why the logs could not be applied (empty when
                           // fine or not dirty)
    size_t entries = 0;    // log entries (new format) or dirty pages (old format) applied
    std::vector<std::filesystem::path> logsUsed;
    uint32_t highestSequence = 0;  // highest sequence number in the primary's base block or any
                                   // log's base block/entries, valid or not: a writer puts its
                                   // sequence numbers past it
    std::string note;     // for a person: where replay stopped short of the logs' end, as Windows
                          // would (a bad hash, a gap in the sequence); empty otherwise
    bool noLogs = false;  // dirty, with nothing to replay: no log beside it, or only empty ones
};

// The logs beside a hive: FILE.LOG, FILE.LOG1, FILE.LOG2, names matched without
// case. Regular files only.
std::vector<std::filesystem::path> findHiveLogs(const std::filesystem::path& hiveFile);

// True when the base block (first 4096 bytes) calls for log recovery.
bool hiveNeedsRecovery(std::span<const uint8_t> primary);

// Applies the logs as Windows does at load when the primary is dirty; may
// modify and grow `primary`. When not dirty: returns {dirty=false} and leaves
// it untouched (stale logs beside a clean hive are never replayed).
LogReplay replayHiveLogs(std::vector<uint8_t>& primary,
                         const std::vector<std::filesystem::path>& logs);

// After a hive was committed: make its logs harmless (truncate to zero length,
// as a fresh hive's logs are), keeping their names.
bool resetHiveLogs(const std::vector<std::filesystem::path>& logs, std::string* error);

// The hash log entries carry (64 bits: the low word is the first one stored).
// The seed's low word is the Marvin32 state's first word.
uint64_t marvin32(std::span<const uint8_t> data, uint64_t seed);
// The seed Windows seals log entries with: the bytes 82 EF 4D 88 7A 4E 55 C5
// read as one number, most significant first. Every entry of the Windows 8.1
// and 10 logs we hold checks out with it; the same bytes read as a
// little-endian number check out none.
inline constexpr uint64_t kHiveLogHashSeed = 0x82EF4D887A4E55C5ULL;

// The XOR checksum of a base block as Windows computes it (never 0 or ~0).
uint32_t baseBlockChecksum(const uint8_t* baseBlock);

}  // namespace brisko::hive
