#pragma once
// The registry of an offline Windows installation, served from its real hive
// files through hivex. Roots are assembled as Windows does: HKLM from the
// config folder, HKU from .DEFAULT and each profile's NTUSER.DAT and
// UsrClass.dat, HKCU the current user's, HKCR the merged Classes view, HKCC the
// current hardware profile, CurrentControlSet through Select\Current.
// Changes stay in memory until commit(), which writes every changed hive
// atomically (write beside, flush, rename).
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/machine/registry_api.h"

namespace brisko {

struct HiveSpec {
    std::string mountPath;           // "\REGISTRY\MACHINE\SOFTWARE", "\REGISTRY\USER\S-1-5-21-..."
    std::filesystem::path hostFile;  // where the hive file lives on the host
    std::string windowsFile;         // "C:\Windows\System32\config\SOFTWARE"
    std::string deviceFile;          // "\Device\HarddiskVolume2\Windows\System32\config\SOFTWARE"
};

class Hive;  // one open hive file (hive.h)

class ImageRegistry : public RegistryApi {
  public:
    // Resolves a Windows path to a host path (for saveHive targets); nullopt
    // when it would leave the machine.
    using Resolver = std::function<std::optional<std::filesystem::path>(std::string_view)>;

    // Hives that fail to open (missing, not regf) are left out and reported in
    // errors(); their keys are simply absent.
    ImageRegistry(std::vector<HiveSpec> hives, std::string currentUserSid, Resolver resolver,
                  std::filesystem::path pendingListFile);
    ~ImageRegistry() override;

    std::unique_ptr<KeyHandle> openKey(RootKey root, std::string_view subPath,
                                       KeyAccess access) override;
    bool commit() override;
    std::vector<HiveMount> hiveList() override;
    bool saveHive(std::string_view keyPath, std::string_view targetFile) override;
    bool replaceHive(std::string_view keyPath, std::string_view newFile,
                     std::string_view oldFile) override;

    // Hives that could not be loaded, one line each, for a person to read.
    const std::vector<std::string>& errors() const { return errors_; }
    // Why the last commit() failed, empty after one that succeeded.
    std::string lastCommitError() const;
    // Pending replacements recorded by replaceHive: hive file, new file, old
    // file (Windows paths).
    struct PendingReplace {
        std::string hiveFile, newFile, oldFile;
    };
    std::vector<PendingReplace> pendingReplacements();
    void clearPendingReplacements();
    // Closes every hive (after commit) so restart can move their files.
    void close();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::vector<std::string> errors_;
};

}  // namespace brisko
