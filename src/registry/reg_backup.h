#pragma once
// The backup a registry fix writes before it deletes anything: one .reg file
// per run ("2013_07_04_093005.reg"), a block per deleted key or value, in the
// registry editor's own format so that merging the file puts back exactly what
// was removed. Used by the fix and by every other routine that deletes
// registry entries on the user's behalf (the startup manager).
//
// The file starts as REGEDIT4 in the ANSI code page. Every value type is kept
// as stored: types a quoted string or "dword:" cannot carry are written as
// hex(N) data, the way the registry editor writes them. When a block holds a
// name or text the ANSI code page cannot carry, the run's file becomes a
// "Windows Registry Editor Version 5.00" file (UTF-16LE): the blocks already
// written are carried over, and nothing is lost either way.
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/machine/file_api.h"
#include "core/machine/reg_file.h"
#include "core/machine/registry_api.h"

namespace brisko {

// "year_month_day_hhmmss" from a local date and time: the name of a backup
// without its ".reg", and the name of a run's folder of copies.
std::string backupStamp(const std::tm& local);
// The same for the current local time.
std::string backupStampNow();
// year_month_day_hhmmss.reg from a local date and time.
std::string backupFileName(const std::tm& local);
// The same for the current local time.
std::string backupFileNameNow();

// One block of a backup: the header line and its values, then the blocks of
// the subkeys. It is written out in the format of the file it goes to;
// `unicode` says it needs the Version 5 format to come back exactly.
struct RegBackupBlock {
    struct Line {
        enum Kind { Header, Value, Comment } kind = Header;
        std::string text;  // the key path of a header, the text of a comment
        RegValue value;
        std::string regedit4Line;  // the value's line for a REGEDIT4 file, once made
    };
    std::vector<Line> lines;
    bool unicode = false;
    // The block as UTF-8 text for a REGEDIT4 (false) or Version 5 (true) file.
    std::string render(bool unicodeFile) const;
};

// A key with all its values and subkeys (recursively), as the view sees it.
// Headers name the keys where they really are (a 32-bit view's keys under
// Wow6432Node), so a merge puts them back in the same place. A key of
// HKEY_CLASSES_ROOT, given the current user's SID, is written from each
// Classes it lives in (the user's HKEY_USERS\<SID>_Classes, the machine's
// HKEY_LOCAL_MACHINE\SOFTWARE\Classes): deleting it removes both, and a merge
// into the merged view would put everything in one place. Nullopt when the
// key does not exist.
// hasWowView: whether the registry has a 32-bit view, when the caller knows.
std::optional<RegBackupBlock> renderKeyBlock(RegistryApi& registry, RegistryView view, RootKey root,
                                             std::string_view keyPath,
                                             std::string_view userSid = {},
                                             std::optional<bool> hasWowView = std::nullopt);
// The header of the key and the one value line (for HKEY_CLASSES_ROOT, one
// for each Classes that holds the value). Nullopt when the value does not exist.
std::optional<RegBackupBlock> renderValueBlock(RegistryApi& registry, RegistryView view,
                                               RootKey root, std::string_view keyPath,
                                               std::string_view valueName,
                                               std::string_view userSid = {},
                                               std::optional<bool> hasWowView = std::nullopt);
// The same from a key the caller has open and will delete through (keyPath
// names it, for the headers): one walk to the key instead of two.
RegBackupBlock renderOpenKeyBlock(RegistryApi& registry, RegistryView view, RootKey root,
                                  std::string_view keyPath, KeyHandle& key, bool hasWowView);
std::optional<RegBackupBlock> renderOpenValueBlock(RegistryApi& registry, RegistryView view,
                                                   RootKey root, std::string_view keyPath,
                                                   KeyHandle& key, std::string_view valueName,
                                                   bool hasWowView);
// A comment line the registry editor skips; our import reads the ones it knows.
RegBackupBlock renderCommentBlock(std::string_view comment);

// The value line of a backup ("\"Name\"=hex(7):41,00,..."), CR LF included.
// unicode: for a Version 5 file. Sets *needsUnicode when the line cannot be
// written exactly in a REGEDIT4 file.
std::string renderValueLine(const RegValue& v, bool unicode, bool* needsUnicode = nullptr);

// A backup file of one run, opened on first use and kept open. An append with
// flush writes the whole block and flushes it to the disk before it returns:
// a deletion that follows it is never ahead of its backup. Appends without
// flush are gathered and written at the next flush (for a registry whose
// deletions only land at a commit that follows the flush).
//
// The first write or flush that fails is final: every later append and flush
// fails with the same error, since the blocks gathered before it may be lost.
// The file is cut back to its last whole block, so that it never ends in a
// cut line, and a file this run created that holds no block is removed.
class RegBackupFile {
  public:
    RegBackupFile(FileApi& files, std::string path) : files_(files), path_(std::move(path)) {}
    ~RegBackupFile();
    RegBackupFile(const RegBackupFile&) = delete;
    RegBackupFile& operator=(const RegBackupFile&) = delete;

    const std::string& path() const { return path_; }
    // False, with error(), when the block could not be written whole.
    bool append(const RegBackupBlock& block, bool flush = true);
    // Flushes what was appended without flushing.
    bool flush();
    void close();
    // Takes back what this run wrote, when none of it is needed (the
    // deletions it was for were all forgotten): a file the run created is
    // removed, an existing one cut back to its length before the run.
    void abandon();
    // Why the last append or flush failed, for a person.
    const std::string& error() const { return error_; }
    // A write or flush failed: nothing more goes into the file.
    bool failed() const { return failed_; }
    // The format of the file as it now is.
    RegFileFormat format() const { return format_; }

  private:
    bool open(bool unicode);
    bool convertToUnicode();
    bool writeAll(std::string_view bytes);
    bool drain();
    bool fail(std::string why);
    bool writeFailed(std::string why);

    FileApi& files_;
    std::string path_;
    std::unique_ptr<FileHandle> handle_;
    RegFileFormat format_ = RegFileFormat::Regedit4;
    std::string pending_;  // appended, not yet written
    std::string error_;
    bool failed_ = false;
    bool created_ = false;    // by this run
    bool converted_ = false;  // turned into a Unicode file by this run
    int64_t startSize_ = -1;  // an existing file's length before the run
    int64_t whole_ = 0;       // the file's length up to the end of its last whole block
    int64_t headSize_ = 0;    // the length of its first line, when created by this run
};

// AppendRegBackup: writes the whole key or the one value to the backup file.
// False (with the reason in *error) when the key or value is not there or the
// block could not be written.
bool AppendRegBackup(RegBackupFile& file, RegistryApi& registry, RegistryView view, RootKey root,
                     std::string_view keyPath, bool wholeKey, std::string_view valueName,
                     std::string* error = nullptr, bool flush = true,
                     std::string_view userSid = {});

}  // namespace brisko
