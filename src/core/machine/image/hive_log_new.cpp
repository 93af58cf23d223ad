// The log format of Windows 8.1 and later: after a 512-byte copy of the base
// block, "HvLE" log entries, each carrying its sequence number, the hive bins
// data size at the time, and the dirty pages with their offsets, sealed by two
// Marvin32 hashes. Windows writes entries to LOG1 and LOG2 in turns and folds
// them into the hive later; at load it applies, in sequence and across both
// files, every entry that continues the hive's sequence, and stops at a gap,
// a bad hash or anything malformed, keeping what came before.
#include <algorithm>
#include <cstring>

#include "core/machine/image/hive_log.h"
#include "core/machine/image/hive_log_plan.h"
#include "core/machine/regf_format.h"

namespace brisko::hivelog {

namespace {

using regf::get32;

constexpr size_t kEntryHeader = 40;

uint64_t get64(const uint8_t* p) {
    return uint64_t(get32(p)) | (uint64_t(get32(p + 4)) << 32);
}

enum class Entry { Applied, End, Gap, Bad };

struct EntryWalk {
    const LogFile& log;
    Plan& plan;
    uint32_t expected;
    std::string why;  // for Bad and Gap

    // Adds the entry at `at` to the plan, or says why it ends the walk.
    Entry take(size_t at, size_t& next) {
        const std::vector<uint8_t>& b = log.bytes;
        if (at + kEntryHeader > b.size() || std::memcmp(b.data() + at, "HvLE", 4) != 0)
            return Entry::End;
        const uint8_t* e = b.data() + at;
        uint32_t size = get32(e + 4), seq = get32(e + 12), binsSize = get32(e + 16);
        uint32_t pages = get32(e + 20);
        if (seq != expected) {
            if (seq < expected) return Entry::End;  // left from an earlier round of this file
            why = "log entry " + std::to_string(expected) + " is missing (the next is " +
                  std::to_string(seq) + ")";
            return Entry::Gap;
        }
        if (size < kEntryHeader || size % kSector != 0 || size > b.size() - at) {
            why = "log entry " + std::to_string(seq) + " is cut short";
            return Entry::Bad;
        }
        if (get64(e + 32) != marvin32({e, 32}, kHiveLogHashSeed) ||
            get64(e + 24) != marvin32({e + kEntryHeader, size - kEntryHeader}, kHiveLogHashSeed)) {
            why = "log entry " + std::to_string(seq) + " has a bad hash";
            return Entry::Bad;
        }
        if (binsSize == 0 || binsSize % kPage != 0 || binsSize > kMaxBins ||
            pages > (size - kEntryHeader) / 8) {
            why = "log entry " + std::to_string(seq) + " is malformed";
            return Entry::Bad;
        }
        // Every page must lie in the entry and in the hive as it then was.
        size_t data = kEntryHeader + size_t(pages) * 8;
        for (uint32_t i = 0; i < pages; ++i) {
            const uint8_t* ref = e + kEntryHeader + size_t(i) * 8;
            uint64_t offset = get32(ref), length = get32(ref + 4);
            if (length > size - data || offset + length > binsSize) {
                why = "log entry " + std::to_string(seq) + " refers outside the hive";
                return Entry::Bad;
            }
            data += length;
        }
        plan.logEntries.push_back(e);
        plan.binsSize = binsSize;
        plan.sequence = seq;
        plan.flags = get32(e + 8);
        ++plan.entries;
        ++expected;
        next = at + size;
        return Entry::Applied;
    }
};

}  // namespace

bool planNewFormat(const PrimaryState& primary, std::vector<LogFile>& logs, Plan& plan) {
    std::vector<const LogFile*> usable;
    for (const LogFile& log : logs)
        if (log.isNew()) usable.push_back(&log);
    // The file whose round of entries began earlier goes first; either may.
    std::stable_sort(usable.begin(), usable.end(),
                     [](auto* a, auto* b) { return a->sequence < b->sequence; });
    if (primary.baseValid) {
        // Logs whose round began before the hive's last complete write hold
        // nothing it lacks.
        std::erase_if(usable, [&](auto* l) { return l->sequence < primary.sequence2; });
        if (usable.empty()) {
            plan.problem =
                "the hive was not closed cleanly and its logs hold nothing newer "
                "than the hive (sequence " +
                std::to_string(primary.sequence2) + ")";
            return false;
        }
    } else {
        // A broken base block is taken from the log with the latest entries,
        // and that log alone is applied.
        usable.erase(usable.begin(), usable.end() - 1);
        plan.baseBlock = usable.front()->bytes.data();
    }

    uint32_t expected = usable.front()->sequence;
    std::string stopped;  // where and why replay ended short of the logs' end
    for (const LogFile* log : usable) {
        EntryWalk walk{*log, plan, expected, {}};
        size_t before = plan.entries;
        Entry last = Entry::End;
        for (size_t at = kSector, next = 0; (last = walk.take(at, next)) == Entry::Applied;)
            at = next;
        expected = walk.expected;
        if (plan.entries > before) plan.logsUsed.push_back(log->path);
        if ((last == Entry::Gap || last == Entry::Bad) && stopped.empty())
            stopped = log->name() + ": " + walk.why;
    }
    if (plan.entries == 0) {
        plan.problem = "the hive was not closed cleanly and no log entry continues it";
        if (!stopped.empty()) plan.problem += " (" + stopped + ")";
        return false;
    }
    if (!stopped.empty()) plan.note = "recovery stopped at " + stopped;
    plan.setFlags = true;
    plan.healBins = true;
    return true;
}

}  // namespace brisko::hivelog
