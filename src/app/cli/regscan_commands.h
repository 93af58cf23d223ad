#pragma once
// brisko regscan: scan the machine's registry for problems, as the Registry
// pane does. brisko ignore add|list|remove: the two registry ignore lists.
#include <CLI/CLI.hpp>
#include <functional>
#include <nlohmann/json.hpp>

#include "app/cli/cli_context.h"
#include "registry/registry_problem.h"
#include "registry/scan_task_thread.h"

namespace brisko {
struct TOptionsSetting;
}

namespace brisko::cli {

// The help text of --sections, with every section code.
std::string sectionHelp();

struct CliScanResult {
    std::vector<RegistryProblem> rows;  // checked and filtered, as the pane shows them
    std::vector<ScanFailure> failures;
    bool cancelled = false;  // Ctrl-C
    std::string status;      // the status line
    // The same sections scanned again in place, checked and filtered alike.
    std::function<std::vector<RegistryProblem>()> scanAgain;
};
// A scan of the sections named in sectionText ("3,4,25"), or of those ticked
// in the program when none are given, through the pane's controller; Ctrl-C
// cancels it. Throws CliError for bad or missing sections.
CliScanResult scanForCommand(Machine& machine, TOptionsSetting& settings,
                             const std::string& sectionText, bool sectionsGiven);

// A problem row as `--json regscan` and `--json fix` print it.
nlohmann::json problemJson(const RegistryProblem& row);

void addRegscanCommands(CLI::App& app, CliContext& ctx);

}  // namespace brisko::cli
