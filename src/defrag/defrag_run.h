#pragma once
// The defrag's steps around the analysis worker, shared by the Defrag pane and
// the CLI: whether an analysis may start, what a finished one shows, putting
// the copies in place at the next restart, and removing unused copies.
#include <functional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "core/machine/registry_api.h"
#include "defrag/hive_list.h"
#include "defrag/hive_sizes.h"
#include "defrag/scan_defrag_task_thread.h"

namespace brisko {

class FileApi;
class Machine;
class Prompter;

inline constexpr std::string_view kCannotAnalyzeNow =
    "Can not analyze the registry now! Please try again later.";
inline constexpr std::string_view kFailedToDefrag = "Failed to defrag the registry";
inline constexpr std::string_view kRestartQuestion =
    "You must restart your computer for the changes to take effect. Click the YES button to "
    "restart your computer now.";
inline constexpr std::string_view kUnsupportedWindows =
    "The software does not support the current Windows system!";

// True when a copy is held open (a replacement waits for the restart).
bool HiveCopyInUse(FileApi& files, std::string_view path);
bool AnyHiveCopyInUse(FileApi& files, const std::vector<HiveEntry>& hives);

struct AnalysisResult {
    bool completed = false;  // every hive was handled ("Finish")
    DefragSizes sizes;       // valid when completed
    std::vector<HiveCopyOutcome> outcomes;
    std::vector<std::string> problems;        // "hive: why" for each hive left out
    std::vector<std::string> alreadyCompact;  // hives whose copy would not be smaller
    bool usable() const { return completed; }
};

// What a closed dialog leaves: the worker's status line and outcomes.
AnalysisResult FinishAnalysis(Machine& machine, const std::vector<HiveEntry>& hives,
                              const std::string& statusLine, std::vector<HiveCopyOutcome> outcomes);

// The whole analysis without a dialog (CLI, unattended runs, tests):
// `progress(copied, total, nextHive)` after each hive.
AnalysisResult RunDefragAnalysis(
    Machine& machine, const std::vector<HiveEntry>& hives, bool isWow64,
    const std::function<void(size_t, size_t, const std::string&)>& progress = {},
    std::stop_token stop = {});

// Deletes the copies that exist and are not held for a replacement.
void DeleteHiveCopies(Machine& machine, const std::vector<HiveEntry>& hives);

// The root and subkey RegReplaceKey is given for a hive name:
// \REGISTRY\USER\.DEFAULT -> HKEY_USERS, ".DEFAULT".
struct ReplaceTarget {
    RootKey root = RootKey::Users;
    std::string subkey;
    std::string keyPath() const;  // "\REGISTRY\USER\.DEFAULT"
};
ReplaceTarget ParseReplaceTarget(std::string_view hiveName);

// Deletes an old backup and schedules the copy to replace the hive at the
// next start, the present file becoming the backup.
bool ReplaceHive(Machine& machine, std::string_view hiveName, std::string_view newFile,
                 std::string_view oldFile);

struct DefragOutcome {
    size_t scheduled = 0;
    std::vector<std::string> failures;  // the messages shown, one per hive
};

// "Defrag Registry" after the restore point: every hive whose copy was made
// and still equals its hive is scheduled; each other one gets "Failed to
// defrag the registry" and its name (and why, where known).
DefragOutcome ScheduleHiveReplacements(Machine& machine, const std::vector<HiveEntry>& hives,
                                       const std::vector<HiveCopyOutcome>& outcomes,
                                       Prompter& prompter);

}  // namespace brisko

namespace brisko {

// "/Regscan FILE": the section "Scan Result" of the INI file, erased and
// written with the four totals as shown (empty texts when the analysis did
// not complete) and the time. A Windows path ("C:\...") names a file of the
// machine; any other path a file of the computer the program runs on.
bool WriteScanResult(Machine& machine, const std::string& iniFile, const DefragSizes* sizes,
                     std::string* why = nullptr);

}  // namespace brisko
