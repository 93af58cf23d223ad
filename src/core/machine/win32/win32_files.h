#pragma once
// Files, folders and drives of the running Windows through kernel32 and the
// shell, with wide-character calls.
#include <functional>
#include <mutex>

#include "core/machine/file_api.h"

namespace brisko::win32 {

class Win32FileApi : public FileApi {
  public:
    // hiveFiles lists the files of the hives Windows has loaded; they and their
    // logs are never removed.
    explicit Win32FileApi(std::function<std::vector<std::string>()> hiveFiles);

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
    std::optional<std::string> libraryOpenPath(std::string_view path, std::string* why) override;

    std::vector<DriveInfo> drives() override;
    DriveKind driveType(std::string_view rootPath) override;
    std::string queryDosDevice(std::string_view drive) override;
    bool volumePresent(std::string_view rootPath) override;

  private:
    bool isHiveFile(std::string_view path);

    std::function<std::vector<std::string>()> hiveFiles_;
    std::mutex hiveMutex_;
    std::vector<std::string> hivePlaces_;  // folded full paths, read once
    bool hivesRead_ = false;
};

}  // namespace brisko::win32
