#include "core/machine/short_names.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <set>

#include "base/text.h"
#include "core/machine/file_api.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <locale.h>
#include <wctype.h>
#endif

namespace brisko {

namespace {

// One code point upper-cased as the file system compares names.
uint32_t upperCodePoint(uint32_t cp) {
#ifdef _WIN32
    if (cp > 0xffff) return cp;  // outside the BMP Windows leaves names as they are
    wchar_t c = wchar_t(cp);
    CharUpperBuffW(&c, 1);
    return uint32_t(c);
#else
    static locale_t loc = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(0));
    return loc ? uint32_t(towupper_l(wint_t(cp), loc)) : cp;
#endif
}

bool shortNameChar(unsigned char c) {
    if (c <= ' ' || c >= 0x7f) return false;
    return std::string_view("\"*+,./:;<=>?[\\]|").find(char(c)) == std::string_view::npos;
}

// Characters of a long name as they go into its alias: spaces and dots
// dropped, characters 8.3 names cannot hold replaced by '_'.
std::string shortNameChars(std::string_view s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        unsigned char c = s[i];
        if (c == ' ' || c == '.') continue;
        if (c >= 0x80) {
            if ((c & 0xc0) != 0x80) out.push_back('_');  // one '_' per character
            continue;
        }
        out.push_back(shortNameChar(c) ? char(std::toupper(c)) : '_');
    }
    return out;
}

}  // namespace

std::string foldName(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = s[i];
        if (c < 0x80) {
            out.push_back(c >= 'a' && c <= 'z' ? char(c - 32) : char(c));
            ++i;
            continue;
        }
        size_t len = c >= 0xf0 && c < 0xf8 ? 4 : c >= 0xe0 && c < 0xf0 ? 3 : c >= 0xc0 ? 2 : 0;
        uint32_t cp = c & (0x7f >> len);
        bool ok = len && i + len <= s.size();
        for (size_t k = 1; ok && k < len; ++k) {
            unsigned char b = s[i + k];
            ok = (b & 0xc0) == 0x80;
            cp = (cp << 6) | (b & 0x3f);
        }
        if (!ok) {  // not UTF-8: compare the byte as it is
            out.push_back(char(c));
            ++i;
            continue;
        }
        appendUtf8(out, upperCodePoint(cp));
        i += len;
    }
    return out;
}

bool isShortName(std::string_view name) {
    size_t dot = name.find('.');
    std::string_view base = name.substr(0, dot);
    std::string_view ext = dot == std::string_view::npos ? "" : name.substr(dot + 1);
    if (base.empty() || base.size() > 8 || ext.size() > 3) return false;
    if (dot != std::string_view::npos && ext.empty()) return false;
    for (unsigned char c : base)
        if (!shortNameChar(c)) return false;
    for (unsigned char c : ext)
        if (!shortNameChar(c)) return false;
    return true;
}

std::string makeShortName(std::string_view name, const std::vector<std::string>& siblings) {
    if (isShortName(name)) return std::string(name);
    std::vector<std::string> names(siblings.begin(), siblings.end());
    if (std::find(names.begin(), names.end(), name) == names.end()) names.emplace_back(name);
    for (const auto& [alias, longName] : shortNameAliases(std::move(names)))
        if (longName == name) return alias;
    return std::string(name);
}

std::map<std::string, std::string> shortNameAliases(std::vector<std::string> names) {
    // Aliases are handed out in listing order, skipping any that a real 8.3
    // name in the folder already uses.
    std::map<std::string, std::string> aliases;
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        auto fa = foldName(a), fb = foldName(b);
        return fa != fb ? fa < fb : a < b;
    });
    std::set<std::string> used;
    for (const auto& n : names)
        if (isShortName(n)) used.insert(foldName(n));
    for (const auto& n : names) {
        if (isShortName(n)) continue;
        std::string_view s = n;
        while (!s.empty() && s.front() == '.') s.remove_prefix(1);
        size_t dot = s.rfind('.');
        std::string base = shortNameChars(s.substr(0, dot));
        std::string ext =
            dot == std::string_view::npos ? "" : shortNameChars(s.substr(dot + 1)).substr(0, 3);
        if (base.empty()) base = "_";
        std::string alias;
        for (int k = 1; k < 1000000; ++k) {
            std::string tail = "~" + std::to_string(k);
            alias = base.substr(0, 8 - tail.size()) + tail + (ext.empty() ? "" : "." + ext);
            if (used.insert(alias).second) break;
        }
        aliases.emplace(alias, n);
    }
    return aliases;
}

ShortNames FileApi::shortNames(std::string_view folder) {
    std::vector<std::string> names;
    if (auto entries = findFiles(folder, "*"))
        for (auto& e : *entries)
            if (e.name != "." && e.name != "..") names.push_back(std::move(e.name));
    return ShortNames{false, shortNameAliases(std::move(names))};
}

}  // namespace brisko
