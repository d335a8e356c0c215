// SPDX-License-Identifier: MIT
#include "sqlite.h"

#include <sqlite3.h>

namespace quillo::sql {

Statement& Statement::operator=(Statement&& other) noexcept {
    if (this != &other) {
        sqlite3_finalize(stmt_);
        stmt_ = std::exchange(other.stmt_, nullptr);
    }
    return *this;
}

Statement::~Statement() {
    sqlite3_finalize(stmt_);
}

Statement& Statement::bind(int index, std::int64_t value) {
    sqlite3_bind_int64(stmt_, index, value);
    return *this;
}

Statement& Statement::bind(int index, std::string_view text) {
    // SQLITE_TRANSIENT would copy each line once more; the text outlives the step.
    sqlite3_bind_text64(stmt_, index, text.empty() ? "" : text.data(), text.size(), SQLITE_STATIC,
                        SQLITE_UTF8);
    return *this;
}

int Statement::step() {
    const int rc = sqlite3_step(stmt_);
    if (rc != SQLITE_ROW) {
        sqlite3_reset(stmt_);
    }
    return rc;
}

int Statement::run() {
    int rc;
    while ((rc = sqlite3_step(stmt_)) == SQLITE_ROW) {
    }
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
    return rc;
}

void Statement::reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
}

std::int64_t Statement::integer(int column) const {
    return sqlite3_column_int64(stmt_, column);
}

std::string_view Statement::text(int column) const {
    const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
    const int size = sqlite3_column_bytes(stmt_, column);
    return data == nullptr ? std::string_view()
                           : std::string_view(data, static_cast<std::size_t>(size));
}

int Database::open(const std::string& path, int flags) {
    close();
    const int rc = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
    if (rc != SQLITE_OK) {
        close();
    }
    return rc;
}

void Database::close() {
    if (db_ != nullptr) {
        // Statements are finalized by their owners first; v2 copes if one is not.
        sqlite3_close_v2(db_);
        db_ = nullptr;
    }
}

int Database::exec(const char* sql) {
    return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
}

Statement Database::prepare(std::string_view sql, bool persistent) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v3(db_, sql.data(), static_cast<int>(sql.size()),
                           persistent ? SQLITE_PREPARE_PERSISTENT : 0, &stmt,
                           nullptr) != SQLITE_OK) {
        sqlite3_finalize(stmt);
        return {};
    }
    return Statement(stmt);
}

std::int64_t Database::integer(const char* sql, std::int64_t fallback) {
    Statement stmt = prepare(sql, false);
    if (!stmt || stmt.step() != SQLITE_ROW) {
        return fallback;
    }
    const std::int64_t value = stmt.integer(0);
    stmt.reset();
    return value;
}

int Database::error() const {
    return db_ == nullptr ? SQLITE_CANTOPEN : sqlite3_extended_errcode(db_);
}

} // namespace quillo::sql
