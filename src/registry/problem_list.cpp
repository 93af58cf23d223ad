#include "registry/problem_list.h"

#include <algorithm>
#include <functional>

#include "base/text.h"
#include "core/settings.h"

namespace brisko {

std::string problemStatusText(size_t total, size_t checked) {
    return " " + std::to_string(total) + " Errors Found, " + " " + std::to_string(checked) +
           " Errors Selected.";
}

size_t checkedCount(const std::vector<RegistryProblem>& rows) {
    return size_t(std::count_if(rows.begin(), rows.end(), [](auto& r) { return r.checked; }));
}

std::string UpdateProblemStatus(const std::vector<RegistryProblem>& rows) {
    return problemStatusText(rows.size(), checkedCount(rows));
}

void setAllChecked(std::vector<RegistryProblem>& rows, bool checked) {
    for (auto& r : rows) r.checked = checked;
}

void setCheckedOfType(std::vector<RegistryProblem>& rows, size_t selected, bool checked) {
    if (selected >= rows.size()) return;
    const std::string type = rows[selected].problem;
    for (auto& r : rows)
        if (r.problem == type) r.checked = checked;
}

std::optional<IgnoreCandidate> ignoreCandidate(const RegistryProblem& row) {
    if (row.keyPath.find('\\') == std::string::npos) return std::nullopt;
    switch (row.kind) {
        case pkKey:
        case pkDefaultValue:
            return IgnoreCandidate{IgnoreListKind::Key, row.keyPath};
        case pkValue:
            return IgnoreCandidate{IgnoreListKind::Value, row.keyPath};
        case pkDataValue:
            return IgnoreCandidate{IgnoreListKind::Value, row.keyPath + "\\" + row.data};
        case pkDataSubkey:
            return IgnoreCandidate{IgnoreListKind::Key, row.keyPath.back() == '\\'
                                                            ? row.keyPath + row.data
                                                            : row.keyPath + "\\" + row.data};
        case pkRot13Value:
            return IgnoreCandidate{IgnoreListKind::Value, row.keyPath + "\\" + Rot13(row.data)};
        case pkFile:
            break;
    }
    return IgnoreCandidate{};
}

IgnoreAddResult addToIgnoreList(const RegistryProblem& row, TOptionsSetting& settings) {
    auto c = ignoreCandidate(row);
    if (!c) return IgnoreAddResult::Skipped;
    if (c->list == IgnoreListKind::None) return IgnoreAddResult::Dropped;
    bool keys = c->list == IgnoreListKind::Key;
    auto& list = keys ? settings.IgnoreKeyList : settings.IgnoreValueList;
    auto& count = keys ? settings.IgnoreKeyCount : settings.IgnoreValueCount;
    for (const auto& e : list)
        if (equalsNoCase(e, c->entry)) return IgnoreAddResult::AlreadyListed;
    list.push_back(c->entry);
    // The count is what the settings file stores; keep it covering the new entry.
    count = std::max<int32_t>(count + 1, int32_t(list.size()));
    return IgnoreAddResult::Added;
}

size_t addRowsToIgnoreLists(std::vector<RegistryProblem>& rows, std::vector<size_t> selected,
                            TOptionsSetting& settings) {
    std::sort(selected.begin(), selected.end(), std::greater<>());
    selected.erase(std::unique(selected.begin(), selected.end()), selected.end());
    size_t removed = 0;
    for (size_t i : selected) {
        if (i >= rows.size()) continue;
        if (rowLeavesList(addToIgnoreList(rows[i], settings))) {
            rows.erase(rows.begin() + std::ptrdiff_t(i));
            ++removed;
        }
    }
    return removed;
}

bool regAddOkEnabled(std::string_view text) {
    return upperCase(text).find("HKEY_") != std::string::npos;
}

const std::vector<ProblemMenuItem>& problemListMenu() {
    static const std::vector<ProblemMenuItem> menu = {
        {"aSelectItem", "&Select Item", MenuEnable::RowSelected},
        {"aDeselectItem", "&Deselect Item", MenuEnable::RowSelected},
        {"", "-"},
        {"aSelectAllType", "Select All of T&ype", MenuEnable::RowSelected},
        {"aUnselectAllType", "Deselect A&ll of Type", MenuEnable::RowSelected},
        {"", "-"},
        {"aSelectAll", "Select &All", MenuEnable::Always},
        {"aSelectNone", "D&eselect All", MenuEnable::Always},
        {"", "-"},
        {"aIgnoreListAdd", "Add to &Ignore Lists", MenuEnable::RowSelected},
        {"", "-"},
        {"aSaveText", "Save as &Text...", MenuEnable::HasRows},
        {"", "-"},
        {"aOpenRegedit", "&RegEdit...", MenuEnable::RowSelected},
    };
    return menu;
}

bool menuItemEnabled(const ProblemMenuItem& item, bool rowSelected, bool hasRows) {
    switch (item.enable) {
        case MenuEnable::RowSelected:
            return rowSelected;
        case MenuEnable::HasRows:
            return hasRows;
        case MenuEnable::Always:
            break;
    }
    return true;
}

std::string_view problemActionCaption(std::string_view action) {
    for (const auto& item : problemListMenu())
        if (!item.separator() && item.action == action) return item.caption;
    return {};
}

}  // namespace brisko
