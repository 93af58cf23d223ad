#include "registry/scan_context.h"

#include <algorithm>

#include "base/text.h"
#include "core/machine/machine.h"

namespace brisko {

namespace {
// How often the key display may change; a hive walk passes thousands of keys
// a second and nobody can read them anyway.
constexpr auto kKeyDisplayInterval = std::chrono::milliseconds(40);

const ScanSectionText kSectionTexts[] = {
    {3, "Scanning: HKEY_CLASSES_ROOT", "Non-existent File or Folder"},
    {4, "Scanning: HKEY_CURRENT_USER", "Non-existent File or Folder"},
    {5, "Scanning: HKEY_LOCAL_MACHINE", "Non-existent File or Folder"},
    {6, "Scanning: HKEY_USERS", "Non-existent File or Folder"},
    {7, "Scanning: Shared DLLs", "Non-existent Shared Dlls"},
    {8, "Scanning: Software Locations", "Software Locations Issue"},
    {9, "Scanning: Start Menu", "Old Start Menu Key"},
    {10, "Scanning: Software Locations", "Obsolete Software Entry"},
    {11, "Scanning: File Extensions", "Useless File Extension"},
    {12, "Scanning: Fonts Sections", "Invalid Windows Fonts"},
    {13, "Scanning: Invalid Help Files", "Invalid Help Files Item"},
    {14, "Scanning: Startup Programs", "Non-existent Startup Programs"},
    {15, "Scanning: Add/Remove Programs", "Invalid Add/Remove Programs"},
    {16, "Scanning: Custom Controls", "Custom Controls Issue"},
    {17, "Scanning: Windows Services", "Windows Service Issue"},
    {18, "Scanning: Shortcuts", "Missing ShortCut reference"},
    {19, "Scanning: Sound and Appevents", "Non-existent Sound File"},
    {20, "Scanning: Invalid ActiveX", "ActiveX Issue"},
    {21, "Scanning: Installer", "Installer Refrence Issue"},
    {22, "", "Open with Application Issue"},
    {23, "Scanning: Empty Uninstaller Entry", "Empty Uninstall Entries"},
    {24, "Scanning: MRU and History Lists", "Non-existent MRU and History Lists file"},
    {25, "Scanning: Empty Registry Keys", "Empty Registry Keys"},
};
}  // namespace

const ScanSectionText* scanSectionText(int code) {
    for (const auto& t : kSectionTexts)
        if (t.code == code) return &t;
    return nullptr;
}

std::string_view sectionStatusText(int code) {
    auto* t = scanSectionText(code);
    return t ? t->status : std::string_view{};
}

std::string_view sectionProblemText(int code) {
    auto* t = scanSectionText(code);
    return t ? t->problem : std::string_view{};
}

std::string buildCheckedDrives(FileApi& files, bool ignoreRemovableMedia) {
    std::string drives;
    if (!ignoreRemovableMedia) drives = "ab";
    for (char c = 'c'; c <= 'z'; ++c) {
        if (!ignoreRemovableMedia) {
            drives.push_back(c);
            continue;
        }
        std::string root{c, ':', '\\'};
        if (files.driveType(root) == DriveKind::Fixed) drives.push_back(c);
    }
    return drives;
}

ScanEnvironment makeScanEnvironment(Machine& machine, bool ignoreRemovableMedia,
                                    int windowsVersionCode) {
    ScanEnvironment env;
    env.ignoreRemovableMedia = ignoreRemovableMedia;
    env.CheckedDrives = buildCheckedDrives(machine.files(), ignoreRemovableMedia);
    if (!ignoreRemovableMedia) {
        // An absent drive answers "no volume"; the backend never asks for a disk.
        env.floppyAReady = machine.files().volumePresent("a:\\");
        env.floppyBReady = machine.files().volumePresent("b:\\");
    }
    env.IsWow64 = machine.isWow64();
    env.windowsVersionCode = windowsVersionCode;
    env.isWin7or8 = windowsVersionCode == 12 || windowsVersionCode == 13;
    env.isWin8 = windowsVersionCode == 13;
    return env;
}

ScanContext::ScanContext(Machine& m, ScanEnvironment e, std::vector<int> sections,
                         ScanDisplay& display, std::stop_token stop)
    : machine(m),
      env(std::move(e)),
      CheckedDrives(env.CheckedDrives),
      IsWow64(env.IsWow64),
      isWin7or8(env.isWin7or8),
      isWin8(env.isWin8),
      windowsVersionCode(env.windowsVersionCode),
      floppyAReady(env.floppyAReady),
      floppyBReady(env.floppyBReady),
      ignoreRemovableMedia(env.ignoreRemovableMedia),
      registry_(m.registry(), programView(env.IsWow64)),
      sections_(std::move(sections)),
      display_(display),
      stop_(std::move(stop)),
      upperDrives_(upperCase(env.CheckedDrives)) {}

bool ScanContext::sectionSelected(int code) const {
    return std::find(sections_.begin(), sections_.end(), code) != sections_.end();
}

void ScanContext::showStatus(std::string_view text) {
    display_.showTitle(text);
}

void ScanContext::showKey(std::string_view path) {
    // Walks call this for every key: the clock is asked only every few calls.
    if (keyCalls_++ % 8 != 0) return;
    auto now = std::chrono::steady_clock::now();
    if (now - lastKeyShown_ < kKeyDisplayInterval) return;
    lastKeyShown_ = now;
    display_.showKey(path);
}

void ScanContext::AddProblem(RegistryProblem row) {
    ++added_;
    display_.addProblem(std::move(row));
}

void ScanContext::AddProblem(std::string_view problem, std::string_view data,
                             std::string_view keyPath, ProblemKind kind) {
    AddProblem(RegistryProblem{false, std::string(problem), std::string(data), std::string(keyPath),
                               kind});
}

bool ScanContext::onCheckedDrive(std::string_view p) const {
    if (p.size() < 3 || p[1] != ':' || p[2] != '\\') return false;
    char c = p[0];
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    return upperDrives_.find(c) != std::string::npos;
}

bool ScanContext::noMediaRule(std::string_view p) const {
    if (ignoreRemovableMedia || p.size() < 3 || p[1] != ':' || p[2] != '\\') return false;
    char c = p[0];
    if (c == 'A' || c == 'a') return !floppyAReady;
    if (c == 'B' || c == 'b') return !floppyBReady;
    return false;
}

void ScannerTable::add(int code, ScannerFn fn) {
    if (code < 1 || code > kMaxCode) return;
    fns_[size_t(code)] = std::move(fn);
}

const ScannerFn* ScannerTable::find(int code) const {
    if (code < 1 || code > kMaxCode || !fns_[size_t(code)]) return nullptr;
    return &fns_[size_t(code)];
}

}  // namespace brisko
