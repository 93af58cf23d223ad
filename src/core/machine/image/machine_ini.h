#pragma once
// machine.ini: the optional description of an image machine that the hives
// alone cannot give (drive letters and kinds, a forced version, the user).
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/machine/file_api.h"

namespace brisko {

struct MachineIni {
    std::vector<DriveInfo> drives;         // hostPath relative to the machine folder
    std::optional<std::string> version;    // "6.1.7601"
    std::optional<std::string> platform;   // "NT" or "9x"
    std::optional<bool> is64Bit;
    std::optional<std::string> user;       // profile folder name or account name
    std::optional<bool> administrator;
    std::optional<std::string> programFolder;      // Windows path
};

// Reads folder/machine.ini; an absent file gives an empty description.
// Throws std::runtime_error naming the line for values it cannot use.
MachineIni readMachineIni(const std::filesystem::path& folder);

}  // namespace brisko
