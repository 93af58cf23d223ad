// brisko hive check: the state of each hive file — clean, recovered from its
// transaction logs, or damaged (then nothing is written to it).
#include <iostream>

#include "app/cli/commands.h"
#include "core/machine/image/image_registry.h"
#include "hive/hive.h"

namespace brisko::cli {

using namespace hive;

std::string hiveStateText(const HiveStatus& h) {
    switch (h.state.health) {
        case HiveHealth::Clean:
            break;
        case HiveHealth::Recovered: {
            size_t n = h.state.logEntries;
            return "recovered (" + std::to_string(n) + (n == 1 ? " log entry)" : " log entries)");
        }
        case HiveHealth::Damaged:
            return "damaged (" + h.state.reason + ")";
        case HiveHealth::AsStored:
            return h.state.reason;
    }
    if (h.loaded && !h.writable)
        return "read-only (" +
               (h.readOnlyReason.empty() ? std::string("cannot be written") : h.readOnlyReason) +
               ")";
    return "clean";
}

nlohmann::json hiveStateJson(const HiveStatus& h) {
    static const char* names[] = {"clean", "recovered", "damaged", "asStored"};
    nlohmann::json j{{"name", h.mount.mountPath},
                     {"file", h.mount.windowsFile},
                     {"hostFile", h.mount.hostFile.string()},
                     {"state", names[int(h.state.health)]},
                     {"writable", h.loaded && h.writable}};
    if (h.state.health == HiveHealth::Recovered) {
        j["logEntries"] = h.state.logEntries;
        j["logsUsed"] = nlohmann::json::array();
        for (const auto& l : h.state.logsUsed) j["logsUsed"].push_back(l.string());
    }
    if (!h.state.reason.empty()) j["reason"] = h.state.reason;
    if (h.loaded && !h.writable) j["readOnlyReason"] = h.readOnlyReason;
    return j;
}

bool hiveUsable(const HiveStatus& h) {
    return h.loaded && h.state.health != HiveHealth::Damaged;
}

namespace {
// One host file, outside any machine.
HiveStatus checkFile(const std::string& file) {
    HiveStatus s;
    s.mount.hostFile = file;
    s.mount.windowsFile = file;
    std::string why;
    auto hive = Hive::open(file, &why);
    if (!hive) {
        s.state.health = HiveHealth::Damaged;
        s.state.reason = why.empty() ? "not a registry hive" : why;
        return s;
    }
    s.loaded = true;
    s.state = hive->state();
    s.writable = hive->writable();
    s.readOnlyReason = hive->readOnlyReason();
    return s;
}

int runCheck(CliContext& ctx, const std::string& file) {
    std::vector<HiveStatus> hives;
    std::vector<std::string> unmounted;
    if (!file.empty()) {
        hives.push_back(checkFile(file));
    } else {
        hives = ctx.machine().imageRegistry().hiveStatus();
        unmounted = ctx.machine().unmountedHives();
    }
    bool usable = unmounted.empty();
    for (const auto& h : hives) usable = usable && hiveUsable(h);
    if (ctx.json) {
        nlohmann::json j{
            {"hives", nlohmann::json::array()}, {"usable", usable}, {"notMounted", unmounted}};
        for (const auto& h : hives) j["hives"].push_back(hiveStateJson(h));
        ctx.printJson(j);
    } else {
        for (const auto& h : hives)
            std::cout << h.mount.windowsFile << ": " << hiveStateText(h) << "\n";
        for (const auto& u : unmounted) std::cout << u << "\n";
    }
    return usable ? kExitOk : kExitFailure;
}
}  // namespace

void addHiveCommands(CLI::App& app, CliContext& ctx) {
    auto* hive = app.add_subcommand("hive", "Check the registry hive files");
    hive->require_subcommand(1);
    static std::string file;
    auto* check = hive->add_subcommand(
        "check",
        "Check every hive of the machine, or one hive FILE on the host: clean, recovered from "
        "its logs (usable), or damaged (read-only). Exit 0 when all are usable");
    check->add_option("FILE", file, "A hive file on the host instead of the machine's hives")
        ->check(CLI::ExistingFile);
    setRunner(check, [&ctx] { return runCheck(ctx, file); });
}

}  // namespace brisko::cli
