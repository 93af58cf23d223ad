#pragma once
// The ANSI code page of a Western Windows installation (Windows-1252) next to
// UTF-8: what REGEDIT4 files and other 8-bit text of the program are written in.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brisko {

// Strict check: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(std::string_view s);

// Windows-1252 bytes to UTF-8. Every byte maps to a character (the five bytes
// the code page leaves undefined map to the control characters of the same
// number, as Windows does), so nothing is lost.
std::string ansiToUtf8(std::string_view bytes);

// UTF-8 to Windows-1252; nullopt when a character has no ANSI form or the text
// is not valid UTF-8.
std::optional<std::string> utf8ToAnsi(std::string_view text);

// 8-bit text of unknown kind: UTF-8 when it is valid UTF-8, otherwise ANSI.
// Plain ASCII is the same either way; real ANSI text with accents is almost
// never valid UTF-8.
std::string eightBitToUtf8(std::string_view bytes);

}  // namespace brisko
