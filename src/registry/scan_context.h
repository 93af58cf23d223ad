#pragma once
// What every registry scanner works with: the machine, the drives whose
// references are tested, the Windows flavour, the stop signal, the two
// displays of the Registry pane and the problem list. A scanner is a function
// of this context; the scan worker runs them by section code.
#include <array>
#include <chrono>
#include <functional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "core/machine/registry_view.h"
#include "registry/registry_problem.h"

namespace brisko {

class Machine;
class FileApi;

// What the worker writes into the Registry pane. Called on the worker thread:
// implementations guard or marshal to the UI thread themselves.
class ScanDisplay {
  public:
    virtual ~ScanDisplay() = default;
    virtual void showTitle(std::string_view text) = 0;  // the section title label
    virtual void showKey(std::string_view text) = 0;    // the one-line key display
    virtual void addProblem(RegistryProblem row) = 0;   // appends a row to the list
};

// A display that only keeps what it is given; for tests and for callers that
// read the result after the scan (not thread-safe: one thread at a time).
class ProblemCollector : public ScanDisplay {
  public:
    void showTitle(std::string_view text) override { title = std::string(text); }
    void showKey(std::string_view text) override { key = std::string(text); }
    void addProblem(RegistryProblem row) override { rows.push_back(std::move(row)); }

    std::string title, key;
    std::vector<RegistryProblem> rows;
};

// Fixed when a scan is created.
struct ScanEnvironment {
    // Letters (lower case, possibly repeated) whose references are tested.
    std::string CheckedDrives;
    bool floppyAReady = false;  // A:\ holds a readable volume (probed only when
    bool floppyBReady = false;  // removable media are not ignored)
    // The IncludeRemoveMedia setting: true ignores missing files on removable drives.
    bool ignoreRemovableMedia = true;
    bool IsWow64 = false;
    int windowsVersionCode = 10;
    bool isWin7or8 = false;  // code 12 or 13
    bool isWin8 = false;     // code 13
};

// CheckedDrives from the drive kinds: with removable media ignored, the fixed
// disks c..z; otherwise "ab" and every letter c..z.
std::string buildCheckedDrives(FileApi& files, bool ignoreRemovableMedia);
// Everything a scan needs from the machine and the settings. Probes A:\ and
// B:\ only when removable media are not ignored.
ScanEnvironment makeScanEnvironment(Machine& machine, bool ignoreRemovableMedia,
                                    int windowsVersionCode);

class ScanContext {
  public:
    ScanContext(Machine& machine, ScanEnvironment env, std::vector<int> sections,
                ScanDisplay& display, std::stop_token stop = {});
    ScanContext(const ScanContext&) = delete;
    ScanContext& operator=(const ScanContext&) = delete;

    Machine& machine;
    const ScanEnvironment env;
    // Shorthands for the fields scanners read most.
    const std::string& CheckedDrives;
    const bool IsWow64;
    const bool isWin7or8;
    const bool isWin8;
    const int windowsVersionCode;
    const bool floppyAReady;
    const bool floppyBReady;
    const bool ignoreRemovableMedia;

    // The registry as the program sees it: on 64-bit Windows the 32-bit
    // view, as Windows gives it to a 32-bit program. Scanners open every key
    // through it; machine.registry() is the system's own view.
    RegistryApi& registry() { return registry_; }

    // The selected section codes, in run order.
    const std::vector<int>& sections() const { return sections_; }
    bool sectionSelected(int code) const;

    // The worker was told to stop: scanners poll this in every key loop.
    bool terminated() const { return stop_.stop_requested(); }
    std::stop_token stopToken() const { return stop_; }

    // Title label text.
    void showStatus(std::string_view text);
    // The path about to be examined. Shown at most every few milliseconds, so
    // calling it for every key of a hive walk costs next to nothing.
    void showKey(std::string_view path);
    void AddProblem(RegistryProblem row);
    void AddProblem(std::string_view problem, std::string_view data, std::string_view keyPath,
                    ProblemKind kind);
    size_t problemsAdded() const { return added_; }

    // p[0], upper-cased, is one of CheckedDrives and p[1..2] is ":\".
    bool onCheckedDrive(std::string_view p) const;
    // Removable media not ignored and p starts "A:\" (or "B:\") while that
    // drive holds no readable volume: a problem without touching the drive.
    bool noMediaRule(std::string_view p) const;

  private:
    ViewRegistry registry_;
    std::vector<int> sections_;
    ScanDisplay& display_;
    std::stop_token stop_;
    std::string upperDrives_;
    std::chrono::steady_clock::time_point lastKeyShown_{};
    unsigned keyCalls_ = 0;
    size_t added_ = 0;
};

// A scanner runs one section on the worker thread. It may throw; the worker
// then notes the failure and goes on with the next section.
using ScannerFn = std::function<void(ScanContext&)>;

// Section code (3..25) to scanner. Codes without a scanner run nothing.
class ScannerTable {
  public:
    static constexpr int kMaxCode = 25;
    void add(int code, ScannerFn fn);  // replaces; codes outside 1..25 are ignored
    const ScannerFn* find(int code) const;
    bool has(int code) const { return find(code) != nullptr; }

  private:
    std::array<ScannerFn, kMaxCode + 1> fns_{};
};

// Registration of the scanners, each family in its own unit:
// file references (sections 7, 8, 9, 12, 13, 14, 15, 17, 18, 21, 22, 24) and
// COM, file types and key structure (3 to 6, 10, 11, 16, 19, 20, 23, 25).
void addFileReferenceScanners(ScannerTable& table);
void addComScanners(ScannerTable& table);
// Both families; built once.
const ScannerTable& defaultScannerTable();

// Texts of a section: the title shown while it runs (empty: the previous text
// stays) and the problem text of its rows. Empty for codes 1, 2 and unknown codes.
struct ScanSectionText {
    int code;
    std::string_view status;
    std::string_view problem;
};
const ScanSectionText* scanSectionText(int code);
std::string_view sectionStatusText(int code);
std::string_view sectionProblemText(int code);

}  // namespace brisko
