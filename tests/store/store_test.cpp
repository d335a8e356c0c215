// SPDX-License-Identifier: MIT
// The kept tape's SQLite store on real files in a temporary folder: what a
// later run reads back, the bounds, processes killed while writing or
// writing at once, damaged, foreign and unreadable files, links, a full or
// read-only disk, a busy database, modes, the switch-off, and deleted and
// cleared text gone from the disk.

#include "tapestore.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <random>

namespace quillo {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;
constexpr std::time_t kStart = 1'796'653'800;

struct Folder {
    fs::path root, path;
    Folder() {
        std::string name = (fs::temp_directory_path() / "store-XXXXXX").string();
        root = ::mkdtemp(name.data());
        path = root / "state" / "quillo";
    }
    ~Folder() {
        std::error_code error;
        fs::permissions(path, fs::perms::owner_all, error);
        fs::remove_all(root, error);
    }
    fs::path db() const { return path / TapeStore::kFileName; }
    // What was set aside, the database itself when it was.
    std::string aside() const {
        std::string found;
        for (const auto& entry : fs::directory_iterator(path)) {
            const std::string name = entry.path().filename().string();
            if (name.find("aside-") != std::string::npos ||
                name.find("damaged-") != std::string::npos) {
                found = found.empty() || name.size() < found.size() ? name : found;
            }
        }
        return found;
    }
};

// A store as a window uses it, what it tells gathered.
class Window {
public:
    explicit Window(const Folder& folder, std::time_t started = kStart)
        : store(folder.path.string(), std::to_string(started),
                {[this](Earlier e) {
                     const std::lock_guard l(m_);
                     earlier_ = std::move(e);
                 },
                 [this](std::string p) {
                     const std::lock_guard l(m_);
                     problem_ = std::move(p);
                 },
                 [this] {
                     const std::lock_guard l(m_);
                     off_ = true;
                 }}) {}

    void add(std::uint64_t number, std::string text) { store.add({{number, std::move(text)}}); }
    std::string problem() {
        store.settle();
        const std::lock_guard l(m_);
        return problem_;
    }
    bool off() {
        store.settle();
        const std::lock_guard l(m_);
        return off_;
    }
    Earlier earlier() {
        store.readEarlier();
        store.settle();
        const std::lock_guard l(m_);
        return earlier_;
    }
    Lines lines() {
        Lines found;
        for (const KeptLine& line : earlier().lines) {
            found.push_back(line.note.empty() ? line.text : line.text + " #" + line.note);
        }
        return found;
    }

private:
    std::mutex m_;
    Earlier earlier_;
    std::string problem_;
    bool off_ = false;

public:
    TapeStore store; // last: gone before what its thread tells
};

Lines later(const Folder& folder, std::string* problem = nullptr) {
    Window reader(folder, kStart + 100);
    Lines found = reader.lines();
    if (problem != nullptr) {
        *problem = reader.problem();
    }
    return found;
}

void put(const fs::path& file, std::string_view text) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    ::close(fd);
}

std::string bytes(const fs::path& file) {
    std::error_code error;
    const auto size = fs::file_size(file, error);
    std::string text(error ? 0 : size, '\0');
    const int fd = ::open(file.c_str(), O_RDONLY);
    if (fd >= 0 && ::read(fd, text.data(), text.size()) < 0) {
        text.clear();
    }
    ::close(fd);
    return text;
}

void sql(const fs::path& db, const char* text) {
    sqlite3* h = nullptr;
    sqlite3_open(db.c_str(), &h);
    EXPECT_EQ(sqlite3_exec(h, text, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(h);
    sqlite3_close(h);
}

TEST(Store, ReadBackAfterChanges) {
    constexpr std::uint64_t kHuge = UINT64_MAX;
    const struct {
        const char* name;
        std::function<void(Window&, const Folder&)> run;
        Lines expected;
    } cases[] = {
        {"adds", [](Window& s, const Folder&) { s.add(0, "a"), s.add(1, "b"); }, {"a", "b"}},
        {"undo",
         [](Window& s, const Folder&) { s.add(0, "a"), s.add(1, "b"), s.store.replace(1, {}); },
         {"a"}},
        {"correction",
         [](Window& s, const Folder&) {
             s.add(0, "a"), s.add(1, "b");
             s.store.replace(1, {{1, "c"}});
         },
         {"a", "c"}},
        {"delete",
         [](Window& s, const Folder&) { s.add(0, "a"), s.add(1, "b"), s.store.remove(0); },
         {"b"}},
        {"undo and delete keep other runs' lines of the same numbers",
         [](Window& s, const Folder& f) {
             Window other(f, kStart - 1);
             other.add(5, "other 5"), other.add(6, "other 6");
             other.store.settle();
             s.add(5, "mine 5"), s.add(6, "mine 6"), s.store.remove(6), s.store.replace(5, {});
         },
         {"other 5", "other 6"}},
        {"delete of an earlier run's line",
         [](Window& s, const Folder& f) {
             {
                 Window first(f, kStart - 1);
                 first.add(0, "x"), first.add(1, "y");
             }
             s.store.removeEarlier(s.earlier().lines.at(0).id);
         },
         {"y"}},
        {"clear takes earlier runs' lines too",
         [](Window& s, const Folder& f) {
             Window first(f, kStart - 1);
             first.add(0, "x");
             first.store.settle();
             s.add(0, "a"), s.store.clear(), s.add(1, "b");
         },
         {"b"}},
        {"numbers past 2^63 keep their order",
         [](Window& s, const Folder&) {
             s.add(kHuge, "huge"), s.add(0, "zero"), s.store.replace(1, {});
         },
         {"zero"}},
        {"a delete of 2^64-1",
         [](Window& s, const Folder&) {
             s.add(kHuge, "huge"), s.add(3, "3"), s.store.remove(kHuge);
         },
         {"3"}},
        {"clear with 2^64-1",
         [](Window& s, const Folder&) { s.add(kHuge, "huge"), s.store.clear(); },
         {}},
        {"notes kept with their lines, a correction's too",
         [](Window& s, const Folder& f) {
             {
                 Window first(f, kStart - 1);
                 first.add(0, "x"), first.add(1, "y");
             }
             s.store.noteEarlier(s.earlier().lines.at(1).id, "on y");
             s.add(0, "a"), s.store.note(0, "on a"), s.store.note(0, "on a, again");
             s.store.replace(0, {{0, "a2", "kept"}, {1, "b"}}), s.store.note(1, "on b");
             s.store.note(1, "");
         },
         {"x", "y #on y", "a2 #kept", "b"}},
        {"a clear in another window stays through a correction of a line before it",
         [](Window& s, const Folder& f) {
             s.add(0, "b0"), s.add(1, "b1"), s.store.settle();
             Window(f, kStart + 1).store.clear();
             s.store.replace(1, {{1, "b1 corrected"}});
         },
         {}},
        {"a clear in another window stays through an undo and redo",
         [](Window& s, const Folder& f) {
             s.add(0, "b0"), s.add(1, "b1"), s.store.settle();
             Window(f, kStart + 1).store.clear();
             s.store.replace(1, {}), s.add(1, "b1");
         },
         {}},
        {"a new line after an undo past another window's clear is kept",
         [](Window& s, const Folder& f) {
             s.add(0, "b0"), s.add(1, "b1"), s.store.settle();
             Window(f, kStart + 1).store.clear();
             s.store.replace(1, {}), s.add(1, "new"), s.add(2, "newer");
         },
         {"new", "newer"}},
        {"kept on a second open after another window set the file aside",
         [](Window& s, const Folder& f) {
             s.add(0, "a");
             s.store.settle();
             fs::rename(f.db(), f.path / "moved");
             s.add(1, "b");
         },
         {"b"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Folder folder;
        Window window(folder, kStart);
        c.run(window, folder);
        window.store.settle();
        EXPECT_EQ(later(folder), c.expected);
        EXPECT_EQ(window.problem(), "");
    }
}

// Each window's lines under its own run, in the order typed, however the
// windows took turns; runs in the order they began.
TEST(Store, EveryWindowsLinesInOrder) {
    for (const int windows : {2, 4}) {
        SCOPED_TRACE(windows);
        Folder folder;
        {
            std::vector<std::unique_ptr<Window>> open;
            for (int w = 0; w < windows; ++w) {
                open.push_back(std::make_unique<Window>(folder, kStart + w));
            }
            for (std::uint64_t n = 0; n < 3; ++n) {
                for (int w = 0; w < windows; ++w) {
                    open[w]->add(n, std::to_string(w) + ":" + std::to_string(n));
                    open[w]->store.settle();
                }
            }
        }
        Window reader(folder, kStart + 100);
        const Earlier earlier = reader.earlier();
        ASSERT_EQ(earlier.runs.size(), static_cast<std::size_t>(windows));
        ASSERT_EQ(earlier.lines.size(), static_cast<std::size_t>(3 * windows));
        for (std::size_t i = 0; i < earlier.lines.size(); ++i) {
            EXPECT_EQ(earlier.lines[i].run, i / 3);
            EXPECT_EQ(earlier.lines[i].text, std::to_string(i / 3) + ":" + std::to_string(i % 3));
        }
        EXPECT_EQ(earlier.runs[1].started, std::to_string(kStart + 1));
    }
}

TEST(Store, Bounds) {
    const std::string big(40u << 20, 'b');
    const std::string huge(TapeStore::kBytes + 1, 'h');
    const struct {
        const char* name;
        std::vector<std::string> lines;
        std::size_t kept;
    } cases[] = {
        {"lines", std::vector<std::string>(TapeStore::kLines + 5, "1+1=2"), TapeStore::kLines},
        {"bytes", {big, big}, 1},
        {"a line longer than the bound", {"a", huge}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Folder folder;
        {
            Window window(folder);
            std::vector<TapeStore::Line> lines;
            for (std::size_t i = 0; i < c.lines.size(); ++i) {
                lines.push_back({i, c.lines[i]});
            }
            // All but the last at once: the bound holds for each write.
            window.store.add(std::vector(lines.begin(), lines.end() - 1));
            window.store.settle();
            window.store.add({lines.back()});
        }
        const Lines found = later(folder);
        ASSERT_EQ(found.size(), c.kept);
        EXPECT_TRUE(found.back() == c.lines.back()); // the newest, whole
    }
}

// A child hands lines over and reports each once the store has tried it;
// killed at a random moment, each reported line is there, whole.
TEST(Store, KilledWriterLosesNoWrittenLine) {
    std::mt19937 random(7);
    for (int round = 0; round < 4; ++round) {
        Folder folder;
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(fds[0]);
            Window window(folder);
            for (std::uint64_t n = 0;; ++n) {
                window.add(n, "line " + std::to_string(n) + std::string(n % 300, '='));
                window.store.settle();
                if (::write(fds[1], &n, sizeof n) != sizeof n) {
                    ::_exit(1);
                }
            }
        }
        ::close(fds[1]);
        const auto until =
            std::chrono::steady_clock::now() +
            std::chrono::milliseconds(std::uniform_int_distribution(20, 200)(random));
        std::uint64_t n = 0, written = 0;
        while (std::chrono::steady_clock::now() < until &&
               ::read(fds[0], &n, sizeof n) == sizeof n) {
            written = n + 1;
        }
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        ::close(fds[0]);
        const Lines found = later(folder);
        ASSERT_GE(found.size(), written);
        for (std::uint64_t i = 0; i < written; ++i) {
            ASSERT_EQ(found[i], "line " + std::to_string(i) + std::string(i % 300, '='));
        }
    }
}

// Two processes starting a new tape at once: each keeps every line.
TEST(Store, TwoWritersAtOnce) {
    Folder folder;
    constexpr int kEach = 400;
    pid_t children[2];
    for (int w = 0; w < 2; ++w) {
        if ((children[w] = ::fork()) == 0) {
            bool ok;
            {
                Window window(folder, kStart + w);
                for (int n = 0; n < kEach; ++n) {
                    window.add(static_cast<std::uint64_t>(n),
                               std::to_string(w) + ":" + std::to_string(n));
                }
                const std::string problem = window.problem();
                const std::string why = window.store.finish(TapeStore::kExitWait);
                ok = problem.empty() && why.empty();
                if (!ok) { // seen in the parent's output
                    std::fprintf(stderr, "writer %d: %s / %s\n", w, problem.c_str(), why.c_str());
                }
            }
            ::_exit(ok ? 0 : 1);
        }
    }
    for (const pid_t child : children) {
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_EQ(status, 0);
    }
    std::string problem;
    Lines found = later(folder, &problem);
    EXPECT_EQ(problem, "");
    EXPECT_EQ(folder.aside(), "");
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found.size(), 2u * kEach);
    EXPECT_EQ(std::unique(found.begin(), found.end()), found.end());
}

// What is at the path is moved aside, never followed or deleted; the store
// starts anew and keeps what could be read. A file that is only
// unreadable to the user is named and left alone.
TEST(Store, DamagedForeignOrUnreadableFiles) {
    auto tape = [](const Folder& f, int lines) {
        Window window(f, kStart - 1);
        for (int n = 0; n < lines; ++n) {
            window.add(static_cast<std::uint64_t>(n), "old " + std::to_string(n));
        }
    };
    sqlite3* held = nullptr; // another program's connection
    // The page dbstat finds `where` written over.
    auto junk = [](const Folder& f, const std::string& where) {
        sqlite3* h = nullptr;
        sqlite3_stmt* page = nullptr;
        sqlite3_open(f.db().c_str(), &h);
        sqlite3_prepare_v2(h, ("SELECT pageno FROM dbstat WHERE " + where).c_str(), -1, &page,
                           nullptr);
        ASSERT_EQ(sqlite3_step(page), SQLITE_ROW);
        const off_t at = (sqlite3_column_int64(page, 0) - 1) * 4096;
        sqlite3_finalize(page);
        sqlite3_close(h);
        const int fd = ::open(f.db().c_str(), O_WRONLY);
        const std::string junk(4096, '\xff');
        ASSERT_EQ(::pwrite(fd, junk.data(), junk.size(), at), 4096);
        ::close(fd);
    };
    const struct {
        const char* name;
        std::function<void(const Folder&)> make;
        const char* setAside; // what the notice says of it; nullptr: not set aside
        std::size_t carried;  // lines read from it, at least
    } cases[] = {
        {"garbage", [](const Folder& f) { put(f.db(), std::string(5000, 'x')); }, "damaged", 0},
        {"truncated",
         [&](const Folder& f) {
             tape(f, 3000);
             fs::resize_file(f.db(), fs::file_size(f.db()) / 2);
         },
         "damaged", 0},
        {"a damaged page amid the lines",
         [&](const Folder& f) {
             tape(f, 3000);
             // The lines' fourth leaf page, of a dozen.
             junk(f, "name = 'lines' AND pagetype = 'leaf' ORDER BY path LIMIT 1 OFFSET 3");
         },
         "damaged", 1500},
        {"a damaged tape another program holds open",
         [&](const Folder& f) {
             tape(f, 3000);
             sqlite3_open(f.db().c_str(), &held);
             sqlite3_exec(held, "SELECT count(*) FROM runs", nullptr, nullptr, nullptr);
             junk(f, "name = 'lines' AND pagetype = 'leaf' ORDER BY path LIMIT 1 OFFSET 3");
         },
         "damaged", 1500},
        {"a damaged page no read or write meets",
         [&](const Folder& f) {
             tape(f, 3000);
             junk(f, "name = 'lines_by_number' AND pagetype = 'leaf' ORDER BY path LIMIT 1");
         },
         "damaged", 3000},
        {"a folder", [](const Folder& f) { fs::create_directories(f.db() / "inside"); }, "a folder",
         0},
        {"a FIFO", [](const Folder& f) { ::mkfifo(f.db().c_str(), 0600); }, "not a file", 0},
        {"a symbolic link",
         [](const Folder& f) {
             put(f.root / "target", ""); // an empty file: a new database if followed
             fs::create_symlink(f.root / "target", f.db());
         },
         "symbolic link", 0},
        {"a symbolic link at -wal",
         [](const Folder& f) {
             put(f.root / "target", "");
             fs::create_symlink(f.root / "target", f.db().string() + "-wal");
         },
         "symbolic link", 0},
        {"a symbolic link at -shm",
         [](const Folder& f) {
             put(f.root / "target", "");
             fs::create_symlink(f.root / "target", f.db().string() + "-shm");
         },
         "symbolic link", 0},
        {"another program's database",
         [](const Folder& f) { sql(f.db(), "CREATE TABLE lines(id, run, number, text)"); },
         "not the calculator's", 0},
        {"a tape written before lines had notes",
         [](const Folder& f) {
             sql(f.db(), "CREATE TABLE runs(id INTEGER PRIMARY KEY AUTOINCREMENT, started TEXT "
                         "NOT NULL); CREATE TABLE lines(id INTEGER PRIMARY KEY AUTOINCREMENT, "
                         "run INTEGER NOT NULL, number INTEGER NOT NULL, size INTEGER NOT NULL, "
                         "text TEXT NOT NULL); INSERT INTO runs VALUES (1, '2026-12-01 10:00'); "
                         "INSERT INTO lines VALUES (1, 1, 0, 1, 'a'), (2, 1, 1, 1, 'b'); PRAGMA "
                         "application_id = 1366649967; PRAGMA user_version = 2;");
         },
         nullptr, 2},
        {"the first version's tape",
         [](const Folder& f) {
             sql(f.db(),
                 "CREATE TABLE runs(id INTEGER PRIMARY KEY, started TEXT); CREATE TABLE "
                 "tally(one); PRAGMA application_id = 1366649967; PRAGMA user_version = 1;");
         },
         "another version", 0},
        {"another program's database in WAL mode, open there",
         [&](const Folder& f) {
             sql(f.db(), "PRAGMA journal_mode=WAL; CREATE TABLE t(x); INSERT INTO t VALUES (1)");
             sqlite3_open(f.db().c_str(), &held);
             sqlite3_exec(held, "INSERT INTO t VALUES (2)", nullptr, nullptr, nullptr);
         },
         "not the calculator's", 0},
        {"a hard link",
         [](const Folder& f) {
             put(f.root / "target", "");
             fs::create_hard_link(f.root / "target", f.db());
         },
         "hard link", 0},
        {"a hard link at -wal",
         [](const Folder& f) {
             put(f.root / "target", "");
             fs::create_hard_link(f.root / "target", f.db().string() + "-wal");
         },
         "hard link", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Folder folder;
        fs::create_directories(folder.path);
        c.make(folder);
        struct stat wal {};
        const bool hadWal =
            ::lstat((folder.db().string() + "-wal").c_str(), &wal) == 0 && S_ISREG(wal.st_mode);
        const std::string before = fs::is_regular_file(folder.db()) ? bytes(folder.db()) : "";
        std::string problem;
        const Lines found = later(folder, &problem);
        EXPECT_GE(found.size(), c.carried) << problem;
        // Set aside as it was: nothing written to it, nothing made beside it.
        if (c.setAside != nullptr && std::string_view(c.setAside) != "damaged" && !before.empty()) {
            EXPECT_EQ(bytes(folder.path / folder.aside()), before);
            EXPECT_FALSE(fs::exists(folder.path / (folder.aside() + "-shm")) && held == nullptr);
        }
        if (hadWal && c.setAside != nullptr) { // moved with it, never deleted
            bool kept = false;
            for (const auto& entry : fs::directory_iterator(folder.path)) {
                struct stat st {};
                kept = kept || (::lstat(entry.path().c_str(), &st) == 0 && st.st_ino == wal.st_ino);
            }
            EXPECT_TRUE(kept);
        }
        sqlite3_close(std::exchange(held, nullptr));
        EXPECT_EQ(folder.aside().empty(), c.setAside == nullptr) << problem;
        if (c.setAside != nullptr) {
            EXPECT_NE(problem.find(folder.aside()), std::string::npos) << problem;
            EXPECT_NE(problem.find(c.setAside), std::string::npos) << problem;
        }
        {
            Window window(folder);
            window.add(0, "new");
        }
        EXPECT_EQ(later(folder).back(), "new");
        if (fs::exists(folder.root / "target")) {
            EXPECT_EQ(fs::file_size(folder.root / "target"), 0u);
        }
    }
    // A mode refuses a user other than root: as root, the check runs as nobody.
    Folder folder;
    tape(folder, 2);
    fs::permissions(folder.db(), fs::perms::none);
    if (::geteuid() == 0) {
        for (const auto& entry : fs::recursive_directory_iterator(folder.root)) {
            ASSERT_EQ(::lchown(entry.path().c_str(), 65534, 65534), 0);
        }
        ASSERT_EQ(::chown(folder.root.c_str(), 65534, 65534), 0);
    }
    const pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            ::_exit(2);
        }
        std::string problem;
        const bool refused = later(folder, &problem).empty() &&
                             problem.find("permission denied") != std::string::npos &&
                             folder.aside().empty();
        ::_exit(refused ? 0 : 1);
    }
    int status = -1;
    ::waitpid(child, &status, 0);
    EXPECT_EQ(status, 0);
    fs::permissions(folder.db(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(later(folder).size(), 2u);
}

// Root only: a small tmpfs, filled or made read-only. The changes wait in
// memory and are written once the disk is mended; the earlier lines are
// shown meanwhile; ended before, the run names the cause.
TEST(Store, FullOrReadOnlyDisk) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to mount a tmpfs";
    }
    const auto fill = [](const Folder& f) {
        const int fd = ::open((f.path / "filler").c_str(), O_WRONLY | O_CREAT, 0600);
        const std::string block(4096, 'f');
        while (::write(fd, block.data(), block.size()) > 0) {
        }
        ::close(fd);
    };
    const auto unfill = [](const Folder& f) { fs::remove(f.path / "filler"); };
    const auto readOnly = [](const Folder& f) {
        ::mount(nullptr, f.root.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr);
    };
    const auto writable = [](const Folder& f) {
        ::mount(nullptr, f.root.c_str(), nullptr, MS_REMOUNT, "size=4m");
    };
    const struct {
        const char* name;
        const char* words;
        bool clear, mendFirst;
        std::function<void(const Folder&)> fault, mend;
        std::size_t kept;
    } cases[] = {
        {"full, then mended", "the disk is full", false, true, fill, unfill, 300},
        {"full to the end", "the disk is full", false, false, fill, unfill, 100},
        {"read-only, then mended", "read-only", false, true, readOnly, writable, 300},
        {"read-only to the end", "read-only", false, false, readOnly, writable, 100},
        {"a clear on a full disk, then mended", "the disk is full", true, true, fill, unfill, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Folder folder;
        ASSERT_EQ(::mount("tmpfs", folder.root.c_str(), "tmpfs", 0, "size=4m"), 0);
        {
            Window window(folder, kStart - 1);
            for (std::uint64_t n = 0; n < 100; ++n) {
                window.add(n, std::string(2000, 'x'));
            }
        }
        std::string why;
        {
            Window window(folder);
            c.fault(folder);
            EXPECT_EQ(window.lines().size(), 100u); // the earlier lines, shown all the same
            if (c.clear) {
                window.store.clear();
            }
            for (std::uint64_t n = 0; n < (c.clear ? 0 : 200); ++n) {
                window.add(n, std::string(2000, 'y'));
            }
            EXPECT_NE(window.problem().find(c.words), std::string::npos) << window.problem();
            if (c.mendFirst) {
                c.mend(folder);
            }
            why = window.store.finish(std::chrono::seconds(2));
        }
        EXPECT_EQ(why.find(c.words) != std::string::npos, !c.mendFirst) << why;
        c.mend(folder);
        EXPECT_EQ(later(folder).size(), c.kept);
        ::umount(folder.root.c_str());
    }
}

// Another program holding the database: the store's thread waits for it,
// at the end of the run up to the exit wait, and says so past it.
TEST(Store, BusyDatabase) {
    const struct {
        const char* name;
        std::chrono::milliseconds held, wait;
        bool written;
    } cases[] = {
        {"not held", std::chrono::milliseconds(0), std::chrono::milliseconds(3000), true},
        {"held a while", std::chrono::milliseconds(300), std::chrono::milliseconds(3000), true},
        {"held past the exit wait", std::chrono::milliseconds(1500), std::chrono::milliseconds(300),
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Folder folder;
        {
            Window first(folder, kStart - 1);
            first.add(0, "earlier");
        }
        sqlite3* other = nullptr;
        ASSERT_EQ(sqlite3_open(folder.db().c_str(), &other), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
        std::thread release([&] {
            std::this_thread::sleep_for(c.held);
            sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
        });
        std::string why;
        {
            Window window(folder);
            // The rest handed over while the thread waits with the first.
            window.add(0, "mine");
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            for (std::uint64_t n = 1; n < 300; ++n) {
                window.add(n, "mine");
            }
            why = window.store.finish(c.wait);
        }
        release.join();
        sqlite3_close(other);
        // Past the exit wait, the cause named.
        EXPECT_EQ(why, c.written ? "" : "another window or program held it past the exit wait");
        EXPECT_EQ(later(folder).size(), c.written ? 301u : 1u);
    }
}

// No cleared, deleted or undone text is left in the database or its WAL:
// at once when no other program reads, else once it lets go, at the end at
// the latest, or at the next run's start when it held on past that.
TEST(Store, ClearedTextLeavesTheDisk) {
    constexpr std::time_t kEarlier = kStart - 5 * 86400;
    enum Reader { None, LetsGo, Outlives };
    const struct {
        const char* name;
        Reader reader;
        bool killed;
        std::function<void(TapeStore&)> change;
        bool earlierGone;
    } cases[] = {
        {"a delete", None, false, [](TapeStore& s) { s.remove(0), s.remove(1); }, false},
        {"a delete, then killed", None, true, [](TapeStore& s) { s.remove(0), s.remove(1); },
         false},
        {"an undo, then killed", None, true, [](TapeStore& s) { s.replace(0, {}); }, false},
        {"a correction, then killed", None, true,
         [](TapeStore& s) {
             s.replace(0, {{0, "kept"}});
         },
         false},
        {"a clear", None, false, [](TapeStore& s) { s.clear(); }, true},
        {"a clear, then killed", None, true, [](TapeStore& s) { s.clear(); }, true},
        {"a clear while another program reads", LetsGo, false, [](TapeStore& s) { s.clear(); },
         true},
        {"a delete while another program reads past the run's end", Outlives, false,
         [](TapeStore& s) { s.remove(0), s.remove(1); }, false},
        {"the switch-off, then killed", None, true, [](TapeStore& s) { s.disable(); }, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Folder folder;
        Window(folder, kEarlier).add(0, "EARLIER");
        sqlite3* other = nullptr;
        sqlite3_stmt* read = nullptr;
        const pid_t child = c.killed ? ::fork() : 0;
        if (child == 0) {
            Window window(folder);
            window.add(0, "SECRET-A"), window.add(1, "SECRET-B"), window.add(2, "kept");
            window.store.note(1, "SECRET-NOTE");
            window.store.settle();
            if (c.reader != None) {
                sqlite3_open_v2(folder.db().c_str(), &other, SQLITE_OPEN_READONLY, nullptr);
                sqlite3_prepare_v2(other, "SELECT text FROM lines", -1, &read, nullptr);
                sqlite3_step(read);
            }
            c.change(window.store);
            window.store.settle();
            if (c.killed) {
                ::kill(::getpid(), SIGKILL);
            }
            if (c.reader == LetsGo) {
                sqlite3_finalize(std::exchange(read, nullptr)), sqlite3_close(other);
                other = nullptr;
            }
            window.store.finish(std::chrono::milliseconds(300));
        }
        ::waitpid(child, nullptr, 0);
        sqlite3_finalize(read), sqlite3_close(other);
        // Looked at as the next run opens the tape, before its close could checkpoint.
        Window next(folder, kStart + 100);
        if (c.reader == Outlives) {
            next.earlier();
        }
        const std::string kept = bytes(folder.db()) + bytes(folder.db().string() + "-wal");
        EXPECT_EQ(kept.find("SECRET"), std::string::npos);
        // A clear takes the earlier runs whole, their start times too.
        EXPECT_EQ(kept.find("EARLIER") == std::string::npos, c.earlierGone);
        EXPECT_EQ(kept.find(std::to_string(kEarlier)) == std::string::npos, c.earlierGone);
    }
}

// Made private, and made private again when found wider (restored from a
// backup); -wal and -shm never wider than the database.
TEST(Store, PrivateModes) {
    for (const bool wider : {false, true}) {
        SCOPED_TRACE(wider ? "found wider" : "made");
        Folder folder;
        const mode_t old = ::umask(0);
        if (wider) {
            {
                Window window(folder);
                window.add(0, "x");
            }
            fs::permissions(folder.path, fs::perms::all);
            fs::permissions(folder.db(),
                            fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
        }
        {
            Window window(folder);
            window.add(1, "y");
            window.store.settle();
            for (const auto& [file, mode] : std::initializer_list<std::pair<fs::path, unsigned>>{
                     {folder.path, 0700u},
                     {folder.db(), 0600u},
                     {folder.db().string() + "-wal", 0600u},
                     {folder.db().string() + "-shm", 0600u}}) {
                struct stat st {};
                ASSERT_EQ(::stat(file.c_str(), &st), 0) << file;
                EXPECT_EQ(st.st_mode & 07777, mode) << file;
            }
        }
        ::umask(old);
    }
}

// The switch-off is data: the lines go, the file stays, and another window
// that writes or reads next learns of it and writes nothing more, until a
// window switches the keeping on again.
TEST(Store, SwitchedOffElsewhere) {
    const struct {
        const char* name;
        std::function<void(Window&)> then;
    } cases[] = {
        {"its next line", [](Window& w) { w.add(1, "again"); }},
        {"its tape opened", [](Window& w) { w.earlier(); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Folder folder;
        Window a(folder, kStart);
        Window other(folder, kStart + 1);
        a.add(0, "a"), other.add(0, "other");
        other.store.settle();
        a.store.settle();
        a.store.disable();
        a.store.settle();
        c.then(other);
        EXPECT_TRUE(other.off());
        other.add(2, "after");
        other.store.settle();
        EXPECT_TRUE(fs::exists(folder.db()));
        EXPECT_EQ(later(folder), Lines{});
        a.store.enable();
        a.add(5, "a again");
        a.store.settle();
        other.add(3, "still off");
        EXPECT_EQ(later(folder), Lines{"a again"});
    }
}

} // namespace
} // namespace quillo
