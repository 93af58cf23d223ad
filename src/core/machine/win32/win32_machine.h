#pragma once
// The running Windows as a Machine: the registry, files and drives, and the
// system services over the Win32 API. Optional libraries (pstorec.dll,
// SrClient.dll) are loaded by name when used; a missing library or entry
// point leaves only that one service absent.
#include <memory>

#include "core/machine/machine.h"

namespace brisko::win32 {

class Win32Registry;
class Win32FileApi;

class Win32Machine : public Machine {
  public:
    Win32Machine();
    ~Win32Machine() override;

    RegistryApi& registry() override;
    FileApi& files() override;

    OsVersion version() override;
    bool isWow64() override;
    UserAccount currentUser() override;
    bool isAdministrator() override;
    bool enablePrivilege(std::string_view name) override;
    std::string expandEnvironmentStrings(std::string_view s) override;
    std::string windowsDirectory() override;
    std::string systemDirectory() override;
    std::string tempPath() override;
    std::string specialFolder(int csidl) override;
    std::string programFolder() override;
    std::string programFile() override;
    bool shellExecute(std::string_view verb, std::string_view file,
                      std::string_view params) override;
    ProcessResult runProcess(std::string_view commandLine, bool wait,
                             std::stop_token stop = {}) override;
    std::vector<WindowRef> topLevelWindows() override;
    bool showWindow(uint64_t handle, bool show) override;
    std::string shortcutTarget(std::string_view lnkPath) override;
    bool restart() override;
    ClipboardService* clipboard() override;
    ProtectedStorageService* protectedStorage() override;
    UrlCacheService* urlCache() override;
    UrlHistoryService* urlHistory() override;
    RestorePointService* restorePoints() override;
    HotkeyService* hotkeys() override;

  private:
    struct Services;
    bool wow64_ = false;
    std::unique_ptr<Win32Registry> registry_;
    std::unique_ptr<Win32FileApi> files_;
    std::unique_ptr<Services> services_;
};

}  // namespace brisko::win32
