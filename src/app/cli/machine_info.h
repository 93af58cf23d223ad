#pragma once
// What `brisko info` reports of any machine, image or running Windows: the
// version, user, folders, drives and special folders. Each backend adds its
// own "machine" name and hive list.
#include <nlohmann/json.hpp>
#include <string_view>

#include "core/machine/machine.h"

namespace brisko::cli {

// Every field but "machine" and "hives". Drives carry "hostPath" when asked.
nlohmann::json machineInfoJson(Machine& m, bool withHostPaths);
// The text form of machineInfoJson up to the drive list, under "Machine:".
void printMachineInfo(const nlohmann::json& j, std::string_view machineName);
// The special folders by CSIDL, as the text form ends.
void printSpecialFolders(const nlohmann::json& j);

}  // namespace brisko::cli
