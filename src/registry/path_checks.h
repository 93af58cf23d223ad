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
#include <vector>

#include "core/machine/registry_api.h"
#include "registry/file_probe.h"
#include "registry/scan_context.h"

namespace brisko {

class Machine;

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

    // On 64-bit Windows the program never judges what lies in the system or
    // the Program Files folders, under any spelling (8.3 aliases included).
    bool skippedOn64Bit(std::string_view target);

    FileProbe& probe() { return probe_; }
    ScanContext& ctx;

  private:
    bool missing(std::string_view ref, std::string_view hint, bool acceptFolders);
    bool missingWithoutHint(const std::string& p, bool acceptFolders);
    bool existsWithProgramExt(const std::string& c);

    FileProbe probe_;
    std::string tested_;  // the path the last reference came down to
    std::unordered_map<std::string, std::string> expanded_;
};

// Names the system folder, a Program Files folder or SysWOW64 (as text).
bool namesSystemFolder(std::string_view p);

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

// Walks root\path and every key below it, depth first, and reports each
// string value whose data is a missing reference (pkValue, or pkDataValue
// when the value name holds a backslash). section selects the keys the hive
// walks leave to their own sections.
void ScanKeyTree(PathChecks& checks, RootKey root, std::string_view path,
                 std::string_view problemText, std::string_view hint, int section);

}  // namespace brisko
