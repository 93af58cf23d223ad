#pragma once
// The registry of the running Windows through advapi32. openKey serves the
// system's own keys (the 64-bit view on 64-bit Windows, as the image backend
// serves its hives); openKeyInView asks Windows for the 32-bit or the 64-bit
// view explicitly (KEY_WOW64_32KEY / KEY_WOW64_64KEY). Changes are written by
// Windows as they are made, so commit has nothing left to do.
#include <functional>

#include "core/machine/registry_api.h"

namespace brisko::win32 {

class Win32Registry : public RegistryApi {
  public:
    // privilege enables a token privilege ("SeBackupPrivilege", ...);
    // isWow64 says whether the views differ at all.
    Win32Registry(std::function<bool(std::string_view)> privilege, bool isWow64);

    std::unique_ptr<KeyHandle> openKey(RootKey root, std::string_view subPath,
                                       KeyAccess access) override;
    std::unique_ptr<KeyHandle> openKeyInView(RegistryView view, RootKey root,
                                             std::string_view subPath, KeyAccess access) override;
    bool commit() override { return true; }
    std::vector<HiveMount> hiveList() override;
    bool saveHive(std::string_view keyPath, std::string_view targetFile) override;
    bool replaceHive(std::string_view keyPath, std::string_view newFile,
                     std::string_view oldFile) override;

    // NT device path ("\Device\HarddiskVolume1\Windows\...") to a drive path
    // ("C:\Windows\..."); empty when no drive maps to the device.
    static std::string devicePathToDrivePath(std::string_view devicePath);

  private:
    std::function<bool(std::string_view)> privilege_;
    bool isWow64_;
};

}  // namespace brisko::win32
