// brisko: the command-line tool. Each command family lives in its own file and
// registers its subcommands here.
#include <CLI/CLI.hpp>
#include <cstdlib>
#include <iostream>

#include "app/cli/clean_commands.h"
#include "app/cli/cli_context.h"
#include "app/cli/commands.h"
#include "app/cli/custom_commands.h"
#include "app/cli/defrag_commands.h"
#include "app/cli/fix_commands.h"
#include "app/cli/regscan_commands.h"

using namespace brisko::cli;

int main(int argc, char** argv) {
    CLI::App app{
        "Brisko Cleaner command-line tool: clean privacy traces, scan and repair the "
        "registry, and defragment the hives of a Windows machine (an offline "
        "installation in a folder).",
        "brisko"};
    CliContext ctx;
    app.add_option("--machine", ctx.machineDir,
                   "Machine folder (a Windows installation); default: $BRISKO_MACHINE, else the "
                   "demo machine")
        ->envname("BRISKO_MACHINE");
    app.add_flag("--json", ctx.json, "Machine-readable output");
    app.require_subcommand(1);
    app.fallthrough();

    addMachineCommands(app, ctx);
    addRegCommands(app, ctx);
    addOptionsCommand(app, ctx);
    addHiveCommands(app, ctx);
    addCleanCommands(app, ctx);
    addRegscanCommands(app, ctx);
    addStartupCommands(app, ctx);
    addCustomCommands(app, ctx);
    addRestorePointCommands(app, ctx);
    addDefragCommands(app, ctx);
    addIndexDatCommands(app, ctx);
    addFixCommands(app, ctx);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? kExitOk : kExitUsage;
    }
    auto runner = findRunner(app);
    if (!runner) {
        std::cerr << app.help();
        return kExitUsage;
    }
    // A command that fails changes no hive: only finish() commits.
    try {
        return ctx.finish(runner());
    } catch (const CliError& e) {
        ctx.discard();
        std::cerr << "brisko: " << e.message << "\n";
        return e.code;
    } catch (const std::exception& e) {
        ctx.discard();
        std::cerr << "brisko: " << e.what() << "\n";
        return kExitFailure;
    }
}
