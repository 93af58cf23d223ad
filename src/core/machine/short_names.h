#pragma once
// File names as Windows compares them, and the 8.3 aliases it hands out.
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace brisko {

// The name upper-cased the way file names compare on Windows (Unicode letters
// too, not only ASCII).
std::string foldName(std::string_view name);

// The 8.3 alias Windows would give a name among its siblings; the name itself
// when it already is a valid 8.3 name.
bool isShortName(std::string_view name);
std::string makeShortName(std::string_view name, const std::vector<std::string>& siblings);
// The 8.3 alias of every long name of a folder: alias (upper case) -> name.
std::map<std::string, std::string> shortNameAliases(std::vector<std::string> names);

}  // namespace brisko
