// SPDX-License-Identifier: MIT
// What is found at the tape's path and is not a tape goes aside, and what
// a damaged tape still holds is read out to be carried over.
#include "tapefile.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <deque>
#include <map>
#include <tuple>

namespace quillo {
namespace {

std::string stamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H-%M-%S", &local);
    return text;
}

} // namespace

// Moves what is at `path` aside under a dated name in the same folder, never
// following or deleting it, the database with its -wal and -shm; a damaged
// tape's lines are read from there, to be carried over.
bool TapeFile::setAside(const std::string& path, bool broken, int mode) {
    const std::string base = path + (broken ? ".damaged-" : ".set-aside-") + stamp();
    std::string aside = base;
    for (int n = 2;
         ::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, aside.c_str(), RENAME_NOREPLACE) != 0; ++n) {
        if (errno != EEXIST || n > 100) {
            reason_ = path +
                      " is damaged or not the calculator's, and could not be moved "
                      "aside: " +
                      errnoReason(errno);
            return false;
        }
        aside = base + "-" + std::to_string(n);
    }
    if (path == path_) {
        for (const char* suffix : {"-wal", "-shm"}) {
            ::renameat2(AT_FDCWD, (path + suffix).c_str(), AT_FDCWD, (aside + suffix).c_str(),
                        RENAME_NOREPLACE);
        }
    }
    const char* what = S_ISLNK(mode)    ? "was a symbolic link, which is not followed"
                       : S_ISDIR(mode)  ? "was a folder"
                       : !S_ISREG(mode) ? "was not a file"
                       : broken         ? "was damaged"
                                        : "was not the calculator's tape";
    notice(path + " " + what + ", and was moved to " + aside + ".");
    if (broken) {
        salvage(aside);
    }
    return true;
}

// Best effort: the lines table row by row, past damaged pages too.
void TapeFile::salvage(const std::string& aside) {
    sql::Database old;
    if (old.open(aside, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX) !=
        SQLITE_OK) {
        return;
    }
    sql::lib().db_config(old.get(), SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    // Read-only, this only lets SQLite read a file shorter than its header says.
    old.exec("PRAGMA writable_schema=ON");
    std::map<std::int64_t, std::string> started;
    if (sql::Statement runs = old.prepare("SELECT id, started FROM runs")) {
        while (runs.step() == SQLITE_ROW && started.size() < 4 * TapeStore::kLines) {
            started.emplace(runs.integer(0), runs.text(1));
        }
    }
    sql::Statement rows = old.prepare("SELECT id, run, text FROM lines WHERE id > ?1 ORDER BY id");
    if (!rows) {
        return;
    }
    std::deque<std::tuple<std::int64_t, std::string>> found; // run, text
    std::uint64_t bytes = 0;
    std::int64_t after = INT64_MIN;
    for (int skips = 0; skips < 64; ++skips) {
        int rc;
        for (rows.bind(1, after); (rc = rows.step()) == SQLITE_ROW;) {
            after = rows.integer(0);
            found.emplace_back(rows.integer(1), rows.text(2));
            bytes += std::get<1>(found.back()).size();
            while (found.size() > TapeStore::kLines ||
                   (bytes > TapeStore::kBytes && found.size() > 1)) {
                bytes -= std::get<1>(found.front()).size();
                found.pop_front();
            }
        }
        if (rc == SQLITE_DONE || after == INT64_MAX) {
            break;
        }
        // A damaged page: on from further each time.
        const std::int64_t step = std::int64_t{1} << std::min(skips, 62); // 1 << 63 overflows
        after = after > INT64_MAX - step ? INT64_MAX : after + step;
    }
    std::map<std::int64_t, std::size_t> index;
    for (auto& [run, text] : found) {
        const auto [it, added] = index.try_emplace(run, salvaged_.size());
        if (added) {
            const auto s = started.find(run);
            salvaged_.push_back({s != started.end() ? s->second : std::string(), {}});
        }
        salvaged_[it->second].lines.push_back(std::move(text));
    }
}

} // namespace quillo
