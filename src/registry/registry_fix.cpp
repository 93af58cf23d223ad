#include "registry/registry_fix.h"

#include <algorithm>

#include "base/text.h"
#include "core/machine/registry_key.h"
#include "core/machine/registry_view.h"
#include "core/messages.h"
#include "core/settings.h"
#include "registry/leftover_scan.h"

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
      flushEach_(flushEachBlock || !machine.registry().changesWaitForCommit()),
      userSid_(machine.currentUser().sid),
      wow_(hasWow32View(machine.registry())) {}

FixOutcome RegistryFixer::backupFailed(std::string why) {
    error_ = std::move(why);
    return FixOutcome::NotBackedUp;
}

KeyHandle* RegistryFixer::openForEdit(RootKey root, const std::string& path) {
    if (edit_ && editRoot_ == root && editPath_ == path) return edit_.get();
    edit_ = machine_.registry().openKeyInView(view_, root, path, KeyAccess::ReadWrite);
    editRoot_ = root;
    editPath_ = path;
    return edit_.get();
}

FixOutcome RegistryFixer::DeleteKeyWithBackup(std::string_view rootText, std::string_view path) {
    auto root = fixRoot(rootText);
    std::string sub = withoutTrailingBackslash(path);
    if (!root || sub.empty()) return FixOutcome::Skipped;
    size_t last = sub.rfind('\\');
    const std::string parentPath = last == std::string::npos ? "" : sub.substr(0, last);
    // A key that lives in one place is backed up and deleted through a
    // handle of its parent.
    if (*root != RootKey::ClassesRoot && !wow_) {
        if (KeyHandle* parent = openForEdit(*root, parentPath)) {
            const std::string name = last == std::string::npos ? sub : sub.substr(last + 1);
            auto key = parent->openSubkey(name, KeyAccess::Read);
            if (!key) return FixOutcome::AlreadyGone;
            auto block = renderOpenKeyBlock(machine_.registry(), view_, *root, sub, *key, wow_);
            key.reset();
            if (!file_.append(block, flushEach_)) return backupFailed(file_.error());
            if (!parent->deleteSubkey(name)) return FixOutcome::Refused;
            changed_.push_back(std::string(rootText) + (parentPath.empty() ? "" : "\\") +
                               parentPath);
            return FixOutcome::Fixed;
        }
    }
    // Nothing to back up: gone already, most often because an ancestor went
    // earlier in the run.
    auto block = renderKeyBlock(machine_.registry(), view_, *root, sub, userSid_, wow_);
    if (!block) return FixOutcome::AlreadyGone;
    if (!file_.append(*block, flushEach_)) return backupFailed(file_.error());
    edit_.reset();  // this deletion may reach below the kept key
    RegistryKey key(machine_.registry(), *root);
    key.setView(view_);
    if (!key.deleteKey(sub)) return FixOutcome::Refused;
    changed_.push_back(std::string(rootText) + (parentPath.empty() ? "" : "\\") + parentPath);
    return FixOutcome::Fixed;
}

FixOutcome RegistryFixer::DeleteValueWithBackup(std::string_view rootText, std::string_view path,
                                                std::string_view name) {
    auto root = fixRoot(rootText);
    if (!root) return FixOutcome::Skipped;
    std::string sub = withoutTrailingBackslash(path);
    if (*root != RootKey::ClassesRoot && !wow_) {
        if (KeyHandle* key = openForEdit(*root, sub)) {
            auto block =
                renderOpenValueBlock(machine_.registry(), view_, *root, sub, *key, name, wow_);
            if (!block) return FixOutcome::AlreadyGone;
            if (!file_.append(*block, flushEach_)) return backupFailed(file_.error());
            if (!key->deleteValue(name)) return FixOutcome::Refused;
            changed_.push_back(std::string(rootText) + (sub.empty() ? "" : "\\") + sub);
            return FixOutcome::Fixed;
        }
    }
    auto block = renderValueBlock(machine_.registry(), view_, *root, sub, name, userSid_, wow_);
    if (!block) return FixOutcome::AlreadyGone;
    if (!file_.append(*block, flushEach_)) return backupFailed(file_.error());
    edit_.reset();  // this deletion may reach below the kept key
    RegistryKey key(machine_.registry(), *root);
    key.setView(view_);
    if (!key.openKey(sub) || !key.deleteValue(name)) return FixOutcome::Refused;
    changed_.push_back(std::string(rootText) + (sub.empty() ? "" : "\\" + sub));
    return FixOutcome::Fixed;
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

std::optional<RegistryFixer::Target> RegistryFixer::targetOf(const RegistryProblem& row) {
    size_t slash = row.keyPath.find('\\');
    if (slash == std::string::npos || row.kind == pkFile) return std::nullopt;
    Target t;
    t.rootText = row.keyPath.substr(0, slash);
    std::string rest = row.keyPath.substr(slash + 1);
    switch (row.kind) {
        case pkKey:
            t.wholeKey = true;
            t.sub = withoutTrailingBackslash(rest);
            break;
        case pkValue: {
            size_t last = rest.rfind('\\');
            t.sub = last == std::string::npos ? "" : rest.substr(0, last);
            t.value = last == std::string::npos ? rest : rest.substr(last + 1);
            break;
        }
        case pkDataSubkey:
            t.wholeKey = true;
            t.sub = withoutTrailingBackslash(rest + "\\" + row.data);
            break;
        case pkDataValue:
            t.sub = withoutTrailingBackslash(rest);
            t.value = row.data;
            break;
        case pkDefaultValue:
            t.sub = withoutTrailingBackslash(rest);
            break;
        case pkRot13Value:
            t.sub = withoutTrailingBackslash(rest);
            t.value = Rot13(row.data);
            break;
        case pkFile:
            return std::nullopt;
    }
    if (!fixRoot(t.rootText) || (t.wholeKey && t.sub.empty())) return std::nullopt;
    return t;
}

FixOutcome RegistryFixer::backUpOnly(const Target& t) {
    auto root = fixRoot(t.rootText);
    if (!root) return FixOutcome::Skipped;
    auto block =
        t.wholeKey
            ? renderKeyBlock(machine_.registry(), view_, *root, t.sub, userSid_, wow_)
            : renderValueBlock(machine_.registry(), view_, *root, t.sub, t.value, userSid_, wow_);
    if (!block) return FixOutcome::AlreadyGone;
    if (!file_.append(*block, false)) return backupFailed(file_.error());
    return FixOutcome::Fixed;
}

FixOutcome RegistryFixer::deleteOnly(const Target& t) {
    auto root = fixRoot(t.rootText);
    return root ? deleteBackedUp(*root, t) : FixOutcome::Skipped;
}

FixOutcome RegistryFixer::deleteBackedUp(RootKey root, const Target& t) {
    edit_.reset();
    RegistryKey key(machine_.registry(), root);
    key.setView(view_);
    if (t.wholeKey) {
        if (!key.deleteKey(t.sub)) return FixOutcome::Refused;
        size_t last = t.sub.rfind('\\');
        changed_.push_back(t.rootText +
                           (last == std::string::npos ? "" : "\\" + t.sub.substr(0, last)));
    } else {
        if (!key.openKey(t.sub) || !key.deleteValue(t.value)) return FixOutcome::Refused;
        changed_.push_back(t.rootText + (t.sub.empty() ? "" : "\\" + t.sub));
    }
    return FixOutcome::Fixed;
}

bool RegistryFixer::flushBackup() {
    if (file_.flush()) return true;
    error_ = file_.error();
    return false;
}

bool RegistryFixer::finish() {
    bool ok = file_.flush();
    if (!ok) error_ = file_.error();
    file_.close();
    return ok;
}

namespace {

// Rows backed up together before their deletions, when each deletion lands
// at once: their blocks are written, flushed once, and only then deleted.
constexpr size_t kBatchRows = 256;

// What one row of a batch deletes, in every spelling of its key.
struct Region {
    std::vector<std::string> keys;
    bool wholeKey = false;
    std::string value;  // upper-cased
};

Region regionOf(const RegistryFixer::Target& t, const KeyIdentity& identity) {
    Region r;
    for (auto& f : identity.forms(upperCase(t.rootText + (t.sub.empty() ? "" : "\\" + t.sub))))
        r.keys.push_back(std::move(f.text));
    r.wholeKey = t.wholeKey;
    r.value = upperCase(t.value);
    return r;
}

bool isAscii(std::string_view s) {
    return std::all_of(s.begin(), s.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Whether deleting one would touch what the other backs up: such rows go in
// separate batches, so the second finds what the first left, as it would
// one row at a time.
bool overlaps(const Region& a, const Region& b) {
    for (const auto& ka : a.keys)
        for (const auto& kb : b.keys) {
            if (a.wholeKey && keyAtOrAbove(ka, kb)) return true;
            if (b.wholeKey && keyAtOrAbove(kb, ka)) return true;
            // Names that differ beyond ASCII letter case may still be one name.
            if (!a.wholeKey && !b.wholeKey && ka == kb &&
                (a.value == b.value || !isAscii(a.value) || !isAscii(b.value)))
                return true;
        }
    return false;
}

bool stoppedAt(RegistryFixer& fixer, FixReport& report) {
    report.messages.push_back(fixer.error() +
                              " Nothing more was deleted; the remaining problems stay "
                              "in the list.");
    return false;
}

// Rows from the last to the first into outcomes; false when a backup could
// not be written (the rows before it were not tried).
bool fixRows(Machine& machine, RegistryFixer& fixer, const std::vector<RegistryProblem>& rows,
             std::vector<FixOutcome>& outcomes, FixReport& report) {
    outcomes.assign(rows.size(), FixOutcome::Skipped);
    auto fixAlone = [&](size_t i) {
        FixOutcome out = fixer.fixRow(rows[i]);
        outcomes[i] = out;
        if (out == FixOutcome::Refused && rows[i].kind == pkFile)
            report.messages.push_back("Cannot delete " + rows[i].keyPath + ".");
        return out != FixOutcome::NotBackedUp;
    };
    if (!fixer.flushesBeforeDeleting()) {
        // The deletions wait for the commit, which follows finish().
        for (size_t i = rows.size(); i-- > 0;)
            if (rows[i].checked && !fixAlone(i)) return stoppedAt(fixer, report);
        return true;
    }
    ViewRegistry view(machine.registry(), programView(machine.isWow64()));
    const KeyIdentity identity = KeyIdentity::of(machine.currentUser().sid, view);
    struct Pending {
        size_t row;
        RegistryFixer::Target target;
        Region region;
    };
    std::vector<Pending> batch;
    auto runBatch = [&] {
        bool flushed = batch.empty() || fixer.flushBackup();
        for (auto& p : batch)
            outcomes[p.row] = flushed ? fixer.deleteOnly(p.target) : FixOutcome::NotBackedUp;
        batch.clear();
        return flushed;
    };
    for (size_t i = rows.size(); i-- > 0;) {
        if (!rows[i].checked) continue;
        auto target = RegistryFixer::targetOf(rows[i]);
        if (!target) {
            // A file row: it is copied, noted and flushed before it goes.
            if (rows[i].kind == pkFile && (!runBatch() || !fixAlone(i)))
                return stoppedAt(fixer, report);
            continue;
        }
        Region region = regionOf(*target, identity);
        if (batch.size() >= kBatchRows ||
            std::any_of(batch.begin(), batch.end(),
                        [&](const Pending& p) { return overlaps(p.region, region); }))
            if (!runBatch()) return stoppedAt(fixer, report);
        FixOutcome out = fixer.backUpOnly(*target);
        if (out == FixOutcome::Fixed) {
            batch.push_back({i, std::move(*target), std::move(region)});
            continue;
        }
        outcomes[i] = out;
        if (out == FixOutcome::NotBackedUp) {
            // The batch's blocks may be incomplete on the disk: none of it goes.
            for (auto& p : batch) outcomes[p.row] = FixOutcome::NotBackedUp;
            return stoppedAt(fixer, report);
        }
    }
    return runBatch() || stoppedAt(fixer, report);
}

// Scans once more and keeps what is new at or above a key the run changed:
// what its deletions left behind. Nothing of it is deleted.
std::vector<RegistryProblem> findLeftovers(Machine& machine, const RegistryFixer& fixer,
                                           const std::vector<RegistryProblem>& rows,
                                           const RescanFn& rescan) {
    if (fixer.changedKeys().empty()) return {};
    ViewRegistry view(machine.registry(), programView(machine.isWow64()));
    auto found = leftoverRows(rescan(), rows, fixer.changedKeys(),
                              KeyIdentity::of(machine.currentUser().sid, view));
    for (auto& row : found) row.checked = false;
    return found;
}

}  // namespace

FixReport fixProblems(Machine& machine, const std::vector<RegistryProblem>& rows,
                      const std::string& backupFile, bool flushEachBlock, const RescanFn& rescan) {
    FixReport report;
    report.backupFile = backupFile;
    RegistryFixer fixer(machine, backupFile, programView(machine.isWow64()), flushEachBlock);
    if (!fixRows(machine, fixer, rows, report.outcomes, report)) report.stopped = true;
    if (rescan) report.leftovers = findLeftovers(machine, fixer, rows, rescan);
    if (!fixer.finish() && !fixer.flushesBeforeDeleting()) {
        // The registry's deletions wait for the commit: forget them, since
        // their backup may not be on the disk.
        machine.registry().discard();
        bool filesGone = false;
        for (size_t i = 0; i < rows.size(); ++i) {
            if (rows[i].kind == pkFile && report.outcomes[i] == FixOutcome::Fixed)
                filesGone = true;
            else if (report.outcomes[i] == FixOutcome::Fixed)
                report.outcomes[i] = FixOutcome::NotBackedUp;
        }
        // Without deleted files to bring back, the backup holds nothing that went.
        if (!filesGone) fixer.abandonBackup();
        report.leftovers.clear();  // found in what was just forgotten
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
    return fixProblems(machine, rows, file, steps.flushEachBlock, steps.rescan);
}

std::string commitFailed(FixReport& report, const std::vector<RegistryProblem>& rows,
                         const std::string& why) {
    size_t files = 0;
    for (size_t i = 0; i < report.outcomes.size() && i < rows.size(); ++i) {
        if (report.outcomes[i] != FixOutcome::Fixed) continue;
        if (rows[i].kind == pkFile) {
            ++files;
        } else {
            report.outcomes[i] = FixOutcome::Refused;
            --report.fixed;
            ++report.refused;
        }
    }
    std::string text = why;
    // The hive layer's "nothing was changed" speaks of the hives only.
    if (constexpr std::string_view kHives = "nothing was changed."; files && text.ends_with(kHives))
        text.replace(text.size() - kHives.size(), kHives.size(), "the hives were not changed.");
    if (!text.empty() && text.back() != ' ') text += ' ';
    if (files)
        text += "No registry entry was deleted, but " + std::to_string(files) + " shortcut file" +
                (files == 1 ? " was" : "s were") + " deleted; copies are in " +
                fileCopyFolder(report.backupFile) + " and come back when the backup " +
                report.backupFile + " is restored.";
    else
        text += "Nothing was deleted.";
    return text;
}

void removeFixedRows(std::vector<RegistryProblem>& rows, const FixReport& report) {
    std::vector<RegistryProblem> kept;
    kept.reserve(rows.size());
    for (size_t i = 0; i < rows.size(); ++i)
        if (i >= report.outcomes.size() || !report.rowLeaves(i)) kept.push_back(std::move(rows[i]));
    rows = std::move(kept);
}

}  // namespace brisko
