// Firefox items on small machines: what a Test run counts and a Clean run
// removes, the bookmark rule, and databases that must be left as they were
// (locked, damaged, of another layout, behind a link).
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

std::string placesSql(bool withBookmarks = true) {
    std::string sql =
        "CREATE TABLE moz_places (id INTEGER PRIMARY KEY, url LONGVARCHAR, title LONGVARCHAR, "
        "rev_host LONGVARCHAR, visit_count INTEGER DEFAULT 0);"
        "CREATE UNIQUE INDEX moz_places_url_uniqueindex ON moz_places (url);"
        "CREATE TABLE moz_historyvisits (id INTEGER PRIMARY KEY, from_visit INTEGER, place_id "
        "INTEGER, visit_date INTEGER, visit_type INTEGER, session INTEGER);"
        "CREATE INDEX moz_historyvisits_placedateindex ON moz_historyvisits (place_id, "
        "visit_date);";
    if (withBookmarks)
        sql +=
            "CREATE TABLE moz_bookmarks (id INTEGER PRIMARY KEY, type INTEGER, fk INTEGER DEFAULT "
            "NULL, parent INTEGER, position INTEGER, title LONGVARCHAR);"
            "INSERT INTO moz_bookmarks VALUES (1, 2, NULL, 0, 0, 'menu');"
            "INSERT INTO moz_bookmarks VALUES (2, 1, 2, 1, 0, 'two');"
            "INSERT INTO moz_bookmarks VALUES (3, 1, 4, 1, 1, 'four');";
    for (int i = 1; i <= 5; ++i) {
        std::string n = std::to_string(i);
        sql += "INSERT INTO moz_places VALUES (" + n + ", 'http://secret-" + n +
               ".example/page', 'Page " + n + "', 'elpmaxe.terces.', 1);";
    }
    for (int v = 1; v <= 8; ++v)
        sql += "INSERT INTO moz_historyvisits VALUES (" + std::to_string(v) + ", 0, " +
               std::to_string(1 + v % 5) + ", " + std::to_string(1300000000000000 + v) + ", 1, 0);";
    return sql;
}

// Firefox: a default and a work profile, files of every item, a cache in the
// local profile.
MachineBuilder firefoxMachine() {
    MachineBuilder b = baseMachine();
    b.addFile(kDefault + "cookies.txt", std::string(100, 'c'));
    b.addFile(kDefault + "old\\cookies-backup.txt", std::string(50, 'c'));
    b.addFile(kDefault + "history.dat", std::string(300, 'h'));
    b.addFile(kWork + "history.dat", std::string(200, 'h'));
    b.addFile(kDefault + "downloads.rdf", "rdf");
    b.addFile(kDefault + "signons3.txt", "s3");
    b.addFile(kDefault + "prefs.js", "user_pref(\"a\", 1);");
    b.addFile(kWork + "prefs.js", "user_pref(\"b\", 2);");
    b.addFile(kDefault + "sessionstore.js", "({})");
    b.addFile(kDefault + "sessionstore.bak", "({})");
    b.addFile(kDefault + "formhistory.dat", "fh");
    b.addFile(kDefault + "bookmarks.html", "stays");
    b.addFile(kLocal + "Mozilla\\Firefox\\Profiles\\ab12cd34.default\\Cache\\_CACHE_001_",
              std::string(4096, 'x'));
    b.addFile(kLocal + "Mozilla\\Firefox\\Profiles\\ab12cd34.default\\Cache\\1\\A0\\f1",
              std::string(1000, 'x'));
    b.addFile(kFirefox + "ef56gh78.work\\Cache\\_CACHE_MAP_", std::string(10, 'x'));
    return b;
}

void addFirefoxDatabases(CleanTestMachine& m) {
    exec(m.host(kDefault + "places.sqlite"), placesSql());
    exec(m.host(kWork + "places.sqlite"), placesSql());
    exec(m.host(kDefault + "cookies.sqlite"), "CREATE TABLE moz_cookies (id INTEGER PRIMARY KEY);");
    test::writeFile(m.host(kDefault + "cookies.sqlite-journal"), "");
    exec(m.host(kDefault + "formhistory.sqlite"), "CREATE TABLE moz_formhistory (id);");
    exec(m.host(kDefault + "signons.sqlite"), "CREATE TABLE moz_logins (id);");
    exec(m.host(kDefault + "downloads.sqlite"), "CREATE TABLE moz_downloads (id);");
    exec(m.host(kDefault + "permissions.sqlite"), "CREATE TABLE moz_hosts (id);");
}

TEST(FirefoxItems, TestCountsWhatCleanRemovesItemByItem) {
    auto b = firefoxMachine();
    CleanTestMachine m(b);
    addFirefoxDatabases(m);
    const std::vector<Expected> expected = {
        {"Mozilla Firefox - Cookies",
         4,
         {kDefault + "cookies.txt", kDefault + "old\\cookies-backup.txt",
          kDefault + "cookies.sqlite", kDefault + "cookies.sqlite-journal"},
         {kDefault + "bookmarks.html"}},
        // Two history.dat files, three unbookmarked places and eight visits of
        // the default profile; the work profile's places are not touched.
        {"Mozilla Firefox - Visited URL History",
         2 + 3 + 8,
         {kDefault + "history.dat", kWork + "history.dat"},
         {kDefault + "places.sqlite", kWork + "places.sqlite"}},
        {"Mozilla Firefox - Download Manager",
         2,
         {kDefault + "downloads.rdf", kDefault + "downloads.sqlite"},
         {}},
        {"Mozilla Firefox - Temporary Internet Files",
         3,
         {kLocal + "Mozilla\\Firefox\\Profiles\\ab12cd34.default\\Cache\\_CACHE_001_",
          kFirefox + "ef56gh78.work\\Cache\\_CACHE_MAP_"},
         {kLocal + "Mozilla\\Firefox\\Profiles\\ab12cd34.default\\Cache"}},
        {"Mozilla Firefox - Autocomplete History",
         2,
         {kDefault + "signons3.txt", kDefault + "signons.sqlite"},
         {kDefault + "formhistory.sqlite"}},
        {"Mozilla Firefox - Preferences",
         3,
         {kDefault + "prefs.js", kWork + "prefs.js", kDefault + "permissions.sqlite"},
         {}},
        {"Mozilla Firefox - Session",
         2,
         {kDefault + "sessionstore.js", kDefault + "sessionstore.bak"},
         {}},
        {"Mozilla Firefox - Saved Form Information",
         2,
         {kDefault + "formhistory.dat", kDefault + "formhistory.sqlite"},
         {}},
    };
    const auto workPlaces = readFile(m.host(kWork + "places.sqlite"));
    for (const auto& e : expected) expectTestThenClean(m, e);
    EXPECT_EQ(readFile(m.host(kWork + "places.sqlite")), workPlaces);
}

TEST(FirefoxItems, HistoryKeepsBookmarkedPlacesDropsEveryVisitAndOverwritesWhatGoes) {
    auto b = firefoxMachine();
    CleanTestMachine m(b);
    addFirefoxDatabases(m);
    const fs::path places = m.host(kDefault + "places.sqlite");
    runItem(m, "Mozilla Firefox - Visited URL History", kRunCleanPass);
    EXPECT_EQ(shell(places, "PRAGMA integrity_check"), "ok");
    EXPECT_EQ(shell(places, "SELECT group_concat(id) FROM moz_places"), "2,4");
    EXPECT_EQ(shell(places, "SELECT count(*) FROM moz_historyvisits"), "0");
    // Deleted rows are not left readable in free space.
    for (const char* gone : {"secret-1.", "secret-3.", "secret-5."})
        EXPECT_FALSE(contains(places, gone)) << gone;
    EXPECT_TRUE(contains(places, "secret-2."));
    EXPECT_FALSE(fs::exists(m.host(kDefault + "places.sqlite-journal")));
}

TEST(FirefoxItems, WriteAheadLogIsCountedFoldedInAndLeftWithoutTheDeletedRows) {
    auto b = firefoxMachine();
    CleanTestMachine m(b);
    const fs::path places = m.host(kDefault + "places.sqlite");
    exec(places, "PRAGMA journal_mode=WAL;" + placesSql());
    // A browser that was not closed leaves rows only in the log.
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(places.c_str(), &db), SQLITE_OK);
        sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
        ASSERT_EQ(sqlite3_exec(db,
                               "PRAGMA wal_autocheckpoint=0;"
                               "INSERT INTO moz_places VALUES (6, 'http://only-in-wal.example/', "
                               "'w', 'x', 1);"
                               "INSERT INTO moz_historyvisits VALUES (9, 0, 6, 1, 1, 0);",
                               nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(db);
    }
    const fs::path wal = places.string() + "-wal";
    ASSERT_TRUE(contains(wal, "only-in-wal"));
    fs::remove(places.string() + "-shm");
    const std::string walBefore = readFile(wal);
    const std::string dbBefore = readFile(places);

    auto t = runItem(m, "Mozilla Firefox - Visited URL History", kRunTest);
    EXPECT_EQ(t.count, 2 + 4 + 9);  // two history.dat, places 1, 3, 5 and 6, nine visits
    EXPECT_EQ(readFile(wal), walBefore);
    EXPECT_EQ(readFile(places), dbBefore);
    EXPECT_FALSE(fs::exists(places.string() + "-shm"));

    auto c = runItem(m, "Mozilla Firefox - Visited URL History", kRunCleanPass);
    EXPECT_EQ(c.count, t.count);
    EXPECT_TRUE(!fs::exists(wal) || fs::file_size(wal) == 0);
    for (const char* gone : {"only-in-wal", "secret-1.", "secret-5."}) {
        EXPECT_FALSE(contains(places, gone)) << gone;
        EXPECT_FALSE(contains(wal, gone)) << gone;
    }
    EXPECT_EQ(shell(places, "PRAGMA integrity_check"), "ok");
    EXPECT_EQ(shell(places, "PRAGMA journal_mode"), "wal");
    EXPECT_EQ(shell(places, "SELECT group_concat(id) FROM moz_places"), "2,4");
}

// The default profile's places.sqlite in a state the step must not touch;
// the item still deletes history.dat and the run goes on.
struct LeftAlone {
    CleanTestMachine& m;
    fs::path places;
    std::map<std::string, std::string> before;

    explicit LeftAlone(CleanTestMachine& machine)
        : m(machine), places(machine.host(kDefault + "places.sqlite")) {}
    void snap() { before = m.snapshot(); }
    void check(std::string_view why) {
        auto c = runItem(m, "Mozilla Firefox - Visited URL History", kRunCleanPass);
        EXPECT_EQ(c.count, 2);  // the two history.dat files
        int lines = 0;
        for (const auto& line : c.log)
            if (line.find("skipping") != std::string::npos) {
                ++lines;
                EXPECT_NE(line.find(kDefault + "places.sqlite: "), std::string::npos) << line;
                EXPECT_NE(line.find(why), std::string::npos) << line;
            }
        EXPECT_EQ(lines, 1);
        auto after = m.snapshot();
        for (auto& [path, bytes] : before)
            if (path.find("places.sqlite") != std::string::npos) {
                EXPECT_EQ(after[path], bytes) << path;
            }
        for (auto& [path, bytes] : after)
            if (path.find("places.sqlite") != std::string::npos) {
                EXPECT_TRUE(before.count(path)) << path << " appeared";
            }
    }
};

TEST(FirefoxItems, LockedDamagedOrForeignDatabasesAreLeftAsTheyWere) {
    {
        SCOPED_TRACE("locked by a second connection");
        auto b = firefoxMachine();
        CleanTestMachine m(b);
        addFirefoxDatabases(m);
        LeftAlone left(m);
        sqlite3* other = nullptr;
        ASSERT_EQ(sqlite3_open(left.places.c_str(), &other), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE; DELETE FROM moz_bookmarks WHERE id = 3;",
                               nullptr, nullptr, nullptr),
                  SQLITE_OK);
        left.snap();
        left.check("locked");
        sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(other);
        EXPECT_EQ(shell(left.places, "SELECT count(*) FROM moz_historyvisits"), "8");
    }
    {
        SCOPED_TRACE("not a database");
        auto b = firefoxMachine();
        b.addFile(kDefault + "places.sqlite", std::string(5000, 'G'));
        CleanTestMachine m(b);
        LeftAlone left(m);
        left.snap();
        left.check("not a database");
    }
    {
        SCOPED_TRACE("a damaged page");
        auto b = firefoxMachine();
        CleanTestMachine m(b);
        LeftAlone left(m);
        exec(left.places, "PRAGMA page_size=1024;" + placesSql() +
                              "INSERT INTO moz_places SELECT id + 100, url || id, title, rev_host, "
                              "1 FROM moz_places;");
        std::string bytes = readFile(left.places);
        ASSERT_GT(bytes.size(), 4 * 1024u);
        std::fill(bytes.begin() + 3 * 1024 + 8, bytes.begin() + 4 * 1024, '\x7f');
        test::writeFile(left.places, bytes);
        left.snap();
        left.check("damaged");
    }
    {
        SCOPED_TRACE("no bookmarks table: neither deletion happens");
        auto b = firefoxMachine();
        CleanTestMachine m(b);
        LeftAlone left(m);
        exec(left.places, placesSql(false));
        left.snap();
        left.check("no such table: moz_bookmarks");
        EXPECT_EQ(shell(left.places, "SELECT count(*) FROM moz_historyvisits"), "8");
    }
    {
        SCOPED_TRACE("a link");
        auto b = firefoxMachine();
        CleanTestMachine m(b);
        LeftAlone left(m);
        const fs::path real = m.host(kWork + "places.sqlite");
        exec(real, placesSql());
        fs::create_symlink(real, left.places);
        const std::string target = readFile(real);
        left.snap();
        left.check("link");
        EXPECT_EQ(readFile(real), target);
    }
    {
        SCOPED_TRACE("a link as its journal");
        auto b = firefoxMachine();
        CleanTestMachine m(b);
        LeftAlone left(m);
        exec(left.places, placesSql());
        test::writeFile(m.host(kRoaming + "elsewhere"), "");
        fs::create_symlink(m.host(kRoaming + "elsewhere"), left.places.string() + "-journal");
        left.snap();
        left.check("journal");
        EXPECT_EQ(readFile(m.host(kRoaming + "elsewhere")), "");
    }
    {
        SCOPED_TRACE("a second hard link");
        auto b = firefoxMachine();
        CleanTestMachine m(b);
        LeftAlone left(m);
        exec(left.places, placesSql());
        fs::create_hard_link(left.places, m.host(kRoaming + "places-copy.sqlite"));
        left.snap();
        left.check("hard links");
    }
    {
        SCOPED_TRACE("in use on the machine");
        auto b = firefoxMachine();
        CleanTestMachine m(b);
        LeftAlone left(m);
        exec(left.places, placesSql());
        m.imageFiles().lockFile(kDefault + "places.sqlite");
        left.snap();
        left.check("in use");
    }
}

TEST(FirefoxItems, AReadOnlyDatabaseIsLeftAsItWas) {
    auto b = firefoxMachine();
    CleanTestMachine m(b);
    LeftAlone left(m);
    exec(left.places, placesSql());
    fs::permissions(left.places, fs::perms::owner_read | fs::perms::group_read);
    test::ImmutableFile pin(left.places);
    if (::geteuid() == 0 && !pin.set()) GTEST_SKIP() << "root writes any file";
    left.snap();
    left.check("cannot be written");
}

}  // namespace
}  // namespace brisko
