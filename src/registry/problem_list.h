#pragma once
// The problem list's actions as plain functions over rows: the status line,
// select and deselect (also by problem type), turning a row into an ignore-list
// entry, the ignore dialog's OK rule and the pop-up menu.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "registry/registry_problem.h"

namespace brisko {

struct TOptionsSetting;

// " 5 Errors Found,  3 Errors Selected."
std::string problemStatusText(size_t total, size_t checked);
std::string UpdateProblemStatus(const std::vector<RegistryProblem>& rows);
size_t checkedCount(const std::vector<RegistryProblem>& rows);

void setAllChecked(std::vector<RegistryProblem>& rows, bool checked);
// Checks or unchecks every row whose problem text equals the text of row
// `selected` (exactly, letter case included). Nothing when selected is out of range.
void setCheckedOfType(std::vector<RegistryProblem>& rows, size_t selected, bool checked);

enum class IgnoreListKind { None, Key, Value };
struct IgnoreCandidate {
    IgnoreListKind list = IgnoreListKind::None;  // None: a pkFile row, nothing to add
    std::string entry;
};
// The entry a row adds to an ignore list; nullopt when the row is skipped
// (its keyPath holds no "\").
std::optional<IgnoreCandidate> ignoreCandidate(const RegistryProblem& row);

enum class IgnoreAddResult {
    Skipped,        // no candidate: the row stays
    AlreadyListed,  // the entry is in its list already: the row stays, the list is unchanged
    Added,          // appended to its list: the row goes
    Dropped,        // a file row: nothing to add, the row goes
};
// Adds the row's entry to the settings' ignore list; the row must be removed
// from the list when the result is Added or Dropped.
IgnoreAddResult addToIgnoreList(const RegistryProblem& row, TOptionsSetting& settings);
inline bool rowLeavesList(IgnoreAddResult r) {
    return r == IgnoreAddResult::Added || r == IgnoreAddResult::Dropped;
}

// "Add to &Ignore Lists" over the selected rows (from the last to the first);
// removes the rows that went into a list. Returns how many rows were removed.
size_t addRowsToIgnoreLists(std::vector<RegistryProblem>& rows, std::vector<size_t> selected,
                            TOptionsSetting& settings);

// The ignore-list entry dialog (TfrmRegAddRegistry): "&OK" is enabled while the
// upper-cased text contains "HKEY_" anywhere.
bool regAddOkEnabled(std::string_view text);
inline constexpr std::string_view kRegAddCaption = "Add to Ignore List";
inline constexpr std::string_view kRegAddGroupLabel = "Registry Key";
inline constexpr std::string_view kRegAddHint =
    "Enter the value or key like: HKEY_CURRENT_USER\\Software\\Microsoft";

// The pop-up menu of the problem list, in order.
enum class MenuEnable { Always, RowSelected, HasRows };
struct ProblemMenuItem {
    std::string_view action;   // "aSelectItem"; empty for a separator
    std::string_view caption;  // "&Select Item"; "-" for a separator
    MenuEnable enable = MenuEnable::Always;
    bool separator() const { return action.empty(); }
};
const std::vector<ProblemMenuItem>& problemListMenu();
bool menuItemEnabled(const ProblemMenuItem& item, bool rowSelected, bool hasRows);
// Caption of an action of the Registry pane ("aSelectAllType" -> "Select All of T&ype").
std::string_view problemActionCaption(std::string_view action);

}  // namespace brisko
