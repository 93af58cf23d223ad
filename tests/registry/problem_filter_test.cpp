#include "registry/problem_filter.h"

#include <gtest/gtest.h>

#include "core/machine/registry_api.h"

namespace brisko {
namespace {

RegistryProblem row(std::string keyPath, ProblemKind kind, std::string data = "x") {
    return {true, "Problem", std::move(data), std::move(keyPath), kind};
}

bool filtered(const RegistryProblem& r, const std::vector<std::string>& keys = {},
              const std::vector<std::string>& values = {}, int version = 12) {
    std::vector<RegistryProblem> rows{r};
    return FilterProblems(rows, keys, values, version) == 1;
}

// Each built-in entry keeps the fix away from its key, under whatever root
// the row names it: HKEY_CURRENT_USER entries cover the user's key in
// HKEY_USERS, HKEY_CLASSES_ROOT entries the machine's Software\\Classes.
TEST(ProblemFilter, BuiltInEntriesCoverTheirKeysUnderEveryRoot) {
    const std::string sid = "S-1-5-21-1-2-3-1001";
    auto lists = makeFilterLists({}, {}, 12, KeyIdentity(sid));
    auto covered = [&](std::string path) { return removedByLists(row(path, pkKey), lists); };
    for (std::string_view entry : ListBox1) {
        SCOPED_TRACE(std::string(entry));
        std::string sub;
        auto root = parseRoot(entry, &sub);
        if (!root) {  // the misspelt root: the key it meant stays unprotected
            EXPECT_FALSE(covered("HKEY_LOCAL_MACHINE\\Software\\ARM Software\\MacroMaker"));
            continue;
        }
        EXPECT_TRUE(covered(std::string(entry) + "\\Sub"));
        EXPECT_FALSE(covered(std::string(entry) + "X"));
        if (*root == RootKey::CurrentUser) {
            EXPECT_TRUE(covered("HKEY_USERS\\" + sid + "\\" + sub + "\\Sub"));
        }
        if (*root == RootKey::ClassesRoot) {
            EXPECT_TRUE(covered("HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\" + sub + "\\Sub"));
            EXPECT_TRUE(covered("HKEY_USERS\\" + sid + "_Classes\\" + sub));
        }
    }
    // Another user's key is not the current user's.
    EXPECT_FALSE(covered("HKEY_USERS\\S-1-5-21-9-9-9-1002\\Software\\Lexmark"));
}

TEST(ProblemFilter, BuiltInKeyCoversItsSubtreeAndItsAncestors) {
    EXPECT_TRUE(filtered(row("HKEY_CURRENT_USER\\Software\\Lexmark\\Printer", pkKey)));
    EXPECT_TRUE(filtered(row("HKEY_CURRENT_USER\\Software\\Lexmark", pkKey)));
    // The fix of an ancestor would take the excluded key with it.
    EXPECT_TRUE(filtered(row("HKEY_CURRENT_USER\\Software", pkKey)));
    EXPECT_TRUE(filtered(row("hkey_current_user\\software\\lexmark\\x", pkValue)));
    // A sibling whose name merely starts the same is not excluded.
    EXPECT_FALSE(filtered(row("HKEY_CURRENT_USER\\Software\\LexmarkTools", pkKey)));
    EXPECT_FALSE(filtered(row("HKEY_CURRENT_USER\\Software\\Other", pkKey)));
    // Matching is by containment, also where a key name itself holds a root name.
    EXPECT_TRUE(filtered(row("HKEY_USERS\\x\\HKEY_CURRENT_USER\\Software\\Lexmark\\y", pkKey)));
    EXPECT_TRUE(
        filtered(row("HKEY_CURRENT_USER\\Y", pkKey), {"HKEY_USERS\\x\\HKEY_CURRENT_USER\\Y\\z"}));
    // The misspelt root never matches anything.
    EXPECT_FALSE(filtered(row("HKEY_LOCAL_MACHINE\\Software\\ARM Software\\MacroMaker", pkKey)));
}

TEST(ProblemFilter, SubkeyRowsAreJudgedByTheSubkey) {
    EXPECT_TRUE(filtered(row("HKEY_CURRENT_USER\\Software", pkDataSubkey, "Lexmark")));
    EXPECT_TRUE(filtered(row("HKEY_CURRENT_USER\\Software", pkDataSubkey, "JavaSoft")));
    EXPECT_FALSE(filtered(row("HKEY_CURRENT_USER\\Software", pkDataSubkey, "Acme")));
    EXPECT_FALSE(filtered(row("HKEY_CURRENT_USER\\", pkDataSubkey, "Acme")));
}

TEST(ProblemFilter, IgnoredValueCoversTheValueAndTheKeysAboveIt) {
    std::vector<std::string> values{"HKEY_CURRENT_USER\\Software\\A\\Run1"};
    EXPECT_TRUE(filtered(row("hkey_current_user\\software\\a\\run1", pkValue), {}, values));
    EXPECT_TRUE(filtered(row("HKEY_CURRENT_USER\\Software\\A", pkKey), {}, values));
    EXPECT_TRUE(filtered(row("HKEY_CURRENT_USER\\Software\\A", pkDataValue, "RUN1"), {}, values));
    EXPECT_FALSE(filtered(row("HKEY_CURRENT_USER\\Software\\A\\Run2", pkValue), {}, values));
    EXPECT_FALSE(filtered(row("HKEY_CURRENT_USER\\Software\\A", pkDefaultValue), {}, values));
    // A value under Software\AB does not protect the key Software\A beside it.
    std::vector<std::string> other{"HKEY_CURRENT_USER\\Software\\AB\\Run1"};
    EXPECT_FALSE(filtered(row("HKEY_CURRENT_USER\\Software\\A", pkKey), {}, other));
}

TEST(ProblemFilter, EncodedAndDefaultValuesUseTheirStoredNames) {
    std::string key = "HKEY_CURRENT_USER\\Software\\UA\\Count";
    std::vector<std::string> values{key + "\\" + Rot13("UEME_RUNPATH:C:\\x.exe"), key + "\\@"};
    EXPECT_TRUE(filtered(row(key, pkRot13Value, "UEME_RUNPATH:C:\\x.exe"), {}, values));
    EXPECT_TRUE(filtered(row(key, pkDefaultValue, "C:\\x.wav"), {}, values));
    EXPECT_FALSE(filtered(row(key, pkRot13Value, "UEME_RUNPATH:C:\\y.exe"), {}, values));
}

TEST(ProblemFilter, UserKeyEntries) {
    std::vector<std::string> keys{"hkey_local_machine\\software\\acme\\"};
    EXPECT_TRUE(filtered(row("HKEY_LOCAL_MACHINE\\SOFTWARE\\Acme\\Sub", pkKey), keys));
    EXPECT_TRUE(filtered(row("HKEY_LOCAL_MACHINE\\SOFTWARE\\Acme\\v", pkValue), keys));
    // A value row whose full path is listed as a key.
    std::vector<std::string> valueAsKey{"HKEY_LOCAL_MACHINE\\SOFTWARE\\Other\\v"};
    EXPECT_TRUE(filtered(row("HKEY_LOCAL_MACHINE\\SOFTWARE\\Other\\v", pkValue), valueAsKey));
    EXPECT_FALSE(filtered(row("HKEY_LOCAL_MACHINE\\SOFTWARE\\Acmes", pkKey), keys));
}

TEST(ProblemFilter, EmptyIgnoreEntriesFilterNothing) {
    std::vector<std::string> empty{"", "  ", "\\\\"};
    auto r = row("HKEY_LOCAL_MACHINE\\SOFTWARE\\Acme", pkKey);
    EXPECT_FALSE(filtered(r, empty, empty));
    EXPECT_FALSE(filtered(row("HKEY_LOCAL_MACHINE\\SOFTWARE\\Acme\\v", pkValue), empty, empty));
    auto lists = makeFilterLists(empty, empty, 12);
    EXPECT_EQ(lists.keys.size(), ListBox1.size() + ListBox2.size());
    EXPECT_TRUE(lists.values.empty());
}

TEST(ProblemFilter, FileRowsOnlyMeetTheFixedRules) {
    std::vector<std::string> all{"C:\\", "HKEY_CURRENT_USER"};
    EXPECT_FALSE(filtered(row("C:\\Users\\me\\Desktop\\a.lnk", pkFile, "C:\\gone.exe"), all, all));
    EXPECT_TRUE(filtered(row("C:\\Users\\me\\Desktop\\a.lnk", pkFile, "C:\\g?ne.exe")));
}

TEST(ProblemFilter, FixedRules) {
    EXPECT_TRUE(removedByFixedRules(
        row("HKEY_CLASSES_ROOT\\clsid\\{dfeaf541-f3e1-4c24-acac-99c30715084a}\\x", pkKey)));
    EXPECT_TRUE(removedByFixedRules(
        row("HKEY_CLASSES_ROOT\\CLSID\\{DC6EFB56-9CFA-464D-8880-44885D7DC193}", pkKey)));
    EXPECT_TRUE(removedByFixedRules(row("HKEY_USERS\\%username%_x", pkKey)));
    EXPECT_TRUE(removedByFixedRules(row("HKEY_USERS\\x", pkKey, "C:\\%UserName%_1\\a")));
    // Question marks: only with a drive path or a variable pair in the text.
    EXPECT_TRUE(removedByFixedRules(row("HKEY_CURRENT_USER\\C:\\a?b", pkKey)));
    EXPECT_TRUE(removedByFixedRules(row("HKEY_CURRENT_USER\\%X%\\a?b", pkKey)));
    EXPECT_FALSE(removedByFixedRules(row("HKEY_CURRENT_USER\\%X\\a?b", pkKey)));
    EXPECT_FALSE(removedByFixedRules(row("HKEY_CURRENT_USER\\a?b", pkKey)));
    EXPECT_TRUE(removedByFixedRules(row("HKEY_CURRENT_USER\\a", pkKey, "D:\\?x")));
    EXPECT_TRUE(removedByFixedRules(row("HKEY_CURRENT_USER\\a", pkKey, "%A%?x")));
    EXPECT_FALSE(removedByFixedRules(row("HKEY_CURRENT_USER\\a", pkKey, "%A?x")));
    EXPECT_FALSE(removedByFixedRules(row("HKEY_CURRENT_USER\\a", pkKey, "C:\\plain")));
}

TEST(ProblemFilter, KeepsTheOrderOfTheRemainingRows) {
    std::vector<RegistryProblem> rows{
        row("HKEY_CURRENT_USER\\Software\\One", pkKey),
        row("HKEY_CURRENT_USER\\Software\\Lexmark", pkKey),
        row("HKEY_CURRENT_USER\\Software\\Two", pkKey),
        row("HKEY_CURRENT_USER\\Software\\JavaSoft\\x", pkValue),
        row("HKEY_CURRENT_USER\\Software\\Three", pkKey),
    };
    EXPECT_EQ(FilterProblems(rows, {}, {}, 9), 2u);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].keyPath, "HKEY_CURRENT_USER\\Software\\One");
    EXPECT_EQ(rows[2].keyPath, "HKEY_CURRENT_USER\\Software\\Three");
}

// A key, its default value and one named value are three places: the
// section that reports the default value keeps its row beside the key row.
// The same place found twice (a default value as "@" and as "") is one.
TEST(ProblemFilter, DuplicatesAreTheSamePlaceOfTheSameKind) {
    const std::string key = "HKEY_CLASSES_ROOT\\Applications\\gone.exe\\shell\\open\\command";
    std::vector<RegistryProblem> rows{
        row(key, pkKey),
        row(key + "\\", pkValue),  // the default value, found by a hive walk
        row(key, pkDefaultValue),  // the same value, found by its own section
        row(key + "\\Other", pkValue),
        row(key, pkKey),
    };
    EXPECT_EQ(FilterProblems(rows, {}, {}, 12), 2u);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].kind, pkKey);
    EXPECT_EQ(rows[1].kind, pkValue);
    EXPECT_EQ(rows[2].keyPath, key + "\\Other");
}

// Row by row, as a scan filters while it runs, the answer is the list's.
TEST(ProblemFilter, OneRowAtATimeAnswersAsTheWholeList) {
    std::vector<RegistryProblem> rows{
        row("HKEY_CURRENT_USER\\Software\\One", pkKey),
        row("HKEY_CURRENT_USER\\Software\\Lexmark", pkKey),
        row("HKEY_CURRENT_USER\\Software\\Ignored\\x", pkValue),
        row("HKEY_CURRENT_USER\\Software\\One", pkKey),
        row("HKEY_USERS\\S-1-5-21-1\\Software\\One", pkKey),
        row("HKEY_CURRENT_USER\\Software\\Two", pkDefaultValue),
    };
    const std::vector<std::string> ignore{"HKEY_CURRENT_USER\\Software\\Ignored"};
    KeyIdentity id("S-1-5-21-1");
    std::vector<RegistryProblem> whole = rows;
    FilterProblems(whole, makeFilterLists(ignore, {}, 12, id));
    ProblemFilter filter(makeFilterLists(ignore, {}, 12, id));
    std::vector<std::string> kept;
    for (const auto& r : rows)
        if (filter.keep(r)) kept.push_back(r.keyPath);
    std::vector<std::string> expected;
    for (const auto& r : whole) expected.push_back(r.keyPath);
    EXPECT_EQ(kept, expected);
    EXPECT_EQ(kept, (std::vector<std::string>{"HKEY_CURRENT_USER\\Software\\One",
                                              "HKEY_CURRENT_USER\\Software\\Two"}));
}

}  // namespace
}  // namespace brisko
