#pragma once
// A machine whose files live in a temporary folder ("C:\x" is <root>/C/x) and
// that has nothing else: enough for the settings store and the lifecycle.
#include <filesystem>
#include <fstream>
#include <set>

#include "core/machine/machine.h"
#include "support/stub_machine.h"
#include "support/test_machine.h"

namespace brisko::test {

namespace fs = std::filesystem;

class FakeFileHandle : public FileHandle {
  public:
    FakeFileHandle(const fs::path& p, bool create)
        : path_(p),
          f_(p, create ? std::ios::in | std::ios::out | std::ios::binary | std::ios::trunc
                       : std::ios::in | std::ios::binary) {}
    bool ok() const { return f_.is_open(); }
    int64_t size() override {
        auto pos = f_.tellg();
        f_.seekg(0, std::ios::end);
        auto s = f_.tellg();
        f_.seekg(pos);
        return s;
    }
    bool seek(int64_t o) override { return bool(f_.seekg(o)) && bool(f_.seekp(o)); }
    int64_t read(void* buf, int64_t n) override {
        f_.read(static_cast<char*>(buf), n);
        int64_t got = f_.gcount();
        f_.clear();
        return got;
    }
    int64_t write(const void* buf, int64_t n) override {
        if (failWrites) return 0;
        f_.write(static_cast<const char*>(buf), n);
        return f_ ? n : 0;
    }
    bool flush() override { return bool(f_.flush()); }
    bool truncate(int64_t size) override {
        std::error_code ec;
        f_.flush();
        fs::resize_file(path_, uint64_t(size), ec);
        return !ec && seek(size);
    }
    bool failWrites = false;

  private:
    fs::path path_;
    std::fstream f_;
};

class FakeFileApi : public FileApi {
  public:
    explicit FakeFileApi(fs::path root) : root_(std::move(root)) {}

    fs::path host(std::string_view win) const {
        std::string s(win);
        for (char& c : s)
            if (c == '\\') c = '/';
        if (s.size() >= 2 && s[1] == ':') s = std::string(1, s[0]) + s.substr(2);
        return root_ / s;
    }

    // Knobs for failure tests.
    bool moveReplaces = true;
    bool failCreate = false;
    std::set<std::string> lockedFiles;  // Windows paths that cannot be opened
    std::set<std::string> noCreateFolders;

    std::optional<std::vector<FileEntry>> findFiles(std::string_view, std::string_view) override {
        return std::nullopt;
    }
    std::optional<FileEntry> fileInfo(std::string_view) override { return std::nullopt; }
    bool fileExists(std::string_view p) override { return fs::is_regular_file(host(p)); }
    bool directoryExists(std::string_view p) override { return fs::is_directory(host(p)); }
    bool deleteFile(std::string_view p) override {
        std::error_code ec;
        return fs::is_regular_file(host(p)) && fs::remove(host(p), ec);
    }
    bool removeDirectory(std::string_view p) override {
        std::error_code ec;
        return fs::remove(host(p), ec);
    }
    bool forceDirectories(std::string_view p) override {
        for (const auto& n : noCreateFolders)
            if (std::string_view(p).rfind(n, 0) == 0) return false;
        std::error_code ec;
        fs::create_directories(host(p), ec);
        return fs::is_directory(host(p));
    }
    bool copyFile(std::string_view from, std::string_view to, bool failIfExists) override {
        std::error_code ec;
        auto opt = failIfExists ? fs::copy_options::none : fs::copy_options::overwrite_existing;
        return fs::copy_file(host(from), host(to), opt, ec);
    }
    bool moveFile(std::string_view from, std::string_view to) override {
        if (!moveReplaces && fs::exists(host(to))) return false;
        std::error_code ec;
        fs::rename(host(from), host(to), ec);
        return !ec;
    }
    bool setAttributes(std::string_view, uint32_t) override { return false; }
    std::unique_ptr<FileHandle> openFile(std::string_view p, FileMode) override {
        if (lockedFiles.count(std::string(p)) || !fs::is_regular_file(host(p))) return nullptr;
        auto h = std::make_unique<FakeFileHandle>(host(p), false);
        return h->ok() ? std::move(h) : nullptr;
    }
    std::unique_ptr<FileHandle> createFile(std::string_view p) override {
        if (failCreate) return nullptr;
        auto h = std::make_unique<FakeFileHandle>(host(p), true);
        return h->ok() ? std::move(h) : nullptr;
    }
    std::unique_ptr<FileHandle> createNewFile(std::string_view p) override {
        return fs::exists(host(p)) ? nullptr : createFile(p);
    }
    std::optional<PlaceId> placeId(std::string_view) override { return std::nullopt; }
    FileUse fileUse(std::string_view) override { return FileUse::Free; }
    bool shellDelete(std::string_view) override { return false; }
    bool deleteAtRestart(std::string_view) override { return false; }
    std::string shortPathName(std::string_view p) override { return std::string(p); }
    std::vector<DriveInfo> drives() override { return {}; }
    DriveKind driveType(std::string_view) override { return DriveKind::Fixed; }
    std::string queryDosDevice(std::string_view) override { return {}; }
    bool volumePresent(std::string_view) override { return true; }

  private:
    fs::path root_;
};

class FakeMachine : public StubMachine {
  public:
    FakeMachine() : files_(dir_.path()) {}

    TempDir dir_;
    FakeFileApi files_;
    std::string appData = "C:\\Users\\test\\AppData\\Roaming\\";
    std::string program = "C:\\Program Files\\Brisko\\";

    std::string settingsFile() const { return appData + "Brisko\\Brisko Cleaner\\options.ini"; }
    fs::path hostOf(std::string_view win) const { return files_.host(win); }

    RegistryApi& registry() override { throw std::logic_error("no registry"); }
    FileApi& files() override { return files_; }
    std::string specialFolder(int csidl) override {
        return csidl == CSIDL_APPDATA ? appData : std::string();
    }
    std::string programFolder() override { return program; }
};

}  // namespace brisko::test
