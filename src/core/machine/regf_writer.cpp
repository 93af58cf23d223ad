#include "core/machine/regf_writer.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "core/machine/regf_format.h"

namespace brisko {
namespace {

using namespace regf;

constexpr uint32_t kLeafMax = 500;  // subkeys per "lh" leaf before an "ri" index splits them
constexpr uint64_t kMaxBinsSize = 0x7FFF0000;  // Windows refuses hives of 2 GB and more
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

int64_t nowFiletime() {
    using namespace std::chrono;
    auto since1970 = duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
    return since1970 / 100 + 116444736000000000LL;
}

// A plausible self-relative SECURITY_DESCRIPTOR: every part it points to lies inside it.
bool validDescriptor(const std::vector<uint8_t>& sd) {
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

// Output bytes in anonymous memory: fresh pages are already zero, growing
// remaps pages instead of copying them, and huge pages keep page faults few.
class HiveBuffer {
  public:
    HiveBuffer() = default;
    ~HiveBuffer() {
        if (data_) ::munmap(data_, capacity_);
    }
    HiveBuffer(const HiveBuffer&) = delete;
    HiveBuffer& operator=(const HiveBuffer&) = delete;

    // Appends n zero bytes.
    bool extend(size_t n) {
        if (size_ + n > capacity_) {
            size_t cap = std::max({size_ + n, capacity_ * 2, size_t(64) << 20});
            cap = (cap + kHugePage - 1) & ~(kHugePage - 1);
            void* p = data_ ? ::mremap(data_, capacity_, cap, MREMAP_MAYMOVE)
                            : ::mmap(nullptr, cap, PROT_READ | PROT_WRITE,
                                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
            if (p == MAP_FAILED) return false;
            ::madvise(p, cap, MADV_HUGEPAGE);
            data_ = static_cast<uint8_t*>(p);
            capacity_ = cap;
        }
        size_ += n;  // nothing beyond size_ was ever written: still zero
        return true;
    }
    uint8_t* data() { return data_; }
    size_t size() const { return size_; }

  private:
    static constexpr size_t kHugePage = size_t(2) << 20;
    uint8_t* data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

class HiveBuilder {
  public:
    HiveBuilder(HiveBuffer& out, const RegfWriteOptions& options)
        : out_(out),
          defaultTime_(options.timestamp ? options.timestamp : nowFiletime()),
          embeddedName_(options.embeddedName),
          slots_(kMaxDepth + 2) {}

    bool build(const RegTreeKey& root, std::string& error) {
        if (!out_.extend(kBaseBlockSize)) return fail(error, "out of memory");
        uint32_t hash = 0;
        uint32_t rootCell = writeKey(root, kNone, 0, hash);
        if (rootCell == kNone) return fail(error, error_);
        closeTail(cur_, curEnd_);
        for (const auto& sk : sks_) put32(data(sk.cell) + kSkRefCount, sk.refs);
        writeBaseBlock(rootCell);
        return true;
    }

  private:
    struct Security {
        uint32_t cell;
        uint32_t refs;
    };
    struct Slot {  // a subkey and the prefix it sorts by
        uint64_t high, low;
        const RegTreeKey* key;
    };

    static bool fail(std::string& error, std::string message) {
        error = std::move(message);
        return false;
    }
    uint32_t failKey(std::string message) {
        std::string path;
        for (size_t i = 1; i < stack_.size(); ++i) path += (i > 1 ? "\\" : "") + stack_[i]->name;
        error_ = message + (path.empty() ? " (root key)" : " (key \"" + path + "\")");
        return kNone;
    }

    uint32_t tooLarge() {
        return failKey(outOfMemory_ ? "out of memory" : "hive would grow beyond 2 GB");
    }

    uint8_t* cellAt(uint32_t off) { return out_.data() + kBaseBlockSize + off; }
    uint8_t* data(uint32_t off) { return cellAt(off) + 4; }

    void closeTail(uint32_t begin, uint32_t end) {
        if (end > begin) put32(cellAt(begin), end - begin);  // one free cell: positive size
    }

    // Allocates a cell for `bytes` of data; returns its offset or kNone when the
    // hive would grow too large.
    uint32_t alloc(uint64_t bytes) {
        uint64_t size = (bytes + 4 + kCellAlign - 1) & ~uint64_t(kCellAlign - 1);
        if (size > curEnd_ - cur_) {
            uint64_t binSize = (size + kBinHeaderSize + kBinAlign - 1) & ~uint64_t(kBinAlign - 1);
            if (binsEnd_ + binSize > kMaxBinsSize) return kNone;
            if (!out_.extend(binSize)) {
                outOfMemory_ = true;
                return kNone;
            }
            uint32_t bin = binsEnd_;
            binsEnd_ += uint32_t(binSize);
            uint8_t* h = cellAt(bin);
            std::memcpy(h, "hbin", 4);
            put32(h + kBinOffset, bin);
            put32(h + kBinSize, uint32_t(binSize));
            if (bin == 0) put64(h + kBinTimestamp, uint64_t(defaultTime_));
            uint32_t cell = bin + kBinHeaderSize;
            // Small cells keep going to whichever bin has more room left.
            if (binsEnd_ - (cell + size) > curEnd_ - cur_) {
                closeTail(cur_, curEnd_);
                cur_ = cell;
                curEnd_ = binsEnd_;
            } else {
                put32(cellAt(cell), uint32_t(-int32_t(size)));
                closeTail(cell + uint32_t(size), binsEnd_);
                return cell;
            }
        }
        uint32_t cell = cur_;
        cur_ += uint32_t(size);
        put32(cellAt(cell), uint32_t(-int32_t(size)));
        return cell;
    }

    uint32_t securityCell(const std::vector<uint8_t>& sd) {
        if (sd.empty() && defaultSk_ != SIZE_MAX) {
            ++sks_[defaultSk_].refs;
            return sks_[defaultSk_].cell;
        }
        std::string_view bytes =
            sd.empty()
                ? std::string_view(reinterpret_cast<const char*>(kDefaultSd), sizeof(kDefaultSd))
                : std::string_view(reinterpret_cast<const char*>(sd.data()), sd.size());
        auto it = skIndex_.find(bytes);
        if (it != skIndex_.end()) {
            if (sd.empty()) defaultSk_ = it->second;
            ++sks_[it->second].refs;
            return sks_[it->second].cell;
        }
        if (!sd.empty() && !validDescriptor(sd)) return failKey("invalid security descriptor");
        uint32_t cell = alloc(kSkDescriptor + bytes.size());
        if (cell == kNone) return tooLarge();
        uint8_t* p = data(cell);
        std::memcpy(p, "sk", 2);
        put32(p + kSkDescriptorSize, uint32_t(bytes.size()));
        std::memcpy(p + kSkDescriptor, bytes.data(), bytes.size());
        // Every sk cell sits in one circular list, in creation order.
        uint32_t first = sks_.empty() ? cell : sks_.front().cell;
        uint32_t last = sks_.empty() ? cell : sks_.back().cell;
        put32(p + kSkNext, first);
        put32(p + kSkPrev, last);
        put32(data(last) + kSkNext, cell);
        put32(data(first) + kSkPrev, cell);
        skIndex_.emplace(bytes, sks_.size());
        if (sd.empty()) defaultSk_ = sks_.size();
        sks_.push_back({cell, 1});
        return cell;
    }

    uint32_t writeData(const std::vector<uint8_t>& bytes) {
        size_t size = bytes.size();
        if (size <= kBigDataSegment) {
            uint32_t cell = alloc(size);
            if (cell != kNone) std::memcpy(data(cell), bytes.data(), size);
            return cell;
        }
        auto segments = uint32_t((size + kBigDataSegment - 1) / kBigDataSegment);
        uint32_t db = alloc(12);
        uint32_t list = alloc(4 * uint64_t(segments));
        if (db == kNone || list == kNone) return kNone;
        std::memcpy(data(db), "db", 2);
        put16(data(db) + 2, uint16_t(segments));
        put32(data(db) + 4, list);
        for (uint32_t i = 0; i < segments; ++i) {
            size_t from = size_t(i) * kBigDataSegment;
            size_t chunk = std::min<size_t>(kBigDataSegment, size - from);
            // 4 spare bytes per segment: readers take "cell size - 8" bytes from each.
            uint32_t seg = alloc(chunk + 4);
            if (seg == kNone) return kNone;
            std::memcpy(data(seg), bytes.data() + from, chunk);
            put32(data(list) + 4 * i, seg);
        }
        return db;
    }

    uint32_t writeValue(const RegValue& v, const NameInfo& name) {
        uint32_t vk = alloc(kVkName + name.storedBytes());
        if (vk == kNone) return kNone;
        uint8_t* p = data(vk);
        std::memcpy(p, "vk", 2);
        put16(p + kVkNameLen, uint16_t(name.storedBytes()));
        put32(p + kVkType, v.type);
        put16(p + kVkFlags, name.latin1 ? kValueCompName : 0);
        writeName(p + kVkName, v.name, name.latin1);
        size_t size = v.data.size();
        if (size <= kMaxInlineData) {
            put32(p + kVkDataSize, uint32_t(size) | kDataInline);
            if (size) std::memcpy(p + kVkDataOffset, v.data.data(), size);
            return vk;
        }
        uint32_t cell = writeData(v.data);
        if (cell == kNone) return kNone;
        p = data(vk);
        put32(p + kVkDataSize, uint32_t(size));
        put32(p + kVkDataOffset, cell);
        return vk;
    }

    // Checks the key's values and works out the nk maxima; fills valueNames_.
    bool checkValues(const RegTreeKey& key, uint32_t& maxNameBytes, uint32_t& maxDataBytes,
                     bool& symLink) {
        valueNames_.clear();
        const auto& values = key.values;
        for (size_t i = 0; i < values.size(); ++i) {
            if (i + 2 < values.size()) {
                __builtin_prefetch(values[i + 2].name.data());
                __builtin_prefetch(values[i + 2].data.data());
            }
            const RegValue& v = values[i];
            NameInfo info = measureName(v.name);
            if (info.units > kMaxValueNameChars) {
                failKey("value name longer than 16383 characters");
                return false;
            }
            if (v.data.size() > kMaxDataSize) {
                failKey("value data too large: \"" + v.name + "\"");
                return false;
            }
            maxNameBytes = std::max(maxNameBytes, uint32_t(info.units * 2));
            maxDataBytes = std::max(maxDataBytes, uint32_t(v.data.size()));
            if (v.type == REG_LINK && compareNames(v.name, "SymbolicLinkValue") == 0)
                symLink = true;
            valueNames_.push_back(info);
        }
        size_t n = key.values.size();
        auto cmp = [&](size_t a, size_t b) {
            const NameInfo &x = valueNames_[a], &y = valueNames_[b];
            if (x.prefixHigh != y.prefixHigh) return x.prefixHigh < y.prefixHigh ? -1 : 1;
            if (x.prefixLow != y.prefixLow) return x.prefixLow < y.prefixLow ? -1 : 1;
            return compareNames(values[a].name, values[b].name);
        };
        bool duplicate = false;
        if (n <= 8) {
            for (size_t a = 0; a < n && !duplicate; ++a)
                for (size_t b = a + 1; b < n && !duplicate; ++b) duplicate = cmp(a, b) == 0;
        } else {
            valueOrder_.resize(n);
            std::iota(valueOrder_.begin(), valueOrder_.end(), 0u);
            std::sort(valueOrder_.begin(), valueOrder_.end(),
                      [&](uint32_t a, uint32_t b) { return cmp(a, b) < 0; });
            for (size_t i = 1; i < n && !duplicate; ++i)
                duplicate = cmp(valueOrder_[i - 1], valueOrder_[i]) == 0;
        }
        if (duplicate) failKey("duplicate value names");
        return !duplicate;
    }

    // Measures the subkeys and puts them in registry order into `slots`; false
    // on duplicates. Prefetching hides most of the cost of visiting wide keys.
    bool sortSubkeys(const RegTreeKey& key, std::vector<Slot>& slots, uint32_t& maxName,
                     uint32_t& maxClass) {
        const auto& subs = key.subkeys;
        size_t n = subs.size();
        slots.clear();
        for (size_t i = 0; i < n; ++i) {
            if (i + 8 < n) __builtin_prefetch(subs[i + 8].get());
            if (i + 4 < n) __builtin_prefetch(subs[i + 4]->name.data());
            const RegTreeKey& sub = *subs[i];
            NameInfo info = measureName(sub.name);
            slots.push_back({info.prefixHigh, info.prefixLow, &sub});
            maxName = std::max(maxName, uint32_t(std::min<size_t>(info.units, 0xFFFF) * 2));
            if (!sub.className.empty()) {
                size_t units = measureName(sub.className).units;
                maxClass = std::max(maxClass, uint32_t(std::min<size_t>(units, 0xFFFF) * 2));
            }
        }
        auto cmp = [&](const Slot& a, const Slot& b) {
            if (a.high != b.high) return a.high < b.high ? -1 : 1;
            if (a.low != b.low) return a.low < b.low ? -1 : 1;
            return compareNames(a.key->name, b.key->name);
        };
        bool sorted = true;
        for (size_t i = 1; i < n && sorted; ++i) sorted = cmp(slots[i - 1], slots[i]) < 0;
        if (sorted) return true;
        std::sort(slots.begin(), slots.end(),
                  [&](const Slot& a, const Slot& b) { return cmp(a, b) < 0; });
        for (size_t i = 1; i < n; ++i)
            if (cmp(slots[i - 1], slots[i]) == 0) {
                failKey("duplicate subkey \"" + slots[i].key->name + "\"");
                return false;
            }
        return true;
    }

    uint32_t writeKey(const RegTreeKey& key, uint32_t parent, uint32_t depth, uint32_t& hash) {
        struct Pop {
            std::vector<const RegTreeKey*>& s;
            ~Pop() { s.pop_back(); }
        } pop{stack_};
        stack_.push_back(&key);
        if (depth > kMaxDepth) return failKey("key tree deeper than 512 levels");
        // A root key always has a name; readers such as libregf reject a nameless one.
        std::string_view keyName =
            depth == 0 && key.name.empty() ? std::string_view("ROOT") : std::string_view(key.name);
        NameInfo name = measureName(keyName);
        if (name.units > kMaxKeyNameChars) return failKey("key name longer than 255 characters");
        if (keyName.find('\\') != std::string_view::npos) return failKey("key name contains '\\'");
        if (name.units == 0) return failKey("empty key name");
        NameInfo cls = measureName(key.className);
        if (cls.units * 2 > 0xFFFF) return failKey("class name too long");

        uint32_t maxName = 0, maxClass = 0, maxValueName = 0, maxValueData = 0;
        bool symLink = false;
        std::vector<Slot>& slots = slots_[depth];
        if (!sortSubkeys(key, slots, maxName, maxClass)) return kNone;
        if (!checkValues(key, maxValueName, maxValueData, symLink)) return kNone;

        uint32_t nk = alloc(kNkName + name.storedBytes());
        if (nk == kNone) return tooLarge();
        uint8_t* p = data(nk);
        std::memcpy(p, "nk", 2);
        uint16_t flags = name.latin1 ? kKeyCompName : 0;
        if (depth == 0) flags |= kKeyHiveEntry | kKeyNoDelete;
        if (symLink) flags |= kKeySymLink;
        put16(p + kNkFlags, flags);
        put64(p + kNkTimestamp, uint64_t(key.lastWrite ? key.lastWrite : defaultTime_));
        put32(p + kNkParent, parent);
        put32(p + kNkSubkeyCount, uint32_t(key.subkeys.size()));
        put32(p + kNkSubkeyList, kNone);
        put32(p + kNkVolatileList, kNone);
        put32(p + kNkValueCount, uint32_t(key.values.size()));
        put32(p + kNkValueList, kNone);
        put32(p + kNkClass, kNone);
        put32(p + kNkMaxNameLen, maxName);
        put32(p + kNkMaxClassLen, maxClass);
        put32(p + kNkMaxValueNameLen, maxValueName);
        put32(p + kNkMaxValueDataLen, maxValueData);
        put16(p + kNkNameLen, uint16_t(name.storedBytes()));
        hash = writeName(p + kNkName, keyName, name.latin1);

        uint32_t sk = securityCell(key.securityDescriptor);
        if (sk == kNone) return kNone;
        put32(data(nk) + kNkSecurity, sk);

        if (cls.units) {
            uint32_t c = alloc(cls.units * 2);
            if (c == kNone) return tooLarge();
            writeName(data(c), key.className, false);
            put32(data(nk) + kNkClass, c);
            put16(data(nk) + kNkClassLen, uint16_t(cls.units * 2));
        }

        if (size_t n = key.values.size()) {
            uint32_t list = alloc(4 * uint64_t(n));
            if (list == kNone) return tooLarge();
            put32(data(nk) + kNkValueList, list);
            for (size_t i = 0; i < n; ++i) {
                uint32_t vk = writeValue(key.values[i], valueNames_[i]);
                if (vk == kNone) return tooLarge();
                put32(data(list) + 4 * i, vk);
            }
        }

        size_t n = slots.size();
        if (n == 0) return nk;
        auto leaves = uint32_t((n + kLeafMax - 1) / kLeafMax);
        auto perLeaf = uint32_t((n + leaves - 1) / leaves);
        uint32_t index = kNone;
        if (leaves > 1) {
            index = alloc(4 + 4 * uint64_t(leaves));
            if (index == kNone) return tooLarge();
            std::memcpy(data(index), "ri", 2);
            put16(data(index) + 2, uint16_t(leaves));
        }
        uint32_t firstLeaf = kNone;
        for (uint32_t l = 0; l < leaves; ++l) {
            uint32_t count = std::min<uint32_t>(perLeaf, uint32_t(n - size_t(l) * perLeaf));
            uint32_t leaf = alloc(4 + 8 * uint64_t(count));
            if (leaf == kNone) return tooLarge();
            std::memcpy(data(leaf), "lh", 2);
            put16(data(leaf) + 2, uint16_t(count));
            if (index != kNone) put32(data(index) + 4 + 4 * l, leaf);
            if (l == 0) firstLeaf = leaf;
        }
        put32(data(nk) + kNkSubkeyList, index != kNone ? index : firstLeaf);

        for (size_t i = 0; i < n; ++i) {
            uint32_t childHash = 0;
            if (i + 2 < n) __builtin_prefetch(slots[i + 2].key);
            if (i + 1 < n) {
                const RegTreeKey& next = *slots[i + 1].key;
                __builtin_prefetch(next.name.data());
                __builtin_prefetch(next.values.data());
                __builtin_prefetch(next.subkeys.data());
            }
            uint32_t child = writeKey(*slots[i].key, nk, depth + 1, childHash);
            if (child == kNone) return kNone;
            uint32_t leaf = index != kNone ? get32(data(index) + 4 + 4 * (i / perLeaf)) : firstLeaf;
            uint8_t* entry = data(leaf) + 4 + 8 * (i % perLeaf);
            put32(entry, child);
            put32(entry + 4, childHash);
        }
        return nk;
    }

    void writeBaseBlock(uint32_t rootCell) {
        uint8_t* b = out_.data();
        std::memcpy(b, "regf", 4);
        put32(b + kBaseSequence1, 1);
        put32(b + kBaseSequence2, 1);
        put64(b + kBaseTimestamp, uint64_t(defaultTime_));
        put32(b + kBaseMajor, 1);
        put32(b + kBaseMinor, 5);
        put32(b + kBaseType, 0);
        put32(b + kBaseFormat, 1);
        put32(b + kBaseRootCell, rootCell);
        put32(b + kBaseBinsSize, binsEnd_);
        put32(b + kBaseClustering, 1);
        // Like Windows, keep the tail of a long path: 31 characters and a NUL.
        std::vector<uint16_t> units;
        Utf16Reader r(embeddedName_);
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

    HiveBuffer& out_;
    int64_t defaultTime_;
    std::string embeddedName_;
    uint32_t binsEnd_ = 0;           // size of the bins laid out so far
    uint32_t cur_ = 0, curEnd_ = 0;  // free room small cells are packed into
    std::vector<Security> sks_;
    std::unordered_map<std::string_view, size_t> skIndex_;  // descriptor bytes -> sks_ index
    size_t defaultSk_ = SIZE_MAX;
    std::vector<std::vector<Slot>> slots_;  // subkeys in order, one scratch list per depth
    std::vector<NameInfo> valueNames_;
    std::vector<uint32_t> valueOrder_;
    std::vector<const RegTreeKey*> stack_;
    std::string error_;
    bool outOfMemory_ = false;
};

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

  private:
    int fd_;
};

// Removes the temporary file unless the rename went through.
struct TempFile {
    std::filesystem::path path;
    bool committed = false;
    ~TempFile() {
        if (!committed) ::unlink(path.c_str());
    }
};

bool writeAtomically(const uint8_t* bytes, size_t size, const std::filesystem::path& file,
                     std::string& error) {
    static std::atomic<unsigned> counter{0};
    auto sysError = [&](const std::string& what) {
        error = what + " " + file.string() + ": " + std::strerror(errno);
        return false;
    };
    std::filesystem::path dir = file.parent_path();
    if (dir.empty()) dir = ".";
    struct stat old {};
    bool replacing = ::stat(file.c_str(), &old) == 0 && S_ISREG(old.st_mode);

    TempFile temp;
    FileDescriptor fd(-1);
    for (int attempt = 0; fd.get() < 0; ++attempt) {
        temp.path = dir / ("." + file.filename().string() + ".tmp" + std::to_string(::getpid()) +
                           "-" + std::to_string(counter++));
        fd = FileDescriptor(
            ::open(temp.path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
        if (fd.get() < 0 && (errno != EEXIST || attempt == 100)) {
            temp.committed = true;  // nothing was created
            return sysError("cannot create a temporary file beside");
        }
    }
    if (replacing) {  // the new hive takes the place of the old one, with its owner and mode
        (void)!::fchown(fd.get(), old.st_uid, old.st_gid);
        ::fchmod(fd.get(), old.st_mode & 07777);
    }
    for (size_t done = 0; done < size;) {
        ssize_t n = ::write(fd.get(), bytes + done, std::min<size_t>(size - done, 1 << 30));
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) errno = EIO;
        if (n <= 0) return sysError("cannot write");
        done += size_t(n);
    }
    if (::fsync(fd.get()) != 0) return sysError("cannot flush");
    if (::close(fd.release()) != 0) return sysError("cannot write");
    if (::rename(temp.path.c_str(), file.c_str()) != 0) return sysError("cannot replace");
    temp.committed = true;
    // Make the rename itself durable.
    FileDescriptor dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dirFd.get() >= 0) ::fsync(dirFd.get());
    return true;
}

}  // namespace

std::vector<uint8_t> serializeHive(const RegTreeKey& root, const RegfWriteOptions& options) {
    HiveBuffer buffer;
    std::string error;
    if (!HiveBuilder(buffer, options).build(root, error)) return {};
    return std::vector<uint8_t>(buffer.data(), buffer.data() + buffer.size());
}

bool writeHiveFile(const RegTreeKey& root, const std::filesystem::path& file,
                   const RegfWriteOptions& options, std::string* error) {
    HiveBuffer buffer;
    std::string message;
    bool ok = HiveBuilder(buffer, options).build(root, message) &&
              writeAtomically(buffer.data(), buffer.size(), file, message);
    if (!ok && error) *error = message;
    return ok;
}

}  // namespace brisko
