// Chrome items on small machines, and every browser item's routine on the demo
// machine: what a Test run counts and a Clean run removes.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include "cleaner/clean_catalog.h"
#include "cleaner/clean_test_machine.h"
#include "cleaner/removal.h"
#include "core/machine/image/image_machine.h"
#include "demo/demo_machine.h"
#include "support/real_data.h"
#include "support/shell_command.h"

#include "cleaner/browser_test_util.h"

namespace brisko {
namespace {

using namespace test::browsers;
using test::CleanTestMachine;
using test::ItemRun;

// --- Chrome ------------------------------------------------------------------

MachineBuilder chromeMachine() {
    MachineBuilder b = baseMachine();
    b.addFile(kChrome + "Cache\\data_0", std::string(1000, 'd'));
    b.addFile(kChrome + "Cache\\f_000001", std::string(500, 'f'));
    b.addFile(kChrome + "Media Cache\\data_0", std::string(700, 'm'));
    b.addFile(kChrome + "Local Storage\\http_www.example.com_0.localstorage", "ls1");
    b.addFile(kChrome + "Local Storage\\CHROME-EXTENSION_abc_0.localstorage", "ext1");
    b.addFile(kChrome + "Local Storage\\old\\Chrome-Extension_def_0.localstorage", "ext2");
    b.addFile(kChrome + "Local Storage\\old\\notes.txt", "ls2");
    b.addFile(kChrome + "Local Storage\\gone\\x.localstorage", "ls3");
    b.addFile(kChrome + "Current Session", "SNSS1");
    b.addFile(kChrome + "Last Session", "SNSS2");
    b.addFile(kChrome + "Visited Links", "VLnk");
    b.addFile(kChrome + "Archived History", "ah");
    b.addFile(kChrome + "History Index 2011-04", "i4");
    b.addFile(kChrome + "history index 2011-05", "i5");
    b.addFile(kChrome + "Top Sites", "ts");
    b.addFile(kChrome + "Preferences", "{}");
    b.addFile(kChrome + "Bookmarks", "{}");
    b.addFile(kChrome + "Login Data", "ld");
    return b;
}

void addChromeDatabases(CleanTestMachine& m) {
    exec(m.host(kChrome + "Cookies"), "CREATE TABLE cookies (creation_utc INTEGER);");
    test::writeFile(m.host(kChrome + "Cookies-journal"), "");
    exec(m.host(kChrome + "History"),
         "CREATE TABLE urls (id INTEGER PRIMARY KEY, url LONGVARCHAR);"
         "CREATE TABLE downloads (id INTEGER PRIMARY KEY, full_path LONGVARCHAR, url LONGVARCHAR);"
         "INSERT INTO downloads VALUES (1, 'C:\\a.pdf', 'http://dl.example/a.pdf');"
         "INSERT INTO downloads VALUES (2, 'C:\\b.zip', 'http://dl.example/b.zip');");
    exec(m.host(kChrome + "Shortcuts"),
         "CREATE TABLE omni_box_shortcuts (id VARCHAR PRIMARY KEY, url VARCHAR);"
         "INSERT INTO omni_box_shortcuts VALUES ('a', 'http://typed.example/');");
    // A browser that keeps its journal between transactions leaves the last
    // change's old pages in it; the cleaner's own commit takes the journal away.
    exec(m.host(kChrome + "Web Data"),
         "PRAGMA journal_mode=PERSIST;"
         "CREATE TABLE logins (origin_url VARCHAR NOT NULL, password_value BLOB);"
         "INSERT INTO logins VALUES ('https://bank.example/', X'0102');"
         "CREATE TABLE autofill (name VARCHAR, value VARCHAR, pair_id INTEGER PRIMARY KEY);"
         "INSERT INTO autofill VALUES ('email', 'me@example.com', 1), ('zip', 'LS6', 2), "
         "('q', 'flights', 3);"
         "CREATE TABLE autofill_dates (pair_id INTEGER, date_created INTEGER);"
         "INSERT INTO autofill_dates VALUES (1, 5), (2, 6);"
         "CREATE TABLE autofill_profile_names (guid VARCHAR, first_name VARCHAR);"
         "INSERT INTO autofill_profile_names VALUES ('g', 'Alex');"
         "CREATE TABLE keywords (id INTEGER PRIMARY KEY, keyword VARCHAR);"
         "INSERT INTO keywords VALUES (1, 'google.com');"
         "UPDATE logins SET password_value = X'0304';");
}

TEST(ChromeItems, TestCountsWhatCleanRemovesItemByItem) {
    auto b = chromeMachine();
    CleanTestMachine m(b);
    addChromeDatabases(m);
    const fs::path webData = m.host(kChrome + "Web Data");
    ASSERT_TRUE(contains(webData.string() + "-journal", "bank.example"));
    const std::vector<Expected> expected = {
        {"Google Chrome - Temporary Internet Files",
         3,
         {kChrome + "Cache\\data_0", kChrome + "Media Cache\\data_0"},
         {kChrome + "Cache", kChrome + "Media Cache"}},
        // Extension storage stays, in any letter case, with the folder holding it.
        {"Google Chrome - Cookies",
         5,
         {kChrome + "Cookies", kChrome + "Cookies-journal",
          kChrome + "Local Storage\\http_www.example.com_0.localstorage",
          kChrome + "Local Storage\\old\\notes.txt", kChrome + "Local Storage\\gone"},
         {kChrome + "Local Storage\\CHROME-EXTENSION_abc_0.localstorage",
          kChrome + "Local Storage\\old\\Chrome-Extension_def_0.localstorage"}},
        {"Google Chrome - Download History", 2, {}, {kChrome + "History"}},
        {"Google Chrome - Saved Form Information", 3 + 2 + 1, {}, {kChrome + "Web Data"}},
        {"Google Chrome - Stored passwords in Forms",
         1 + 1,
         {kChrome + "Login Data"},
         {kChrome + "Web Data"}},
        {"Google Chrome - Visited URL History",
         6 + 1,
         {kChrome + "History", kChrome + "Archived History", kChrome + "Visited Links",
          kChrome + "Top Sites", kChrome + "History Index 2011-04",
          kChrome + "history index 2011-05"},
         {kChrome + "Shortcuts", kChrome + "Bookmarks", kChrome + "Preferences"}},
        {"Google Chrome - Session", 2, {kChrome + "Current Session", kChrome + "Last Session"}, {}},
        {"Google Chrome - Local Storage",
         2,
         {kChrome + "Local Storage\\CHROME-EXTENSION_abc_0.localstorage"},
         {kChrome + "Local Storage"}},
    };
    for (const auto& e : expected) expectTestThenClean(m, e);
    EXPECT_EQ(shell(webData, "PRAGMA integrity_check"), "ok");
    EXPECT_FALSE(contains(webData.string() + "-journal", "bank.example"));
    EXPECT_EQ(shell(webData, "SELECT count(*) FROM keywords"), "1");
    EXPECT_FALSE(contains(webData, "bank.example"));
    EXPECT_FALSE(contains(webData, "me@example.com"));
    EXPECT_EQ(shell(m.host(kChrome + "Shortcuts"), "SELECT count(*) FROM omni_box_shortcuts"), "0");
}

// Chrome 26 and later keep a download's addresses in downloads_url_chains:
// the item empties them with the downloads, and no address stays in the file.
TEST(ChromeItems, DownloadHistoryTakesTheUrlChainsAndSlicesAlong) {
    auto b = chromeMachine();
    CleanTestMachine m(b);
    const fs::path history = m.host(kChrome + "History");
    exec(history,
         "CREATE TABLE downloads (id INTEGER PRIMARY KEY, target_path LONGVARCHAR);"
         "INSERT INTO downloads VALUES (1, 'C:\\a.pdf'), (2, 'C:\\b.zip');"
         "CREATE TABLE downloads_url_chains (id INTEGER NOT NULL, chain_index INTEGER NOT NULL,"
         " url LONGVARCHAR NOT NULL, PRIMARY KEY (id, chain_index));"
         "INSERT INTO downloads_url_chains VALUES (1, 0, 'http://dl.example/a.pdf'),"
         " (1, 1, 'http://cdn.dl.example/a.pdf'), (2, 0, 'http://dl.example/b.zip');"
         "CREATE TABLE downloads_slices (download_id INTEGER NOT NULL, offset INTEGER NOT NULL,"
         " received_bytes INTEGER NOT NULL, PRIMARY KEY (download_id, offset));"
         "INSERT INTO downloads_slices VALUES (2, 0, 1024);");
    auto t = runItem(m, "Google Chrome - Download History", kRunTest);
    EXPECT_EQ(t.count, 2 + 3 + 1);
    EXPECT_EQ(runItem(m, "Google Chrome - Download History", kRunCleanPass).count, t.count);
    EXPECT_EQ(shell(history, "SELECT count(*) FROM downloads_url_chains"), "0");
    EXPECT_FALSE(contains(history, "dl.example"));

    // A History file Chrome wrote itself, of a schema before the chains.
    BRISKO_REQUIRE_REAL_DATA();
    const fs::path real = *test::realDataFolder() / "browsers" / "chrome_History";
    fs::copy_file(real, history, fs::copy_options::overwrite_existing);
    EXPECT_EQ(runItem(m, "Google Chrome - Download History", kRunTest).count, 2);
    EXPECT_EQ(runItem(m, "Google Chrome - Download History", kRunCleanPass).count, 2);
    EXPECT_EQ(shell(history, "SELECT count(*) FROM downloads"), "0");
    EXPECT_EQ(shell(history, "PRAGMA integrity_check"), "ok");
}

TEST(BrowserItems, EveryItemOfTheFourGroupsHasItsRoutineAndMissingProfilesFindNothing) {
    MachineBuilder b = baseMachine();
    CleanTestMachine m(b);
    for (const auto& group : cleanCatalog()) {
        std::string_view g = group.caption;
        if (g != "Mozilla Firefox" && g != "Google Chrome" && g != "Opera" && g != "Netscape")
            continue;
        for (auto item : group.items) {
            std::string caption = std::string(g) + " - " + std::string(item);
            SCOPED_TRACE(caption);
            ASSERT_TRUE(builtinItemTable().contains(caption));
            EXPECT_EQ(runItem(m, caption, kRunTest).count, 0);
            EXPECT_EQ(runItem(m, caption, kRunCleanPass).count, 0);
        }
    }
}

// The demo machine: every item of the four groups finds something, the
// Clean run removes what the Test run counted, and every database it edited
// is sound afterwards and holds no deleted history.
TEST(BrowserItems, DemoMachineHasTracesForEveryItemAndStaysSound) {
    test::TempDir dir;
    createDemoMachine(dir.path() / "demo");
    ImageMachine m(dir.path() / "demo");
    const ItemTable& table = builtinItemTable();
    for (const auto& group : cleanCatalog()) {
        std::string_view g = group.caption;
        if (g != "Mozilla Firefox" && g != "Google Chrome" && g != "Opera" && g != "Netscape")
            continue;
        for (auto item : group.items) {
            std::string caption = std::string(g) + " - " + std::string(item);
            SCOPED_TRACE(caption);
            auto t = runRoutine(m, cleanSettings(), kRunTest, *table.find(caption));
            // The download list lives in "History", which the history item
            // before it has taken whole.
            if (caption != "Google Chrome - Download History") EXPECT_GT(t.count, 0);
            for (const auto& line : t.log)
                EXPECT_EQ(line.find("skipping"), std::string::npos) << line;
            auto c = runRoutine(m, cleanSettings(), kRunCleanPass, *table.find(caption));
            EXPECT_EQ(c.count, t.count);
            EXPECT_EQ(c.bytes, t.bytes);
        }
    }
    const fs::path profiles =
        dir.path() / "demo/Users/Alex/AppData/Roaming/Mozilla/Firefox/Profiles";
    const fs::path oldPlaces = profiles / "k3x9f2ab.default/places.sqlite";
    EXPECT_EQ(shell(oldPlaces, "PRAGMA integrity_check"), "ok");
    EXPECT_EQ(shell(oldPlaces, "SELECT count(*) FROM moz_historyvisits"), "0");
    EXPECT_EQ(shell(oldPlaces, "SELECT count(*) FROM moz_places"), "3");
    EXPECT_FALSE(contains(oldPlaces, "rightmove"));
    // The work profile is not a ".default" one: its history stays.
    EXPECT_EQ(shell(profiles / "p7q2m4zt.work/places.sqlite", "SELECT count(*) FROM moz_places"),
              "12");
    const fs::path chrome =
        dir.path() / "demo/Users/Alex/AppData/Local/Google/Chrome/User Data/Default";
    for (const char* db : {"Web Data", "Shortcuts"})
        EXPECT_EQ(shell(chrome / db, "PRAGMA integrity_check"), "ok") << db;
    EXPECT_FALSE(contains(chrome / "Web Data", "07700 900123"));
}

}  // namespace
}  // namespace brisko
