#pragma once
// A machine with an in-memory registry and a set of drives and nothing else,
// and a message queue that records what a worker posts: enough to drive the
// scan worker and the pane controller with scanners written for the test.
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>

#include "core/machine/machine.h"
#include "core/memory_registry.h"
#include "core/messages.h"
#include "support/stub_machine.h"

namespace brisko::test {

class DriveOnlyFiles : public FileApi {
  public:
    std::map<char, DriveInfo> driveMap;  // lower-case letter
    int volumeProbes = 0;

    void addDrive(char letter, DriveKind kind, bool media = true) {
        DriveInfo d;
        d.letter = letter;
        d.kind = kind;
        d.mediaPresent = media;
        driveMap[char(std::tolower(letter))] = d;
    }
    std::optional<std::vector<FileEntry>> findFiles(std::string_view, std::string_view) override {
        return std::nullopt;
    }
    std::optional<FileEntry> fileInfo(std::string_view) override { return std::nullopt; }
    bool fileExists(std::string_view) override { return false; }
    bool directoryExists(std::string_view) override { return false; }
    bool deleteFile(std::string_view) override { return false; }
    bool removeDirectory(std::string_view) override { return false; }
    bool forceDirectories(std::string_view) override { return false; }
    bool copyFile(std::string_view, std::string_view, bool) override { return false; }
    bool moveFile(std::string_view, std::string_view) override { return false; }
    bool setAttributes(std::string_view, uint32_t) override { return false; }
    std::unique_ptr<FileHandle> openFile(std::string_view, FileMode) override { return nullptr; }
    std::unique_ptr<FileHandle> createFile(std::string_view) override { return nullptr; }
    std::unique_ptr<FileHandle> createNewFile(std::string_view) override { return nullptr; }
    std::optional<PlaceId> placeId(std::string_view) override { return std::nullopt; }
    FileUse fileUse(std::string_view) override { return FileUse::Free; }
    bool shellDelete(std::string_view) override { return false; }
    bool deleteAtRestart(std::string_view) override { return false; }
    std::string shortPathName(std::string_view p) override { return std::string(p); }
    std::vector<DriveInfo> drives() override {
        std::vector<DriveInfo> r;
        for (auto& [c, d] : driveMap) r.push_back(d);
        return r;
    }
    DriveKind driveType(std::string_view root) override {
        if (root.empty()) return DriveKind::NoRootDir;
        auto it = driveMap.find(char(std::tolower(root[0])));
        return it == driveMap.end() ? DriveKind::NoRootDir : it->second.kind;
    }
    std::string queryDosDevice(std::string_view) override { return {}; }
    bool volumePresent(std::string_view root) override {
        ++volumeProbes;
        if (root.empty()) return false;
        auto it = driveMap.find(char(std::tolower(root[0])));
        return it != driveMap.end() && it->second.mediaPresent;
    }
};

class ScanFakeMachine : public StubMachine {
  public:
    MemoryRegistry reg;
    DriveOnlyFiles fileApi;
    bool wow64 = false;

    ScanFakeMachine() { fileApi.addDrive('c', DriveKind::Fixed); }

    RegistryApi& registry() override { return reg; }
    FileApi& files() override { return fileApi; }
    bool isWow64() override { return wow64; }
};

// Records posted messages; wait() hands them out in order.
class MessageLog : public MessageTarget {
  public:
    void post(uint32_t msg, uintptr_t, intptr_t) override {
        std::lock_guard lock(m_);
        queue_.push_back(msg);
        all_.push_back(msg);
        cv_.notify_all();
    }
    // The next message, or 0 after the timeout.
    uint32_t wait(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        std::unique_lock lock(m_);
        if (!cv_.wait_for(lock, timeout, [&] { return !queue_.empty(); })) return 0;
        uint32_t m = queue_.front();
        queue_.pop_front();
        return m;
    }
    std::vector<uint32_t> all() {
        std::lock_guard lock(m_);
        return all_;
    }

  private:
    std::mutex m_;
    std::condition_variable cv_;
    std::deque<uint32_t> queue_;
    std::vector<uint32_t> all_;
};

}  // namespace brisko::test
