#pragma once
// Rows the browser items remove from the browsers' SQLite databases, and the
// whole database files they delete. A database is edited only when it can be
// left exactly as it was: one transaction per step, nothing done to a file
// that is locked, read-only, damaged or not laid out as expected (one log line
// says why and the run goes on), a journal or write-ahead log beside it
// honoured, and the deleted rows overwritten rather than left in free pages.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace brisko {

class CleanContext;

// The rows of one table a step removes; the table must exist for anything to
// happen to it. The same condition counts them (Test run) and deletes them.
struct RowDeletion {
    std::string table;
    std::string where;  // without "WHERE"; empty for every row
};

// "DELETE FROM table[ WHERE ...]" and "SELECT COUNT(*) FROM table[ WHERE ...]".
std::string deleteStatement(const RowDeletion& d);
std::string countStatement(const RowDeletion& d);

// Counts (Test run) or deletes (other runs) the rows of the database file
// dbPath (a Windows path of the machine), all deletions in one transaction
// that is rolled back whole when any part fails. Returns the rows counted or
// deleted; 0 when the file is missing or was left alone. In a Test run the
// database is opened read-only and changes nothing.
int64_t cleanDatabaseRows(CleanContext& ctx, std::string_view dbPath,
                          const std::vector<RowDeletion>& deletions);

// A whole database file goes with the journal and write-ahead log SQLite keeps
// beside it: left behind, they would bring the deleted rows back into the
// fresh database the browser creates. DeleteMatchingFiles with name, then with
// name followed by "-journal", "-wal" and "-shm"; returns the bytes.
int64_t deleteDatabaseFiles(CleanContext& ctx, std::string_view folder, std::string_view name,
                            bool recurse);

}  // namespace brisko
