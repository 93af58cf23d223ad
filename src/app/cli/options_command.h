#pragma once
// `brisko options [KEY [VALUE]]`: shows and changes the program's settings file
// on the machine, with the same reading and writing rules as the program.
#include <CLI/CLI.hpp>

#include "app/cli/cli_context.h"

namespace brisko::cli {

void addOptionsCommand(CLI::App& app, CliContext& ctx);

}  // namespace brisko::cli
