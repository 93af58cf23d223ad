#include "core/options_edit.h"

#include "base/text.h"
#include "core/ini_file.h"
#include "core/machine/machine.h"
#include "core/machine/registry_key.h"

namespace brisko {

namespace {
constexpr std::string_view kKeepSection = "Cookies to Keep";
// A cookie file's host is its third line; nothing longer is read.
constexpr int64_t kMaxCookieFile = 64 * 1024;
}  // namespace

std::string AutoStartUnavailableReason(Machine& machine) {
    if (!machine.programFile().empty()) return {};
    return "Brisko Cleaner is not installed on this Windows installation (it is served from "
           "another system), so Windows would find no program to start at logon.";
}

bool AutoStartEnabled(Machine& machine) {
    RegistryKey key(machine.registry(), RootKey::CurrentUser);
    if (!key.openKeyReadOnly(kAutoStartKey)) return false;
    auto data = key.readString(kAutoStartValue);
    return data && data->find("/Auto") != std::string::npos;
}

bool SetAutoStart(Machine& machine, bool on) {
    const std::string program = machine.programFile();
    if (on && program.empty()) return false;
    RegistryKey key(machine.registry(), RootKey::CurrentUser);
    if (!key.openKey(kAutoStartKey, true)) return false;
    // Quoted: the folder of an installed program usually holds a blank.
    if (on) return key.writeString(kAutoStartValue, "\"" + program + "\" /Auto");
    return !key.valueExists(kAutoStartValue) || key.deleteValue(kAutoStartValue);
}

std::string HotkeyKeyName(unsigned vk) {
    switch (vk) {
        case 8:
            return "BackSpace";
        case 9:
            return "Tab";
        case 12:
            return "Clear";
        case 13:
            return "Enter";
        case 19:
            return "Pause";
        case 20:
            return "CapsLock";
        case 27:
            return "Esc";
        case 32:
            return "Space";
        case 33:
            return "PageUp";
        case 34:
            return "PageDown";
        case 35:
            return "End";
        case 36:
            return "Home";
        case 37:
            return "LeftArrow";
        case 38:
            return "UpArrow";
        case 39:
            return "RightArrow";
        case 40:
            return "DownArrow";
        case 44:
            return "PrintScreen";
        case 45:
            return "Ins";
        case 46:
            return "Del";
        case 47:
            return "Help";
        case 106:
            return "*";
        case 107:
            return "+";
        case 108:
            return "Separator";
        case 109:
            return "-";
        case 110:
            return ".";
        case 111:
            return "/";
        case 144:
            return "Numlock";
        case 145:
            return "Scroll";
        default:
            break;
    }
    if (vk >= 48 && vk <= 90) return std::string(1, char(vk));
    if (vk >= 96 && vk <= 105) return "Num " + std::string(1, char(vk - 48));
    if (vk >= 112 && vk <= 135) return "F" + std::to_string(vk - 111);
    return {};
}

std::string HotkeyText(const TShortcut& key) {
    std::string t;
    if (key.IsCtrl) t += "Ctrl  ";
    if (key.IsShift) t += "Shift  ";
    if (key.IsAlt) t += "Alt  ";
    return t + key.CharString;
}

std::string CookieKeepFile(Machine& machine) {
    return includeTrailingBackslash(machine.programFolder()) + "Cookies.ini";
}

std::vector<std::string> ReadCookieKeepList(Machine& machine) {
    std::vector<std::string> keep;
    auto ini = readIniFile(machine, CookieKeepFile(machine));
    if (!ini) return keep;
    int32_t count = ini->readInteger(kKeepSection, "Count", 0);
    // A count far beyond the keys present names nothing more.
    for (int32_t i = 0; i < count && i < 100000; ++i) {
        std::string v = ini->readString(kKeepSection, std::to_string(i));
        if (!v.empty()) keep.push_back(v);
    }
    return keep;
}

bool WriteCookieKeepList(Machine& machine, const std::vector<std::string>& keep) {
    std::string file = CookieKeepFile(machine);
    std::string folder = excludeTrailingBackslash(machine.programFolder());
    if (!machine.files().directoryExists(folder)) machine.files().forceDirectories(folder);
    IniFile ini = readIniFile(machine, file).value_or(IniFile());
    ini.writeInteger(kKeepSection, "Count", int64_t(keep.size()));
    for (size_t i = 0; i < keep.size(); ++i)
        if (!ini.writeString(kKeepSection, std::to_string(i), keep[i])) return false;
    return writeIniFile(machine, file, ini);
}

std::string CookieFolder(Machine& machine) {
    FileApi& files = machine.files();
    std::string folder = machine.specialFolder(CSIDL_COOKIES);
    if (!folder.empty()) folder = includeTrailingBackslash(folder);
    if (folder.empty() || !files.directoryExists(folder)) {
        folder = includeTrailingBackslash(machine.windowsDirectory()) + "cookies\\";
        if (!files.directoryExists(folder)) return {};
    }
    auto hasTxt = [&](const std::string& f) {
        auto list = files.findFiles(f, "*.txt");
        if (!list) return false;
        for (const auto& e : *list)
            if (!e.isDirectory()) return true;
        return false;
    };
    if (files.directoryExists(folder + "Low") && !hasTxt(folder) && hasTxt(folder + "Low\\"))
        folder += "Low\\";
    return folder;
}

std::vector<std::string> ListCookieHosts(Machine& machine, const std::vector<std::string>& keep) {
    std::vector<std::string> hosts;
    std::string folder = CookieFolder(machine);
    if (folder.empty()) return hosts;
    auto entries = machine.files().findFiles(folder, "*");
    if (!entries) return hosts;
    for (const FileEntry& e : *entries) {
        if (e.isDirectory() || e.name.find(".txt") == std::string::npos) continue;
        if (e.size > uint64_t(kMaxCookieFile)) continue;
        auto f = machine.files().openFile(folder + e.name, FileMode::Read);
        if (!f) continue;
        std::string text(size_t(e.size), '\0');
        int64_t got = f->read(text.data(), int64_t(text.size()));
        if (got < 0) continue;
        text.resize(size_t(got));
        auto lines = split(text, '\n');
        if (lines.size() < 3) continue;
        std::string host = lines[2];
        if (!host.empty() && host.back() == '\r') host.pop_back();
        if (!host.empty() && host.back() == '/') host.pop_back();
        if (host.empty()) continue;
        // The same rule as the cookie clean: a ".txt" entry keeps that file, any
        // other entry the cookies of that host.
        bool kept = false;
        for (const auto& k : keep)
            kept = kept || (k.find(".txt") != std::string::npos ? k == e.name : k == host);
        if (!kept) hosts.push_back(host);
    }
    return hosts;
}

std::string MissingBackupFolderText(std::string_view folder) {
    return std::string(folder) + "," + "can not find the backup folder.";
}

std::string CheckOptions(Machine& machine, const TOptionsSetting& s) {
    if (s.OutputDirectory.empty() || !machine.files().directoryExists(s.OutputDirectory))
        return MissingBackupFolderText(s.OutputDirectory);
    if (s.WipeNumber < 1 || s.WipeNumber > 10) return "The number of overwrites is 1 to 10.";
    if (s.CleanInterval < 0 || s.CleanInterval > 4)
        return "The schedule interval is 0 (15 minutes) to 4 (8 hours).";
    if (s.EnableHotkey) {
        if (HotkeyText(s.Hotkey).empty()) return "The hotkey setting cannot be blank.";
        if (!s.Hotkey.CharString.empty() &&
            HotkeyKeyName(s.Hotkey.CharAscII) != s.Hotkey.CharString)
            return "The hotkey's key name \"" + s.Hotkey.CharString +
                   "\" does not belong to the key code " + std::to_string(s.Hotkey.CharAscII) + ".";
    }
    return {};
}

}  // namespace brisko
