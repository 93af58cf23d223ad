#include "app/cli/cli_context.h"

#include <iostream>
#include <map>

#include "core/machine/image/demo_machine.h"

namespace brisko::cli {

namespace {
std::map<CLI::App*, CommandRunner>& runners() {
    static std::map<CLI::App*, CommandRunner> r;
    return r;
}
}  // namespace

void setRunner(CLI::App* sub, CommandRunner runner) { runners()[sub] = std::move(runner); }

CommandRunner findRunner(CLI::App& app) {
    for (auto* sub : app.get_subcommands()) {
        if (auto r = findRunner(*sub)) return r;
        auto it = runners().find(sub);
        if (it != runners().end()) return it->second;
    }
    return {};
}

ImageMachine& CliContext::machine() {
    if (machine_) return *machine_;
    try {
        auto folder = chooseMachineFolder(machineDir);
        machine_ = std::make_unique<ImageMachine>(folder);
    } catch (const MachineOpenError& e) {
        throw CliError{kExitNoMachine, e.message};
    } catch (const std::exception& e) {
        throw CliError{kExitNoMachine, e.what()};
    }
    for (const auto& w : machine_->warnings()) std::cerr << "brisko: warning: " << w << "\n";
    return *machine_;
}

void CliContext::commit() {
    if (machine_ && !machine_->registry().commit())
        throw CliError{kExitFailure,
                       "The registry changes could not be written to the hive files; the hives "
                       "are unchanged."};
}

void CliContext::printJson(const nlohmann::json& j) const { std::cout << j.dump(2) << "\n"; }

}  // namespace brisko::cli
