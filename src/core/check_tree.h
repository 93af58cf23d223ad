#pragma once
// A tree of nodes with check boxes, as the clean items and the registry
// sections are shown. It holds the data only; a window mirrors it and calls
// setChecked() when the user clicks a check box, so the check rules live here
// and are the same for every front end.
#include <array>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace brisko {

struct CheckNode {
    std::string caption;
    int imageIndex = 0;  // the icon; for top-level nodes also the FirstNodeExpand index
    int data = 0;        // routine or section code, free for the tree's owner
    bool checked = false;
    bool expanded = false;
    CheckNode* parent = nullptr;
    std::vector<std::unique_ptr<CheckNode>> children;

    // State image index as the tree view shows it: 1 unchecked, 2 checked.
    int stateIndex() const { return checked ? 2 : 1; }
    bool isTopLevel() const { return parent == nullptr; }
    int level() const;  // 0 for a top-level node
};

class CheckTree {
  public:
    CheckTree() = default;
    CheckTree(CheckTree&&) = default;
    CheckTree& operator=(CheckTree&&) = default;
    CheckTree(const CheckTree&) = delete;
    CheckTree& operator=(const CheckTree&) = delete;

    CheckNode& addTopLevel(std::string caption, int imageIndex, int data = 0);
    CheckNode& addChild(CheckNode& parent, std::string caption, int imageIndex, int data = 0);

    const std::vector<std::unique_ptr<CheckNode>>& topLevel() const { return roots_; }
    bool empty() const { return roots_.empty(); }

    // Every node, depth first, parents before children, in display order.
    std::vector<CheckNode*> nodes() const;
    void forEach(const std::function<void(CheckNode&)>& fn) const;

    // The first top-level node with this caption (exact).
    CheckNode* topLevelByCaption(std::string_view caption) const;
    // The first node, depth first, whose saved text (logCaption) equals text
    // exactly; nullptr when none does.
    CheckNode* findByLogCaption(std::string_view text) const;
    // The first node, depth first, with this image index.
    CheckNode* findByImageIndex(int imageIndex) const;

    void uncheckAll();
    void setAllExpanded(bool expanded);

  private:
    std::vector<std::unique_ptr<CheckNode>> roots_;
};

// The text that names a node in the log and in the settings: a top-level node's
// caption, or its parent's caption, " - " and its own ("Internet Explorer - Cookies").
std::string logCaption(const CheckNode& node);

// A click on a node's check box: the node takes the new state, passes it down
// to every node below it, and each node above it becomes checked exactly when
// at least one of its children is checked. These are the rules of both trees:
// a clean group checks or unchecks its items and an item updates its group;
// the registry root applies to the whole tree, a section to its hives, and a
// hive updates "Files and Folders" and then the root.
void setChecked(CheckNode& node, bool checked);
inline void toggleChecked(CheckNode& node) {
    setChecked(node, !node.checked);
}

// Expands or collapses a node and everything below it.
void setExpandedDeep(CheckNode& node, bool expanded);

// Expansion of top-level nodes, stored by image index (entry 0 unused).
// Saving walks the registry tree first and the clean tree second, so a clean
// group wins over a registry node with the same index.
inline constexpr int kExpandSlots = 11;
using ExpandArray = std::array<bool, kExpandSlots + 1>;
// Top-level nodes of both trees whose entry is set are expanded with all their
// descendants; the others are left as they are.
void applyExpansion(const ExpandArray& expand, CheckTree& sectionTree, CheckTree& cleanTree);
void copyExpansion(const CheckTree& sectionTree, const CheckTree& cleanTree, ExpandArray& expand);

// Check states stored by image index (the registry sections, entry 0 unused).
inline constexpr int kSectionSlots = 25;
using SectionCheckArray = std::array<bool, kSectionSlots + 1>;
// Every node whose image index is within the array takes the entry's state.
void applyNodeChecks(const SectionCheckArray& checks, CheckTree& tree);
// Entry [image index] = node checked, for every node within the array.
void copyNodeChecks(const CheckTree& tree, SectionCheckArray& checks);

}  // namespace brisko
