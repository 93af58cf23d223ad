#include "cleaner/place_set.h"

namespace brisko {

namespace {

uint64_t mix(const PlaceId& p) {
    // File ids of one folder are often consecutive: spread them over the table.
    uint64_t h = p.file * 0x9E3779B97F4A7C15ull ^ (p.volume + 0x632BE59BD9B4E019ull);
    h ^= h >> 29;
    h *= 0xBF58476D1CE4E5B9ull;
    return h ^ (h >> 32);
}

}  // namespace

size_t PlaceSet::slotOf(const PlaceId& p) const {
    const size_t mask = slots_.size() - 1;
    size_t i = size_t(mix(p)) & mask;
    while (!empty(slots_[i]) && !(slots_[i] == p)) i = (i + 1) & mask;
    return i;
}

bool PlaceSet::contains(const PlaceId& p) const {
    if (empty(p)) return hasZero_;
    return !slots_.empty() && !empty(slots_[slotOf(p)]);
}

bool PlaceSet::insert(const PlaceId& p) {
    if (empty(p)) {
        if (hasZero_) return false;
        hasZero_ = true;
        ++size_;
        return true;
    }
    // At most three quarters full, so probes stay short.
    if ((size_ + 1) * 4 > slots_.size() * 3) grow();
    size_t i = slotOf(p);
    if (!empty(slots_[i])) return false;
    slots_[i] = p;
    ++size_;
    return true;
}

void PlaceSet::grow() {
    std::vector<PlaceId> old;
    old.swap(slots_);
    slots_.assign(old.empty() ? 64 : old.size() * 2, PlaceId{});
    for (const PlaceId& p : old)
        if (!empty(p)) slots_[slotOf(p)] = p;
}

}  // namespace brisko
