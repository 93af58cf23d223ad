#pragma once
// Reads the target of a Windows shortcut (.lnk) file with liblnk.
#include <filesystem>
#include <string>

namespace brisko {

// The target's Windows path: the local path, else the environment-variable
// location, else the network path. Empty when the file is not a shortcut or
// names no target. fromEnvironment, when given, is set when the target is the
// environment-variable location, which Windows expands with the environment of
// the machine the shortcut is used on.
std::string readShortcutTarget(const std::filesystem::path& hostFile,
                               bool* fromEnvironment = nullptr);

}  // namespace brisko
