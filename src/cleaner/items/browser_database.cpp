#include "cleaner/items/browser_database.h"

#include <sqlite3.h>

#include "cleaner/clean_context.h"
#include "cleaner/removal.h"
#include "cleaner/sqlite/sqlite_database.h"
#include "core/machine/machine.h"

namespace brisko {

namespace {

// Why a database was left alone, in words for the log.
std::string reasonFor(const ESQLiteException& e) {
    switch (e.code()) {
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return "the database is locked by another program";
        case SQLITE_READONLY:
        case SQLITE_PERM:
        case SQLITE_AUTH:
            return "the database cannot be written";
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB:
        case SQLITE_FORMAT:
            return "the database is damaged or is not a database";
        case SQLITE_CANTOPEN:
            return "the database cannot be opened";
        case SQLITE_ERROR:
            if (!e.detail().empty())
                return "the database is not laid out as expected (" + e.detail() + ")";
            break;
        default:
            break;
    }
    std::string text = e.what();
    if (auto cut = text.find('\r'); cut != std::string::npos) text.resize(cut);
    return text;
}

void logSkipped(CleanContext& ctx, std::string_view dbPath, const std::string& why) {
    ctx.logLine(ctx.RunPrefix + "skipping " + std::string(dbPath) + ": " + why +
                "; it was left as it was");
}

// Raised for a database the step must not touch; carries the reason.
struct LeftAlone {
    std::string why;
};

int64_t countRows(TSQLiteDatabase& db, const RowDeletion& d) {
    return db.getTable(countStatement(d))->asInteger(0, 0);
}

// The step itself, on an open connection. Throws ESQLiteException or LeftAlone.
int64_t runStep(CleanContext& ctx, TSQLiteDatabase& db, std::string_view dbPath,
                const std::vector<RowDeletion>& deletions) {
    const bool removing = !ctx.isTestRun();
    if (removing) {
        if (sqlite3_db_readonly(db.handle(), "main") == 1)
            throw LeftAlone{"the database cannot be written"};
        // Freed cells and pages are overwritten with zeros, so the deleted rows
        // are not left readable in the file.
        db.getTable("PRAGMA secure_delete = ON");
    }
    // The write lock is taken first: a browser (or anything) holding the
    // database makes the step stop here, before a row is read.
    db.execSql(removing ? "BEGIN IMMEDIATE" : "BEGIN");
    struct Rollback {
        TSQLiteDatabase& db;
        ~Rollback() {
            if (sqlite3_get_autocommit(db.handle()) == 0)
                sqlite3_exec(db.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
        }
    } rollback{db};

    auto check = db.getTable("PRAGMA quick_check(1)");
    if (check->rowCount() != 1 || check->asText(0, 0) != "ok")
        throw LeftAlone{"the database is damaged"};

    int64_t total = 0;
    std::vector<std::pair<std::string, int64_t>> done;
    for (const auto& d : deletions) {
        if (ctx.stopRequested()) throw LeftAlone{"the run was stopped"};
        if (!db.tableExists(d.table)) continue;
        if (!ctx.firstTable(dbPath, d.table, d.where.empty())) continue;
        int64_t n = countRows(db, d);
        if (removing && n > 0) db.execSql(deleteStatement(d));
        total += n;
        if (n > 0) done.emplace_back(d.table, n);
    }
    if (removing) {
        db.execSql("COMMIT");
        // A write-ahead log holds the new pages and, from earlier writes, old
        // ones with the deleted rows: it is folded into the file and emptied.
        // A database in rollback-journal mode answers this with nothing to do.
        auto checkpoint = db.getTable("PRAGMA wal_checkpoint(TRUNCATE)");
        if (checkpoint->asInteger(0, 0) != 0)
            ctx.logLine(ctx.RunPrefix + std::string(dbPath) +
                        ": its write-ahead log is in use and keeps the deleted rows until the "
                        "browser folds it in");
    } else {
        db.execSql("COMMIT");
    }
    if (!ctx.fastScan())
        for (const auto& [table, n] : done)
            ctx.logLine(ctx.RunPrefix + "deleting " + std::to_string(n) + " rows of " + table +
                        " in " + std::string(dbPath));
    return total;
}

}  // namespace

std::string deleteStatement(const RowDeletion& d) {
    return "DELETE FROM " + d.table + (d.where.empty() ? "" : " WHERE " + d.where);
}

std::string countStatement(const RowDeletion& d) {
    return "SELECT COUNT(*) FROM " + d.table + (d.where.empty() ? "" : " WHERE " + d.where);
}

int64_t cleanDatabaseRows(CleanContext& ctx, std::string_view dbPath,
                          const std::vector<RowDeletion>& deletions) {
    auto& files = ctx.machine.files();
    if (ctx.stopRequested() || !files.fileExists(dbPath)) return 0;
    std::string why;
    auto host = files.libraryOpenPath(dbPath, &why);
    if (!host) {
        logSkipped(ctx, dbPath, why);
        return 0;
    }
    // A read-only connection to a database in write-ahead-log mode creates the
    // log and its index when they are missing and cannot remove them again:
    // a Test run takes away what it added.
    const std::string wal = std::string(dbPath) + "-wal";
    const std::string shm = std::string(dbPath) + "-shm";
    const bool hadWal = files.fileExists(wal), hadShm = files.fileExists(shm);
    int64_t rows = 0;
    try {
        TSQLiteDatabase db(*host, ctx.isTestRun() ? TSQLiteDatabase::Access::ReadOnly
                                                  : TSQLiteDatabase::Access::ReadWrite);
        rows = runStep(ctx, db, dbPath, deletions);
    } catch (const ESQLiteException& e) {
        logSkipped(ctx, dbPath, reasonFor(e));
        rows = 0;
    } catch (const LeftAlone& e) {
        logSkipped(ctx, dbPath, e.why);
        rows = 0;
    }
    if (ctx.isTestRun()) {
        if (!hadShm && files.fileExists(shm)) files.deleteFile(shm);
        if (!hadWal && FileSizeOf(files, wal) == 0 && files.fileExists(wal)) files.deleteFile(wal);
    }
    return rows;
}

int64_t deleteDatabaseFiles(CleanContext& ctx, std::string_view folder, std::string_view name,
                            bool recurse) {
    int64_t bytes = DeleteMatchingFiles(ctx, folder, name, ctx.ItemCount, recurse);
    for (const char* suffix : {"-journal", "-wal", "-shm"})
        bytes +=
            DeleteMatchingFiles(ctx, folder, std::string(name) + suffix, ctx.ItemCount, recurse);
    return bytes;
}

}  // namespace brisko
