// brisko fix: scan, then fix every problem the filter keeps, with its backup.
// brisko backups list|restore|delete: the backups in the backup folder.
#include "app/cli/fix_commands.h"

#include <unistd.h>

#include <ctime>
#include <fstream>
#include <iostream>
#include <sstream>

#include "app/cli/json_stream.h"
#include "app/cli/regscan_commands.h"
#include "base/text.h"
#include "core/local_time.h"
#include "core/machine/file_read.h"
#include "core/machine/reg_file.h"
#include "core/settings.h"
#include "core/startup.h"
#include "registry/backup_store.h"
#include "registry/registry_fix.h"

namespace brisko::cli {

namespace {

// --yes answers every question with Yes; otherwise a terminal is asked and
// anything else gets the box's default button.
class CliPrompter : public Prompter {
  public:
    explicit CliPrompter(bool yes) : yes_(yes) {}
    int ask(std::string_view text, unsigned flags) override {
        if (yes_) return (flags & 0xf) == MB_OK ? IDOK : IDYES;
        if (!isatty(STDIN_FILENO)) return defaultAnswer(flags);
        std::cerr << text << " [y/n] " << std::flush;
        std::string answer;
        std::getline(std::cin, answer);
        return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y') ? IDYES : IDNO;
    }

  private:
    bool yes_;
};

std::string outcomeName(FixOutcome o) {
    switch (o) {
        case FixOutcome::Fixed:
            return "fixed";
        case FixOutcome::AlreadyGone:
            return "already gone";
        case FixOutcome::NotBackedUp:
            return "kept: no backup";
        case FixOutcome::Refused:
            return "kept: refused";
        case FixOutcome::Skipped:
            break;
    }
    return "skipped";
}

struct FixOptions {
    std::string sections;
    bool sectionsGiven = false;
    bool yes = false;
};

int runFix(CliContext& ctx, const FixOptions& opt) {
    auto& machine = ctx.machineForWriting();
    TOptionsSetting settings;
    LoadSettings(machine, settings, nullptr, WindowMetrics{}, false);
    auto scan = scanForCommand(machine, settings, opt.sections, opt.sectionsGiven);
    if (scan.cancelled) {
        std::cerr << "brisko: stopped before anything was fixed\n";
        return kExitCancelled;
    }
    for (const auto& f : scan.failures) std::cerr << "brisko: warning: " << f.message << "\n";
    CliPrompter prompter(opt.yes);
    if (!scan.rows.empty() && !opt.yes) {
        if (!isatty(STDIN_FILENO))
            throw CliError{kExitUsage, std::to_string(scan.rows.size()) +
                                           " problems found; add --yes to fix them"};
        if (prompter.ask("Fix " + std::to_string(scan.rows.size()) +
                             " registry problems (each is backed up first)?",
                         MB_YESNO) != IDYES)
            return kExitCancelled;
    }
    FixErrorsSteps steps;
    // Deletions on an image only land at the commit below: one flush of the
    // backup before it is enough.
    steps.flushEachBlock = false;
    steps.rescan = scan.scanAgain;
    steps.restorePoint = [&] {
        RestorePointService* rp = machine.restorePoints();
        if (rp && rp->createRestorePoint("Made by Brisko Cleaner")) return true;
        return prompter.ask("Restore Point creation Failed! Contiue to fix?",
                            MB_YESNO | MB_ICONINFORMATION | MB_DEFBUTTON2) == IDYES;
    };
    std::string error;
    auto report = fixErrors(machine, scan.rows, settings, WindowsVersionCode(machine.version()),
                            prompter, steps, &error);
    if (!report) {
        if (!error.empty()) throw CliError{kExitFailure, error};
        if (!scan.rows.empty()) return kExitCancelled;
        if (ctx.json)
            ctx.printJson({{"problems", 0}, {"fixed", 0}});
        else
            std::cout << "No registry problems found.\n";
        return kExitOk;
    }
    // What was accepted lands even when a read-only hive refused some rows.
    try {
        ctx.commit();
    } catch (const CliError& e) {
        // The shortcut files of the run are gone all the same: say so.
        throw CliError{e.code, commitFailed(*report, scan.rows, e.message)};
    }
    int code = report->kept() ? kExitFailure : kExitOk;
    if (ctx.json) {
        // Row by row, keys in the order a whole document would print them.
        JsonStream out(std::cout);
        out.beginObject();
        out.key("alreadyGone");
        out.value(report->alreadyGone);
        out.key("backup");
        out.value(report->backupFile);
        out.key("fixed");
        out.value(report->fixed);
        // Found after the fix and not deleted: a later `brisko fix` lists them.
        out.key("leftovers");
        out.beginArray();
        for (const auto& r : report->leftovers) out.value(problemJson(r));
        out.endArray();
        out.key("messages");
        out.value(report->messages);
        out.key("notBackedUp");
        out.value(report->notBackedUp);
        out.key("problems");
        out.value(scan.rows.size());
        out.key("refused");
        out.value(report->refused);
        out.key("rows");
        out.beginArray();
        for (size_t i = 0; i < scan.rows.size(); ++i) {
            nlohmann::json j = problemJson(scan.rows[i]);
            j["outcome"] = outcomeName(report->outcomes[i]);
            out.value(j);
        }
        out.endArray();
        out.endObject();
        out.finish();
    } else {
        for (size_t i = 0; i < scan.rows.size(); ++i)
            if (report->outcomes[i] != FixOutcome::Fixed)
                std::cout << outcomeName(report->outcomes[i]) << ": " << scan.rows[i].keyPath
                          << "\n";
        std::cout << "Fixed " << report->fixed << " of " << scan.rows.size()
                  << " registry problems";
        if (report->alreadyGone) std::cout << " (" << report->alreadyGone << " already gone)";
        std::cout << ".\n";
        if (!report->leftovers.empty()) {
            std::cout << "Left behind by these deletions:\n";
            for (const auto& row : report->leftovers)
                std::cout << "  " << row.problem << "  ^^^  " << row.data << "  ^^^  "
                          << row.keyPath << "\n";
            std::cout
                << "They were not deleted: `brisko regscan` shows them, `brisko fix` fixes them.\n";
        }
        // A run that deleted nothing after a failed backup leaves none.
        if (machine.files().fileExists(report->backupFile))
            std::cout << "Backup: " << report->backupFile << "\n";
        else
            std::cout << "No backup was kept: nothing was deleted.\n";
        std::cout << kFixFinishedCaption << "\n";
    }
    for (const auto& m : report->messages) std::cerr << "brisko: " << m << "\n";
    return code;
}

// --- backups ---------------------------------------------------------------

std::string backupFolder(CliContext& ctx, TOptionsSetting& settings) {
    LoadSettings(ctx.machine(), settings, nullptr, WindowMetrics{}, false);
    return settings.OutputDirectory;
}

// A name in the backup folder, or a Windows path of a backup in it.
std::string backupFileArg(CliContext& ctx, const std::string& folder, const std::string& file) {
    std::string why;
    auto path = backupInFolder(ctx.machine().files(), folder, file, &why);
    if (!path) throw CliError{kExitBadInput, why};
    return *path;
}

constexpr std::string_view kCutShort = "cut short, cannot be restored";

// A backup's write time (a FILETIME) as local time.
std::string writeTimeText(int64_t fileTime) {
    return localTimeText(std::time_t(fileTimeToUnix(fileTime)));
}

int runBackupsList(CliContext& ctx) {
    TOptionsSetting settings;
    std::string folder = backupFolder(ctx, settings);
    auto rows = listBackups(ctx.machine().files(), folder);
    if (!rows) throw CliError{kExitFailure, folder + " " + std::string(kNoBackupFolderText)};
    if (ctx.json) {
        nlohmann::json list = nlohmann::json::array();
        for (const auto& r : *rows)
            list.push_back({{"file", r.name},
                            {"date", writeTimeText(r.writeTime)},
                            {"bytes", r.size},
                            {"size", backupSizeText(r.size)},
                            {"whole", r.whole}});
        ctx.printJson({{"folder", folder}, {"backups", list}});
        return kExitOk;
    }
    std::cout << "Backup files are stored in the folder " << folder << "\n";
    for (const auto& r : *rows)
        std::cout << r.name << "  " << writeTimeText(r.writeTime) << "  " << backupSizeText(r.size)
                  << (r.whole ? "" : "  (" + std::string(kCutShort) + ")") << "\n";
    return kExitOk;
}

int runBackupsRestore(CliContext& ctx, const std::string& arg, bool keep) {
    auto& machine = ctx.machineForWriting();
    TOptionsSetting settings;
    std::string file = backupFileArg(ctx, backupFolder(ctx, settings), arg);
    auto bytes = readWholeFile(machine.files(), file, int64_t(1) << 31);
    if (!bytes) throw CliError{kExitBadInput, "Cannot read " + file + "."};
    if (!regFileEndsWhole(*bytes))
        throw CliError{kExitBadInput, file + ": the file is " + std::string(kCutShort) +
                                          ". Nothing was restored."};
    RegFileParse parsed;
    try {
        parsed = parseRegText(*bytes);
    } catch (const RegFileError& e) {
        throw CliError{kExitBadInput, file + ": " + e.message + " Nothing was restored."};
    }
    size_t failed = applyRegOps(machine.registry(), parsed.ops);
    if (failed || !machine.registry().refusedEdits().empty()) {
        std::string why =
            importFailureText(machine.registry(), file, failed, parsed.ops.size(), "restored");
        ctx.discard();
        throw CliError{kExitFailure, why};
    }
    ctx.commit();
    std::vector<std::string> problems;
    size_t files = restoreBackupFileCopies(machine.files(), file, *bytes, &problems);
    bool deleted = !keep && settings.DeleteBackupFile && deleteBackup(machine.files(), file);
    if (ctx.json) {
        ctx.printJson({{"file", file},
                       {"operations", parsed.ops.size()},
                       {"filesRestored", files},
                       {"problems", problems},
                       {"deleted", deleted}});
    } else {
        std::cout << "Restored " << file << ": " << parsed.ops.size() << " operations";
        if (files) std::cout << ", " << files << " files put back";
        std::cout << ".\n";
        if (deleted) std::cout << "The backup was deleted (option DeleteBackupFile).\n";
    }
    for (const auto& p : problems) std::cerr << "brisko: " << p << "\n";
    return problems.empty() ? kExitOk : kExitFailure;
}

int runBackupsDelete(CliContext& ctx, const std::string& arg) {
    TOptionsSetting settings;
    std::string file = backupFileArg(ctx, backupFolder(ctx, settings), arg);
    if (!deleteBackup(ctx.machine().files(), file))
        throw CliError{kExitFailure, "Cannot delete " + file + "."};
    if (ctx.json)
        ctx.printJson({{"file", file}, {"deleted", true}});
    else
        std::cout << "Deleted " << file << "\n";
    return kExitOk;
}

}  // namespace

void addFixCommands(CLI::App& app, CliContext& ctx) {
    auto opt = std::make_shared<FixOptions>();
    auto* fix = app.add_subcommand(
        "fix", "Scan the registry and fix every problem found, writing a .reg backup first");
    auto* sectionsOpt = fix->add_option("--sections", opt->sections, sectionHelp());
    fix->add_flag("--yes,-y", opt->yes, "Fix without asking (and create the backup folder)");
    setRunner(fix, [&ctx, opt, sectionsOpt] {
        opt->sectionsGiven = sectionsOpt->count() > 0;
        return runFix(ctx, *opt);
    });

    static std::string file;
    static bool keep = false;
    auto* backups = app.add_subcommand("backups", "List, restore and delete registry backups");
    auto* list = backups->add_subcommand("list", "List the backups, newest first (the default)");
    setRunner(list, [&ctx] { return runBackupsList(ctx); });
    auto* restore = backups->add_subcommand("restore", "Merge a backup back into the registry");
    restore->add_option("FILE", file, "Backup file name (in the backup folder) or Windows path")
        ->required();
    restore->add_flag("--keep", keep, "Keep the backup even when DeleteBackupFile is on");
    setRunner(restore, [&ctx] { return runBackupsRestore(ctx, file, keep); });
    auto* del = backups->add_subcommand("delete", "Delete a backup and its file copies");
    del->add_option("FILE", file, "Backup file name (in the backup folder) or Windows path")
        ->required();
    setRunner(del, [&ctx] { return runBackupsDelete(ctx, file); });
    setRunner(backups, [&ctx] { return runBackupsList(ctx); });
}

}  // namespace brisko::cli
