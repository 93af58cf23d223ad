#include "support/hive_log_writer.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <fstream>
#include <stdexcept>

// Everything below is written from the published description of the registry
// file and its transaction logs, not from the reader: field offsets, the XOR
// checksum, Marvin32 and its seed are spelt out here, so that a reader that
// got one of them wrong fails these tests.

namespace brisko::test {

namespace {

// Base block fields.
constexpr size_t kSeq1 = 4, kSeq2 = 8, kTimestamp = 12, kFileType = 28, kBinsSize = 40;
constexpr size_t kChecksum = 508;
constexpr size_t kFlags = 144;
// Log entries are sealed with Marvin32 under this seed: the bytes
// 82 EF 4D 88 7A 4E 55 C5 as the description lists them, most significant
// first (checked against logs that Windows 10 wrote).
constexpr uint64_t kLogSeed = 0x82EF4D887A4E55C5ULL;

uint32_t get32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

// Marvin32 as published with the .NET runtime: two 32-bit lanes seeded from
// the low and high word, four bytes mixed in at a time, the tail padded with 0x80.
uint64_t marvin(const uint8_t* p, size_t n, uint64_t seed) {
    uint32_t s0 = uint32_t(seed), s1 = uint32_t(seed >> 32);
    auto mix = [&](uint32_t word) {
        s0 += word;
        s1 ^= s0;
        s0 = std::rotl(s0, 20) + s1;
        s1 = std::rotl(s1, 9) ^ s0;
        s0 = std::rotl(s0, 27) + s1;
        s1 = std::rotl(s1, 19);
    };
    for (; n >= 4; n -= 4, p += 4) mix(get32(p));
    uint32_t last = 0x80;
    for (size_t i = n; i-- > 0;) last = last << 8 | p[i];
    mix(last);
    mix(0);
    return uint64_t(s1) << 32 | s0;
}

// XOR of the base block's first 127 words; 0 and ~0 are never stored.
uint32_t checksum(const uint8_t* b) {
    uint32_t sum = 0;
    for (size_t i = 0; i < kChecksum; i += 4) sum ^= get32(b + i);
    return sum == 0 ? 1 : sum == 0xFFFFFFFF ? 0xFFFFFFFE : sum;
}

constexpr uint32_t kPage = 4096;

uint32_t binsOf(const std::vector<uint8_t>& h) {
    return get32(h.data() + kBinsSize);
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
    uint32_t seq = get32(p.data() + kSeq2);
    put32(p.data() + kSeq1, seq + 1);
    put64(p.data() + kTimestamp, timestamp);
    sealBaseBlock(p);
    return p;
}

// The first sector of a log: the base block as it was in memory.
std::vector<uint8_t> logBaseBlock(const std::vector<uint8_t>& after, uint32_t type, uint32_t seq) {
    std::vector<uint8_t> b(after.begin(), after.begin() + 512);
    put32(b.data() + kFileType, type);
    put32(b.data() + kSeq1, seq);
    put32(b.data() + kSeq2, seq);
    put32(b.data() + kChecksum, checksum(b.data()));
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
    put32(e + 8, get32(after.data() + kFlags) & 1);
    put32(e + 12, seq);
    put32(e + 16, binsSize);
    put32(e + 20, uint32_t(pages.size()));
    uint8_t* data = e + 40 + 8 * pages.size();
    for (size_t i = 0; i < pages.size(); ++i) {
        put32(e + 40 + 8 * i, pages[i]);
        put32(e + 44 + 8 * i, kPage);
        std::memcpy(data + i * kPage, after.data() + 4096 + pages[i], kPage);
    }
    put64(e + 24, marvin(e + 40, size - 40, kLogSeed));
    put64(e + 32, marvin(e, 32, kLogSeed));
    if (damage) e[size - 1] ^= 0x5A;  // a torn write after the hashes were made
}

}  // namespace

void sealBaseBlock(std::vector<uint8_t>& hive) {
    put32(hive.data() + kChecksum, checksum(hive.data()));
}

void breakBaseBlock(std::vector<uint8_t>& hive) {
    put32(hive.data() + kChecksum, checksum(hive.data()) ^ 0x1000);
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

    uint32_t seq = get32(before.data() + kSeq2);
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
        uint32_t first = get32(log1.data() + kSeq1);
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
    uint32_t seq = get32(before.data() + kSeq2) + 1;
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
        seq = entries ? entrySequence[entries - 1] : get32(before.data() + kSeq2);
    }
    put32(h.data() + kSeq1, seq);
    put32(h.data() + kSeq2, seq);
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
