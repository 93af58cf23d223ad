#pragma once
// Reads the records of a regf hive straight from its bytes (a mapped file, or
// a buffer the transaction logs were replayed into). Every cell is checked as
// it is followed: inside the hive bins, allocated, large enough for what is
// read from it, carrying the expected signature. Offsets are cell offsets as
// the hive stores them, relative to the first hive bin.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "hive/regf_format.h"

namespace brisko::hive {

class HiveReader {
  public:
    // `file` is the whole hive, base block first; it must outlive the reader.
    void reset(std::span<const uint8_t> file);
    std::span<const uint8_t> file() const { return file_; }
    // Bytes of hive bins that can be read: what the base block claims, cut
    // to what the file holds.
    uint32_t binsSize() const { return binsSize_; }
    uint32_t minorVersion() const { return minor_; }

    // The data of the allocated cell at `off`, when it holds at least `need`
    // bytes; its usable size in `avail`. Null for anything else.
    const uint8_t* cell(uint32_t off, uint64_t need, uint32_t* avail = nullptr) const {
        if (off & (regf::kCellAlign - 1) || uint64_t(off) + 4 > binsSize_) return nullptr;
        const uint8_t* p = bins_ + off;
        auto raw = int32_t(regf::get32(p));
        if (raw >= 0) return nullptr;  // a free cell
        uint64_t size = uint64_t(-int64_t(raw));
        if (size < 4 + need || off + size > binsSize_) return nullptr;
        if (avail) *avail = uint32_t(size - 4);
        return p + 4;
    }
    // Asks the processor to fetch the cell at `off` ahead of its use.
    void prefetch(uint32_t off) const {
        if (off < binsSize_) __builtin_prefetch(bins_ + off);
    }
    // The same for the cells of the values in a value list (of `count`
    // entries), and for the data of a value.
    void prefetchValues(const uint8_t* list, uint32_t count) const {
        for (uint32_t i = 0; i < count && i < 16; ++i) prefetch(regf::get32(list + 4 * i));
    }
    void prefetchData(const uint8_t* vk) const {
        uint32_t raw = regf::get32(vk + regf::kVkDataSize);
        if (!(raw & regf::kDataInline) && raw) prefetch(regf::get32(vk + regf::kVkDataOffset));
    }
    // A key node ("nk") with its whole name inside the cell.
    const uint8_t* key(uint32_t off) const {
        uint32_t avail = 0;
        const uint8_t* nk = cell(off, regf::kNkName, &avail);
        if (!nk || nk[0] != 'n' || nk[1] != 'k') return nullptr;
        if (regf::kNkName + uint32_t(regf::get16(nk + regf::kNkNameLen)) > avail) return nullptr;
        return nk;
    }
    // A value ("vk") with its whole name inside the cell.
    const uint8_t* value(uint32_t off) const {
        uint32_t avail = 0;
        const uint8_t* vk = cell(off, regf::kVkName, &avail);
        if (!vk || vk[0] != 'v' || vk[1] != 'k') return nullptr;
        if (regf::kVkName + uint32_t(regf::get16(vk + regf::kVkNameLen)) > avail) return nullptr;
        return vk;
    }

    static uint32_t subkeyCount(const uint8_t* nk) {
        return regf::get32(nk + regf::kNkSubkeyCount);
    }
    static uint32_t parentOf(const uint8_t* nk) { return regf::get32(nk + regf::kNkParent); }
    static int64_t lastWrite(const uint8_t* nk) {
        return int64_t(uint64_t(regf::get32(nk + regf::kNkTimestamp)) |
                       uint64_t(regf::get32(nk + regf::kNkTimestamp + 4)) << 32);
    }
    static uint16_t flags(const uint8_t* nk) { return regf::get16(nk + regf::kNkFlags); }
    // The upper half of the largest-subkey-name field: virtualization control,
    // user (Wow64) and debug bits.
    static uint16_t userFlags(const uint8_t* nk) {
        return regf::get16(nk + regf::kNkMaxNameLen + 2);
    }
    // Names as the records store them, and decoded to UTF-8 (replacing what
    // is in `out`).
    static regf::StoredName storedKeyName(const uint8_t* nk) {
        return {nk + regf::kNkName, regf::get16(nk + regf::kNkNameLen),
                bool(flags(nk) & regf::kKeyCompName)};
    }
    static regf::StoredName storedValueName(const uint8_t* vk) {
        return {vk + regf::kVkName, regf::get16(vk + regf::kVkNameLen),
                bool(regf::get16(vk + regf::kVkFlags) & regf::kValueCompName)};
    }
    static void keyName(const uint8_t* nk, std::string& out);
    static void valueName(const uint8_t* vk, std::string& out);
    static uint32_t valueType(const uint8_t* vk) { return regf::get32(vk + regf::kVkType); }
    static uint32_t valueSize(const uint8_t* vk) {
        return regf::get32(vk + regf::kVkDataSize) & ~regf::kDataInline;
    }

    // Every entry of a subkey list (li, lf, lh, or an ri over those), in
    // stored order. False when a list cell is damaged; entries before the
    // damage have been passed on.
    template <typename F>
    bool forEachSubkey(uint32_t listOff, F&& f) const {
        return walkList(listOff, f, 0);
    }
    // The value list of a key: `count` offsets, or null when it is damaged.
    const uint8_t* valueList(const uint8_t* nk, uint32_t& count) const {
        count = regf::get32(nk + regf::kNkValueCount);
        if (count == 0) return nullptr;
        return cell(regf::get32(nk + regf::kNkValueList), 4ull * count);
    }
    // The value's data; false when its cells are damaged.
    bool valueData(const uint8_t* vk, std::vector<uint8_t>& out) const;
    // The value's data where it lies when it is in one piece (inline or one
    // cell); data in "db" segments is gathered into `scratch`. False when damaged.
    bool valueBytes(const uint8_t* vk, std::span<const uint8_t>& out,
                    std::vector<uint8_t>& scratch) const;
    // Whether the value's data can be read, without reading it.
    bool valueDataSound(const uint8_t* vk) const;
    // The self-relative descriptor an "sk" cell holds; empty when damaged.
    std::span<const uint8_t> security(uint32_t off) const;
    // The class name; false when the key has one that cannot be read.
    bool className(const uint8_t* nk, std::string& out) const;

  private:
    template <typename F>
    bool walkList(uint32_t off, F& f, int depth) const {
        uint32_t avail = 0;
        const uint8_t* l = cell(off, 4, &avail);
        if (!l) return false;
        uint32_t n = regf::get16(l + 2);
        char a = char(l[0]), b = char(l[1]);
        if ((a == 'l' && (b == 'f' || b == 'h')) || (a == 'l' && b == 'i')) {
            uint32_t stride = b == 'i' ? 4 : 8;
            if (4 + uint64_t(n) * stride > avail) return false;
            for (uint32_t i = 0; i < n; ++i) f(regf::get32(l + 4 + i * stride));
            return true;
        }
        // An index root holds leaves only; one above another is not a hive Windows wrote.
        if (a != 'r' || b != 'i' || depth > 0 || 4 + uint64_t(n) * 4 > avail) return false;
        bool ok = true;
        for (uint32_t i = 0; i < n; ++i) ok = walkList(regf::get32(l + 4 + i * 4), f, 1) && ok;
        return ok;
    }

    std::span<const uint8_t> file_;
    const uint8_t* bins_ = nullptr;
    uint32_t binsSize_ = 0;
    uint32_t minor_ = 0;
};

}  // namespace brisko::hive
