#pragma once
// Lays a hive out from a source (regf_sources.h): keys in tree order, cells
// packed into bins, done bins handed to a stream while the rest is built.
// Only the writer includes this.
#include <algorithm>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "hive/hive_output.h"
#include "hive/regf_sources.h"

namespace brisko::hive::regf_build {

template <class Source>
class HiveBuilder {
  public:
    using Key = typename Source::Key;
    // With a stream, the bins are written to the file as they are done.
    HiveBuilder(HiveBuffer& out, const RegfWriteOptions& options, Source& source,
                HiveStream* stream = nullptr)
        : src_(source),
          out_(out),
          stream_(stream),
          defaultTime_(options.timestamp ? options.timestamp : nowFiletime()),
          embeddedName_(options.embeddedName),
          sequence_(options.sequence ? options.sequence : 1),
          holeEvery_(options.freeCellEvery),
          holeBytes_(options.freeCellBytes),
          keep_(keptBaseBlock(options.keepBaseBlock)),
          minor_(keep_.empty() ? 5 : get32(keep_.data() + kBaseMinor)),
          reorganized_(options.reorganized),
          slots_(kMaxDepth + 2),
          sortKeys_(kMaxDepth + 3) {}

    bool build(Key root, std::string& error) {
        if (!out_.extend(kBaseBlockSize)) return report(error, "out of memory");
        KeySlot rootSlot{};
        if (!writeKey(root, kNone, 0, rootSlot)) return report(error, error_);
        uint32_t rootCell = rootSlot.cell;
        closeRooms();
        closeTail(cur_, curEnd_);
        if (curFrom_ < handed_) late_.push_back({curFrom_, curEnd_});
        // The sk cells are final now. Those in bins already handed over go
        // to the file from their copies; their stretch may have been given back.
        for (auto& sk : sks_) {
            put32(sk.bytes.data() + 4 + kSkRefCount, sk.refs);
            if (sk.cell >= handed_) std::memcpy(cellAt(sk.cell), sk.bytes.data(), sk.bytes.size());
        }
        writeBaseBlock(rootCell);
        if (stream_) {
            uint32_t handed = handed_;
            streamBins(handed_, binsEnd_);
            for (auto [begin, end] : late_) streamBins(begin, end);
            for (auto& sk : sks_)
                if (sk.cell < handed)
                    stream_->write(kBaseBlockSize + uint64_t(sk.cell), std::move(sk.bytes));
            stream_->write(0, kBaseBlockSize);
        }
        return true;
    }

  private:
    struct KeySlot {  // a written subkey, with what its parent's nk and index need
        SortName sort;
        Key key;
        uint32_t cell, hash;
        uint32_t classBytes, nameBytes;
        uint32_t hint;  // "lf" leaves: the name's first four characters
    };

    // Records what is wrong and where; returns kNone for the cell-returning steps.
    uint32_t failKey(std::string message) {
        std::string path;
        for (size_t i = 1; i < stack_.size(); ++i) {
            if (i > 1) path += "\\";
            path += src_.nameOf(stack_[i]);
        }
        error_ = message + (path.empty() ? " (root key)" : " (key \"" + path + "\")");
        return kNone;
    }

    bool fail(std::string message) {
        failKey(std::move(message));
        return false;
    }
    std::string tooLargeMessage() const {
        return outOfMemory_ ? "out of memory" : "hive would grow beyond 2 GB";
    }
    uint32_t tooLarge() { return failKey(tooLargeMessage()); }

    uint8_t* cellAt(uint32_t off) { return out_.data() + kBaseBlockSize + off; }
    uint32_t cellSize(uint32_t off) { return uint32_t(-int32_t(get32(cellAt(off)))); }

    void streamBins(uint32_t begin, uint32_t end) {
        if (end > begin) stream_->write(kBaseBlockSize + uint64_t(begin), end - begin);
    }
    void streamCell(uint32_t cell) { streamBins(cell, cell + cellSize(cell)); }

    // Hands every bin laid out so far to the stream. Only the cells of the
    // keys still open (the ancestors of the key at `depth`, whose nk records
    // are finished after their subkeys), the sk cells (whose counts are set
    // at the end), the rooms and the free rest of the bin small cells go to
    // may change there; they are held back and written once final. Rooms
    // filled up, and what small cells took of their bin, since the last
    // hand-over go out with them. (Large values get bins of their own while
    // small cells still fill an earlier one: a hive of large values would
    // otherwise reach its file only at the end.) What went out is given
    // back but for the units still to be changed, so the buffer holds a few
    // megabytes however large the hive; the sk cells are kept beside it.
    void handOver(uint32_t depth) {
        std::vector<std::pair<uint32_t, uint32_t>> late;
        late.swap(late_);
        if (curFrom_ < handed_) late.push_back({curFrom_, cur_});
        late.push_back({handed_, binsEnd_});
        handed_ = binsEnd_;
        curFrom_ = cur_;
        auto range = [](uint64_t from, uint64_t to) {  // bin offsets to the buffer's
            return std::pair(kBaseBlockSize + from, kBaseBlockSize + to);
        };
        pinned_.clear();
        for (uint32_t d = 0; d < depth; ++d)
            pinned_.push_back(range(openNk_[d], openNk_[d] + cellSize(openNk_[d])));
        for (const Room& r : rooms_) pinned_.push_back(range(r.heldFrom, r.end));
        held_ = pinned_;
        held_.push_back(range(cur_, curEnd_));
        for (const auto& sk : sks_) held_.push_back(range(sk.cell, sk.cell + sk.bytes.size()));
        for (auto [begin, end] : late) {
            auto [from, to] = range(begin, end);
            stream_->writeExcept(from, to, held_);
        }
        pinned_.push_back(range(cur_, std::max(curEnd_, cur_ + 1)));
        stream_->releaseBelow(kBaseBlockSize + uint64_t(handed_), pinned_);
    }
    uint8_t* data(uint32_t off) { return cellAt(off) + 4; }

    void closeTail(uint32_t begin, uint32_t end) {
        if (end > begin) put32(cellAt(begin), end - begin);  // one free cell: positive size
    }

    // Room left in a bin that a cell did not fit into is kept for later,
    // smaller cells, as Windows fills its free cells: a copy packs nearly as
    // tightly as a hive Windows has just reorganized. A few rooms at a time,
    // each until it is too small to matter.
    void keepRoom(uint32_t begin, uint32_t end) {
        if (end - begin < kMinRoom) return closeTail(begin, end);
        rooms_.push_back({begin, end, begin});
        if (rooms_.size() > kMaxRooms) {
            auto smallest = std::min_element(rooms_.begin(), rooms_.end(), [](auto& a, auto& b) {
                return a.end - a.begin < b.end - b.begin;
            });
            retireRoom(size_t(smallest - rooms_.begin()));
        }
        measureRooms();
    }
    void retireRoom(size_t i) {
        Room r = rooms_[i];
        rooms_.erase(rooms_.begin() + ptrdiff_t(i));
        closeTail(r.begin, r.end);
        if (stream_ && r.heldFrom < handed_) late_.push_back({r.heldFrom, r.end});
        measureRooms();
    }
    // A cell from the tightest room that holds it; kNone when none does.
    uint32_t fromRoom(uint32_t size) {
        if (size > largestRoom_) return kNone;
        size_t best = SIZE_MAX;
        for (size_t i = 0; i < rooms_.size(); ++i) {
            uint32_t room = rooms_[i].end - rooms_[i].begin;
            if (room >= size && (best == SIZE_MAX || room < rooms_[best].end - rooms_[best].begin))
                best = i;
        }
        Room& r = rooms_[best];
        uint32_t cell = r.begin;
        r.begin += size;
        put32(cellAt(cell), uint32_t(-int32_t(size)));
        uint32_t left = r.end - r.begin;
        if (left < kMinRoom)
            retireRoom(best);
        else if (left + size == largestRoom_)
            measureRooms();
        return cell;
    }
    void measureRooms() {
        largestRoom_ = 0;
        for (const Room& r : rooms_) largestRoom_ = std::max(largestRoom_, r.end - r.begin);
    }
    void closeRooms() {
        while (!rooms_.empty()) retireRoom(rooms_.size() - 1);
    }

    // Allocates a cell for `bytes` of data; returns its offset or kNone when the
    // hive would grow too large.
    uint32_t alloc(uint64_t bytes) {
        uint32_t cell = allocDense(bytes);
        if (cell != kNone && holeEvery_ && ++cellsSinceHole_ >= holeEvery_) {
            cellsSinceHole_ = 0;
            uint32_t hole = allocDense(holeBytes_);
            if (hole == kNone) return kNone;
            put32(cellAt(hole), uint32_t(-int32_t(get32(cellAt(hole)))));  // free: positive size
        }
        return cell;
    }

    uint32_t allocDense(uint64_t bytes) {
        uint64_t size = (bytes + 4 + kCellAlign - 1) & ~uint64_t(kCellAlign - 1);
        if (size <= largestRoom_)
            if (uint32_t cell = fromRoom(uint32_t(size)); cell != kNone) return cell;
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
                // What small cells took of the old bin since it was handed over
                // is final now, and so is its rest unless it is kept as a room.
                if (stream_ && curFrom_ < handed_) late_.push_back({curFrom_, curEnd_});
                keepRoom(cur_, curEnd_);
                cur_ = curFrom_ = cell;
                curEnd_ = binsEnd_;
            } else {
                put32(cellAt(cell), uint32_t(-int32_t(size)));
                keepRoom(cell + uint32_t(size), binsEnd_);
                return cell;
            }
        }
        uint32_t cell = cur_;
        cur_ += uint32_t(size);
        put32(cellAt(cell), uint32_t(-int32_t(size)));
        return cell;
    }

    // The sk cell for a key's descriptor (empty: the default one), each
    // descriptor written once and counted per key.
    uint32_t securityCell(std::span<const uint8_t> sd) {
        size_t* known = sd.empty() ? &defaultSk_ : nullptr;
        // Keys next to each other mostly share one descriptor, and the source
        // hands out the same bytes for it: known by where they lie, no hashing.
        if (!sd.empty() && sd.data() == lastSd_.data() && sd.size() == lastSd_.size())
            known = &lastSk_;
        if (!known || *known == SIZE_MAX) {
            size_t index = securityIndex(sd);
            if (index == SIZE_MAX) return kNone;
            if (sd.empty()) {
                defaultSk_ = index;
                return sks_[index].cell;
            }
            lastSd_ = sd;
            lastSk_ = index;
            return sks_[index].cell;
        }
        ++sks_[*known].refs;
        return sks_[*known].cell;
    }

    // Finds or writes the descriptor's sk cell and counts the key; its index
    // in sks_, or SIZE_MAX when it cannot be written.
    size_t securityIndex(std::span<const uint8_t> sd) {
        std::string_view bytes =
            sd.empty()
                ? std::string_view(reinterpret_cast<const char*>(kDefaultSd), sizeof(kDefaultSd))
                : std::string_view(reinterpret_cast<const char*>(sd.data()), sd.size());
        auto it = skIndex_.find(bytes);
        if (it != skIndex_.end()) {
            ++sks_[it->second].refs;
            return it->second;
        }
        if (!sd.empty() && !validDescriptor(sd)) {
            failKey("invalid security descriptor");
            return SIZE_MAX;
        }
        uint32_t cell = alloc(kSkDescriptor + bytes.size());
        if (cell == kNone) {
            tooLarge();
            return SIZE_MAX;
        }
        // Built beside the buffer and copied in at the end, once final.
        std::vector<uint8_t> sk(cellSize(cell));
        std::memcpy(sk.data(), cellAt(cell), 4);
        uint8_t* p = sk.data() + 4;
        std::memcpy(p, "sk", 2);
        put32(p + kSkDescriptorSize, uint32_t(bytes.size()));
        std::memcpy(p + kSkDescriptor, bytes.data(), bytes.size());
        // Every sk cell sits in one circular list, in creation order.
        uint32_t first = sks_.empty() ? cell : sks_.front().cell;
        uint32_t last = sks_.empty() ? cell : sks_.back().cell;
        put32(p + kSkNext, first);
        put32(p + kSkPrev, last);
        if (!sks_.empty()) {
            put32(sks_.back().bytes.data() + 4 + kSkNext, cell);
            put32(sks_.front().bytes.data() + 4 + kSkPrev, cell);
        }
        skIndex_.emplace(bytes, sks_.size());
        sks_.push_back({cell, 1, std::move(sk)});
        return sks_.size() - 1;
    }

    uint32_t writeData(std::span<const uint8_t> bytes) {
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

    // Writes one value (vk, then its data) and notes its name for the duplicate check.
    // `alone`: the key's only value, which needs no sort key for the duplicate check.
    uint32_t writeValue(Key key, const ValueData& v, size_t index, bool alone, KeyMaxima& max) {
        bool stored = v.stored.bytes;
        // A UTF-8 byte never makes more than one UTF-16 unit, three bytes never less.
        if (stored ? v.stored.units() > kMaxValueNameChars : v.name.size() > 3 * kMaxValueNameChars)
            return failKey("value name longer than 16383 characters");
        size_t keyAt = valueSortKeys_.size();
        std::string* sortKey = alone ? nullptr : &valueSortKeys_;
        NameInfo name = !stored ? measureName(v.name, sortKey)
                        : alone ? measureStoredUnits(v.stored)
                                : measureName(v.stored, sortKey);
        if (name.units > kMaxValueNameChars)
            return failKey("value name longer than 16383 characters");
        size_t size = v.data.size();
        if (size > kMaxDataSize)
            return failKey("value data too large: \"" + src_.valueNameOf(key, index) + "\"");
        max.valueName = std::max(max.valueName, uint32_t(name.units * 2));
        max.valueData = std::max(max.valueData, uint32_t(size));
        if (v.type == REG_LINK &&
            compareNames(src_.valueNameOf(key, index), "SymbolicLinkValue") == 0)
            max.symLink = true;
        if (!alone) valueSlots_.push_back({SortName::at(valueSortKeys_, keyAt), index});

        uint32_t vk = alloc(kVkName + name.storedBytes());
        if (vk == kNone) return tooLarge();
        uint8_t* p = data(vk);
        std::memcpy(p, "vk", 2);
        put16(p + kVkNameLen, uint16_t(name.storedBytes()));
        put32(p + kVkType, v.type);
        put16(p + kVkFlags, name.latin1 ? kValueCompName : 0);
        if (stored)
            writeName(p + kVkName, v.stored, name);
        else
            writeName(p + kVkName, v.name, name);
        if (size <= kMaxInlineData) {
            put32(p + kVkDataSize, uint32_t(size) | kDataInline);
            if (size) std::memcpy(p + kVkDataOffset, v.data.data(), size);
            return vk;
        }
        uint32_t cell = writeData(v.data);
        if (cell == kNone) return tooLarge();
        p = data(vk);
        put32(p + kVkDataSize, uint32_t(size));
        put32(p + kVkDataOffset, cell);
        return vk;
    }

    // Builds the subkey index over the written subkeys: one leaf, or an "ri"
    // root over several leaves for wide keys. Leaves are of the kind the
    // hive's version knows: "lh" from 1.5 on, "lf" in 1.3 and 1.4, "li" before.
    uint32_t writeSubkeyIndex(std::span<const KeySlot> slots) {
        size_t n = slots.size();
        auto leaves = uint32_t((n + kLeafMax - 1) / kLeafMax);
        auto perLeaf = uint32_t((n + leaves - 1) / leaves);
        uint32_t index = kNone;
        if (leaves > 1) {
            index = alloc(4 + 4 * uint64_t(leaves));
            if (index == kNone) return tooLarge();
            std::memcpy(data(index), "ri", 2);
            put16(data(index) + 2, uint16_t(leaves));
        }
        for (uint32_t l = 0; l < leaves; ++l) {
            size_t first = size_t(l) * perLeaf;
            size_t count = std::min<size_t>(perLeaf, n - first);
            bool li = minor_ < 3;
            uint32_t leaf = alloc(4 + (li ? 4 : 8) * uint64_t(count));
            if (leaf == kNone) return tooLarge();
            uint8_t* p = data(leaf);
            std::memcpy(p, li ? "li" : minor_ < 5 ? "lf" : "lh", 2);
            put16(p + 2, uint16_t(count));
            for (size_t i = 0; i < count; ++i) {
                const KeySlot& slot = slots[first + i];
                if (li) {
                    put32(p + 4 + 4 * i, slot.cell);
                    continue;
                }
                put32(p + 4 + 8 * i, slot.cell);
                put32(p + 8 + 8 * i, minor_ < 5 ? slot.hint : slot.hash);
            }
            if (index == kNone) return leaf;
            put32(data(index) + 4 + 4 * l, leaf);
        }
        return index;
    }

    // Writes a key and everything below it in tree order; the subkey index comes
    // last, once the subkeys' cells and names are known, so that every key is
    // visited once.
    bool writeKey(Key key, uint32_t parent, uint32_t depth, KeySlot& result) {
        struct Pop {
            std::vector<Key>& s;
            ~Pop() { s.pop_back(); }
        } pop{stack_};
        stack_.push_back(key);
        if (depth > kMaxDepth) return fail("key tree deeper than 512 levels");
        if (stream_ && binsEnd_ - handed_ >= kStreamChunk) handOver(depth);
        KeyData k;
        if (!src_.key(key, depth, k, error_)) return fail(error_);
        // A root key always has a name; readers such as libregf reject a nameless one.
        bool stored = k.stored.bytes && (depth > 0 || k.stored.size > 0);
        std::string_view keyName =
            depth == 0 && !stored && k.name.empty() ? std::string_view("ROOT") : k.name;
        if (stored ? k.stored.units() > kMaxKeyNameChars : keyName.size() > 3 * kMaxKeyNameChars)
            return fail("key name longer than 255 characters");
        std::string& sortKeys = sortKeys_[depth];
        size_t keyAt = sortKeys.size();
        NameInfo name = stored ? measureName(k.stored, &sortKeys) : measureName(keyName, &sortKeys);
        if (name.units > kMaxKeyNameChars) return fail("key name longer than 255 characters");
        if (stored ? hasBackslash(k.stored) : keyName.find('\\') != std::string_view::npos)
            return fail("key name contains '\\'");
        if (name.units == 0) return fail("empty key name");
        NameInfo cls = measureName(k.className);
        if (cls.units * 2 > 0xFFFF) return fail("class name too long");

        uint32_t nk = alloc(kNkName + name.storedBytes());
        if (nk == kNone) return fail(tooLargeMessage());
        openNk_[depth] = nk;
        uint8_t* p = data(nk);
        std::memcpy(p, "nk", 2);
        put64(p + kNkTimestamp, uint64_t(k.lastWrite || k.timeAsRead ? k.lastWrite : defaultTime_));
        put32(p + kNkParent, parent);
        put32(p + kNkSubkeyList, kNone);
        put32(p + kNkVolatileList, kNone);
        put32(p + kNkValueCount, uint32_t(k.values));
        put32(p + kNkValueList, kNone);
        put32(p + kNkClass, kNone);
        put16(p + kNkNameLen, uint16_t(name.storedBytes()));
        if (stored)
            writeName(p + kNkName, k.stored, name);
        else
            writeName(p + kNkName, keyName, name);
        result = {SortName::at(sortKeys, keyAt),
                  key,
                  nk,
                  name.hash,
                  uint32_t(cls.units * 2),
                  uint32_t(name.units * 2),
                  nameHint(p + kNkName, name)};

        uint32_t sk = securityCell(k.security);
        if (sk == kNone) return false;
        put32(data(nk) + kNkSecurity, sk);

        if (cls.units) {
            uint32_t c = alloc(cls.units * 2);
            if (c == kNone) return fail(tooLargeMessage());
            cls.latin1 = cls.ascii = false;  // class names are always UTF-16
            writeName(data(c), k.className, cls);
            put32(data(nk) + kNkClass, c);
            put16(data(nk) + kNkClassLen, uint16_t(cls.units * 2));
        }

        KeyMaxima max;
        if (size_t n = k.values) {
            uint32_t list = alloc(4 * uint64_t(n));
            if (list == kNone) return fail(tooLargeMessage());
            put32(data(nk) + kNkValueList, list);
            valueSlots_.clear();
            valueSortKeys_.clear();
            ValueData v;
            for (size_t i = 0; i < n; ++i) {
                if (!src_.value(key, i, v, error_)) return fail(error_);
                uint32_t vk = writeValue(key, v, i, n == 1, max);
                if (vk == kNone) return false;
                put32(data(list) + 4 * i, vk);
            }
            if (const ValueSlot* dup = sortFindDuplicate(std::span(valueSlots_), valueSortKeys_))
                return fail("duplicate value \"" + src_.valueNameOf(key, dup->index) + "\"");
        }

        std::span<const Key> kids;
        if (!src_.children(key, depth, kids, error_)) return fail(error_);
        put32(data(nk) + kNkSubkeyCount, uint32_t(kids.size()));
        std::vector<KeySlot>& slots = slots_[depth];
        slots.resize(kids.size());
        sortKeys_[depth + 1].clear();
        for (size_t i = 0; i < slots.size(); ++i) {
            src_.prefetchChild(kids, i);
            if (!writeKey(kids[i], nk, depth + 1, slots[i])) return false;
            max.name = std::max(max.name, slots[i].nameBytes);
            max.className = std::max(max.className, slots[i].classBytes);
        }
        if (!slots.empty()) {
            if (const KeySlot* dup = sortFindDuplicate(std::span(slots), sortKeys_[depth + 1]))
                return fail("duplicate subkey \"" + src_.nameOf(dup->key) + "\"");
            uint32_t index = writeSubkeyIndex(slots);
            if (index == kNone) return false;
            put32(data(nk) + kNkSubkeyList, index);
        }

        p = data(nk);
        uint16_t flags = (name.latin1 ? kKeyCompName : 0) | (k.flags & kKeyKeptFlags);
        if (depth == 0) flags |= kKeyHiveEntry | kKeyNoDelete;
        if (max.symLink) flags |= kKeySymLink;
        put16(p + kNkFlags, flags);
        put32(p + kNkMaxNameLen, max.name | uint32_t(k.userFlags) << 16);
        put32(p + kNkMaxClassLen, max.className);
        put32(p + kNkMaxValueNameLen, max.valueName);
        put32(p + kNkMaxValueDataLen, max.valueData);
        if (stream_ && nk < handed_) streamCell(nk);  // held back while its subkeys were written
        return true;
    }

    void writeBaseBlock(uint32_t rootCell) {
        regf_build::writeBaseBlock(out_.data(), {rootCell, binsEnd_, sequence_, minor_,
                                                 defaultTime_, reorganized_, keep_, embeddedName_});
    }

    Source& src_;
    HiveBuffer& out_;
    HiveStream* stream_;
    uint32_t handed_ = 0;   // the bins below this went to the stream
    uint32_t curFrom_ = 0;  // where what small cells took of their bin since then begins
    std::vector<uint32_t> openNk_ =
        std::vector<uint32_t>(kMaxDepth + 2);  // the nk cell of the key being written at each depth
    std::vector<HiveStream::Range> held_, pinned_;
    struct Room {
        uint32_t begin, end;  // free room in an earlier bin
        uint32_t heldFrom;    // where it began: not streamed while cells may still go there
    };
    static constexpr size_t kMaxRooms = 16;
    static constexpr uint32_t kMinRoom = 16;
    std::vector<Room> rooms_;
    uint32_t largestRoom_ = 0;
    std::vector<std::pair<uint32_t, uint32_t>> late_;  // filled rooms below handed_, to stream
    int64_t defaultTime_;
    std::string embeddedName_;
    uint32_t sequence_;
    uint32_t holeEvery_ = 0, holeBytes_ = 0, cellsSinceHole_ = 0;
    std::span<const uint8_t> keep_;  // the base block whose fields are kept; empty: none
    uint32_t minor_;                 // the hive's format version: 1.minor_
    int64_t reorganized_;
    uint32_t binsEnd_ = 0;           // size of the bins laid out so far
    uint32_t cur_ = 0, curEnd_ = 0;  // free room small cells are packed into
    std::vector<Security> sks_;
    std::unordered_map<std::string_view, size_t> skIndex_;  // descriptor bytes -> sks_ index
    size_t defaultSk_ = SIZE_MAX;
    std::span<const uint8_t> lastSd_;  // the descriptor of the last key, where the source holds it
    size_t lastSk_ = SIZE_MAX;
    std::vector<std::vector<KeySlot>> slots_;  // written subkeys, one scratch list per depth
    std::vector<std::string> sortKeys_;        // sort keys of the names at each depth
    std::vector<ValueSlot> valueSlots_;
    std::string valueSortKeys_;
    std::vector<Key> stack_;  // the keys being written, root first
    std::string error_;
    bool outOfMemory_ = false;
};

}  // namespace brisko::hive::regf_build
