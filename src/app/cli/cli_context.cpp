#include "app/cli/cli_context.h"

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <map>

#ifdef _WIN32
#include "core/machine/win32/win32_machine.h"
#else
#include "core/machine/image/image_registry.h"
#include "core/machine/image/machine_lock.h"
#include "demo/demo_machine.h"
#endif

namespace brisko::cli {

namespace {
std::map<CLI::App*, CommandRunner>& runners() {
    static std::map<CLI::App*, CommandRunner> r;
    return r;
}
}  // namespace

void setRunner(CLI::App* sub, CommandRunner runner) {
    runners()[sub] = std::move(runner);
}

CommandRunner findRunner(CLI::App& app) {
    for (auto* sub : app.get_subcommands()) {
        if (auto r = findRunner(*sub)) return r;
        auto it = runners().find(sub);
        if (it != runners().end()) return it->second;
    }
    return {};
}

#ifdef _WIN32
CliMachine& CliContext::machine() {
    return open(false);
}

CliMachine& CliContext::machineForWriting() {
    return open(true);
}

// The Windows build serves the running system; image folders need the image
// backend, which the Linux build has.
CliMachine& CliContext::open(bool) {
    if (machine_) return *machine_;
    if (!machineDir.empty())
        throw CliError{kExitNoMachine,
                       "This build works on the running Windows only; open the machine folder \"" +
                           machineDir + "\" with the Linux build of brisko."};
    machine_ = std::make_unique<win32::Win32Machine>();
    return *machine_;
}
#else
namespace {
std::chrono::milliseconds lockWait() {
    const char* env = std::getenv("BRISKO_LOCK_WAIT");
    if (!env || !*env) return kMachineLockWait;
    char* end = nullptr;
    double seconds = std::strtod(env, &end);
    if (*end || !(seconds >= 0) || seconds > 86400) return kMachineLockWait;
    return std::chrono::milliseconds(int64_t(seconds * 1000));
}
}  // namespace

CliMachine& CliContext::machine() {
    return open(MachineAccess::Read);
}

CliMachine& CliContext::machineForWriting() {
    return open(MachineAccess::Write);
}

CliMachine& CliContext::open(MachineAccess access) {
    if (machine_) return *machine_;
    try {
        auto folder = chooseMachineFolder(machineDir);
        machine_ = std::make_unique<ImageMachine>(folder, access, lockWait());
    } catch (const MachineOpenError& e) {
        throw CliError{e.busy ? kExitFailure : kExitNoMachine, e.message};
    } catch (const std::exception& e) {
        throw CliError{kExitNoMachine, e.what()};
    }
    machine_->imageRegistry().setLockWait(lockWait());
    for (const auto& w : machine_->warnings()) std::cerr << "brisko: warning: " << w << "\n";
    return *machine_;
}

#endif

void CliContext::keepRefusals() {
    if (!machine_) return;
    for (auto& r : machine_->registry().refusedEdits())
        if (std::find(refused_.begin(), refused_.end(), r) == refused_.end())
            refused_.push_back(std::move(r));
}

void CliContext::commit() {
    if (!machine_) return;
    keepRefusals();
    if (!machine_->registry().commit()) {
#ifdef _WIN32
        std::string why;
#else
        auto why = machine_->imageRegistry().lastCommitError();
#endif
        throw CliError{kExitFailure, why.empty()
                                         ? "The registry changes could not be written to the hive "
                                           "files; the hives are unchanged."
                                         : why};
    }
}

void CliContext::discard() {
    if (!machine_) return;
    keepRefusals();
    machine_->registry().discard();
}

int CliContext::finish(int code) {
    if (!machine_) return code;
    keepRefusals();
    if (!refused_.empty()) {
        discard();
        for (const auto& r : refused_) std::cerr << "brisko: " << r << "\n";
        return code == kExitOk ? kExitFailure : code;
    }
    if (code != kExitOk) {
        discard();
        return code;
    }
    commit();
    return code;
}

void CliContext::printJson(const nlohmann::json& j) const {
    std::cout << j.dump(2) << "\n";
}

}  // namespace brisko::cli
