#pragma once
// The command families of `brisko`.
#include <CLI/CLI.hpp>

#include "app/cli/cli_context.h"

namespace brisko::cli {

CommandRunner findRunner(CLI::App& app);

void addMachineCommands(CLI::App& app, CliContext& ctx);  // info, demo-machine, restart
void addRegCommands(CLI::App& app, CliContext& ctx);      // reg query|export|import
void addOptionsCommand(CLI::App& app, CliContext& ctx);   // options [KEY [VALUE]]

}  // namespace brisko::cli
