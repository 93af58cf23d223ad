#include "core/machine/image/image_files.h"

#include "base/unique_fd.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <utility>

#include "base/text.h"
#include "core/machine/image/image_file_helpers.h"
#include "core/machine/registry_api.h"
#include "core/machine/registry_key.h"

namespace brisko {

namespace fs = std::filesystem;
using image::Resolved;
using namespace image::files;

std::vector<std::pair<std::string, std::string>> ImageFileApi::parsePendingRenames(
    const std::vector<uint8_t>& raw) {
    std::vector<std::string> strings;
    size_t units = raw.size() / 2, start = 0;
    for (size_t i = 0; i < units; ++i) {
        if (raw[2 * i] || raw[2 * i + 1]) continue;
        strings.push_back(utf16leToUtf8(raw.data() + 2 * start, 2 * (i - start), false));
        start = i + 1;
    }
    if (start < units)
        strings.push_back(utf16leToUtf8(raw.data() + 2 * start, 2 * (units - start), false));
    std::vector<std::pair<std::string, std::string>> pairs;
    for (size_t i = 0; i < strings.size() && !strings[i].empty(); i += 2)
        pairs.emplace_back(strings[i], i + 1 < strings.size() ? strings[i + 1] : "");
    return pairs;
}

std::vector<uint8_t> ImageFileApi::encodePendingRenames(
    const std::vector<std::pair<std::string, std::string>>& pairs) {
    std::vector<uint8_t> out;
    for (const auto& [source, target] : pairs) {
        auto s = utf8ToUtf16le(source, true);
        auto t = utf8ToUtf16le(target, true);
        out.insert(out.end(), s.begin(), s.end());
        out.insert(out.end(), t.begin(), t.end());
    }
    out.push_back(0);
    out.push_back(0);
    return out;
}

bool ImageFileApi::deleteAtRestart(std::string_view path) {
    if (!registry_) return false;
    auto wp = image::parseWindowsPath(path);
    auto r = find(path);
    if (!wp || !r || wp->parts.empty()) return false;
    // Deleting a loaded hive at the next start would take the system or the
    // user's profile with it.
    if (!r->isLink && isHive(r->host)) return false;
    RegistryKey key(*registry_, RootKey::LocalMachine);
    if (!key.openKey(kSessionManager, true)) return false;
    std::vector<uint8_t> raw;
    if (auto v = key.handle()->value(kPendingRenames)) raw = std::move(v->data);
    auto pairs = parsePendingRenames(raw);
    std::string source = "\\??\\" + wp->text();
    for (const auto& [s, t] : pairs)
        if (t.empty() && equalsNoCase(s, source)) return true;  // already pending
    pairs.emplace_back(std::move(source), "");
    return key.handle()->setValue(kPendingRenames, REG_MULTI_SZ, encodePendingRenames(pairs));
}

bool ImageFileApi::carryOutOne(const std::string& source, const std::string& target) {
    auto s = findHeld(source, false);
    if (!s || s->isRoot) return false;
    if (target.empty()) {
        if (!s->exists) return true;  // already gone
        bool dir = S_ISDIR(s->lst.st_mode);
        if (!unlinkChecked(*s, dir ? AT_REMOVEDIR : 0)) return false;
        if (!s->isLink) forgetAttributes(s->host);
        changed(s->host, dir);
        return true;
    }
    bool replace = target.starts_with('!');
    auto d = findHeld(std::string_view(target).substr(replace ? 1 : 0), false);
    if (!s->exists || !d || d->isRoot) return false;
    if (d->exists && (!replace || S_ISDIR(d->lst.st_mode))) return false;
    auto src = holdEntry(*s);
    auto dst = holdEntry(*d);
    if (!src || !dst || !image::sameEntry(src->dir.fd, src->name, s->lst) ||
        ::renameat(src->dir.fd, src->name.c_str(), dst->dir.fd, dst->name.c_str()) != 0)
        return false;
    moveAttributes(s->host, d->host);
    changed(s->host, true);
    changed(d->host, true);
    return true;
}

bool ImageFileApi::carryOutPendingRenames() {
    if (!registry_) return false;
    RegistryKey key(*registry_, RootKey::LocalMachine);
    if (!key.openKey(kSessionManager)) return true;  // nothing pending
    auto v = key.handle()->value(kPendingRenames);
    if (!v) return true;
    bool ok = true;
    for (const auto& [source, target] : parsePendingRenames(v->data))
        ok = carryOutOne(source, target) && ok;
    // Windows drops the whole list once it has tried, whatever failed.
    return key.deleteValue(kPendingRenames) && ok;
}

std::optional<PlaceId> ImageFileApi::placeId(std::string_view path) {
    auto r = find(path);
    if (!r || !r->targetOk) return std::nullopt;
    return PlaceId{uint64_t(r->tst.st_dev), uint64_t(r->tst.st_ino)};
}

FileUse ImageFileApi::fileUse(std::string_view path) {
    // Most files are neither: answered without a look at the disk.
    bool named = hiveNamed(path);
    if (!named && !anyLocked_.load(std::memory_order_relaxed)) return FileUse::Free;
    auto r = find(path);
    if (!r || !r->exists) return FileUse::Free;
    if (!r->isLink && named && isHive(r->host)) return FileUse::LoadedHive;
    return isLocked(r->target) ? FileUse::Locked : FileUse::Free;
}

std::optional<std::string> ImageFileApi::libraryOpenPath(std::string_view path, std::string* why) {
    auto refuse = [why](const char* reason) -> std::optional<std::string> {
        if (why) *why = reason;
        return std::nullopt;
    };
    auto r = find(path);
    if (!r || !r->exists) return refuse("the file is not there");
    if (r->isLink) return refuse("the file is a link");
    if (r->guessed) return refuse("the path holds a guessed 8.3 alias");
    if (!S_ISREG(r->lst.st_mode)) return refuse("it is not a regular file");
    if (r->lst.st_nlink != 1) return refuse("the file has further hard links");
    // The walk follows links inside the machine and hands back where they led,
    // so a path that passed none is its drive folder and the names as found.
    auto wp = image::parseWindowsPath(path);
    const Drive* d = wp ? usableDrive(wp->drive) : nullptr;
    if (!d) return refuse("the file is not there");
    std::string lexical = d->host;
    for (const auto& name : r->names) lexical += "/" + name;
    if (lexical != r->host) return refuse("the path to the file passes a link");
    if (isHive(r->host)) return refuse("the file is a registry hive in use");
    if (isLocked(r->host)) return refuse("the file is in use by another program");
    // What the kernel reaches from the machine folder without links must be
    // the very file that was checked.
    Fd fd(openHost(r->host, O_RDONLY | O_NOFOLLOW));
    struct stat st {};
    if (fd.fd < 0 || ::fstat(fd.fd, &st) != 0 || !sameFile(st, r->lst))
        return refuse("the path to the file passes a link");
    for (const char* suffix : {"-wal", "-shm", "-journal"}) {
        struct stat cs {};
        std::string companion = r->host + suffix;
        if (::lstat(companion.c_str(), &cs) != 0) continue;
        if (!S_ISREG(cs.st_mode) || cs.st_nlink != 1)
            return refuse("a link or a special file stands beside it as its journal");
        if (isLocked(companion)) return refuse("the file is in use by another program");
    }
    return r->host;
}

std::string ImageFileApi::shortPathName(std::string_view path) {
    auto wp = image::parseWindowsPath(path);
    const Drive* d = wp ? usableDrive(wp->drive) : nullptr;
    if (!d) return std::string(path);
    std::string out{wp->drive, ':', '\\'};
    std::string cur = d->host;
    bool existing = true;
    for (size_t i = 0; i < wp->parts.size(); ++i) {
        std::string piece = wp->parts[i];
        if (existing) {
            auto name = resolver_.lookup(cur, piece);
            struct stat st {};
            std::string host = cur + "/" + name.value_or("");
            if (!name || ::lstat(host.c_str(), &st) != 0) {
                existing = false;
            } else {
                piece = resolver_.shortNameOf(cur, *name);
                if (S_ISLNK(st.st_mode)) {
                    auto t = resolver_.followLink(host);
                    if (!t) return std::string(path);
                    cur = *t;
                } else {
                    cur = host;
                }
            }
        }
        out += piece;
        if (i + 1 < wp->parts.size()) out.push_back('\\');
    }
    if (!wp->parts.empty() && (path.ends_with('\\') || path.ends_with('/'))) out.push_back('\\');
    return out;
}

ShortNames ImageFileApi::shortNames(std::string_view folder) {
    auto r = find(folder);
    if (!r || !r->targetOk || !S_ISDIR(r->tst.st_mode)) return {};
    return resolver_.shortNames(r->target);
}

std::vector<DriveInfo> ImageFileApi::drives() {
    std::vector<DriveInfo> out;
    for (const auto& d : drives_)
        if (d.info.kind != DriveKind::NoRootDir) out.push_back(d.info);
    std::sort(out.begin(), out.end(), [](auto& a, auto& b) { return a.letter < b.letter; });
    return out;
}

DriveKind ImageFileApi::driveType(std::string_view rootPath) {
    const Drive* d = driveOf(rootPath);
    return d ? d->info.kind : DriveKind::NoRootDir;
}

std::string ImageFileApi::queryDosDevice(std::string_view drive) {
    const Drive* d = driveOf(drive);
    return d ? d->info.device : std::string();
}

bool ImageFileApi::volumePresent(std::string_view rootPath) {
    auto letter = driveLetter(rootPath);
    const Drive* d = letter ? usableDrive(*letter) : nullptr;
    struct stat st {};
    return d && ::stat(d->host.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace brisko
