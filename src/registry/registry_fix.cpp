#include "registry/registry_fix.h"

#include "core/machine/registry_key.h"
#include "core/machine/registry_view.h"
#include "core/messages.h"
#include "core/settings.h"
#include "core/text.h"

namespace brisko {

namespace {

// The roots a fix may touch, by their full names only.
std::optional<RootKey> fixRoot(std::string_view name) {
    std::string upper = upperCase(name);
    if (upper == "HKEY_CURRENT_USER") return RootKey::CurrentUser;
    if (upper == "HKEY_CLASSES_ROOT") return RootKey::ClassesRoot;
    if (upper == "HKEY_USERS") return RootKey::Users;
    if (upper == "HKEY_CURRENT_CONFIG") return RootKey::CurrentConfig;
    if (upper == "HKEY_LOCAL_MACHINE") return RootKey::LocalMachine;
    return std::nullopt;
}

std::string withoutTrailingBackslash(std::string_view p) {
    std::string s(p);
    if (!s.empty() && s.back() == '\\') s.pop_back();
    return s;
}

}  // namespace

std::string fileCopyFolder(std::string_view backupFile) {
    std::string base(backupFile);
    if (endsWithNoCase(base, ".reg")) base.resize(base.size() - 4);
    return base + "_files";
}

RegistryFixer::RegistryFixer(Machine& machine, std::string backupFile, RegistryView view,
                             bool flushEachBlock)
    : machine_(machine),
      file_(machine.files(), std::move(backupFile)),
      view_(view),
      flushEach_(flushEachBlock),
      userSid_(machine.currentUser().sid),
      wow_(hasWow32View(machine.registry())) {}

FixOutcome RegistryFixer::backupFailed(std::string why) {
    error_ = std::move(why);
    return FixOutcome::NotBackedUp;
}

FixOutcome RegistryFixer::DeleteKeyWithBackup(std::string_view rootText, std::string_view path) {
    auto root = fixRoot(rootText);
    std::string sub = withoutTrailingBackslash(path);
    if (!root || sub.empty()) return FixOutcome::Skipped;
    // Nothing to back up: gone already, most often because an ancestor went
    // earlier in the run.
    auto block = renderKeyBlock(machine_.registry(), view_, *root, sub, userSid_, wow_);
    if (!block) return FixOutcome::AlreadyGone;
    if (!file_.append(*block, flushEach_)) return backupFailed(file_.error());
    RegistryKey key(machine_.registry(), *root);
    key.setView(view_);
    return key.deleteKey(sub) ? FixOutcome::Fixed : FixOutcome::Refused;
}

FixOutcome RegistryFixer::DeleteValueWithBackup(std::string_view rootText, std::string_view path,
                                                std::string_view name) {
    auto root = fixRoot(rootText);
    if (!root) return FixOutcome::Skipped;
    std::string sub = withoutTrailingBackslash(path);
    auto block = renderValueBlock(machine_.registry(), view_, *root, sub, name, userSid_, wow_);
    if (!block) return FixOutcome::AlreadyGone;
    if (!file_.append(*block, flushEach_)) return backupFailed(file_.error());
    RegistryKey key(machine_.registry(), *root);
    key.setView(view_);
    if (!key.openKey(sub)) return FixOutcome::Refused;
    return key.deleteValue(name) ? FixOutcome::Fixed : FixOutcome::Refused;
}

FixOutcome RegistryFixer::DeleteFileWithCopy(std::string_view path) {
    FileApi& files = machine_.files();
    if (!files.fileExists(path)) return FixOutcome::AlreadyGone;
    const std::string folder = fileCopyFolder(file_.path());
    if (!files.directoryExists(folder) && !files.forceDirectories(folder))
        return backupFailed("Cannot create the folder " + folder + " for copies of deleted files.");
    const std::string folderName = extractFileName(folder);
    std::string copyName;
    for (int tries = 0; tries < 1000 && copyName.empty(); ++tries) {
        // ".bak": a copy of a broken shortcut is not a shortcut for anyone to find.
        std::string name = std::to_string(++copies_) + "_" + extractFileName(path) + ".bak";
        if (files.copyFile(path, folder + "\\" + name, true))
            copyName = name;
        else if (!files.fileExists(folder + "\\" + name))
            break;
    }
    if (copyName.empty())
        return backupFailed("Cannot copy " + std::string(path) + " to " + folder + ".");
    // The file goes at once (a registry deletion waits for the commit): the
    // note of its copy is on the disk first.
    auto note = renderCommentBlock(std::string(kFileCopyTag) + folderName + "\\" + copyName + "|" +
                                   std::string(path));
    if (!file_.append(note, true)) return backupFailed(file_.error());
    return files.shellDelete(path) ? FixOutcome::Fixed : FixOutcome::Refused;
}

FixOutcome RegistryFixer::fixRow(const RegistryProblem& row) {
    size_t slash = row.keyPath.find('\\');
    if (slash == std::string::npos) return FixOutcome::Skipped;
    std::string_view root = std::string_view(row.keyPath).substr(0, slash);
    std::string rest = row.keyPath.substr(slash + 1);
    switch (row.kind) {
        case pkKey:
            return DeleteKeyWithBackup(root, rest);
        case pkValue: {
            size_t last = rest.rfind('\\');
            if (last == std::string::npos) return DeleteValueWithBackup(root, "", rest);
            return DeleteValueWithBackup(root, rest.substr(0, last), rest.substr(last + 1));
        }
        case pkDataValue:
            return DeleteValueWithBackup(root, rest, row.data);
        case pkDataSubkey:
            return DeleteKeyWithBackup(root, rest + "\\" + row.data);
        case pkFile:
            return DeleteFileWithCopy(row.keyPath);
        case pkDefaultValue:
            return DeleteValueWithBackup(root, rest, "");
        case pkRot13Value:
            return DeleteValueWithBackup(root, rest, Rot13(row.data));
    }
    return FixOutcome::Skipped;
}

bool RegistryFixer::finish() {
    bool ok = file_.flush();
    if (!ok) error_ = file_.error();
    file_.close();
    return ok;
}

FixReport fixProblems(Machine& machine, const std::vector<RegistryProblem>& rows,
                      const std::string& backupFile, bool flushEachBlock) {
    FixReport report;
    report.backupFile = backupFile;
    report.outcomes.assign(rows.size(), FixOutcome::Skipped);
    RegistryFixer fixer(machine, backupFile, programView(machine.isWow64()), flushEachBlock);
    for (size_t i = rows.size(); i-- > 0;) {
        const auto& row = rows[i];
        if (!row.checked) continue;
        FixOutcome out = fixer.fixRow(row);
        report.outcomes[i] = out;
        if (out == FixOutcome::NotBackedUp) {
            report.stopped = true;
            report.messages.push_back(fixer.error() +
                                      " Nothing more was deleted; the remaining problems stay "
                                      "in the list.");
            break;
        }
        if (out == FixOutcome::Refused && row.kind == pkFile)
            report.messages.push_back("Cannot delete " + row.keyPath + ".");
    }
    if (!fixer.finish()) {
        // The registry's deletions wait for the commit: forget them, since
        // their backup may not be on the disk.
        machine.registry().discard();
        for (size_t i = 0; i < rows.size(); ++i)
            if (rows[i].kind != pkFile && report.outcomes[i] == FixOutcome::Fixed)
                report.outcomes[i] = FixOutcome::NotBackedUp;
        report.messages.push_back(fixer.error() + " No registry entry was deleted.");
    }
    for (const auto& why : machine.registry().refusedEdits()) report.messages.push_back(why);
    for (auto out : report.outcomes) {
        if (out == FixOutcome::Fixed) ++report.fixed;
        if (out == FixOutcome::AlreadyGone) ++report.alreadyGone;
        if (out == FixOutcome::NotBackedUp) ++report.notBackedUp;
        if (out == FixOutcome::Refused) ++report.refused;
    }
    return report;
}

std::optional<FixReport> fixErrors(Machine& machine, const std::vector<RegistryProblem>& rows,
                                   const TOptionsSetting& settings, int windowsVersionCode,
                                   Prompter& prompter, const FixErrorsSteps& steps,
                                   std::string* error) {
    FileApi& files = machine.files();
    const std::string folder = settings.OutputDirectory;
    if (folder.empty() || !files.directoryExists(folder)) {
        std::string q =
            folder + "," + std::string(kNoBackupFolderText) + "\ncreates a new directory?";
        if (prompter.ask(q, MB_YESNO | MB_ICONINFORMATION) != IDYES) return std::nullopt;
        if (folder.empty() || !files.forceDirectories(folder)) {
            if (error) *error = "Cannot create " + folder;
            return std::nullopt;
        }
    }
    if (rows.empty()) return std::nullopt;
    if (settings.RestorePoint && windowsVersionCode >= 9 && windowsVersionCode <= 13 &&
        steps.restorePoint && !steps.restorePoint())
        return std::nullopt;
    std::string file = includeTrailingBackslash(folder) + backupFileNameNow();
    return fixProblems(machine, rows, file, steps.flushEachBlock);
}

void removeFixedRows(std::vector<RegistryProblem>& rows, const FixReport& report) {
    std::vector<RegistryProblem> kept;
    kept.reserve(rows.size());
    for (size_t i = 0; i < rows.size(); ++i)
        if (i >= report.outcomes.size() || !report.rowLeaves(i)) kept.push_back(std::move(rows[i]));
    rows = std::move(kept);
}

}  // namespace brisko
