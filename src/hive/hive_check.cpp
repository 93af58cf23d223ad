#include "hive/hive_check.h"

#include "hive/hive_log.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace brisko::hive {

using namespace regf;

std::string checkBaseBlock(std::span<const uint8_t> file, bool* dirty, bool usedAsStored) {
    if (dirty) *dirty = false;
    if (file.size() < kBaseBlockSize || std::memcmp(file.data(), "regf", 4) != 0)
        return "it has no regf signature";
    const uint8_t* b = file.data();
    bool badSum = baseBlockChecksum(b) != get32(b + kBaseChecksum);
    bool torn = get32(b + kBaseSequence1) != get32(b + kBaseSequence2);
    if (dirty) *dirty = badSum || torn;
    if (get32(b + kBaseMajor) != 1 || get32(b + kBaseMinor) < 2 || get32(b + kBaseMinor) > 6)
        return "it has a format version this program does not know";
    if (get32(b + kBaseType) != 0) return "its base block is not that of a primary hive file";
    if (badSum) return "its base block checksum is wrong";
    if (torn && !usedAsStored) return "its last write did not finish (the sequence numbers differ)";
    uint64_t bins = get32(b + kBaseBinsSize);
    if (bins == 0 || bins % kBinAlign) return "its hive bins size is not a whole number of pages";
    if (kBaseBlockSize + bins > file.size()) return "the file is cut short";
    return {};
}

std::string checkBins(const HiveReader& reader) {
    const uint8_t* bins = reader.file().data() + kBaseBlockSize;
    uint64_t end = reader.binsSize();
    uint64_t off = 0;
    while (off < end) {
        if (off + kBinHeaderSize > end) return "a hive bin is cut short";
        const uint8_t* h = bins + off;
        uint32_t size = get32(h + kBinSize);
        if (std::memcmp(h, "hbin", 4) != 0 || get32(h + kBinOffset) != off)
            return "a hive bin header is damaged";
        if (size < kBinAlign || size % kBinAlign || off + size > end)
            return "a hive bin has a wrong size";
        off += size;
    }
    return {};
}

namespace {

class KeyChecker {
  public:
    KeyChecker(const HiveReader& r, uint32_t root)
        : r_(r), root_(root), seen_(r.binsSize() / kCellAlign / 64 + 1) {}

    std::string run() {
        const uint8_t* nk = r_.key(root_);
        if (!nk) return "its root key is damaged";
        mark(root_);
        std::vector<std::pair<uint32_t, uint32_t>> stack{{root_, 0}};
        while (!stack.empty()) {
            auto [off, depth] = stack.back();
            stack.pop_back();
            if (std::string why = checkKey(off, depth, stack); !why.empty()) return why;
        }
        return {};
    }

  private:
    bool mark(uint32_t off) {
        uint64_t bit = off / kCellAlign;
        uint64_t& word = seen_[bit / 64];
        uint64_t m = uint64_t(1) << (bit % 64);
        if (word & m) return false;
        word |= m;
        return true;
    }

    // The key's path below the root, for a person.
    std::string path(uint32_t off) const {
        std::vector<std::string> names;
        std::string name;
        for (int i = 0; off != root_ && i < int(kMaxDepth) + 1; ++i) {
            const uint8_t* nk = r_.key(off);
            if (!nk) break;
            HiveReader::keyName(nk, name);
            names.push_back(name);
            off = HiveReader::parentOf(nk);
        }
        if (names.empty()) return "the root key";
        std::string out = "key \"";
        for (size_t i = names.size(); i-- > 0;) out += names[i] + (i ? "\\" : "");
        return out + "\"";
    }

    std::string checkKey(uint32_t off, uint32_t depth,
                         std::vector<std::pair<uint32_t, uint32_t>>& stack) {
        const uint8_t* nk = r_.key(off);
        if (uint32_t n = HiveReader::subkeyCount(nk)) {
            if (depth >= kMaxDepth) return path(off) + " is nested deeper than Windows allows";
            uint32_t listed = 0;
            const size_t firstPushed = stack.size();
            std::string bad;
            bool sound = r_.forEachSubkey(get32(nk + kNkSubkeyList), [&](uint32_t child) {
                ++listed;
                if (!bad.empty()) return;
                const uint8_t* c = r_.key(child);
                if (!c) {
                    bad = "a subkey of " + path(off) + " is damaged";
                } else if (HiveReader::parentOf(c) != off || child == root_) {
                    bad = "a subkey of " + path(off) + " names another parent";
                } else if (!mark(child)) {
                    bad = "a subkey of " + path(off) + " is listed twice";
                } else {
                    stack.emplace_back(child, depth + 1);
                }
            });
            if (!sound) return "the subkey list of " + path(off) + " is damaged";
            if (!bad.empty()) return bad;
            if (listed != n) return "the subkey count of " + path(off) + " is wrong";
            // Popped in stored order: the cells lie that way, which the
            // processor's prefetching rewards.
            std::reverse(stack.begin() + ptrdiff_t(firstPushed), stack.end());
        }
        uint32_t count = 0;
        const uint8_t* list = r_.valueList(nk, count);
        if (count && !list) return "the value list of " + path(off) + " is damaged";
        for (uint32_t i = 0; i < count; ++i) {
            const uint8_t* vk = r_.value(get32(list + 4 * i));
            if (!vk) return "a value of " + path(off) + " is damaged";
            if (!r_.valueDataSound(vk)) {
                std::string name;
                HiveReader::valueName(vk, name);
                return "the data of value \"" + name + "\" of " + path(off) + " is damaged";
            }
        }
        if (r_.security(get32(nk + kNkSecurity)).empty())
            return "the security descriptor of " + path(off) + " is damaged";
        std::string cls;
        if (!r_.className(nk, cls)) return "the class name of " + path(off) + " is damaged";
        return {};
    }

    const HiveReader& r_;
    uint32_t root_;
    std::vector<uint64_t> seen_;
};

}  // namespace

std::string checkKeys(const HiveReader& reader, uint32_t root) {
    return KeyChecker(reader, root).run();
}

}  // namespace brisko::hive
