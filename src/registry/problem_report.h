#pragma once
// "Save as &Text..." of the problem list, and "&RegEdit...": where a row
// points the registry editor, and the key the editor remembers.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/machine/registry_api.h"
#include "registry/registry_problem.h"

namespace brisko {

inline constexpr std::string_view kSaveTextTitle = "Save as Text";
inline constexpr std::string_view kSaveTextFilter = "Text files (*.txt)";
inline constexpr std::string_view kOverwriteSuffix = " has existed,overite it?";
inline constexpr std::string_view kNoRegeditTargetText =
    "Please check whether the registry key or value exist.";
// Where the registry editor keeps the key it shows next ("LastKey").
inline constexpr std::string_view kRegeditAppletKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Applets\\Regedit";

// One line per row: problem, "  ^^^  ", data, "  ^^^  ", key path, CR LF.
std::string problemReportText(const std::vector<RegistryProblem>& rows);
// The name typed in the save dialog, with ".txt" added unless it ends in
// exactly ".txt" (REPORT.TXT becomes REPORT.TXT.txt).
std::string saveAsTextName(std::string_view typed);
// The same rule for the full backup: ".reg" unless it ends in ".reg" in any case.
std::string fullBackupName(std::string_view typed);

// The path "&RegEdit..." starts from for a row: the value's key for pkValue,
// the subkey for pkDataSubkey, nothing for a file, the key path otherwise.
std::string regeditTargetPath(const RegistryProblem& row);

// The value a row names, for the viewer to select: the last segment for
// pkValue, the data for pkDataValue, its Rot13 for pkRot13Value; empty otherwise.
std::string rowValueName(const RegistryProblem& row);

struct RegeditTarget {
    RootKey root = RootKey::LocalMachine;
    std::string key;    // full key path as the editor shows it (where the key really is)
    std::string value;  // empty: the key itself
};
// The key (or key and value) a path names, seen in `view` (the view the scan
// used); nullopt when it names none ("HK" missing, nothing there).
// HKLM, HKCU, HKU, HKCR, HKCC stand for the full root names.
std::optional<RegeditTarget> findRegeditTarget(RegistryApi& registry, RegistryView view,
                                               std::string_view path);
// Writes the key as the registry editor remembers its last one
// ("Computer\HKEY_..." from Vista on, "My Computer\HKEY_..." before). False
// when the registry refused it.
bool rememberRegeditKey(RegistryApi& registry, int osMajor, std::string_view fullKey);

}  // namespace brisko
