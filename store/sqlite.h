// SPDX-License-Identifier: MIT
#pragma once

#include <dlfcn.h>
#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

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
#define QUILLO_SQLITE_POINTER(name) decltype(&::sqlite3_##name) name;
    QUILLO_SQLITE_FUNCTIONS(QUILLO_SQLITE_POINTER)
#undef QUILLO_SQLITE_POINTER
};

// The library, loaded at the first call; nullptr when it cannot be.
inline const Library* library() noexcept {
    static const Library* const loaded = []() -> const Library* {
        // Never closed: its functions are used to the end of the run.
        void* handle = ::dlopen("libsqlite3.so.0", RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            return nullptr;
        }
        static Library functions;
        bool all = true;
#define QUILLO_SQLITE_LOAD(name)                                                                   \
    functions.name =                                                                               \
        reinterpret_cast<decltype(functions.name)>(::dlsym(handle, "sqlite3_" #name));             \
    all = all && functions.name != nullptr;
        QUILLO_SQLITE_FUNCTIONS(QUILLO_SQLITE_LOAD)
#undef QUILLO_SQLITE_LOAD
        return all ? &functions : nullptr;
    }();
    return loaded;
}
// Only where a database is open, which needed the library.
inline const Library& lib() noexcept {
    return *library();
}
// SQLite's words for a code, or why the library could not be loaded.
inline const char* errorString(int rc) noexcept {
    return library() != nullptr ? lib().errstr(rc)
                                : "the SQLite library (libsqlite3.so.0) could not be loaded";
}

// A prepared statement, finalized with its owner. Steps return SQLite's
// codes. Calls into the library only when there is a statement, which needed it.
class Statement {
public:
    Statement() = default;
    explicit Statement(sqlite3_stmt* stmt) : stmt_(stmt) {}
    explicit operator bool() const { return stmt_ != nullptr; }

    Statement& bind(int index, std::int64_t value) {
        return lib().bind_int64(stmt_.get(), index, value), *this;
    }
    // SQLITE_STATIC: the text outlives the step, and is not copied once more.
    Statement& bind(int index, std::string_view text) {
        return lib().bind_text64(stmt_.get(), index, text.empty() ? "" : text.data(), text.size(),
                                 SQLITE_STATIC, SQLITE_UTF8),
               *this;
    }
    // SQLITE_ROW, or SQLITE_DONE or an error with the statement reset.
    int step() {
        const int rc = lib().step(stmt_.get());
        return rc != SQLITE_ROW ? (reset(), rc) : rc;
    }
    // Steps to the end and resets: SQLITE_DONE or an error.
    int run() {
        int rc = SQLITE_ROW;
        while ((rc = step()) == SQLITE_ROW) {
        }
        return rc;
    }
    void reset() { lib().reset(stmt_.get()); }
    std::int64_t integer(int column) const { return lib().column_int64(stmt_.get(), column); }
    std::string_view text(int column) const {
        const auto* data = reinterpret_cast<const char*>(lib().column_text(stmt_.get(), column));
        return {data == nullptr ? "" : data, std::size_t(lib().column_bytes(stmt_.get(), column))};
    }

private:
    struct Finalize {
        void operator()(sqlite3_stmt* stmt) const { lib().finalize(stmt); }
    };
    std::unique_ptr<sqlite3_stmt, Finalize> stmt_;
};

class Database {
public:
    explicit operator bool() const { return db_ != nullptr; }
    sqlite3* get() const { return db_.get(); }

    // SQLite's code; on failure nothing stays open.
    int open(const std::string& path, int flags) {
        close();
        if (library() == nullptr) {
            return SQLITE_CANTOPEN;
        }
        sqlite3* db = nullptr;
        const int rc = lib().open_v2(path.c_str(), &db, flags | SQLITE_OPEN_EXRESCODE, nullptr);
        db_.reset(db);
        if (rc != SQLITE_OK) {
            openErrno_ = db != nullptr ? lib().system_errno(db) : 0;
            close();
        }
        return rc;
    }
    void close() {
        cache_.clear();
        db_.reset();
    }
    // SQLITE_OK or the error's extended code.
    int exec(const char* sql) {
        return lib().exec(get(), sql, nullptr, nullptr, nullptr) == SQLITE_OK ? SQLITE_OK : error();
    }
    // An empty statement when it cannot be prepared (error() says why).
    Statement prepare(std::string_view sql) {
        sqlite3_stmt* stmt = nullptr;
        lib().prepare_v3(get(), sql.data(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT,
                         &stmt, nullptr);
        return Statement(stmt); // null on failure
    }
    int error() const { return db_ == nullptr ? SQLITE_CANTOPEN : lib().extended_errcode(get()); }
    // The system's error behind the last failure, the opening's too.
    int systemErrno() const { return db_ != nullptr ? lib().system_errno(get()) : openErrno_; }
    // `sql` prepared at its first use and kept to the close, ?1, ?2... bound
    // to `args`, stepped to the end: SQLITE_DONE or an error.
    template <typename... Args> int run(const char* sql, const Args&... args) {
        Statement& statement = cached(sql);
        int index = 0;
        (statement.bind(++index, args), ...);
        return statement ? statement.run() : error();
    }
    Statement& cached(const char* sql) {
        Statement& statement = cache_[sql];
        if (!statement) {
            statement = prepare(sql);
        }
        return statement;
    }

private:
    // Statements are finalized by their owners first; v2 copes if one is not.
    struct Close {
        void operator()(sqlite3* db) const { lib().close_v2(db); }
    };
    std::unique_ptr<sqlite3, Close> db_; // declared first: closed after cache_
    int openErrno_ = 0;
    std::unordered_map<const char*, Statement> cache_;
};

} // namespace quillo::sql
