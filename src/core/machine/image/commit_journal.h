#pragma once
// What makes one commit's changes to several hives land together or not at
// all. Every changed hive is first written whole to a new file beside it; then
// a journal in the machine folder names each new file and the hive it
// replaces; then the new files are renamed over the hives, and the journal
// goes. A journal found at the next open means the renames may have stopped
// part-way: they are finished. New files without a journal are what is left of
// a commit that never got that far: they are removed. At every moment each
// hive file is either the old one, with its logs, or the new one.
#include <filesystem>
#include <string>
#include <vector>

namespace brisko {

struct HiveReplacement {
    std::filesystem::path newFile;  // beside the hive
    std::filesystem::path hive;
};

// The journal of a machine folder.
std::filesystem::path commitJournalFile(const std::filesystem::path& machineFolder);

// A fresh name beside `hive` for its new copy ("NTUSER.DAT.brisko-1a2b3c4d.new").
std::filesystem::path newHiveCopyName(const std::filesystem::path& hive);
// True for names newHiveCopyName gives for a hive of this file name.
bool isNewHiveCopyName(const std::string& name, const std::string& hiveName);

// Writes the journal atomically and durably. Paths are kept relative to the
// machine folder, so a disk mounted elsewhere next time still finishes.
bool writeCommitJournal(const std::filesystem::path& machineFolder,
                        const std::vector<HiveReplacement>& replacements, std::string* error);
bool removeCommitJournal(const std::filesystem::path& machineFolder);

// What finishing an interrupted commit did.
struct CommitRecovery {
    size_t renamed = 0;                 // new hives put in place
    size_t removed = 0;                 // new copies of a commit that had not started its renames
    std::vector<std::string> problems;  // for a person
};

// Finishes (complete journal) or discards (incomplete journal) an interrupted
// commit. Only while holding the machine's write lock. A journal entry that
// names anything but one of our new copies beside its hive, inside the
// machine folder, is ignored: the journal comes from the disk, not from us.
CommitRecovery finishInterruptedCommit(const std::filesystem::path& machineFolder);

// The new copies a journal still names (its renames could not all be done):
// they wait for the next open and are never stray.
std::vector<std::filesystem::path> journalNewFiles(const std::filesystem::path& machineFolder);

// Removes new copies left beside `hive` by commits that never wrote their
// journal, and the "<hive>.tmp" files of earlier versions, but none of
// `keep`. Only while holding the machine's write lock, after
// finishInterruptedCommit. Returns how many.
size_t removeStrayHiveCopies(const std::filesystem::path& hive,
                             const std::vector<std::filesystem::path>& keep = {});

// Removes the temporary files a writer killed part-way left beside the
// journal and the pending list in the machine folder. Only while holding the
// machine's write lock. Returns how many.
size_t removeStrayMachineTemps(const std::filesystem::path& machineFolder);

// fsync of a folder, so renames and new names in it are on the disk.
void syncFolder(const std::filesystem::path& folder);

}  // namespace brisko
