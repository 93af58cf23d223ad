#pragma once
// One open hive file. The file is read whole into memory of its own (so that
// another program rewriting it cannot pull pages from under the reader), its
// transaction logs replayed there when it is dirty, and checked on open; edits
// live in an overlay beside it until a commit writes the whole hive anew,
// densely. Every call goes through one mutex, so the scan and the clean
// worker can share a hive.
#include <sys/stat.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "base/atomic_file.h"
#include "base/reg_tree.h"
#include "base/reg_value.h"
#include "hive/hive_overlay.h"
#include "hive/hive_reader.h"

namespace brisko::hive {

using HiveNode = size_t;

// Registry names compare without regard to case, for non-ASCII letters too.
std::string foldRegistryName(std::string_view name);
bool sameRegistryName(std::string_view a, std::string_view b);

// Names in stored order with their hive positions. Immutable once shared, so
// a list can be handed to handles on different threads; the hive changes its
// own lists only while nobody else holds them.
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
    // Builds the name index; done for long lists before sharing.
    void index();
    // Edits of a list nobody else holds.
    void append(std::string name, size_t ref);
    void append(std::string name, size_t ref, uint32_t size);  // values
    void replace(size_t i, size_t ref, uint32_t size);
    void erase(size_t i);

  private:
    void indexAt(size_t i);
    void unindex(size_t i);

    // Positions + 1 by the hash of the folded name, probed in turn; 0 is a
    // free slot. A power of two, at least twice the names.
    std::vector<uint32_t> slots_;
};

// What one value can hold: 65535 "db" segments.
inline constexpr size_t kHiveMaxValueData = size_t(0xFFFF) * 16344;
inline constexpr size_t kHiveMaxDepth = 512;  // Windows' nesting limit

// What opening a hive found.
enum class HiveHealth {
    Clean,      // sound, nothing to replay
    Recovered,  // was dirty; its transaction logs were replayed in memory
    Damaged,    // read as far as it goes; every change to it is refused
    AsStored,   // not closed cleanly, with no transaction logs to replay: used as the file
                // holds it, and writable like a clean hive
};

struct HiveState {
    HiveHealth health = HiveHealth::Clean;
    std::string reason;     // Damaged: why, for a person; Recovered: which logs were replayed;
                            // AsStored: that it was not closed cleanly
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
    // A key's values with their data, read in one go into `out`, whose
    // entries and buffers are reused from call to call: the first n are the
    // key's, in stored order. Values whose data cannot be read are left out.
    // nullopt when the key is gone.
    std::optional<size_t> readAllValues(HiveNode node, std::vector<RegValue>& out);
    // A key's subkeys (name and node) into reused entries the same way. `gen`
    // receives the generation read.
    struct Child {
        std::string name;
        HiveNode node = 0;
    };
    std::optional<size_t> readAllChildren(HiveNode node, std::vector<Child>& out, uint64_t* gen);
    int64_t lastWrite(HiveNode node);
    std::string className(HiveNode node);
    // The key's self-relative security descriptor; an added key has the one
    // of the nearest key above it that the file holds. Empty when unreadable.
    std::vector<uint8_t> securityDescriptor(HiveNode node);
    // Calls f(reader, root) under the hive's lock when the bytes read are the
    // whole hive (no change held in memory); false, without calling f, otherwise.
    bool withCells(const std::function<void(const HiveReader&, uint32_t root)>& f);

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
    // Writes what snapshot() holds, densely, to `target` (replaced atomically),
    // or into a file being made. A hive without changes in memory is written
    // straight from its cells.
    // The copy keeps the base block's version, GUIDs and flags; `reorganized`
    // (a defrag's copy) is written as the time of the last reorganization.
    bool saveCompact(const std::filesystem::path& target, std::string* error);
    bool writeCompact(TempFileBeside& out, std::string* error, int64_t reorganized = 0);
    // Releases the file; every later call finds nothing.
    void close();

  private:
    Hive() = default;
    // The members below expect mutex_ held.
    bool load(std::string* error);
    bool nodeValid(HiveNode node) const;
    std::shared_ptr<const NameList> readChildren(HiveNode node);
    std::shared_ptr<const NameList> readValues(HiveNode node);
    std::shared_ptr<NameList> baseChildren(uint32_t nk);
    std::shared_ptr<NameList> baseValues(uint32_t nk);
    std::optional<RegValue> readValue(size_t ref, std::string name) const;
    bool readValueInto(size_t ref, RegValue& out) const;
    const NameList* editedList(HiveNode node, bool values) const;
    const std::shared_ptr<NameList>& childrenForEdit(HiveNode node, KeyEdit& edit);
    const std::shared_ptr<NameList>& valuesForEdit(HiveNode node, KeyEdit& edit);
    template <class ReadBase>
    const std::shared_ptr<NameList>& ownList(std::shared_ptr<NameList>& list, HiveNode node,
                                             ReadBase readBase);
    KeyEdit* editOf(HiveNode node);
    void touch(KeyEdit& edit);
    uint32_t depthOf(HiveNode node) const;
    void markDeleted(HiveNode node, uint32_t depth);
    uint32_t securityCellOf(HiveNode node) const;
    void changed(HiveNode listChanged);
    std::string refuseEdit() const;
    bool fill(RegTreeKey& out, HiveNode node, uint32_t depth, bool strict,
              std::unordered_map<uint32_t, std::vector<uint8_t>>& descriptors, std::string* error);
    bool writeCopy(TempFileBeside& out, std::string* error);
    bool sameFile() const;
    bool overlayEmpty() const;
    void landed();
    void rememberFile();

    std::filesystem::path file_;
    struct FileId {
        dev_t dev = 0;
        ino_t ino = 0;
        off_t size = 0;
        struct timespec mtime {};
    } fileId_;
    std::string embeddedName_;
    std::vector<uint8_t> baseBlock_;  // the first 512 bytes as read (recovered), kept by rewrites
    mutable std::mutex mutex_;
    bool open_ = false;
    // The bytes read: the file's copy, or the buffer the logs were replayed into.
    const uint8_t* map_ = nullptr;
    size_t mapSize_ = 0;
    std::vector<uint8_t> recovered_;
    HiveReader reader_;
    mutable HiveState state_;  // settled with the key check
    // The key check runs on a thread of its own after the open, beside
    // whatever the caller reads; what needs its verdict (health, whether
    // edits are allowed, a write) waits for it first. Settled lazily, hence mutable.
    mutable std::thread checker_;
    mutable bool checkPending_ = false;
    std::string checkFound_;  // what the checker found wrong; written by it alone
    void startKeyCheck();
    void settleCheck() const;
    void markDamaged(const std::string& damage) const;
    mutable std::string readOnly_;             // why edits are refused; empty when writable
    std::vector<std::filesystem::path> logs_;  // the transaction logs beside the file
    uint32_t highestSequence_ = 0;             // a commit numbers its base block past this
    HiveNode root_ = 0;
    std::atomic<uint64_t> gen_{1};
    bool dirty_ = false;
    HiveOverlay overlay_;
    HiveOverlay committed_;            // the overlay as the file now holds it
    std::vector<RegValue> setValues_;  // data set in memory, by ref - kSetValueBase
    uint64_t nextAdded_ = 0;
    uint32_t pendingSequence_ =
        0;  // what the last commit copy was numbered  // the overlay as the file now holds it
    // Child lists of large keys as read from the file, so repeated opens below
    // them stay cheap.
    std::unordered_map<HiveNode, std::shared_ptr<const NameList>> bigLists_;
    size_t bigListEntries_ = 0;
};

}  // namespace brisko::hive
