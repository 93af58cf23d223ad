#pragma once
// The operations every clean item is built from: delete a file (overwriting it
// first when the user wants that), empty a folder tree, delete the files that
// match a mask, delete registry keys and values, delete at restart. In a Test
// run they count exactly what a Clean run would remove and change nothing; in
// a Clean run they ask before emptying a drive root or the documents folders.
// They write the per-entry log lines, honour Fast Mode and keep the progress
// moving, all through the CleanContext.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/machine/file_api.h"
#include "core/machine/registry_api.h"

namespace brisko {

class CleanContext;
class Machine;

// Bytes as whole kilobytes rounded up, digits grouped by "," in threes:
// 0 -> "0", 1 and 1024 -> "1", 1025 -> "2", 1234567890 -> "1,205,633".
std::string FormatKB(uint64_t bytes);

// --- Files -----------------------------------------------------------------

// Logs the file (when log is set and Fast Mode is off); in a Test run counts it
// and touches nothing; otherwise overwrites it first when IsWipeFile is on and
// deletes it without the recycle bin. A file that is in use is scheduled for
// deletion at the next restart. True when the file counts as removed.
// `listed`: the file's place as its folder's listing gave it, if it did.
bool DeleteOneFile(CleanContext& ctx, std::string_view path, bool log,
                   const PlaceId* listed = nullptr);

// Overwrites an existing file with `passes` passes, each one random byte value
// over the whole length, flushed to disk. The file keeps its length and its
// attributes; any error (locked, read-only, larger than 2 GB) ends the wipe silently.
void WipeFile(FileApi& files, std::string_view path, int passes);

// Removes every file below folder (except files named skipName, compared
// without case, when skipName is not empty) and, in a Clean run, the emptied
// subfolders; the folder itself only when removeStartFolder is set. Increments
// counter per removed file; returns the removed bytes. Asks before a drive root
// and the documents folders in a Clean run; No skips the folder (returns 0).
int64_t WipeFolder(CleanContext& ctx, std::string_view folder, bool removeStartFolder, bool log,
                   std::string_view skipName, int& counter);

// A test on a file name (the name alone, without its folder).
using FileNameTest = std::function<bool(std::string_view name)>;

// WipeFolder that leaves every file keep() is true for, wherever it is below
// folder; a subfolder that still holds such a file stays too.
int64_t WipeFolderKeeping(CleanContext& ctx, std::string_view folder, bool removeStartFolder,
                          bool log, const FileNameTest& keep, int& counter);

// Removes the files of folder matching mask ("*.*" every file; one "*" a
// prefix and a suffix compared without case; no "*" the exact name, case
// included), in subfolders too when recurse is set. No folder is removed.
int64_t DeleteMatchingFiles(CleanContext& ctx, std::string_view folder, std::string_view mask,
                            int& counter, bool recurse);

// MoveFileEx delay-until-restart. True when the file is absent or the request
// was accepted.
bool ScheduleDeleteAtRestart(Machine& machine, std::string_view path);

// Windows 9x: adds lines below the "[rename]" header of Wininit.ini in the
// Windows folder (each one directly under the header, so they end up in
// reverse order), or appends the header and the lines when it has none.
// False when the file could not be written.
bool AddWininitRenames(Machine& machine, const std::vector<std::string>& lines);

// True when the file exists and cannot be opened for exclusive reading and writing.
bool IsFileInUse(FileApi& files, std::string_view path);
// Size from a directory search; 0 when not found.
uint64_t FileSizeOf(FileApi& files, std::string_view path);
// The 8.3 form of the path; empty on failure.
std::string ShortPathOf(FileApi& files, std::string_view path);

// --- Registry --------------------------------------------------------------

// One of the five root names written in full ("HKEY_CURRENT_USER"), matched
// after upper-casing; abbreviations are not roots.
std::optional<RootKey> rootKeyByName(std::string_view rootName);

// Values in the key and every key below it; 0 when it cannot be opened.
int CountKeyValues(RegistryApi& registry, RootKey root, std::string_view subPath);

// Deletes the key with everything below it. Returns its value count (at least
// 1 when it exists), 0 when it does not exist or the root is not one of the five.
int DeleteUserKey(CleanContext& ctx, std::string_view subPath);
int DeleteKeyByName(CleanContext& ctx, std::string_view rootName, std::string_view subPath);

// With a value name: that value (1 or 0). Without: every value of the key and
// every subkey whole (as DeleteUserKey / DeleteKeyByName); the key itself stays.
int DeleteUserValues(CleanContext& ctx, std::string_view subPath, std::string_view valueName);
int DeleteValuesByName(CleanContext& ctx, std::string_view rootName, std::string_view subPath,
                       std::string_view valueName);

// A string value (REG_SZ or REG_EXPAND_SZ, unexpanded); empty when the key or
// the value is missing.
std::string ReadRegString(RegistryApi& registry, RootKey root, std::string_view key,
                          std::string_view valueName);

// --- Folders ---------------------------------------------------------------

// With a trailing backslash; empty when the machine has none.
std::string MyDocumentsFolder(Machine& machine);  // CSIDL 5
std::string AppDataFolder(Machine& machine);      // CSIDL 26
// "ProgramFilesDir" of HKLM\Software\Microsoft\Windows\CurrentVersion, with a
// trailing backslash; empty when the value is missing.
std::string ProgramFilesFolder(Machine& machine);

}  // namespace brisko
