#pragma once
// Machines for the clean engine tests: a generated image machine, wrapped so a
// test can show a running browser window and look at a file's bytes at the
// moment it is deleted (what an image alone cannot show).
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cleaner/clean_context.h"
#include "cleaner/clean_log.h"
#include "core/machine/image/image_files.h"
#include "core/machine/image/image_machine.h"
#include "core/messages.h"
#include "demo/machine_builder.h"
#include "support/forwarding_file_api.h"
#include "support/test_machine.h"

namespace brisko::test {

// Passes every call to the image's files; shellDelete first hands the file's
// bytes to onDelete.
class SpyFileApi : public ForwardingFileApi {
  public:
    explicit SpyFileApi(FileApi& inner) : ForwardingFileApi(inner) {}
    std::function<void(std::string_view path, const std::string& bytes)> onDelete;

    bool shellDelete(std::string_view p) override;
};

// A generated machine in a temporary folder, opened as an ImageMachine, with
// test-settable windows.
class CleanTestMachine : public Machine {
  public:
    // The folder is drive C:; the user "User" has the profile C:\Users\User.
    explicit CleanTestMachine(MachineBuilder& builder);
    ~CleanTestMachine() override;

    ImageMachine& image() { return *image_; }
    ImageFileApi& imageFiles() { return image_->imageFiles(); }
    SpyFileApi& spy() { return spy_; }
    std::filesystem::path host(std::string_view winPath);  // C:\x -> <folder>/x
    const std::filesystem::path& folder() const { return dir_.path(); }
    // Every file below the machine folder with its bytes, for before/after checks.
    std::map<std::string, std::string> snapshot() const;

    std::vector<WindowRef> windows;  // what topLevelWindows() answers

    RegistryApi& registry() override { return image_->registry(); }
    FileApi& files() override { return spy_; }
    OsVersion version() override { return image_->version(); }
    bool isWow64() override { return image_->isWow64(); }
    UserAccount currentUser() override { return image_->currentUser(); }
    bool isAdministrator() override { return image_->isAdministrator(); }
    bool enablePrivilege(std::string_view n) override { return image_->enablePrivilege(n); }
    std::string expandEnvironmentStrings(std::string_view s) override {
        return image_->expandEnvironmentStrings(s);
    }
    std::string windowsDirectory() override { return image_->windowsDirectory(); }
    std::string systemDirectory() override { return image_->systemDirectory(); }
    std::string tempPath() override { return image_->tempPath(); }
    std::string specialFolder(int csidl) override { return image_->specialFolder(csidl); }
    std::string programFolder() override { return image_->programFolder(); }
    bool shellExecute(std::string_view, std::string_view, std::string_view) override {
        return false;
    }
    ProcessResult runProcess(std::string_view, bool, std::stop_token) override { return {}; }
    std::vector<WindowRef> topLevelWindows() override { return windows; }
    bool showWindow(uint64_t, bool) override { return false; }
    std::string shortcutTarget(std::string_view p) override { return image_->shortcutTarget(p); }
    bool restart() override { return image_->restart(); }
    ClipboardService* clipboard() override { return nullptr; }
    ProtectedStorageService* protectedStorage() override { return nullptr; }
    UrlCacheService* urlCache() override { return nullptr; }
    UrlHistoryService* urlHistory() override { return nullptr; }
    RestorePointService* restorePoints() override { return nullptr; }
    HotkeyService* hotkeys() override { return nullptr; }

  private:
    TempDir dir_;
    std::unique_ptr<ImageMachine> image_;
    SpyFileApi spy_;
};

// Answers with scripted answers in order, then with the box's default; keeps
// every question.
class ScriptedPrompter : public Prompter {
  public:
    std::vector<int> answers;
    std::vector<std::string> asked;
    int ask(std::string_view text, unsigned flags) override;

  private:
    std::mutex mutex_;
};

// Marks a file immutable (chattr +i) and clears the mark again when it goes,
// so that the temporary folder can be removed. set() is false where the file
// system or the user's rights do not allow it.
class ImmutableFile {
  public:
    explicit ImmutableFile(std::filesystem::path file) : file_(std::move(file)) {}
    ~ImmutableFile();
    bool set();

  private:
    bool change(bool immutable);
    std::filesystem::path file_;
    bool set_ = false;
};

// Settings as a fresh install has them, Fast Mode off so every entry is logged.
TOptionsSetting cleanSettings(bool fastScan = false);

// Runs routine once as the worker would run one item, on the calling thread.
struct ItemRun {
    int count = 0;
    int64_t bytes = 0;
    std::string sizeText;
    std::vector<std::string> log;
};
ItemRun runRoutine(Machine& m, const TOptionsSetting& settings, int runMode,
                   const std::function<void(CleanContext&)>& routine, Prompter* prompter = nullptr);

}  // namespace brisko::test
