#pragma once
// The registry editor the program runs for a restore ("Regedit /s "file"")
// and for a full backup ("Regedit /e "file""), as a child process that can be
// waited for and stopped.
//  - On the running Windows the command line is started as it is, so Windows
//    finds its own regedit.exe (regedit_process_win32.cpp).
//  - On an image there is no regedit.exe: our own `brisko reg import` /
//    `brisko reg export --all` runs in its place (regedit_process_posix.cpp).
//    The `brisko` program is looked for in $BRISKO_BIN, then beside the
//    running program.
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/machine/machine.h"

namespace brisko {

inline constexpr std::string_view kRegeditMissingText = "Please check if Regedit.exe exists.";

struct RegeditCommand {
    enum Kind { Import, Export } kind = Import;
    std::string file;  // as written on the command line, quotes removed
};
// "Regedit /s "C:\x.reg"", "regedit.exe /e "x.reg""; nullopt for anything else.
std::optional<RegeditCommand> parseRegeditCommand(std::string_view commandLine);

// The progress hint's bar: where it goes from `position` at a 500 ms tick
// (0 to 500; it only shows that the program still works).
int backupHintStep(int position);

// The `brisko` program to run, empty when there is none.
std::string briskoProgram();

class ChildProcess;

class RegeditProcess {
  public:
    // Starts the command line on the machine. Nullptr (with *error) when it
    // cannot be started: no registry editor (kRegeditMissingText), a file to
    // import that is not there, or a file outside the machine. On an image a
    // file named by a Windows path is the machine's; any other is a host path.
    static std::unique_ptr<RegeditProcess> start(Machine& machine, std::string_view commandLine,
                                                 std::string* error = nullptr);
    ~RegeditProcess();
    RegeditProcess(const RegeditProcess&) = delete;
    RegeditProcess& operator=(const RegeditProcess&) = delete;

    // A wait with zero time-out: true once the process has ended.
    bool finished();
    // Ends the process (exit code 0) and waits for it.
    void terminate();
    // After finished(): 0 when it did its job. The registry editor of Windows
    // ends with 0 whatever happened, so an export that wrote no file and a
    // restore whose file copies could not be put back count as failures here.
    int exitCode() const { return exitCode_; }
    bool stopped() const { return stopped_; }
    // Why it failed, for a message: what `brisko` wrote on its error output,
    // or what was found wrong after the registry editor of Windows ended.
    std::string errorOutput() const;
    const RegeditCommand& command() const { return command_; }

  private:
    RegeditProcess(RegeditCommand command, std::unique_ptr<ChildProcess> child);
    std::unique_ptr<ChildProcess> child_;
    int exitCode_ = -1;
    bool done_ = false;
    bool stopped_ = false;
    RegeditCommand command_;
};

// After an import ran in another process: the machine reads its hives again,
// so that what it shows and what it writes next is the merged registry.
void reloadRegistryAfterImport(Machine& machine);

}  // namespace brisko
