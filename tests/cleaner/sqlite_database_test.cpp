#include "cleaner/sqlite/sqlite_database.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "support/test_machine.h"

namespace brisko {
namespace {

namespace fs = std::filesystem;

void makeDatabase(const fs::path& file, const char* sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
}

TEST(SQLiteWrapper, TableReadsKindsNamesAndValues) {
    test::TempDir dir;
    const fs::path file = dir.path() / "t.db";
    makeDatabase(file,
                 "CREATE TABLE t (i INTEGER, b BOOLEAN, f REAL, n NUMERIC, x BLOB, s VARCHAR, "
                 "mixed Boolean, free);"
                 "INSERT INTO t VALUES (1, 1, 1.5, 2.5, X'0102', 'one', 7, 3.25);"
                 "INSERT INTO t VALUES (NULL, 0, 0.0, 0, X'', 'two', 8, 'text');");
    TSQLiteDatabase db(file.string());
    auto t = db.getTable("select * from t");
    using K = TSQLiteTable::ColumnKind;
    ASSERT_EQ(t->rowCount(), 2);
    ASSERT_EQ(t->columnCount(), 8);
    EXPECT_EQ(t->columnNames(),
              (std::vector<std::string>{"I", "B", "F", "N", "X", "S", "MIXED", "FREE"}));
    // Declared types compare exactly: "Boolean" in mixed case is text; an
    // undeclared column takes its first value's storage class.
    EXPECT_EQ(t->columnKinds(), (std::vector<K>{K::Integer, K::Integer, K::Float, K::Float, K::Blob,
                                                K::Text, K::Text, K::Float}));
    EXPECT_EQ(std::get<int64_t>(t->value(0, 0)), 1);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(t->value(1, 0)));  // NULL
    EXPECT_DOUBLE_EQ(std::get<double>(t->value(0, 3)), 2.5);
    EXPECT_EQ(std::get<std::vector<uint8_t>>(t->value(0, 4)), (std::vector<uint8_t>{1, 2}));
    EXPECT_TRUE(std::holds_alternative<std::monostate>(t->value(1, 4)));  // 0 bytes: no buffer
    EXPECT_EQ(t->asText(1, 5), "two");
    EXPECT_EQ(t->asText(0, 6), "7");
}

TEST(SQLiteWrapper, TableExistsComparesInLowerCaseAndErrorsCarryTheirCode) {
    test::TempDir dir;
    const fs::path file = dir.path() / "places.sqlite";
    makeDatabase(file, "CREATE TABLE moz_places (id INTEGER PRIMARY KEY);");
    TSQLiteDatabase db(file.string());
    EXPECT_TRUE(db.tableExists("MOZ_PLACES"));
    EXPECT_FALSE(db.tableExists("moz_bookmarks"));

    try {
        db.execSql("DELETE FROM moz_bookmarks");
        FAIL() << "no error";
    } catch (const ESQLiteException& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Error executing SQL.\rError [1]: SQL error or missing database.\r\"DELETE FROM "
                  "moz_bookmarks\": no such table: moz_bookmarks");
        EXPECT_EQ(e.code(), 1);
        EXPECT_EQ(e.detail(), "no such table: moz_bookmarks");
    }
    EXPECT_THROW(db.execSql(""), ESQLiteException);
    EXPECT_THROW(db.execSql("SELECT 1"), ESQLiteException);  // a row is not "done"
    EXPECT_EQ(sqliteErrorDescription(200), "Unknown SQLite Error Code \"200\"");
    EXPECT_EQ(sqliteErrorDescription(26), "File opened that is not a database file");
    EXPECT_EQ(sqliteErrorDescription(101), "sqlite3_step() has finished executing");
}

TEST(SQLiteWrapper, OpeningNeverCreatesAFileNorFollowsALink) {
    test::TempDir dir;
    const fs::path missing = dir.path() / "missing.sqlite";
    try {
        TSQLiteDatabase db(missing.string());
        FAIL() << "opened";
    } catch (const ESQLiteException& e) {
        EXPECT_EQ(std::string(e.what()), "Failed to open database \"" + missing.string() +
                                             "\" : unable to open database file");
    }
    EXPECT_FALSE(fs::exists(missing));

    makeDatabase(dir.path() / "real.sqlite", "CREATE TABLE t (x);");
    fs::create_symlink(dir.path() / "real.sqlite", dir.path() / "link.sqlite");
    EXPECT_THROW(TSQLiteDatabase((dir.path() / "link.sqlite").string()), ESQLiteException);
}

// A hostile profile's triggers never run while its rows are deleted: no
// bookmark goes with the history, and no history is copied aside.
TEST(SQLiteWrapper, TriggersOfTheDatabaseNeverRun) {
    test::TempDir dir;
    const fs::path file = dir.path() / "places.sqlite";
    makeDatabase(file,
                 "CREATE TABLE history (url);"
                 "CREATE TABLE bookmarks (url);"
                 "CREATE TABLE aside (url);"
                 "INSERT INTO history VALUES ('a'), ('b');"
                 "INSERT INTO bookmarks VALUES ('keep');"
                 "CREATE TRIGGER wipe AFTER DELETE ON history BEGIN DELETE FROM bookmarks; END;"
                 "CREATE TRIGGER copy BEFORE DELETE ON history BEGIN "
                 "INSERT INTO aside VALUES (old.url); END;");
    {
        TSQLiteDatabase db(file.string(), TSQLiteDatabase::Access::ReadWrite);
        db.execSql("DELETE FROM history");
    }
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &raw), SQLITE_OK);
    auto count = [&](const char* sql) {
        sqlite3_stmt* st = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(raw, sql, -1, &st, nullptr), SQLITE_OK);
        int n = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int(st, 0) : -1;
        sqlite3_finalize(st);
        return n;
    };
    EXPECT_EQ(count("SELECT COUNT(*) FROM history"), 0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM bookmarks"), 1);
    EXPECT_EQ(count("SELECT COUNT(*) FROM aside"), 0);
    sqlite3_close(raw);
}

}  // namespace
}  // namespace brisko
