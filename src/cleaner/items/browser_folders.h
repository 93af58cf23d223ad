#pragma once
// Where the browsers keep their profiles on the machine. Every lookup answers
// with a trailing backslash, or empty when the machine has no such folder
// setting; whether the folder exists is for the caller to see.
#include <string>
#include <vector>

namespace brisko {

class CleanContext;
class Machine;

// The "Local AppData" value of the user's Shell Folders, expanded; empty when missing.
std::string localAppDataFolder(Machine& machine);

std::string firefoxProfilesFolder(Machine& machine);       // AppData\Mozilla\Firefox\Profiles
std::string firefoxLocalProfilesFolder(Machine& machine);  // Local AppData\Mozilla\Firefox\Profiles
std::string chromeProfileFolder(Machine& machine);  // Local AppData\Google\Chrome\User Data\Default
std::string operaFolder(Machine& machine);          // AppData\Opera
std::string operaLocalFolder(Machine& machine);     // Local AppData\Opera

// The Netscape profile below AppData\Netscape\NSB\Profiles: "pbzik8cu.default"
// when it is there, else the first subfolder whose path holds ".default"
// (case-sensitive), else the last one listed; empty when there is none.
std::string netscapeProfileFolder(CleanContext& ctx);

// The subfolders of folder (with a trailing backslash each), in listing order;
// links are left out, since the items never walk through one.
std::vector<std::string> subfoldersOf(Machine& machine, const std::string& folder);

}  // namespace brisko
