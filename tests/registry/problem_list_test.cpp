#include "registry/problem_list.h"

#include <gtest/gtest.h>

#include <cctype>
#include <set>

#include "core/settings.h"

namespace brisko {
namespace {

RegistryProblem row(std::string problem, std::string keyPath, ProblemKind kind,
                    std::string data = "d") {
    return {false, std::move(problem), std::move(data), std::move(keyPath), kind};
}

TEST(ProblemList, StatusLine) {
    EXPECT_EQ(problemStatusText(0, 0), " 0 Errors Found,  0 Errors Selected.");
    std::vector<RegistryProblem> rows{row("A", "K\\1", pkKey), row("A", "K\\2", pkKey)};
    rows[1].checked = true;
    EXPECT_EQ(UpdateProblemStatus(rows), " 2 Errors Found,  1 Errors Selected.");
}

TEST(ProblemList, SelectAllOfTypeMatchesTheProblemTextExactly) {
    std::vector<RegistryProblem> rows{
        row("ActiveX Issue", "K\\1", pkKey),
        row("Shortcuts", "K\\2", pkKey),
        row("activex issue", "K\\3", pkKey),
        row("ActiveX Issue", "K\\4", pkKey),
    };
    setCheckedOfType(rows, 3, true);
    EXPECT_TRUE(rows[0].checked);
    EXPECT_FALSE(rows[1].checked);
    EXPECT_FALSE(rows[2].checked);
    EXPECT_TRUE(rows[3].checked);
    setAllChecked(rows, true);
    setCheckedOfType(rows, 1, false);
    EXPECT_EQ(checkedCount(rows), 3u);
    setCheckedOfType(rows, 99, false);  // nothing selected: nothing changes
    EXPECT_EQ(checkedCount(rows), 3u);
}

TEST(ProblemList, IgnoreCandidatesByKind) {
    using L = IgnoreListKind;
    auto c = [](RegistryProblem r) { return ignoreCandidate(r).value(); };
    EXPECT_EQ(c(row("p", "HKEY_CURRENT_USER\\A", pkKey)).entry, "HKEY_CURRENT_USER\\A");
    EXPECT_EQ(c(row("p", "HKEY_CURRENT_USER\\A", pkDefaultValue)).list, L::Key);
    EXPECT_EQ(c(row("p", "HKEY_CURRENT_USER\\A\\v", pkValue)).list, L::Value);
    EXPECT_EQ(c(row("p", "HKEY_CURRENT_USER\\A", pkDataValue, "C:\\x.dll")).entry,
              "HKEY_CURRENT_USER\\A\\C:\\x.dll");
    EXPECT_EQ(c(row("p", "HKEY_CURRENT_USER\\A", pkDataSubkey, "S")).entry,
              "HKEY_CURRENT_USER\\A\\S");
    EXPECT_EQ(c(row("p", "HKEY_USERS\\", pkDataSubkey, "S")).entry, "HKEY_USERS\\S");
    auto rot = c(row("p", "HKEY_CURRENT_USER\\Count", pkRot13Value, "UEME_RUNPATH"));
    EXPECT_EQ(rot.entry, "HKEY_CURRENT_USER\\Count\\HRZR_EHACNGU");
    EXPECT_EQ(rot.list, L::Value);
    EXPECT_EQ(c(row("p", "C:\\a.lnk", pkFile)).list, L::None);
    EXPECT_FALSE(ignoreCandidate(row("p", "HKEY_CURRENT_USER", pkKey)).has_value());
}

TEST(ProblemList, AddToIgnoreLists) {
    TOptionsSetting s;
    s.IgnoreKeyList = {"hkey_current_user\\software\\old"};
    s.IgnoreKeyCount = 1;
    std::vector<RegistryProblem> rows{
        row("p", "HKEY_CURRENT_USER\\Software\\Old", pkKey),     // already listed
        row("p", "HKEY_CURRENT_USER\\Software\\New", pkKey),     // added
        row("p", "C:\\Users\\me\\x.lnk", pkFile),                // dropped
        row("p", "HKEY_CURRENT_USER\\Software\\A\\v", pkValue),  // added
        row("p", "NoBackslash", pkKey),                          // skipped
    };
    EXPECT_EQ(addRowsToIgnoreLists(rows, {0, 1, 2, 3, 4}, s), 3u);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].keyPath, "HKEY_CURRENT_USER\\Software\\Old");
    EXPECT_EQ(rows[1].keyPath, "NoBackslash");
    EXPECT_EQ(s.IgnoreKeyList, (std::vector<std::string>{"hkey_current_user\\software\\old",
                                                         "HKEY_CURRENT_USER\\Software\\New"}));
    EXPECT_EQ(s.IgnoreKeyCount, 2);
    EXPECT_EQ(s.IgnoreValueList, (std::vector<std::string>{"HKEY_CURRENT_USER\\Software\\A\\v"}));
    EXPECT_EQ(s.IgnoreValueCount, 1);
    // Adding the same row again changes nothing.
    auto again = row("p", "HKEY_CURRENT_USER\\SOFTWARE\\A\\V", pkValue);
    EXPECT_EQ(addToIgnoreList(again, s), IgnoreAddResult::AlreadyListed);
    EXPECT_EQ(s.IgnoreValueList.size(), 1u);
    EXPECT_EQ(s.IgnoreValueCount, 1);
}

TEST(ProblemList, IgnoreDialogOkNeedsHkeyAnywhere) {
    EXPECT_FALSE(regAddOkEnabled("hkcu\\software"));
    EXPECT_FALSE(regAddOkEnabled(""));
    EXPECT_TRUE(regAddOkEnabled("hkey_current_user\\software"));
    EXPECT_TRUE(regAddOkEnabled("my HKEY_ thing"));
    EXPECT_TRUE(regAddOkEnabled("xhkey_"));
}

// The menu as a user meets it: groups parted by single separators, each
// action once, each caption with one accelerator no other item shares, and
// the row actions greyed out until a row is selected.
TEST(ProblemList, PopupMenuIsWellFormed) {
    const auto& menu = problemListMenu();
    ASSERT_FALSE(menu.empty());
    EXPECT_FALSE(menu.front().separator());
    EXPECT_FALSE(menu.back().separator());
    std::set<std::string> actions;
    std::set<char> keys;
    for (size_t i = 0; i < menu.size(); ++i) {
        const auto& item = menu[i];
        if (item.separator()) {
            EXPECT_FALSE(menu[i - 1].separator()) << "two separators at " << i;
            continue;
        }
        SCOPED_TRACE(std::string(item.caption));
        EXPECT_TRUE(actions.insert(std::string(item.action)).second);
        EXPECT_EQ(problemActionCaption(item.action), item.caption);
        size_t amp = item.caption.find('&');
        ASSERT_NE(amp, std::string_view::npos);
        EXPECT_EQ(item.caption.find('&', amp + 1), std::string_view::npos);
        EXPECT_TRUE(keys.insert(char(std::toupper(item.caption[amp + 1]))).second);
        const bool rowAction = item.action != "aSelectAll" && item.action != "aSelectNone" &&
                               item.action != "aSaveText";
        EXPECT_EQ(menuItemEnabled(item, false, true), !rowAction);
        EXPECT_TRUE(menuItemEnabled(item, true, true));
    }
    EXPECT_FALSE(menuItemEnabled(menu[menu.size() - 3], true, false));  // Save as Text, no rows
}

TEST(ProblemList, Rot13IsItsOwnInverse) {
    EXPECT_EQ(Rot13("Hello, World! 123"), "Uryyb, Jbeyq! 123");
    EXPECT_EQ(Rot13(Rot13("UEME_RUNPATH:C:\\Prog\\x.exe")), "UEME_RUNPATH:C:\\Prog\\x.exe");
    EXPECT_EQ(Rot13("\xc3\xa9z"), "\xc3\xa9m");  // bytes beyond ASCII stay
}

}  // namespace
}  // namespace brisko
