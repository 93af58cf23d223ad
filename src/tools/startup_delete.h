#pragma once
// Deleting Startup manager entries. Nothing is deleted without a backup in the
// registry backup folder first: a run value goes into a .reg file of the run
// (the Restore dialog lists and imports it like a repair's backup), a shortcut
// is copied below "Startup shortcuts\<run>\<location>\" and can be put back.
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "registry/reg_backup.h"
#include "tools/startup_list.h"

namespace brisko {

class Machine;

// What the name of a startup run's backup holds, beside its time.
inline constexpr std::string_view kStartupBackupMark = "_startup";

// The backups of one deletion run. The .reg file and the shortcut folder are
// named by the local time the run began: "2026_12_07_150102_startup.reg" and
// "Startup shortcuts\2026_12_07_150102\".
class StartupBackup {
  public:
    // backupFolder: the registry backup folder (OutputDirectory); it is created
    // when missing. stamp: "YYYY_MM_DD_HHMMSS", StartupBackupStamp() by default.
    StartupBackup(Machine& machine, std::string backupFolder, std::string stamp = {});
    ~StartupBackup();

    // Appends the value's block to the run's .reg file (a registry backup like
    // a repair's); true once it is on disk.
    bool backupValue(std::string_view rootName, std::string_view keyPath,
                     std::string_view valueName);
    // The two halves of backupValue: the value's block as it is now (nullopt,
    // with error(), when it cannot be read), and writing a block.
    std::optional<RegBackupBlock> valueBlock(std::string_view rootName, std::string_view keyPath,
                                             std::string_view valueName);
    bool backupBlock(const RegBackupBlock& block) { return appendBlock(block); }
    // Copies the shortcut; the copy's Windows path, or nullopt when it failed.
    std::optional<std::string> backupShortcut(std::string_view location,
                                              std::string_view shortcutPath);

    const std::string& regFile() const { return regFile_; }  // empty until an entry is saved
    const std::string& folder() const { return folder_; }
    // What went wrong with the last backup, for a person.
    const std::string& error() const { return error_; }

  private:
    bool ensureFolder(const std::string& folder);
    // Appends to the run's .reg file, made on the first block.
    bool appendBlock(const RegBackupBlock& block);
    std::string newRegFileName() const;

    Machine& machine_;
    std::string folder_;
    std::string stamp_;
    std::string regFile_;
    std::string error_;
    std::unique_ptr<RegBackupFile> file_;  // open from the first value on
};

// The local time now as "YYYY_MM_DD_HHMMSS".
std::string StartupBackupStamp();

enum class StartupDeleteOutcome {
    Deleted,       // backed up, then deleted
    AlreadyGone,   // nothing there any more: nothing to back up or delete
    BackupFailed,  // the backup could not be written: left in place
    DeleteFailed,  // backed up, but the deletion failed: still there
    BadLocation,   // a location that names no key or folder
};

struct StartupDeleteResult {
    StartupDeleteOutcome outcome = StartupDeleteOutcome::BadLocation;
    std::string backup;   // the .reg file or the shortcut copy
    std::string message;  // why, when it was not deleted
    // The row no longer stands for an entry of the machine.
    bool rowGone() const {
        return outcome == StartupDeleteOutcome::Deleted ||
               outcome == StartupDeleteOutcome::AlreadyGone;
    }
};

// Deletes one entry by its location, after backing it up. Registry changes
// stay in the machine's registry until it is committed.
StartupDeleteResult DeleteStartupEntry(Machine& machine, const StartupEntry& entry,
                                       StartupBackup& backup);

// Full path of the shortcut a Startup-folder row names; empty for a run value
// or a folder the machine does not have.
std::string StartupShortcutPath(Machine& machine, const StartupEntry& entry);

// Puts a shortcut copy made by StartupBackup back into its Startup folder (the
// location is the name of the folder the copy is in). An existing shortcut of
// that name is not replaced. Empty on success, else why not.
std::string RestoreStartupShortcut(Machine& machine, std::string_view copyPath);

}  // namespace brisko
