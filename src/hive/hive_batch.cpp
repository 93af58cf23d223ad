// Reading a whole key at once, for walks: one lock a key, no lists shared,
// and the caller's buffers reused, so that a walk of a large hive allocates
// next to nothing once it is under way.
#include <algorithm>
#include <unordered_set>

#include "hive/hive.h"
#include "hive/regf_format.h"

namespace brisko::hive {

namespace {

template <class T>
T& nextSlot(std::vector<T>& out, size_t& n) {
    if (n == out.size()) out.emplace_back();
    return out[n++];
}

// Whether the first n children name one node twice.
bool hasRepeats(const std::vector<Hive::Child>& out, size_t n) {
    if (n <= 16) {  // most keys: no copy to sort
        for (size_t i = 1; i < n; ++i)
            for (size_t j = 0; j < i; ++j)
                if (out[i].node == out[j].node) return true;
        return false;
    }
    std::vector<size_t> nodes(n);
    for (size_t i = 0; i < n; ++i) nodes[i] = out[i].node;
    std::sort(nodes.begin(), nodes.end());
    return std::adjacent_find(nodes.begin(), nodes.end()) != nodes.end();
}

}  // namespace

// The list an edit made for the key (an added key always has one, perhaps
// empty); null when the file's own list holds.
const NameList* Hive::editedList(HiveNode node, bool values) const {
    static const NameList empty;
    if (!overlay_.edits.empty())
        if (auto it = overlay_.edits.find(node); it != overlay_.edits.end()) {
            const auto& list = values ? it->second.values : it->second.children;
            if (list) return list.get();
        }
    return node >= kAddedKeyBase ? &empty : nullptr;
}

bool Hive::readValueInto(size_t ref, RegValue& out) const {
    if (ref >= kSetValueBase) {
        size_t i = ref - kSetValueBase;
        if (i >= setValues_.size()) return false;
        out.type = setValues_[i].type;
        out.data = setValues_[i].data;
        return true;
    }
    const uint8_t* vk = reader_.value(uint32_t(ref));
    if (!vk) return false;
    out.type = HiveReader::valueType(vk);
    return reader_.valueData(vk, out.data);
}

std::optional<size_t> Hive::readAllValues(HiveNode node, std::vector<RegValue>& out) {
    std::lock_guard lock(mutex_);
    if (!nodeValid(node)) return std::nullopt;
    size_t n = 0;
    if (const NameList* list = editedList(node, true)) {
        for (size_t i = 0; i < list->size(); ++i) {
            RegValue& v = nextSlot(out, n);
            v.name = list->names[i];
            if (!readValueInto(list->refs[i], v)) --n;
        }
        return n;
    }
    uint32_t count = 0;
    const uint8_t* offsets = reader_.valueList(reader_.key(uint32_t(node)), count);
    if (!offsets) return n;
    reader_.prefetchValues(offsets, count);
    for (uint32_t i = 0; i < count; ++i) {
        if (i + 16 < count) reader_.prefetch(regf::get32(offsets + 4 * (i + 16)));
        const uint8_t* vk = reader_.value(regf::get32(offsets + 4 * i));
        if (!vk) continue;
        reader_.prefetchData(vk);
        RegValue& v = nextSlot(out, n);
        HiveReader::valueName(vk, v.name);
        v.type = HiveReader::valueType(vk);
        if (!reader_.valueData(vk, v.data)) --n;
    }
    return n;
}

std::optional<size_t> Hive::readAllChildren(HiveNode node, std::vector<Child>& out, uint64_t* gen) {
    std::lock_guard lock(mutex_);
    if (gen) *gen = generation();
    if (!nodeValid(node)) return std::nullopt;
    size_t n = 0;
    const NameList* list = editedList(node, false);
    if (!list)
        if (auto it = bigLists_.find(node); it != bigLists_.end()) list = it->second.get();
    if (list) {
        for (size_t i = 0; i < list->size(); ++i) {
            Child& c = nextSlot(out, n);
            c.name = list->names[i];
            c.node = list->refs[i];
        }
        return n;
    }
    const auto off = uint32_t(node);
    const uint8_t* nk = reader_.key(off);
    if (!HiveReader::subkeyCount(nk)) return n;
    reader_.forEachSubkey(regf::get32(nk + regf::kNkSubkeyList), [&](uint32_t child) {
        // As in the shared lists: a child naming another parent comes from a
        // damaged or looping index and is left out.
        const uint8_t* c = reader_.key(child);
        if (!c || HiveReader::parentOf(c) != off || child == root_) return;
        Child& slot = nextSlot(out, n);
        HiveReader::keyName(c, slot.name);
        slot.node = child;
    });
    // A list holding one key twice (a damaged or crafted index) keeps the
    // first of each, as the shared lists do.
    if (hasRepeats(out, n)) {
        std::unordered_set<size_t> seen;
        size_t kept = 0;
        for (size_t i = 0; i < n; ++i)
            if (seen.insert(out[i].node).second) std::swap(out[kept++], out[i]);
        n = kept;
    }
    return n;
}

}  // namespace brisko::hive
