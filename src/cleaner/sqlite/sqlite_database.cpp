#include "cleaner/sqlite/sqlite_database.h"

#include <sqlite3.h>

#include <array>
#include <cstdlib>

#include "base/text.h"

namespace brisko {

namespace {

constexpr std::array<const char*, 27> kDescriptions = {
    "Successful result",
    "SQL error or missing database",
    "An internal logic error in SQLite",
    "Access permission denied",
    "Callback routine requested an abort",
    "The database file is locked",
    "A table in the database is locked",
    "A malloc() failed",
    "Attempt to write a readonly database",
    "Operation terminated by sqlite3_interrupt()",
    "Some kind of disk I/O error occurred",
    "The database disk image is malformed",
    "(Internal Only) Table or record not found",
    "Insertion failed because database is full",
    "Unable to open the database file",
    "Database lock protocol error",
    "Database is empty",
    "The database schema changed",
    "Too much data for one row of a table",
    "Abort due to contraint violation",
    "Data type mismatch",
    "Library used incorrectly",
    "Uses OS features not supported on host",
    "Authorization denied",
    "Auxiliary database format error",
    "2nd parameter to sqlite3_bind out of range",
    "File opened that is not a database file",
};

// Finalizes the statement on every way out.
struct Statement {
    sqlite3_stmt* stmt = nullptr;
    ~Statement() { sqlite3_finalize(stmt); }
};

void prepare(const TSQLiteDatabase& db, std::string_view sql, Statement& out) {
    const char* tail = nullptr;
    int rc =
        sqlite3_prepare_v2(db.handle(), sql.data(), static_cast<int>(sql.size()), &out.stmt, &tail);
    if (rc != SQLITE_OK) db.raiseError("Error executing SQL", sql);
    if (!out.stmt) db.raiseError("Could not prepare SQL statement", sql);
}

TSQLiteTable::ColumnKind kindOf(sqlite3_stmt* stmt, int column) {
    using K = TSQLiteTable::ColumnKind;
    if (const char* declared = sqlite3_column_decltype(stmt, column)) {
        std::string_view d = declared;
        if (d == "INTEGER" || d == "BOOLEAN") return K::Integer;
        if (d == "NUMERIC" || d == "FLOAT" || d == "DOUBLE" || d == "REAL") return K::Float;
        if (d == "BLOB") return K::Blob;
        return K::Text;
    }
    switch (sqlite3_column_type(stmt, column)) {
        case SQLITE_INTEGER:
            return K::Integer;
        case SQLITE_FLOAT:
            return K::Float;
        case SQLITE_BLOB:
            return K::Blob;
        default:
            return K::Text;
    }
}

TSQLiteTable::Value valueOf(sqlite3_stmt* stmt, int column, TSQLiteTable::ColumnKind kind) {
    using K = TSQLiteTable::ColumnKind;
    if (sqlite3_column_type(stmt, column) == SQLITE_NULL) return {};
    switch (kind) {
        case K::Integer:
            return static_cast<int64_t>(sqlite3_column_int64(stmt, column));
        case K::Float:
            return sqlite3_column_double(stmt, column);
        case K::Blob: {
            const auto* data = static_cast<const uint8_t*>(sqlite3_column_blob(stmt, column));
            int n = sqlite3_column_bytes(stmt, column);
            if (!data || n <= 0) return {};
            return std::vector<uint8_t>(data, data + n);
        }
        case K::Text:
        default: {
            const auto* text = sqlite3_column_text(stmt, column);
            int n = sqlite3_column_bytes(stmt, column);
            if (!text) return std::string();
            return std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(n));
        }
    }
}

}  // namespace

std::string sqliteErrorDescription(int code) {
    if (code >= 0 && code < static_cast<int>(kDescriptions.size())) return kDescriptions[code];
    if (code == SQLITE_ROW) return "sqlite3_step() has another row ready";
    if (code == SQLITE_DONE) return "sqlite3_step() has finished executing";
    return "Unknown SQLite Error Code \"" + std::to_string(code) + "\"";
}

TSQLiteDatabase::TSQLiteDatabase(const std::string& fileName, Access access) : fileName_(fileName) {
    int flags = SQLITE_OPEN_NOFOLLOW |
                (access == Access::ReadOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE);
    int rc = sqlite3_open_v2(fileName.c_str(), &db_, flags, nullptr);
    // A browser's database is data, not code: its triggers never run while
    // rows are deleted, its schema may call no function with side effects,
    // and nothing may write to it but plain statements.
    int triggers = 1, trusted = 1, defensive = 0;
    if (rc == SQLITE_OK &&
        (sqlite3_db_config(db_, SQLITE_DBCONFIG_ENABLE_TRIGGER, 0, &triggers) != SQLITE_OK ||
         sqlite3_db_config(db_, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, &trusted) != SQLITE_OK ||
         sqlite3_db_config(db_, SQLITE_DBCONFIG_DEFENSIVE, 1, &defensive) != SQLITE_OK ||
         triggers || trusted || !defensive)) {
        sqlite3_close(db_);
        db_ = nullptr;
        throw ESQLiteException(
            "Failed to open database \"" + fileName + "\" : its triggers cannot be switched off",
            SQLITE_ERROR, "triggers cannot be switched off");
    }
    if (rc == SQLITE_OK) {
        // Numbered codes in messages are the primary ones the descriptions cover.
        sqlite3_extended_result_codes(db_, 0);
        return;
    }
    std::string reason = db_ ? sqlite3_errmsg(db_) : "unknown error";
    int code = db_ ? sqlite3_errcode(db_) : rc;
    sqlite3_close(db_);
    db_ = nullptr;
    throw ESQLiteException("Failed to open database \"" + fileName + "\" : " + reason, code,
                           reason);
}

TSQLiteDatabase::~TSQLiteDatabase() {
    if (db_) sqlite3_close(db_);
}

void TSQLiteDatabase::raiseError(std::string_view message, std::string_view sql) const {
    int code = sqlite3_errcode(db_);
    const char* text = sqlite3_errmsg(db_);
    if (code != 0 && text) {
        std::string full(message);
        full += ".\rError [" + std::to_string(code) + "]: " + sqliteErrorDescription(code) +
                ".\r\"" + std::string(sql) + "\": " + text;
        throw ESQLiteException(full, code, text);
    }
    throw ESQLiteException(std::string(message), code);
}

void TSQLiteDatabase::execSql(std::string_view sql) {
    Statement s;
    prepare(*this, sql, s);
    if (sqlite3_step(s.stmt) != SQLITE_DONE) {
        sqlite3_reset(s.stmt);
        raiseError("Error executing SQL statement", sql);
    }
}

bool TSQLiteDatabase::tableExists(std::string_view name) {
    auto t = getTable("select [sql] from sqlite_master where [type] = 'table' and lower(name) = '" +
                      lowerCase(name) + "' ");
    return t->rowCount() > 0;
}

std::unique_ptr<TSQLiteTable> TSQLiteDatabase::getTable(std::string_view sql) {
    return std::make_unique<TSQLiteTable>(*this, sql);
}

TSQLiteTable::TSQLiteTable(TSQLiteDatabase& db, std::string_view sql) {
    Statement s;
    prepare(db, sql, s);
    for (;;) {
        int rc = sqlite3_step(s.stmt);
        if (rc == SQLITE_DONE) break;
        if (rc == SQLITE_BUSY) throw ESQLiteException("Could not prepare SQL statement", rc);
        if (rc != SQLITE_ROW) {
            sqlite3_reset(s.stmt);
            db.raiseError("Could not retrieve data", sql);
        }
        if (rowCount_ == 0) {
            int n = sqlite3_column_count(s.stmt);
            for (int c = 0; c < n; ++c) {
                const char* name = sqlite3_column_name(s.stmt, c);
                names_.push_back(upperCase(name ? name : ""));
                kinds_.push_back(kindOf(s.stmt, c));
            }
        }
        for (int c = 0; c < columnCount(); ++c) values_.push_back(valueOf(s.stmt, c, kinds_[c]));
        ++rowCount_;
    }
}

const TSQLiteTable::Value& TSQLiteTable::value(int row, int column) const {
    static const Value none;
    if (row < 0 || row >= rowCount_ || column < 0 || column >= columnCount()) return none;
    return values_[static_cast<size_t>(row) * names_.size() + static_cast<size_t>(column)];
}

int64_t TSQLiteTable::asInteger(int row, int column) const {
    const Value& v = value(row, column);
    if (auto* i = std::get_if<int64_t>(&v)) return *i;
    if (auto* d = std::get_if<double>(&v)) return static_cast<int64_t>(*d);
    if (auto* s = std::get_if<std::string>(&v)) return std::strtoll(s->c_str(), nullptr, 10);
    return 0;
}

std::string TSQLiteTable::asText(int row, int column) const {
    const Value& v = value(row, column);
    if (auto* s = std::get_if<std::string>(&v)) return *s;
    if (auto* i = std::get_if<int64_t>(&v)) return std::to_string(*i);
    if (auto* d = std::get_if<double>(&v)) return std::to_string(*d);
    if (auto* b = std::get_if<std::vector<uint8_t>>(&v)) return std::string(b->begin(), b->end());
    return {};
}

}  // namespace brisko
