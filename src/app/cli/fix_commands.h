#pragma once
// brisko fix: scan and fix the registry with a backup. brisko backups
// list|restore|delete: the registry backups in the backup folder.
#include <CLI/CLI.hpp>

#include "app/cli/cli_context.h"

namespace brisko::cli {

void addFixCommands(CLI::App& app, CliContext& ctx);

}  // namespace brisko::cli
