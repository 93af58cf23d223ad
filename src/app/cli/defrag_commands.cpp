// brisko defrag analyze|apply: compact copies of every hive, how much smaller
// the registry gets, and the copies put in place at the next restart.
#include "app/cli/defrag_commands.h"

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <iomanip>
#include <iostream>

#include "base/text.h"
#include "core/settings.h"
#include "core/startup.h"
#include "defrag/defrag_run.h"
#include "tools/restore_point.h"

namespace brisko::cli {

namespace {

std::atomic<bool> gInterrupted{false};
void onInterrupt(int) {
    gInterrupted = true;
}

// Messages and questions on stderr; a question is asked only on a terminal.
class DefragPrompter : public Prompter {
  public:
    explicit DefragPrompter(bool yes) : yes_(yes) {}
    int ask(std::string_view text, unsigned flags) override {
        unsigned buttons = flags & 0xf;
        if (buttons == MB_OK) {
            std::cerr << text << "\n";
            return IDOK;
        }
        int def = defaultAnswer(flags);
        if (yes_) {
            std::cerr << text << " -> Yes\n";
            return IDYES;
        }
        if (isatty(STDIN_FILENO) && isatty(STDERR_FILENO)) {
            std::cerr << text << (def == IDYES ? " [Y/n] " : " [y/N] ") << std::flush;
            std::string answer;
            if (!std::getline(std::cin, answer)) return def;
            answer = lowerCase(trim(answer));
            if (answer == "y" || answer == "yes") return IDYES;
            if (answer == "n" || answer == "no") return IDNO;
            return def;
        }
        std::cerr << text << " -> " << (def == IDYES ? "Yes" : "No") << " (default)\n";
        return def;
    }

  private:
    bool yes_;
};

struct Analysis {
    std::vector<HiveEntry> hives;
    AnalysisResult result;
};

Analysis analyze(Machine& m) {
    int code = WindowsVersionCode(m.version());
    if (!registryAnalysisAvailable(code))
        throw CliError{kExitFailure, std::string(kUnsupportedWindows)};
    Analysis a;
    a.hives = BuildHiveList(m, m.isWow64());
    if (a.hives.empty()) throw CliError{kExitFailure, "The machine lists no hive file to analyze."};
    if (AnyHiveCopyInUse(m.files(), a.hives))
        throw CliError{kExitFailure,
                       std::string(kCannotAnalyzeNow) +
                           " (a defrag waits for the restart: run `brisko restart` first)"};
    bool tty = isatty(STDERR_FILENO) != 0;
    auto progress = [&](size_t done, size_t total, const std::string& next) {
        if (!tty) return;
        std::cerr << "\r\033[KAnalyzing " << done << "/" << total
                  << (next.empty() ? std::string() : ": " + next) << std::flush;
    };
    gInterrupted = false;
    std::stop_source stop;
    auto old = std::signal(SIGINT, onInterrupt);
    std::atomic<bool> done{false};
    std::jthread watch([&](std::stop_token st) {
        while (!st.stop_requested() && !done) {
            if (gInterrupted) {
                stop.request_stop();
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    a.result = RunDefragAnalysis(m, a.hives, m.isWow64(), progress, stop.get_token());
    done = true;
    watch.request_stop();
    watch.join();
    std::signal(SIGINT, old);
    if (tty) std::cerr << "\r\033[K" << std::flush;
    return a;
}

nlohmann::json analysisJson(Machine& m, const Analysis& a) {
    nlohmann::json hives = nlohmann::json::array();
    for (size_t i = 0; i < a.hives.size(); ++i) {
        const auto& h = a.hives[i];
        int64_t cur = HiveFileSize(m.files(), h.file);
        bool made = i < a.result.outcomes.size() && a.result.outcomes[i].made;
        int64_t nw = made ? HiveFileSize(m.files(), HiveCopyFile(h.file)) : cur;
        nlohmann::json j{{"name", h.name},
                         {"file", h.file},
                         {"currentSize", cur},
                         {"newSize", nw},
                         {"reduction", ReductionText(cur, nw)}};
        bool compact = i < a.result.outcomes.size() && a.result.outcomes[i].alreadyCompact;
        if (compact)
            j["alreadyCompact"] = true;
        else if (!made && i < a.result.outcomes.size())
            j["problem"] = a.result.outcomes[i].problem;
        hives.push_back(j);
    }
    const auto& s = a.result.sizes;
    return {{"hives", hives},
            {"completed", a.result.completed},
            {"totalCurrent", s.totalCurrent},
            {"totalNew", s.totalNew},
            {"sizeReduction", s.sizeReduction},
            {"compactPercent", s.compactPercent}};
}

void printAnalysis(const Analysis& a) {
    const auto& s = a.result.sizes;
    std::cout << std::left << std::setw(72) << "Hive Name" << std::right << std::setw(14)
              << "Current Size" << std::setw(14) << "New Size" << std::setw(11) << "Reduction"
              << "\n";
    for (size_t i = 0; i < a.hives.size() && i < s.rows.size(); ++i)
        std::cout << std::left << std::setw(72) << a.hives[i].name << std::right << std::setw(14)
                  << s.rows[i].currentSize << std::setw(14) << s.rows[i].newSize << std::setw(11)
                  << s.rows[i].reduction << "\n";
    std::cout << "\nCurrent Registry Size: " << s.currentRegistrySize
              << "\nNew Registry Size: " << s.newRegistrySize
              << "\nSize Reduction: " << s.sizeReduction
              << "\nCompact Percent: " << s.compactPercent << "\n";
    for (const auto& h : a.result.alreadyCompact)
        std::cout << "Already compact: " << h << " (left as it is)\n";
    for (const auto& p : a.result.problems) std::cout << "Not compacted: " << p << "\n";
    if (NeedsLowFragmentationAdvice(s)) std::cout << "\n" << LowFragmentationAdvice(s) << "\n";
}

// The analysis must have run to its end.
int checkAnalysis(const Analysis& a) {
    if (!a.result.completed) {
        std::cerr << "brisko: the analysis was stopped; nothing was changed.\n";
        return kExitCancelled;
    }
    return kExitOk;
}

int runAnalyze(CliContext& ctx) {
    // With the machine's lock: no apply of another program is half-way meanwhile.
    auto& m = ctx.machineForWriting();
    Analysis a = analyze(m);
    int code = checkAnalysis(a);
    if (code == kExitOk) {
        if (ctx.json)
            ctx.printJson(analysisJson(m, a));
        else
            printAnalysis(a);
    }
    // Nothing waits for these copies: they go as the window's copies go when it closes.
    DeleteHiveCopies(m, a.hives);
    return code;
}

int runApply(CliContext& ctx, bool yes) {
    auto& m = ctx.machineForWriting();
    DefragPrompter prompter(yes);
    Analysis a = analyze(m);
    int code = checkAnalysis(a);
    if (code != kExitOk) {
        DeleteHiveCopies(m, a.hives);
        return code;
    }
    if (!ctx.json) printAnalysis(a);
    if (prompter.ask("Put the compact hives in place at the next restart of the machine?",
                     MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES) {
        DeleteHiveCopies(m, a.hives);
        std::cerr << "Nothing was changed (use --yes to defragment without the question).\n";
        return kExitCancelled;
    }
    TOptionsSetting settings;
    LoadSettings(m, settings, nullptr, WindowMetrics{}, false);
    if (ShouldCreateRestorePoint(settings.RestorePoint, WindowsVersionCode(m.version()), false)) {
        bool made = CreateRestorePoint(m);
        if (!ContinueAfterRestorePoint(made ? 0 : 1, prompter)) {
            DeleteHiveCopies(m, a.hives);
            return kExitCancelled;
        }
    }
    DefragOutcome out = ScheduleHiveReplacements(m, a.hives, a.result.outcomes, prompter);
    DeleteHiveCopies(m, a.hives);  // the scheduled ones are held until the restart
    if (ctx.json) {
        auto j = analysisJson(m, a);
        j["scheduled"] = out.scheduled;
        j["failures"] = out.failures;
        ctx.printJson(j);
    } else {
        std::cout << "\n"
                  << out.scheduled << " of " << a.hives.size()
                  << " hives will be replaced by their compact copies at the next restart; "
                     "the present files are kept as .bak. Run `brisko restart` to restart the "
                     "machine now.\n";
    }
    return out.failures.empty() ? kExitOk : kExitFailure;
}

}  // namespace

void addDefragCommands(CLI::App& app, CliContext& ctx) {
    auto* defrag = app.add_subcommand(
        "defrag", "Analyze and defragment the registry hives (compact copies at the next restart)");
    defrag->require_subcommand(1);
    auto* an = defrag->add_subcommand(
        "analyze", "Write a compact copy of every hive and show how much smaller each gets");
    setRunner(an, [&ctx] { return runAnalyze(ctx); });
    static bool yes = false;
    auto* apply = defrag->add_subcommand(
        "apply",
        "Analyze, then have the compact copies replace the hives at the next restart "
        "(`brisko restart`); the present hive files are kept as .bak");
    apply->add_flag("--yes,-y", yes, "Do not ask before scheduling the replacement");
    setRunner(apply, [&ctx] { return runApply(ctx, yes); });
}

}  // namespace brisko::cli
