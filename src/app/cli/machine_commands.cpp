// brisko info, demo-machine, restart.
#include <iostream>

#include "app/cli/commands.h"
#include "app/cli/machine_info.h"
#include "core/machine/image/image_machine.h"
#include "core/machine/image/image_registry.h"
#include "demo/demo_machine.h"

namespace brisko::cli {

namespace {
int runInfo(CliContext& ctx) {
    auto& m = ctx.machine();
    nlohmann::json j = machineInfoJson(m, /*withHostPaths=*/true);
    j["machine"] = m.folder().string();
    j["hives"] = nlohmann::json::array();
    auto hives = m.imageRegistry().hiveStatus();
    for (const auto& h : hives) j["hives"].push_back(hiveStateJson(h));
    if (ctx.json) {
        ctx.printJson(j);
        return kExitOk;
    }
    printMachineInfo(j, m.folder().string());
    std::cout << "\nHives:\n";
    for (const auto& h : hives)
        std::cout << "  " << h.mount.mountPath << "  " << h.mount.windowsFile << "  "
                  << hiveStateText(h) << "\n";
    printSpecialFolders(j);
    for (const auto& w : m.warnings()) std::cout << "\nWarning: " << w << "\n";
    return kExitOk;
}

int runDemoMachine(CliContext& ctx, const std::string& dir) {
    createDemoMachine(dir);
    ImageMachine check(dir);  // proves the result opens
    if (ctx.json) {
        ctx.printJson({{"machine", check.folder().string()}, {"user", check.currentUser().name}});
    } else {
        std::cout << "Demo machine written to " << check.folder().string() << "\n"
                  << "Open it with: brisko --machine " << dir << " info\n";
    }
    return kExitOk;
}

int runRestart(CliContext& ctx) {
    auto& m = ctx.machine();
    auto& reg = m.imageRegistry();
    size_t hives = reg.pendingReplacements().size();
    bool ok = m.restart();
    if (ctx.json) {
        ctx.printJson({{"restarted", ok}, {"hivesReplaced", hives}});
    } else {
        std::cout << (ok ? "The machine was restarted: pending deletions and hive replacements "
                           "were carried out.\n"
                         : "The restart did not complete: some pending operations failed.\n");
    }
    return ok ? kExitOk : kExitFailure;
}
}  // namespace

void addMachineCommands(CLI::App& app, CliContext& ctx) {
    auto* info = app.add_subcommand("info",
                                    "Show the machine: Windows version, drives, hives, "
                                    "user and special folders");
    setRunner(info, [&ctx] { return runInfo(ctx); });

    auto* demo = app.add_subcommand("demo-machine", "Create the demo Windows 7 machine in DIR");
    static std::string demoDir;
    demo->add_option("DIR", demoDir, "Folder to create (must be empty or absent)")->required();
    setRunner(demo, [&ctx] { return runDemoMachine(ctx, demoDir); });

    auto* restart = app.add_subcommand(
        "restart",
        "Restart the machine: carry out deletions and hive replacements that wait "
        "for the next start");
    setRunner(restart, [&ctx] { return runRestart(ctx); });
}

}  // namespace brisko::cli
