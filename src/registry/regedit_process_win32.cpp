// On the running Windows: the command line goes to CreateProcessW as it is,
// so that Windows finds its own regedit.exe.
// Our headers first: they name the registry types Windows defines as macros.
#include "base/text.h"
#include "core/machine/file_read.h"
#include "core/machine/win32/wide.h"
#include "core/machine/win32/win32_machine.h"
#include "registry/backup_store.h"
#include "registry/regedit_child.h"
#include "registry/regedit_process.h"

#include <windows.h>

namespace brisko {

namespace {

// The registry editor ends with 0 whether it did its job or not (a file it
// cannot write or read is reported in a window nobody sees, under /s not at
// all), so what it should have done is checked when it has ended.
class Win32Child : public ChildProcess {
  public:
    // exportedBefore: the write time of the file an export replaces, taken
    // before the process started.
    Win32Child(Machine& machine, RegeditCommand command, HANDLE process,
               std::optional<int64_t> exportedBefore)
        : machine_(machine),
          command_(std::move(command)),
          process_(process),
          exportedBefore_(exportedBefore) {}
    ~Win32Child() override { CloseHandle(process_); }

    std::optional<int> poll() override {
        DWORD w = WaitForSingleObject(process_, 0);
        if (w == WAIT_TIMEOUT) return std::nullopt;
        DWORD code = 0;
        if (w != WAIT_OBJECT_0 || !GetExitCodeProcess(process_, &code)) {
            error_ = "The registry editor could not be followed (error " +
                     std::to_string(GetLastError()) + ").";
            return -1;
        }
        if (code != 0) return int(code);
        return command_.kind == RegeditCommand::Export ? checkExport() : putBackFileCopies();
    }

    void kill() override {
        TerminateProcess(process_, 1);
        WaitForSingleObject(process_, 30000);
    }

    std::string errorOutput() const override { return error_; }

  private:
    int checkExport() {
        auto info = machine_.files().fileInfo(command_.file);
        if (info && !info->isDirectory() &&
            (!exportedBefore_ || info->writeTime != *exportedBefore_))
            return 0;
        error_ = "The registry editor did not write " + command_.file + ".";
        return 1;
    }

    // A backup of a registry fix names copies of the shortcuts it deleted;
    // restoring it brings them back, as `brisko reg import` does.
    int putBackFileCopies() {
        FileApi& files = machine_.files();
        auto bytes = readWholeFile(files, command_.file, int64_t(1) << 31);
        if (!bytes) return 0;
        std::vector<std::string> problems;
        restoreBackupFileCopies(files, command_.file, *bytes, &problems);
        for (const auto& p : problems) error_ += (error_.empty() ? "" : "\n") + p;
        return problems.empty() ? 0 : 1;
    }

    Machine& machine_;
    RegeditCommand command_;
    HANDLE process_;
    std::optional<int64_t> exportedBefore_;
    std::string error_;
};

}  // namespace

// The image backend, which `brisko reg import/export` would run on, is not
// part of the Windows build: there is no `brisko` to stand in for regedit.exe.
std::string briskoProgram() {
    return {};
}

std::unique_ptr<RegeditProcess> RegeditProcess::start(Machine& machine,
                                                      std::string_view commandLine,
                                                      std::string* error) {
    auto fail = [&](std::string why) -> std::unique_ptr<RegeditProcess> {
        if (error) *error = std::move(why);
        return nullptr;
    };
    // Only the running Windows has a registry editor; any other machine's
    // registry is not the one regedit.exe would change.
    auto command = parseRegeditCommand(commandLine);
    if (!command || !dynamic_cast<win32::Win32Machine*>(&machine))
        return fail(std::string(kRegeditMissingText));
    // Under /s a missing file is not even reported: the restore would look done.
    if (command->kind == RegeditCommand::Import && !machine.files().fileExists(command->file))
        return fail("The file " + command->file + " does not exist.");
    std::optional<int64_t> exportedBefore;
    if (command->kind == RegeditCommand::Export)
        if (auto info = machine.files().fileInfo(command->file)) exportedBefore = info->writeTime;

    std::wstring cmd = win32::widen(commandLine);
    cmd.push_back(L'\0');  // CreateProcessW may write into the command line
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    si.wShowWindow = SW_HIDE;
    si.hStdInput = si.hStdOutput = si.hStdError = nullptr;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS, nullptr,
                        nullptr, &si, &pi))
        return fail(std::string(kRegeditMissingText));
    CloseHandle(pi.hThread);
    auto child = std::make_unique<Win32Child>(machine, *command, pi.hProcess, exportedBefore);
    return std::unique_ptr<RegeditProcess>(
        new RegeditProcess(std::move(*command), std::move(child)));
}

// The registry editor changed the live registry, which every key opened
// afterwards sees: nothing to read again.
void reloadRegistryAfterImport(Machine&) {}

}  // namespace brisko
