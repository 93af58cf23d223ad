#include "indexdat/index_dat_format.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <unordered_set>

namespace brisko::indexdat {

int64_t MemorySource::readAt(int64_t offset, void* buf, int64_t n) {
    if (offset < 0 || n < 0) return -1;
    if (offset >= length()) return 0;
    int64_t k = std::min<int64_t>(n, length() - offset);
    std::memcpy(buf, bytes_.data() + offset, static_cast<size_t>(k));
    return k;
}

int64_t MemorySource::writeAt(int64_t offset, const void* buf, int64_t n) {
    // Like a file written in place: never longer than it was.
    if (offset < 0 || n < 0 || offset + n > length()) return -1;
    std::memcpy(bytes_.data() + offset, buf, static_cast<size_t>(n));
    return n;
}

const char* recordTypeName(RecordType t) {
    switch (t) {
        case RecordType::Url:
            return "URL";
        case RecordType::Redirect:
            return "REDR";
        case RecordType::Leak:
            return "LEAK";
    }
    return "URL";
}

namespace {

// Reads through a few cached 64 KiB pages, never past `limit`: slots and
// records are small and close together, so a listing costs a few large reads
// instead of one per field.
class PagedReader {
  public:
    PagedReader(ByteSource& file, int64_t limit) : file_(file), limit_(limit) {}

    int64_t limit() const { return limit_; }

    // Copies n bytes at offset; false when any of them lies past the limit or
    // cannot be read.
    bool read(int64_t offset, void* out, int64_t n) {
        if (offset < 0 || n < 0 || offset > limit_ || n > limit_ - offset) return false;
        auto* dst = static_cast<unsigned char*>(out);
        while (n > 0) {
            const Page* p = page(offset / kPage);
            if (!p) return false;
            int64_t at = offset % kPage;
            int64_t k = std::min<int64_t>(n, p->valid - at);
            if (k <= 0) return false;
            std::memcpy(dst, p->data.data() + at, static_cast<size_t>(k));
            dst += k;
            offset += k;
            n -= k;
        }
        return true;
    }

    bool u32(int64_t offset, uint32_t& v) {
        unsigned char b[4];
        if (!read(offset, b, 4)) return false;
        v = getU32(b);
        return true;
    }

    bool u64(int64_t offset, uint64_t& v) {
        uint32_t lo = 0, hi = 0;
        if (!u32(offset, lo) || !u32(offset + 4, hi)) return false;
        v = uint64_t(hi) << 32 | lo;
        return true;
    }

    // The bytes from offset up to the first zero byte, the limit or kMaxAddressLength.
    std::string cString(int64_t offset) {
        std::string s;
        while (offset >= 0 && offset < limit_ && s.size() < kMaxAddressLength) {
            const Page* p = page(offset / kPage);
            if (!p) break;
            int64_t at = offset % kPage;
            int64_t end = std::min<int64_t>(p->valid, limit_ - (offset - at));
            if (at >= end) break;
            const char* from = p->data.data() + at;
            size_t avail = static_cast<size_t>(end - at);
            avail = std::min(avail, kMaxAddressLength - s.size());
            const void* zero = std::memchr(from, 0, avail);
            if (zero) {
                s.append(from, static_cast<const char*>(zero) - from);
                return s;
            }
            s.append(from, avail);
            offset += static_cast<int64_t>(avail);
        }
        return s;
    }

    // After the file was written through the source, cached pages are stale.
    void forget() {
        for (auto& p : pages_) p.number = -1;
    }

  private:
    static constexpr int64_t kPage = 64 * 1024;
    struct Page {
        int64_t number = -1;
        int64_t valid = 0;
        std::string data;
    };

    const Page* page(int64_t number) {
        Page& p = pages_[static_cast<size_t>(number % int64_t(pages_.size()))];
        if (p.number == number) return &p;
        p.data.resize(kPage);
        int64_t got = file_.readAt(number * kPage, p.data.data(), kPage);
        if (got <= 0) {
            p.number = -1;
            return nullptr;
        }
        p.number = number;
        p.valid = got;
        return &p;
    }

    ByteSource& file_;
    int64_t limit_;
    std::array<Page, 8> pages_;
};

// The bound for every offset followed: the recorded size, and never more than
// the file really holds. A recorded size that is zero, negative as a signed
// number or past the file's end is cut to what can be read.
int64_t boundOf(ByteSource& file) {
    int64_t real = file.length();
    if (real < 0) return 0;
    unsigned char b[4];
    if (file.readAt(28, b, 4) != 4) return 0;
    int64_t recorded = static_cast<int32_t>(getU32(b));
    if (recorded <= 0) return 0;
    return std::min(recorded, real);
}

struct Table {
    int64_t offset = 0;
    uint32_t next = 0;
    int64_t slots = 0;  // whole slots that lie inside the bound
};

// Follows the chain one table at a time. A table is followed when its header
// lies inside the bound, after the file header, and its signature is "HASH";
// the walk ends at the first table seen before (a chain that loops) and at a
// zero offset.
class TableChain {
  public:
    explicit TableChain(PagedReader& r) : r_(r) {
        uint32_t first = 0;
        if (r_.u32(32, first)) next_ = first;
    }

    bool next(Table& t) {
        int64_t off = next_;
        // Before 0x4000 lie the header and the allocation bitmap: a table that
        // claims to be there is damage, and blanking it would destroy them.
        if (off < kFirstBlockOffset || off + kHashHeaderSize > r_.limit()) return false;
        if (!seen_.insert(off).second) return false;
        char sig[4];
        uint32_t blocks = 0, next = 0;
        if (!r_.read(off, sig, 4) || std::memcmp(sig, "HASH", 4) != 0) return false;
        if (!r_.u32(off + 4, blocks) || !r_.u32(off + 8, next)) return false;
        t.offset = off;
        t.next = next;
        // The slots follow the 16-byte header and fill the table's blocks.
        int64_t declared = (int64_t(blocks) * kBlockSize - kHashHeaderSize) / kSlotSize;
        int64_t room = (r_.limit() - (off + kHashHeaderSize)) / kSlotSize;
        t.slots = std::max<int64_t>(0, std::min(declared, room));
        next_ = next;
        return true;
    }

  private:
    PagedReader& r_;
    int64_t next_ = 0;
    std::unordered_set<int64_t> seen_;
};

bool emptySlot(uint32_t hashWord) {
    uint8_t state = static_cast<uint8_t>(hashWord);
    return state == 1 || state == 3;
}

// Reads the record at offset; false when it is none of the three kinds, lies
// past the bound or has no address.
bool readRecord(PagedReader& r, int64_t offset, Record& out) {
    char sig[4];
    if (!r.read(offset, sig, 4)) return false;
    if (std::memcmp(sig, "URL ", 4) == 0 || std::memcmp(sig, "LEAK", 4) == 0) {
        out.type = sig[0] == 'U' ? RecordType::Url : RecordType::Leak;
        unsigned char at = 0;
        if (!r.u64(offset + 8, out.modifiedTime) || !r.u64(offset + 16, out.fileTime) ||
            !r.read(offset + 52, &at, 1))
            return false;
        if (at == 0) return false;
        out.url = r.cString(offset + at);
    } else if (std::memcmp(sig, "REDR", 4) == 0) {
        out.type = RecordType::Redirect;
        if (!r.u64(offset + 8, out.fileTime)) return false;
        out.url = r.cString(offset + 16);
    } else {
        return false;
    }
    out.offset = static_cast<uint32_t>(offset);
    return !out.url.empty();
}

}  // namespace

std::vector<Record> listRecords(ByteSource& file, const Progress& progress) {
    std::vector<Record> out;
    PagedReader r(file, boundOf(file));

    // First the slot total, so that progress can be told as a share of it.
    int64_t total = 0;
    {
        TableChain chain(r);
        Table t;
        while (chain.next(t)) total += t.slots;
    }
    int64_t done = 0;
    int shown = -1;
    auto tell = [&](int percent) {
        if (!progress || percent <= shown) return true;
        shown = percent;
        return progress(percent);
    };
    if (!tell(0)) return out;

    TableChain chain(r);
    Table t;
    bool going = true;
    while (going && chain.next(t)) {
        for (int64_t i = 0; i < t.slots; ++i) {
            ++done;
            if (total > 0 && !tell(static_cast<int>(done * 100 / total))) {
                going = false;
                break;
            }
            int64_t slot = t.offset + kHashHeaderSize + i * kSlotSize;
            uint32_t hashWord = 0, recordOffset = 0;
            if (!r.u32(slot, hashWord) || emptySlot(hashWord)) continue;
            if (!r.u32(slot + 4, recordOffset) || recordOffset >= r.limit()) continue;
            Record rec;
            if (!readRecord(r, recordOffset, rec)) continue;
            rec.slotOffset = static_cast<uint32_t>(slot);
            out.push_back(std::move(rec));
        }
    }
    if (going) tell(100);
    return out;
}

bool blankFile(ByteSource& file, int passes, const std::function<uint8_t()>& randomByte) {
    passes = std::clamp(passes, 1, 3);
    bool written = true;
    constexpr int64_t kFill = 4096;
    std::string fill(kFill, '\0');
    for (int pass = 1; pass <= passes; ++pass) {
        const int64_t bound = boundOf(file);
        char value = pass == passes ? 0 : static_cast<char>(randomByte ? randomByte() % 255 : 0);
        std::fill(fill.begin(), fill.end(), value);
        PagedReader r(file, bound);
        TableChain chain(r);
        Table t;
        while (chain.next(t)) {
            int64_t start = t.offset + kHashHeaderSize;
            int64_t end = t.next != 0 ? std::min<int64_t>(t.next, bound) : bound;
            // A write failure is passed over: the rest of the span still gets its fill.
            for (int64_t at = start; at < end; at += kFill) {
                const int64_t n = std::min(kFill, end - at);
                written = file.writeAt(at, fill.data(), n) == n && written;
            }
            // The next table's header is read from the file as it is now.
            r.forget();
        }
    }
    return written && listRecords(file).empty();
}

LocalFile localFileOf(ByteSource& file, uint32_t recordOffset) {
    LocalFile lf;
    PagedReader r(file, boundOf(file));
    char sig[4];
    if (!r.read(recordOffset, sig, 4)) return lf;
    if (std::memcmp(sig, "URL ", 4) != 0 && std::memcmp(sig, "LEAK", 4) != 0) return lf;
    unsigned char folderIndex = 0;
    uint32_t nameOffset = 0, folders = 0;
    if (!r.read(recordOffset + 56, &folderIndex, 1) || !r.u32(recordOffset + 60, nameOffset))
        return lf;
    if (nameOffset == 0 || nameOffset > 0xFFFF) return lf;
    lf.name = r.cString(int64_t(recordOffset) + nameOffset);
    if (r.u32(72, folders) && folderIndex < folders && folderIndex < 32) {
        char name[8];
        if (r.read(76 + 12 * int64_t(folderIndex) + 4, name, 8))
            lf.folder.assign(name, strnlen(name, 8));
    }
    return lf;
}

bool removeRecord(ByteSource& file, const Record& record) {
    const int64_t bound = boundOf(file);
    if (record.offset < kFirstBlockOffset || record.slotOffset < kFirstBlockOffset) return false;
    PagedReader r(file, bound);
    uint32_t hashWord = 0, target = 0, blocks = 0;
    if (!r.u32(record.slotOffset, hashWord) || emptySlot(hashWord)) return false;
    if (!r.u32(record.slotOffset + 4, target) || target != record.offset) return false;
    if (!r.u32(record.offset + 4, blocks)) return false;

    // The slot is marked deleted (low byte 1) first, so that a failure later
    // leaves a record nobody lists rather than a slot that points at zeros.
    unsigned char slot[8];
    putU32(slot, 1);
    putU32(slot + 4, 1);
    if (file.writeAt(record.slotOffset, slot, 8) != 8) return false;

    int64_t size = int64_t(std::max<uint32_t>(blocks, 1)) * kBlockSize;
    size = std::min(size, bound - int64_t(record.offset));
    std::string zeros(static_cast<size_t>(std::max<int64_t>(size, 0)), '\0');
    bool ok = zeros.empty() || file.writeAt(record.offset, zeros.data(), size) == size;

    // Give the blocks back in the allocation bitmap, as far as it covers them.
    if (record.offset >= kFirstBlockOffset) {
        int64_t first = (record.offset - kFirstBlockOffset) / kBlockSize;
        int64_t count = (size + kBlockSize - 1) / kBlockSize;
        int64_t freed = 0;
        for (int64_t b = first; b < first + count; ++b) {
            int64_t at = kBitmapOffset + b / 8;
            if (at >= kFirstBlockOffset) break;
            unsigned char byte = 0;
            if (file.readAt(at, &byte, 1) != 1) break;
            unsigned char bit = static_cast<unsigned char>(1u << (b % 8));
            if (!(byte & bit)) continue;
            byte = static_cast<unsigned char>(byte & ~bit);
            if (file.writeAt(at, &byte, 1) == 1) ++freed;
        }
        unsigned char b4[4];
        if (freed > 0 && file.readAt(40, b4, 4) == 4) {
            uint32_t allocated = getU32(b4);
            putU32(b4, allocated > freed ? allocated - uint32_t(freed) : 0);
            file.writeAt(40, b4, 4);
        }
    }
    return ok;
}

}  // namespace brisko::indexdat
