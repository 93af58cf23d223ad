// brisko info on the running Windows. The image commands (demo-machine,
// restart of an image, hive check) belong to the Linux build; on Windows the
// system loads and checks its own hives.
#include <iostream>

#include "app/cli/commands.h"
#include "app/cli/defrag_commands.h"
#include "app/cli/machine_info.h"
#include "tools/restore_point.h"

namespace brisko::cli {

namespace {
int runInfo(CliContext& ctx) {
    auto& m = ctx.machine();
    nlohmann::json j = machineInfoJson(m, /*withHostPaths=*/false);
    j["machine"] = "this computer";
    j["hives"] = nlohmann::json::array();
    auto hives = m.registry().hiveList();
    for (const auto& h : hives) j["hives"].push_back({{"key", h.keyPath}, {"file", h.filePath}});
    if (ctx.json) {
        ctx.printJson(j);
        return kExitOk;
    }
    printMachineInfo(j, "this computer");
    std::cout << "\nHives:\n";
    for (const auto& h : hives) std::cout << "  " << h.keyPath << "  " << h.filePath << "\n";
    printSpecialFolders(j);
    return kExitOk;
}
}  // namespace

void addMachineCommands(CLI::App& app, CliContext& ctx) {
    auto* info = app.add_subcommand("info",
                                    "Show this computer: Windows version, drives, hives, "
                                    "user and special folders");
    setRunner(info, [&ctx] { return runInfo(ctx); });
}

void addHiveCommands(CLI::App&, CliContext&) {}

// Windows keeps its restore points itself: they are listed and rolled back in
// its own System Restore.
void addRestorePointCommands(CLI::App& app, CliContext& ctx) {
    auto* rp = app.add_subcommand("restore-point", "Make a System Restore point");
    rp->require_subcommand(1);
    auto* create = rp->add_subcommand("create", "Make a restore point now");
    setRunner(create, [&ctx] {
        std::string why;
        if (!CreateRestorePoint(ctx.machine(), &why))
            throw CliError{kExitFailure, "The restore point could not be created" +
                                             (why.empty() ? std::string(".") : ": " + why)};
        if (ctx.json)
            ctx.printJson({{"created", true}});
        else
            std::cout << "The restore point was created.\n";
        return kExitOk;
    });
}

}  // namespace brisko::cli
