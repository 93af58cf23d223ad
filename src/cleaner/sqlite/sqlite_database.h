#pragma once
// The thin SQLite layer the browser items use: one connection per database
// file (TSQLiteDatabase), the complete result of one query read into memory
// (TSQLiteTable), and the one exception both raise (ESQLiteException).
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

struct sqlite3;

namespace brisko {

class ESQLiteException : public std::runtime_error {
  public:
    // code: the SQLite result code behind the error, 0 when none was set;
    // detail: SQLite's own message for it ("no such table: x"), when it gave one.
    explicit ESQLiteException(const std::string& message, int code = 0, std::string detail = {})
        : std::runtime_error(message), code_(code), detail_(std::move(detail)) {}
    int code() const { return code_; }
    const std::string& detail() const { return detail_; }

  private:
    int code_;
    std::string detail_;
};

// The description of a SQLite result code, as the wrapper's messages give it;
// "Unknown SQLite Error Code \"n\"" for a code it does not know.
std::string sqliteErrorDescription(int code);

class TSQLiteTable;

class TSQLiteDatabase {
  public:
    // Opening flags. ReadWrite never creates a missing file: a database the
    // cleaner does not find is not there to clean. Neither follows a symbolic
    // link anywhere in the path.
    enum class Access { ReadWrite, ReadOnly };

    // Raises ESQLiteException "Failed to open database \"name\" : reason".
    explicit TSQLiteDatabase(const std::string& fileName, Access access = Access::ReadWrite);
    ~TSQLiteDatabase();
    TSQLiteDatabase(const TSQLiteDatabase&) = delete;
    TSQLiteDatabase& operator=(const TSQLiteDatabase&) = delete;

    // Runs one statement that returns no rows.
    void execSql(std::string_view sql);
    // True when a table of that name exists (compared in lower case). The name
    // is put into the query as it is: callers pass fixed names only.
    bool tableExists(std::string_view name);
    std::unique_ptr<TSQLiteTable> getTable(std::string_view sql);

    sqlite3* handle() const { return db_; }
    const std::string& fileName() const { return fileName_; }

    // Raises ESQLiteException with message, the connection's current error
    // code, its description, the statement and SQLite's own message.
    [[noreturn]] void raiseError(std::string_view message, std::string_view sql) const;

  private:
    sqlite3* db_ = nullptr;
    std::string fileName_;
};

class TSQLiteTable {
  public:
    enum class ColumnKind { Integer, Float, Blob, Text };
    // NULL and a blob of 0 bytes are no value.
    using Value = std::variant<std::monostate, int64_t, double, std::vector<uint8_t>, std::string>;

    TSQLiteTable(TSQLiteDatabase& db, std::string_view sql);

    int rowCount() const { return rowCount_; }
    int columnCount() const { return static_cast<int>(names_.size()); }
    const std::vector<std::string>& columnNames() const { return names_; }  // upper-cased
    const std::vector<ColumnKind>& columnKinds() const { return kinds_; }
    const Value& value(int row, int column) const;
    // The column's value as a number: integers and floats as they are, text
    // parsed as far as it is a number, anything else 0.
    int64_t asInteger(int row, int column) const;
    std::string asText(int row, int column) const;

  private:
    int rowCount_ = 0;
    std::vector<std::string> names_;
    std::vector<ColumnKind> kinds_;
    std::vector<Value> values_;  // row after row
};

}  // namespace brisko
