// The log format of Windows 8.1 and later: after a 512-byte copy of the base
// block, "HvLE" log entries, each carrying its sequence number, the hive bins
// data size at the time, and the dirty pages with their offsets, sealed by two
// Marvin32 hashes. Windows writes entries to LOG1 and LOG2 in turns and folds
// them into the hive later; at load it applies, in sequence and across both
// files, every entry that continues the hive's sequence, and stops at a gap,
// a bad hash or anything malformed, keeping what came before.
#include <algorithm>
#include <cstring>

#include "hive/hive_log.h"
#include "hive/hive_log_plan.h"
#include "hive/regf_format.h"

namespace brisko::hive::hivelog {

namespace {

using regf::get32;

constexpr size_t kEntryHeader = 40;

uint64_t get64(const uint8_t* p) {
    return uint64_t(get32(p)) | (uint64_t(get32(p + 4)) << 32);
}

// A log file's entries, read one after the other from its second sector.
struct Cursor {
    const LogFile* log;
    size_t at = kSector;

    const uint8_t* entry() const {
        const std::vector<uint8_t>& b = log->bytes;
        if (at + kEntryHeader > b.size() || std::memcmp(b.data() + at, "HvLE", 4) != 0)
            return nullptr;
        return b.data() + at;
    }
    uint32_t sequence() const { return get32(entry() + 12); }
    // From the file's first entry, to the first numbered `sequence` or later
    // (the end when an entry's size leads nowhere).
    void seek(uint32_t sequence) {
        at = kSector;
        while (entry() && this->sequence() < sequence)
            if (!next()) at = log->bytes.size();
    }
    // Steps over the entry here; false when its size cannot be where the next begins.
    bool next() {
        uint32_t size = get32(entry() + 4);
        if (size < kEntryHeader || size % kSector != 0 || size > log->bytes.size() - at)
            return false;
        at += size;
        return true;
    }
};

// Why the entry at the cursor cannot be applied; empty when it can.
std::string checkEntry(const Cursor& c) {
    const uint8_t* e = c.entry();
    const std::vector<uint8_t>& b = c.log->bytes;
    uint32_t size = get32(e + 4), seq = get32(e + 12), binsSize = get32(e + 16);
    uint32_t pages = get32(e + 20);
    std::string entry = "log entry " + std::to_string(seq);
    if (size < kEntryHeader || size % kSector != 0 || size > b.size() - c.at)
        return entry + " is cut short";
    if (get64(e + 32) != marvin32({e, 32}, kHiveLogHashSeed) ||
        get64(e + 24) != marvin32({e + kEntryHeader, size - kEntryHeader}, kHiveLogHashSeed))
        return entry + " has a bad hash";
    if (binsSize == 0 || binsSize % kPage != 0 || binsSize > kMaxBins ||
        pages > (size - kEntryHeader) / 8)
        return entry + " is malformed";
    // Every page must lie in the entry and in the hive as it then was.
    size_t data = kEntryHeader + size_t(pages) * 8;
    for (uint32_t i = 0; i < pages; ++i) {
        const uint8_t* ref = e + kEntryHeader + size_t(i) * 8;
        uint64_t offset = get32(ref), length = get32(ref + 4);
        if (length > size - data || offset + length > binsSize)
            return entry + " refers outside the hive";
        data += length;
    }
    return {};
}

// Where the chain of entries begins. An entry numbered like the hive's
// secondary sequence number continues it directly. Failing that, a log whose
// round began later: Windows starts a log afresh only once the hive holds
// everything logged before, so the numbers in between were reconciled into
// the hive even though its base block was not brought up to date.
bool chooseStart(const PrimaryState& primary, std::vector<Cursor>& cursors, uint32_t& start,
                 std::string& note) {
    uint32_t wanted = primary.sequence2;
    for (Cursor& c : cursors) {
        c.seek(wanted);
        if (c.entry() && c.sequence() == wanted) {
            start = wanted;
            return true;
        }
    }
    bool found = false;
    for (Cursor& c : cursors) {
        c.at = kSector;
        if (!c.entry() || c.sequence() != c.log->sequence || c.sequence() < wanted) continue;
        if (!found || c.sequence() < start) start = c.sequence();
        found = true;
    }
    if (found)
        note = "the hive's base block stood at sequence " + std::to_string(wanted) +
               "; its logs begin at " + std::to_string(start) + ", after a reconcile that " +
               "did not update it";
    return found;
}

}  // namespace

bool planNewFormat(const PrimaryState& primary, std::vector<LogFile>& logs, Plan& plan) {
    std::vector<const LogFile*> usable;
    for (const LogFile& log : logs)
        if (log.isNew()) usable.push_back(&log);
    // LOG1 before LOG2 when both hold the entry wanted next.
    std::stable_sort(usable.begin(), usable.end(), [](auto* a, auto* b) {
        return endsWithNoCase(a->name(), ".LOG1") && !endsWithNoCase(b->name(), ".LOG1");
    });
    uint32_t start = 0;
    std::string startNote;
    std::vector<Cursor> cursors;
    if (primary.baseValid) {
        for (const LogFile* log : usable) cursors.push_back({log});
        if (!chooseStart(primary, cursors, start, startNote)) {
            plan.problem =
                "the hive was not closed cleanly and its logs hold nothing newer than the hive "
                "(sequence " +
                std::to_string(primary.sequence2) + ")";
            return false;
        }
    } else {
        // A broken base block is taken from the log whose round began last;
        // the entries from there on are applied.
        auto latest = std::max_element(usable.begin(), usable.end(),
                                       [](auto* a, auto* b) { return a->sequence < b->sequence; });
        plan.baseBlock = (*latest)->bytes.data();
        start = (*latest)->sequence;
        for (const LogFile* log : usable) cursors.push_back({log});
    }
    for (Cursor& c : cursors) c.seek(start);

    uint32_t expected = start;
    std::string stopped;  // where and why replay ended short of the logs' end
    for (;;) {
        Cursor* at = nullptr;
        uint32_t nextSeen = 0;
        for (Cursor& c : cursors) {
            if (!c.entry()) continue;
            if (c.sequence() == expected) {
                at = &c;
                break;
            }
            if (c.sequence() > expected && (!nextSeen || c.sequence() < nextSeen))
                nextSeen = c.sequence();
        }
        if (!at) {
            if (nextSeen)
                stopped = "log entry " + std::to_string(expected) + " is missing (the next is " +
                          std::to_string(nextSeen) + ")";
            break;
        }
        if (std::string why = checkEntry(*at); !why.empty()) {
            stopped = at->log->name() + ": " + why;
            break;
        }
        const uint8_t* e = at->entry();
        plan.logEntries.push_back(e);
        plan.binsSize = get32(e + 16);
        plan.sequence = expected;
        plan.flags = get32(e + 8);
        ++plan.entries;
        ++expected;
        if (std::find(plan.logsUsed.begin(), plan.logsUsed.end(), at->log->path) ==
            plan.logsUsed.end())
            plan.logsUsed.push_back(at->log->path);
        at->next();
    }
    if (plan.entries == 0) {
        plan.problem = "the hive was not closed cleanly and no log entry continues it";
        if (!stopped.empty()) plan.problem += " (" + stopped + ")";
        return false;
    }
    std::string note = startNote;
    if (!stopped.empty()) note += (note.empty() ? "" : "; ") + ("recovery stopped at " + stopped);
    plan.note = note;
    plan.setFlags = true;
    plan.healBins = true;
    return true;
}

}  // namespace brisko::hive::hivelog
