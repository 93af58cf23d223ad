// brisko restore-point: make a restore point (a snapshot of every hive), list
// them, and put one back at the next restart.
#include <iostream>

#include "app/cli/defrag_commands.h"
#include "core/machine/image/image_registry.h"
#include "tools/restore_point.h"

namespace brisko::cli {

namespace {
nlohmann::json pointJson(const RestorePointInfo& p) {
    return {
        {"number", p.number}, {"description", p.description}, {"time", p.time}, {"hives", p.hives}};
}

RestorePointService& service(ImageMachine& m) {
    auto* s = m.restorePoints();
    if (!s) throw CliError{kExitFailure, "This machine has no System Restore."};
    return *s;
}

int runCreate(CliContext& ctx) {
    auto& m = ctx.machineForWriting();
    std::string why;
    if (!CreateRestorePoint(m, &why))
        throw CliError{kExitFailure, "The restore point could not be created" +
                                         (why.empty() ? std::string(".") : ": " + why)};
    auto points = service(m).listRestorePoints();
    RestorePointInfo made = points.empty() ? RestorePointInfo{} : points.back();
    if (ctx.json) {
        ctx.printJson(pointJson(made));
    } else {
        std::cout << "Restore point " << made.number << " was created (" << made.time << ", "
                  << made.hives.size() << " hives).\n";
    }
    return kExitOk;
}

int runList(CliContext& ctx) {
    auto points = service(ctx.machine()).listRestorePoints();
    if (ctx.json) {
        nlohmann::json j = nlohmann::json::array();
        for (const auto& p : points) j.push_back(pointJson(p));
        ctx.printJson({{"restorePoints", j}});
        return kExitOk;
    }
    if (points.empty()) std::cout << "No restore points.\n";
    for (const auto& p : points)
        std::cout << p.number << "\t" << p.time << "\t" << p.description << "\t" << p.hives.size()
                  << " hives\n";
    return kExitOk;
}

int runRestore(CliContext& ctx, int number) {
    auto& m = ctx.machineForWriting();
    std::string why;
    if (!service(m).restoreRestorePoint(number, &why)) throw CliError{kExitFailure, why};
    size_t hives = 0;
    for (const auto& r : m.imageRegistry().pendingReplacements())
        if (r.kind == ReplaceKind::Restore) ++hives;
    if (ctx.json) {
        ctx.printJson({{"restorePoint", number}, {"scheduled", true}, {"hives", hives}});
    } else {
        std::cout << "Restore point " << number << " will be put back at the next restart ("
                  << hives << " hives); run `brisko restart` to restart the machine now.\n";
    }
    return kExitOk;
}
}  // namespace

void addRestorePointCommands(CLI::App& app, CliContext& ctx) {
    auto* rp = app.add_subcommand("restore-point",
                                  "Make, list and put back restore points (snapshots of every "
                                  "registry hive)");
    rp->require_subcommand(1);
    auto* create = rp->add_subcommand("create", "Make a restore point now");
    setRunner(create, [&ctx] { return runCreate(ctx); });
    auto* list = rp->add_subcommand("list", "List the restore points, oldest first");
    setRunner(list, [&ctx] { return runList(ctx); });
    static int number = 0;
    auto* restore = rp->add_subcommand(
        "restore", "Put restore point N back at the next restart (`brisko restart`)");
    restore->add_option("N", number, "The restore point's number (see `restore-point list`)")
        ->required();
    setRunner(restore, [&ctx] { return runRestore(ctx, number); });
}

}  // namespace brisko::cli
