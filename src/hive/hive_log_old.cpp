// The log format of Windows XP to 8: after a 512-byte copy of the base block,
// a "DIRT" bitmap with one bit per 512-byte page of the hive bins data, then
// the dirty pages themselves, in bitmap order. A log is written whole before
// the hive is, so it belongs to the hive's last write when its timestamp
// matches the hive's. Windows applies the pages bin by bin and stops at a
// dirty bin whose header is wrong, keeping the bins before it.
#include <algorithm>
#include <bit>
#include <cstring>

#include "hive/hive_log.h"
#include "hive/hive_log_plan.h"
#include "hive/regf_format.h"

namespace brisko::hive::hivelog {

namespace {

using regf::get32;

constexpr uint32_t kOldPage = 512;

// A log belongs to the hive's last write when it carries the base block's
// time. With the base block broken, only the first bin's copy of that time is
// left, and Windows does not keep it current on every write: a log from the
// same time or later is taken.
bool fits(const PrimaryState& primary, const LogFile& log) {
    if (primary.baseValid) return primary.haveTimestamp && log.timestamp == primary.timestamp;
    return !primary.haveTimestamp || log.timestamp >= primary.timestamp;
}

const LogFile* chooseLog(const PrimaryState& primary, const std::vector<LogFile>& logs) {
    // LOG1 (or the single .LOG of older systems) is the one normally used;
    // after a failed write Windows moves to LOG2, which then holds every page
    // since, and uses it when it is newer than LOG1 and LOG1 does not fit.
    const LogFile *fitting = nullptr, *first = nullptr, *second = nullptr;
    for (const LogFile& log : logs) {
        if (!log.isOld()) continue;
        bool log1 = endsWithNoCase(log.name(), ".LOG1");
        if (endsWithNoCase(log.name(), ".LOG2")) {
            if (!second) second = &log;
            continue;
        }
        if (fits(primary, log) && (!fitting || log1)) fitting = &log;
        if (!first || log1) first = &log;
    }
    if (fitting) return fitting;
    // Windows 8 would also take a LOG2 older than the hive; such a log is
    // left from an earlier failure and is not applied here.
    if (second && (!first || second->timestamp > first->timestamp) &&
        (!primary.haveTimestamp || second->timestamp >= primary.timestamp))
        return second;
    return nullptr;
}

}  // namespace

bool planOldFormat(std::span<const uint8_t> primary, const PrimaryState& state,
                   std::vector<LogFile>& logs, Plan& plan) {
    const LogFile* log = chooseLog(state, logs);
    if (!log) {
        plan.problem =
            "the hive was not closed cleanly and none of its logs belongs to its "
            "last write";
        return false;
    }
    const std::vector<uint8_t>& b = log->bytes;
    uint64_t bits = log->binsSize / kOldPage;
    uint64_t bitmapBytes = (bits + 7) / 8;
    uint64_t pagesAt = (kSector + 4 + bitmapBytes + kSector - 1) / kSector * kSector;
    if (kSector + 4 + bitmapBytes > b.size()) {
        plan.problem = log->name() + " is cut short (its dirty page bitmap is incomplete)";
        return false;
    }
    const uint8_t* bitmap = b.data() + kSector + 4;
    uint64_t dirty = 0;
    for (uint64_t i = 0; i < bitmapBytes; ++i) dirty += std::popcount(bitmap[i]);
    if (pagesAt + dirty * kOldPage > b.size()) {
        plan.problem = log->name() + " is cut short (it holds fewer dirty pages than it lists)";
        return false;
    }

    // Where each dirty page comes from, to read the recovered hive before writing it.
    std::vector<uint32_t> source(bits, UINT32_MAX);
    for (uint64_t i = 0, k = 0; i < bits; ++i)
        if (bitmap[i / 8] & (1u << (i % 8))) source[i] = uint32_t(k++);
    auto headerAt = [&](uint64_t pos) -> const uint8_t* {
        uint64_t page = pos / kOldPage;
        if (page < bits && source[page] != UINT32_MAX)
            return b.data() + pagesAt + uint64_t(source[page]) * kOldPage;
        if (kBaseBlock + pos + regf::kBinHeaderSize <= primary.size())
            return primary.data() + kBaseBlock + pos;
        return nullptr;
    };
    auto anyDirty = [&](uint64_t from, uint64_t to) {
        for (uint64_t p = from / kOldPage; p < bits && p * kOldPage < to; ++p)
            if (source[p] != UINT32_MAX) return true;
        return false;
    };

    // Walk the bins as they will be; a dirty bin with a wrong header ends recovery.
    uint64_t stopAt = log->binsSize;
    for (uint64_t pos = 0; pos < log->binsSize;) {
        const uint8_t* h = headerAt(pos);
        uint32_t size = h ? get32(h + regf::kBinSize) : 0;
        bool valid = h && std::memcmp(h, "hbin", 4) == 0 && get32(h + regf::kBinOffset) == pos &&
                     size >= kPage && size % kPage == 0 && pos + size <= log->binsSize;
        if (valid) {
            pos += size;
            continue;
        }
        if (anyDirty(pos, pos + kPage)) {
            stopAt = pos;
            plan.note = "recovery stopped at " + log->name() + ": the dirty bin at offset " +
                        std::to_string(pos) + " is damaged";
        }
        break;
    }

    // Consecutive dirty pages follow each other in the log too: one write each run.
    for (uint64_t i = 0; i < bits && i * kOldPage < stopAt; ++i) {
        if (source[i] == UINT32_MAX) continue;
        ++plan.entries;
        const uint8_t* page = b.data() + pagesAt + uint64_t(source[i]) * kOldPage;
        PageWrite* last = plan.writes.empty() ? nullptr : &plan.writes.back();
        if (last && last->offset + last->size == i * kOldPage && last->data + last->size == page)
            last->size += kOldPage;
        else
            plan.writes.push_back({i * kOldPage, page, kOldPage});
    }
    if (!state.baseValid) plan.baseBlock = b.data();
    plan.binsSize = log->binsSize;
    plan.sequence = std::max({state.sequence1, state.sequence2, log->sequence});
    plan.logsUsed.push_back(log->path);
    return true;
}

}  // namespace brisko::hive::hivelog
