#pragma once
// What the browser item tests share: the profiles' places, SQL on a database
// file, a user whose Shell Folders name them, what a run is expected to count.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include "cleaner/clean_catalog.h"
#include "cleaner/clean_test_machine.h"
#include "cleaner/removal.h"
#include "core/machine/image/image_machine.h"
#include "demo/demo_machine.h"
#include "demo/machine_builder.h"
#include "support/real_data.h"
#include "support/shell_command.h"

namespace brisko::test::browsers {

namespace fs = std::filesystem;
using test::cleanSettings;
using test::CleanTestMachine;
using test::ItemRun;
using test::readFile;
using test::runRoutine;

inline const std::string kRoaming = "C:\\Users\\User\\AppData\\Roaming\\";
inline const std::string kLocal = "C:\\Users\\User\\AppData\\Local\\";
inline const std::string kFirefox = kRoaming + "Mozilla\\Firefox\\Profiles\\";
inline const std::string kDefault = kFirefox + "ab12cd34.default\\";
inline const std::string kWork = kFirefox + "ef56gh78.work\\";
inline const std::string kChrome = kLocal + "Google\\Chrome\\User Data\\Default\\";

inline ItemRun runItem(Machine& m, std::string_view caption, int mode) {
    const ItemRoutine* r = builtinItemTable().find(caption);
    EXPECT_NE(r, nullptr) << caption;
    if (!r) return {};
    return runRoutine(m, cleanSettings(), mode, *r);
}

inline void exec(const fs::path& file, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
        << sqlite3_errmsg(db) << " in " << sql;
    sqlite3_close(db);
}

// What the sqlite3 shell prints for sql on file.
inline std::string shell(const fs::path& file, const std::string& sql) {
    std::string cmd = "sqlite3 '" + file.string() + "' \"" + sql + "\" 2>&1";
    std::string out = test::runShell(cmd).out;
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

inline bool contains(const fs::path& file, std::string_view text) {
    return fs::exists(file) && readFile(file).find(text) != std::string::npos;
}

// Places 1 to 5 with their visits; places 2 and 4 are bookmarked, and a
// folder (no place) sits in the bookmarks too.
struct Expected {
    const char* caption;
    int count;
    std::vector<std::string> gone;   // below C:\, must be gone after the Clean run
    std::vector<std::string> stays;  // must still be there
};

// A Test run counts e.count and changes nothing; the Clean run that follows
// takes what it counted, exactly the files e.gone, and leaves nothing to find.
template <class TestMachine>
void expectTestThenClean(TestMachine& m, const Expected& e) {
    SCOPED_TRACE(e.caption);
    auto before = m.snapshot();
    auto t = runItem(m, e.caption, kRunTest);
    EXPECT_EQ(m.snapshot(), before) << "a Test run changed the machine";
    auto c = runItem(m, e.caption, kRunCleanPass);
    EXPECT_EQ(t.count, e.count);
    EXPECT_EQ(c.count, t.count);
    EXPECT_EQ(c.bytes, t.bytes);
    for (const auto& p : e.gone) EXPECT_FALSE(fs::exists(m.host(p))) << p;
    for (const auto& p : e.stays) EXPECT_TRUE(fs::exists(m.host(p))) << p;
    EXPECT_EQ(runItem(m, e.caption, kRunTest).count, 0);
}

// A user whose Shell Folders name the profile folders.
inline MachineBuilder baseMachine() {
    MachineBuilder b;
    b.addRegText(
        "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\"
        "Explorer\\Shell Folders]\r\n"
        "\"AppData\"=\"C:\\\\Users\\\\User\\\\AppData\\\\Roaming\"\r\n"
        "\"Local AppData\"=\"C:\\\\Users\\\\User\\\\AppData\\\\Local\"\r\n");
    return b;
}

}  // namespace brisko::test::browsers
