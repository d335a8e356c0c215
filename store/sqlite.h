// SPDX-License-Identifier: MIT
#pragma once

#include <dlfcn.h>
#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace quillo::sql {

// SQLite's functions, loaded with the first database opened. Linked in, the
// library's symbol lookups would cost every start of the calculator some two
// million instructions, for a tape that most runs only write later.
// clang-format off
#define QUILLO_SQLITE_FUNCTIONS(X) \
    X(bind_int64) X(bind_text64) X(busy_timeout) X(close_v2) X(column_bytes) X(column_int64) \
    X(column_text) X(db_config) X(db_readonly) X(errstr) X(exec) X(extended_errcode) \
    X(file_control) X(finalize) X(last_insert_rowid) X(open_v2) X(prepare_v3) \
    X(progress_handler) X(reset) X(step) X(system_errno) X(wal_checkpoint_v2)
// clang-format on
struct Library {
    void* handle = ::dlopen("libsqlite3.so.0", RTLD_NOW | RTLD_LOCAL); // never closed
#define QUILLO_SQLITE_POINTER(name)                                                                \
    decltype(&::sqlite3_##name) name =                                                             \
        reinterpret_cast<decltype(&::sqlite3_##name)>(::dlsym(handle, "sqlite3_" #name));
    QUILLO_SQLITE_FUNCTIONS(QUILLO_SQLITE_POINTER)
#undef QUILLO_SQLITE_POINTER
};

// The library, loaded at the first call; nullptr when it or a function is missing.
inline const Library* library() noexcept {
    static const Library functions;
#define QUILLO_SQLITE_FOUND(name) &&functions.name != nullptr
    static const bool found =
        functions.handle != nullptr QUILLO_SQLITE_FUNCTIONS(QUILLO_SQLITE_FOUND);
#undef QUILLO_SQLITE_FOUND
    return found ? &functions : nullptr;
}
// Only where a database is open, which needed the library.
inline const Library& lib() noexcept {
    return *library();
}

// A row of a statement being stepped.
struct Row {
    sqlite3_stmt* stmt;
    std::int64_t integer(int column) const { return lib().column_int64(stmt, column); }
    std::string_view text(int column) const {
        const auto* data = reinterpret_cast<const char*>(lib().column_text(stmt, column));
        return {data == nullptr ? "" : data, std::size_t(lib().column_bytes(stmt, column))};
    }
};

// A call that failed: SQLite's extended code, and the system's error behind it.
struct Error {
    int rc;
    int system = 0;
};

// A connection; every call but close() and rollback() throws Error when it fails.
class Database {
public:
    Database() = default;
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;
    ~Database() { close(); }
    explicit operator bool() const { return db_ != nullptr; }
    sqlite3* get() const { return db_; }

    // As `path` names it, a file: URI with SQLITE_OPEN_URI. On failure nothing stays open.
    void open(const std::string& path, int flags) {
        close();
        if (lib().open_v2(path.c_str(), &db_, flags | SQLITE_OPEN_EXRESCODE, nullptr) !=
            SQLITE_OK) {
            const Error failed{error(), lib().system_errno(db_)};
            close();
            throw failed;
        }
    }
    void close() {
        if (db_ == nullptr) {
            return; // the library may be missing too
        }
        for (const auto& [sql, stmt] : cache_) {
            lib().finalize(stmt);
        }
        cache_.clear();
        lib().close_v2(std::exchange(db_, nullptr));
    }
    void exec(const char* sql) { check(lib().exec(db_, sql, nullptr, nullptr, nullptr)); }
    void rollback() noexcept { lib().exec(db_, "ROLLBACK", nullptr, nullptr, nullptr); }
    // `sql` prepared at its first use and kept to the close, ?1, ?2... bound
    // to `args`, stepped to the end with `row(Row)` at each row, and reset.
    template <typename Each, typename... Args>
    void each(const char* sql, Each&& row, const Args&... args) {
        sqlite3_stmt*& stmt = cache_[sql];
        if (stmt == nullptr) {
            check(lib().prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr));
        }
        // Reset however it ends, so that no read stays open.
        const std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> reset(stmt, lib().reset);
        int index = 0;
        (bind(stmt, ++index, args), ...);
        int rc;
        while ((rc = lib().step(stmt)) == SQLITE_ROW) {
            row(Row{stmt});
        }
        check(rc, SQLITE_DONE);
    }
    template <typename... Args> void run(const char* sql, const Args&... args) {
        each(
            sql, [](Row) {}, args...);
    }

private:
    int error() const { return db_ == nullptr ? SQLITE_NOMEM : lib().extended_errcode(db_); }
    void check(int rc, int ok = SQLITE_OK) const {
        if (rc != ok) {
            throw Error{error(), lib().system_errno(db_)};
        }
    }
    static void bind(sqlite3_stmt* stmt, int index, std::int64_t value) {
        lib().bind_int64(stmt, index, value);
    }
    // SQLITE_STATIC: the text outlives the step, and is not copied once more.
    static void bind(sqlite3_stmt* stmt, int index, std::string_view text) {
        lib().bind_text64(stmt, index, text.empty() ? "" : text.data(), text.size(), SQLITE_STATIC,
                          SQLITE_UTF8);
    }
    sqlite3* db_ = nullptr;
    std::unordered_map<const char*, sqlite3_stmt*> cache_;
};

} // namespace quillo::sql
