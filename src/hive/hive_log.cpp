// Finding, reading and applying a hive's transaction logs; the two formats'
// rules live in hive_log_new.cpp and hive_log_old.cpp.
#include "hive/hive_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <map>
#include <new>

#include "base/unique_fd.h"
#include "hive/hive_log_plan.h"
#include "hive/regf_format.h"

namespace brisko::hive {

using namespace hivelog;
using regf::get32;
namespace fs = std::filesystem;

uint64_t marvin32(std::span<const uint8_t> data, uint64_t seed) {
    uint32_t lo = uint32_t(seed), hi = uint32_t(seed >> 32);
    auto block = [&] {
        hi ^= lo;
        lo = std::rotl(lo, 20);
        lo += hi;
        hi = std::rotl(hi, 9);
        hi ^= lo;
        lo = std::rotl(lo, 27);
        lo += hi;
        hi = std::rotl(hi, 19);
    };
    const uint8_t* p = data.data();
    size_t n = data.size();
    for (; n >= 4; n -= 4, p += 4) {
        lo += get32(p);
        block();
    }
    uint32_t last = 0x80;
    for (size_t i = n; i > 0; --i) last = (last << 8) | p[i - 1];
    lo += last;
    block();
    block();
    return (uint64_t(hi) << 32) | lo;
}

uint32_t baseBlockChecksum(const uint8_t* b) {
    uint32_t sum = 0;
    for (uint32_t i = 0; i < regf::kBaseChecksum; i += 4) sum ^= get32(b + i);
    if (sum == 0) return 1;
    if (sum == 0xFFFFFFFF) return 0xFFFFFFFE;
    return sum;
}

namespace hivelog {

bool sameNameNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto up = [](char c) { return (c >= 'a' && c <= 'z') ? char(c - 32) : c; };
               return up(x) == up(y);
           });
}

bool endsWithNoCase(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && sameNameNoCase(s.substr(s.size() - suffix.size()), suffix);
}

}  // namespace hivelog

namespace {

bool validBaseBlock(const uint8_t* b, size_t size) {
    return size >= kSector && std::memcmp(b, "regf", 4) == 0 &&
           get32(b + regf::kBaseChecksum) == baseBlockChecksum(b);
}

// Reads a log without following links or blocking on a planted FIFO; only a
// regular file no larger than a hive can be is accepted.
void readLog(LogFile& log) {
    UniqueFd fd(::open(log.path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) {
        log.readError = std::strerror(errno);
        return;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        log.readError = "not a regular file";
        return;
    }
    if (uint64_t(st.st_size) > kMaxHive) {
        log.readError = "too large to be a hive's log";
        return;
    }
    log.bytes.resize(size_t(st.st_size));
    size_t done = 0;
    while (done < log.bytes.size()) {
        ssize_t n =
            ::pread(fd.get(), log.bytes.data() + done, log.bytes.size() - done, off_t(done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            log.readError = std::strerror(errno);
            log.bytes.clear();
            return;
        }
        if (n == 0) break;  // shrank while read: take what is there
        done += size_t(n);
    }
    log.bytes.resize(done);
    const uint8_t* b = log.bytes.data();
    if (!validBaseBlock(b, log.bytes.size())) return;
    log.type = get32(b + regf::kBaseType);
    log.sequence = get32(b + regf::kBaseSequence1);
    log.timestamp = uint64_t(get32(b + regf::kBaseTimestamp)) |
                    (uint64_t(get32(b + regf::kBaseTimestamp + 4)) << 32);
    log.binsSize = get32(b + regf::kBaseBinsSize);
    log.baseValid = log.sequence == get32(b + regf::kBaseSequence2) && log.binsSize % kPage == 0 &&
                    log.binsSize <= kMaxBins;
}

PrimaryState primaryState(std::span<const uint8_t> p) {
    PrimaryState s;
    if (p.size() >= kBaseBlock && validBaseBlock(p.data(), p.size())) {
        s.baseValid = true;
        s.sequence1 = get32(p.data() + regf::kBaseSequence1);
        s.sequence2 = get32(p.data() + regf::kBaseSequence2);
        s.timestamp = uint64_t(get32(p.data() + regf::kBaseTimestamp)) |
                      (uint64_t(get32(p.data() + regf::kBaseTimestamp + 4)) << 32);
        s.haveTimestamp = true;
    } else if (p.size() >= kBaseBlock + regf::kBinHeaderSize &&
               std::memcmp(p.data() + kBaseBlock, "hbin", 4) == 0) {
        // The first bin keeps a copy of the last write time for this case.
        const uint8_t* t = p.data() + kBaseBlock + regf::kBinTimestamp;
        s.timestamp = uint64_t(get32(t)) | (uint64_t(get32(t + 4)) << 32);
        s.haveTimestamp = true;
    }
    return s;
}

// Every sequence number a log holds, so that a later writer can number past
// them all: base blocks, and anything shaped like a log entry at a sector.
uint32_t highestSequence(std::span<const uint8_t> primary, const std::vector<LogFile>& logs) {
    uint32_t high = 0;
    if (primary.size() >= 12 && std::memcmp(primary.data(), "regf", 4) == 0)
        high = std::max({high, get32(primary.data() + 4), get32(primary.data() + 8)});
    for (const LogFile& log : logs) {
        const std::vector<uint8_t>& b = log.bytes;
        if (b.size() < 12 || std::memcmp(b.data(), "regf", 4) != 0) continue;
        high = std::max({high, get32(b.data() + 4), get32(b.data() + 8)});
        for (size_t at = kSector; at + 16 <= b.size(); at += kSector)
            if (std::memcmp(b.data() + at, "HvLE", 4) == 0)
                high = std::max(high, get32(b.data() + at + 12));
    }
    return high;
}

// An empty bin in place of one a log left damaged: one free cell, so that
// the bins after it stay reachable.
void writeEmptyBin(uint8_t* at, uint32_t offset) {
    std::memset(at, 0, kPage);
    std::memcpy(at, "hbin", 4);
    regf::put32(at + regf::kBinOffset, offset);
    regf::put32(at + regf::kBinSize, kPage);
    regf::put32(at + regf::kBinHeaderSize, kPage - regf::kBinHeaderSize);
}

void healDirtyBins(std::vector<uint8_t>& primary, uint32_t binsSize,
                   const std::vector<bool>& dirtyPages) {
    uint8_t* bins = primary.data() + kBaseBlock;
    for (uint64_t pos = 0; pos + kPage <= binsSize;) {
        const uint8_t* h = bins + pos;
        uint32_t size = get32(h + regf::kBinSize);
        bool valid = std::memcmp(h, "hbin", 4) == 0 && get32(h + regf::kBinOffset) == pos &&
                     size >= kPage && size % kPage == 0 && pos + size <= binsSize;
        if (valid) {
            pos += size;
            continue;
        }
        if (!dirtyPages[pos / kPage]) return;  // the hive's own damage: the reader's to report
        writeEmptyBin(bins + pos, uint32_t(pos));
        pos += kPage;
    }
}

// Calls fn(offset, data, size) for every page the plan writes, in order.
template <typename Fn>
void forEachWrite(const Plan& plan, Fn fn) {
    for (const PageWrite& w : plan.writes) fn(w.offset, w.data, w.size);
    for (const uint8_t* e : plan.logEntries) {
        uint32_t pages = get32(e + 20);
        const uint8_t* data = e + 40 + size_t(pages) * 8;
        for (uint32_t i = 0; i < pages; ++i) {
            uint32_t length = get32(e + 44 + size_t(i) * 8);
            fn(uint64_t(get32(e + 40 + size_t(i) * 8)), data, size_t(length));
            data += length;
        }
    }
}

void applyPlan(std::vector<uint8_t>& primary, const Plan& plan) {
    // Everything that can fail (allocation) happens before the first byte changes.
    // An earlier entry may reach past the last one's bins size.
    uint64_t extent = plan.binsSize;
    forEachWrite(plan, [&](uint64_t offset, const uint8_t*, size_t size) {
        extent = std::max<uint64_t>(extent, offset + size);
    });
    size_t need = std::max(primary.size(), size_t(kBaseBlock + extent));
    std::vector<bool> dirtyPages;
    if (plan.healBins) dirtyPages.assign(extent / kPage + 1, false);
    primary.resize(need);

    uint8_t* base = primary.data();
    if (plan.baseBlock) {
        std::memcpy(base, plan.baseBlock, kSector);
        std::memset(base + kSector, 0, kBaseBlock - kSector);
        regf::put32(base + regf::kBaseType, kTypePrimary);
    }
    forEachWrite(plan, [&](uint64_t offset, const uint8_t* data, size_t size) {
        std::memcpy(base + kBaseBlock + offset, data, size);
        if (plan.healBins)
            for (uint64_t p = offset / kPage; p * kPage < offset + size; ++p) dirtyPages[p] = true;
    });
    if (plan.healBins) healDirtyBins(primary, plan.binsSize, dirtyPages);

    regf::put32(base + regf::kBaseSequence1, plan.sequence);
    regf::put32(base + regf::kBaseSequence2, plan.sequence);
    regf::put32(base + regf::kBaseBinsSize, plan.binsSize);
    if (plan.setFlags) regf::put32(base + 144, (get32(base + 144) & ~1u) | (plan.flags & 1u));
    regf::put32(base + regf::kBaseChecksum, baseBlockChecksum(base));
}

}  // namespace

std::vector<fs::path> findHiveLogs(const fs::path& hiveFile) {
    std::vector<fs::path> found;
    try {
        std::string hive = hiveFile.filename().string();
        fs::path dir = hiveFile.parent_path();
        if (dir.empty()) dir = ".";
        // One file per suffix; on a case-sensitive host two spellings could
        // both exist, and the one spelt like the hive wins, else the first.
        std::map<int, fs::path> bySuffix;
        static const char* suffixes[] = {".LOG", ".LOG1", ".LOG2"};
        std::error_code ec;
        for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
            std::string name = it->path().filename().string();
            for (int i = 0; i < 3; ++i) {
                std::string wanted = hive + suffixes[i];
                if (!sameNameNoCase(name, wanted)) continue;
                std::error_code sec;
                if (!it->is_regular_file(sec) || it->is_symlink(sec)) continue;
                auto [at, fresh] = bySuffix.emplace(i, it->path());
                if (!fresh) {
                    std::string kept = at->second.filename().string();
                    bool exact = name.substr(0, hive.size()) == hive;
                    bool keptExact = kept.substr(0, hive.size()) == hive;
                    if ((exact && !keptExact) || (exact == keptExact && name < kept))
                        at->second = it->path();
                }
            }
        }
        for (auto& [i, p] : bySuffix) found.push_back(p);
    } catch (...) {
        found.clear();
    }
    return found;
}

bool hiveNeedsRecovery(std::span<const uint8_t> primary) {
    if (primary.size() < kBaseBlock || !validBaseBlock(primary.data(), primary.size())) return true;
    return get32(primary.data() + regf::kBaseSequence1) !=
           get32(primary.data() + regf::kBaseSequence2);
}

LogReplay replayHiveLogs(std::vector<uint8_t>& primary, const std::vector<fs::path>& logPaths) {
    LogReplay result;
    try {
        result.dirty = hiveNeedsRecovery(primary);
        std::vector<LogFile> logs;
        // Beside a hive there are at most three; more is not a hive's logs.
        size_t count = std::min<size_t>(logPaths.size(), 8);
        logs.reserve(count);
        for (size_t i = 0; i < count; ++i) {
            logs.emplace_back().path = logPaths[i];
            readLog(logs.back());
        }
        result.highestSequence = highestSequence(primary, logs);
        if (!result.dirty) return result;

        PrimaryState state = primaryState(primary);
        Plan plan;
        bool anyNew = std::any_of(logs.begin(), logs.end(), [](auto& l) { return l.isNew(); });
        bool anyOld = std::any_of(logs.begin(), logs.end(), [](auto& l) { return l.isOld(); });
        bool planned = false;
        if (anyNew) {
            planned = planNewFormat(state, logs, plan);
        } else if (anyOld) {
            planned = planOldFormat(primary, state, logs, plan);
        } else if (std::all_of(logs.begin(), logs.end(),
                               [](auto& l) { return l.readError.empty() && l.bytes.empty(); })) {
            result.noLogs = true;
            result.problem = "the hive was not closed cleanly and has no transaction logs";
            return result;
        } else {
            std::string why;
            for (const LogFile& log : logs) {
                if (!why.empty()) why += "; ";
                why += log.name() + ": " +
                       (!log.readError.empty() ? log.readError
                        : log.bytes.empty()    ? std::string("empty")
                                               : std::string("not a valid transaction log"));
            }
            plan.problem = logs.empty()
                               ? "the hive was not closed cleanly and has no transaction logs"
                               : "the hive was not closed cleanly and none of its logs "
                                 "can be used (" +
                                     why + ")";
        }
        result.note = plan.note;
        if (!planned) {
            result.problem = plan.problem.empty() ? "the logs cannot be applied" : plan.problem;
            return result;
        }
        applyPlan(primary, plan);
        result.applied = true;
        result.entries = plan.entries;
        result.logsUsed = plan.logsUsed;
    } catch (const std::bad_alloc&) {
        result.applied = false;
        result.problem = "not enough memory to apply the transaction logs";
    } catch (...) {
        result.applied = false;
        result.problem = "the transaction logs could not be read";
    }
    return result;
}

bool resetHiveLogs(const std::vector<fs::path>& logs, std::string* error) {
    bool ok = true;
    for (const fs::path& p : logs) {
        UniqueFd fd(::open(p.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat st {};
        const char* failure = nullptr;
        if (fd.get() < 0) {
            if (errno == ENOENT) continue;  // nothing there to replay
            failure = std::strerror(errno);
        } else if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
            failure = "not a regular file";
        } else if (st.st_size != 0 && (::ftruncate(fd.get(), 0) != 0 || ::fsync(fd.get()) != 0)) {
            failure = std::strerror(errno);
        }
        if (failure) {
            if (ok && error)
                *error = "cannot reset the transaction log " + p.string() + ": " + failure;
            ok = false;
        }
    }
    return ok;
}

}  // namespace brisko::hive
