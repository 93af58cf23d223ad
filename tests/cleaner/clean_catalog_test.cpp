#include "cleaner/clean_catalog.h"

#include <gtest/gtest.h>

namespace brisko {
namespace {

TEST(CleanCatalog, GroupsAndItemsInDisplayOrder) {
    CheckTree tree = buildCleanTree();
    std::vector<std::pair<std::string, int>> groups;
    for (auto& g : tree.topLevel()) groups.emplace_back(g->caption, g->imageIndex);
    EXPECT_EQ(groups, (std::vector<std::pair<std::string, int>>{{"Internet Explorer", 1},
                                                                {"Netscape", 3},
                                                                {"Opera", 4},
                                                                {"Mozilla Firefox", 5},
                                                                {"Google Chrome", 11},
                                                                {"Windows", 2},
                                                                {"Advanced", 6},
                                                                {"Microsoft Office", 7},
                                                                {"Instant Messengers", 8},
                                                                {"Applications", 9},
                                                                {"Custom Lists", 10}}));
    size_t items = 0;
    for (CheckNode* n : tree.nodes()) {
        EXPECT_FALSE(n->checked);
        EXPECT_EQ(n->stateIndex(), 1);
        if (n->parent) {
            ++items;
            EXPECT_EQ(n->imageIndex, n->parent->imageIndex);
        }
    }
    EXPECT_EQ(items, 7u + 5 + 6 + 8 + 8 + 9 + 8 + 9 + 5 + 0 + 1);
    EXPECT_EQ(tree.topLevel()[0]->children[0]->caption, "Recently Typed URLs");
    EXPECT_EQ(logCaption(*tree.topLevel()[4]->children[4]),
              "Google Chrome - Stored passwords in Forms");
    EXPECT_EQ(logCaption(*tree.topLevel()[10]->children[0]), "Custom Lists - <New List>");
    EXPECT_NE(tree.findByLogCaption("Advanced - Yahoo! Toolbar History"), nullptr);
    EXPECT_NE(tree.findByLogCaption("Microsoft Office - Powerpoint"), nullptr);
}

TEST(CleanCatalog, GroupChecksFollowTheirItems) {
    CheckTree tree = buildCleanTree();
    CheckNode* ff = tree.topLevelByCaption("Mozilla Firefox");
    setChecked(*ff, true);
    for (auto& c : ff->children) EXPECT_TRUE(c->checked);
    setChecked(*ff->children[0], false);
    EXPECT_TRUE(ff->checked);  // siblings still checked
    for (auto& c : ff->children) setChecked(*c, false);
    EXPECT_FALSE(ff->checked);
    toggleChecked(*ff->children[2]);
    EXPECT_TRUE(ff->checked);
    EXPECT_EQ(ff->stateIndex(), 2);
    EXPECT_EQ(checkedJobCaptions(tree),
              std::vector<std::string>{"Mozilla Firefox - Download Manager"});
}

TEST(CleanCatalog, ApplicationsAreAddedLater) {
    CheckTree tree = buildCleanTree();
    CheckNode* app = addApplicationItem(tree, "WinZip");
    ASSERT_NE(app, nullptr);
    EXPECT_EQ(logCaption(*app), "Applications - WinZip");
    EXPECT_EQ(app->imageIndex, kImgApplications);
    setChecked(*applicationsGroup(tree), true);
    setChecked(*tree.findByLogCaption("Windows - Clipboard"), true);
    EXPECT_EQ(checkedJobCaptions(tree),
              (std::vector<std::string>{"Windows - Clipboard", "Applications - WinZip"}));
    CheckTree empty;
    EXPECT_EQ(addApplicationItem(empty, "x"), nullptr);
}

}  // namespace
}  // namespace brisko
