#pragma once
// Small text helpers shared by every module: Windows-style case-insensitive
// comparison, UTF-16LE conversion for registry data, wildcard matching.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace brisko {

std::string upperCase(std::string_view s);  // ASCII letters only, as the ANSI program did
std::string lowerCase(std::string_view s);
bool equalsNoCase(std::string_view a, std::string_view b);
bool startsWithNoCase(std::string_view s, std::string_view prefix);
bool endsWithNoCase(std::string_view s, std::string_view suffix);
// Position of needle in hay ignoring case, or npos.
size_t findNoCase(std::string_view hay, std::string_view needle);

// UTF-8 <-> UTF-16LE bytes as the registry stores strings. Invalid input is
// replaced with U+FFFD rather than rejected.
// Appends one code point as UTF-8.
void appendUtf8(std::string& out, uint32_t cp);
std::vector<uint8_t> utf8ToUtf16le(std::string_view s, bool addNul = true);
std::string utf16leToUtf8(const uint8_t* data, size_t bytes, bool stopAtNul = true);
// The same into `out`, whose buffer is reused: walks convert many values.
void utf16leToUtf8(const uint8_t* data, size_t bytes, std::string& out, bool stopAtNul = true);
inline std::string utf16leToUtf8(const std::vector<uint8_t>& d, bool stopAtNul = true) {
    return utf16leToUtf8(d.data(), d.size(), stopAtNul);
}

// Windows file-name wildcard match ("*.*" matches every name, "?" one character),
// case-insensitive.
bool wildcardMatch(std::string_view mask, std::string_view name);

// Splits on a single-character separator; empty parts are kept.
std::vector<std::string> split(std::string_view s, char sep);
std::string_view trim(std::string_view s);

// Windows path helpers (backslash separated).
std::string includeTrailingBackslash(std::string_view p);
std::string excludeTrailingBackslash(std::string_view p);
std::string extractFileName(std::string_view p);  // after the last '\' or ':'
std::string extractFilePath(std::string_view p);  // up to and including the last '\' or ':'
std::string extractFileExt(std::string_view p);   // from the last '.' of the name, with the dot

}  // namespace brisko
