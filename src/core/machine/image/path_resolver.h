#pragma once
// Maps Windows paths of an image onto host paths. Parsing is purely lexical;
// the walk matches each component against the host folder (exact case first,
// then case-insensitively through a cached listing) and checks every symbolic
// link it meets, so that a resolved path never lies outside the machine folder.
#include <sys/stat.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/unique_fd.h"
#include "core/machine/file_api.h"
#include "core/machine/short_names.h"

namespace brisko::image {

// A Windows path taken apart: drive letter and the components below the
// drive root, with "." dropped and ".." applied.
struct WinPath {
    char drive = 'C';
    std::vector<std::string> parts;
    std::string text() const;  // "C:\a\b", "C:\" for the root
};

// Accepts "C:\...", forward slashes, "\\?\", "\??\" and "\\.\" prefixes.
// Refuses UNC paths, drive-relative paths ("C:x"), NUL and other characters a
// Windows name cannot hold, and ".." above the drive root.
std::optional<WinPath> parseWindowsPath(std::string_view path);
// A single name as Windows allows it (no separators, wildcards, ':' or
// control characters; not "." or "..").
bool validWindowsName(std::string_view name);
// A findFiles mask: a valid name that may also hold '*' and '?'.
bool validMask(std::string_view mask);
using brisko::foldName;
using brisko::isShortName;
using brisko::makeShortName;
using brisko::shortNameAliases;

// File times: host timespec to FILETIME (100 ns since 1601).
int64_t toFileTime(const struct timespec& t);

struct Resolved {
    std::string host;    // host path; a link as last component is not followed
    std::string target;  // the last component's link followed (checked), else host
    bool exists = false;
    bool isLink = false;
    bool isRoot = false;             // the drive root itself
    struct stat lst {};              // lstat of host (when exists)
    bool targetOk = false;           // target exists
    struct stat tst {};              // stat of target (when targetOk)
    std::vector<std::string> names;  // host name of each component, as found on disk
    bool guessed = false;            // an 8.3 alias on the way was only a guess
    // Held walks only: the folder that holds the last component, reached from
    // the drive folder's descriptor one plain folder at a time.
    std::shared_ptr<UniqueFd> parent;
};

class PathResolver {
  public:
    // root: the canonical machine folder.
    explicit PathResolver(std::string root) : root_(std::move(root)) {}

    const std::string& root() const { return root_; }
    // True when hostPath (absolute, normalised) is the machine folder or lies in it.
    bool inside(std::string_view hostPath) const;
    // The canonical path a link leads to (weakly: a missing end is allowed),
    // or nullopt when it leads out of the machine.
    std::optional<std::string> followLink(const std::string& linkPath) const;

    // driveHost: canonical host folder of the drive. With mustExist=false the
    // last component may be missing; with parents=true any component may be.
    // Links inside the machine are followed: for looking, not for acting.
    std::optional<Resolved> walk(const std::string& driveHost, const WinPath& wp, bool mustExist,
                                 bool parents);
    // The walk of a path about to be acted on. Starting from driveFd (the
    // drive folder, opened below the machine folder), each folder is opened
    // from the descriptor of the one above it and no link is followed: a link
    // or a guessed alias before the last component ends the walk, and a link
    // as the last component is the entry itself. The result holds the last
    // folder open, so the act happens where the walk ended whatever is
    // renamed meanwhile.
    std::optional<Resolved> walkHeld(UniqueFd driveFd, const std::string& driveHost,
                                     const WinPath& wp, bool mustExist, bool parents);

    // The host name of `name` in folder `dir` (a real folder, no links above
    // it): exact match first, then case-insensitive, then as an 8.3 alias.
    // nullopt when absent. guessed is set when only a guessed alias matched.
    std::optional<std::string> lookup(const std::string& dir, const std::string& name,
                                      bool* guessed = nullptr);
    // The 8.3 aliases of a folder's entries: those the file system stores
    // (ntfs-3g shows them as the "system.ntfs_dos_name" attribute), else
    // the ones Windows would most likely have given.
    ShortNames shortNames(const std::string& dir);
    // The alias of one entry of dir, or the name itself where it has none.
    std::string shortNameOf(const std::string& dir, const std::string& name);
    // Every name in a folder, for callers that need siblings (short names).
    std::vector<std::string> listNames(const std::string& dir);

    // Forget cached listings after a change made through this API.
    void invalidate(const std::string& dir);
    void invalidateTree(const std::string& dir);

  private:
    std::optional<std::string> lookupName(const std::string& dir, const std::string& name);

    struct Listing {
        struct timespec mtime {};
        ino_t ino = 0;
        bool trusted = false;  // taken well after the folder last changed
        std::unordered_map<std::string, std::string> byFolded;
    };
    bool fresh(const Listing& l, const struct stat& st) const;
    Listing readListing(const std::string& dir, const struct stat& st) const;
    struct AliasTable {
        struct timespec mtime {};
        ino_t ino = 0;
        std::shared_ptr<const ShortNames> names;
    };
    std::shared_ptr<const ShortNames> aliasTable(const std::string& dir);

    std::string root_;
    std::mutex mutex_;
    std::map<std::string, Listing> cache_;
    std::map<std::string, AliasTable> aliasCache_;
};

}  // namespace brisko::image
