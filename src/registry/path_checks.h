#pragma once
// The routines every registry scanner shares: the path test that decides
// whether a file reference found in the registry is a problem, the
// environment expansion it uses, the shortcut reader, the value counter that
// decides whether a key is empty, and the recursive value walker of the hive
// sections.
#include <functional>
#include <memory>
#include <stop_token>
#include <string>
#include <string_view>
#include <unordered_map>

#include "core/machine/registry_api.h"
#include "registry/scan_context.h"

namespace brisko {

class FileApi;
class Machine;

// File and folder existence for the length of one scan. Answers come from
// folder listings taken once, so the thousands of prefixes the path test tries
// for a long reference cost a hash lookup each. Paths the listing cannot
// answer exactly (odd components, non-ASCII names) go to the file API, cached.
class FileProbe {
  public:
    explicit FileProbe(FileApi& files) : files_(files) {}
    FileProbe(const FileProbe&) = delete;
    FileProbe& operator=(const FileProbe&) = delete;

    bool fileExists(std::string_view path);    // a file, not a folder
    bool folderExists(std::string_view path);  // a trailing backslash is allowed
    bool exists(std::string_view path, bool acceptFolders) {
        return fileExists(path) || (acceptFolders && folderExists(path));
    }
    // Whether some prefix of p ("X:\...") names an existing file, or a prefix
    // that ends before a separator character does with ".exe", ".com" or
    // ".bat" appended: the search of the path test when p's folder part is
    // missing, in one pass. p must hold no "\.", "/" or "\\", so that a
    // missing folder ends it.
    bool programPrefixExists(std::string_view p);

  private:
    static constexpr uint8_t kMissing = 0, kFile = 1, kFolder = 2;
    // Looked up by string_view, so probing allocates nothing.
    struct Hash {
        using is_transparent = void;
        size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    template <class V>
    using Map = std::unordered_map<std::string, V, Hash, std::equal_to<>>;
    struct Folder {
        bool exists = false;
        bool listed = false;  // names below hold every entry
        Map<uint8_t> names;   // upper-cased name -> kFile/kFolder
    };
    // The folder "X:\a\b\" (upper-cased, with trailing backslash), looked up
    // through its parent's listing.
    Folder& folder(const std::string& upperFolder);
    uint8_t kindOf(std::string_view path);
    uint8_t inFolder(const Folder& f, std::string_view upperName) const;
    uint8_t kindDirect(std::string_view path);

    FileApi& files_;
    Map<Folder> folders_;
    Map<uint8_t> direct_;
    std::string key_;  // the listing key of the path being probed
};

// The path test with its caches; scanners make one per section and pass it
// to every routine that tests references.
class PathChecks {
  public:
    explicit PathChecks(ScanContext& ctx);

    // True when the reference is a problem: it names, on a drive that is
    // tested, a file (or with acceptFolders a folder) that does not exist.
    // hint: a text the reference must contain (an App Paths key name, ".dll",
    // ".exe"); the reference is cut right after it. Never throws.
    bool IsMissingFile(std::string_view ref, std::string_view hint, bool acceptFolders);
    // "%SystemRoot%" and the like: the expansion when it names an existing
    // folder, else the token unchanged.
    std::string ExpandIfFolder(std::string_view token);

    FileProbe& probe() { return probe_; }
    ScanContext& ctx;

  private:
    bool missing(std::string_view ref, std::string_view hint, bool acceptFolders);
    bool missingWithoutHint(const std::string& p, bool acceptFolders);
    bool existsWithProgramExt(const std::string& c);

    FileProbe probe_;
    std::unordered_map<std::string, std::string> expanded_;
};

// Uncached forms, for callers that test a single reference.
bool IsMissingFile(ScanContext& ctx, std::string_view ref, std::string_view hint,
                   bool acceptFolders);
std::string ExpandIfFolder(Machine& machine, std::string_view token);

// Target path of a ".lnk" file; empty on any failure.
std::string ResolveShortcut(Machine& machine, std::string_view lnkPath);

// Values in a key and below it, as the empty-key tests count them. limit 0
// means none. With (true, true, 1), the only way scanners call it: walk down
// while the key has no value and exactly one subkey; 0 when that walk ends in
// a key with neither values nor subkeys (the key is empty), else the values
// of the key where it stopped, or its subkey count.
int CountValues(KeyHandle& key, bool countEmptyDefault, bool stopOnSubkeys, int limit,
                std::stop_token stop = {});
int CountValues(RegistryApi& registry, RootKey root, std::string_view path, bool countEmptyDefault,
                bool stopOnSubkeys, int limit, std::stop_token stop = {});
// CountValues(key, true, true, 1) == 0.
bool isEmptyKey(KeyHandle& key, std::stop_token stop = {});

// A key of a walk. Below HKEY_CLASSES_ROOT, which merges the user's classes
// over the machine's, a key that only the machine's classes hold (most of
// them) is read through the machine's key directly: it reads the same and
// costs less than the merged view. The user's and the machine's keys are
// kept only while both could contribute.
struct WalkKey {
    std::unique_ptr<KeyHandle> key;  // what the walk reads; null when absent
    std::unique_ptr<KeyHandle> user, machine;

    static WalkKey open(RegistryApi& registry, RootKey root, std::string_view path);
    WalkKey child(std::string_view name);
};

// Walks root\path and every key below it, depth first, and reports each
// string value whose data is a missing reference (pkValue, or pkDataValue
// when the value name holds a backslash). section selects the keys the hive
// walks leave to their own sections.
void ScanKeyTree(PathChecks& checks, RootKey root, std::string_view path,
                 std::string_view problemText, std::string_view hint, int section);

}  // namespace brisko
