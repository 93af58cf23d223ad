#pragma once
// Where the benchmarks find the hives of a demo machine.
#include <filesystem>

#include "base/text.h"

namespace brisko::bench {

// The user's NTUSER.DAT (not the Default profile's); empty when there is none.
inline std::filesystem::path findUserHive(const std::filesystem::path& machine) {
    for (const auto& e : std::filesystem::recursive_directory_iterator(machine))
        if (e.is_regular_file() && equalsNoCase(e.path().filename().string(), "NTUSER.DAT") &&
            e.path().string().find("Default") == std::string::npos)
            return e.path();
    return {};
}

}  // namespace brisko::bench
