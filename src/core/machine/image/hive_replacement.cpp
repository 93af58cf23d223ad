#include "core/machine/image/hive_replacement.h"

#include <cstdio>
#include <sstream>

#include "base/atomic_file.h"
#include "base/text.h"
#include "core/machine/image/commit_journal.h"
#include "core/small_file.h"
#include "hive/hive.h"

namespace brisko {

using namespace hive;

namespace fs = std::filesystem;

namespace {
std::string identityText(const std::optional<FileIdentity>& id) {
    if (!id) return "-";
    char buf[48];
    std::snprintf(buf, sizeof buf, "%llu:%016llx", (unsigned long long)id->size,
                  (unsigned long long)id->hash);
    return buf;
}

std::optional<FileIdentity> parseIdentity(const std::string& s) {
    size_t colon = s.find(':');
    if (colon == std::string::npos) return std::nullopt;
    try {
        FileIdentity id;
        id.size = std::stoull(s.substr(0, colon));
        id.hash = std::stoull(s.substr(colon + 1), nullptr, 16);
        return id;
    } catch (...) {
        return std::nullopt;
    }
}

const char* kLogSuffixes[] = {".LOG", ".LOG1", ".LOG2"};

fs::path withSuffix(const fs::path& p, const char* suffix) {
    fs::path out = p;
    out += suffix;
    return out;
}

bool isFile(const fs::path& p) {
    std::error_code ec;
    return fs::symlink_status(p, ec).type() == fs::file_type::regular;
}

// The logs beside `hive` follow it to `to` (the old hive keeps its logs, so a
// dirty hive kept as .bak is still whole, and the new hive starts without any).
bool moveLogs(const fs::path& hive, const fs::path& to) {
    bool ok = true;
    for (const char* s : kLogSuffixes) {
        fs::path from = withSuffix(hive, s);
        if (!isFile(from)) continue;
        std::error_code ec;
        fs::rename(from, withSuffix(to, s), ec);
        ok = ok && !ec;
    }
    return ok;
}

std::string readable(const fs::path& p) {
    std::string why;
    auto hive = Hive::open(p, &why);
    if (!hive) return why.empty() ? "it is not a registry hive" : why;
    if (hive->state().health == HiveHealth::Damaged)
        return "it is damaged: " + hive->state().reason;
    return {};
}
}  // namespace

std::vector<PendingReplace> parsePendingList(const std::string& text) {
    std::vector<PendingReplace> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        auto f = split(line, '\t');
        if (f.size() < 3 || f[0].empty() || f[1].empty()) continue;
        PendingReplace p{f[0], f[1], f[2]};
        if (f.size() > 3) p.kind = f[3] == "restore" ? ReplaceKind::Restore : ReplaceKind::Compact;
        if (f.size() > 4) p.hiveId = parseIdentity(f[4]);
        if (f.size() > 5) p.newId = parseIdentity(f[5]);
        if (f.size() > 6) p.reason = f[6];
        out.push_back(std::move(p));
    }
    return out;
}

std::string formatPendingList(const std::vector<PendingReplace>& list) {
    std::string text;
    for (const auto& p : list) {
        std::string reason = p.reason;
        for (char& c : reason)
            if (c == '\t' || c == '\n' || c == '\r') c = ' ';
        text += p.hiveFile + '\t' + p.newFile + '\t' + p.oldFile + '\t' +
                (p.kind == ReplaceKind::Restore ? "restore" : "compact") + '\t' +
                identityText(p.hiveId) + '\t' + identityText(p.newId) + '\t' + reason + '\n';
    }
    return text;
}

std::vector<PendingReplace> readPendingList(const fs::path& file) {
    auto text = readSmallFile(file, 1 << 20);
    return text ? parsePendingList(*text) : std::vector<PendingReplace>{};
}

bool writePendingList(const fs::path& file, const std::vector<PendingReplace>& list) {
    std::error_code ec;
    if (list.empty() && !fs::exists(file, ec)) return true;
    return writeFileAtomically(file, formatPendingList(list), nullptr);
}

std::optional<bool> finishInterruptedReplacement(PendingReplace& entry,
                                                 const ReplaceHostPaths& paths) {
    const fs::path& hive = paths.hive;
    const fs::path& newFile = paths.newFile;
    const fs::path& oldFile = paths.oldFile;
    // Cut short after the old hive was moved aside: the hive is missing, both
    // the old and the new file are there.
    if (isFile(hive) || !isFile(newFile) || !isFile(oldFile)) return std::nullopt;
    std::error_code ec;
    if (std::string bad = readable(newFile); !bad.empty()) {
        fs::rename(oldFile, hive, ec);
        if (!ec) moveLogs(oldFile, hive);
        entry.reason = "the new file " + entry.newFile + " cannot be used (" + bad +
                       "); the hive was left as it was";
        return false;
    }
    moveLogs(hive, oldFile);
    fs::rename(newFile, hive, ec);
    syncFolder(hive.parent_path());
    if (ec) {
        entry.reason = "the new file cannot be moved into place: " + ec.message();
        return false;
    }
    entry.reason.clear();
    return true;
}

bool carryOutReplacement(PendingReplace& entry, const ReplaceHostPaths& paths,
                         const std::function<void()>& persist,
                         const std::function<void(ReplaceStep)>& probe) {
    auto step = [&](ReplaceStep s) {
        if (probe) probe(s);
    };
    auto keep = [&](std::string why) {
        entry.reason = std::move(why);
        return false;
    };
    const fs::path& hive = paths.hive;
    const fs::path& newFile = paths.newFile;
    const fs::path& oldFile = paths.oldFile;
    fs::path folder = hive.parent_path();

    if (!isFile(hive)) {
        if (auto finished = finishInterruptedReplacement(entry, paths)) return *finished;
        return keep("the hive file " + entry.hiveFile + " is missing");
    }
    if (!isFile(newFile)) {
        // Done already by a restart that ended before it could update the list.
        auto id = fileIdentity(hive);
        if (id && entry.newId && *id == *entry.newId && isFile(oldFile)) {
            entry.reason.clear();
            return true;
        }
        return keep("the new file " + entry.newFile + " is missing; the hive was left as it was");
    }
    if (entry.kind == ReplaceKind::Compact) {
        auto now = hiveIdentity(hive);
        if (!now) return keep("the hive file " + entry.hiveFile + " cannot be read");
        auto newNow = fileIdentity(newFile);
        if (!entry.hiveId || *entry.hiveId != *now || !newNow || !entry.newId ||
            *newNow != *entry.newId) {
            // The hive changed after it was copied (or the copy did): putting the
            // old copy in place would drop those changes, so copy it again.
            std::error_code ec;
            fs::remove(newFile, ec);
            std::string why;
            if (!writeVerifiedHiveCopy(hive, newFile, &why, true))
                return keep(
                    "the hive changed after it was copied and could not be copied "
                    "again: " +
                    why);
            entry.hiveId = now;
            entry.newId = fileIdentity(newFile);
            if (persist) persist();
            step(ReplaceStep::CopyRedone);
        }
    }
    if (std::string bad = readable(newFile); !bad.empty())
        return keep("the new file " + entry.newFile + " cannot be used (" + bad +
                    "); the hive was left as it was");
    if (entry.kind == ReplaceKind::Restore) {
        auto newNow = fileIdentity(newFile);
        if (entry.newId && (!newNow || *newNow != *entry.newId))
            return keep("the new file " + entry.newFile +
                        " was changed after it was scheduled; the hive was left as it was");
    }

    // An earlier backup of that name gives way; then old hive aside, new in place.
    std::error_code ec;
    for (const char* s : kLogSuffixes) fs::remove(withSuffix(oldFile, s), ec);
    fs::remove(oldFile, ec);
    if (isFile(oldFile)) return keep("the old backup " + entry.oldFile + " cannot be deleted");
    step(ReplaceStep::OldRemoved);
    fs::rename(hive, oldFile, ec);
    if (ec) return keep("the hive file cannot be moved aside: " + ec.message());
    step(ReplaceStep::HiveMoved);
    moveLogs(hive, oldFile);
    step(ReplaceStep::LogsMoved);
    fs::rename(newFile, hive, ec);
    if (ec) {
        std::error_code back;
        fs::rename(oldFile, hive, back);
        if (!back) moveLogs(oldFile, hive);
        return keep("the new file cannot be moved into place: " + ec.message());
    }
    syncFolder(folder);
    step(ReplaceStep::NewMoved);
    entry.reason.clear();
    return true;
}

}  // namespace brisko
