#include "registry/section_tree.h"

#include <gtest/gtest.h>

namespace brisko {
namespace {

TEST(SectionTree, CodesCaptionsAndParents) {
    CheckTree tree = buildSectionTree();
    ASSERT_EQ(tree.topLevel().size(), 1u);
    CheckNode& root = *tree.topLevel()[0];
    EXPECT_EQ(root.caption, "My Computers");
    ASSERT_EQ(root.children.size(), 20u);  // Files and Folders + codes 7..25
    CheckNode& ff = *root.children[0];
    EXPECT_EQ(ff.caption, "Files and Folders");
    ASSERT_EQ(ff.children.size(), 4u);
    EXPECT_EQ(ff.children[3]->caption, "HKEY_USERS");
    std::vector<int> codes;
    for (CheckNode* n : tree.nodes()) {
        codes.push_back(n->imageIndex);
        EXPECT_EQ(n->data, n->imageIndex);
        EXPECT_TRUE(n->checked && n->expanded);
    }
    std::vector<int> all(25);
    for (int i = 0; i < 25; ++i) all[i] = i + 1;
    EXPECT_EQ(codes, all);
    EXPECT_EQ(sectionCaption(kSecInstaller), "Installer");
    EXPECT_EQ(sectionCaption(kSecMruLists), "MRU History Lists");
    EXPECT_EQ(sectionCaption(26), "");
}

TEST(SectionTree, CheckRulesOfTheThreeLevels) {
    CheckTree tree = buildSectionTree();
    CheckNode& root = *tree.topLevel()[0];
    CheckNode& ff = *tree.findByImageIndex(kSecFilesAndFolders);

    setChecked(root, false);
    EXPECT_TRUE(checkedSectionCodes(tree).empty());

    setChecked(*tree.findByImageIndex(kSecCurrentUser), true);  // a hive: parent, then root
    EXPECT_EQ(checkedSectionCodes(tree), (std::vector<int>{1, 2, 4}));
    setChecked(*tree.findByImageIndex(kSecCurrentUser), false);
    EXPECT_FALSE(ff.checked);
    EXPECT_FALSE(root.checked);

    setChecked(ff, true);  // a section passes its state to its hives
    EXPECT_EQ(checkedSectionCodes(tree), (std::vector<int>{1, 2, 3, 4, 5, 6}));
    setChecked(*tree.findByImageIndex(kSecEmptyKeys), true);
    setChecked(ff, false);
    EXPECT_EQ(checkedSectionCodes(tree), (std::vector<int>{1, 25}));

    SectionCheckArray stored{};
    stored[kSecFonts] = true;
    applyNodeChecks(stored, tree);
    EXPECT_EQ(checkedSectionCodes(tree), (std::vector<int>{12}));
    SectionCheckArray back{};
    copyNodeChecks(tree, back);
    EXPECT_EQ(back, stored);
}

TEST(SectionTree, ExpansionIsSharedByImageIndexWithTheCleanTree) {
    CheckTree sections = buildSectionTree();
    CheckTree clean;
    CheckNode& ie = clean.addTopLevel("Internet Explorer", 1);
    clean.addChild(ie, "Cookies", 1);
    sections.setAllExpanded(false);

    ExpandArray expand{};
    expand[1] = true;
    applyExpansion(expand, sections, clean);
    for (CheckNode* n : sections.nodes()) EXPECT_TRUE(n->expanded);
    EXPECT_TRUE(ie.children[0]->expanded);

    // Saved registry root first, clean group second: the clean group decides.
    ie.expanded = false;
    copyExpansion(sections, clean, expand);
    EXPECT_FALSE(expand[1]);
}

}  // namespace
}  // namespace brisko
