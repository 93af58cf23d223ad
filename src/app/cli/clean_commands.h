#pragma once
// brisko list, test and clean: the privacy cleaner from the command line.
#include <CLI/CLI.hpp>

#include "app/cli/cli_context.h"

namespace brisko::cli {

void addCleanCommands(CLI::App& app, CliContext& ctx);

}  // namespace brisko::cli
