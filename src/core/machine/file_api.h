#pragma once
// Files, folders and drives as the machine offers them. Every path is a
// Windows path ("C:\Users\x\file.txt"); the backend decides where it lives.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brisko {

// File attributes, Windows values.
constexpr uint32_t faReadOnly = 0x01;
constexpr uint32_t faHidden = 0x02;
constexpr uint32_t faSysFile = 0x04;
constexpr uint32_t faVolumeID = 0x08;
constexpr uint32_t faDirectory = 0x10;
constexpr uint32_t faArchive = 0x20;
constexpr uint32_t faAnyFile = 0x3f;
// FILE_ATTRIBUTE_REPARSE_POINT: a symbolic link, junction or mount point. A
// folder walk removes such an entry itself and never descends into it.
constexpr uint32_t faReparsePoint = 0x400;

// The identity of a file or folder (volume serial and file index on Windows):
// every spelling of one place ("C:\.", "C:\x\..", "PROGRA~1", other case,
// a link to it) has the same id.
struct PlaceId {
    uint64_t volume = 0;
    uint64_t file = 0;
    bool operator==(const PlaceId&) const = default;
};

struct FileEntry {
    std::string name;  // name only, no folder
    uint64_t size = 0;
    uint32_t attributes = 0;
    int64_t writeTime = 0;  // FILETIME
    // Its placeId(), where the listing tells it at no cost (so a walk needs
    // no look-up a file); zero where it does not.
    PlaceId place;
    bool isDirectory() const { return attributes & faDirectory; }
    bool isLink() const { return attributes & faReparsePoint; }
};

// Why a file may not go now.
enum class FileUse {
    Free,
    Locked,      // another program holds it open; it can go at the next restart
    LoadedHive,  // a registry hive the system has loaded, or one of its logs: never removed
};

// GetDriveType values.
enum class DriveKind : int {
    Unknown = 0,
    NoRootDir = 1,
    Removable = 2,
    Fixed = 3,
    Remote = 4,
    CdRom = 5,
    RamDisk = 6,
};

struct DriveInfo {
    char letter = 'C';
    DriveKind kind = DriveKind::Fixed;
    std::string device;        // "\Device\HarddiskVolume2"
    std::string hostPath;      // image backend: the host folder; empty otherwise
    bool mediaPresent = true;  // a removable or CD drive may have no medium
    std::string volumeLabel;
};

enum class FileMode { Read, ReadWrite };

// The 8.3 aliases of the entries of one folder.
struct ShortNames {
    // True where the file system keeps them (NTFS): an alias that is not in
    // the table names nothing. False where they are worked out from the names
    // as Windows would most likely have handed them out; Windows numbers them
    // in the order the names were made, so such an alias is only a guess.
    bool stored = false;
    std::map<std::string, std::string> byAlias;  // upper-cased alias -> name as listed
};

class FileHandle {
  public:
    virtual ~FileHandle() = default;
    virtual int64_t size() = 0;
    virtual bool seek(int64_t offset) = 0;
    virtual int64_t read(void* buf, int64_t n) = 0;
    virtual int64_t write(const void* buf, int64_t n) = 0;
    virtual bool flush() = 0;  // FlushFileBuffers
    // Cuts the file to `size` bytes (SetEndOfFile); false where a handle cannot.
    virtual bool truncate(int64_t size) {
        (void)size;
        return false;
    }
};

class FileApi {
  public:
    virtual ~FileApi() = default;
    // FindFirst/FindNext over "folder\mask". The entries "." and ".." are
    // included for a folder other than a drive root, as Windows returns them.
    // nullopt when the folder cannot be listed.
    virtual std::optional<std::vector<FileEntry>> findFiles(std::string_view folder,
                                                            std::string_view mask) = 0;
    virtual std::optional<FileEntry> fileInfo(std::string_view path) = 0;
    virtual bool fileExists(std::string_view path) = 0;       // a file, not a folder
    virtual bool directoryExists(std::string_view path) = 0;  // a folder
    virtual bool deleteFile(std::string_view path) = 0;
    virtual bool removeDirectory(std::string_view path) = 0;  // only when empty
    virtual bool forceDirectories(std::string_view path) = 0;
    virtual bool copyFile(std::string_view from, std::string_view to, bool failIfExists) = 0;
    virtual bool moveFile(std::string_view from, std::string_view to) = 0;
    virtual bool setAttributes(std::string_view path, uint32_t attributes) = 0;
    // Nullptr when absent, a folder, or locked by another program.
    virtual std::unique_ptr<FileHandle> openFile(std::string_view path, FileMode mode) = 0;
    // Creates or truncates. An existing link or a file with further hard links
    // is replaced by a new file, never written through.
    virtual std::unique_ptr<FileHandle> createFile(std::string_view path) = 0;
    // CreateFile CREATE_NEW: nullptr when anything of that name exists.
    virtual std::unique_ptr<FileHandle> createNewFile(std::string_view path) = 0;
    // SHFileOperation FO_DELETE without undo: a file, or a folder with everything in it.
    virtual bool shellDelete(std::string_view path) = 0;
    // MoveFileEx(path, NULL, MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT).
    virtual bool deleteAtRestart(std::string_view path) = 0;
    // The place a path names (a link as its last part is followed); nullopt
    // when it does not exist.
    virtual std::optional<PlaceId> placeId(std::string_view path) = 0;
    virtual FileUse fileUse(std::string_view path) = 0;
    // GetShortPathName; the long path itself where there is no short name.
    virtual std::string shortPathName(std::string_view path) = 0;
    // The aliases of a folder's entries; by default guessed from its listing.
    virtual ShortNames shortNames(std::string_view folder);
    // The path under which a library that opens files by name itself (SQLite)
    // may open this file in place: a regular file with no further hard links,
    // reached without passing any link, not in use, and with nothing but
    // regular files of its own under the names such a library keeps beside it
    // ("-wal", "-shm", "-journal"). nullopt otherwise, with the reason in why
    // (a few words for a log line); a machine without such paths has none.
    virtual std::optional<std::string> libraryOpenPath(std::string_view path, std::string* why) {
        (void)path;
        if (why) *why = "the file cannot be opened in place on this machine";
        return std::nullopt;
    }

    virtual std::vector<DriveInfo> drives() = 0;  // GetLogicalDriveStrings + details
    virtual DriveKind driveType(std::string_view rootPath) = 0;
    virtual std::string queryDosDevice(std::string_view drive) = 0;  // "C:" -> "\Device\..."
    virtual bool volumePresent(std::string_view rootPath) = 0;       // GetVolumeInformation
};

}  // namespace brisko
