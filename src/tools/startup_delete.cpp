#include "tools/startup_delete.h"

#include "base/text.h"
#include "core/machine/machine.h"
#include "core/machine/registry_key.h"
#include "registry/reg_backup.h"
#include "registry/registry_fix.h"

namespace brisko {

namespace {

constexpr std::string_view kShortcutFolder = "Startup shortcuts";

// Splits "HKEY_CURRENT_USER\Software\..." into a root and the key path; only the
// five full root names count.
bool splitLocation(std::string_view location, RootKey& root, std::string& rootText,
                   std::string& path) {
    size_t slash = location.find('\\');
    if (slash == std::string_view::npos) return false;
    rootText = upperCase(location.substr(0, slash));
    auto parsed = parseRoot(rootText);
    if (!parsed || std::string(rootName(*parsed)) != rootText) return false;
    root = *parsed;
    path = std::string(location.substr(slash + 1));
    return true;
}

int folderCsidl(std::string_view location) {
    if (location == kStartupLocation) return 7;
    if (location == kCommonStartupLocation) return 24;
    return -1;
}

}  // namespace

std::string StartupBackupStamp() {
    return backupStampNow();
}

StartupBackup::StartupBackup(Machine& machine, std::string backupFolder, std::string stamp)
    : machine_(machine),
      folder_(excludeTrailingBackslash(backupFolder)),
      stamp_(stamp.empty() ? StartupBackupStamp() : std::move(stamp)) {}

StartupBackup::~StartupBackup() = default;

bool StartupBackup::ensureFolder(const std::string& folder) {
    if (machine_.files().directoryExists(folder) || machine_.files().forceDirectories(folder))
        return true;
    error_ = "Cannot create " + folder;
    return false;
}

// A name no file has yet: a second run in the same second gets "_2".
std::string StartupBackup::newRegFileName() const {
    for (int n = 1; n < 100; ++n) {
        std::string name = folder_ + "\\" + stamp_ + std::string(kStartupBackupMark) +
                           (n == 1 ? std::string() : "_" + std::to_string(n)) + ".reg";
        if (!machine_.files().fileExists(name)) return name;
    }
    return {};
}

std::optional<RegBackupBlock> StartupBackup::valueBlock(std::string_view rootName,
                                                        std::string_view keyPath,
                                                        std::string_view valueName) {
    error_.clear();
    auto root = parseRoot(rootName);
    auto block = root ? renderValueBlock(machine_.registry(), RegistryView::Native, *root, keyPath,
                                         valueName)
                      : std::nullopt;
    if (!block) error_ = "The value could not be read for its backup.";
    return block;
}

bool StartupBackup::backupValue(std::string_view rootName, std::string_view keyPath,
                                std::string_view valueName) {
    auto block = valueBlock(rootName, keyPath, valueName);
    return block && appendBlock(*block);
}

bool StartupBackup::appendBlock(const RegBackupBlock& block) {
    if (folder_.empty()) {
        error_ = "No registry backup folder is set (Options, \"Common\").";
        return false;
    }
    if (!ensureFolder(folder_)) return false;
    if (!file_) {
        std::string name = newRegFileName();
        if (name.empty()) {
            error_ = "No new backup file could be created in " + folder_ + ".";
            return false;
        }
        file_ = std::make_unique<RegBackupFile>(machine_.files(), name);
    }
    if (!file_->append(block)) {
        error_ = file_->error();
        if (regFile_.empty()) {
            // Nothing of this run is in it: no half-written file stays behind.
            std::string name = file_->path();
            file_.reset();
            machine_.files().deleteFile(name);
        }
        return false;
    }
    regFile_ = file_->path();
    return true;
}

std::optional<std::string> StartupBackup::backupShortcut(std::string_view location,
                                                         std::string_view shortcutPath) {
    error_.clear();
    if (folder_.empty()) {
        error_ = "No registry backup folder is set (Options, \"Common\").";
        return std::nullopt;
    }
    const std::string relative = std::string(kShortcutFolder) + "\\" + stamp_ + "\\" +
                                 std::string(location) + "\\" + extractFileName(shortcutPath);
    const std::string copy = folder_ + "\\" + relative;
    if (!ensureFolder(excludeTrailingBackslash(extractFilePath(copy)))) return std::nullopt;
    if (!machine_.files().copyFile(shortcutPath, copy, true) ||
        !machine_.files().fileExists(copy)) {
        error_ = "The shortcut could not be copied to " + copy + ".";
        return std::nullopt;
    }
    // The run's .reg file names the copy, so that restoring it (the Restore
    // dialog, brisko backups restore) brings the shortcut back as well.
    if (!appendBlock(renderCommentBlock(std::string(kFileCopyTag) + relative + "|" +
                                        std::string(shortcutPath)))) {
        machine_.files().deleteFile(copy);
        return std::nullopt;
    }
    return copy;
}

std::string StartupShortcutPath(Machine& machine, const StartupEntry& entry) {
    int csidl = folderCsidl(entry.location);
    if (csidl < 0) return {};
    std::string folder = machine.specialFolder(csidl);
    if (folder.empty()) return {};
    return includeTrailingBackslash(folder) + entry.name;
}

StartupDeleteResult DeleteStartupEntry(Machine& machine, const StartupEntry& entry,
                                       StartupBackup& backup) {
    StartupDeleteResult r;
    if (folderCsidl(entry.location) >= 0) {
        std::string path = StartupShortcutPath(machine, entry);
        if (path.empty()) {
            r.message = "This machine has no " + entry.location + " folder.";
            return r;
        }
        if (!machine.files().fileExists(path)) {
            r.outcome = StartupDeleteOutcome::AlreadyGone;
            return r;
        }
        // A shortcut held open would refuse its deletion: no backup for it then.
        if (machine.files().fileUse(path) != FileUse::Free) {
            r.outcome = StartupDeleteOutcome::DeleteFailed;
            r.message = "The shortcut " + path + " is in use.";
            return r;
        }
        auto copy = backup.backupShortcut(entry.location, path);
        if (!copy) {
            r.outcome = StartupDeleteOutcome::BackupFailed;
            r.message = backup.error();
            return r;
        }
        r.backup = *copy;
        if (!machine.files().shellDelete(path)) {
            r.outcome = StartupDeleteOutcome::DeleteFailed;
            r.message = "The shortcut " + path + " could not be deleted.";
            return r;
        }
        r.outcome = StartupDeleteOutcome::Deleted;
        return r;
    }

    RootKey root;
    std::string rootText, keyPath;
    if (!splitLocation(entry.location, root, rootText, keyPath)) {
        r.message = "\"" + entry.location + "\" is not a registry key or a Startup folder.";
        return r;
    }
    auto key = machine.registry().openKey(root, keyPath, KeyAccess::ReadWrite);
    if (!key || !key->value(entry.name)) {
        // The key or the value went since the list was filled.
        auto readable = machine.registry().openKey(root, keyPath, KeyAccess::Read);
        if (!readable || !readable->value(entry.name)) {
            r.outcome = StartupDeleteOutcome::AlreadyGone;
            return r;
        }
        r.outcome = StartupDeleteOutcome::DeleteFailed;
        r.message = "The key " + entry.location + " cannot be changed.";
        return r;
    }
    const auto old = key->value(entry.name);
    auto block = backup.valueBlock(rootText, keyPath, entry.name);
    auto backupFailed = [&] {
        r.outcome = StartupDeleteOutcome::BackupFailed;
        r.message = backup.error();
        return r;
    };
    auto refused = [&] {
        r.outcome = StartupDeleteOutcome::DeleteFailed;
        auto why = machine.registry().refusedEdits();
        r.message = why.empty() ? "The value could not be deleted." : why.back();
        return r;
    };
    if (!block) return backupFailed();
    if (machine.registry().changesWaitForCommit()) {
        // The deletion lands only at the commit, so it is tried first: one the
        // registry refuses (a read-only hive) leaves no backup behind. Without
        // its backup on the disk the value is put back before anything lands.
        if (!key->deleteValue(entry.name)) return refused();
        if (!backup.backupBlock(*block)) {
            key->setValue(entry.name, old->type, old->data);
            return backupFailed();
        }
    } else {
        if (!backup.backupBlock(*block)) return backupFailed();
        if (!key->deleteValue(entry.name)) return refused();
    }
    r.backup = backup.regFile();
    r.outcome = StartupDeleteOutcome::Deleted;
    return r;
}

std::string RestoreStartupShortcut(Machine& machine, std::string_view copyPath) {
    std::string parent = excludeTrailingBackslash(extractFilePath(copyPath));
    std::string location = extractFileName(parent);
    int csidl = folderCsidl(location);
    if (csidl < 0) return "This is not a shortcut backup of the Startup manager.";
    std::string folder = machine.specialFolder(csidl);
    if (folder.empty()) return "This machine has no " + location + " folder.";
    folder = includeTrailingBackslash(folder);
    std::string target = folder + extractFileName(copyPath);
    if (machine.files().fileExists(target)) return target + " exists already.";
    if (!machine.files().directoryExists(folder) && !machine.files().forceDirectories(folder))
        return "Cannot create " + folder;
    if (!machine.files().copyFile(copyPath, target, true)) return target + " could not be written.";
    return {};
}

}  // namespace brisko
