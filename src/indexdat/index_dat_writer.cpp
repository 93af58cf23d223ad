#include "indexdat/index_dat_writer.h"

#include <algorithm>
#include <cstring>

namespace brisko::indexdat {

namespace {

constexpr uint32_t kUrlHeaderSize = 0x68;
// Blocks the bitmap between 0x250 and 0x4000 can describe.
constexpr uint32_t kBitmapBlocks = (kFirstBlockOffset - kBitmapOffset) * 8;

uint32_t roundUp(uint32_t v, uint32_t to) {
    return (v + to - 1) / to * to;
}

std::string recordBytes(const NewRecord& r) {
    std::string b;
    if (r.type == RecordType::Redirect) {
        b.assign(16, '\0');
        std::memcpy(b.data(), "REDR", 4);
        b += r.url;
        b.push_back('\0');
    } else {
        b.assign(kUrlHeaderSize, '\0');
        auto* p = reinterpret_cast<unsigned char*>(b.data());
        std::memcpy(p, r.type == RecordType::Url ? "URL " : "LEAK", 4);
        putU32(p + 8, uint32_t(r.modified));
        putU32(p + 12, uint32_t(r.modified >> 32));
        putU32(p + 16, uint32_t(r.lastAccess));
        putU32(p + 20, uint32_t(r.lastAccess >> 32));
        putU32(p + 32, r.fileSize);
        putU32(p + 52, kUrlHeaderSize);
        p[56] = r.folderIndex;
        p[58] = 0x10;
        p[59] = 0x10;
        b += r.url;
        b.push_back('\0');
        if (!r.fileName.empty()) {
            putU32(reinterpret_cast<unsigned char*>(b.data()) + 60, uint32_t(b.size()));
            b += r.fileName;
            b.push_back('\0');
        }
    }
    uint32_t size = roundUp(uint32_t(b.size()), kBlockSize);
    b.resize(size, '\0');
    putU32(reinterpret_cast<unsigned char*>(b.data()) + 4, size / kBlockSize);
    return b;
}

// A hash word with the low bits the browser uses for the kind of record: 0 for
// an address, 5 for a redirect; never one of the empty states 1 and 3.
uint32_t hashWord(size_t index, RecordType type) {
    uint32_t h = uint32_t(index * 2654435761u) & ~0x3Fu;
    return h | (type == RecordType::Redirect ? 0x05u : 0x00u);
}

}  // namespace

uint64_t fileTimeFromUnix(int64_t seconds) {
    return uint64_t(seconds + 11644473600LL) * 10000000ULL;
}

std::string writeIndexDat(const std::vector<NewRecord>& records, const WriterOptions& options) {
    const uint32_t tableBlocks = std::max<uint32_t>(options.tableBlocks, 1);
    const uint32_t tableSize = tableBlocks * kBlockSize;
    uint32_t perTable = (tableSize - kHashHeaderSize) / kSlotSize;
    if (options.slotsPerTable > 0) perTable = std::min(perTable, options.slotsPerTable);

    // Slot list: every record once, then the records listed a second time.
    struct SlotUse {
        size_t record;
    };
    std::vector<SlotUse> uses;
    for (size_t i = 0; i < records.size(); ++i) uses.push_back({i});
    for (size_t i : options.alsoListed)
        if (i < records.size()) uses.push_back({i});

    std::string file(kFirstBlockOffset, '\0');
    std::vector<uint32_t> recordAt(records.size(), 0);
    std::vector<uint32_t> tables;
    size_t nextUse = 0;
    size_t placed = 0;
    // Each table is followed by the records its slots introduce.
    do {
        uint32_t tableAt = uint32_t(file.size());
        tables.push_back(tableAt);
        file.append(tableSize, '\0');
        auto* t = reinterpret_cast<unsigned char*>(file.data()) + tableAt;
        std::memcpy(t, "HASH", 4);
        putU32(t + 4, tableBlocks);
        putU32(t + 12, uint32_t(tables.size() - 1));
        size_t end = std::min(uses.size(), nextUse + perTable);
        for (size_t k = nextUse; k < end; ++k) {
            size_t ri = uses[k].record;
            if (ri >= placed) {
                for (; placed <= ri; ++placed) {
                    recordAt[placed] = uint32_t(file.size());
                    file += recordBytes(records[placed]);
                }
            }
        }
        t = reinterpret_cast<unsigned char*>(file.data()) + tableAt;
        uint32_t slotCount = (tableSize - kHashHeaderSize) / kSlotSize;
        for (uint32_t s = 0; s < slotCount; ++s) {
            unsigned char* slot = t + kHashHeaderSize + s * kSlotSize;
            size_t k = nextUse + s;
            if (s < perTable && k < end) {
                size_t ri = uses[k].record;
                putU32(slot, hashWord(k, records[ri].type));
                putU32(slot + 4, recordAt[ri]);
            } else {
                putU32(slot, 3);  // free
                putU32(slot + 4, 3);
            }
        }
        nextUse = end;
    } while (nextUse < uses.size());

    for (size_t i = 0; i + 1 < tables.size(); ++i)
        putU32(reinterpret_cast<unsigned char*>(file.data()) + tables[i] + 8, tables[i + 1]);

    // Whole 4 KiB pages, the rest free, as the browser grows its files.
    const uint32_t used = uint32_t(file.size());
    file.resize(roundUp(used, 4096), '\0');
    const uint32_t size = uint32_t(file.size());
    const uint32_t totalBlocks = (size - kFirstBlockOffset) / kBlockSize;
    const uint32_t usedBlocks = (used - kFirstBlockOffset) / kBlockSize;

    auto* h = reinterpret_cast<unsigned char*>(file.data());
    std::memcpy(h, "Client UrlCache MMF Ver 5.2", 28);
    putU32(h + 28, size);
    putU32(h + 32, tables.front());
    putU32(h + 36, std::min(totalBlocks, kBitmapBlocks));
    putU32(h + 40, std::min(usedBlocks, kBitmapBlocks));
    putU32(h + 48, 50u * 1024 * 1024);
    uint64_t cached = 0;
    for (const auto& r : records) cached += r.fileSize;
    putU32(h + 56, uint32_t(std::min<uint64_t>(cached, 0xFFFFFFFFu)));
    const size_t folders = std::min<size_t>(options.cacheFolders.size(), 32);
    putU32(h + 72, uint32_t(folders));
    for (size_t i = 0; i < folders; ++i) {
        unsigned char* e = h + 76 + 12 * i;
        uint32_t count = 0;
        for (const auto& r : records)
            if (!r.fileName.empty() && r.folderIndex == i) ++count;
        putU32(e, count);
        std::memcpy(e + 4, options.cacheFolders[i].data(),
                    std::min<size_t>(8, options.cacheFolders[i].size()));
    }
    for (uint32_t b = 0; b < std::min(usedBlocks, kBitmapBlocks); ++b)
        h[kBitmapOffset + b / 8] |= uint8_t(1u << (b % 8));
    return file;
}

}  // namespace brisko::indexdat
