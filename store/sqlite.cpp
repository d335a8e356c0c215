// SPDX-License-Identifier: MIT
#include "sqlite.h"

#include <dlfcn.h>

namespace quillo::sql {

const Library* library() noexcept {
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

const char* errorString(int rc) noexcept {
    const Library* l = library();
    return l != nullptr ? l->errstr(rc)
                        : "the SQLite library (libsqlite3.so.0) could not be loaded";
}

int Database::open(const std::string& path, int flags) {
    close();
    if (library() == nullptr) {
        return SQLITE_CANTOPEN;
    }
    const int rc = lib().open_v2(path.c_str(), &db_, flags | SQLITE_OPEN_EXRESCODE, nullptr);
    if (rc != SQLITE_OK) {
        openErrno_ = db_ != nullptr ? lib().system_errno(db_) : 0;
        close();
    }
    return rc;
}

void Database::close() {
    cache_.clear();
    if (db_ != nullptr) {
        // Statements are finalized by their owners first; v2 copes if one is not.
        lib().close_v2(db_);
        db_ = nullptr;
    }
}

int Database::exec(const char* sql) {
    return lib().exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK ? SQLITE_OK : error();
}

Statement Database::prepare(std::string_view sql) {
    sqlite3_stmt* stmt = nullptr;
    if (lib().prepare_v3(db_, sql.data(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT,
                         &stmt, nullptr) != SQLITE_OK) {
        lib().finalize(stmt);
        return {};
    }
    return Statement(stmt);
}

Statement& Database::cached(const char* sql) {
    Statement& statement = cache_[sql];
    if (!statement) {
        statement = prepare(sql);
    }
    return statement;
}

} // namespace quillo::sql
