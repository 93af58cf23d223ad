// Links met by the cleaner's folder walks (junctions on a mounted NTFS disk
// show up as symbolic links): a walk removes the link itself and never enters
// it, and an overwrite never goes through a link or into a file that has a
// second name.
#include <gtest/gtest.h>
#include <unistd.h>

#include "cleaner/clean_test_machine.h"
#include "cleaner/removal.h"

namespace brisko {
namespace {

namespace fs = std::filesystem;
using test::cleanSettings;
using test::CleanTestMachine;
using test::runRoutine;

const std::string kTemp = "C:\\Users\\User\\AppData\\Local\\Temp";

MachineBuilder profile() {
    MachineBuilder b;
    b.addFile(kTemp + "\\a.tmp", std::string(100, 'a'));
    b.addFile(kTemp + "\\sub\\b.tmp", std::string(200, 'b'));
    b.addFile("C:\\Users\\User\\Documents\\letter.doc", "dear");
    b.addFile("C:\\Users\\User\\Desktop\\note.txt", "note");
    return b;
}

test::ItemRun wipeTemp(CleanTestMachine& m, int mode, const TOptionsSetting& s = cleanSettings()) {
    return runRoutine(m, s, mode, [](CleanContext& ctx) {
        ctx.addItemBytes(WipeFolder(ctx, kTemp, false, true, "", ctx.ItemCount));
    });
}

TEST(WalkLinks, ALinkIsRemovedItselfAndNeverEntered) {
    auto b = profile();
    CleanTestMachine m(b);
    const fs::path temp = m.host(kTemp);
    fs::create_directory_symlink("../../../Documents", temp / "docs");
    fs::create_directory_symlink("../../../..", temp / "up");  // C:\Users
    fs::create_directory_symlink("../../../../..", temp / "sub" / "root");
    fs::create_directory_symlink(".", temp / "loop");
    fs::create_symlink("../../../Documents/letter.doc", temp / "letter.lnk");
    const std::string ntuser = test::readFile(m.host("C:\\Users\\User\\NTUSER.DAT"));

    auto t = wipeTemp(m, kRunTest);
    auto c = wipeTemp(m, kRunCleanPass);
    EXPECT_EQ(t.count, 3);  // a.tmp, sub\b.tmp and the file link
    EXPECT_EQ(c.count, t.count);
    EXPECT_EQ(c.bytes, t.bytes);
    EXPECT_EQ(t.bytes, 300);  // a link holds no data of its own
    for (const char* link : {"docs", "up", "loop", "letter.lnk", "sub"})
        EXPECT_FALSE(fs::exists(fs::symlink_status(temp / link))) << link;
    EXPECT_TRUE(fs::is_directory(temp));
    EXPECT_EQ(test::readFile(m.host("C:\\Users\\User\\Documents\\letter.doc")), "dear");
    EXPECT_EQ(test::readFile(m.host("C:\\Users\\User\\Desktop\\note.txt")), "note");
    EXPECT_EQ(test::readFile(m.host("C:\\Users\\User\\NTUSER.DAT")), ntuser);
}

TEST(WalkLinks, AMaskWalkDoesNotRecurseThroughALink) {
    auto b = profile();
    CleanTestMachine m(b);
    fs::create_directory_symlink("../../../Documents", m.host(kTemp) / "docs");
    for (int mode : {kRunTest, kRunCleanPass}) {
        auto r = runRoutine(m, cleanSettings(), mode, [](CleanContext& ctx) {
            DeleteMatchingFiles(ctx, kTemp, "*.doc", ctx.ItemCount, true);
        });
        EXPECT_EQ(r.count, 0);
    }
    EXPECT_TRUE(fs::exists(m.host("C:\\Users\\User\\Documents\\letter.doc")));
}

// With overwriting on, a link in Temp to a document, or a second hard link to a
// file inside or outside the machine, is deleted without the file it names
// being overwritten.
TEST(WalkLinks, OverwriteNeverGoesThroughALinkOrASecondHardLink) {
    auto b = profile();
    CleanTestMachine m(b);
    test::TempDir outside;
    test::writeFile(outside.path() / "secret.txt", "outside");
    const fs::path temp = m.host(kTemp);
    fs::create_symlink("../../../Documents/letter.doc", temp / "letter.lnk");
    ASSERT_EQ(::link(m.host("C:\\Users\\User\\Documents\\letter.doc").c_str(),
                     (temp / "letter.hard").c_str()),
              0);
    if (::link((outside.path() / "secret.txt").c_str(), (temp / "secret.hard").c_str()) != 0)
        GTEST_SKIP() << "the temporary folders are on different file systems";
    auto s = cleanSettings();
    s.IsWipeFile = true;
    s.WipeNumber = 2;
    auto c = wipeTemp(m, kRunCleanPass, s);
    EXPECT_EQ(c.count, 5);
    EXPECT_EQ(test::readFile(m.host("C:\\Users\\User\\Documents\\letter.doc")), "dear");
    EXPECT_EQ(test::readFile(outside.path() / "secret.txt"), "outside");
    for (const char* name : {"letter.lnk", "letter.hard", "secret.hard"})
        EXPECT_FALSE(fs::exists(fs::symlink_status(temp / name))) << name;
}

}  // namespace
}  // namespace brisko
