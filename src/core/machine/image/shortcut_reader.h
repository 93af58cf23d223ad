#pragma once
// Reads the target of a Windows shortcut (.lnk) file with liblnk.
#include <filesystem>
#include <string>

namespace brisko {

// The target's Windows path: the local path, else the environment-variable
// location (unexpanded), else the network path. Empty when the file is not a
// shortcut or names no target.
std::string readShortcutTarget(const std::filesystem::path& hostFile);

}  // namespace brisko
