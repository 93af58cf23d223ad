#pragma once
// The backups in the backup folder: the restore list, deleting a backup, and
// putting back the files a backup kept copies of.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/machine/machine.h"

namespace brisko {

struct BackupListRow {
    std::string name;       // file name, "2013_07_04_093005.reg"
    int64_t writeTime = 0;  // FILETIME of the last write
    uint64_t size = 0;      // bytes
    bool whole = true;      // false: cut short (a full disk, a kill), not to be restored
};

// "2 KB" for 1536 bytes: kilobytes rounded up, digits grouped by ",".
std::string backupSizeText(uint64_t bytes);
// Seconds since 1970 for a FILETIME.
int64_t fileTimeToUnix(int64_t fileTime);

// Every file (not folder) of the folder whose extension is ".reg" in any
// case, newest name first (names compared without case). Empty files are no
// backups and are left out. Nullopt when the folder does not exist.
std::optional<std::vector<BackupListRow>> listBackups(FileApi& files, std::string_view folder);

// The backup's full path: the folder, a "\" when it has none, the name.
std::string backupPath(std::string_view folder, std::string_view name);

// Whether the backup ends with a whole block (regFileEndsWhole), read from
// its end; false when it cannot be read.
bool backupEndsWhole(FileApi& files, std::string_view backupFile);

// The backup a user names for restoring or deleting: a name in the backup
// folder, or a Windows path of a file in it. Only a ".reg" file directly in
// that folder (compared as places, not spellings), and not a link, is one;
// nullopt otherwise, with the reason in *why.
std::optional<std::string> backupInFolder(FileApi& files, std::string_view folder,
                                          std::string_view nameOrPath, std::string* why);

// Deletes the backup file and the folder of file copies beside it.
bool deleteBackup(FileApi& files, std::string_view backupFile);

// The copies of deleted files a backup names (its ";BriskoFileCopy|" lines).
struct FileCopyNote {
    std::string copy;      // relative to the backup's folder: "2013_07_04_093005_files\1_x.lnk"
    std::string original;  // where the file was
};
std::vector<FileCopyNote> fileCopyNotes(std::string_view regFileBytes);

// Puts every noted file back where it was, unless something is there now.
// readCopy gives a copy's bytes (nullopt when it cannot be read). Returns the
// files put back; *problems collects what could not be, for a person.
size_t restoreFileCopies(
    FileApi& files, const std::vector<FileCopyNote>& notes,
    const std::function<std::optional<std::string>(const std::string&)>& readCopy,
    std::vector<std::string>* problems = nullptr);

// restoreFileCopies for a backup of the machine: `backupFile` is its Windows
// path, `bytes` its content; each copy is read from the backup's folder.
size_t restoreBackupFileCopies(FileApi& files, std::string_view backupFile, std::string_view bytes,
                               std::vector<std::string>* problems = nullptr);

}  // namespace brisko
