// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

struct sqlite3;
struct sqlite3_stmt;

namespace quillo::sql {

// A prepared statement, finalized with its owner. Steps return SQLite's codes.
class Statement {
public:
    Statement() = default;
    explicit Statement(sqlite3_stmt* stmt) : stmt_(stmt) {}
    Statement(Statement&& other) noexcept : stmt_(std::exchange(other.stmt_, nullptr)) {}
    Statement& operator=(Statement&& other) noexcept;
    ~Statement();
    explicit operator bool() const { return stmt_ != nullptr; }

    Statement& bind(int index, std::int64_t value);
    Statement& bind(int index, std::string_view text);
    // SQLITE_ROW, SQLITE_DONE or an error; a statement that is done is reset.
    int step();
    // Steps to the end: SQLITE_DONE or an error.
    int run();
    void reset();
    std::int64_t integer(int column) const;
    std::string_view text(int column) const;

private:
    sqlite3_stmt* stmt_ = nullptr;
};

class Database {
public:
    Database() = default;
    Database(Database&& other) noexcept : db_(std::exchange(other.db_, nullptr)) {}
    Database& operator=(Database&&) = delete;
    ~Database() { close(); }
    explicit operator bool() const { return db_ != nullptr; }
    sqlite3* get() const { return db_; }

    // SQLite's code; on failure nothing stays open.
    int open(const std::string& path, int flags);
    void close();
    int exec(const char* sql);
    // An empty statement when it cannot be prepared.
    Statement prepare(std::string_view sql, bool persistent = true);
    // The first column of the first row of `sql`, or `fallback`.
    std::int64_t integer(const char* sql, std::int64_t fallback);
    // The code of the last failure, extended.
    int error() const;

private:
    sqlite3* db_ = nullptr;
};

} // namespace quillo::sql
