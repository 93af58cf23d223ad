#pragma once
// One Windows machine: its registry, files and drives, and the system services
// the program uses. The image backend serves an offline installation laid out
// in a host folder; a native backend will serve the running Windows.
#include <cstdint>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "core/machine/file_api.h"
#include "core/machine/registry_api.h"

namespace brisko {

// CSIDL numbers the program asks for.
enum Csidl : int {
    CSIDL_PROGRAMS = 2,
    CSIDL_PERSONAL = 5,
    CSIDL_STARTUP = 7,
    CSIDL_RECENT = 8,
    CSIDL_STARTMENU = 11,
    CSIDL_DESKTOPDIRECTORY = 16,
    CSIDL_FONTS = 20,
    CSIDL_COMMON_STARTMENU = 22,
    CSIDL_COMMON_PROGRAMS = 23,
    CSIDL_COMMON_STARTUP = 24,
    CSIDL_COMMON_DESKTOPDIRECTORY = 25,
    CSIDL_APPDATA = 26,
    CSIDL_INTERNET_CACHE = 32,
    CSIDL_COOKIES = 33,
    CSIDL_HISTORY = 34,
    CSIDL_PROFILE = 40,
};
inline constexpr int kCsidlList[] = {2, 5, 7, 8, 11, 16, 20, 22, 23, 24, 25, 26, 32, 33, 34, 40};

struct OsVersion {
    enum Platform { Win9x = 1, NT = 2 } platform = NT;
    int major = 6;
    int minor = 1;
    int build = 7601;
    std::string servicePack;
    std::string productName;
};

struct UserAccount {
    std::string name;
    std::string sid;
    std::string profile;  // Windows path of the profile folder
};

struct WindowRef {
    uint64_t handle = 0;
    std::string className;
    std::string title;
    bool visible = true;
};

// The clipboard (OpenClipboard / EmptyClipboard).
class ClipboardService {
public:
    virtual ~ClipboardService() = default;
    virtual bool hasData() = 0;
    virtual bool empty() = 0;
};

// Protected Storage (pstorec.dll), the current user's store through the system
// provider. Types and subtypes are 16-byte identifiers, written here as GUID
// text ("{e161255a-37c3-11d2-bcaa-00c04fd929db}"); items are named within a
// type and subtype.
class ProtectedStorageService {
public:
    virtual ~ProtectedStorageService() = default;
    virtual std::vector<std::string> types() = 0;                        // EnumTypes
    virtual std::string typeName(std::string_view type) = 0;             // GetTypeInfo
    virtual std::vector<std::string> subtypes(std::string_view type) = 0;  // EnumSubtypes
    virtual std::vector<std::string> items(std::string_view type,
                                           std::string_view subtype) = 0;  // EnumItems
    virtual bool deleteItem(std::string_view type, std::string_view subtype,
                            std::string_view name) = 0;
};

// The WinINet cache and the URL history, reached through their API.
struct UrlCacheEntry {
    std::string url;
    std::string localFile;  // Windows path; empty for entries without a file
    uint64_t size = 0;
};
class UrlCacheService {
public:
    virtual ~UrlCacheService() = default;
    virtual std::vector<UrlCacheEntry> entries() = 0;  // FindFirst/NextUrlCacheEntry
    virtual bool deleteEntry(std::string_view url) = 0;  // DeleteUrlCacheEntry
    virtual void endBrowserSession() = 0;  // InternetSetOption 42
};
class UrlHistoryService {
public:
    virtual ~UrlHistoryService() = default;
    virtual std::vector<std::string> urls() = 0;  // IUrlHistoryStg::EnumUrls
    // IUrlHistoryStg::DeleteUrl; false where Windows answers S_FALSE or fails.
    virtual bool deleteUrl(std::string_view url) = 0;
};

// One restore point as the list shows it.
struct RestorePointInfo {
    int number = 0;
    std::string description;
    std::string time;                // local time, "2026-12-07 15:30:00"
    std::vector<std::string> hives;  // the hive files it holds (Windows paths)
};

// System Restore (SrClient.dll).
class RestorePointService {
public:
    virtual ~RestorePointService() = default;
    // SRSetRestorePointA with BEGIN_SYSTEM_CHANGE; true on success.
    virtual bool createRestorePoint(std::string_view description) = 0;
    // Why the last createRestorePoint failed, for a person; empty when it did not.
    virtual std::string lastError() const { return {}; }
    // The restore points made so far, oldest first; empty where the system
    // keeps them to itself.
    virtual std::vector<RestorePointInfo> listRestorePoints() { return {}; }
    // Puts restore point `number` back at the next restart. False, with why
    // for a person, when it cannot be scheduled.
    virtual bool restoreRestorePoint(int number, std::string* why) {
        (void)number;
        if (why) *why = "Restore points are rolled back by the system's own System Restore.";
        return false;
    }
};

// Global hot key (RegisterHotKey with an atom as identifier).
class HotkeyService {
public:
    virtual ~HotkeyService() = default;
    virtual bool registerHotkey(int id, unsigned modifiers, unsigned virtualKey) = 0;
    virtual void unregisterHotkey(int id) = 0;
    // Why the last registerHotkey failed: no identifier could be had (the
    // system's atom table refused one) or the key itself was refused.
    enum class Failure { None, NoIdentifier, KeyRefused };
    virtual Failure lastFailure() const { return Failure::KeyRefused; }
    // Our id for the identifier the system reports in WM_HOTKEY (the atom),
    // or -1 when it is not one of ours.
    virtual int idForNative(uintptr_t native) const { return int(native); }
};

struct ProcessResult {
    bool started = false;
    bool finished = false;  // false when stopped before it ended
    int exitCode = -1;
};

class Machine {
public:
    virtual ~Machine() = default;

    virtual RegistryApi& registry() = 0;
    virtual FileApi& files() = 0;

    // What is running.
    virtual OsVersion version() = 0;
    virtual bool isWow64() = 0;
    virtual UserAccount currentUser() = 0;
    virtual bool isAdministrator() = 0;
    virtual bool enablePrivilege(std::string_view name) = 0;  // "SeBackupPrivilege", ...

    // Folders and the environment.
    virtual std::string expandEnvironmentStrings(std::string_view s) = 0;
    virtual std::string windowsDirectory() = 0;  // "C:\Windows", no trailing backslash
    virtual std::string systemDirectory() = 0;   // "C:\Windows\system32"
    virtual std::string tempPath() = 0;          // with trailing backslash
    // With a trailing backslash; empty when the machine has no such folder.
    virtual std::string specialFolder(int csidl) = 0;
    // The folder the program's executable lives in, with trailing backslash.
    virtual std::string programFolder() = 0;
    // The running program's own executable, where it is installed on this
    // machine; empty where none is (an offline installation served from
    // another system), so nothing may name it to Windows.
    virtual std::string programFile() { return {}; }

    // Processes, shell and windows.
    virtual bool shellExecute(std::string_view verb, std::string_view file,
                              std::string_view params) = 0;
    // CreateProcess + WaitForSingleObject; the stop token ends it (TerminateProcess).
    virtual ProcessResult runProcess(std::string_view commandLine, bool wait,
                                     std::stop_token stop = {}) = 0;
    virtual std::vector<WindowRef> topLevelWindows() = 0;  // EnumWindows + GetClassName
    virtual bool showWindow(uint64_t handle, bool show) = 0;
    // Target of a .lnk shortcut; empty when it has none or cannot be read.
    virtual std::string shortcutTarget(std::string_view lnkPath) = 0;
    // ExitWindowsEx(EWX_REBOOT): on an image, carries out what waits for the restart.
    virtual bool restart() = 0;

    // Optional services: nullptr where the library is missing.
    virtual ClipboardService* clipboard() = 0;
    virtual ProtectedStorageService* protectedStorage() = 0;
    virtual UrlCacheService* urlCache() = 0;
    virtual UrlHistoryService* urlHistory() = 0;
    virtual RestorePointService* restorePoints() = 0;
    virtual HotkeyService* hotkeys() = 0;

    // FindWindow by class name: the first visible or hidden top-level window.
    std::vector<WindowRef> findWindows(std::string_view className);
};

}  // namespace brisko
