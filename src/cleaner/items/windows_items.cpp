// The "Windows" group of the cleaner.
#include "cleaner/items/windows_items.h"

#include <algorithm>
#include <array>

#include "base/text.h"
#include "cleaner/clean_context.h"
#include "cleaner/folder_guards.h"
#include "cleaner/removal.h"
#include "core/machine/machine.h"

namespace brisko {

namespace {

constexpr std::string_view kExplorer = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer";

// INFO2 of a Windows 9x to XP bin: a 20-byte header (version, two reserved
// words, record size, total size of the deleted files), then one record per file.
constexpr size_t kInfo2HeaderSize = 20;
constexpr int64_t kMaxInfo2Size = 64 * 1024 * 1024;

std::string explorerKey(std::string_view sub) {
    return std::string(kExplorer) + "\\" + std::string(sub);
}

bool isDotEntry(const std::string& name) {
    return name == "." || name == "..";
}

// Roots of the fixed drives, "C:\" to "Z:\", in letter order.
std::vector<std::string> fixedDriveRoots(Machine& machine) {
    std::vector<std::string> roots;
    auto& files = machine.files();
    for (char letter = 'C'; letter <= 'Z'; ++letter) {
        std::string root{letter, ':', '\\'};
        if (files.driveType(root) == DriveKind::Fixed) roots.push_back(root);
    }
    return roots;
}

// The bin's own files, which are not deleted items.
bool isBinIndexFile(const std::string& name) {
    std::string lower = lowerCase(name);
    return lower == "desktop.ini" || lower == "info2";
}

// A SID from the machine becomes a folder name; one that could name another
// folder is not used.
bool usableSid(const std::string& sid) {
    return !sid.empty() && sid != "." && sid != ".." &&
           sid.find_first_of("\\/:*?\"<>|") == std::string::npos;
}

void recentDocuments(CleanContext& ctx) {
    ctx.ItemCount = DeleteUserKey(ctx, explorerKey("RecentDocs"));
    // Ending the browser session is a change to the running system, so a Test
    // run leaves it alone.
    if (!ctx.isTestRun())
        if (auto* cache = ctx.machine.urlCache()) cache->endBrowserSession();
    std::string recent = ctx.machine.specialFolder(CSIDL_RECENT);
    if (!recent.empty())
        ctx.addItemBytes(DeleteMatchingFiles(ctx, recent, "*.*", ctx.ItemCount, false));
}

void startRun(CleanContext& ctx) {
    ctx.ItemCount = DeleteUserKey(ctx, explorerKey("RunMRU"));
}

void searchAssistant(CleanContext& ctx) {
    ctx.ItemCount = DeleteUserKey(ctx, "Software\\Microsoft\\Search Assistant\\ACMru");
}

// Files of one bin folder and its subfolders, as the bin walk counts them.
int64_t walkBinFolder(CleanContext& ctx, const std::string& folder, bool log) {
    auto entries = ctx.machine.files().findFiles(folder, "*");
    if (!entries) return 0;
    int64_t bytes = 0;
    for (const auto& e : *entries) {
        if (ctx.stopRequested()) break;
        const std::string path = folder + "\\" + e.name;
        if (e.isDirectory()) {
            if (isDotEntry(e.name)) continue;
            if (!e.isLink())
                bytes += WipeFolder(ctx, path, true, log, "", ctx.ItemCount);
            else if (!ctx.isTestRun())
                ctx.machine.files().removeDirectory(path);  // the link, not where it leads
            continue;
        }
        if (isBinIndexFile(e.name)) continue;
        if (DeleteOneFile(ctx, path, log)) {
            ++ctx.ItemCount;
            bytes += static_cast<int64_t>(e.size);
            ctx.postProgress(ctx.ItemCount);
        }
    }
    return bytes;
}

void recycleBin(CleanContext& ctx) {
    const bool log = ctx.settings.ShowLogRecycleBin;
    if (!ctx.isTestRun() && !log) ctx.logLine("Clearing, please wait...");
    for (const auto& folder : recycleBinFolders(ctx.machine)) {
        if (ctx.stopRequested()) return;
        ctx.addItemBytes(walkBinFolder(ctx, folder, log));
    }
    if (!ctx.isTestRun() && !ctx.stopRequested()) emptyRecycleBins(ctx);
}

void temporaryFiles(CleanContext& ctx) {
    std::string temp = ctx.machine.tempPath();
    if (temp.empty()) return;
    temp = includeTrailingBackslash(temp);
    // A temporary folder that is the Windows, system, Program Files or profile
    // folder (or holds one) is a broken TEMP setting: Windows falls back to the
    // profile or the Windows folder when TMP and TEMP are unusable, and wiping
    // it would take the system or the user's files with it.
    if (isSystemPlace(ctx.machine, temp)) return;
    ctx.addItemBytes(WipeFolder(ctx, temp, false, true, "", ctx.ItemCount));
}

void clipboard(CleanContext& ctx) {
    if (ctx.isTestRun()) return;
    // Held open by another program: Windows refuses, and so the item does nothing.
    if (auto* cb = ctx.machine.clipboard()) cb->empty();
}

void memoryDumps(CleanContext& ctx) {
    auto& files = ctx.machine.files();
    const std::string windows = includeTrailingBackslash(ctx.machine.windowsDirectory());
    int64_t bytes = 0;
    // Windows writes the full dump as MEMORY.DMP; the exact-name mask would
    // miss it unless it is given the name as it is on disk.
    if (auto entries = files.findFiles(windows, "*")) {
        for (const auto& e : *entries)
            if (!e.isDirectory() && equalsNoCase(e.name, "memory.dmp"))
                bytes += DeleteMatchingFiles(ctx, windows, e.name, ctx.ItemCount, false);
    }
    bytes += DeleteMatchingFiles(ctx, windows + "MiniDump", "*.dmp", ctx.ItemCount, false);
    ctx.addItemBytes(bytes);
}

// "FOUND.000" to "FOUND.999": where chkdsk puts the fragments it recovers.
bool isFoundFolder(const std::string& name) {
    if (name.size() != 9 || !startsWithNoCase(name, "FOUND.")) return false;
    for (size_t i = 6; i < 9; ++i)
        if (name[i] < '0' || name[i] > '9') return false;
    return true;
}

void chkdskFragments(CleanContext& ctx) {
    auto& files = ctx.machine.files();
    int64_t bytes =
        DeleteMatchingFiles(ctx, ctx.machine.systemDirectory(), "File*.chk", ctx.ItemCount, false);
    // On NT, chkdsk saves fragments in FOUND.nnn folders at the drive root.
    for (const auto& root : fixedDriveRoots(ctx.machine)) {
        auto entries = files.findFiles(root, "*");
        if (!entries) continue;
        for (const auto& e : *entries) {
            if (ctx.stopRequested()) break;
            if (!e.isDirectory() || e.isLink() || !isFoundFolder(e.name)) continue;
            const std::string folder = root + e.name;
            bytes += DeleteMatchingFiles(ctx, folder, "File*.chk", ctx.ItemCount, false);
            // Only an emptied folder goes; one that still holds anything stays.
            if (!ctx.isTestRun() && !ctx.stopRequested()) files.removeDirectory(folder);
        }
    }
    ctx.addItemBytes(bytes);
}

// Cuts an INFO2 index back to its header with a zero total, as Windows leaves
// it after emptying the bin; the records name every deleted file.
void resetInfo2(FileApi& files, const std::string& path) {
    std::string header(kInfo2HeaderSize, '\0');
    {
        auto h = files.openFile(path, FileMode::Read);
        if (!h) return;
        int64_t size = h->size();
        if (size <= static_cast<int64_t>(kInfo2HeaderSize) || size > kMaxInfo2Size) return;
        if (h->read(header.data(), kInfo2HeaderSize) != static_cast<int64_t>(kInfo2HeaderSize))
            return;
    }
    std::fill(header.begin() + 16, header.end(), '\0');
    if (auto h = files.createFile(path)) {
        h->write(header.data(), static_cast<int64_t>(header.size()));
        h->flush();
    }
}

}  // namespace

std::vector<std::string> recycleBinFolders(Machine& machine) {
    std::vector<std::string> bins;
    auto& files = machine.files();
    const std::string sid = machine.currentUser().sid;
    for (const auto& root : fixedDriveRoots(machine)) {
        const std::string recycled = root + "Recycled";
        if (files.fileExists(recycled + "\\INFO2") && files.fileExists(recycled + "\\desktop.ini"))
            bins.push_back(recycled);
        if (!usableSid(sid)) continue;
        for (const char* name : {"RECYCLER", "$Recycle.Bin"}) {
            std::string folder = root + name + "\\" + sid;
            if (files.directoryExists(folder)) bins.push_back(folder);
        }
    }
    return bins;
}

void emptyRecycleBins(CleanContext& ctx) {
    auto& files = ctx.machine.files();
    // Windows' own emptying takes a 9x bin whole, whether or not it still has
    // its desktop.ini; only the count above asks for both files.
    std::vector<std::string> bins = recycleBinFolders(ctx.machine);
    for (const auto& root : fixedDriveRoots(ctx.machine)) {
        const std::string recycled = root + "Recycled";
        if (files.fileExists(recycled + "\\INFO2") &&
            std::find(bins.begin(), bins.end(), recycled) == bins.end())
            bins.push_back(recycled);
    }
    for (const auto& folder : bins) {
        if (ctx.stopRequested()) return;
        auto entries = files.findFiles(folder, "*");
        if (!entries) continue;
        for (const auto& e : *entries) {
            if (isDotEntry(e.name)) continue;
            const std::string path = folder + "\\" + e.name;
            const std::string lower = lowerCase(e.name);
            if (lower == "desktop.ini") continue;
            if (lower == "info2" && !e.isDirectory())
                resetInfo2(files, path);
            else
                files.shellDelete(path);
        }
    }
}

void addWindowsItems(ItemTable& table) {
    table.add("Windows - Recent Documents", recentDocuments);
    table.add("Windows - Start Run", startRun);
    table.add("Windows - Search Assistant", searchAssistant);
    table.add("Windows - Empty Recycle Bin", recycleBin);
    table.add("Windows - Temporary Files", temporaryFiles);
    table.add("Windows - Clipboard", clipboard);
    table.add("Windows - Memory Dumps", memoryDumps);
    table.add("Windows - Chkdsk File Fragments", chkdskFragments);
}

}  // namespace brisko
