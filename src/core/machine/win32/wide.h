#pragma once
// UTF-8 inside the program, UTF-16 at the Win32 boundary.
#include <string>
#include <string_view>

namespace brisko::win32 {

std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view utf16);
// A Windows path with a trailing backslash (none added to an empty one).
std::string withBackslash(std::string s);

}  // namespace brisko::win32
