#pragma once
// "Cookies.ini" in the program's folder: the cookies the user keeps. Section
// "Cookies to Keep", "Count" entries under the keys "0" .. Count - 1; an entry
// is a cookie host as the Options dialog shows it, or, when it contains
// ".txt", the name of one cookie file. Keys at or above Count may be left from
// an older, longer list and are ignored.
#include <string>
#include <string_view>
#include <vector>

namespace brisko {

class Machine;

inline constexpr std::string_view kCookieKeepFile = "Cookies.ini";
inline constexpr std::string_view kCookieKeepSection = "Cookies to Keep";

// The non-empty entries in list order; empty when the file is absent.
std::vector<std::string> LoadCookieKeepList(Machine& machine);

// Whether the cookie file fileName with the given host is kept: a file entry
// matches its name, any other entry its host (both case-sensitive).
bool CookieIsKept(const std::vector<std::string>& keepList, std::string_view fileName,
                  std::string_view host);

}  // namespace brisko
