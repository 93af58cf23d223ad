#include "support/hive_log_writer.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "core/machine/image/hive_log.h"
#include "core/machine/regf_format.h"

namespace brisko::test {

namespace {

using regf::get32;
using regf::put32;

constexpr uint32_t kPage = 4096;

uint32_t binsOf(const std::vector<uint8_t>& h) {
    return get32(h.data() + regf::kBaseBinsSize);
}

void put64(uint8_t* p, uint64_t v) {
    put32(p, uint32_t(v));
    put32(p + 4, uint32_t(v >> 32));
}

// Offsets (in the bins data) of the 4096-byte pages `after` changed or added.
std::vector<uint32_t> changedPages(const std::vector<uint8_t>& before,
                                   const std::vector<uint8_t>& after) {
    std::vector<uint32_t> pages;
    uint32_t had = binsOf(before), has = binsOf(after);
    for (uint32_t off = 0; off < has; off += kPage)
        if (off >= had ||
            std::memcmp(before.data() + 4096 + off, after.data() + 4096 + off, kPage) != 0)
            pages.push_back(off);
    return pages;
}

// The primary as Windows leaves it while changes wait in the logs: the old
// bins, and a base block whose sequence numbers differ.
std::vector<uint8_t> dirtyPrimary(const std::vector<uint8_t>& before, uint64_t timestamp) {
    std::vector<uint8_t> p = before;
    uint32_t seq = get32(p.data() + regf::kBaseSequence2);
    put32(p.data() + regf::kBaseSequence1, seq + 1);
    put64(p.data() + regf::kBaseTimestamp, timestamp);
    sealBaseBlock(p);
    return p;
}

// The first sector of a log: the base block as it was in memory.
std::vector<uint8_t> logBaseBlock(const std::vector<uint8_t>& after, uint32_t type, uint32_t seq) {
    std::vector<uint8_t> b(after.begin(), after.begin() + 512);
    put32(b.data() + regf::kBaseType, type);
    put32(b.data() + regf::kBaseSequence1, seq);
    put32(b.data() + regf::kBaseSequence2, seq);
    put32(b.data() + regf::kBaseChecksum, baseBlockChecksum(b.data()));
    return b;
}

void appendEntry(std::vector<uint8_t>& log, uint32_t seq, uint32_t binsSize,
                 const std::vector<uint32_t>& pages, const std::vector<uint8_t>& after,
                 bool damage) {
    size_t size = 40 + 8 * pages.size() + size_t(kPage) * pages.size();
    size = (size + 511) / 512 * 512;
    size_t at = log.size();
    log.resize(at + size);
    uint8_t* e = log.data() + at;
    std::memcpy(e, "HvLE", 4);
    put32(e + 4, uint32_t(size));
    put32(e + 8, get32(after.data() + 144) & 1);
    put32(e + 12, seq);
    put32(e + 16, binsSize);
    put32(e + 20, uint32_t(pages.size()));
    uint8_t* data = e + 40 + 8 * pages.size();
    for (size_t i = 0; i < pages.size(); ++i) {
        put32(e + 40 + 8 * i, pages[i]);
        put32(e + 44 + 8 * i, kPage);
        std::memcpy(data + i * kPage, after.data() + 4096 + pages[i], kPage);
    }
    put64(e + 24, marvin32({e + 40, size - 40}, kHiveLogHashSeed));
    put64(e + 32, marvin32({e, 32}, kHiveLogHashSeed));
    if (damage) e[size - 1] ^= 0x5A;  // a torn write after the hashes were made
}

}  // namespace

void sealBaseBlock(std::vector<uint8_t>& hive) {
    put32(hive.data() + regf::kBaseChecksum, baseBlockChecksum(hive.data()));
}

void breakBaseBlock(std::vector<uint8_t>& hive) {
    put32(hive.data() + regf::kBaseChecksum, baseBlockChecksum(hive.data()) ^ 0x1000);
}

DirtyHive makeNewFormatLogs(const std::vector<uint8_t>& before, const std::vector<uint8_t>& after,
                            const NewLogOptions& options) {
    DirtyHive d;
    d.before = before;
    d.after = after;
    std::vector<uint32_t> pages = changedPages(before, after);
    d.dirtyPages = pages.size();
    size_t n = std::max<size_t>(options.entries, 1);
    d.entryPages.resize(n);
    for (size_t i = 0; i < pages.size(); ++i)
        d.entryPages[i * n / pages.size()].push_back(pages[i]);

    uint32_t seq = get32(before.data() + regf::kBaseSequence2);
    uint32_t binsSize = binsOf(before);
    std::vector<uint8_t> log1, log2;
    size_t inLog1 = n - std::min(n, options.entriesInLog2);
    for (size_t i = 0; i < n; ++i) {
        std::vector<uint8_t>& log = i < inLog1 ? log1 : log2;
        if (log.empty()) log = logBaseBlock(after, 6, seq);
        if (int(i) == options.gapBeforeEntry) ++seq;
        d.entrySequence.push_back(seq);
        // The hive grows as the entries that reach past its end are written.
        for (uint32_t p : d.entryPages[i]) binsSize = std::max(binsSize, p + kPage);
        if (i == n - 1) binsSize = binsOf(after);
        appendEntry(log, seq, binsSize, d.entryPages[i], after, int(i) == options.badHashEntry);
        ++seq;
    }
    if (options.staleTail && !log1.empty()) {
        uint32_t first = get32(log1.data() + regf::kBaseSequence1);
        appendEntry(log1, first - 7, binsOf(before), {0}, before, false);
    }
    if (options.swapFiles) std::swap(log1, log2);
    d.primary = dirtyPrimary(
        before, uint64_t(get32(before.data() + 12)) | uint64_t(get32(before.data() + 16)) << 32);
    d.logs = {{".LOG1", log1}, {".LOG2", log2}};
    return d;
}

DirtyHive makeOldFormatLog(const std::vector<uint8_t>& before, const std::vector<uint8_t>& after,
                           const std::string& suffix) {
    DirtyHive d;
    d.before = before;
    d.after = after;
    std::vector<uint32_t> pages = changedPages(before, after);
    d.dirtyPages = pages.size();
    uint32_t seq = get32(before.data() + regf::kBaseSequence2) + 1;
    d.recoveredSequence = seq;
    uint64_t timestamp = uint64_t(get32(after.data() + 12)) | uint64_t(get32(after.data() + 16))
                                                                  << 32;

    std::vector<uint8_t> log = logBaseBlock(after, 1, seq);
    uint32_t bits = binsOf(after) / 512;
    std::vector<uint8_t> bitmap((bits + 7) / 8);
    for (uint32_t p : pages) std::memset(bitmap.data() + p / 4096, 0xFF, 1);
    log.insert(log.end(), {'D', 'I', 'R', 'T'});
    log.insert(log.end(), bitmap.begin(), bitmap.end());
    log.resize((log.size() + 511) / 512 * 512);
    for (uint32_t p : pages)
        log.insert(log.end(), after.begin() + 4096 + p, after.begin() + 4096 + p + kPage);
    d.logs = {{suffix, log}};
    d.primary = dirtyPrimary(before, timestamp);
    return d;
}

std::vector<uint8_t> DirtyHive::expected(size_t entries) const {
    std::vector<uint8_t> h;
    uint32_t seq = recoveredSequence;
    if (entries >= entryPages.size()) {
        h = after;
        if (!entrySequence.empty()) seq = entrySequence.back();
    } else {
        // Only for changes that keep the hive's size.
        h = before;
        for (size_t i = 0; i < entries; ++i)
            for (uint32_t p : entryPages[i])
                std::memcpy(h.data() + 4096 + p, after.data() + 4096 + p, kPage);
        seq = entries ? entrySequence[entries - 1] : get32(before.data() + regf::kBaseSequence2);
    }
    put32(h.data() + regf::kBaseSequence1, seq);
    put32(h.data() + regf::kBaseSequence2, seq);
    sealBaseBlock(h);
    return h;
}

void writeDirtyHive(const DirtyHive& hive, const std::filesystem::path& file) {
    auto write = [](const std::filesystem::path& p, const std::vector<uint8_t>& bytes) {
        std::ofstream out(p, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        if (!out) throw std::runtime_error("cannot write " + p.string());
    };
    write(file, hive.primary);
    for (const auto& [suffix, bytes] : hive.logs) write(file.string() + suffix, bytes);
}

}  // namespace brisko::test
