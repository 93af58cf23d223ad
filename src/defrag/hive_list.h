#pragma once
// The hive list of the Defrag pane: every hive the system lists under
// HKLM\SYSTEM\CurrentControlSet\Control\hivelist that is backed by a file on a
// fixed drive, in the order the registry returns them.
#include <string>
#include <string_view>
#include <vector>

namespace brisko {

class Machine;
class FileApi;

struct HiveEntry {
    std::string name;  // "\REGISTRY\MACHINE\SYSTEM"
    std::string file;  // "C:\Windows\system32\config\SYSTEM"
};

std::vector<HiveEntry> BuildHiveList(Machine& machine, bool isWow64);

// "\Device\HarddiskVolume2\Windows\System32\config\SAM" -> "C:\Windows\System32\config\SAM";
// empty when no drive letter names the device or the file does not exist.
std::string MapHiveFilePath(FileApi& files, std::string_view ntPath, bool isWow64);
// On 64-bit Windows a 32-bit program sees System32 as "sysnative".
std::string RedirectSystem32(FileApi& files, std::string_view path);

// The compact copy and the backup beside a hive file.
inline std::string HiveCopyFile(std::string_view hiveFile) {
    return std::string(hiveFile) + ".fdc";
}
inline std::string HiveBackupFile(std::string_view hiveFile) {
    return std::string(hiveFile) + ".bak";
}

}  // namespace brisko
