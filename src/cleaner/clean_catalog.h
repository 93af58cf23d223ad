#pragma once
// The catalogue of clean items: eleven groups with their items, in the order
// the Cleaner pane shows them. Items are named by their log caption
// ("Internet Explorer - Cookies"), which selects the routine that cleans them.
#include <string>
#include <string_view>
#include <vector>

#include "core/check_tree.h"

namespace brisko {

// Image indexes of the groups (also their FirstNodeExpand index).
enum CleanGroupImage : int {
    kImgInternetExplorer = 1,
    kImgWindows = 2,
    kImgNetscape = 3,
    kImgOpera = 4,
    kImgFirefox = 5,
    kImgAdvanced = 6,
    kImgOffice = 7,
    kImgMessengers = 8,
    kImgApplications = 9,
    kImgCustomLists = 10,
    kImgChrome = 11,
};

inline constexpr std::string_view kApplicationsGroup = "Applications";
inline constexpr std::string_view kCustomListsGroup = "Custom Lists";
inline constexpr std::string_view kNewListItem = "<New List>";

struct CleanGroupDef {
    std::string_view caption;
    int imageIndex;
    std::vector<std::string_view> items;
};

// The fixed catalogue in display order ("Applications" has no items here).
const std::vector<CleanGroupDef>& cleanCatalog();

// Builds the clean tree: every group unchecked and collapsed; each item has its
// group's image index and data = group image index * 100 + its 1-based position.
CheckTree buildCleanTree();

// The "Applications" group, or nullptr when the tree has none.
CheckNode* applicationsGroup(CheckTree& tree);
// Appends an installed application found in the data file to "Applications".
// Returns nullptr when the tree has no such group.
CheckNode* addApplicationItem(CheckTree& tree, std::string caption);

// The log captions of every checked item below the top level, in tree order:
// the job list of a run.
std::vector<std::string> checkedJobCaptions(const CheckTree& tree);

}  // namespace brisko
