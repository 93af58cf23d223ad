#pragma once
// The registry of an offline Windows installation, served from its real hive
// files. Roots are assembled as Windows does: HKLM from the config folder, HKU
// from .DEFAULT and each profile's NTUSER.DAT and UsrClass.dat, HKCU the
// current user's, HKCR the merged Classes view, HKCC the current hardware
// profile, CurrentControlSet through Select\Current.
//
// Changes stay in memory until commit(), which writes every changed hive as
// one step (commit_journal.h): they land all together or not at all. Nothing
// is written otherwise: discard() and close() forget what was not committed.
// From the first change until the commit or discard, the registry holds the
// machine's write lock (machine_lock.h), so two programs never write one
// machine at once. Each host file is mounted once, compared by device and
// inode.
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/machine/image/hive_replacement.h"
#include "core/machine/registry_api.h"
#include "hive/hive.h"

namespace brisko {

struct HiveSpec {
    std::string mountPath;           // "\REGISTRY\MACHINE\SOFTWARE", "\REGISTRY\USER\S-1-5-21-..."
    std::filesystem::path hostFile;  // where the hive file lives on the host
    std::string windowsFile;         // "C:\Windows\System32\config\SOFTWARE"
    std::string deviceFile;          // "\Device\HarddiskVolume2\Windows\System32\config\SOFTWARE"
};

// One hive as `brisko info` and `brisko hive check` show it.
struct HiveStatus {
    HiveSpec mount;       // where it is mounted and which file holds it
    bool loaded = false;  // false: the file could not be opened at all (state says why)
    hive::HiveState state;
    bool writable = false;
    std::string readOnlyReason;
};

class MachineLock;

// The steps of a commit, for tests that stop one part-way.
enum class CommitStep { CopyWritten, JournalWritten, Renamed, Landed };

class ImageRegistry : public RegistryApi {
  public:
    // Resolves a Windows path to a host path (for saveHive targets); nullopt
    // when it would leave the machine.
    using Resolver = std::function<std::optional<std::filesystem::path>(std::string_view)>;

    // Hives that fail to open (missing, not regf) are left out and reported in
    // errors(); their keys are simply absent. The folder of pendingListFile is
    // the machine folder: the commit journal and the write lock live there.
    ImageRegistry(std::vector<HiveSpec> hives, std::string currentUserSid, Resolver resolver,
                  std::filesystem::path pendingListFile);
    ~ImageRegistry() override;

    std::unique_ptr<KeyHandle> openKey(RootKey root, std::string_view subPath,
                                       KeyAccess access) override;
    bool commit() override;
    void discard() override;
    bool changesWaitForCommit() const override { return true; }
    std::vector<std::string> refusedEdits() const override;
    std::vector<std::string> readOnlyHives() override;
    std::vector<HiveMount> hiveList() override;
    bool saveHive(std::string_view keyPath, std::string_view targetFile) override;
    bool replaceHive(std::string_view keyPath, std::string_view newFile,
                     std::string_view oldFile) override;
    bool verifyHiveCopy(std::string_view keyPath, std::string_view copyFile,
                        std::string* why) override;
    bool waitsForRestart(std::string_view file) override;
    // replaceHive of either kind; a restore point's hive is put back whatever
    // the hive holds by then. `why` says why it was refused, for a person.
    bool scheduleReplacement(std::string_view keyPath, std::string_view newFile,
                             std::string_view oldFile, ReplaceKind kind, std::string* why);
    // Several at once, all or none: each is checked first, then the pending
    // list is written once with all of them.
    struct Replacement {
        std::string keyPath, newFile, oldFile;
    };
    bool scheduleReplacements(const std::vector<Replacement>& all, ReplaceKind kind,
                              std::string* why);
    // Told the new file of each replacement scheduled (the machine holds it
    // open until the restart, as Windows does).
    void setScheduledHook(std::function<void(const std::string& newFile)> hook);

    // Hives that could not be loaded, one line each, for a person to read.
    const std::vector<std::string>& errors() const { return errors_; }
    // Every hive the machine names, mounted or not, in mount order.
    std::vector<HiveStatus> hiveStatus() const;
    // Why the last commit() failed, empty after one that succeeded.
    std::string lastCommitError() const;
    // Pending replacements recorded by replaceHive (hive_replacement.h).
    using PendingReplace = brisko::PendingReplace;
    std::vector<PendingReplace> pendingReplacements();
    void clearPendingReplacements();
    const std::filesystem::path& pendingListFile() const;

    // How long the first change waits for another writer (default kMachineLockWait).
    void setLockWait(std::chrono::milliseconds wait);
    // Takes over a write lock already held (taken before the hives were read),
    // kept until the next commit or discard.
    void adoptWriteLock(std::unique_ptr<MachineLock> held);
    bool holdsWriteLock() const;
    // Called after each step of a commit; false makes the commit fail there.
    void setCommitProbe(std::function<bool(CommitStep, size_t hive)> probe);

    // Forgets uncommitted changes and closes every hive, so restart can move
    // their files. Every later change is refused.
    void close();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::vector<std::string> errors_;
};

}  // namespace brisko
