#pragma once
// Files and drives of an offline Windows installation laid out in a host
// folder. Windows paths resolve case-insensitively onto host paths, and never
// outside the machine folder: ".." that climbs above a drive and symbolic links
// that lead out are refused for every operation.
#include <atomic>
#include <bitset>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/unique_fd.h"
#include "core/machine/file_api.h"
#include "core/machine/image/beneath_open.h"
#include "core/machine/image/path_resolver.h"

namespace brisko {

class RegistryApi;

class ImageFileApi : public FileApi {
  public:
    // machineRoot: the machine folder (canonical). drives: each drive's hostPath
    // must lie inside machineRoot; a drive whose kind is NoRootDir is absent.
    ImageFileApi(std::filesystem::path machineRoot, std::vector<DriveInfo> drives);
    ~ImageFileApi() override;
    ImageFileApi(const ImageFileApi&) = delete;
    ImageFileApi& operator=(const ImageFileApi&) = delete;

    // Deletion at restart is recorded in the SYSTEM hive of this registry.
    void setRegistry(RegistryApi* registry) { registry_ = registry; }
    // The host files of the mounted hives. They and their .LOG, .LOG1 and
    // .LOG2 files are in use, as on Windows: never deleted, overwritten or
    // scheduled for deletion at restart.
    void setLoadedHives(const std::vector<std::filesystem::path>& hostFiles);
    // A 64-bit machine shows its system folder to a 32-bit program under
    // windowsDir\Sysnative as well; empty for a 32-bit machine.
    void setSysnative(std::string_view windowsDir);

    // Host path of a Windows path, resolved case-insensitively. With
    // mustExist=false the last component may be missing (and the folder above
    // it must exist, or with parents=true, may also be missing). nullopt when
    // the path is malformed, on no mounted drive, or would leave the machine.
    std::optional<std::filesystem::path> resolve(std::string_view winPath, bool mustExist = true,
                                                 bool parents = false);
    // Windows path of a host path inside a drive; nullopt otherwise.
    std::optional<std::string> toWindowsPath(const std::filesystem::path& host);

    // A locked file cannot be opened, deleted, moved or shell-deleted, as when
    // another program holds it open (tests, and hive copies handed to restart).
    void lockFile(std::string_view winPath);
    void unlockFile(std::string_view winPath);

    const std::filesystem::path& machineRoot() const { return root_; }

    // Links that lead out of the machine, devices, pipes and sockets, and host
    // names Windows could not spell ("a\b", "x:y") are left out of listings.
    std::optional<std::vector<FileEntry>> findFiles(std::string_view folder,
                                                    std::string_view mask) override;
    std::optional<FileEntry> fileInfo(std::string_view path) override;
    bool fileExists(std::string_view path) override;
    bool directoryExists(std::string_view path) override;
    bool deleteFile(std::string_view path) override;
    bool removeDirectory(std::string_view path) override;
    bool forceDirectories(std::string_view path) override;
    bool copyFile(std::string_view from, std::string_view to, bool failIfExists) override;
    bool moveFile(std::string_view from, std::string_view to) override;
    bool setAttributes(std::string_view path, uint32_t attributes) override;
    std::unique_ptr<FileHandle> openFile(std::string_view path, FileMode mode) override;
    std::unique_ptr<FileHandle> createFile(std::string_view path) override;
    std::unique_ptr<FileHandle> createNewFile(std::string_view path) override;
    bool shellDelete(std::string_view path) override;
    bool deleteAtRestart(std::string_view path) override;
    std::optional<PlaceId> placeId(std::string_view path) override;
    FileUse fileUse(std::string_view path) override;
    std::string shortPathName(std::string_view path) override;
    ShortNames shortNames(std::string_view folder) override;
    std::optional<std::string> libraryOpenPath(std::string_view path, std::string* why) override;
    std::vector<DriveInfo> drives() override;
    DriveKind driveType(std::string_view rootPath) override;
    std::string queryDosDevice(std::string_view drive) override;
    bool volumePresent(std::string_view rootPath) override;

    // Windows' restart-time rename list (PendingFileRenameOperations, REG_MULTI_SZ
    // raw bytes) as pairs of source and target; an empty target is a deletion.
    // Parsing stops at the first empty source, the list's terminator.
    static std::vector<std::pair<std::string, std::string>> parsePendingRenames(
        const std::vector<uint8_t>& raw);
    static std::vector<uint8_t> encodePendingRenames(
        const std::vector<std::pair<std::string, std::string>>& pairs);
    // Carries out every deletion and rename recorded for the next restart, as
    // Windows does while starting (locks do not matter then), and clears the
    // list. False when something could not be done or no registry is set.
    bool carryOutPendingRenames();

  private:
    struct Drive {
        DriveInfo info;
        std::string host;  // canonical host folder; empty when unusable
    };
    const Drive* usableDrive(char letter) const;
    const Drive* driveOf(std::string_view rootPath) const;
    // A path to look at: links inside the machine are followed.
    std::optional<image::Resolved> find(std::string_view winPath, bool mustExist = true,
                                        bool parents = false);
    // A path to act on: resolved through folder descriptors, following no
    // link (image::PathResolver::walkHeld).
    std::optional<image::Resolved> findHeld(std::string_view winPath, bool mustExist = true,
                                            bool parents = false);
    std::optional<std::pair<const Drive*, image::WinPath>> locate(std::string_view winPath) const;
    bool isLocked(const std::string& host);
    bool isHive(const std::string& host);
    bool hiveNamed(std::string_view path);
    // Descriptors below the machine folder (beneath_open.h).
    int rootFd() const;
    int openHost(const std::string& host, int flags, mode_t mode = 0) const;
    // The last component of a held walk in the folder the walk opened.
    std::optional<image::HeldEntry> holdEntry(const image::Resolved& r) const;
    // Unlinks the entry a held walk ended at if it is still the one it saw.
    bool unlinkChecked(const image::Resolved& r, int flags);
    std::unique_ptr<FileHandle> createAt(const image::Resolved& r, bool mustBeNew);
    bool lockedWithin(const std::string& dir);
    FileEntry entryFor(const std::string& name, const std::string& host, const struct stat& st);
    bool removeContents(int dirFd, const std::string& dir, int depth);
    void forgetAttributes(const std::string& host);
    void moveAttributes(const std::string& from, const std::string& to);
    void changed(const std::string& host, bool tree = false);
    bool carryOutOne(const std::string& source, const std::string& target);

    std::filesystem::path root_;           // canonical
    mutable std::atomic<int> rootFd_{-1};  // the machine folder, opened on first use
    image::PathResolver resolver_;
    std::vector<Drive> drives_;
    RegistryApi* registry_ = nullptr;
    std::mutex mutex_;              // guards locked_ and attributes_
    std::set<std::string> locked_;  // host paths of locked files
    // Hidden, system and archive bits (and read-only for folders) set through
    // setAttributes, by host path. The host has no place for them, so they
    // last as long as this object; a file never touched reports archive only.
    std::map<std::string, uint32_t> attributes_;
    std::set<std::string> hivePaths_;          // folded host paths of hives and logs
    std::set<std::string> hiveNames_;          // their folded file names
    std::bitset<64> hiveNameLengths_;          // and the lengths of those names
    std::atomic<bool> anyLocked_{false};       // locked_ is not empty
    std::optional<image::WinPath> sysnative_;  // the Windows folder of a 64-bit machine
};

}  // namespace brisko
