// brisko regscan and brisko ignore. A scan goes through the same controller as
// the Registry pane, so its result is checked and filtered exactly as the
// window shows it; Ctrl-C cancels like the pane's Cancel button.
#include "app/cli/regscan_commands.h"

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <iostream>
#include <memory>
#include <mutex>
#include <sstream>
#include <utility>

#include "app/cli/json_stream.h"
#include "base/text.h"
#include "cleaner/clean_run.h"
#include "core/settings.h"
#include "core/startup.h"
#include "registry/leftover_scan.h"
#include "registry/problem_list.h"
#include "registry/scan_run.h"
#include "registry/section_tree.h"

namespace brisko::cli {

namespace {

std::atomic<bool> gInterrupted{false};
void onInterrupt(int) {
    gInterrupted = true;
}

struct RegscanOptions {
    std::string sections;
    bool sectionsGiven = false;
};

// "3,4, 25" -> {3, 4, 25} in tree order (which is code order), each code once.
std::vector<int> parseSections(const std::string& text) {
    std::vector<int> codes;
    for (const auto& part : split(text, ',')) {
        std::string t(trim(part));
        if (t.empty()) continue;
        size_t used = 0;
        int code = 0;
        try {
            code = std::stoi(t, &used);
        } catch (const std::exception&) {
            used = 0;
        }
        if (used != t.size() || code < 1 || code > kSectionCount)
            throw CliError{kExitUsage, "\"" + t + "\" is not a section code (1 to " +
                                           std::to_string(kSectionCount) +
                                           "; see `brisko regscan --help`)"};
        codes.push_back(code);
    }
    std::sort(codes.begin(), codes.end());
    codes.erase(std::unique(codes.begin(), codes.end()), codes.end());
    return codes;
}

}  // namespace

std::string sectionHelp() {
    std::string s = "Section codes, comma separated; default: the sections ticked in the program.";
    for (const auto& def : sectionCatalog())
        s += "\n  " + std::to_string(def.code) + "  " + std::string(def.caption);
    return s;
}

namespace {

// One line on stderr while the scan runs, only on a terminal.
class ProgressLine {
  public:
    ProgressLine() : tty_(isatty(STDERR_FILENO) != 0) {}
    ~ProgressLine() { clear(); }
    void show(const std::string& title, const std::string& key, size_t rows) {
        if (!tty_) return;
        std::string line = "[" + std::to_string(rows) + "] " + title;
        if (!key.empty()) line += "  " + key;
        if (line.size() > 110) line = line.substr(0, 107) + "...";
        if (line == last_) return;
        last_ = line;
        std::cerr << "\r\033[K" << line << std::flush;
    }
    void clear() {
        if (tty_ && !last_.empty()) std::cerr << "\r\033[K" << std::flush;
        last_.clear();
    }

  private:
    bool tty_;
    std::string last_;
};

}  // namespace

nlohmann::json problemJson(const RegistryProblem& row) {
    return {{"problem", row.problem},
            {"data", row.data},
            {"keyPath", row.keyPath},
            {"kind", int(row.kind)}};
}

namespace {

// The sections named in sectionText, or those ticked in the program.
std::vector<int> commandSections(TOptionsSetting& settings, const std::string& sectionText,
                                 bool sectionsGiven) {
    std::vector<int> sections;
    if (sectionsGiven) {
        sections = parseSections(sectionText);
    } else {
        CheckTree tree = buildSectionTree();
        applyNodeChecks(settings.TreeViewNodeCheck, tree);
        sections = checkedSectionCodes(tree);
    }
    if (sections.empty())
        throw CliError{kExitUsage,
                       "no registry sections selected: name them with --sections "
                       "(see `brisko regscan --help`) or tick them in the program"};
    return sections;
}

// Runs the scan through the pane's controller until it ends or Ctrl-C
// cancels it. sink, when set, takes the rows as they are found (ScanRun::
// handRowsTo); what `pending` gives, every tenth of a second or so, goes to
// stdout at once; atEnd runs once the scan has ended, with the run as it was left.
bool runScan(Machine& machine, TOptionsSetting& settings, const std::vector<int>& sections,
             ScanRun::RowSink sink, const std::function<std::vector<std::string>()>& pending,
             const std::function<void(ScanRun&)>& atEnd) {
    MessageQueue queue;
    DefaultPrompter prompter;
    ScanRun run(machine, settings, WindowsVersionCode(machine.version()), queue, prompter);
    if (sink) run.handRowsTo(std::move(sink));
    ProgressLine progress;
    gInterrupted = false;
    auto previous = std::signal(SIGINT, onInterrupt);
    bool cancelled = false;
    run.start(sections);
    while (run.scanning()) {
        if (gInterrupted) {
            run.cancel();
            cancelled = true;
            break;
        }
        if (auto m = queue.next(std::chrono::milliseconds(100))) run.handleMessage(m->msg);
        if (pending) {
            auto pieces = pending();
            if (!pieces.empty()) progress.clear();  // the rows go above the progress line
            for (const auto& p : pieces) std::cout << p;
            if (!pieces.empty()) std::cout << std::flush;
        }
        progress.show(run.titleText(), run.keyText(), run.rowCount());
    }
    std::signal(SIGINT, previous);
    progress.clear();
    atEnd(run);
    return cancelled;
}

// The rows of a scan as they will be printed, gathered while it runs in
// pieces of about a megabyte (no piece is ever copied to grow), so that a
// row is held as text, not as a row, from the moment it is found.
class RowText {
  public:
    void add(std::string_view text) {
        std::lock_guard lock(mutex_);
        if (pieces_.empty() || pieces_.back().size() + text.size() > kPiece) {
            pieces_.emplace_back();
            pieces_.back().reserve(std::max(kPiece, text.size()));
        }
        pieces_.back() += text;
        ++count_;
    }
    // Everything gathered so far, handed over and forgotten here.
    std::vector<std::string> take() {
        std::lock_guard lock(mutex_);
        return std::exchange(pieces_, {});
    }
    size_t count() const {
        std::lock_guard lock(mutex_);
        return count_;
    }

  private:
    static constexpr size_t kPiece = size_t(1) << 20;
    mutable std::mutex mutex_;
    std::vector<std::string> pieces_;
    size_t count_ = 0;
};

}  // namespace

CliScanResult scanForCommand(Machine& machine, TOptionsSetting& settings,
                             const std::string& sectionText, bool sectionsGiven) {
    const std::vector<int> sections = commandSections(settings, sectionText, sectionsGiven);
    CliScanResult result;
    result.cancelled = runScan(machine, settings, sections, {}, {}, [&](ScanRun& run) {
        result.rows = run.rows();
        result.failures = run.failures();
        result.status = run.statusText();
    });
    const int code = WindowsVersionCode(machine.version());
    result.scanAgain = [&machine, &settings, sections, code] {
        return scanInPlace(machine, makeScanEnvironment(machine, settings.IncludeRemoveMedia, code),
                           sections, settings, code);
    };
    return result;
}

namespace {

int runRegscan(CliContext& ctx, const RegscanOptions& opt) {
    Machine& machine = ctx.machine();
    TOptionsSetting settings;
    LoadSettings(machine, settings, nullptr, WindowMetrics{}, false);  // a scan changes nothing
    const std::vector<int> sections = commandSections(settings, opt.sections, opt.sectionsGiven);
    // Each row becomes its printed text the moment it is found. The plain
    // list goes out as it grows; the JSON document names the failed sections
    // ahead of the rows, so its rows wait for the end of the scan.
    RowText text;
    ScanRun::RowSink sink;
    std::function<std::vector<std::string>()> pending;
    if (ctx.json) {
        struct Rows {
            std::ostringstream buf;
            // Two levels deep: in "problems", in the document.
            JsonStream json = JsonStream::nested(buf, 2);
        };
        sink = [&text, rows = std::make_shared<Rows>()](RegistryProblem&& r) {
            rows->json.value(problemJson(r));
            text.add(rows->buf.view());
            rows->buf.str({});
        };
    } else {
        sink = [&text](RegistryProblem&& r) {
            std::string line;
            line.reserve(r.problem.size() + r.data.size() + r.keyPath.size() + 15);
            line.append(r.problem).append("  ^^^  ").append(r.data).append("  ^^^  ");
            line.append(r.keyPath).append("\n");
            text.add(line);
        };
        pending = [&text] { return text.take(); };
    }
    std::vector<ScanFailure> failures;
    std::string status;
    const bool cancelled =
        runScan(machine, settings, sections, std::move(sink), pending, [&](ScanRun& run) {
            failures = run.failures();
            status = run.statusText();
        });
    const size_t total = text.count();
    if (ctx.json) {
        JsonStream out(std::cout);
        out.beginObject();
        if (cancelled) {
            out.key("cancelled");
            out.value(true);
        }
        if (!failures.empty()) {
            out.key("failures");
            out.beginArray();
            for (const auto& f : failures) out.value({{"section", f.code}, {"message", f.message}});
            out.endArray();
        }
        out.key("problems");
        out.beginArray();
        out.rendered(text.take(), total);
        out.endArray();
        out.key("total");
        out.value(total);
        out.endObject();
        out.finish();
    } else {
        for (const auto& piece : text.take()) std::cout << piece;
        std::cout << status << "\n";
    }
    for (const auto& f : failures) std::cerr << "brisko: warning: " << f.message << "\n";
    if (cancelled) {
        std::cerr << "brisko: stopped\n";
        return kExitCancelled;
    }
    return failures.empty() ? kExitOk : kExitFailure;
}

// --- ignore lists --------------------------------------------------------------

struct IgnoreOptions {
    std::string kind;
    std::string entry;
};

struct IgnoreLists {
    std::vector<std::string>* list;
    int32_t* count;
};

IgnoreLists listOf(TOptionsSetting& s, const std::string& kind) {
    if (equalsNoCase(kind, "key")) return {&s.IgnoreKeyList, &s.IgnoreKeyCount};
    return {&s.IgnoreValueList, &s.IgnoreValueCount};
}

void save(CliContext& ctx, TOptionsSetting& settings) {
    if (!SaveSettings(ctx.machine(), settings, nullptr, nullptr, nullptr))
        throw CliError{kExitFailure,
                       "the settings file could not be written; the ignore lists are unchanged"};
}

int runIgnoreAdd(CliContext& ctx, const IgnoreOptions& opt) {
    if (!regAddOkEnabled(opt.entry))
        throw CliError{kExitUsage,
                       "an ignore entry is a full registry path, such as "
                       "HKEY_CURRENT_USER\\Software\\Microsoft"};
    TOptionsSetting settings;
    LoadSettings(ctx.machine(), settings, nullptr, WindowMetrics{});
    auto l = listOf(settings, opt.kind);
    bool listed = std::any_of(l.list->begin(), l.list->end(),
                              [&](const std::string& e) { return equalsNoCase(e, opt.entry); });
    if (!listed) {
        l.list->push_back(opt.entry);
        *l.count = std::max<int32_t>(*l.count + 1, int32_t(l.list->size()));
        save(ctx, settings);
    }
    if (ctx.json)
        ctx.printJson({{"kind", lowerCase(opt.kind)}, {"entry", opt.entry}, {"added", !listed}});
    else
        std::cout << (listed ? "Already in the " : "Added to the ") << lowerCase(opt.kind)
                  << " ignore list: " << opt.entry << "\n";
    return kExitOk;
}

int runIgnoreRemove(CliContext& ctx, const IgnoreOptions& opt) {
    TOptionsSetting settings;
    LoadSettings(ctx.machine(), settings, nullptr, WindowMetrics{});
    auto l = listOf(settings, opt.kind);
    size_t removed =
        std::erase_if(*l.list, [&](const std::string& e) { return equalsNoCase(e, opt.entry); });
    if (!removed)
        throw CliError{kExitFailure, "\"" + opt.entry + "\" is not in the " + lowerCase(opt.kind) +
                                         " ignore list"};
    *l.count = int32_t(l.list->size());
    save(ctx, settings);
    if (ctx.json)
        ctx.printJson({{"kind", lowerCase(opt.kind)}, {"entry", opt.entry}, {"removed", removed}});
    else
        std::cout << "Removed from the " << lowerCase(opt.kind) << " ignore list: " << opt.entry
                  << "\n";
    return kExitOk;
}

int runIgnoreList(CliContext& ctx, const IgnoreOptions& opt) {
    TOptionsSetting settings;
    LoadSettings(ctx.machine(), settings, nullptr, WindowMetrics{}, false);
    bool keys = opt.kind.empty() || equalsNoCase(opt.kind, "key");
    bool values = opt.kind.empty() || equalsNoCase(opt.kind, "value");
    if (ctx.json) {
        nlohmann::json doc = nlohmann::json::object();
        if (keys) doc["keys"] = settings.IgnoreKeyList;
        if (values) doc["values"] = settings.IgnoreValueList;
        ctx.printJson(doc);
        return kExitOk;
    }
    auto print = [&](std::string_view kind, const std::vector<std::string>& list) {
        for (const auto& e : list) {
            if (opt.kind.empty()) std::cout << kind << "  ";
            // Kept in the file, but the scan never filters with it.
            std::cout << (ignoreEntryUsable(e) ? e : "(empty entry, not used)") << "\n";
        }
    };
    if (keys) print("key", settings.IgnoreKeyList);
    if (values) print("value", settings.IgnoreValueList);
    return kExitOk;
}

}  // namespace

void addRegscanCommands(CLI::App& app, CliContext& ctx) {
    auto scanOpt = std::make_shared<RegscanOptions>();
    auto* scan = app.add_subcommand(
        "regscan", "Scan the registry for problems and list them, filtered by the ignore lists");
    auto* sectionsOpt = scan->add_option("--sections", scanOpt->sections, sectionHelp());
    setRunner(scan, [&ctx, scanOpt, sectionsOpt] {
        scanOpt->sectionsGiven = sectionsOpt->count() > 0;
        return runRegscan(ctx, *scanOpt);
    });

    auto ignoreOpt = std::make_shared<IgnoreOptions>();
    auto* ignore = app.add_subcommand("ignore", "Edit the registry ignore lists (keys and values)");
    ignore->require_subcommand(1);
    const auto kinds = CLI::IsMember({"key", "value"}, CLI::ignore_case);

    auto* add = ignore->add_subcommand("add", "Add an entry: the scan never reports it again");
    add->add_option("KIND", ignoreOpt->kind, "key or value")->required()->check(kinds);
    add->add_option("ENTRY", ignoreOpt->entry, "Full key path, or key path + \"\\\" + value name")
        ->required();
    setRunner(add, [&ctx, ignoreOpt] { return runIgnoreAdd(ctx, *ignoreOpt); });

    auto* list = ignore->add_subcommand("list", "Show the entries (of one list, or both)");
    list->add_option("KIND", ignoreOpt->kind, "key or value; default: both")->check(kinds);
    setRunner(list, [&ctx, ignoreOpt] { return runIgnoreList(ctx, *ignoreOpt); });

    auto* remove = ignore->add_subcommand("remove", "Remove an entry (letter case is ignored)");
    remove->add_option("KIND", ignoreOpt->kind, "key or value")->required()->check(kinds);
    remove->add_option("ENTRY", ignoreOpt->entry, "The entry as listed")->required();
    setRunner(remove, [&ctx, ignoreOpt] { return runIgnoreRemove(ctx, *ignoreOpt); });
}

}  // namespace brisko::cli
