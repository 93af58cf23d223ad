// Registry names: comparison without case, and the shared name lists of keys.
#include <cstring>

#include "base/text.h"
#include "hive/hive.h"
#include "hive/regf_format.h"

namespace brisko::hive {

namespace {

constexpr size_t kIndexFrom = 64;  // lists this long get a name index

bool isAscii(std::string_view s) {
    for (unsigned char c : s)
        if (c >= 0x80) return false;
    return true;
}

uint32_t utf16Length(std::string_view s) {
    uint32_t n = 0;
    for (unsigned char c : s) {
        if ((c & 0xc0) != 0x80) ++n;
        if ((c >> 3) == 30) ++n;  // four-byte sequences need a surrogate pair
    }
    return n;
}

}  // namespace

std::string foldRegistryName(std::string_view name) {
    if (isAscii(name)) return upperCase(name);
    auto units = utf8ToUtf16le(name, false);
    for (size_t i = 0; i + 1 < units.size(); i += 2) {
        uint16_t u = regf::upcaseUnit(uint16_t(units[i] | (units[i + 1] << 8)));
        units[i] = uint8_t(u);
        units[i + 1] = uint8_t(u >> 8);
    }
    return utf16leToUtf8(units, false);
}

bool sameRegistryName(std::string_view a, std::string_view b) {
    // One pass while both are ASCII, which nearly every name is; names of the
    // same length in other letters are folded whole. Mostly the name asked
    // for is the one listed, letter for letter.
    if (a.size() == b.size()) {
        if (std::memcmp(a.data(), b.data(), a.size()) == 0) return true;
        for (size_t i = 0; i < a.size(); ++i) {
            unsigned char x = a[i], y = b[i];
            if ((x | y) >= 0x80) return foldRegistryName(a) == foldRegistryName(b);
            if (x != y && ((x | 0x20) != (y | 0x20) || unsigned((x | 0x20) - 'a') > 25u))
                return false;
        }
        return true;
    }
    if (isAscii(a) && isAscii(b)) return false;
    return foldRegistryName(a) == foldRegistryName(b);
}

namespace {

// FNV-1a of the folded name, without building it for ASCII names.
uint32_t foldedHash(std::string_view name) {
    uint32_t h = 2166136261u;
    if (!isAscii(name)) {
        for (unsigned char c : foldRegistryName(name)) h = (h ^ c) * 16777619u;
        return h;
    }
    for (unsigned char c : name) {
        if (c >= 'a' && c <= 'z') c = uint8_t(c - 32);
        h = (h ^ c) * 16777619u;
    }
    return h;
}

}  // namespace

std::optional<size_t> NameList::find(std::string_view name, size_t hint) const {
    if (hint < names.size() && sameRegistryName(names[hint], name)) return hint;
    if (!slots_.empty()) {
        // The first of equal names sits first along its probe run.
        const size_t mask = slots_.size() - 1;
        for (size_t s = foldedHash(name) & mask; slots_[s]; s = (s + 1) & mask)
            if (sameRegistryName(names[slots_[s] - 1], name)) return slots_[s] - 1;
        return std::nullopt;
    }
    for (size_t i = 0; i < names.size(); ++i)
        if (sameRegistryName(names[i], name)) return i;
    return std::nullopt;
}

void NameList::indexAt(size_t i) {
    const size_t mask = slots_.size() - 1;
    size_t s = foldedHash(names[i]) & mask;
    while (slots_[s]) s = (s + 1) & mask;
    slots_[s] = uint32_t(i + 1);
}

void NameList::unindex(size_t i) {
    const size_t mask = slots_.size() - 1;
    size_t hole = foldedHash(names[i]) & mask;
    while (slots_[hole] != i + 1) hole = (hole + 1) & mask;
    // Later entries of the probe run move back into the hole unless their
    // own slot lies after it; their order is kept.
    for (size_t j = (hole + 1) & mask; slots_[j]; j = (j + 1) & mask) {
        size_t home = foldedHash(names[slots_[j] - 1]) & mask;
        bool stays = hole <= j ? (hole < home && home <= j) : (hole < home || home <= j);
        if (stays) continue;
        slots_[hole] = slots_[j];
        hole = j;
    }
    slots_[hole] = 0;
    // The names after i move up by one (none when the last goes, as when a
    // fix deletes from the end).
    if (i + 1 < names.size())
        for (auto& slot : slots_)
            if (slot > i + 1) --slot;
}

void NameList::index() {
    size_t size = 16;
    while (size < 2 * names.size()) size *= 2;
    slots_.assign(size, 0);
    for (size_t i = 0; i < names.size(); ++i) indexAt(i);
}

void NameList::append(std::string name, size_t ref) {
    maxNameLen = std::max(maxNameLen, utf16Length(name));
    names.push_back(std::move(name));
    refs.push_back(ref);
    if (!slots_.empty() && 2 * names.size() <= slots_.size())
        indexAt(names.size() - 1);
    else if (names.size() >= kIndexFrom)
        index();
}

void NameList::append(std::string name, size_t ref, uint32_t size) {
    sizes.push_back(size);
    maxDataLen = std::max(maxDataLen, size);
    append(std::move(name), ref);
}

void NameList::replace(size_t i, size_t ref, uint32_t size) {
    refs[i] = ref;
    uint32_t old = sizes[i];
    sizes[i] = size;
    if (size >= maxDataLen) {
        maxDataLen = size;
    } else if (old == maxDataLen) {
        maxDataLen = 0;
        for (uint32_t s : sizes) maxDataLen = std::max(maxDataLen, s);
    }
}

void NameList::erase(size_t i) {
    const uint32_t len = utf16Length(names[i]);
    const uint32_t size = i < sizes.size() ? sizes[i] : 0;
    if (!slots_.empty()) unindex(i);
    names.erase(names.begin() + ptrdiff_t(i));
    refs.erase(refs.begin() + ptrdiff_t(i));
    if (i < sizes.size()) sizes.erase(sizes.begin() + ptrdiff_t(i));
    // The longest name and data change only when the erased one was the
    // longest, and then mostly another one as long is soon found.
    if (len == maxNameLen) {
        maxNameLen = 0;
        for (const auto& n : names)
            if ((maxNameLen = std::max(maxNameLen, utf16Length(n))) == len) break;
    }
    if (size == maxDataLen) {
        maxDataLen = 0;
        for (uint32_t s : sizes)
            if ((maxDataLen = std::max(maxDataLen, s)) == size) break;
    }
}

}  // namespace brisko::hive
