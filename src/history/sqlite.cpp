#include "history/sqlite.h"

namespace varnel::history::sql {

Db::Db(const std::filesystem::path& file, bool readOnly) {
    const int flags = readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    const int rc = sqlite3_open_v2(file.c_str(), &db_, flags | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        const std::string why = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
        sqlite3_close(db_);
        db_ = nullptr;
        throw Error("cannot open " + file.string() + ": " + why, rc);
    }
    sqlite3_extended_result_codes(db_, 1);
    // Another reader (a backup) holds the file only for moments.
    sqlite3_busy_timeout(db_, 2000);
}

Db::~Db() { sqlite3_close_v2(db_); }

void Db::fail(int code, std::string_view doing) const {
    throw Error(std::string(doing) + ": " + sqlite3_errmsg(db_), code);
}

void Db::exec(std::string_view text) {
    const std::string s(text);
    char* err = nullptr;
    const int rc = sqlite3_exec(db_, s.c_str(), nullptr, nullptr, &err);
    if (rc != SQLITE_OK) {
        const std::string why = err ? err : sqlite3_errstr(rc);
        sqlite3_free(err);
        throw Error(why, sqlite3_extended_errcode(db_));
    }
}

std::optional<std::int64_t> Db::integer(std::string_view text) {
    Stmt s(*this, text);
    if (!s.step() || s.null(0)) return std::nullopt;
    return s.integer(0);
}

Stmt::Stmt(Db& db, std::string_view text) : db_(db) {
    const int rc = sqlite3_prepare_v2(db.handle(), text.data(), static_cast<int>(text.size()), &s_, nullptr);
    if (rc != SQLITE_OK) db.fail(rc, "cannot prepare a statement");
}

Stmt::~Stmt() { sqlite3_finalize(s_); }

Stmt& Stmt::bind(int index, std::int64_t v) {
    sqlite3_bind_int64(s_, index, v);
    return *this;
}
Stmt& Stmt::bind(int index, double v) {
    sqlite3_bind_double(s_, index, v);
    return *this;
}
Stmt& Stmt::bind(int index, std::string_view v) {
    sqlite3_bind_text(s_, index, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    return *this;
}
Stmt& Stmt::bindNull(int index) {
    sqlite3_bind_null(s_, index);
    return *this;
}

bool Stmt::step() {
    const int rc = sqlite3_step(s_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    const int code = sqlite3_extended_errcode(db_.handle());
    sqlite3_reset(s_);
    db_.fail(code, "history database");
}

void Stmt::reset() {
    sqlite3_reset(s_);
    sqlite3_clear_bindings(s_);
}

void Stmt::run() {
    step();
    reset();
}

std::string Stmt::text(int column) const {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(s_, column));
    return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(s_, column))) : std::string();
}

}  // namespace varnel::history::sql
