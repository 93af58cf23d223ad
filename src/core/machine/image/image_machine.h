#pragma once
// A Windows installation in a host folder as a Machine.
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "core/machine/image/hive_replacement.h"
#include "core/machine/image/machine_lock.h"
#include "core/machine/machine.h"

namespace brisko {

class ImageFileApi;
class ImageRegistry;

struct MachineOpenError {
    std::string message;  // for a person: what is wrong and where
    bool busy = false;    // another program is writing the machine (opened for writing)
};

// Read: the registry takes the machine's write lock at its first change.
// Write: the lock is taken before the hives are read (waiting up to lockWait
// for another writer), so what the job reads is what it writes over.
enum class MachineAccess { Read, Write };

class ImageMachine : public Machine {
  public:
    // Opens the machine folder. Throws MachineOpenError when the folder is
    // missing or holds no Windows installation.
    explicit ImageMachine(const std::filesystem::path& folder,
                          MachineAccess access = MachineAccess::Read,
                          std::chrono::milliseconds lockWait = kMachineLockWait);
    ~ImageMachine() override;

    RegistryApi& registry() override;
    FileApi& files() override;
    ImageFileApi& imageFiles() { return *files_; }
    ImageRegistry& imageRegistry() { return *registry_; }
    const std::filesystem::path& folder() const { return folder_; }
    // Problems met while opening that did not stop it (a hive that is not a
    // regf file, an interrupted commit that could not be finished, ...), for
    // the front ends to show.
    const std::vector<std::string>& warnings() const { return warnings_; }
    // Hive files the machine names that are not mounted, each with why (a
    // machine hive that is missing, a hive file that is a link), for a person.
    const std::vector<std::string>& unmountedHives() const { return unmounted_; }
    // Reads the hives again, forgetting uncommitted changes: after another
    // program (our registry editor's import) has written them.
    void reloadRegistry();

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
    bool shellExecute(std::string_view verb, std::string_view file,
                      std::string_view params) override;
    ProcessResult runProcess(std::string_view commandLine, bool wait,
                             std::stop_token stop = {}) override;
    std::vector<WindowRef> topLevelWindows() override;
    bool showWindow(uint64_t handle, bool show) override;
    std::string shortcutTarget(std::string_view lnkPath) override;
    // Carries out pending deletions and hive replacements (hive_replacement.h).
    // A replacement that cannot be carried out stays pending with its reason.
    bool restart() override;
    // Called after each step of a hive replacement (tests stop a restart there).
    void setReplaceProbe(std::function<void(ReplaceStep)> probe);
    ClipboardService* clipboard() override;
    ProtectedStorageService* protectedStorage() override;
    UrlCacheService* urlCache() override;
    UrlHistoryService* urlHistory() override;
    RestorePointService* restorePoints() override;
    HotkeyService* hotkeys() override;

  private:
    void removeStrayRestoreCopies();
    void openRegistry();
    void readVersionAndProfiles(RegistryApi& reg);
    void buildEnvironment();
    void finishInterruptedReplacements();

    struct State;
    std::filesystem::path folder_;
    std::unique_ptr<ImageFileApi> files_;
    std::unique_ptr<ImageRegistry> registry_;
    std::unique_ptr<State> state_;
    std::vector<std::string> warnings_;
    std::vector<std::string> unmounted_;
};

}  // namespace brisko
