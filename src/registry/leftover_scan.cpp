#include "registry/leftover_scan.h"

#include <algorithm>
#include <stop_token>

#include "base/text.h"
#include "core/machine/machine.h"
#include "core/machine/registry_view.h"
#include "core/settings.h"
#include "registry/problem_filter.h"
#include "registry/problem_list.h"
#include "registry/scan_task_thread.h"

namespace brisko {

namespace {

// The scan in place has no window to tell about its sections.
class NoTarget : public MessageTarget {
  public:
    void post(uint32_t, uintptr_t, intptr_t) override {}
};

bool sameRow(const RegistryProblem& a, const RegistryProblem& b) {
    return a.kind == b.kind && a.keyPath == b.keyPath && a.data == b.data && a.problem == b.problem;
}

std::vector<std::string> spellings(const KeyIdentity& identity, const std::string& key) {
    std::vector<std::string> out;
    for (auto& f : identity.forms(upperCase(key))) out.push_back(std::move(f.text));
    return out;
}

}  // namespace

std::vector<RegistryProblem> scanInPlace(Machine& machine, const ScanEnvironment& env,
                                         const std::vector<int>& sections,
                                         const TOptionsSetting& settings, int windowsVersionCode,
                                         const ScannerTable& scanners) {
    ProblemCollector collector;
    NoTarget target;
    TScanTaskThread scan(machine, env, sections, scanners, collector, target);
    scan.Execute(std::stop_token{});
    std::vector<RegistryProblem> rows = std::move(collector.rows);
    setAllChecked(rows, true);
    if (!rows.empty()) {
        ViewRegistry registry(machine.registry(), programView(machine.isWow64()));
        FilterProblems(rows, settings.IgnoreKeyList, settings.IgnoreValueList, windowsVersionCode,
                       KeyIdentity::of(machine.currentUser().sid, registry));
    }
    return rows;
}

bool keyAtOrAbove(std::string_view ancestor, std::string_view key) {
    if (!key.starts_with(ancestor)) return false;
    return key.size() == ancestor.size() || key[ancestor.size()] == '\\';
}

std::string rowTargetKey(const RegistryProblem& row) {
    std::string path = row.keyPath;
    switch (row.kind) {
        case pkFile:
            return {};
        case pkValue: {
            size_t last = path.rfind('\\');
            return last == std::string::npos ? std::string{} : path.substr(0, last);
        }
        case pkDataSubkey:
            if (!path.empty() && path.back() == '\\') path.pop_back();
            return path + "\\" + row.data;
        default:
            if (!path.empty() && path.back() == '\\') path.pop_back();
            return path;
    }
}

std::vector<RegistryProblem> leftoverRows(const std::vector<RegistryProblem>& fresh,
                                          const std::vector<RegistryProblem>& known,
                                          const std::vector<std::string>& changedKeys,
                                          const KeyIdentity& identity) {
    std::vector<std::vector<std::string>> changed;
    changed.reserve(changedKeys.size());
    for (const auto& k : changedKeys) changed.push_back(spellings(identity, k));
    std::vector<RegistryProblem> out;
    for (const auto& row : fresh) {
        if (std::any_of(known.begin(), known.end(),
                        [&](const RegistryProblem& k) { return sameRow(k, row); }))
            continue;
        std::string target = rowTargetKey(row);
        if (target.empty()) continue;
        const auto mine = spellings(identity, target);
        bool madeByFix = std::any_of(changed.begin(), changed.end(), [&](const auto& theirs) {
            for (const auto& a : mine)
                for (const auto& b : theirs)
                    if (keyAtOrAbove(a, b)) return true;
            return false;
        });
        if (madeByFix) out.push_back(row);
    }
    return out;
}

}  // namespace brisko
