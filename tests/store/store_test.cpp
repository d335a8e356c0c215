// SPDX-License-Identifier: MIT
// The kept tape's SQLite store on real files in a temporary folder: what a
// later run reads back, the bounds, processes killed while writing or
// writing at once, damaged and foreign files, a full or read-only disk, a
// busy database, the old journals' import, modes, and a clear that leaves
// no text on the disk.

#include "tapestore.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
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
    ~Folder() { fs::remove_all(root); }
    fs::path db() const { return path / TapeStore::kFileName; }
    std::string aside() const {
        for (const auto& entry : fs::directory_iterator(path)) {
            const std::string name = entry.path().filename().string();
            if (name.starts_with("tape.sqlite.") && !name.ends_with("-wal") &&
                !name.ends_with("-shm")) {
                return name;
            }
        }
        return {};
    }
};

void add(TapeStore& store, std::uint64_t number, std::string_view text) {
    const TapeStore::Line line{number, text};
    store.add(std::span(&line, 1));
}

Lines later(const Folder& folder, std::string* problem = nullptr) {
    TapeStore reader(folder.path.string(), kStart + 100);
    Lines found;
    for (const KeptLine& line : reader.readEarlier().lines) {
        found.push_back(line.text);
    }
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
    std::string text(fs::file_size(file, error), '\0');
    const int fd = ::open(file.c_str(), O_RDONLY);
    if (fd >= 0 && ::read(fd, text.data(), text.size()) < 0) {
        text.clear();
    }
    ::close(fd);
    return text;
}

TEST(Store, ReadBackAfterChanges) {
    constexpr std::uint64_t kHuge = UINT64_MAX;
    const struct {
        const char* name;
        std::function<void(TapeStore&, const Folder&)> run;
        Lines expected;
    } cases[] = {
        {"adds", [](TapeStore& s, const Folder&) { add(s, 0, "a"), add(s, 1, "b"); }, {"a", "b"}},
        {"undo",
         [](TapeStore& s, const Folder&) { add(s, 0, "a"), add(s, 1, "b"), s.cut(1); },
         {"a"}},
        {"correction",
         [](TapeStore& s, const Folder&) {
             add(s, 0, "a"), add(s, 1, "b");
             const TapeStore::Line line{1, "c"};
             s.replace(1, std::span(&line, 1));
         },
         {"a", "c"}},
        {"delete",
         [](TapeStore& s, const Folder&) { add(s, 0, "a"), add(s, 1, "b"), s.remove(0); },
         {"b"}},
        {"undo and delete keep other runs' lines of the same numbers",
         [](TapeStore& s, const Folder& f) {
             TapeStore other(f.path.string(), kStart - 1);
             add(other, 5, "other 5"), add(other, 6, "other 6");
             add(s, 5, "mine 5"), add(s, 6, "mine 6"), s.remove(6), s.cut(5);
         },
         {"other 5", "other 6"}},
        {"delete of an earlier run's line",
         [](TapeStore& s, const Folder& f) {
             TapeStore first(f.path.string(), kStart - 1);
             add(first, 0, "x"), add(first, 1, "y");
             first.close();
             s.removeEarlier(s.readEarlier().lines.at(0).id);
         },
         {"y"}},
        {"clear takes earlier runs' lines too",
         [](TapeStore& s, const Folder& f) {
             TapeStore first(f.path.string(), kStart - 1);
             add(first, 0, "x");
             add(s, 0, "a"), s.clear(), add(s, 1, "b");
         },
         {"b"}},
        {"numbers past 2^63 keep their order",
         [](TapeStore& s, const Folder&) { add(s, kHuge, "huge"), add(s, 0, "zero"), s.cut(1); },
         {"zero"}},
        {"a delete of 2^64-1",
         [](TapeStore& s, const Folder&) {
             add(s, kHuge, "huge"), add(s, 3, "3"), s.remove(kHuge);
         },
         {"3"}},
        {"a first line deleted after 20,050 undos and redos of the next",
         [](TapeStore& s, const Folder&) {
             add(s, 0, "a");
             for (int i = 0; i < 20'050; ++i) {
                 add(s, 1, "b"), s.cut(1);
                 if (i % 1'000 == 0) {
                     s.flush();
                 }
             }
             s.remove(0);
         },
         {}},
        {"clear with 2^64-1",
         [](TapeStore& s, const Folder&) { add(s, kHuge, "huge"), s.clear(); },
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Folder folder;
        TapeStore store(folder.path.string(), kStart);
        c.run(store, folder);
        store.flush(); // a delete waits for it to leave the WAL
        EXPECT_FALSE(store.pending());
        EXPECT_EQ(later(folder), c.expected);
        EXPECT_EQ(store.problem(), "");
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
        {"lines", std::vector<std::string>(TapeStore::kLines + 1, "1+1=2"), TapeStore::kLines},
        {"bytes", {big, big}, 1},
        {"a line longer than the bound", {"a", huge}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Folder folder;
        {
            TapeStore store(folder.path.string(), kStart);
            std::vector<TapeStore::Line> lines;
            for (std::size_t i = 0; i < c.lines.size(); ++i) {
                lines.push_back({i, c.lines[i]});
            }
            // All but the last at once: the bound holds for each write.
            store.add(std::span(lines).first(lines.size() - 1));
            store.add(std::span(lines).last(1));
        }
        const Lines found = later(folder);
        ASSERT_EQ(found.size(), c.kept);
        EXPECT_TRUE(found.back() == c.lines.back()); // the newest, whole
        EXPECT_EQ(found.front().size(), c.lines[c.lines.size() - c.kept].size());
    }
}

// A child adds lines and reports each number once add() returned; it is
// killed at a random moment, and each reported line is there, whole.
TEST(Store, KilledWriterLosesNoAcknowledgedLine) {
    std::mt19937 random(7);
    for (int round = 0; round < 4; ++round) {
        Folder folder;
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(fds[0]);
            TapeStore store(folder.path.string(), kStart);
            for (std::uint64_t n = 0;; ++n) {
                add(store, n, "line " + std::to_string(n) + std::string(n % 300, '='));
                if (::write(fds[1], &n, sizeof n) != sizeof n) {
                    ::_exit(1);
                }
            }
        }
        ::close(fds[1]);
        const auto until =
            std::chrono::steady_clock::now() +
            std::chrono::milliseconds(std::uniform_int_distribution(20, 200)(random));
        std::uint64_t n = 0, acknowledged = 0;
        while (std::chrono::steady_clock::now() < until &&
               ::read(fds[0], &n, sizeof n) == sizeof n) {
            acknowledged = n + 1;
        }
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        ::close(fds[0]);
        const Lines found = later(folder);
        ASSERT_GE(found.size(), acknowledged);
        for (std::uint64_t i = 0; i < acknowledged; ++i) {
            ASSERT_EQ(found[i], "line " + std::to_string(i) + std::string(i % 300, '='));
        }
    }
}

TEST(Store, TwoWritersAtOnce) {
    Folder folder;
    constexpr int kEach = 400;
    pid_t children[2];
    for (int w = 0; w < 2; ++w) {
        if ((children[w] = ::fork()) == 0) {
            TapeStore store(folder.path.string(), kStart + w);
            for (int n = 0; n < kEach; ++n) {
                add(store, static_cast<std::uint64_t>(n),
                    std::to_string(w) + ":" + std::to_string(n));
            }
            store.close();
            ::_exit(store.pending() ? 1 : 0);
        }
    }
    for (const pid_t child : children) {
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_EQ(status, 0);
    }
    Lines found = later(folder);
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found.size(), 2u * kEach);
    EXPECT_EQ(std::unique(found.begin(), found.end()), found.end());
}

// What is at the path is moved aside, never followed or deleted; the store
// starts anew and keeps what could be read.
TEST(Store, DamagedOrForeignFiles) {
    auto tape = [](const Folder& f, int lines) {
        TapeStore store(f.path.string(), kStart - 1);
        for (int n = 0; n < lines; ++n) {
            add(store, static_cast<std::uint64_t>(n), "old " + std::to_string(n));
        }
    };
    const struct {
        const char* name;
        std::function<void(const Folder&)> make;
        bool setAside;
        std::size_t carried; // lines read from it, at least
    } cases[] = {
        {"garbage", [](const Folder& f) { put(f.db(), std::string(5000, 'x')); }, true, 0},
        {"truncated",
         [&](const Folder& f) {
             tape(f, 3000);
             fs::remove(f.db().string() + "-wal");
             fs::resize_file(f.db(), fs::file_size(f.db()) / 2);
         },
         true, 100},
        {"a folder", [](const Folder& f) { fs::create_directories(f.db() / "inside"); }, true, 0},
        {"a FIFO", [](const Folder& f) { ::mkfifo(f.db().c_str(), 0600); }, true, 0},
        {"a symbolic link",
         [](const Folder& f) {
             put(f.root / "target", ""); // an empty file: a new database if followed
             fs::create_symlink(f.root / "target", f.db());
         },
         true, 0},
        {"another program's database",
         [](const Folder& f) {
             sqlite3* db = nullptr;
             sqlite3_open(f.db().c_str(), &db);
             sqlite3_exec(db, "CREATE TABLE lines(id, run, number, text)", nullptr, nullptr,
                          nullptr);
             sqlite3_close(db);
         },
         true, 0},
        {"a tape grown past 16 MB",
         [](const Folder& f) {
             TapeStore store(f.path.string(), kStart - 1);
             add(store, 0, std::string(17u << 20, 'z'));
         },
         false, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Folder folder;
        fs::create_directories(folder.path);
        c.make(folder);
        std::string problem;
        const Lines found = later(folder, &problem);
        EXPECT_GE(found.size(), c.carried) << problem;
        EXPECT_EQ(folder.aside().empty(), !c.setAside);
        if (c.setAside) {
            EXPECT_NE(problem.find(folder.aside()), std::string::npos) << problem;
        }
        TapeStore store(folder.path.string(), kStart);
        add(store, 0, "new");
        EXPECT_FALSE(store.pending());
        EXPECT_EQ(later(folder).back(), "new");
        if (fs::exists(folder.root / "target")) {
            EXPECT_EQ(fs::file_size(folder.root / "target"), 0u);
        }
    }
}

// Root only: a small tmpfs, filled or made read-only, then freed.
TEST(Store, FullOrReadOnlyDisk) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to mount a tmpfs";
    }
    const struct {
        const char* name;
        const char* words;
        std::function<void(const Folder&)> fault, mend;
    } cases[] = {
        {"full", "the disk is full",
         [](const Folder& f) {
             const int fd = ::open((f.path / "filler").c_str(), O_WRONLY | O_CREAT, 0600);
             const std::string block(4096, 'f');
             while (::write(fd, block.data(), block.size()) > 0) {
             }
             ::close(fd);
         },
         [](const Folder& f) { fs::remove(f.path / "filler"); }},
        {"read-only", "read-only",
         [](const Folder& f) {
             ::mount(nullptr, f.root.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr);
         },
         [](const Folder& f) { ::mount(nullptr, f.root.c_str(), nullptr, MS_REMOUNT, "size=4m"); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Folder folder;
        ASSERT_EQ(::mount("tmpfs", folder.root.c_str(), "tmpfs", 0, "size=4m"), 0);
        {
            TapeStore store(folder.path.string(), kStart);
            add(store, 0, "before");
            store.close(); // no file open for writing: a remount to read-only needs it
            c.fault(folder);
            for (std::uint64_t n = 1; n < 200; ++n) {
                add(store, n, std::string(2000, 'x'));
            }
            store.remove(0);
            EXPECT_TRUE(store.pending());
            EXPECT_NE(store.problem().find(c.words), std::string::npos) << store.problem();
            c.mend(folder);
            store.flush();
            EXPECT_FALSE(store.pending());
            EXPECT_EQ(store.problem(), "");
        }
        EXPECT_EQ(later(folder).size(), 199u);
        ::umount(folder.root.c_str());
    }
}

TEST(Store, BusyDatabase) {
    Folder folder;
    TapeStore store(folder.path.string(), kStart);
    add(store, 0, "first");
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(folder.db().c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    const auto start = std::chrono::steady_clock::now();
    add(store, 1, "second");
    store.flush();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
    EXPECT_TRUE(store.pending());
    sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    add(store, 2, "third");
    EXPECT_FALSE(store.pending());
    EXPECT_EQ(later(folder), (Lines{"first", "second", "third"}));
}

// No cleared or deleted text is left in the database or its WAL, even when
// another window read the tape meanwhile.
TEST(Store, ClearLeavesNoText) {
    for (const bool reader : {false, true}) {
        SCOPED_TRACE(reader ? "while another window reads" : "alone");
        Folder folder;
        TapeStore store(folder.path.string(), kStart);
        add(store, 0, "SECRET-DELETED"), add(store, 1, "SECRET-CLEARED");
        store.flush();
        store.remove(0);
        sqlite3* other = nullptr;
        sqlite3_stmt* read = nullptr;
        if (reader) {
            sqlite3_open(folder.db().c_str(), &other);
            sqlite3_prepare_v2(other, "SELECT text FROM lines", -1, &read, nullptr);
            sqlite3_step(read);
        }
        store.clear();
        EXPECT_EQ(store.pending(), reader);
        EXPECT_EQ(store.problem().find("clear has not reached the disk") != std::string::npos,
                  reader);
        if (reader) {
            sqlite3_finalize(read);
            sqlite3_close(other);
            store.flush();
        }
        EXPECT_FALSE(store.pending());
        for (const char* suffix : {"", "-wal"}) {
            const std::string text = bytes(folder.db().string() + suffix);
            EXPECT_EQ(text.find("SECRET"), std::string::npos) << suffix;
        }
    }
}

TEST(Store, OldJournalsImported) {
    Folder folder;
    fs::create_directories(folder.path);
    const std::string junk = "L 7 " + std::string(17u << 20, 'j') + "\n";
    put(folder.path / "kept.tape", "quillo tape 1\nR 20261201-100000-1-a 2026-12-01 10:00\n"
                                   "L 0 a0\nL 1 a1\nL 2 a2\n" +
                                       junk + "L 3 a3\n");
    put(folder.path / "run-20261202-100000-2-b.tape",
        "quillo tape 1\nR 20261202-100000-2-b 2026-12-02 10:00\nL 0 b0\nL 1 b1\nU 1\n"
        "L 18446744073709551615 b-huge\nD 20261201-100000-1-a 1\nX 20261201-100000-1-a 1\n"
        "L 2 cut sh");
    put(folder.path / "run-20261203-100000-3-c.tape", "not the calculator's\n");
    std::string problem;
    EXPECT_EQ(later(folder, &problem), (Lines{"a2", "a3", "b0", "b-huge"}));
    EXPECT_EQ(problem, "");
    EXPECT_FALSE(fs::exists(folder.path / "kept.tape"));
    EXPECT_FALSE(fs::exists(folder.path / "run-20261202-100000-2-b.tape"));
    EXPECT_TRUE(fs::exists(folder.path / "run-20261203-100000-3-c.tape"));
    EXPECT_EQ(later(folder).size(), 4u); // once
}

TEST(Store, PrivateModesAndNoFollow) {
    Folder folder;
    const mode_t old = ::umask(0);
    {
        TapeStore store(folder.path.string(), kStart);
        add(store, 0, "x");
        for (const auto& [file, mode] : std::initializer_list<std::pair<fs::path, unsigned>>{
                 {folder.path, 0700u},
                 {folder.path.parent_path(), 0700u},
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

// Another window's disable(): a store that had the tape open neither brings
// it back nor deletes the newer database's files.
TEST(Store, DisabledElsewhere) {
    Folder folder;
    // Another process, so that SQLite's sharing within one hides nothing
    // (forked before this one opens the tape): it closes its connection to
    // the deleted tape once a new one is written.
    int go[2], done[2];
    ASSERT_EQ(::pipe(go), 0);
    ASSERT_EQ(::pipe(done), 0);
    char byte = 0;
    const pid_t b = ::fork();
    if (b == 0) {
        TapeStore store(folder.path.string(), kStart + 1);
        add(store, 0, "b");
        if (::write(done[1], &byte, 1) != 1 || ::read(go[0], &byte, 1) != 1) {
            ::_exit(1);
        }
        store.close();
        ::_exit(0);
    }
    ASSERT_EQ(::read(done[0], &byte, 1), 1);
    TapeStore a(folder.path.string(), kStart), d(folder.path.string(), kStart + 3);
    add(a, 0, "a"), add(d, 0, "d");
    a.disable();
    EXPECT_FALSE(fs::exists(folder.db()));
    EXPECT_FALSE(fs::exists(folder.db().string() + "-wal"));
    add(d, 1, "d again");
    EXPECT_TRUE(d.switchedOffElsewhere());
    EXPECT_FALSE(fs::exists(folder.db()));
    {
        TapeStore c(folder.path.string(), kStart + 2);
        add(c, 0, "c");
        ASSERT_EQ(::write(go[1], &byte, 1), 1);
        ::waitpid(b, nullptr, 0);
        EXPECT_TRUE(fs::exists(folder.db().string() + "-wal"));
        add(c, 1, "c2");
    }
    EXPECT_EQ(later(folder), (Lines{"c", "c2"}));
    a.enable();
    add(a, 5, "a again");
    EXPECT_EQ(later(folder).back(), "a again");
}

} // namespace
} // namespace quillo
