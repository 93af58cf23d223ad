// Registry names: comparison without case, and the shared name lists of keys.
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
    if (isAscii(a) && isAscii(b)) return equalsNoCase(a, b);
    return foldRegistryName(a) == foldRegistryName(b);
}

std::optional<size_t> NameList::find(std::string_view name, size_t hint) const {
    if (hint < names.size() && sameRegistryName(names[hint], name)) return hint;
    if (!byFolded_.empty()) {
        auto it = byFolded_.find(foldRegistryName(name));
        if (it == byFolded_.end()) return std::nullopt;
        return it->second;
    }
    for (size_t i = 0; i < names.size(); ++i)
        if (sameRegistryName(names[i], name)) return i;
    return std::nullopt;
}

void NameList::index() {
    byFolded_.clear();
    byFolded_.reserve(names.size());
    for (size_t i = 0; i < names.size(); ++i) byFolded_.emplace(foldRegistryName(names[i]), i);
}

void NameList::append(std::string name, size_t ref) {
    maxNameLen = std::max(maxNameLen, utf16Length(name));
    if (!byFolded_.empty()) byFolded_.emplace(foldRegistryName(name), names.size());
    names.push_back(std::move(name));
    refs.push_back(ref);
    if (byFolded_.empty() && names.size() >= kIndexFrom) index();
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
    // The index follows the erase: the name goes, the positions after it move
    // up by one (none when the last goes, as when a fix deletes from the end).
    if (!byFolded_.empty()) {
        byFolded_.erase(foldRegistryName(names[i]));
        if (i + 1 < names.size())
            for (auto& entry : byFolded_)
                if (entry.second > i) --entry.second;
    }
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
