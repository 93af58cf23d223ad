// File primitives of the cleaner: single files, folder trees, masks, overwrite
// passes and deletion at restart.
#include <chrono>
#include <climits>
#include <functional>
#include <random>

#include "base/text.h"
#include "cleaner/clean_context.h"
#include "cleaner/folder_guards.h"
#include "cleaner/removal.h"
#include "core/machine/machine.h"
#include "core/messages.h"

namespace brisko {

namespace {

// Deeper trees than this are not walked: on Windows the path length stops a
// walk long before, and a link that loops back inside the machine must not
// recurse for ever.
constexpr int kMaxFolderDepth = 128;

constexpr unsigned kSafetyQuestionFlags = MB_YESNO | MB_ICONINFORMATION | MB_DEFBUTTON2;

bool isDotEntry(const std::string& name) {
    return name == "." || name == "..";
}

// A drive root or a documents or pictures folder, however the walk spells it.
GuardedFolder guarded(CleanContext& ctx, const std::string& folder) {
    if (folder.size() < 4) return GuardedFolder::DriveRoot;
    return ctx.guards().classify(folder);
}

// The question DeleteMatchingFiles asks before a drive root (when the mask
// takes more than one name) and the documents folders. True when it may go on.
bool confirmMaskFolder(CleanContext& ctx, const std::string& folder, bool wideMask) {
    if (ctx.isTestRun()) return true;
    std::string question;
    GuardedFolder g = guarded(ctx, folder);
    if (g == GuardedFolder::DriveRoot && wideMask)
        question = "Do you want to delete all files and folders under " + folder + "?";
    else if (g == GuardedFolder::Documents)
        question = "Do you want to delete the files on " + folder + "?";
    return question.empty() || ctx.ask(question, kSafetyQuestionFlags) == IDYES;
}

// Guards shared by both walks. Empty result: nothing to do.
std::string walkStart(CleanContext& ctx, std::string_view folder) {
    if (ctx.stopRequested() || folder.empty() || folder == "\\") return {};
    if (!ctx.machine.files().directoryExists(folder)) return {};
    return includeTrailingBackslash(folder);
}

// One walk for the folder wipe and the mask delete. The wipe asks before a
// guarded folder, removes links and the subfolders it emptied; the mask delete
// asks its own question, walks subfolders only when told to and removes no
// folder. Files for which skip() is true stay where they are.
struct FolderWalk {
    CleanContext& ctx;
    const FileNameTest& skip;
    bool log;
    bool wipe;
    bool recurse;   // mask delete: subfolders too
    bool wideMask;  // mask delete: more than one name, so a drive root is asked about
    int& counter;

    bool confirm(const std::string& folder) {
        if (!wipe) return confirmMaskFolder(ctx, folder, wideMask);
        return ctx.isTestRun() || guarded(ctx, folder) == GuardedFolder::None ||
               ctx.ask("Do you want to delete all files and folders under " + folder + "?",
                       kSafetyQuestionFlags) == IDYES;
    }

    // declined: the user answered No for this folder, so it must stay.
    int64_t run(const std::string& folder, int depth, bool& declined) {
        declined = !confirm(folder);
        if (declined) return 0;
        auto& files = ctx.machine.files();
        auto entries = files.findFiles(folder, "*");
        if (!entries) return 0;
        int64_t bytes = 0;
        std::string path = folder;  // one buffer for the folder's file paths
        for (const auto& e : *entries) {
            if (ctx.stopRequested()) break;
            if (e.isDirectory()) {
                if (isDotEntry(e.name) || depth >= kMaxFolderDepth) continue;
                bytes += subfolder(folder, e, depth);
                continue;
            }
            if (skip && skip(e.name)) continue;
            path.resize(folder.size());
            path += e.name;
            if (DeleteOneFile(ctx, path, log, &e.place)) {
                ++counter;
                bytes += static_cast<int64_t>(e.size);
                ctx.postProgress(counter);
            }
        }
        return bytes;
    }

    int64_t subfolder(const std::string& folder, const FileEntry& e, int depth) {
        auto& files = ctx.machine.files();
        const std::string sub = folder + e.name + "\\";
        bool subDeclined = false;
        if (!wipe) return recurse && !e.isLink() ? run(sub, depth + 1, subDeclined) : 0;
        if (e.isLink()) {
            // A junction or link goes itself; what it leads to is not part of this
            // folder (Explorer's delete does the same).
            if (!ctx.isTestRun()) files.removeDirectory(folder + e.name);
            return 0;
        }
        int64_t bytes = run(sub, depth + 1, subDeclined);
        // Only an emptied folder is removed: one still holding a file that was
        // skipped stays.
        if (!ctx.isTestRun() && !subDeclined && !ctx.stopRequested())
            files.removeDirectory(excludeTrailingBackslash(sub));
        return bytes;
    }
};

// A mask of DeleteMatchingFiles: "*.*" every file; one "*" a prefix and a
// suffix compared without case; no "*" the exact name, case included.
struct FileMask {
    std::string_view mask;
    bool hasStar = false;
    std::string prefix, suffix;  // upper-cased

    explicit FileMask(std::string_view m) : mask(m) {
        size_t star = m.find('*');
        hasStar = star != std::string_view::npos;
        if (hasStar) {
            prefix = upperCase(m.substr(0, star));
            suffix = upperCase(m.substr(star + 1));
        }
    }

    bool matches(std::string_view name) const {
        if (mask == "*.*" || name == mask) return true;
        if (!hasStar) return false;
        std::string upper = upperCase(name);
        // Prefix and suffix must not overlap: "ab*ba" does not match "aba".
        if (upper.size() < prefix.size() + suffix.size()) return false;
        return upper.starts_with(prefix) && upper.ends_with(suffix);
    }
};

}  // namespace

std::string FormatKB(uint64_t bytes) {
    uint64_t kb = bytes / 1024 + (bytes % 1024 ? 1 : 0);
    std::string digits = std::to_string(kb);
    std::string out;
    out.reserve(digits.size() + digits.size() / 3);
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

bool DeleteOneFile(CleanContext& ctx, std::string_view path, bool log, const PlaceId* listed) {
    auto& files = ctx.machine.files();
    if (files.fileUse(path) == FileUse::LoadedHive) {
        // Not even at the next start: that would take the system or the
        // user's profile with it. Neither run counts it.
        ctx.logLine(ctx.RunPrefix + "skipping " + std::string(path) + ": a registry hive in use");
        return false;
    }
    // Counted once in a Test run, as a Clean removes it once.
    if (!ctx.firstFile(path, listed)) return false;
    if (ctx.isTestRun()) {
        if (log) ctx.logFileLine(path);
        return true;
    }
    if (ctx.settings.IsWipeFile && !IsFileInUse(files, path))
        WipeFile(files, path, ctx.settings.WipeNumber);
    if (files.shellDelete(path)) {
        if (log) ctx.logFileLine(path);
        return true;
    }
    // A file another program holds open goes at the next restart. It is still
    // there, so it is not counted as removed: it is counted apart and said.
    if (files.fileUse(path) == FileUse::Locked && ScheduleDeleteAtRestart(ctx.machine, path)) {
        ++ctx.ScheduledAtRestart;
        ctx.logLine(ctx.RunPrefix +
                    "in use, to be deleted at the next restart: " + std::string(path));
        return false;
    }
    // One that cannot be deleted for any other reason would fail at the restart
    // too: it stays, and its line says so rather than "deleting".
    if (log) ctx.logLine(ctx.RunPrefix + "cannot delete " + std::string(path));
    return false;
}

void WipeFile(FileApi& files, std::string_view path, int passes) {
    if (passes <= 0 || !files.fileExists(path)) return;
    std::mt19937 rng(static_cast<uint32_t>(
        std::chrono::high_resolution_clock::now().time_since_epoch().count()));
    std::uniform_int_distribution<int> byteValue(0, 254);
    char buffer[4096];
    for (int pass = 1; pass <= passes; ++pass) {
        std::fill(std::begin(buffer), std::end(buffer), static_cast<char>(byteValue(rng)));
        auto h = files.openFile(path, FileMode::ReadWrite);
        if (!h) return;
        int64_t size = h->size();
        if (size < 0 || size > INT32_MAX) return;
        if (!h->seek(0)) return;
        int64_t left = size;
        while (left > 0) {
            int64_t n = std::min<int64_t>(left, sizeof buffer);
            if (h->write(buffer, n) != n) return;
            left -= n;
        }
        if (!h->flush()) return;
    }
}

int64_t WipeFolder(CleanContext& ctx, std::string_view folder, bool removeStartFolder, bool log,
                   std::string_view skipName, int& counter) {
    // No test at all when nothing is spared: most wipes spare nothing.
    FileNameTest skip;
    if (!skipName.empty())
        skip = [skipName](std::string_view name) { return equalsNoCase(name, skipName); };
    return WipeFolderKeeping(ctx, folder, removeStartFolder, log, skip, counter);
}

int64_t WipeFolderKeeping(CleanContext& ctx, std::string_view folder, bool removeStartFolder,
                          bool log, const FileNameTest& keep, int& counter) {
    std::string start = walkStart(ctx, folder);
    if (start.empty()) return 0;
    FolderWalk walk{ctx, keep, log, true, true, true, counter};
    bool declined = false;
    int64_t bytes = walk.run(start, 0, declined);
    if (removeStartFolder && !declined && !ctx.isTestRun() && !ctx.stopRequested())
        ctx.machine.files().removeDirectory(excludeTrailingBackslash(start));
    return bytes;
}

int64_t DeleteMatchingFiles(CleanContext& ctx, std::string_view folder, std::string_view mask,
                            int& counter, bool recurse) {
    std::string start = walkStart(ctx, folder);
    if (start.empty()) return 0;
    const FileMask match(mask);
    FileNameTest skip = [&match](std::string_view name) { return !match.matches(name); };
    FolderWalk walk{ctx, skip, true, false, recurse, mask.empty() || match.hasStar, counter};
    bool declined = false;
    return walk.run(start, 0, declined);
}

bool ScheduleDeleteAtRestart(Machine& machine, std::string_view path) {
    auto& files = machine.files();
    if (!files.fileExists(path)) return true;
    return files.deleteAtRestart(path);
}

bool IsFileInUse(FileApi& files, std::string_view path) {
    if (!files.fileExists(path)) return false;
    return files.openFile(path, FileMode::ReadWrite) == nullptr;
}

uint64_t FileSizeOf(FileApi& files, std::string_view path) {
    auto info = files.fileInfo(path);
    return info && !info->isDirectory() ? info->size : 0;
}

std::string ShortPathOf(FileApi& files, std::string_view path) {
    if (!files.fileExists(path) && !files.directoryExists(path)) return {};
    return files.shortPathName(path);
}

std::string MyDocumentsFolder(Machine& machine) {
    std::string f = machine.specialFolder(CSIDL_PERSONAL);
    return f.empty() ? f : includeTrailingBackslash(f);
}

std::string AppDataFolder(Machine& machine) {
    std::string f = machine.specialFolder(CSIDL_APPDATA);
    return f.empty() ? f : includeTrailingBackslash(f);
}

std::string ProgramFilesFolder(Machine& machine) {
    std::string f =
        ReadRegString(machine.registry(), RootKey::LocalMachine,
                      "Software\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir");
    return f.empty() ? f : includeTrailingBackslash(f);
}

}  // namespace brisko
