#pragma once
// Internals of log recovery shared by the two log formats: the logs as read
// from disk and the plan of page writes that recovery works out before it
// touches the hive, so that a log found bad half-way changes nothing.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace brisko::hive::hivelog {

constexpr size_t kSector = 512;            // logs are laid out in 512-byte sectors
constexpr size_t kBaseBlock = 4096;        // the primary's base block
constexpr uint32_t kPage = 4096;           // hive bins are multiples of this
constexpr uint64_t kMaxHive = 0x7FFFFFFF;  // Windows refuses hives of 2 GB and more
constexpr uint64_t kMaxBins = kMaxHive - kBaseBlock;

constexpr uint32_t kTypePrimary = 0;
constexpr uint32_t kTypeOldLog = 1;
constexpr uint32_t kTypeOldLog2000 = 2;  // Windows 2000 and earlier
constexpr uint32_t kTypeNewLog = 6;

struct LogFile {
    std::filesystem::path path;
    std::vector<uint8_t> bytes;
    std::string readError;   // empty when read
    bool baseValid = false;  // signature, checksum, equal sequence numbers, sane bins size
    uint32_t type = 0;
    uint32_t sequence = 0;
    uint64_t timestamp = 0;
    uint32_t binsSize = 0;

    bool isNew() const { return baseValid && type == kTypeNewLog; }
    bool isOld() const {
        return baseValid && (type == kTypeOldLog || type == kTypeOldLog2000) &&
               bytes.size() >= kSector + 4 && std::memcmp(bytes.data() + kSector, "DIRT", 4) == 0;
    }
    std::string name() const { return path.filename().string(); }
};

struct PageWrite {
    uint64_t offset;  // in the hive bins data
    const uint8_t* data;
    size_t size;
};

// What recovery will do; nothing is written until it is complete.
struct Plan {
    std::vector<PageWrite> writes;           // old format: runs of dirty pages
    std::vector<const uint8_t*> logEntries;  // new format: checked entries, applied in order
    const uint8_t* baseBlock = nullptr;      // 512 bytes replacing a broken base block
    uint32_t binsSize = 0;
    uint32_t sequence = 0;  // both sequence numbers of the recovered base block
    bool setFlags = false;  // new format: bit 0 of the flags comes from the last entry
    uint32_t flags = 0;
    bool healBins = false;  // new format: damaged dirty bins become empty ones
    size_t entries = 0;
    std::vector<std::filesystem::path> logsUsed;
    std::string problem;
    std::string note;
};

struct PrimaryState {
    bool baseValid = false;
    uint32_t sequence1 = 0, sequence2 = 0;
    uint64_t timestamp = 0;  // of the base block, else of the first bin; 0 when neither
    bool haveTimestamp = false;
};

// Both return false with plan.problem set when the logs cannot be applied.
bool planNewFormat(const PrimaryState& primary, std::vector<LogFile>& logs, Plan& plan);
bool planOldFormat(std::span<const uint8_t> primary, const PrimaryState& state,
                   std::vector<LogFile>& logs, Plan& plan);

bool sameNameNoCase(std::string_view a, std::string_view b);
bool endsWithNoCase(std::string_view s, std::string_view suffix);

}  // namespace brisko::hive::hivelog
