#pragma once
// brisko regscan: scan the machine's registry for problems, as the Registry
// pane does. brisko ignore add|list|remove: the two registry ignore lists.
#include <CLI/CLI.hpp>

#include "app/cli/cli_context.h"

namespace brisko::cli {

void addRegscanCommands(CLI::App& app, CliContext& ctx);

}  // namespace brisko::cli
