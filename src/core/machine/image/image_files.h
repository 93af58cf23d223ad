#pragma once
// Files and drives of an offline Windows installation laid out in a host
// folder. Windows paths resolve case-insensitively onto host paths, and never
// outside the machine folder: ".." that climbs above a drive and symbolic links
// that lead out are refused for every operation.
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/machine/file_api.h"

namespace brisko {

class RegistryApi;

class ImageFileApi : public FileApi {
public:
    // machineRoot: the machine folder (canonical). drives: each drive's hostPath
    // must lie inside machineRoot; a drive whose kind is NoRootDir is absent.
    ImageFileApi(std::filesystem::path machineRoot, std::vector<DriveInfo> drives);

    // Deletion at restart is recorded in the SYSTEM hive of this registry.
    void setRegistry(RegistryApi* registry) { registry_ = registry; }

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
    bool shellDelete(std::string_view path) override;
    bool deleteAtRestart(std::string_view path) override;
    std::string shortPathName(std::string_view path) override;
    std::vector<DriveInfo> drives() override;
    DriveKind driveType(std::string_view rootPath) override;
    std::string queryDosDevice(std::string_view drive) override;
    bool volumePresent(std::string_view rootPath) override;

private:
    // ... implementation state: drives, the case-insensitive lookup cache
    // (guarded by mutex_), locked files.
    std::filesystem::path root_;
    std::vector<DriveInfo> drives_;
    RegistryApi* registry_ = nullptr;
    std::mutex mutex_;
    std::set<std::string> locked_;  // upper-cased Windows paths
};

}  // namespace brisko
