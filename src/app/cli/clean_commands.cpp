// brisko list | test | clean. A run goes through the same controller as the
// Cleaner pane: the Clean command counts first in a hidden Test pass and then
// removes, with the same log lines, questions and checks.
#include "app/cli/clean_commands.h"

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <iostream>
#include <mutex>

#include "base/text.h"
#include "cleaner/clean_catalog.h"
#include "cleaner/clean_log.h"
#include "cleaner/clean_run.h"
#include "cleaner/items/application_items.h"
#include "cleaner/removal.h"
#include "core/ini_file.h"
#include "core/settings.h"

namespace brisko::cli {

namespace {

std::atomic<bool> gInterrupted{false};
void onInterrupt(int) {
    gInterrupted = true;
}

// The saved settings and clean selection, read without creating anything in
// the machine (a listing or a Test run must leave it as it was).
struct CleanSetup {
    TOptionsSetting settings;
    CheckTree tree = buildCleanTree();
};

void loadSetup(Machine& m, CleanSetup& s) {
    BuildApplicationsNode(m, s.tree);
    std::optional<IniFile> ini;
    std::string appData = AppDataFolder(m);
    if (!appData.empty()) ini = readIniFile(m, appData + "Brisko\\Brisko Cleaner\\options.ini");
    // Defaults placed beside the program stand in for a user who has none yet.
    if (!ini) ini = readIniFile(m, includeTrailingBackslash(m.programFolder()) + "options.ini");
    loadSettingsFromIni(ini.value_or(IniFile{}), s.settings, &s.tree, WindowMetrics{}, "");
}

// stdout gets the log, stderr the questions and the progress line; both
// come from the worker thread too, so they share one lock.
class Console {
  public:
    explicit Console(bool json) : json_(json), progressTty_(isatty(STDERR_FILENO) != 0) {}

    void logLine(std::string_view line) {
        std::lock_guard lock(mutex_);
        if (json_ || hidden_) return;
        clearProgressLocked();
        std::cout << line << '\n' << std::flush;
        drawProgressLocked();
    }
    void message(std::string_view text) {
        std::lock_guard lock(mutex_);
        clearProgressLocked();
        std::cerr << text << std::flush;
    }
    void setHidden(bool hidden) {
        std::lock_guard lock(mutex_);
        hidden_ = hidden;
    }
    void setProgress(std::string text) {
        std::lock_guard lock(mutex_);
        if (!progressTty_) return;
        progress_ = std::move(text);
        drawProgressLocked();
    }
    void endProgress() {
        std::lock_guard lock(mutex_);
        clearProgressLocked();
        progress_.clear();
    }

  private:
    void clearProgressLocked() {
        if (progressTty_ && shown_) std::cerr << "\r\033[K" << std::flush;
        shown_ = false;
    }
    void drawProgressLocked() {
        if (!progressTty_ || progress_.empty()) return;
        std::cerr << "\r\033[K" << progress_ << std::flush;
        shown_ = true;
    }

    std::mutex mutex_;
    bool json_;
    bool progressTty_;
    bool hidden_ = false;
    bool shown_ = false;
    std::string progress_;
};

// How questions are answered without a person at the terminal.
enum class Answers {
    Ask,         // asked on a terminal; otherwise the box's default button
    ConfirmRun,  // --yes: the run is confirmed; every other question gets its default
    YesToAll,    // --yes-to-all: Yes to the safety questions too
    No,          // --no
};

// Questions: asked on a terminal; otherwise answered as the options say, or by
// the box's default button, and the answer is shown.
class CliPrompter : public Prompter {
  public:
    CliPrompter(Console& console, Answers answers)
        : console_(console),
          answers_(answers),
          forced_(answers == Answers::YesToAll ? 1
                  : answers == Answers::No     ? -1
                                               : 0) {}

    // The confirmation of the run itself.
    int confirm(std::string_view text, unsigned flags) {
        if (answers_ != Answers::ConfirmRun) return ask(text, flags);
        console_.message(std::string(text) + " -> Yes\n");
        return (flags & 0xf) == MB_YESNO || (flags & 0xf) == MB_YESNOCANCEL ? IDYES : IDOK;
    }

    int ask(std::string_view text, unsigned flags) override {
        const unsigned buttons = flags & 0xf;
        if (buttons == MB_OK) {
            console_.message(std::string(text) + "\n");
            return IDOK;
        }
        const int def = defaultAnswer(flags);
        const bool yesNo = buttons == MB_YESNO || buttons == MB_YESNOCANCEL;
        const int yes = yesNo ? IDYES : IDOK;
        const int no = yesNo ? IDNO : IDCANCEL;
        if (answers_ == Answers::Ask && isatty(STDIN_FILENO) && isatty(STDERR_FILENO)) {
            std::lock_guard lock(inputMutex_);
            console_.message(std::string(text) + (def == yes ? " [Y/n] " : " [y/N] "));
            std::string answer;
            if (!std::getline(std::cin, answer)) return def;
            answer = lowerCase(trim(answer));
            if (answer == "y" || answer == "yes") return yes;
            if (answer == "n" || answer == "no") return no;
            return def;
        }
        int a = forced_ > 0 ? yes : forced_ < 0 ? no : def;
        console_.message(std::string(text) + " -> " + (a == yes ? "Yes" : "No") +
                         (forced_ == 0 ? " (default)" : "") + "\n");
        return a;
    }

  private:
    Console& console_;
    Answers answers_;
    int forced_;  // 1 Yes, -1 No, 0 ask or default
    std::mutex inputMutex_;
};

// The log as the pane keeps it, echoed to the console as it comes.
class CliLog : public CleanLogSink {
  public:
    CliLog(Console& console, std::function<void(std::string_view)> onLine)
        : console_(console), onLine_(std::move(onLine)) {}
    void addLine(std::string_view line) override {
        memory_.addLine(line);
        console_.logLine(line);
        if (onLine_) onLine_(line);
    }
    MemoryCleanLog& memory() { return memory_; }

  private:
    Console& console_;
    MemoryCleanLog memory_;
    std::function<void(std::string_view)> onLine_;
};

class CliView : public CleanRunView {
  public:
    CliView(Console& console, CliLog& log, CliPrompter& prompter)
        : console_(console), log_(log), prompter_(prompter) {}
    bool confirmClean() override {
        return prompter_.confirm(
                   "Are you sure you want to start to clean the selected item? Are "
                   "you sure you wish to proceed?",
                   MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDYES;
    }
    void setLogTextHidden(bool hidden) override { console_.setHidden(hidden); }
    void clearLog() override { log_.memory().clear(); }
    void setProgress(int position) override { percent = position / 10; }

    std::atomic<int> percent{0};

  private:
    Console& console_;
    CliLog& log_;
    CliPrompter& prompter_;
};

// Items named on the command line: log captions, or group captions for all
// the items of a group, without regard to case.
std::vector<std::string> selectItems(CheckTree& tree, const std::vector<std::string>& names) {
    std::vector<std::string> unknown;
    tree.uncheckAll();
    for (const auto& name : names) {
        CheckNode* match = nullptr;
        tree.forEach([&](CheckNode& n) {
            if (!match && equalsNoCase(n.isTopLevel() ? n.caption : logCaption(n), name))
                match = &n;
        });
        if (match)
            setChecked(*match, true);
        else
            unknown.push_back(name);
    }
    return unknown;
}

int runList(CliContext& ctx) {
    CleanSetup setup;
    loadSetup(ctx.machine(), setup);
    nlohmann::json groups = nlohmann::json::array();
    for (const auto& g : setup.tree.topLevel()) {
        nlohmann::json items = nlohmann::json::array();
        bool any = false;
        for (const auto& item : g->children) {
            any = any || item->checked;
            items.push_back({{"caption", item->caption},
                             {"logCaption", logCaption(*item)},
                             {"checked", item->checked}});
        }
        groups.push_back({{"caption", g->caption}, {"checked", any}, {"items", items}});
    }
    if (ctx.json) {
        ctx.printJson({{"groups", groups}});
        return kExitOk;
    }
    for (const auto& g : groups) {
        std::cout << g["caption"].get<std::string>() << "\n";
        for (const auto& i : g["items"])
            std::cout << "  [" << (i["checked"].get<bool>() ? 'x' : ' ') << "] "
                      << i["logCaption"].get<std::string>() << "\n";
    }
    return kExitOk;
}

struct RunOptions {
    std::vector<std::string> items;
    bool yes = false;
    bool yesToAll = false;
    bool no = false;
    bool verbose = false;
};

int runClean(CliContext& ctx, const RunOptions& opt, bool clean) {
    auto& machine = ctx.machine();
    CleanSetup setup;
    loadSetup(machine, setup);
    if (!opt.items.empty()) {
        auto unknown = selectItems(setup.tree, opt.items);
        if (!unknown.empty())
            throw CliError{kExitUsage,
                           "unknown clean item \"" + unknown.front() + "\" (see `brisko list`)"};
    }
    if (checkedJobCaptions(setup.tree).empty())
        throw CliError{kExitUsage,
                       "no clean items selected: name them (see `brisko list`) or check them in "
                       "the program"};
    if (opt.verbose) setup.settings.FastScan = false;

    Console console(ctx.json);
    CliPrompter prompter(console, opt.yesToAll ? Answers::YesToAll
                                  : opt.yes    ? Answers::ConfirmRun
                                  : opt.no     ? Answers::No
                                               : Answers::Ask);
    const size_t jobs = checkedJobCaptions(setup.tree).size();
    CliView* viewPtr = nullptr;
    // Only the worker threads call this, one after the other.
    size_t itemsStarted = 0;
    bool countingBefore = false;
    CliLog log(console, [&](std::string_view line) {
        // "Test: Clearing X ..." / "Clean: Clearing X ..." start an item; the
        // Test lines of a clean are its hidden count.
        size_t at = line.find("Clearing ");
        if (at == std::string_view::npos || at > kCleanPrefix.size() || !line.ends_with(" ..."))
            return;
        const bool counting = clean && line.starts_with(kTestPrefix);
        if (counting != countingBefore) itemsStarted = 0;
        countingBefore = counting;
        std::string caption(line.substr(at + 9, line.size() - at - 13));
        std::string phase = counting ? "Counting" : clean ? "Cleaning" : "Testing";
        std::string pct = clean && !counting && viewPtr
                              ? " " + std::to_string(viewPtr->percent.load()) + "%"
                              : "";
        console.setProgress(phase + pct + " [" + std::to_string(++itemsStarted) + "/" +
                            std::to_string(jobs) + "] " + caption);
    });
    CliView view(console, log, prompter);
    viewPtr = &view;
    MessageQueue queue;
    CleanRunController controller(
        {machine, setup.settings, setup.tree, view, prompter, log, queue});

    gInterrupted = false;
    auto previous = std::signal(SIGINT, onInterrupt);
    StartResult started;
    if (clean) {
        started = controller.bCleanClick();
    } else {
        started = controller.bTestClick();
    }
    bool ended = true;
    if (started == StartResult::Started) {
        ended = runMessageLoop(controller, queue, [] { return !gInterrupted.load(); });
        if (!ended) controller.cancel();
        controller.waitForWorker();
    }
    std::signal(SIGINT, previous);
    console.endProgress();

    switch (started) {
        case StartResult::Started:
            break;
        case StartResult::NotConfirmed:
            throw CliError{kExitCancelled, "the clean was not confirmed (use --yes)"};
        case StartResult::BrowserRunning:
            throw CliError{kExitFailure, "a browser that would be cleaned is running"};
        default:
            throw CliError{kExitFailure, "the run could not start"};
    }
    if (clean) ctx.commit();  // what was removed stays removed, also after Ctrl-C

    const TClearTaskThread* worker = controller.lastWorker();
    auto results = worker ? worker->results() : std::vector<CleanItemResult>{};
    bool failed = false;
    if (ctx.json) {
        nlohmann::json items = nlohmann::json::array();
        for (const auto& r : results) {
            nlohmann::json item = {{"caption", r.caption},
                                   {"count", r.count},
                                   {"bytes", r.bytes},
                                   {"sizeText", r.sizeText}};
            if (!r.error.empty()) item["error"] = r.error;
            items.push_back(item);
        }
        ctx.printJson({{"mode", clean ? "clean" : "test"},
                       {"items", items},
                       {"totalCount", worker ? worker->totalCount() : 0},
                       {"totalBytes", worker ? worker->totalBytes() : 0},
                       {"refused", worker ? worker->refusals() : std::vector<std::string>{}},
                       {"log", log.memory().lines()}});
    }
    for (const auto& r : results) failed = failed || !r.error.empty();
    // What a read-only hive refused stays: say why, and fail.
    for (const auto& why : worker ? worker->refusals() : std::vector<std::string>{}) {
        std::cerr << "brisko: " << why << "\n";
        failed = true;
    }
    if (!ended) {
        std::cerr << "brisko: stopped\n";
        return kExitCancelled;
    }
    return failed ? kExitFailure : kExitOk;
}

}  // namespace

void addCleanCommands(CLI::App& app, CliContext& ctx) {
    auto* list = app.add_subcommand(
        "list", "List the clean items by group, with their log captions and the saved selection");
    setRunner(list, [&ctx] { return runList(ctx); });

    auto opts = std::make_shared<RunOptions>();
    auto addRun = [&](const char* name, const char* help, bool clean) {
        auto* sub = app.add_subcommand(name, help);
        sub->add_option("items", opts->items,
                        "Log captions (\"Windows - Temporary Files\") or groups, any case; "
                        "default: the saved selection");
        auto* yes = sub->add_flag("--yes,-y", opts->yes,
                                  "Confirm the run; the safety questions (\"delete all files and "
                                  "folders under C:\\?\") still get their default, No");
        auto* all = sub->add_flag("--yes-to-all", opts->yesToAll,
                                  "DANGEROUS: also answer Yes to the safety questions, so that a "
                                  "list may empty a drive root or the documents folder");
        auto* no = sub->add_flag("--no", opts->no, "Answer No to every question");
        no->excludes(yes)->excludes(all);
        sub->add_flag("--verbose,-v", opts->verbose,
                      "Log every file, key and value (Fast Mode off)");
        setRunner(sub, [&ctx, opts, clean] { return runClean(ctx, *opts, clean); });
    };
    addRun("test", "Test run: list what the selected items would remove, and its size", false);
    addRun("clean", "Remove what the selected items find (counts first, then removes)", true);
}

}  // namespace brisko::cli
