#pragma once
// A FileApi that passes every call to another one: the base of test wrappers
// that change one or two calls (a disk that fills up, a spy on deletions).
#include "core/machine/file_api.h"

namespace brisko::test {

class ForwardingFileApi : public FileApi {
  public:
    explicit ForwardingFileApi(FileApi& inner) : in_(inner) {}

    std::optional<std::vector<FileEntry>> findFiles(std::string_view f,
                                                    std::string_view m) override {
        return in_.findFiles(f, m);
    }
    std::optional<FileEntry> fileInfo(std::string_view p) override { return in_.fileInfo(p); }
    bool fileExists(std::string_view p) override { return in_.fileExists(p); }
    bool directoryExists(std::string_view p) override { return in_.directoryExists(p); }
    bool deleteFile(std::string_view p) override { return in_.deleteFile(p); }
    bool removeDirectory(std::string_view p) override { return in_.removeDirectory(p); }
    bool forceDirectories(std::string_view p) override { return in_.forceDirectories(p); }
    bool copyFile(std::string_view a, std::string_view b, bool f) override {
        return in_.copyFile(a, b, f);
    }
    bool moveFile(std::string_view a, std::string_view b) override { return in_.moveFile(a, b); }
    bool setAttributes(std::string_view p, uint32_t a) override { return in_.setAttributes(p, a); }
    std::unique_ptr<FileHandle> openFile(std::string_view p, FileMode m) override {
        return in_.openFile(p, m);
    }
    std::unique_ptr<FileHandle> createFile(std::string_view p) override {
        return in_.createFile(p);
    }
    std::unique_ptr<FileHandle> createNewFile(std::string_view p) override {
        return in_.createNewFile(p);
    }
    bool shellDelete(std::string_view p) override { return in_.shellDelete(p); }
    bool deleteAtRestart(std::string_view p) override { return in_.deleteAtRestart(p); }
    std::optional<PlaceId> placeId(std::string_view p) override { return in_.placeId(p); }
    FileUse fileUse(std::string_view p) override { return in_.fileUse(p); }
    std::string shortPathName(std::string_view p) override { return in_.shortPathName(p); }
    ShortNames shortNames(std::string_view f) override { return in_.shortNames(f); }
    std::optional<std::string> libraryOpenPath(std::string_view p, std::string* why) override {
        return in_.libraryOpenPath(p, why);
    }
    std::vector<DriveInfo> drives() override { return in_.drives(); }
    DriveKind driveType(std::string_view r) override { return in_.driveType(r); }
    std::string queryDosDevice(std::string_view d) override { return in_.queryDosDevice(d); }
    bool volumePresent(std::string_view r) override { return in_.volumePresent(r); }

  protected:
    FileApi& in_;
};

}  // namespace brisko::test
