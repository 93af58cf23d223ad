#pragma once
// The regf writer's sources: what it takes from each key, whether the tree is
// held in memory or read from a sound hive's cells in place. Only the writer
// includes this.
#include <algorithm>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/reg_tree.h"
#include "hive/hive_reader.h"
#include "hive/regf_format.h"
#include "hive/regf_writer.h"

namespace brisko::hive::regf_build {

using namespace regf;

constexpr uint32_t kLeafMax = 500;  // subkeys per "lh" leaf before an "ri" index splits them
constexpr uint64_t kMaxBinsSize = 0x7FFF0000;  // Windows refuses hives of 2 GB and more
constexpr uint32_t kStreamChunk = 1u << 20;    // bytes of done bins handed to the file at once
constexpr uint64_t kMaxDataSize =
    uint64_t(0xFFFF) * kBigDataSegment;  // "db" counts segments in 16 bits

// Owner and group Administrators; DACL: full control to SYSTEM and Administrators,
// read to Users, all inherited by subkeys.
constexpr uint8_t kDefaultSd[] = {
    0x01, 0x00, 0x04, 0x80,  // revision 1, SE_SELF_RELATIVE | SE_DACL_PRESENT
    0x14, 0x00, 0x00, 0x00,  // owner at 20
    0x24, 0x00, 0x00, 0x00,  // group at 36
    0x00, 0x00, 0x00, 0x00,  // no SACL
    0x34, 0x00, 0x00, 0x00,  // DACL at 52
    // S-1-5-32-544 (Administrators), owner then group
    0x01, 0x02, 0, 0, 0, 0, 0, 5, 0x20, 0, 0, 0, 0x20, 0x02, 0, 0,  //
    0x01, 0x02, 0, 0, 0, 0, 0, 5, 0x20, 0, 0, 0, 0x20, 0x02, 0, 0,  //
    // ACL revision 2, 76 bytes, 3 ACEs
    0x02, 0x00, 0x4C, 0x00, 0x03, 0x00, 0x00, 0x00,
    // ACCESS_ALLOWED, CONTAINER_INHERIT, KEY_ALL_ACCESS, S-1-5-18 (SYSTEM)
    0x00, 0x02, 0x14, 0x00, 0x3F, 0x00, 0x0F, 0x00, 0x01, 0x01, 0, 0, 0, 0, 0, 5, 0x12, 0, 0, 0,
    // ACCESS_ALLOWED, CONTAINER_INHERIT, KEY_ALL_ACCESS, Administrators
    0x00, 0x02, 0x18, 0x00, 0x3F, 0x00, 0x0F, 0x00, 0x01, 0x02, 0, 0, 0, 0, 0, 5, 0x20, 0, 0, 0,
    0x20, 0x02, 0, 0,
    // ACCESS_ALLOWED, CONTAINER_INHERIT, KEY_READ, S-1-5-32-545 (Users)
    0x00, 0x02, 0x18, 0x00, 0x19, 0x00, 0x02, 0x00, 0x01, 0x02, 0, 0, 0, 0, 0, 5, 0x20, 0, 0, 0,
    0x21, 0x02, 0, 0};
static_assert(sizeof(kDefaultSd) == 128);

// A plausible self-relative SECURITY_DESCRIPTOR: every part it points to lies inside it.
inline bool validDescriptor(std::span<const uint8_t> sd) {
    if (sd.size() < 20 || sd[0] != 1 || !(get16(&sd[2]) & 0x8000)) return false;
    auto sidOk = [&](uint32_t off) {
        if (off == 0) return true;
        if (off < 20 || uint64_t(off) + 8 > sd.size() || sd[off] != 1 || sd[off + 1] > 15)
            return false;
        return uint64_t(off) + 8 + 4u * sd[off + 1] <= sd.size();
    };
    auto aclOk = [&](uint32_t off) {
        if (off == 0) return true;
        if (off < 20 || uint64_t(off) + 8 > sd.size()) return false;
        uint16_t aclSize = get16(&sd[off + 2]);
        return aclSize >= 8 && uint64_t(off) + aclSize <= sd.size();
    };
    return sidOk(get32(&sd[4])) && sidOk(get32(&sd[8])) && aclOk(get32(&sd[12])) &&
           aclOk(get32(&sd[16]));
}

// What the builder takes from each key, whatever holds the tree. The views
// stay valid while the key is written (its name until its subtree is done).
struct KeyData {
    std::string_view name, className;
    StoredName stored;  // the name as a hive stores it, used instead of `name` when set
    int64_t lastWrite = 0;
    uint16_t flags = 0;
    std::span<const uint8_t> security;  // empty: the default descriptor
    size_t values = 0;
    bool timeAsRead = false;  // lastWrite as a hive held it, 0 included (else 0 means now)
    uint16_t userFlags = 0;   // virtualization, Wow64 and debug bits, kept as read
};
struct ValueData {
    std::string_view name;
    StoredName stored;
    uint32_t type = 0;
    std::span<const uint8_t> data;
};

template <typename T>
void prefetchObject(const T* object) {
    for (size_t line = 0; line < sizeof(T); line += 64)
        __builtin_prefetch(reinterpret_cast<const char*>(object) + line);
}

// A key tree in memory.
class TreeSource {
  public:
    using Key = const RegTreeKey*;
    TreeSource() : kids_(kMaxDepth + 2) {}

    bool key(Key k, uint32_t, KeyData& out, std::string&) {
        out = {k->name,          k->className,  {},
               k->lastWrite,     k->flags,      k->securityDescriptor,
               k->values.size(), k->timeAsRead, k->userFlags};
        for (size_t i = 0; i < std::min<size_t>(out.values, 4); ++i) prefetchObject(&k->values[i]);
        return true;
    }
    bool value(Key k, size_t i, ValueData& out, std::string&) {
        size_t n = k->values.size();
        if (i + 4 < n) prefetchObject(&k->values[i + 4]);
        if (i + 2 < n) {
            __builtin_prefetch(k->values[i + 2].name.data());
            __builtin_prefetch(k->values[i + 2].data.data());
        }
        const RegValue& v = k->values[i];
        out = {v.name, {}, v.type, v.data};
        return true;
    }
    bool children(Key k, uint32_t depth, std::span<const Key>& out, std::string&) {
        auto& list = kids_[depth];
        list.clear();
        for (const auto& c : k->subkeys) list.push_back(c.get());
        out = list;
        return true;
    }
    void prefetchChild(std::span<const Key> kids, size_t i) {
        if (i + 1 < kids.size()) {
            __builtin_prefetch(kids[i + 1]->name.data());
            __builtin_prefetch(kids[i + 1]->values.data());
            __builtin_prefetch(kids[i + 1]->subkeys.data());
        }
        if (i + 3 < kids.size()) prefetchObject(kids[i + 3]);
    }
    std::string nameOf(Key k) { return k->name; }
    std::string valueNameOf(Key k, size_t i) { return k->values[i].name; }

  private:
    std::vector<std::vector<Key>> kids_;  // one scratch list per depth
};

// The cells of a sound hive, read in place: a compact copy without building
// the tree in memory first. Anything that cannot be read fails the copy.
class CellSource {
  public:
    using Key = uint32_t;
    explicit CellSource(const HiveReader& reader)
        : r_(reader), path_(kMaxDepth + 2), kids_(kMaxDepth + 2) {}

    bool key(Key k, uint32_t depth, KeyData& out, std::string& error) {
        const uint8_t* nk = r_.key(k);
        if (!nk) return report(error, "the key cannot be read");
        // Checked here rather than when its parent's list is read, so that
        // every key cell is visited once, in order.
        if (depth > 0 && HiveReader::parentOf(nk) != path_[depth - 1])
            return report(error, "it is listed by a key that is not its parent");
        path_[depth] = k;
        // The subkey list is wanted once the values are written: fetched meanwhile.
        r_.prefetch(get32(nk + kNkSubkeyList));
        r_.prefetch(get32(nk + kNkValueList));
        if (!r_.className(nk, className_)) return report(error, "its class name cannot be read");
        auto sd = r_.security(get32(nk + kNkSecurity));
        if (sd.empty()) return report(error, "its security descriptor cannot be read");
        uint32_t count = 0;
        valueList_ = r_.valueList(nk, count);
        valueKey_ = k;
        valueCount_ = count;
        if (!valueList_ && count) return report(error, "its value list cannot be read");
        if (count) {
            r_.prefetchValues(valueList_, count);
            if (const uint8_t* first = r_.value(get32(valueList_))) r_.prefetchData(first);
        }
        out = {{},
               className_,
               HiveReader::storedKeyName(nk),
               HiveReader::lastWrite(nk),
               HiveReader::flags(nk),
               sd,
               count,
               true,
               HiveReader::userFlags(nk)};
        return true;
    }
    bool value(Key k, size_t i, ValueData& out, std::string& error) {
        const uint8_t* vk = valueCell(k, i);
        if (!vk) return report(error, "a value cannot be read");
        // The next value's data is fetched while this one is written.
        if (const uint8_t* next = i + 1 < valueCount_ ? valueCell(k, i + 1) : nullptr)
            r_.prefetchData(next);
        if (!r_.valueBytes(vk, out.data, bigData_))
            return report(error, "the data of value \"" + valueNameOf(k, i) + "\" cannot be read");
        out.stored = HiveReader::storedValueName(vk);
        out.type = HiveReader::valueType(vk);
        return true;
    }
    bool children(Key k, uint32_t depth, std::span<const Key>& out, std::string& error) {
        auto& list = kids_[depth];
        list.clear();
        out = {};
        const uint8_t* nk = r_.key(k);
        if (!nk) return report(error, "the key cannot be read");
        uint32_t count = HiveReader::subkeyCount(nk);
        if (count == 0) return true;
        bool listed = r_.forEachSubkey(get32(nk + kNkSubkeyList),
                                       [&](uint32_t child) { list.push_back(child); });
        if (!listed || list.size() != count) return report(error, "its subkey list cannot be read");
        out = list;
        r_.prefetch(list[0]);
        return true;
    }
    void prefetchChild(std::span<const Key> kids, size_t i) {
        if (i + 1 < kids.size()) r_.prefetch(kids[i + 1]);
    }
    std::string nameOf(Key k) {
        std::string name;
        if (const uint8_t* nk = r_.key(k)) HiveReader::keyName(nk, name);
        return name;
    }
    std::string valueNameOf(Key k, size_t i) {
        std::string name;
        if (const uint8_t* vk = valueCell(k, i)) HiveReader::valueName(vk, name);
        return name;
    }

  private:
    static bool report(std::string& error, std::string message) {
        error = std::move(message);
        return false;
    }
    const uint8_t* valueCell(Key k, size_t i) {
        if (k != valueKey_) {
            const uint8_t* nk = r_.key(k);
            uint32_t count = 0;
            valueList_ = nk ? r_.valueList(nk, count) : nullptr;
            valueKey_ = k;
            valueCount_ = count;
        }
        // key() checked the list holds every value the key counts.
        if (!valueList_) return nullptr;
        return r_.value(get32(valueList_ + 4 * i));
    }

    const HiveReader& r_;
    std::vector<Key> path_;  // the key being written at each depth
    std::string className_;
    std::vector<uint8_t> bigData_;
    std::vector<std::vector<Key>> kids_;
    Key valueKey_ = kNone;  // the key whose value list is at hand
    const uint8_t* valueList_ = nullptr;
    uint32_t valueCount_ = 0;
};

// The base block to keep fields of, when it is one of a version we write.
inline std::span<const uint8_t> keptBaseBlock(const std::vector<uint8_t>& b) {
    if (b.size() < kBaseChecksum || get32(b.data() + kBaseMajor) != 1) return {};
    uint32_t minor = get32(b.data() + kBaseMinor);
    return minor >= 2 && minor <= 6 ? std::span<const uint8_t>(b) : std::span<const uint8_t>();
}

// What the base block of a hive being written records.
struct BaseBlockFields {
    uint32_t rootCell, binsSize, sequence, minor;
    int64_t time, reorganized;
    std::span<const uint8_t> keep;  // the base block whose fields are kept; empty: none
    std::string_view embeddedName;
};

inline void writeBaseBlock(uint8_t* b, const BaseBlockFields& f) {
    std::memcpy(b, "regf", 4);
    put32(b + kBaseSequence1, f.sequence);
    put32(b + kBaseSequence2, f.sequence);
    put64(b + kBaseTimestamp, uint64_t(f.time));
    put32(b + kBaseMajor, 1);
    put32(b + kBaseMinor, f.minor);
    put32(b + kBaseType, 0);
    put32(b + kBaseFormat, 1);
    put32(b + kBaseRootCell, f.rootCell);
    put32(b + kBaseBinsSize, f.binsSize);
    put32(b + kBaseClustering, 1);
    if (!f.keep.empty()) {
        put32(b + kBaseClustering, get32(f.keep.data() + kBaseClustering));
        std::memcpy(b + kBaseKeptFrom, f.keep.data() + kBaseKeptFrom, kBaseKeptTo - kBaseKeptFrom);
    }
    if (f.reorganized) put64(b + kBaseReorganized, uint64_t(f.reorganized));
    // Like Windows, keep the tail of a long path: 31 characters and a NUL.
    std::vector<uint16_t> units;
    Utf16Reader r(f.embeddedName);
    for (uint16_t u; r.next(u);) units.push_back(u);
    size_t first = units.size() > 31 ? units.size() - 31 : 0;
    for (size_t i = first; i < units.size(); ++i)
        put16(b + kBaseFileName + 2 * (i - first), units[i]);
    uint32_t sum = 0;
    for (uint32_t i = 0; i < kBaseChecksum; i += 4) sum ^= get32(b + i);
    if (sum == 0) sum = 1;
    if (sum == 0xFFFFFFFF) sum = 0xFFFFFFFE;
    put32(b + kBaseChecksum, sum);
}

// A name's place in a sort-key arena, with its first eight units inline so
// that most comparisons need not look further.
struct SortName {
    uint64_t high = 0, low = 0;
    uint32_t offset = 0, bytes = 0;

    static SortName at(const std::string& arena, size_t offset) {
        SortName n{0, 0, uint32_t(offset), uint32_t(arena.size() - offset)};
        for (uint32_t i = 0; i < std::min<uint32_t>(n.bytes, 16); ++i) {
            uint64_t byte = uint8_t(arena[offset + i]);
            (i < 8 ? n.high : n.low) |= byte << (56 - 8 * (i % 8));
        }
        return n;
    }
    int compare(const SortName& other, const std::string& arena) const {
        if (high != other.high) return high < other.high ? -1 : 1;
        if (low != other.low) return low < other.low ? -1 : 1;
        int c = std::memcmp(arena.data() + offset, arena.data() + other.offset,
                            std::min(bytes, other.bytes));
        if (c) return c;
        return bytes < other.bytes ? -1 : (bytes > other.bytes ? 1 : 0);
    }
};

// What the builder keeps of the keys and values it wrote.
// An sk cell, kept whole beside the output: its links and count change
// until the end, long after the bins around it went to the file.
struct Security {
    uint32_t cell;
    uint32_t refs;
    std::vector<uint8_t> bytes;  // the cell, its size first
};
struct ValueSlot {
    SortName sort;
    size_t index;
};
struct KeyMaxima {  // the nk fields that sum up a key's subkeys and values
    uint32_t name = 0, className = 0, valueName = 0, valueData = 0;
    bool symLink = false;
};

// The first four characters of a stored name as an "lf" leaf keeps them:
// as ASCII, zero-padded; a first byte of 0 when one of them is no ASCII.
inline uint32_t nameHint(const uint8_t* stored, const NameInfo& name) {
    uint8_t hint[4] = {};
    size_t n = std::min<size_t>(name.units, 4);
    for (size_t i = 0; i < n; ++i) {
        uint16_t unit = name.latin1 ? stored[i] : get16(stored + 2 * i);
        if (unit >= 0x80) return 0;
        hint[i] = uint8_t(unit);
    }
    return get32(hint);
}
inline bool report(std::string& error, std::string message) {
    error = std::move(message);
    return false;
}
inline bool hasBackslash(const StoredName& name) {
    for (size_t i = 0; i < name.units(); ++i)
        if (name.unit(i) == '\\') return true;
    return false;
}

// Sorts unless already in order; returns the second of two equal names or null.
template <typename Slot>
const Slot* sortFindDuplicate(std::span<Slot> slots, const std::string& arena) {
    auto cmp = [&](const Slot& a, const Slot& b) { return a.sort.compare(b.sort, arena); };
    bool sorted = true;
    for (size_t i = 1; i < slots.size() && sorted; ++i) sorted = cmp(slots[i - 1], slots[i]) < 0;
    if (sorted) return nullptr;
    std::sort(slots.begin(), slots.end(),
              [&](const Slot& a, const Slot& b) { return cmp(a, b) < 0; });
    for (size_t i = 1; i < slots.size(); ++i)
        if (cmp(slots[i - 1], slots[i]) == 0) return &slots[i];
    return nullptr;
}

}  // namespace brisko::hive::regf_build
