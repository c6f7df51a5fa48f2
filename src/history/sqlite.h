#pragma once
// A thin RAII layer over libsqlite3: a connection, prepared statements, and one error
// type that keeps SQLite's primary result code, so the store can tell a full disk
// from a damaged file.
#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace varnel::history::sql {

struct Error : std::runtime_error {
    Error(const std::string& what, int code) : std::runtime_error(what), code(code) {}
    int code;  // the extended result code
    [[nodiscard]] int primary() const { return code & 0xff; }
    // The disk (or the page limit) is full, or writing failed: worth trying again later.
    [[nodiscard]] bool noRoom() const { return primary() == SQLITE_FULL || primary() == SQLITE_IOERR; }
    // The file is not a database, or not a sound one.
    [[nodiscard]] bool damaged() const { return primary() == SQLITE_CORRUPT || primary() == SQLITE_NOTADB; }
};

class Db;

class Stmt {
public:
    Stmt(Db& db, std::string_view text);
    ~Stmt();
    Stmt(const Stmt&) = delete;
    Stmt& operator=(const Stmt&) = delete;

    Stmt& bind(int index, std::int64_t v);
    Stmt& bind(int index, double v);
    Stmt& bind(int index, std::string_view v);
    Stmt& bindNull(int index);
    // True while a row is there to read.
    bool step();
    void reset();
    // step() and reset(), for statements that give no rows.
    void run();

    [[nodiscard]] std::int64_t integer(int column) const { return sqlite3_column_int64(s_, column); }
    [[nodiscard]] double real(int column) const { return sqlite3_column_double(s_, column); }
    [[nodiscard]] bool null(int column) const { return sqlite3_column_type(s_, column) == SQLITE_NULL; }
    [[nodiscard]] std::string text(int column) const;

private:
    Db& db_;
    sqlite3_stmt* s_ = nullptr;
};

class Db {
public:
    // Opens or creates the file. Throws Error.
    explicit Db(const std::filesystem::path& file, bool readOnly = false);
    ~Db();
    Db(const Db&) = delete;
    Db& operator=(const Db&) = delete;

    void exec(std::string_view text);
    // The first column of the first row, or nothing.
    std::optional<std::int64_t> integer(std::string_view text);
    [[nodiscard]] sqlite3* handle() const { return db_; }
    [[noreturn]] void fail(int code, std::string_view doing) const;

private:
    sqlite3* db_ = nullptr;
};

}  // namespace varnel::history::sql
