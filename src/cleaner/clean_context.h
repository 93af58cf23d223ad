#pragma once
// What an item routine works with while the clean worker runs it: the machine,
// the settings, the run mode, the log, the user, the stop request, and the
// per-item accumulators the worker sums up after each item. Item routines
// (src/cleaner/items/*) are written against this and the removal primitives
// (removal.h), and are found through an ItemTable by their log caption.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "cleaner/place_set.h"
#include "core/settings.h"

namespace brisko {

class Machine;
class Prompter;
class MessageTarget;
class CleanLogSink;
class FolderGuards;

// RunMode values. Everything that removes first tests for kRunTest and then
// only counts.
enum RunModeValue : int {
    kRunCleanPass = 0,     // the removing pass after the hidden count of a Clean button run
    kRunUnattended = 1,    // schedule, "/Auto", "/Clear", end of logon
    kRunTest = 2,          // count and log only
    kRunCleanRequest = 3,  // the Clean button; becomes a hidden Test run, then a clean pass
};

inline constexpr std::string_view kTestPrefix = "Test: ";
inline constexpr std::string_view kCleanPrefix = "Clean: ";
inline constexpr std::string_view kWillBeRemoved = "will be removed";
inline constexpr std::string_view kToBeRemoved = "to be removed";

// What the worker hands to its routines. One per run, owned by the worker and
// used only on the worker's thread (the log, the prompter and the message target
// are the thread-safe doors to the window).
class CleanContext {
  public:
    CleanContext(Machine& machine, const TOptionsSetting& settings, int runMode, Prompter& prompter,
                 CleanLogSink& log, MessageTarget* target = nullptr, std::stop_token stop = {});
    ~CleanContext();

    Machine& machine;
    // A copy taken when the run starts; only FastScan may change during a run
    // (the "Fast Mode" box), and that one is read through fastScan().
    const TOptionsSetting settings;
    const int RunMode;
    Prompter& prompter;
    CleanLogSink& log;
    MessageTarget* const target;  // receives WM_CLEAN_PROGRESS; may be null
    std::stop_token stop;

    // The hidden count before the removing pass of a Clean: it shows the user
    // nothing, so that each message of the Clean comes once.
    bool CountPass = false;

    // Run-wide texts, chosen from RunMode.
    const std::string RunPrefix;    // "Test: " or "Clean: "
    const std::string RemovedWord;  // "will be removed" or "to be removed"

    // The current job, set by the worker before it calls the routine.
    int CurrentIndex = -1;
    std::string LogCaption;

    // Per-item accumulators, reset before every item; the routine leaves them set.
    int ItemCount = 0;
    int64_t ItemBytes = 0;
    std::string ItemSizeText = "0";
    std::string ScratchPath;  // free for the Internet Explorer routines
    int ScrollCounter = 0;
    std::chrono::steady_clock::time_point LastProgressTime{};

    // Entries and bytes of the finished items.
    int64_t TotalCount = 0;
    int64_t TotalBytes = 0;
    // Files held open by another program, left for the next restart: not
    // among the removed ones.
    int64_t ScheduledAtRestart = 0;

    bool isTestRun() const { return RunMode == kRunTest; }
    bool isUnattended() const { return RunMode == kRunUnattended; }
    bool stopRequested() const { return stop.stop_requested(); }
    // Per-entry log lines are written only while this is off.
    bool fastScan() const;
    // The live "Fast Mode" flag of the window; without one, settings.FastScan.
    void setFastScanSource(const std::atomic<bool>* live) { liveFastScan_ = live; }

    // Adds bytes to ItemBytes and sets ItemSizeText from the sum.
    void addItemBytes(int64_t bytes);
    void setItemBytes(int64_t bytes);

    // Appends one line to the log.
    void logLine(std::string_view line);
    void scrollLog();
    // A per-entry file line, RunPrefix + "deleting " + path, unless Fast Mode is
    // on; the log scrolls every 50 (Test) or 25 (Clean) such lines.
    void logFileLine(std::string_view path);
    // RunPrefix + "deleting registry key " + root\path; the log scrolls after it.
    void logKeyLine(std::string_view rootName, std::string_view subPath);
    void logValueLine(std::string_view rootName, std::string_view subPath,
                      std::string_view valueName);

    // After a counted file: WM_CLEAN_PROGRESS with TotalCount + itemCounter when
    // more than 2 seconds have passed since the last one.
    void postProgress(int64_t itemCounter);
    // Resets the per-item accumulators (the worker does this before each item).
    void resetItem();

    // A question to the user (Yes/No boxes and the like); answers as the prompter does.
    int ask(std::string_view text, unsigned flags);

    // The documents folder (CSIDL 5) with a trailing backslash, looked up once
    // per run; empty when the machine has none.
    const std::string& documentsFolder();
    // The drive roots and the documents and pictures folders, by place,
    // looked up once per run.
    const FolderGuards& guards();

    // What a Test run has counted so far, so that a later item of the same
    // run does not count it again: the Clean would find it gone ("Visited URL
    // History" takes Chrome's History file whole, and "Download History" then
    // finds nothing). Every First* call answers true once for its entry and
    // records it; a removing run answers true always.
    // A file, by place (a path that names nothing is always new); `listed`
    // is its place as a folder listing gave it, when it did.
    bool firstFile(std::string_view path, const PlaceId* listed = nullptr);
    // The rows of a database table, by the place of its file: none is new
    // once the file or the whole table was counted; allRows records the table.
    bool firstTable(std::string_view dbPath, std::string_view table, bool allRows);
    // A registry key with its subtree (keyPath: root name, "\", sub-path),
    // or one value of a key. Nothing below a counted key is new.
    bool firstKey(std::string_view keyPath);
    bool firstValue(std::string_view keyPath, std::string_view valueName);

  private:
    bool keyCounted(const std::string& upperKey) const;

    const std::atomic<bool>* liveFastScan_ = nullptr;
    std::optional<std::string> documents_;
    std::unique_ptr<FolderGuards> guards_;
    PlaceSet countedFiles_;
    std::set<std::string> countedTables_, countedKeys_, countedValues_;
};

// The routine of one clean item. It reads the machine through ctx, counts (Test
// run) or removes (other runs) through the removal primitives, and leaves
// ItemCount, ItemBytes and ItemSizeText set.
using ItemRoutine = std::function<void(CleanContext& ctx)>;
// The data-file item routine: runs the section named by logCaption of the list
// file fileName ("Custom.dat" or "apls.dat") in the program's folder.
using DataFileRoutine =
    std::function<void(CleanContext& ctx, std::string_view fileName, std::string_view logCaption)>;

inline constexpr std::string_view kCustomListsMarker = "Custom Lists -";
inline constexpr std::string_view kCustomDataFile = "Custom.dat";
inline constexpr std::string_view kAppsDataFile = "apls.dat";

// Log caption -> routine. Captions are compared exactly (case-sensitive).
class ItemTable {
  public:
    // A later add for the same caption replaces the earlier one.
    void add(std::string logCaption, ItemRoutine routine);
    const ItemRoutine* find(std::string_view logCaption) const;
    bool contains(std::string_view logCaption) const { return find(logCaption) != nullptr; }
    std::vector<std::string> captions() const;

    // Captions containing "Custom Lists -" and captions without a routine of their
    // own go to this routine (with "Custom.dat" and "apls.dat"). Without one they
    // count nothing.
    void setDataFileRoutine(DataFileRoutine routine) { dataFile_ = std::move(routine); }
    const DataFileRoutine& dataFileRoutine() const { return dataFile_; }

  private:
    std::map<std::string, ItemRoutine, std::less<>> items_;
    DataFileRoutine dataFile_;
};

// What the worker runs for a caption: the custom-list test first, then the
// table, then the data-file fallback with "apls.dat".
struct Dispatch {
    enum Kind { Routine, DataFile } kind = Routine;
    const ItemRoutine* routine = nullptr;  // kind Routine
    std::string_view fileName;             // kind DataFile
};
Dispatch dispatchCaption(const ItemTable& table, std::string_view logCaption);

// Every item family adds its routines and the data-file routine here. Defined
// in src/cleaner/items/item_families.cpp, which calls each family's add function
// (addWindowsItems(table), ...); a new family adds one line there.
void addItemFamilies(ItemTable& table);

// The table of every built-in item, built once on first use.
const ItemTable& builtinItemTable();

}  // namespace brisko
