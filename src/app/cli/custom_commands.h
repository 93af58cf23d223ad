#pragma once
// brisko custom list | add | remove: the user's custom clean list.
#include <CLI/CLI.hpp>

#include "app/cli/cli_context.h"

namespace brisko::cli {

void addCustomCommands(CLI::App& app, CliContext& ctx);

}  // namespace brisko::cli
