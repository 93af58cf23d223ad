#pragma once
// The command families of `brisko`.
#include <CLI/CLI.hpp>

#include "app/cli/cli_context.h"
#ifndef _WIN32
#include "core/machine/image/image_registry.h"
#endif

namespace brisko::cli {

CommandRunner findRunner(CLI::App& app);

void addMachineCommands(CLI::App& app, CliContext& ctx);  // info, demo-machine, restart
void addRegCommands(CLI::App& app, CliContext& ctx);      // reg query|export|import
void addOptionsCommand(CLI::App& app, CliContext& ctx);   // options [KEY [VALUE]]
void addHiveCommands(CLI::App& app, CliContext& ctx);     // hive check
void addStartupCommands(CLI::App& app, CliContext& ctx);  // startup list|delete|restore
void addIndexDatCommands(CLI::App& app, CliContext& ctx);  // indexdat list|wipe

#ifndef _WIN32
// A hive's state as `info` and `hive check` show it: "clean", "recovered (3
// log entries)", "damaged (why)".
std::string hiveStateText(const HiveStatus& h);
nlohmann::json hiveStateJson(const HiveStatus& h);
bool hiveUsable(const HiveStatus& h);  // clean or recovered
#endif

}  // namespace brisko::cli
