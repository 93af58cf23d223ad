#include "core/machine/image/commit_journal.h"

#include "core/machine/image/hive_replacement.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>

#include "base/unique_fd.h"
#include "core/small_file.h"
#include "core/temp_name.h"
#include "hive/hive.h"

namespace brisko {

using namespace hive;

namespace fs = std::filesystem;

namespace {
constexpr std::string_view kJournalHeader = "Brisko Cleaner commit journal 1";
constexpr std::string_view kCopyInfix = ".brisko-";
constexpr std::string_view kCopySuffix = ".new";

bool isHex(std::string_view s) {
    return !s.empty() && s.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

// A relative path without "." or ".." parts: journal entries must stay inside.
bool plainRelative(const fs::path& p) {
    if (p.empty() || p.is_absolute()) return false;
    for (const auto& part : p)
        if (part == "." || part == ".." || part.empty()) return false;
    return true;
}

bool insideFolder(const fs::path& p, const fs::path& folder) {
    std::error_code ec;
    auto real = fs::canonical(p, ec);
    if (ec) return false;
    auto rel = real.lexically_relative(folder);
    return !rel.empty() && plainRelative(rel);
}

bool isRegularFile(const fs::path& p) {
    struct stat st {};
    return ::lstat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

struct Journal {
    std::vector<HiveReplacement> entries;  // relative to the machine folder
    bool complete = false;
};

std::optional<Journal> readJournal(const fs::path& file) {
    // A few lines per hive; a pipe, a device or anything larger is not ours.
    auto text = readSmallFile(file, 1 << 20);
    if (!text) return std::nullopt;
    std::istringstream in(*text);
    Journal j;
    std::string line;
    if (!std::getline(in, line) || line != kJournalHeader) return j;
    while (std::getline(in, line)) {
        if (line.rfind("end ", 0) == 0) {
            j.complete = line.substr(4) == std::to_string(j.entries.size());
            break;
        }
        auto tab = line.find('\t');
        if (tab == std::string::npos) break;
        j.entries.push_back({fs::path(line.substr(0, tab)), fs::path(line.substr(tab + 1))});
    }
    return j;
}

// The entry as host paths when it names one of our copies beside its hive.
std::optional<HiveReplacement> checkedEntry(const HiveReplacement& e, const fs::path& folder) {
    if (!plainRelative(e.newFile) || !plainRelative(e.hive)) return std::nullopt;
    if (e.newFile.parent_path() != e.hive.parent_path()) return std::nullopt;
    if (!isNewHiveCopyName(e.newFile.filename().string(), e.hive.filename().string()))
        return std::nullopt;
    fs::path dir = folder / e.hive.parent_path();
    if (!insideFolder(dir, folder)) return std::nullopt;
    return HiveReplacement{dir / e.newFile.filename(), dir / e.hive.filename()};
}
}  // namespace

fs::path commitJournalFile(const fs::path& machineFolder) {
    return machineFolder / ".brisko-commit";
}

fs::path newHiveCopyName(const fs::path& hive) {
    for (;;) {
        fs::path p = hive;
        p += std::string(kCopyInfix) + randomHex() + std::string(kCopySuffix);
        struct stat st {};
        if (::lstat(p.c_str(), &st) != 0) return p;
    }
}

bool isNewHiveCopyName(const std::string& name, const std::string& hiveName) {
    std::string_view n = name;
    std::string prefix = hiveName + std::string(kCopyInfix);
    if (n.size() <= prefix.size() + kCopySuffix.size() || n.substr(0, prefix.size()) != prefix ||
        n.substr(n.size() - kCopySuffix.size()) != kCopySuffix)
        return false;
    return isHex(n.substr(prefix.size(), n.size() - prefix.size() - kCopySuffix.size()));
}

bool writeCommitJournal(const fs::path& machineFolder,
                        const std::vector<HiveReplacement>& replacements, std::string* error) {
    std::string text = std::string(kJournalHeader) + "\n";
    for (const auto& r : replacements) {
        auto newRel = r.newFile.lexically_relative(machineFolder);
        auto hiveRel = r.hive.lexically_relative(machineFolder);
        if (!plainRelative(newRel) || !plainRelative(hiveRel)) {
            if (error) *error = "the hive lies outside the machine folder: " + r.hive.string();
            return false;
        }
        text += newRel.generic_string() + '\t' + hiveRel.generic_string() + '\n';
    }
    text += "end " + std::to_string(replacements.size()) + "\n";
    return writeFileAtomically(commitJournalFile(machineFolder), text, error);
}

bool removeCommitJournal(const fs::path& machineFolder) {
    if (::unlink(commitJournalFile(machineFolder).c_str()) != 0 && errno != ENOENT) return false;
    syncFolder(machineFolder);
    return true;
}

CommitRecovery finishInterruptedCommit(const fs::path& machineFolder) {
    CommitRecovery out;
    fs::path file = commitJournalFile(machineFolder);
    auto journal = readJournal(file);
    if (!journal) return out;
    std::vector<fs::path> folders;
    for (const auto& raw : journal->entries) {
        auto e = checkedEntry(raw, machineFolder);
        if (!e) {
            out.problems.push_back(
                "The commit journal names a file Brisko Cleaner does not "
                "write; it was left alone: " +
                raw.newFile.string());
            continue;
        }
        if (!isRegularFile(e->newFile)) continue;  // renamed before the interruption
        if (journal->complete) {
            if (::rename(e->newFile.c_str(), e->hive.c_str()) == 0) {
                ++out.renamed;
                folders.push_back(e->hive.parent_path());
            } else {
                out.problems.push_back("Cannot finish the interrupted commit of " +
                                       e->hive.string() + ": " + std::strerror(errno));
            }
        } else if (::unlink(e->newFile.c_str()) == 0) {
            ++out.removed;
        }
    }
    for (const auto& f : folders) syncFolder(f);
    // A journal whose renames could not all be done stays for the next open.
    bool finished = !journal->complete || out.problems.empty();
    if (finished) removeCommitJournal(machineFolder);
    fs::path journalTemp = file;
    journalTemp += ".tmp";
    if (isRegularFile(journalTemp)) ::unlink(journalTemp.c_str());
    return out;
}

std::vector<fs::path> journalNewFiles(const fs::path& machineFolder) {
    std::vector<fs::path> out;
    auto journal = readJournal(commitJournalFile(machineFolder));
    if (!journal || !journal->complete) return out;
    for (const auto& raw : journal->entries)
        if (auto e = checkedEntry(raw, machineFolder)) out.push_back(e->newFile);
    return out;
}

size_t removeStrayHiveCopies(const fs::path& hive, const std::vector<fs::path>& keep) {
    size_t removed = 0;
    std::string hiveName = hive.filename().string();
    std::string legacy = hiveName + ".tmp";
    std::error_code ec;
    for (fs::directory_iterator it(hive.parent_path(), ec), end; !ec && it != end;
         it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (name != legacy && !isNewHiveCopyName(name, hiveName)) continue;
        if (std::any_of(keep.begin(), keep.end(), [&](const fs::path& k) {
                return k.filename() == it->path().filename() &&
                       fs::equivalent(k.parent_path(), hive.parent_path(), ec);
            }))
            continue;
        if (isRegularFile(it->path()) && ::unlink(it->path().c_str()) == 0) ++removed;
    }
    if (removed) syncFolder(hive.parent_path());
    return removed;
}

size_t removeStrayMachineTemps(const fs::path& machineFolder) {
    // TempFileBeside names them ".<name>.tmp<pid>-<n>".
    std::vector<std::string> prefixes;
    for (const fs::path& f : {commitJournalFile(machineFolder), machineFolder / kPendingHivesFile})
        prefixes.push_back("." + f.filename().string() + ".tmp");
    auto digitsAndDash = [](std::string_view s) {
        size_t dash = s.find('-');
        return dash != std::string_view::npos && dash > 0 && dash + 1 < s.size() &&
               s.find_first_not_of("0123456789-") == std::string_view::npos &&
               s.find('-', dash + 1) == std::string_view::npos;
    };
    size_t removed = 0;
    std::error_code ec;
    for (fs::directory_iterator it(machineFolder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        for (const auto& prefix : prefixes)
            if (name.starts_with(prefix) &&
                digitsAndDash(std::string_view(name).substr(prefix.size())) &&
                isRegularFile(it->path()) && ::unlink(it->path().c_str()) == 0)
                ++removed;
    }
    if (removed) syncFolder(machineFolder);
    return removed;
}

void syncFolder(const fs::path& folder) {
    fs::path dir = folder.empty() ? fs::path(".") : folder;
    UniqueFd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() >= 0) ::fsync(fd.get());
}

}  // namespace brisko
