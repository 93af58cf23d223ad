#include <gtest/gtest.h>

#include "cleaner/browser_test_util.h"
#include "cleaner/clean_test_machine.h"
#include "cleaner/removal.h"

namespace brisko {
namespace {

namespace fs = std::filesystem;
using test::cleanSettings;
using test::CleanTestMachine;
using test::ItemRun;
using namespace test::browsers;

const std::string kNetscape = kRoaming + "Netscape\\NSB\\Profiles\\";
const std::string kOpera = kRoaming + "Opera\\Opera\\";

// The profile the Netscape cookie item works in, seen through which file goes.
std::string netscapeProfileTaken(MachineBuilder& b, const std::vector<std::string>& profiles) {
    for (const auto& p : profiles) b.addFile(kNetscape + p + "\\cookies.txt", p);
    CleanTestMachine m(b);
    auto run = runItem(m, "Netscape - Cookies", kRunCleanPass);
    EXPECT_EQ(run.count, 1);
    std::string taken;
    for (const auto& p : profiles)
        if (!fs::exists(m.host(kNetscape + p + "\\cookies.txt"))) taken += p;
    return taken;
}

TEST(NetscapeItems, TheProfileIsTheKnownOneElseTheFirstDefaultElseTheLastListed) {
    {
        auto b = baseMachine();
        EXPECT_EQ(netscapeProfileTaken(b, {"aaaa.default", "pbzik8cu.default", "zzzz.default"}),
                  "pbzik8cu.default");
    }
    for (auto order : {std::vector<std::string>{"0abc.work", "x1y2.default"},
                       std::vector<std::string>{"x1y2.default", "zz.work"}}) {
        auto b = baseMachine();
        EXPECT_EQ(netscapeProfileTaken(b, order), "x1y2.default");
    }
    {
        auto b = baseMachine();
        EXPECT_EQ(netscapeProfileTaken(b, {"only.work"}), "only.work");
    }
    auto b = baseMachine();
    b.addFolder(kNetscape);
    CleanTestMachine m(b);
    EXPECT_EQ(runItem(m, "Netscape - Cookies", kRunTest).count, 0);
}

TEST(NetscapeItems, FilesOfTheProfileFolderOnlyAndTheCache) {
    auto b = baseMachine();
    const std::string p = kNetscape + "pbzik8cu.default\\";
    b.addFile(p + "cookies.txt", std::string(10, 'c'));
    b.addFile(p + "COOKIES-old.TXT", std::string(20, 'c'));
    b.addFile(p + "chrome\\cookies.txt", "stays: not in the profile folder itself");
    b.addFile(p + "history.dat", std::string(30, 'h'));
    b.addFile(p + "prefs.js", std::string(40, 'p'));
    b.addFile(p + "formhistory.dat", std::string(50, 'f'));
    b.addFile(p + "Cache\\_CACHE_001_", std::string(60, 'x'));
    b.addFile(p + "Cache\\A\\B\\deep", std::string(70, 'x'));
    CleanTestMachine m(b);
    struct {
        const char* caption;
        int count;
        int64_t bytes;
    } expected[] = {
        {"Netscape - Cookies", 2, 30},
        {"Netscape - Visited URL History", 1, 30},
        {"Netscape - Temporary Internet Files", 2, 130},
        {"Netscape - Preferences", 1, 40},
        {"Netscape - Saved Form Information", 1, 50},
    };
    for (const auto& e : expected) {
        SCOPED_TRACE(e.caption);
        auto t = runItem(m, e.caption, kRunTest);
        auto c = runItem(m, e.caption, kRunCleanPass);
        EXPECT_EQ(t.count, e.count);
        EXPECT_EQ(t.bytes, e.bytes);
        EXPECT_EQ(c.count, e.count);
        EXPECT_EQ(c.bytes, e.bytes);
    }
    EXPECT_TRUE(fs::exists(m.host(p + "chrome\\cookies.txt")));
    EXPECT_TRUE(fs::is_directory(m.host(p + "Cache")));
    EXPECT_FALSE(fs::exists(m.host(p + "Cache\\A")));
}

TEST(OperaItems, NamedFilesAnywhereBelowAndEveryProfileCacheOfBothFolders) {
    auto b = baseMachine();
    b.addFile(kOpera + "profile\\cookies4.dat", std::string(100, 'c'));
    b.addFile(kRoaming + "Opera\\Opera Next\\profile\\cookies4.dat", std::string(11, 'c'));
    b.addFile(kOpera + "profile\\COOKIES4.DAT.bak", "stays");
    b.addFile(kOpera + "profile\\global.dat", std::string(1, 'g'));
    b.addFile(kOpera + "profile\\vlink4.dat", std::string(2, 'v'));
    b.addFile(kOpera + "profile\\sessions\\autosave.win", std::string(4, 'a'));
    b.addFile(kOpera + "profile\\opera.dir", "d");
    b.addFile(kOpera + "profile\\typed_history.xml", "<typed_history/>");
    b.addFile(kOpera + "profile\\wand.dat", std::string(300, 'w'));
    b.addFile(kOpera + "profile\\download.dat", std::string(7, 'd'));
    b.addFile(kOpera + "profile\\cache4\\opr00001.tmp", std::string(1000, 'o'));
    b.addFile(kOpera + "profile\\cache4\\sub\\opr00002.tmp", std::string(2000, 'o'));
    b.addFile(kLocal + "Opera\\Opera\\profile\\cache4\\opr00003.tmp", std::string(4000, 'o'));
    b.addFile(kLocal + "Opera\\Opera\\cache\\stays.tmp", "not a cache4 folder");
    CleanTestMachine m(b);
    struct {
        const char* caption;
        int count;
        int64_t bytes;
    } expected[] = {
        {"Opera - Recently Typed URLs", 2, 1 + 16},
        {"Opera - Cookies", 2, 111},
        {"Opera - Visited URL History", 3, 1 + 2 + 4},
        {"Opera - Temporary Internet Files", 3, 7000},
        {"Opera - Autocomplete History", 1, 300},
        {"Opera - Transfers", 1, 7},
    };
    for (const auto& e : expected) {
        SCOPED_TRACE(e.caption);
        auto t = runItem(m, e.caption, kRunTest);
        auto c = runItem(m, e.caption, kRunCleanPass);
        EXPECT_EQ(t.count, e.count);
        EXPECT_EQ(t.bytes, e.bytes);
        EXPECT_EQ(c.count, e.count);
        EXPECT_EQ(c.bytes, e.bytes);
        EXPECT_EQ(runItem(m, e.caption, kRunTest).count, 0);
    }
    EXPECT_TRUE(fs::exists(m.host(kOpera + "profile\\COOKIES4.DAT.bak")));
    EXPECT_TRUE(fs::exists(m.host(kLocal + "Opera\\Opera\\cache\\stays.tmp")));
    EXPECT_TRUE(fs::is_directory(m.host(kOpera + "profile\\cache4")));
}

}  // namespace
}  // namespace brisko
