#include "core/machine/code_page.h"

#include "base/text.h"

#include <array>

namespace brisko {

namespace {

// 0x80..0x9F of Windows-1252; the rest of the code page equals Latin-1.
constexpr std::array<uint16_t, 32> kHigh{
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Decodes one UTF-8 sequence at s[i]; returns its length, 0 when invalid.
size_t decodeUtf8(std::string_view s, size_t i, uint32_t& cp) {
    auto b = [&](size_t k) { return static_cast<unsigned char>(s[i + k]); };
    auto cont = [&](size_t k) { return i + k < s.size() && (b(k) & 0xc0) == 0x80; };
    unsigned char c = b(0);
    if (c < 0x80) {
        cp = c;
        return 1;
    }
    if (c >= 0xc2 && c <= 0xdf && cont(1)) {
        cp = ((c & 0x1fu) << 6) | (b(1) & 0x3fu);
        return 2;
    }
    if (c >= 0xe0 && c <= 0xef && cont(1) && cont(2)) {
        cp = ((c & 0x0fu) << 12) | ((b(1) & 0x3fu) << 6) | (b(2) & 0x3fu);
        if (cp < 0x800 || (cp >= 0xd800 && cp < 0xe000)) return 0;
        return 3;
    }
    if (c >= 0xf0 && c <= 0xf4 && cont(1) && cont(2) && cont(3)) {
        cp = ((c & 0x07u) << 18) | ((b(1) & 0x3fu) << 12) | ((b(2) & 0x3fu) << 6) | (b(3) & 0x3fu);
        if (cp < 0x10000 || cp > 0x10ffff) return 0;
        return 4;
    }
    return 0;
}

}  // namespace

bool isValidUtf8(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        uint32_t cp;
        size_t n = decodeUtf8(s, i, cp);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

std::string ansiToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 4);
    for (char ch : bytes) {
        auto c = static_cast<unsigned char>(ch);
        appendUtf8(out, (c >= 0x80 && c < 0xa0) ? kHigh[c - 0x80] : c);
    }
    return out;
}

std::optional<std::string> utf8ToAnsi(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        uint32_t cp;
        size_t n = decodeUtf8(text, i, cp);
        if (n == 0) return std::nullopt;
        i += n;
        if (cp < 0x80 || (cp >= 0xa0 && cp < 0x100)) {
            out.push_back(char(cp));
            continue;
        }
        size_t k = 0;
        while (k < kHigh.size() && kHigh[k] != cp) ++k;
        if (k == kHigh.size()) return std::nullopt;
        out.push_back(char(0x80 + k));
    }
    return out;
}

std::string eightBitToUtf8(std::string_view bytes) {
    return isValidUtf8(bytes) ? std::string(bytes) : ansiToUtf8(bytes);
}

}  // namespace brisko
