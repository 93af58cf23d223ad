#pragma once
// The programs Windows starts at logon: the values of the run keys and the
// shortcuts of the two Startup folders, as the Startup manager lists them.
#include <string>
#include <string_view>
#include <vector>

namespace brisko {

class Machine;

// One row of the list. The location says where the entry lives and drives its
// deletion: a full key path for a run value, or one of the two folder names.
struct StartupEntry {
    std::string name;      // the value name, or the shortcut's file name with extension
    std::string file;      // the value's data as stored, or the shortcut's target
    std::string location;  // "HKEY_CURRENT_USER\Software\...\Run", "Startup", "Common Startup"
};

inline constexpr std::string_view kStartupLocation = "Startup";
inline constexpr std::string_view kCommonStartupLocation = "Common Startup";

// One run key: every string or expandable string value in registry order. A
// root name other than the five, or a key that cannot be opened, lists nothing.
void ListRegistryStartup(Machine& machine, std::string_view rootName, std::string_view keyPath,
                         std::vector<StartupEntry>& out);
// One Startup folder (a CSIDL number): every shortcut (".lnk" in any case, not a
// folder) that has a file-system target.
void ListStartupFolder(Machine& machine, int csidl, std::string_view location,
                       std::vector<StartupEntry>& out);

// Every source in order: the Run, Policies\Explorer\Run and RunOnce keys of
// the user and the machine, RunServices on the 9x family, the 32-bit Run keys
// on 64-bit Windows, then the user's and the common Startup folder.
std::vector<StartupEntry> ListStartupEntries(Machine& machine, int windowsVersionCode);

}  // namespace brisko
