#pragma once
// brisko restore-point create|list|restore and brisko defrag analyze|apply.
#include <CLI/CLI.hpp>

#include "app/cli/cli_context.h"

namespace brisko::cli {

void addRestorePointCommands(CLI::App& app, CliContext& ctx);
void addDefragCommands(CLI::App& app, CliContext& ctx);

}  // namespace brisko::cli
