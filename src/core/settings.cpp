#include "core/settings.h"

#include <algorithm>

#include "base/text.h"
#include "core/ini_file.h"
#include "core/machine/file_read.h"
#include "core/machine/machine.h"
#include "core/temp_name.h"

namespace brisko {

namespace {

constexpr int64_t kMaxIniBytes = 64ll << 20;
// A count far beyond any real list means a damaged file; reading it as it
// stands would allocate without bound.
constexpr int32_t kMaxListEntries = 100000;

constexpr const char* kOptions = "Options";
constexpr const char* kHotkey = "Hotkey";
constexpr const char* kSchedule = "SChedule";
constexpr const char* kNodeSelected = "NodeSelected";
constexpr const char* kFirstNodeExpand = "FirstNodeExpand";
constexpr const char* kSettings = "Settings";
constexpr const char* kTreeViewNodeCheck = "TreeViewNodeCheck";
constexpr const char* kIgnoreValue = "IgnoreValue";
constexpr const char* kIgnoreKey = "IgnoreKey";
constexpr const char* kWindow = "Window";

// The number a key name stands for when it is the plain decimal form that a
// lookup by number would use ("7", not "07" or "+7"); 0 otherwise.
int32_t keyNumber(std::string_view key) {
    if (key.empty() || key.size() > 10 || key[0] == '0') return 0;
    int64_t n = 0;
    for (char c : key) {
        if (c < '0' || c > '9') return 0;
        n = n * 10 + (c - '0');
    }
    return n > INT32_MAX ? 0 : static_cast<int32_t>(n);
}

std::vector<std::string> readList(const IniFile& ini, const char* section, const char* prefix,
                                  int32_t& count) {
    count = std::clamp(ini.readInteger(section, "Count", 0), 0, kMaxListEntries);
    std::vector<std::string> list;
    list.reserve(static_cast<size_t>(count));
    for (int32_t i = 1; i <= count; ++i)
        list.push_back(ini.readString(section, prefix + std::to_string(i), ""));
    return list;
}

void writeList(IniFile& ini, const char* section, const char* prefix,
               const std::vector<std::string>& list, int32_t& count) {
    count = static_cast<int32_t>(list.size());
    ini.writeInteger(section, "Count", count);
    for (size_t i = 0; i < list.size(); ++i)
        ini.writeString(section, prefix + std::to_string(i + 1), list[i]);
}

}  // namespace

SettingsLocation LocateSettings(Machine& machine, bool create) {
    FileApi& files = machine.files();
    SettingsLocation loc;
    std::string appData = machine.specialFolder(CSIDL_APPDATA);
    bool ok = false;
    if (!appData.empty()) {
        loc.settingsFolder = includeTrailingBackslash(appData) + "Brisko\\Brisko Cleaner\\";
        ok = files.directoryExists(loc.settingsFolder) ||
             (create ? files.forceDirectories(loc.settingsFolder) : files.directoryExists(appData));
    }
    if (!ok) loc.settingsFolder = includeTrailingBackslash(machine.programFolder());

    loc.backupFolder = loc.settingsFolder + "Backup";
    if (create && !files.directoryExists(loc.backupFolder))
        files.forceDirectories(loc.backupFolder);

    loc.fileName = loc.settingsFolder + "options.ini";
    // Defaults an installation placed beside the program seed the user's file once.
    std::string defaults = includeTrailingBackslash(machine.programFolder()) + "options.ini";
    if (create && !files.fileExists(loc.fileName) && files.fileExists(defaults))
        files.copyFile(defaults, loc.fileName, false);
    return loc;
}

std::string SettingsFolder(Machine& machine) {
    return LocateSettings(machine).settingsFolder;
}
std::string BackupFolder(Machine& machine) {
    return LocateSettings(machine).backupFolder;
}

void loadSettingsFromIni(const IniFile& ini, TOptionsSetting& s, CheckTree* cleanTree,
                         const WindowMetrics& metrics, const std::string& backupFolder) {
    s.IsAskBeforeClear = ini.readBool(kOptions, "IsAskBeforeClear", true);
    s.IsWipeFile = ini.readBool(kOptions, "IsWipeFile", false);
    s.WipeNumber = ini.readInteger(kOptions, "WipeNumber", 1);
    if (s.WipeNumber > 10 || s.WipeNumber < 1) s.WipeNumber = 1;

    s.EnableHotkey = ini.readBool(kHotkey, "EnableHotkey", false);
    s.Hotkey.IsCtrl = ini.readBool(kHotkey, "IsCtrl", true);
    s.Hotkey.IsShift = ini.readBool(kHotkey, "IsShift", false);
    s.Hotkey.IsAlt = ini.readBool(kHotkey, "IsAlt", false);
    s.Hotkey.CharString = ini.readString(kHotkey, "CharString", "F5");
    s.Hotkey.CharAscII = static_cast<uint16_t>(ini.readInteger(kHotkey, "CharAscII", 116));
    s.EnableIE = ini.readBool(kHotkey, "EnableIE", false);
    s.EnableNetscape = ini.readBool(kHotkey, "EnableNetscape", false);
    s.EnableFirefox = ini.readBool(kHotkey, "EnableFirefox", false);
    s.EnableOpera = ini.readBool(kHotkey, "EnableOpera", false);

    s.AutoClean = ini.readBool(kSchedule, "AutoClean", false);
    s.CleanInterval = ini.readInteger(kSchedule, "CleanInterval", 0);
    s.StartClean = ini.readBool(kSchedule, "StartClean", false);
    s.ShutdownClean = ini.readBool(kSchedule, "ShutdownClean", false);

    if (cleanTree) cleanTree->uncheckAll();
    s.SelectedCount = ini.readInteger(kNodeSelected, "SelectedCount", 0);
    if (cleanTree) {
        // Only keys that exist can match a node (a missing one reads as empty),
        // so walk those instead of counting up to a possibly huge count.
        // Group states are left as stored.
        for (const auto& key : ini.keys(kNodeSelected)) {
            int32_t n = keyNumber(key);
            if (n < 1 || n > s.SelectedCount) continue;
            if (CheckNode* node = cleanTree->findByLogCaption(ini.readString(kNodeSelected, key)))
                node->checked = true;
        }
    }

    for (int i = 1; i <= kExpandSlots; ++i)
        s.FirstNodeExpand[i] = ini.readBool(kFirstNodeExpand, std::to_string(i), true);

    s.ShowLogTempInternetFiles = ini.readBool(kSettings, "ShowLogTempInternetFiles", false);
    s.ShowLogRecycleBin = ini.readBool(kSettings, "ShowLogRecycleBin", false);
    s.FastScan = ini.readBool(kSettings, "FastScan", true);

    s.OutputDirectory = ini.readString(kOptions, "OutputDirectory", backupFolder);
    s.DeleteBackupFile = ini.readBool(kOptions, "DeleteBackupFile", true);
    s.IncludeRemoveMedia = ini.readBool(kOptions, "IncludeRemoveMedia", true);
    s.IncludeCDdrive = ini.readBool(kOptions, "IncludeCDdrive", false);

    for (int i = 1; i <= kSectionSlots; ++i)
        s.TreeViewNodeCheck[i] = ini.readBool(kTreeViewNodeCheck, std::to_string(i), true);

    s.IgnoreValueList = readList(ini, kIgnoreValue, "Value", s.IgnoreValueCount);
    s.IgnoreKeyList = readList(ini, kIgnoreKey, "Key", s.IgnoreKeyCount);

    if (ini.readInteger(kWindow, "State", 1) == 3) {
        s.WindowState = TWindowState::wsMaximized;
    } else {
        s.WindowState = TWindowState::wsNormal;
        s.Left = ini.readInteger(kWindow, "Left", (metrics.screenWidth - metrics.width) / 2);
        s.Top = ini.readInteger(kWindow, "Top", (metrics.screenHeight - metrics.height) / 2);
        s.Width = ini.readInteger(kWindow, "Width", metrics.width);
        s.Height = ini.readInteger(kWindow, "Height", metrics.height);
    }

    s.RestorePoint = ini.readBool(kOptions, "RestorePoint", false);
}

void saveSettingsToIni(IniFile& ini, TOptionsSetting& s, const CheckTree* cleanTree,
                       const CheckTree* sectionTree, const WindowPlacement* window) {
    ini.writeBool(kOptions, "IsAskBeforeClear", s.IsAskBeforeClear);
    ini.writeBool(kOptions, "IsWipeFile", s.IsWipeFile);
    ini.writeInteger(kOptions, "WipeNumber", s.WipeNumber);

    ini.writeBool(kHotkey, "EnableHotkey", s.EnableHotkey);
    ini.writeBool(kHotkey, "IsCtrl", s.Hotkey.IsCtrl);
    ini.writeBool(kHotkey, "IsShift", s.Hotkey.IsShift);
    ini.writeBool(kHotkey, "IsAlt", s.Hotkey.IsAlt);
    ini.writeString(kHotkey, "CharString", s.Hotkey.CharString);
    ini.writeInteger(kHotkey, "CharAscII", s.Hotkey.CharAscII);
    ini.writeBool(kHotkey, "EnableIE", s.EnableIE);
    ini.writeBool(kHotkey, "EnableNetscape", s.EnableNetscape);
    ini.writeBool(kHotkey, "EnableFirefox", s.EnableFirefox);
    ini.writeBool(kHotkey, "EnableOpera", s.EnableOpera);

    ini.writeBool(kSchedule, "AutoClean", s.AutoClean);
    ini.writeInteger(kSchedule, "CleanInterval", s.CleanInterval);
    ini.writeBool(kSchedule, "StartClean", s.StartClean);
    ini.writeBool(kSchedule, "ShutdownClean", s.ShutdownClean);

    if (cleanTree) {
        // Higher-numbered keys of an earlier save stay; the count bounds the read.
        s.SelectedCount = 0;
        cleanTree->forEach([&](CheckNode& n) {
            if (!n.checked) return;
            ++s.SelectedCount;
            ini.writeString(kNodeSelected, std::to_string(s.SelectedCount), logCaption(n));
        });
        ini.writeInteger(kNodeSelected, "SelectedCount", s.SelectedCount);
    }

    for (int i = 1; i <= kExpandSlots; ++i)
        ini.writeBool(kFirstNodeExpand, std::to_string(i), s.FirstNodeExpand[i]);

    ini.writeBool(kSettings, "ShowLogTempInternetFiles", s.ShowLogTempInternetFiles);
    ini.writeBool(kSettings, "ShowLogRecycleBin", s.ShowLogRecycleBin);
    ini.writeBool(kSettings, "FastScan", s.FastScan);

    ini.writeString(kOptions, "OutputDirectory", s.OutputDirectory);
    ini.writeBool(kOptions, "DeleteBackupFile", s.DeleteBackupFile);
    ini.writeBool(kOptions, "IncludeRemoveMedia", s.IncludeRemoveMedia);
    ini.writeBool(kOptions, "IncludeCDdrive", s.IncludeCDdrive);

    if (sectionTree) copyNodeChecks(*sectionTree, s.TreeViewNodeCheck);
    for (int i = 1; i <= kSectionSlots; ++i)
        ini.writeBool(kTreeViewNodeCheck, std::to_string(i), s.TreeViewNodeCheck[i]);

    writeList(ini, kIgnoreValue, "Value", s.IgnoreValueList, s.IgnoreValueCount);
    writeList(ini, kIgnoreKey, "Key", s.IgnoreKeyList, s.IgnoreKeyCount);

    if (window) {
        if (window->showCmd) ini.writeInteger(kWindow, "State", *window->showCmd);
        ini.writeInteger(kWindow, "Left", window->left);
        ini.writeInteger(kWindow, "Top", window->top);
        ini.writeInteger(kWindow, "Width", window->width);
        ini.writeInteger(kWindow, "Height", window->height);
    }

    ini.writeBool(kOptions, "RestorePoint", s.RestorePoint);
}

std::vector<std::string> readSelectedItems(const IniFile& ini) {
    int32_t count =
        std::clamp(ini.readInteger(kNodeSelected, "SelectedCount", 0), 0, kMaxListEntries);
    std::vector<std::string> items;
    for (int32_t i = 1; i <= count; ++i)
        items.push_back(ini.readString(kNodeSelected, std::to_string(i), ""));
    return items;
}

std::optional<IniFile> readIniFile(Machine& machine, const std::string& winPath) {
    auto text = readWholeFile(machine.files(), winPath, kMaxIniBytes);
    if (!text) return std::nullopt;
    return IniFile(*text);
}

bool writeIniFile(Machine& machine, const std::string& winPath, const IniFile& ini) {
    FileApi& files = machine.files();
    // A name nobody can have planted, created new: never an existing file
    // (or a link to one) truncated.
    const std::string tmp = winPath + uniqueSuffix() + ".new";
    const std::string text = ini.text();
    {
        auto f = files.createNewFile(tmp);
        if (!f) return false;
        bool ok = f->write(text.data(), int64_t(text.size())) == int64_t(text.size()) && f->flush();
        f.reset();
        if (!ok) {
            files.deleteFile(tmp);
            return false;
        }
    }
    if (files.moveFile(tmp, winPath)) return true;
    // A backend whose move does not replace: set the old file aside first and
    // put it back if the new one cannot take its place.
    const std::string old = winPath + ".old";
    files.deleteFile(old);
    if (files.fileExists(winPath) && files.moveFile(winPath, old)) {
        if (files.moveFile(tmp, winPath)) {
            files.deleteFile(old);
            return true;
        }
        files.moveFile(old, winPath);
    }
    files.deleteFile(tmp);
    return false;
}

void LoadSettings(Machine& machine, TOptionsSetting& settings, CheckTree* cleanTree,
                  const WindowMetrics& metrics, bool create) {
    SettingsLocation loc = LocateSettings(machine, create);
    auto found = readIniFile(machine, loc.fileName);
    if (!found && !create)
        found =
            readIniFile(machine, includeTrailingBackslash(machine.programFolder()) + "options.ini");
    IniFile ini = found.value_or(IniFile{});
    loadSettingsFromIni(ini, settings, cleanTree, metrics, loc.backupFolder);
}

bool SaveSettings(Machine& machine, TOptionsSetting& settings, const CheckTree* cleanTree,
                  const CheckTree* sectionTree, const WindowPlacement* window) {
    SettingsLocation loc = LocateSettings(machine);
    IniFile ini;
    if (machine.files().fileExists(loc.fileName)) {
        // A file we cannot read is left alone rather than replaced by ours.
        auto existing = readIniFile(machine, loc.fileName);
        if (!existing) return false;
        ini = std::move(*existing);
    }
    saveSettingsToIni(ini, settings, cleanTree, sectionTree, window);
    return writeIniFile(machine, loc.fileName, ini);
}

bool ignoreEntryUsable(const std::string& entry) {
    // Blank, or nothing but backslashes: after the filter adds its trailing
    // backslash such an entry is contained in every key path.
    return entry.find_first_not_of(" \t\\") != std::string::npos;
}

std::vector<std::string> usableIgnoreEntries(const std::vector<std::string>& entries) {
    std::vector<std::string> out;
    for (const auto& e : entries)
        if (ignoreEntryUsable(e)) out.push_back(e);
    return out;
}

}  // namespace brisko
