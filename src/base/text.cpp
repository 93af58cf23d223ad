#include "base/text.h"

#include <algorithm>

namespace brisko {

namespace {
char up(char c) {
    return (c >= 'a' && c <= 'z') ? char(c - 32) : c;
}
char low(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c + 32) : c;
}
}  // namespace

std::string upperCase(std::string_view s) {
    std::string r(s);
    for (auto& c : r) c = up(c);
    return r;
}

std::string lowerCase(std::string_view s) {
    std::string r(s);
    for (auto& c : r) c = low(c);
    return r;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (up(a[i]) != up(b[i])) return false;
    return true;
}

bool startsWithNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && equalsNoCase(s.substr(0, prefix.size()), prefix);
}

bool endsWithNoCase(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && equalsNoCase(s.substr(s.size() - suffix.size()), suffix);
}

size_t findNoCase(std::string_view hay, std::string_view needle) {
    if (needle.empty()) return 0;
    if (needle.size() > hay.size()) return std::string_view::npos;
    for (size_t i = 0; i + needle.size() <= hay.size(); ++i)
        if (equalsNoCase(hay.substr(i, needle.size()), needle)) return i;
    return std::string_view::npos;
}

std::vector<uint8_t> utf8ToUtf16le(std::string_view s, bool addNul) {
    std::vector<uint8_t> out;
    out.reserve(s.size() * 2 + 2);
    auto put = [&](uint32_t u) {
        out.push_back(uint8_t(u & 0xff));
        out.push_back(uint8_t(u >> 8));
    };
    size_t i = 0;
    while (i < s.size()) {
        auto c = static_cast<unsigned char>(s[i]);
        uint32_t cp = 0xfffd;
        size_t len = 1;
        if (c < 0x80) {
            cp = c;
        } else if ((c >> 5) == 6 && i + 1 < s.size()) {
            cp = ((c & 0x1f) << 6) | (s[i + 1] & 0x3f);
            len = 2;
        } else if ((c >> 4) == 14 && i + 2 < s.size()) {
            cp = ((c & 0x0f) << 12) | ((s[i + 1] & 0x3f) << 6) | (s[i + 2] & 0x3f);
            len = 3;
        } else if ((c >> 3) == 30 && i + 3 < s.size()) {
            cp = ((c & 0x07) << 18) | ((s[i + 1] & 0x3f) << 12) | ((s[i + 2] & 0x3f) << 6) |
                 (s[i + 3] & 0x3f);
            len = 4;
        }
        i += len;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            put(0xd800 | (cp >> 10));
            put(0xdc00 | (cp & 0x3ff));
        } else {
            put(cp);
        }
    }
    if (addNul) put(0);
    return out;
}

void appendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(char(cp));
    } else if (cp < 0x800) {
        out.push_back(char(0xc0 | (cp >> 6)));
        out.push_back(char(0x80 | (cp & 0x3f)));
    } else if (cp < 0x10000) {
        out.push_back(char(0xe0 | (cp >> 12)));
        out.push_back(char(0x80 | ((cp >> 6) & 0x3f)));
        out.push_back(char(0x80 | (cp & 0x3f)));
    } else {
        out.push_back(char(0xf0 | (cp >> 18)));
        out.push_back(char(0x80 | ((cp >> 12) & 0x3f)));
        out.push_back(char(0x80 | ((cp >> 6) & 0x3f)));
        out.push_back(char(0x80 | (cp & 0x3f)));
    }
}

std::string utf16leToUtf8(const uint8_t* data, size_t bytes, bool stopAtNul) {
    std::string out;
    utf16leToUtf8(data, bytes, out, stopAtNul);
    return out;
}

void utf16leToUtf8(const uint8_t* data, size_t bytes, std::string& out, bool stopAtNul) {
    size_t n = bytes / 2;
    // Nearly all registry text is ASCII: copied straight, up to the first
    // other unit.
    out.resize(n);
    size_t i = 0;
    for (; i < n; ++i) {
        uint8_t lo = data[2 * i], hi = data[2 * i + 1];
        if (hi || lo >= 0x80 || (!lo && stopAtNul)) break;
        out[i] = char(lo);
    }
    out.resize(i);
    auto emit = [&](uint32_t cp) { appendUtf8(out, cp); };
    for (; i < n; ++i) {
        uint32_t u = data[2 * i] | (uint32_t(data[2 * i + 1]) << 8);
        if (u == 0 && stopAtNul) break;
        if (u >= 0xd800 && u < 0xdc00 && i + 1 < n) {
            uint32_t lo = data[2 * i + 2] | (uint32_t(data[2 * i + 3]) << 8);
            if (lo >= 0xdc00 && lo < 0xe000) {
                emit(0x10000 + ((u - 0xd800) << 10) + (lo - 0xdc00));
                ++i;
                continue;
            }
        }
        if (u >= 0xd800 && u < 0xe000) u = 0xfffd;
        emit(u);
    }
}

bool wildcardMatch(std::string_view mask, std::string_view name) {
    // "*.*" is the classic any-file mask and also matches names without a dot.
    if (mask == "*.*" || mask == "*") return true;
    size_t m = 0, n = 0, starM = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (m < mask.size() && (mask[m] == '?' || up(mask[m]) == up(name[n]))) {
            ++m;
            ++n;
        } else if (m < mask.size() && mask[m] == '*') {
            starM = m++;
            starN = n;
        } else if (starM != std::string_view::npos) {
            m = starM + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (m < mask.size() && (mask[m] == '*' || (mask[m] == '.' && m + 1 == mask.size()))) ++m;
    // "name.*" also matches "name" without an extension, as on Windows.
    if (m + 2 == mask.size() && mask[m] == '.' && mask[m + 1] == '*') return true;
    return m == mask.size();
}

std::vector<std::string> split(std::string_view s, char sep) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t p = s.find(sep, start);
        if (p == std::string_view::npos) {
            parts.emplace_back(s.substr(start));
            return parts;
        }
        parts.emplace_back(s.substr(start, p - start));
        start = p + 1;
    }
}

std::string_view trim(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
    return s.substr(b, e - b);
}

std::string includeTrailingBackslash(std::string_view p) {
    std::string r(p);
    if (r.empty() || r.back() != '\\') r.push_back('\\');
    return r;
}

std::string excludeTrailingBackslash(std::string_view p) {
    std::string r(p);
    if (!r.empty() && r.back() == '\\') r.pop_back();
    return r;
}

std::string extractFileName(std::string_view p) {
    size_t i = p.find_last_of("\\:");
    return std::string(i == std::string_view::npos ? p : p.substr(i + 1));
}

std::string extractFilePath(std::string_view p) {
    size_t i = p.find_last_of("\\:");
    return i == std::string_view::npos ? std::string() : std::string(p.substr(0, i + 1));
}

std::string extractFileExt(std::string_view p) {
    size_t i = p.find_last_of(".\\:");
    if (i == std::string_view::npos || p[i] != '.') return {};
    return std::string(p.substr(i));
}

}  // namespace brisko
