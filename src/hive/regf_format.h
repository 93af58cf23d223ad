#pragma once
// Layout constants of the regf hive format (version 1.5) and the byte helpers
// the writer fills records with. Offsets are relative to the start of a
// cell's data, i.e. just after its 4-byte size field.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace brisko::hive::regf {

constexpr uint32_t kBaseBlockSize = 4096;
constexpr uint32_t kBinAlign = 4096;
constexpr uint32_t kBinHeaderSize = 32;
constexpr uint32_t kCellAlign = 8;
constexpr uint32_t kNone = 0xFFFFFFFF;  // "no cell" in offset fields

// Base block.
constexpr uint32_t kBaseSequence1 = 4;
constexpr uint32_t kBaseSequence2 = 8;
constexpr uint32_t kBaseTimestamp = 12;
constexpr uint32_t kBaseMajor = 20;
constexpr uint32_t kBaseMinor = 24;
constexpr uint32_t kBaseType = 28;
constexpr uint32_t kBaseFormat = 32;
constexpr uint32_t kBaseRootCell = 36;
constexpr uint32_t kBaseBinsSize = 40;
constexpr uint32_t kBaseClustering = 44;
constexpr uint32_t kBaseFileName = 48;
constexpr uint32_t kBaseFileNameBytes = 64;
constexpr uint32_t kBaseChecksum = 508;
// Fields of Windows Vista and later that a rewrite keeps: resource-manager and
// log GUIDs, flags, the transaction-manager GUID, "rmtm", and the time of the
// last reorganization (Windows 8 and later).
constexpr uint32_t kBaseKeptFrom = 112;
constexpr uint32_t kBaseReorganized = 168;
constexpr uint32_t kBaseKeptTo = 176;

// hbin header.
constexpr uint32_t kBinOffset = 4;
constexpr uint32_t kBinSize = 8;
constexpr uint32_t kBinTimestamp = 20;

// nk (key node).
constexpr uint16_t kKeyHiveEntry = 0x0004;
constexpr uint16_t kKeyNoDelete = 0x0008;
constexpr uint16_t kKeySymLink = 0x0010;
constexpr uint16_t kKeyCompName = 0x0020;
// Flags a rewritten hive keeps: no-delete and the virtualization flags. The
// others describe the layout and are worked out anew.
constexpr uint16_t kKeyKeptFlags = 0xFF88;
constexpr uint32_t kNkFlags = 2;
constexpr uint32_t kNkTimestamp = 4;
constexpr uint32_t kNkParent = 16;
constexpr uint32_t kNkSubkeyCount = 20;
constexpr uint32_t kNkVolatileCount = 24;
constexpr uint32_t kNkSubkeyList = 28;
constexpr uint32_t kNkVolatileList = 32;
constexpr uint32_t kNkValueCount = 36;
constexpr uint32_t kNkValueList = 40;
constexpr uint32_t kNkSecurity = 44;
constexpr uint32_t kNkClass = 48;
constexpr uint32_t kNkMaxNameLen = 52;
constexpr uint32_t kNkMaxClassLen = 56;
constexpr uint32_t kNkMaxValueNameLen = 60;
constexpr uint32_t kNkMaxValueDataLen = 64;
constexpr uint32_t kNkNameLen = 72;
constexpr uint32_t kNkClassLen = 74;
constexpr uint32_t kNkName = 76;

// vk (value).
constexpr uint16_t kValueCompName = 0x0001;
constexpr uint32_t kVkNameLen = 2;
constexpr uint32_t kVkDataSize = 4;
constexpr uint32_t kVkDataOffset = 8;
constexpr uint32_t kVkType = 12;
constexpr uint32_t kVkFlags = 16;
constexpr uint32_t kVkName = 20;
constexpr uint32_t kDataInline = 0x80000000;  // data size flag: data sits in the offset field
constexpr uint32_t kMaxInlineData = 4;
constexpr uint32_t kBigDataSegment = 16344;  // larger data goes into "db" segments of this size

// sk (security).
constexpr uint32_t kSkNext = 4;
constexpr uint32_t kSkPrev = 8;
constexpr uint32_t kSkRefCount = 12;
constexpr uint32_t kSkDescriptorSize = 16;
constexpr uint32_t kSkDescriptor = 20;

// Windows limits, in UTF-16 code units.
constexpr uint32_t kMaxKeyNameChars = 255;
constexpr uint32_t kMaxValueNameChars = 16383;
constexpr uint32_t kMaxDepth = 512;

inline void put16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void put32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}
inline void put64(uint8_t* p, uint64_t v) {
    put32(p, uint32_t(v));
    put32(p + 4, uint32_t(v >> 32));
}
inline uint16_t get16(const uint8_t* p) {
    return uint16_t(p[0] | (p[1] << 8));
}
inline uint32_t get32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

// Upper-cases one UTF-16 code unit the way the registry compares names: the
// simple Unicode mapping for the scripts key names realistically use.
constexpr uint16_t upcaseUnit(uint16_t c) {
    if (c < 0x80) return (c >= 'a' && c <= 'z') ? uint16_t(c - 32) : c;
    if (c < 0x100) {
        if (c == 0xB5) return 0x39C;
        if (c == 0xFF) return 0x178;
        return (c >= 0xE0 && c != 0xF7) ? uint16_t(c - 32) : c;
    }
    if (c < 0x180) {
        if (c == 0x131) return 'I';
        if (c == 0x17F) return 'S';
        bool oddLower = (c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177);
        bool evenLower = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        if ((oddLower && (c & 1)) || (evenLower && !(c & 1))) return uint16_t(c - 1);
        return c;
    }
    if (c >= 0x3B1 && c <= 0x3CB) return c == 0x3C2 ? 0x3A3 : uint16_t(c - 32);
    if (c >= 0x3AC && c <= 0x3AF) return c == 0x3AC ? 0x386 : uint16_t(c - 37);
    if (c >= 0x430 && c <= 0x44F) return uint16_t(c - 32);
    if (c >= 0x450 && c <= 0x45F) return uint16_t(c - 80);
    if (((c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF)) && (c & 1))
        return uint16_t(c - 1);
    if (c >= 0x561 && c <= 0x586) return uint16_t(c - 48);
    if (c >= 0xFF41 && c <= 0xFF5A) return uint16_t(c - 32);
    return c;
}

// upcaseUnit for the units below 0x100, which most names are made of.
inline constexpr auto kUpcaseLatin1 = [] {
    std::array<uint16_t, 256> table{};
    for (uint16_t c = 0; c < 256; ++c) table[c] = upcaseUnit(c);
    return table;
}();

// Adds units to a name's hash (h = h * 37 + upper-cased unit, unit by unit)
// and sort key (upper-cased units, big-endian), four units a step: the
// hash's chain of multiplications is what takes the time.
template <typename UnitAt>
uint32_t hashUnits(size_t n, UnitAt upAt, uint32_t hash, char* key) {
    size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        uint32_t u0 = upAt(i), u1 = upAt(i + 1), u2 = upAt(i + 2), u3 = upAt(i + 3);
        hash = hash * 1874161u + (u0 * 50653u + u1 * 1369u) + (u2 * 37u + u3);
        if (key) {
            char* k = key + 2 * i;
            k[0] = char(u0 >> 8), k[1] = char(u0), k[2] = char(u1 >> 8), k[3] = char(u1);
            k[4] = char(u2 >> 8), k[5] = char(u2), k[6] = char(u3 >> 8), k[7] = char(u3);
        }
    }
    for (; i < n; ++i) {
        uint32_t u = upAt(i);
        hash = hash * 37 + u;
        if (key) {
            key[2 * i] = char(u >> 8);
            key[2 * i + 1] = char(u);
        }
    }
    return hash;
}

// Walks UTF-8 text as UTF-16 code units, decoding exactly as utf8ToUtf16le does so
// that names written into a hive match names converted anywhere else.
struct Utf16Reader {
    const uint8_t* p;
    const uint8_t* end;
    uint16_t low = 0;  // second half of a surrogate pair still to hand out

    explicit Utf16Reader(std::string_view s)
        : p(reinterpret_cast<const uint8_t*>(s.data())), end(p + s.size()) {}

    bool next(uint16_t& u) {
        if (low) {
            u = low;
            low = 0;
            return true;
        }
        if (p >= end) return false;
        uint32_t c = *p, cp = 0xFFFD;
        size_t left = size_t(end - p), len = 1;
        if (c < 0x80) {
            cp = c;
        } else if ((c >> 5) == 6 && left > 1) {
            cp = ((c & 0x1F) << 6) | (p[1] & 0x3F);
            len = 2;
        } else if ((c >> 4) == 14 && left > 2) {
            cp = ((c & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F);
            len = 3;
        } else if ((c >> 3) == 30 && left > 3) {
            cp = ((c & 0x07) << 18) | ((p[1] & 0x3F) << 12) | ((p[2] & 0x3F) << 6) | (p[3] & 0x3F);
            len = 4;
        }
        p += len;
        if (cp > 0x10FFFF) cp = 0xFFFD;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            u = uint16_t(0xD800 | (cp >> 10));
            low = uint16_t(0xDC00 | (cp & 0x3FF));
        } else {
            u = uint16_t(cp);
        }
        return true;
    }
};

struct NameInfo {
    size_t units = 0;    // UTF-16 code units
    bool latin1 = true;  // every unit fits one byte: stored compressed
    bool ascii = true;   // stored exactly as the UTF-8 bytes
    uint32_t hash = 0;   // what subkey indexes ("lh") store for the name
    size_t storedBytes() const { return latin1 ? units : units * 2; }
};

// Measures a name and works out its hash. With sortKey, also appends the
// name's upper-cased UTF-16 units big-endian, so that memcmp on sort keys
// orders names as the registry does.
inline NameInfo measureName(std::string_view s, std::string* sortKey = nullptr) {
    NameInfo info;
    size_t i = 0;
    while (i < s.size() && uint8_t(s[i]) < 0x80) ++i;
    info.units = i;
    char* k = nullptr;
    if (sortKey) {
        size_t at = sortKey->size();
        sortKey->resize(at + 2 * i);
        k = sortKey->data() + at;
    }
    info.hash = hashUnits(
        i, [&](size_t j) { return kUpcaseLatin1[uint8_t(s[j])]; }, 0, k);
    if (i == s.size()) return info;
    info.ascii = false;
    Utf16Reader r(s.substr(i));
    for (uint16_t u; r.next(u); ++info.units) {
        if (u > 0xFF) info.latin1 = false;
        uint16_t up = upcaseUnit(u);
        info.hash = info.hash * 37 + up;
        if (sortKey) {
            sortKey->push_back(char(up >> 8));
            sortKey->push_back(char(up & 0xFF));
        }
    }
    return info;
}

// Writes the name as nk/vk records store it.
inline void writeName(uint8_t* dst, std::string_view s, const NameInfo& info) {
    if (info.ascii) {
        std::memcpy(dst, s.data(), s.size());
        return;
    }
    Utf16Reader r(s);
    for (uint16_t u; r.next(u);) {
        if (info.latin1) {
            *dst++ = uint8_t(u);
        } else {
            put16(dst, u);
            dst += 2;
        }
    }
}

// A name as an nk or vk record stores it: Latin-1 bytes when compressed,
// UTF-16LE units otherwise.
struct StoredName {
    const uint8_t* bytes = nullptr;
    size_t size = 0;
    bool compressed = false;
    size_t units() const { return compressed ? size : size / 2; }
    uint16_t unit(size_t i) const { return compressed ? bytes[i] : get16(bytes + 2 * i); }
};

// measureName for a stored name: the same units, hash and sort key as its
// UTF-8 form would give, without decoding it.
inline NameInfo measureName(const StoredName& s, std::string* sortKey = nullptr) {
    NameInfo info;
    info.units = s.units();
    info.ascii = false;
    char* k = nullptr;
    if (sortKey) {
        size_t at = sortKey->size();
        sortKey->resize(at + 2 * info.units);
        k = sortKey->data() + at;
    }
    if (s.compressed) {
        info.hash = hashUnits(
            info.units, [&](size_t i) { return kUpcaseLatin1[s.bytes[i]]; }, 0, k);
        return info;
    }
    info.hash = hashUnits(
        info.units,
        [&](size_t i) {
            uint16_t u = get16(s.bytes + 2 * i);
            if (u > 0xFF) info.latin1 = false;
            return u < 0x100 ? kUpcaseLatin1[u] : upcaseUnit(u);
        },
        0, k);
    return info;
}

// A stored name's units and whether it fits Latin-1, without its hash and
// sort key (a value name that needs neither).
inline NameInfo measureStoredUnits(const StoredName& s) {
    NameInfo info;
    info.units = s.units();
    info.ascii = false;
    if (!s.compressed)
        for (size_t i = 0; i < info.units && info.latin1; ++i)
            if (get16(s.bytes + 2 * i) > 0xFF) info.latin1 = false;
    return info;
}

// Writes a stored name as nk/vk records store it (compressed where it can be).
inline void writeName(uint8_t* dst, const StoredName& s, const NameInfo& info) {
    if (s.compressed || !info.latin1) {
        std::memcpy(dst, s.bytes, info.storedBytes());
        return;
    }
    for (size_t i = 0; i < info.units; ++i) dst[i] = s.bytes[2 * i];
}

// Orders names as the registry does: by upper-cased UTF-16 code units.
inline int compareNames(std::string_view a, std::string_view b) {
    size_t n = a.size() < b.size() ? a.size() : b.size(), i = 0;
    for (; i < n; ++i) {
        auto ca = uint8_t(a[i]), cb = uint8_t(b[i]);
        if ((ca | cb) & 0x80) break;
        ca = uint8_t(upcaseUnit(ca));
        cb = uint8_t(upcaseUnit(cb));
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    if (i == n) return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
    Utf16Reader ra(a.substr(i)), rb(b.substr(i));
    for (;;) {
        uint16_t ua = 0, ub = 0;
        bool ha = ra.next(ua), hb = rb.next(ub);
        if (!ha || !hb) return ha == hb ? 0 : (ha ? 1 : -1);
        ua = upcaseUnit(ua);
        ub = upcaseUnit(ub);
        if (ua != ub) return ua < ub ? -1 : 1;
    }
}

}  // namespace brisko::hive::regf
