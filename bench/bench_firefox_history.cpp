// "Mozilla Firefox - Visited URL History" on a large places.sqlite.
//  The Clean run's database step (count and delete the unbookmarked places and
//  every visit, secure delete on, one transaction, the check before it and the
//  checkpoint after) on a profile with 200,000 places, 1,000,000 visits and
//  5,000 bookmarks, against the sqlite3 shell running the same statements on a
//  copy of the same file: best of 3 each, and the ratio (goal: at most 1.2).
// Usage: bench_firefox_history [places visits]
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench_timing.h"
#include "cleaner/clean_context.h"
#include "cleaner/clean_log.h"
#include "cleaner/clear_task_thread.h"
#include "cleaner/items/browser_database.h"
#include "core/machine/image/image_machine.h"
#include "core/messages.h"
#include "demo/machine_builder.h"

namespace fs = std::filesystem;
using namespace brisko;

namespace {

const char* kItem = "Mozilla Firefox - Visited URL History";
const std::string kProfile =
    "C:\\Users\\User\\AppData\\Roaming\\Mozilla\\Firefox\\Profiles\\"
    "b3nch000.default";

class CountingLog : public CleanLogSink {
  public:
    void addLine(std::string_view) override { ++lines; }
    size_t lines = 0;
};

void exec(sqlite3* db, const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        std::fprintf(stderr, "sqlite: %s\n", error ? error : "?");
        std::exit(1);
    }
}

// A places.sqlite as a Firefox of the Windows 7 days laid it out.
void makePlaces(const fs::path& file, int places, int visits) {
    sqlite3* db = nullptr;
    if (sqlite3_open(file.c_str(), &db) != SQLITE_OK) std::exit(1);
    exec(db, R"(PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF;
CREATE TABLE moz_places (id INTEGER PRIMARY KEY, url LONGVARCHAR, title LONGVARCHAR, rev_host LONGVARCHAR, visit_count INTEGER DEFAULT 0, hidden INTEGER DEFAULT 0 NOT NULL, typed INTEGER DEFAULT 0 NOT NULL, favicon_id INTEGER, frecency INTEGER DEFAULT -1 NOT NULL, last_visit_date INTEGER);
CREATE TABLE moz_historyvisits (id INTEGER PRIMARY KEY, from_visit INTEGER, place_id INTEGER, visit_date INTEGER, visit_type INTEGER, session INTEGER);
CREATE TABLE moz_bookmarks (id INTEGER PRIMARY KEY, type INTEGER, fk INTEGER DEFAULT NULL, parent INTEGER, position INTEGER, title LONGVARCHAR, keyword_id INTEGER, folder_type TEXT, dateAdded INTEGER, lastModified INTEGER);
BEGIN;
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < )" +
                 std::to_string(places) + R"()
INSERT INTO moz_places SELECT i, 'http://www.site' || (i % 5000) || '.example.com/section/' || i || '/article.html?ref=' || (i * 7919 % 100000), 'Article ' || i || ' - Site ' || (i % 5000), 'moc.elpmaxe.' || (i % 5000) || 'etis.www.', i % 17, 0, i % 3 = 0, NULL, i % 1000, 1300000000000000 + i * 1000 FROM n;
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < )" +
                 std::to_string(visits) + R"()
INSERT INTO moz_historyvisits SELECT i, 0, 1 + (i * 48271 % )" +
                 std::to_string(places) + R"(), 1300000000000000 + i * 997, 1 + i % 6, i / 5 FROM n;
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 5000)
INSERT INTO moz_bookmarks SELECT i, 1, i * 37, 2, i, 'Bookmark ' || i, NULL, NULL, 1300000000000000, 1300000000000000 FROM n;
INSERT INTO moz_bookmarks VALUES (5001, 2, NULL, 0, 0, 'menu', NULL, NULL, 0, 0);
COMMIT;
CREATE UNIQUE INDEX moz_places_url_uniqueindex ON moz_places (url);
CREATE INDEX moz_places_hostindex ON moz_places (rev_host);
CREATE INDEX moz_places_frecencyindex ON moz_places (frecency);
CREATE INDEX moz_places_lastvisitdateindex ON moz_places (last_visit_date);
CREATE INDEX moz_historyvisits_placedateindex ON moz_historyvisits (place_id, visit_date);
CREATE INDEX moz_historyvisits_dateindex ON moz_historyvisits (visit_date);
CREATE INDEX moz_bookmarks_itemindex ON moz_bookmarks (fk, type);
PRAGMA journal_mode = DELETE;)");
    sqlite3_close(db);
}

// The statements the step runs, for the shell.
std::string stepScript() {
    const RowDeletion places{"moz_places",
                             "id NOT IN (SELECT fk FROM moz_bookmarks where fk is not null)"};
    const RowDeletion visits{"moz_historyvisits", ""};
    std::string s = "PRAGMA secure_delete = ON;\nBEGIN IMMEDIATE;\nPRAGMA quick_check(1);\n";
    for (const auto* d : {&places, &visits})
        s += "select [sql] from sqlite_master where [type] = 'table' and lower(name) = '" +
             d->table + "' ;\n" + countStatement(*d) + ";\n" + deleteStatement(*d) + ";\n";
    return s + "COMMIT;\nPRAGMA wal_checkpoint(TRUNCATE);\n";
}

bool copyOver(const fs::path& from, const fs::path& to) {
    std::error_code ec;
    fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
    return !ec;
}

}  // namespace

int main(int argc, char** argv) {
    const int places = argc > 2 ? std::atoi(argv[1]) : 200000;
    const int visits = argc > 2 ? std::atoi(argv[2]) : 1000000;
    const fs::path root =
        fs::temp_directory_path() / ("bench-firefox-history-" + std::to_string(getpid()));
    fs::remove_all(root);
    MachineBuilder b;
    b.addRegText(
        "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\"
        "Explorer\\Shell Folders]\r\n"
        "\"AppData\"=\"C:\\\\Users\\\\User\\\\AppData\\\\Roaming\"\r\n");
    b.addFolder(kProfile);
    b.write(root / "machine");
    const fs::path master = root / "master.sqlite";
    const fs::path inMachine =
        root /
        "machine/Users/User/AppData/Roaming/Mozilla/Firefox/Profiles/b3nch000.default/"
        "places.sqlite";
    const fs::path shellCopy = root / "copy.sqlite";
    makePlaces(master, places, visits);
    std::printf("places.sqlite: %d places, %d visits, 5,000 bookmarks, %.1f MB\n", places, visits,
                double(fs::file_size(master)) / 1e6);

    const fs::path script = root / "step.sql";
    {
        FILE* f = std::fopen(script.c_str(), "w");
        std::fputs(stepScript().c_str(), f);
        std::fclose(f);
    }

    ImageMachine machine(root / "machine");
    const ItemRoutine* routine = builtinItemTable().find(kItem);
    if (!routine) {
        std::fprintf(stderr, "no routine for %s\n", kItem);
        return 1;
    }
    TOptionsSetting settings;
    settings.FastScan = true;
    int64_t removed = 0;
    double ours = bench::medianOf3(
        [&] { copyOver(master, inMachine); },
        [&] {
            DefaultPrompter prompter;
            CountingLog log;
            TClearTaskThread worker({machine, settings, kRunCleanPass, {kItem}, prompter, log});
            worker.Execute({});
            removed = worker.totalCount();
            return removed > 0;
        });
    const std::string cmd =
        "sqlite3 '" + shellCopy.string() + "' < '" + script.string() + "' > /dev/null";
    double shell = bench::medianOf3([&] { copyOver(master, shellCopy); },
                                    [&] { return std::system(cmd.c_str()) == 0; });
    // For reference: the two DELETE statements alone, secure delete on.
    const std::string bare =
        "sqlite3 '" + shellCopy.string() +
        "' 'PRAGMA secure_delete = ON; BEGIN; DELETE FROM moz_places WHERE id NOT IN (SELECT fk "
        "FROM moz_bookmarks where fk is not null); DELETE FROM moz_historyvisits; COMMIT;' > "
        "/dev/null";
    double deletes = bench::medianOf3([&] { copyOver(master, shellCopy); },
                                      [&] { return std::system(bare.c_str()) == 0; });

    std::printf("rows removed by the item: %lld\n", static_cast<long long>(removed));
    std::printf(
        "item best of 3: %.0f ms   sqlite3 shell, same statements: %.0f ms   ratio: %.2f "
        "(goal <= 1.2)\n",
        ours, shell, ours / shell);
    std::printf("sqlite3 shell, the two DELETEs alone: %.0f ms (item / that: %.2f)\n", deletes,
                ours / deletes);
    fs::remove_all(root);
    return 0;
}
