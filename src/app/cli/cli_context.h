#pragma once
// What every `brisko` command shares: the machine it works on, the output form,
// and the exit codes.
#include <CLI/CLI.hpp>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#ifdef _WIN32
#include "core/machine/machine.h"
#else
#include "core/machine/image/image_machine.h"
#endif

namespace brisko::cli {

// The machine the commands work on: an image folder, or on Windows the
// running system.
#ifdef _WIN32
using CliMachine = Machine;
#else
using CliMachine = ImageMachine;
#endif

enum ExitCode : int {
    kExitOk = 0,
    kExitFailure = 1,    // the job ran but did not succeed (a key not found, a write failed)
    kExitUsage = 2,      // the command line was wrong
    kExitNoMachine = 3,  // the machine could not be opened
    kExitBadInput = 4,   // a file given to the command is malformed
    kExitCancelled = 5,  // stopped by the user
};

struct CliError {
    int code;
    std::string message;
};

class CliContext {
  public:
    bool json = false;
    std::string machineDir;  // --machine or BRISKO_MACHINE; empty: the default demo machine

    // Opens the machine on first use; throws CliError (kExitNoMachine) with a
    // message a person understands.
    CliMachine& machine();
    // The same for a command that changes the registry: the machine's write
    // lock is taken before the hives are read, so two such commands run one
    // after the other. Throws CliError (kExitFailure) when another program
    // keeps the machine longer than the lock wait ($BRISKO_LOCK_WAIT seconds,
    // default 5).
    CliMachine& machineForWriting();
    bool hasMachine() const { return machine_ != nullptr; }
    // Commits registry changes of the job; throws CliError when a hive could not be written.
    void commit();
    // Forgets the registry changes of the job.
    void discard();
    // The end of every command: a command that succeeded has its registry
    // changes committed; one that failed, or whose changes a hive refused,
    // changes no hive. Returns the exit code (1 for refused changes, which
    // are printed on stderr); throws CliError when the commit fails.
    int finish(int code);
    // Prints a JSON document (with --json) or the text lines.
    void printJson(const nlohmann::json& j) const;

  private:
#ifdef _WIN32
    CliMachine& open(bool forWriting);
#else
    CliMachine& open(MachineAccess access);
#endif
    void keepRefusals();

    std::unique_ptr<CliMachine> machine_;
    std::vector<std::string> refused_;  // refused changes, kept across the job's commits
};

// Each command family registers its subcommands; the callback runs the command
// and returns the exit code.
using CommandRunner = std::function<int()>;
void setRunner(CLI::App* sub, CommandRunner runner);

}  // namespace brisko::cli
