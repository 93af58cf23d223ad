#pragma once
// Fixing registry problems: every checked row's key or value is written to the
// run's backup file, flushed, and only then deleted; a shortcut row's file is
// copied beside the backup before it goes. Nothing is deleted whose backup
// could not be written.
//
// Keys are opened in the view the scan used (the 32-bit view on 64-bit
// Windows), so a row deletes exactly the key the scan found.
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/machine/machine.h"
#include "registry/reg_backup.h"
#include "registry/registry_problem.h"

namespace brisko {

class Prompter;
struct TOptionsSetting;

inline constexpr std::string_view kFixFinishedCaption = "Fix errors finished!";
inline constexpr std::string_view kNoBackupFolderText = "can not find the backup folder.";
// Comment lines of a backup that name a copy of a deleted file:
// ";BriskoFileCopy|<copy, relative to the backup's folder>|<original path>".
inline constexpr std::string_view kFileCopyTag = "BriskoFileCopy|";

enum class FixOutcome {
    Skipped,      // unchecked, or a key path without "\": the row stays
    Fixed,        // backed up and deleted: the row goes
    AlreadyGone,  // nothing there any more (an ancestor went first): the row goes
    NotBackedUp,  // the backup could not be written: nothing deleted, the row stays
    Refused,      // the registry or the file system refused the deletion: the row stays
};

struct FixReport {
    std::string backupFile;  // Windows path of the run's backup
    size_t fixed = 0;
    size_t alreadyGone = 0;
    size_t notBackedUp = 0;
    size_t refused = 0;
    std::vector<FixOutcome> outcomes;  // one per row given, in list order
    // For the user: why rows stayed (backup errors, read-only hives).
    std::vector<std::string> messages;
    bool stopped = false;  // a backup write failed: the rows after it were not tried
    // What the run's own deletions left behind (a key left empty, a command
    // key left without its command), found by scanning the same sections
    // again. Nobody has seen these rows, so the run deletes none of them: they
    // are for the user to look at and check.
    std::vector<RegistryProblem> leftovers;
    // Rows of the list that stayed: not backed up or refused.
    size_t kept() const { return notBackedUp + refused; }
    bool rowLeaves(size_t i) const {
        return outcomes[i] == FixOutcome::Fixed || outcomes[i] == FixOutcome::AlreadyGone;
    }
};

// The folder of deleted-file copies of a backup: "2013_07_04_093005_files"
// beside "2013_07_04_093005.reg".
std::string fileCopyFolder(std::string_view backupFile);

// The routines of one fix run, sharing its backup file.
class RegistryFixer {
  public:
    // flushEachBlock: flush the backup to the disk before every deletion. A
    // caller whose registry's deletions only land at commit may pass false
    // and call finish() before committing; on a registry whose deletions land
    // at once it has no effect.
    RegistryFixer(Machine& machine, std::string backupFile, RegistryView view,
                  bool flushEachBlock = true);

    // By root name as written in full key paths ("HKEY_CURRENT_USER"); any
    // other root does nothing.
    FixOutcome DeleteKeyWithBackup(std::string_view root, std::string_view path);
    FixOutcome DeleteValueWithBackup(std::string_view root, std::string_view path,
                                     std::string_view name);
    // A shortcut row: the file is copied beside the backup, the copy noted in
    // the backup, then the file deleted.
    FixOutcome DeleteFileWithCopy(std::string_view path);
    // One row, by kind.
    FixOutcome fixRow(const RegistryProblem& row);

    // What a registry row deletes: a key with its subtree, or one value.
    struct Target {
        std::string rootText;  // as the row writes it
        std::string sub;       // the key below the root
        bool wholeKey = false;
        std::string value;  // the value's name, when not a whole key
    };
    // Nullopt for a file row and a row without a root.
    static std::optional<Target> targetOf(const RegistryProblem& row);
    // Whether each backed-up entry is on the disk before its deletion (the
    // deletions land at once); otherwise the backup is flushed by finish(),
    // before the commit that carries the deletions.
    bool flushesBeforeDeleting() const { return flushEach_; }
    // A batch's two halves: the target's block appended without a flush
    // (Fixed: backed up; AlreadyGone; NotBackedUp), then, once the batch is
    // flushed, the deletion (Fixed or Refused).
    FixOutcome backUpOnly(const Target& t);
    FixOutcome deleteOnly(const Target& t);
    bool flushBackup();

    // Flushes the backup; false (with error()) when it could not be.
    bool finish();
    // After finish(), when none of the run's deletions stayed: the backup
    // is taken back (see RegBackupFile::abandon).
    void abandonBackup() { file_.abandon(); }
    const std::string& error() const { return error_; }
    const std::string& backupFile() const { return file_.path(); }
    // The keys this fixer changed: the key of each deleted value, the parent
    // of each deleted key (full paths as the rows name them).
    const std::vector<std::string>& changedKeys() const { return changed_; }

  private:
    FixOutcome backupFailed(std::string why);
    FixOutcome deleteBackedUp(RootKey root, const Target& t);
    // The writable key the last row went through: rows one after another
    // below one key (a list of values, a run of sibling keys) open it once.
    // Deletions through it leave it standing, and every row either uses it
    // or replaces it.
    KeyHandle* openForEdit(RootKey root, const std::string& path);

    Machine& machine_;
    RegBackupFile file_;
    RegistryView view_;
    bool flushEach_;
    std::string userSid_;  // HKEY_CLASSES_ROOT rows are backed up from each Classes
    bool wow_;             // the registry has a 32-bit view
    int copies_ = 0;
    std::string error_;
    std::vector<std::string> changed_;
    std::unique_ptr<KeyHandle> edit_;
    RootKey editRoot_ = RootKey::CurrentUser;
    std::string editPath_;
};

// Scans the sections of the scan the rows came from again, on the calling
// thread, with the rows checked and filtered as after that scan.
using RescanFn = std::function<std::vector<RegistryProblem>()>;

// Step 5 of Fix Errors over the rows, from the last to the first. Stops at the
// first backup that cannot be written. Deletes the checked rows and nothing
// else; with a rescan, it then scans once more and reports in `leftovers`
// what its deletions left behind. Ends by flushing the backup; when that
// fails, every deletion of the run is forgotten (registry.discard()) and
// reported as not backed up.
FixReport fixProblems(Machine& machine, const std::vector<RegistryProblem>& rows,
                      const std::string& backupFile, bool flushEachBlock = true,
                      const RescanFn& rescan = {});

// Fix Errors as the button runs it: the backup folder (asked for and created
// when missing), the restore point (restorePoint returns false for Cancel),
// the backup name of the run, the rows. Nullopt when it stopped before the
// rows; *error then says why when there is something to say.
struct FixErrorsSteps {
    std::function<bool()> restorePoint;  // TfrmSystemPoint; absent: none made
    bool flushEachBlock = true;
    RescanFn rescan;  // absent: leftovers of the run's deletions are not looked for
};
std::optional<FixReport> fixErrors(Machine& machine, const std::vector<RegistryProblem>& rows,
                                   const TOptionsSetting& settings, int windowsVersionCode,
                                   Prompter& prompter, const FixErrorsSteps& steps,
                                   std::string* error = nullptr);

// After the commit that was to carry a fix's registry deletions failed (and
// they were discarded): those rows become Refused, while shortcut rows, whose
// files went at once, stay Fixed. The text says so for the user, starting
// with `why`.
std::string commitFailed(FixReport& report, const std::vector<RegistryProblem>& rows,
                         const std::string& why);

// Removes the rows a fix took away, keeping the others in order.
void removeFixedRows(std::vector<RegistryProblem>& rows, const FixReport& report);

}  // namespace brisko
