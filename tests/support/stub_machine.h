#pragma once
// A Machine whose services answer as an empty Windows would; test doubles
// derive from it and supply the registry and files they need.
#include <string>

#include "core/machine/machine.h"

namespace brisko::test {

class StubMachine : public Machine {
  public:
    OsVersion os;

    OsVersion version() override { return os; }
    bool isWow64() override { return false; }
    UserAccount currentUser() override { return {}; }
    bool isAdministrator() override { return true; }
    bool enablePrivilege(std::string_view) override { return true; }
    std::string expandEnvironmentStrings(std::string_view s) override { return std::string(s); }
    std::string windowsDirectory() override { return "C:\\Windows"; }
    std::string systemDirectory() override { return "C:\\Windows\\system32"; }
    std::string tempPath() override { return "C:\\Temp\\"; }
    std::string specialFolder(int) override { return {}; }
    std::string programFolder() override { return "C:\\Program Files\\Brisko\\"; }
    bool shellExecute(std::string_view, std::string_view, std::string_view) override {
        return false;
    }
    ProcessResult runProcess(std::string_view, bool, std::stop_token) override { return {}; }
    std::vector<WindowRef> topLevelWindows() override { return {}; }
    bool showWindow(uint64_t, bool) override { return false; }
    std::string shortcutTarget(std::string_view) override { return {}; }
    bool restart() override { return false; }
    ClipboardService* clipboard() override { return nullptr; }
    ProtectedStorageService* protectedStorage() override { return nullptr; }
    UrlCacheService* urlCache() override { return nullptr; }
    UrlHistoryService* urlHistory() override { return nullptr; }
    RestorePointService* restorePoints() override { return nullptr; }
    HotkeyService* hotkeys() override { return nullptr; }
};

}  // namespace brisko::test
