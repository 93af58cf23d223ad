#pragma once
// The demo machine: a small but lifelike Windows 7 installation that both
// front ends open when no machine is named.
#include <filesystem>
#include <string>
#include <string_view>

namespace brisko {

// Writes the demo machine into folder (created; must be empty or absent).
// Throws std::runtime_error with a message for a person.
void createDemoMachine(const std::filesystem::path& folder);

// The machine folder to open: the option if given, else BRISKO_MACHINE, else
// the demo machine under the user's data folder
// ($XDG_DATA_HOME or ~/.local/share, "brisko/demo-machine"), created on first use.
std::filesystem::path chooseMachineFolder(std::string_view option);

}  // namespace brisko
