#pragma once
// One open hive file. hivex holds the hive in memory; every call goes through
// one mutex, so the scan and the clean worker can share a hive. hivex finds a
// child by a linear scan and knows nothing of class names or security
// descriptors, so this class adds name-indexed child lists (kept for large
// keys), reads classes and descriptors from the file itself, and guards the
// hivex edits that could leave a half-changed hive behind.
#include <sys/stat.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/machine/reg_tree.h"
#include "core/machine/registry_api.h"

typedef struct hive_h hive_h;

namespace brisko {

using HiveNode = size_t;

// Registry names compare without regard to case, for non-ASCII letters too.
std::string foldRegistryName(std::string_view name);
bool sameRegistryName(std::string_view a, std::string_view b);

// Names in stored order with their hive positions. Immutable once built, so a
// list can be shared between handles on different threads.
class NameList {
  public:
    std::vector<std::string> names;
    std::vector<size_t> refs;     // nodes or values
    std::vector<uint32_t> sizes;  // data sizes (values only)
    uint32_t maxNameLen = 0;      // UTF-16 units
    uint32_t maxDataLen = 0;

    size_t size() const { return names.size(); }
    // Position of a name, trying `hint` first (walks open names in order).
    std::optional<size_t> find(std::string_view name, size_t hint = 0) const;
    // Builds the folded-name index; done for long lists before sharing.
    void index();

  private:
    std::unordered_map<std::string, size_t> byFolded_;
};

// Where an edit goes wrong, hivex may already have changed part of the hive;
// these limits keep every edit to what it can finish.
inline constexpr size_t kHiveMaxValueData = 999'996;  // hivex allocates cells below 1 MB
inline constexpr size_t kHiveMaxDepth = 512;          // Windows' nesting limit

// What opening a hive found.
enum class HiveHealth {
    Clean,      // sound, nothing to replay
    Recovered,  // was dirty; its transaction logs were replayed in memory
    Damaged,    // read as far as it goes; every change to it is refused
};

struct HiveState {
    HiveHealth health = HiveHealth::Clean;
    std::string reason;     // Damaged: why, for a person; Recovered: which logs were replayed
    size_t logEntries = 0;  // Recovered: log entries (or dirty pages) applied
    std::vector<std::filesystem::path> logsUsed;
};

class Hive {
  public:
    // Opens a regf file for reading and in-memory editing. nullptr and a
    // reason when it is missing, not a hive, or damaged beyond its root.
    static std::shared_ptr<Hive> open(const std::filesystem::path& file, std::string* error);
    ~Hive();
    Hive(const Hive&) = delete;
    Hive& operator=(const Hive&) = delete;

    const std::filesystem::path& file() const { return file_; }
    // The file name the base block carries ("\SystemRoot\System32\Config\SOFTWARE").
    const std::string& embeddedName() const { return embeddedName_; }
    HiveNode root() const { return root_; }
    // Changes on every edit; lists taken at an older generation may be stale.
    uint64_t generation() const { return gen_.load(std::memory_order_acquire); }
    bool isOpen();
    // False once the key was deleted (or the hive closed).
    bool alive(HiveNode node);

    // Children and values in stored order; nullptr when the key is gone.
    // A damaged list reads as empty. `gen` receives the generation read.
    std::shared_ptr<const NameList> children(HiveNode node, uint64_t* gen = nullptr);
    std::shared_ptr<const NameList> values(HiveNode node, uint64_t* gen = nullptr);
    // One value's data. `list` at `listGen` gives the fast path; a stale list
    // falls back to a lookup by name.
    std::optional<RegValue> value(HiveNode node, const NameList& list, size_t index,
                                  uint64_t listGen);
    std::optional<RegValue> value(HiveNode node, std::string_view name);
    int64_t lastWrite(HiveNode node);
    std::string className(HiveNode node);

    // Edits; false (or 0) leaves the hive unchanged.
    HiveNode addChild(HiveNode parent, std::string_view name);  // existing child if present
    bool deleteChild(HiveNode parent, std::string_view name);   // with its subtree
    bool setValue(HiveNode node, std::string_view name, uint32_t type,
                  std::span<const uint8_t> data);
    bool deleteValue(HiveNode node, std::string_view name);

    // Clean, recovered from its logs, or damaged (then read-only).
    HiveState state() const;
    // False for a damaged hive or one whose logs could not be applied.
    bool writable() const;
    // Why edits are refused, for a person ("The registry hive ... is damaged
    // (...); nothing was changed."); empty when writable.
    std::string readOnlyReason() const;
    // False once the file on disk is no longer the one this hive was read
    // from (or last committed to): another program changed it.
    bool fileUnchanged() const;

    bool dirty();
    // Writes the in-memory hive over its file: beside it, flushed, renamed,
    // folder flushed. On failure the file is untouched and the hive stays dirty.
    bool commit(std::string* error);
    // The two halves of commit(), for a commit spanning several hives: the
    // whole hive written densely to `temp` (a new file beside the hive) and
    // flushed; then, once the caller has renamed `temp` over file(), the logs
    // are reset and the hive counts as clean.
    bool writeCommitCopy(const std::filesystem::path& temp, std::string* error);
    void commitLanded();
    // Forgets every change since the last commit.
    void discardChanges();
    // The whole hive as a key tree, with uncommitted changes, classes and
    // security descriptors: what a hive save writes.
    std::unique_ptr<RegTreeKey> snapshot(std::string* error);
    // Releases hivex; every later call finds nothing.
    void close();

  private:
    Hive() = default;
    // The members below expect mutex_ held.
    std::shared_ptr<NameList> readChildren(HiveNode node);
    std::shared_ptr<NameList> readValues(HiveNode node);
    bool nodeValid(HiveNode node);
    std::optional<RegValue> readValue(HiveNode node, size_t ref, std::string name);
    bool originalValueSafe(size_t ref);
    const uint8_t* originalKey(HiveNode node);
    bool rewriteValues(HiveNode node, std::vector<RegValue>& list);
    bool subtreeDeletable(HiveNode node, HiveNode parent, size_t depth,
                          std::unordered_set<HiveNode>& seen);
    bool indexSupportsDelete(HiveNode parent);
    std::vector<uint8_t> securityOf(HiveNode node,
                                    std::unordered_map<uint32_t, std::vector<uint8_t>>& cache);
    std::string classOf(HiveNode node);
    void changed(HiveNode listChanged);
    void fill(RegTreeKey& out, HiveNode node, size_t depth, std::unordered_set<HiveNode>& seen,
              std::unordered_map<uint32_t, std::vector<uint8_t>>& sdCache);

    void rememberFile();

    std::filesystem::path file_;
    struct FileId {
        dev_t dev = 0;
        ino_t ino = 0;
        off_t size = 0;
        struct timespec mtime {};
    } fileId_;
    std::string embeddedName_;
    std::mutex mutex_;
    hive_h* h_ = nullptr;
    HiveNode root_ = 0;
    std::atomic<uint64_t> gen_{1};
    bool dirty_ = false;
    // The file as opened (mapped), for what hivex cannot tell: keys that
    // existed then still sit at their old offsets, as hivex appends and never
    // reuses space. Keys it added and keys whose values it rewrote are its own.
    const uint8_t* original_ = nullptr;
    uint64_t originalSize_ = 0;
    std::unordered_set<HiveNode> created_;
    std::unordered_set<HiveNode> rewritten_;
    // Child lists of large keys, so repeated opens below them stay cheap.
    std::unordered_map<HiveNode, std::shared_ptr<const NameList>> bigLists_;
    size_t bigListEntries_ = 0;
};

// Replaces `file` with `content` atomically and durably: a fresh temporary
// beside it (never following a link planted there), flushed, renamed over,
// the folder flushed.
bool writeFileAtomically(const std::filesystem::path& file, std::string_view content,
                         std::string* error);

}  // namespace brisko
