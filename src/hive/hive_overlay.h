#pragma once
// Changes to an open hive, kept in memory beside the file's bytes until a
// commit writes the whole hive anew. Nothing of the file is changed or grown:
// a changed key carries its own child or value list, an added key lives here
// entirely, and a deleted subtree is a set of nodes no longer to be found.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>

namespace brisko::hive {

using HiveNode = size_t;
class NameList;

// Keys of the file are known by their cell offsets, which are below 4 GB;
// added keys and values set in memory are numbered above, never reused.
inline constexpr HiveNode kAddedKeyBase = HiveNode(1) << 32;
inline constexpr size_t kSetValueBase = size_t(1) << 32;

struct KeyEdit {
    // Lists are shared with readers; one still held elsewhere is copied
    // before it is changed.
    std::shared_ptr<NameList> children;  // null: as the file lists them
    std::shared_ptr<NameList> values;    // null: as the file lists them
    int64_t lastWrite = 0;               // 0: as the file has it
};

struct AddedKey {
    HiveNode parent = 0;
    std::string name;
    uint32_t depth = 0;  // below the root
};

struct HiveOverlay {
    std::unordered_map<HiveNode, KeyEdit> edits;
    std::unordered_map<HiveNode, AddedKey> added;
    std::unordered_set<HiveNode> deleted;  // every key of each deleted subtree
};

}  // namespace brisko::hive
