#pragma once
// The one settings record of the program and its file "options.ini" in the
// user's Application Data. The same file also keeps which clean items are
// checked, which top-level tree nodes are expanded, the registry sections and
// the main window's bounds.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/check_tree.h"

namespace brisko {

class Machine;
class IniFile;

struct TShortcut {
    bool IsCtrl = false;
    bool IsShift = false;
    bool IsAlt = false;
    std::string CharString;  // "F5"
    uint16_t CharAscII = 0;  // virtual-key code, 116 is F5

    bool operator==(const TShortcut&) const = default;
};

enum class TWindowState { wsNormal, wsMaximized };

// Everything zero until LoadSettings fills it.
struct TOptionsSetting {
    bool IsAskBeforeClear = false;
    bool IsWipeFile = false;
    int32_t WipeNumber = 0;  // 1..10 after a load
    bool EnableHotkey = false;
    TShortcut Hotkey;
    bool EnableIE = false;
    bool EnableNetscape = false;
    bool EnableFirefox = false;
    bool EnableOpera = false;
    bool AutoClean = false;
    int32_t CleanInterval = 0;  // 0..4; see scheduleIntervalMs
    bool StartClean = false;
    bool ShutdownClean = false;
    bool FastScan = false;
    int32_t SelectedCount = 0;
    ExpandArray FirstNodeExpand{};  // 1..11
    bool ShowLogTempInternetFiles = false;
    bool ShowLogRecycleBin = false;
    std::string OutputDirectory;
    bool DeleteBackupFile = false;
    bool IncludeRemoveMedia = false;  // true: ignore missing files on removable drives
    bool IncludeCDdrive = false;
    SectionCheckArray TreeViewNodeCheck{};  // 1..25
    int32_t IgnoreValueCount = 0;
    std::vector<std::string> IgnoreValueList;
    int32_t IgnoreKeyCount = 0;
    std::vector<std::string> IgnoreKeyList;
    TWindowState WindowState = TWindowState::wsNormal;
    int32_t Left = 0;
    int32_t Top = 0;
    int32_t Height = 0;
    int32_t Width = 0;
    bool RestorePoint = false;
    std::string LastFixTime;  // not stored

    bool operator==(const TOptionsSetting&) const = default;
};

// What a load needs from the main window: the screen and the window's design
// size, for centring a window that has no stored bounds.
struct WindowMetrics {
    int32_t screenWidth = 0;
    int32_t screenHeight = 0;
    int32_t width = 0;   // current (design) width
    int32_t height = 0;  // current (design) height
};

// What a save writes for the main window.
struct WindowPlacement {
    // Show command of the placement (1 normal, 2 minimised, 3 maximised);
    // nullopt when the placement could not be read: "State" is then left as it is.
    std::optional<int32_t> showCmd;
    int32_t left = 0;
    int32_t top = 0;
    int32_t width = 0;
    int32_t height = 0;
};

// Where the settings live, as Windows paths on the machine.
struct SettingsLocation {
    std::string settingsFolder;  // with trailing backslash
    std::string backupFolder;    // no trailing backslash
    std::string fileName;        // settingsFolder + "options.ini"
};

// Finds (and creates) the settings folder and the backup folder, and copies a
// default "options.ini" from beside the program when the user has none yet.
// With create off it only works out where they are and changes nothing, for
// commands that only read.
SettingsLocation LocateSettings(Machine& machine, bool create = true);
std::string SettingsFolder(Machine& machine);
std::string BackupFolder(Machine& machine);

// Reads the settings file of the machine into settings and checks the clean
// tree's items as saved. cleanTree may be null (no window: the selection is
// not applied). A missing or unreadable file gives the defaults. With create
// off nothing is created (LocateSettings), and defaults beside the program are
// read in place of a missing file.
void LoadSettings(Machine& machine, TOptionsSetting& settings, CheckTree* cleanTree,
                  const WindowMetrics& metrics, bool create = true);
// Writes settings and the state of both trees and the window. A null tree or
// window leaves what the file holds for it: no "NodeSelected" entries are
// written without a clean tree, TreeViewNodeCheck is written from settings
// without a section tree, and "Window" is not touched without a placement.
// False when the file could not be written (nothing is changed then).
bool SaveSettings(Machine& machine, TOptionsSetting& settings, const CheckTree* cleanTree,
                  const CheckTree* sectionTree, const WindowPlacement* window);

// The same two on an INI file in memory (the file location aside).
void loadSettingsFromIni(const IniFile& ini, TOptionsSetting& settings, CheckTree* cleanTree,
                         const WindowMetrics& metrics, const std::string& backupFolder);
void saveSettingsToIni(IniFile& ini, TOptionsSetting& settings, const CheckTree* cleanTree,
                       const CheckTree* sectionTree, const WindowPlacement* window);

// The "NodeSelected" texts the file holds (the first SelectedCount of them).
std::vector<std::string> readSelectedItems(const IniFile& ini);

// Reading and writing an INI file through the machine's files. Reading gives
// nullopt when the file is missing, unreadable or unreasonably large; writing
// goes to a file beside it that then replaces it, so a failed write leaves the
// old file whole.
std::optional<IniFile> readIniFile(Machine& machine, const std::string& winPath);
bool writeIniFile(Machine& machine, const std::string& winPath, const IniFile& ini);

// An ignore-list entry may be empty (a count larger than its entries loads
// empty entries). An empty entry, or one of nothing but blanks and
// backslashes, would match every key, so it is kept in the list (and saved)
// but never used to filter.
bool ignoreEntryUsable(const std::string& entry);
std::vector<std::string> usableIgnoreEntries(const std::vector<std::string>& entries);

}  // namespace brisko
