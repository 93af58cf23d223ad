// brisko startup list|delete|restore: the programs Windows starts at logon,
// from the run keys and the Startup folders. A deletion is backed up first in
// the registry backup folder; `restore` puts a backed-up entry back.
#include <unistd.h>
#include <iostream>
#include <memory>

#include "app/cli/commands.h"
#include "base/text.h"
#include "core/machine/file_read.h"
#include "core/machine/reg_file.h"
#include "core/settings.h"
#include "core/startup.h"
#include "registry/backup_store.h"
#include "tools/startup_delete.h"
#include "tools/startup_list.h"

namespace brisko::cli {

namespace {

using nlohmann::json;

json entryJson(const StartupEntry& e) {
    return {{"name", e.name}, {"file", e.file}, {"location", e.location}};
}

int runList(CliContext& ctx) {
    Machine& m = ctx.machine();
    auto rows = ListStartupEntries(m, WindowsVersionCode(m.version()));
    if (ctx.json) {
        json j = json::array();
        for (const auto& e : rows) j.push_back(entryJson(e));
        ctx.printJson({{"entries", j}});
        return kExitOk;
    }
    if (rows.empty()) {
        std::cout << "No startup entries.\n";
        return kExitOk;
    }
    size_t w = 0;
    for (const auto& e : rows) w = std::max(w, e.name.size());
    w = std::min<size_t>(w, 40);
    for (const auto& e : rows) {
        std::cout << e.name;
        if (e.name.size() < w) std::cout << std::string(w - e.name.size(), ' ');
        std::cout << "  " << e.file << "\n"
                  << std::string(w + 2, ' ') << "(" << e.location << ")\n";
    }
    return kExitOk;
}

struct DeleteOptions {
    std::vector<std::string> names;
    std::string location;
    bool yes = false;
};

bool askYes(const std::string& question) {
    if (!isatty(STDIN_FILENO) || !isatty(STDERR_FILENO)) return false;
    std::cerr << question << " [y/N] " << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer)) return false;
    answer = lowerCase(std::string(trim(answer)));
    return answer == "y" || answer == "yes";
}

int runDelete(CliContext& ctx, const DeleteOptions& opt) {
    Machine& m = ctx.machineForWriting();
    auto rows = ListStartupEntries(m, WindowsVersionCode(m.version()));
    // Every name must name at least one entry; a name in several places needs
    // --location unless all of them are meant.
    std::vector<StartupEntry> chosen;
    for (const std::string& name : opt.names) {
        size_t before = chosen.size();
        for (const auto& e : rows)
            if (equalsNoCase(e.name, name) &&
                (opt.location.empty() || equalsNoCase(e.location, opt.location)))
                chosen.push_back(e);
        if (chosen.size() == before)
            throw CliError{kExitFailure, "No startup entry \"" + name + "\"" +
                                             (opt.location.empty() ? "" : " in " + opt.location) +
                                             ". `brisko startup list` shows them."};
    }
    if (!opt.yes) {
        std::string q = "Delete " + std::to_string(chosen.size()) +
                        (chosen.size() == 1 ? " startup entry" : " startup entries") +
                        " (a backup is kept in the backup folder)?";
        if (!askYes(q)) throw CliError{kExitCancelled, "nothing was deleted (use --yes)"};
    }
    TOptionsSetting settings;
    LoadSettings(m, settings, nullptr, WindowMetrics{});
    StartupBackup backup(m, settings.OutputDirectory);
    json results = json::array();
    int failures = 0;
    for (const auto& e : chosen) {
        StartupDeleteResult r = DeleteStartupEntry(m, e, backup);
        static const char* names[] = {"deleted", "already gone", "backup failed", "delete failed",
                                      "bad location"};
        const char* outcome = names[int(r.outcome)];
        if (!r.rowGone()) ++failures;
        if (ctx.json) {
            json j = entryJson(e);
            j["result"] = outcome;
            if (!r.backup.empty()) j["backup"] = r.backup;
            if (!r.message.empty()) j["message"] = r.message;
            results.push_back(j);
        } else {
            std::cout << e.name << " (" << e.location << "): " << outcome;
            if (!r.backup.empty()) std::cout << ", backup " << r.backup;
            if (!r.message.empty()) std::cout << ": " << r.message;
            std::cout << "\n";
        }
    }
    if (ctx.json) ctx.printJson({{"results", results}});
    return failures ? kExitFailure : kExitOk;
}

int runRestore(CliContext& ctx, const std::string& backup) {
    Machine& m = ctx.machineForWriting();
    std::string error;
    if (equalsNoCase(extractFileExt(backup), ".reg")) {
        FileReadError why{};
        auto bytes = readWholeFile(m.files(), backup, 64 << 20, &why);
        if (!bytes && why == FileReadError::TooLarge)
            throw CliError{kExitBadInput, backup + " is too large."};
        if (!bytes) throw CliError{kExitFailure, "Cannot read " + backup + "."};
        if (!regFileEndsWhole(*bytes))
            throw CliError{kExitBadInput,
                           backup + ": the file is cut short; nothing was restored."};
        try {
            RegFileParse p = parseRegText(*bytes);
            size_t failed = applyRegOps(m.registry(), p.ops);
            if (failed || !m.registry().refusedEdits().empty())
                error = importFailureText(m.registry(), backup, failed, p.ops.size(), "restored");
        } catch (const RegFileError& e) {
            throw CliError{kExitBadInput, backup + ": " + e.message};
        }
        if (error.empty()) {
            // The run's shortcuts come back with its values.
            ctx.commit();
            std::vector<std::string> problems;
            restoreBackupFileCopies(m.files(), backup, *bytes, &problems);
            for (const auto& p : problems) error += (error.empty() ? "" : "\n") + p;
        }
    } else {
        error = RestoreStartupShortcut(m, backup);
    }
    if (ctx.json) ctx.printJson({{"restored", error.empty()}, {"message", error}});
    if (!error.empty()) throw CliError{kExitFailure, error};
    if (!ctx.json) std::cout << "Restored " << backup << "\n";
    return kExitOk;
}

}  // namespace

void addStartupCommands(CLI::App& app, CliContext& ctx) {
    auto* startup =
        app.add_subcommand("startup", "List and delete the programs Windows starts at logon");
    startup->require_subcommand(1);
    auto* list = startup->add_subcommand(
        "list", "The run-key values and Startup-folder shortcuts: name, file and location");
    setRunner(list, [&ctx] { return runList(ctx); });

    auto opt = std::make_shared<DeleteOptions>();
    auto* del = startup->add_subcommand(
        "delete",
        "Delete entries by name (as `startup list` shows it), each backed up first in the "
        "registry backup folder");
    del->add_option("NAME", opt->names, "Entry names")->required();
    del->add_option("--location", opt->location,
                    "Only the entry in this location (a key path, \"Startup\" or \"Common "
                    "Startup\")");
    del->add_flag("--yes,-y", opt->yes, "Do not ask");
    setRunner(del, [&ctx, opt] { return runDelete(ctx, *opt); });

    auto file = std::make_shared<std::string>();
    auto* restore = startup->add_subcommand(
        "restore",
        "Put a deleted entry back from its backup: a \"..._startup.reg\" file or a shortcut "
        "copy under \"Startup shortcuts\" in the backup folder (Windows paths)");
    restore->add_option("BACKUP", *file, "Windows path of the backup")->required();
    setRunner(restore, [&ctx, file] { return runRestore(ctx, *file); });
}

}  // namespace brisko::cli
