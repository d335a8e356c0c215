// SPDX-License-Identifier: MIT
// The kept tape's store on real files in a temporary folder: what later runs
// read back after undo, delete and clear, damaged files and failing writes,
// private modes, and processes killed while writing or writing at once.

#include "tapestore.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <set>

namespace quillo {
namespace {

namespace fs = std::filesystem;

constexpr std::time_t kStart = 1'796'653'800; // 2026-12-07 14:30 UTC

// What these tests check does not depend on fsync, which costs most of
// their time on a busy disk.
TapeStore::Options quick(std::size_t journalBytes = TapeStore::Options().journalBytes) {
    TapeStore::Options options;
    options.sys.sync = [](int) { return 0; };
    options.journalBytes = journalBytes;
    return options;
}

struct Folder {
    fs::path root;
    fs::path path;
    Folder() {
        std::string name = (fs::temp_directory_path() / "tapestore-XXXXXX").string();
        root = ::mkdtemp(name.data());
        path = root / "state" / "quillo";
    }
    ~Folder() { fs::remove_all(root); }
    std::set<std::string> names() const {
        std::set<std::string> found;
        for (const auto& entry : fs::directory_iterator(path)) {
            found.insert(entry.path().filename().string());
        }
        return found;
    }
};

void put(const fs::path& file, std::string_view text) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    ::close(fd);
}

std::string get(const fs::path& file) {
    std::string text(fs::file_size(file), '\0');
    const int fd = ::open(file.c_str(), O_RDONLY);
    EXPECT_EQ(::read(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    ::close(fd);
    return text;
}

std::vector<std::string> texts(const Earlier& earlier) {
    std::vector<std::string> found;
    for (const KeptLine& line : earlier.lines) {
        found.push_back(line.text);
    }
    return found;
}

// What a run started after all others reads.
Earlier later(const Folder& folder, std::string* problem = nullptr) {
    TapeStore reader(folder.path, kStart + 1'000'000, quick());
    Earlier earlier = reader.readEarlier();
    if (problem != nullptr) {
        *problem = reader.problem();
    }
    return earlier;
}

struct Steps {
    const char* name;
    std::function<void(TapeStore& a, TapeStore& b)> steps;
    std::vector<std::string> kept;
};

TEST(TapeStore, LaterRunsReadWhatUndoDeleteAndClearLeft) {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    const Steps table[] = {
        {"undo cuts; the numbers written again are new lines",
         [](TapeStore& a, TapeStore&) {
             a.add(0, "1"), a.add(1, "2"), a.add(2, "3"), a.cut(1), a.add(1, "4");
         },
         {"1", "4"}},
        {"a batch is kept whole",
         [](TapeStore& a, TapeStore&) {
             const TapeStore::Line batch[] = {{0, "1"}, {1, "2"}};
             EXPECT_TRUE(a.add(batch));
         },
         {"1", "2"}},
        {"delete by the engine's number after an undo",
         [](TapeStore& a, TapeStore&) {
             a.add(0, "1"), a.add(1, "2"), a.cut(1), a.add(1, "3"), a.remove("", 1);
         },
         {"1"}},
        {"clear drops what was written, not what follows",
         [](TapeStore& a, TapeStore&) { a.add(0, "1"), a.clear(), a.add(1, "2"); },
         {"2"}},
        {"undo past a clear",
         [](TapeStore& a, TapeStore&) { a.add(0, "1"), a.clear(), a.cut(0), a.add(0, "3"); },
         {"3"}},
        {"another window deletes a line it read",
         [](TapeStore& a, TapeStore& b) {
             a.add(0, "1"), a.add(1, "2"), b.add(0, "b");
             const Earlier read = b.readEarlier();
             EXPECT_EQ(texts(read), (std::vector<std::string>{"1", "2"}));
             EXPECT_TRUE(b.remove(read.runs.at(0).id, read.lines.at(1).number));
         },
         {"1", "b"}},
        {"another window's clear spares what it had not read",
         [](TapeStore& a, TapeStore& b) {
             a.add(0, "1"), b.readEarlier(), a.add(1, "2"), b.clear();
         },
         {"2"}},
        {"a line that is not one line of UTF-8 is left out",
         [](TapeStore& a, TapeStore&) {
             EXPECT_FALSE(a.add(0, "a\nb"));
             EXPECT_FALSE(a.add(1, "\xff"));
             a.add(2, "ok");
         },
         {"ok"}},
    };
    for (const Steps& row : table) {
        SCOPED_TRACE(row.name);
        Folder folder;
        {
            TapeStore a(folder.path, kStart, quick());
            {
                TapeStore b(folder.path, kStart + 1, quick());
                row.steps(a, b);
                EXPECT_EQ(a.problem() + b.problem(), "");
            }
            later(folder); // folds b's journal while a still runs
        }
        const Earlier earlier = later(folder);
        EXPECT_EQ(texts(earlier), row.kept);
        EXPECT_EQ(earlier.runs.at(0).started, "2026-12-07 14:30");
    }
}

// Faults the tests inject into the store's system calls.
struct Fault {
    const char* call = "";
    int error = 0;
    bool shortFirst = false;
} fault;

bool failing(const char* call) {
    return std::string_view(fault.call) == call && fault.error != 0;
}

TEST(TapeStore, AFailingWriteStopsKeepingAndSaysWhy) {
    TapeStore::Sys sys;
    sys.open = [](int dir, const char* name, int flags, mode_t mode) {
        return failing((flags & O_CREAT) != 0 ? "create" : "read")
                   ? (errno = fault.error, -1)
                   : ::openat(dir, name, flags, mode);
    };
    sys.write = [](int fd, const void* data, std::size_t size) -> ssize_t {
        if (failing("write") && fault.shortFirst) {
            fault.shortFirst = false;
            return ::write(fd, data, size / 2);
        }
        return failing("write") ? (errno = fault.error, -1) : ::write(fd, data, size);
    };
    sys.mkdir = [](const char* path, mode_t mode) {
        return failing("mkdir") ? (errno = fault.error, -1) : ::mkdir(path, mode);
    };
    sys.sync = [](int fd) { return failing("sync") ? (errno = fault.error, -1) : ::fsync(fd); };
    struct Row {
        const char* name;
        Fault fault;
        bool fromStart; // the first line already fails
        const char* why;
    } const table[] = {
        {"full disk, after a short write",
         {"write", ENOSPC, true},
         false,
         "No space left on device"},
        {"I/O error", {"write", EIO}, false, "Input/output error"},
        {"read-only folder", {"create", EROFS}, true, "Read-only file system"},
        {"missing mount", {"mkdir", ENOENT}, true, "No such file or directory"},
        {"folder is a link", {}, true, "symbolic link, which is not followed"},
        {"no home", {}, true, "there is no home folder"},
        {"sync at exit", {"sync", EIO}, false, "Input/output error"},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(row.name);
        Folder folder;
        fs::create_directories(folder.path.parent_path());
        if (row.why == std::string_view("symbolic link, which is not followed")) {
            fs::create_directory_symlink(folder.root, folder.path);
        }
        const bool home = row.why != std::string_view("there is no home folder");
        {
            TapeStore store(home ? folder.path.string() : "", kStart, {sys});
            fault = row.fault;
            if (!row.fromStart) {
                fault.error = 0;
                EXPECT_TRUE(store.add(0, "kept"));
                fault = row.fault;
                store.sync();
            }
            EXPECT_FALSE(store.add(1, "not kept, and long enough to be cut in two"));
            EXPECT_FALSE(store.add(2, "nor this")) << "a failed store stays failed";
            EXPECT_EQ(store.problem().find("This run's lines are not being kept"), 0u);
            EXPECT_NE(store.problem().find(row.why), std::string::npos) << store.problem();
            fault = {};
        }
        for (const auto& entry : fs::recursive_directory_iterator(folder.root)) {
            const std::string text = entry.is_regular_file() ? get(entry) : "";
            EXPECT_TRUE(text.empty() || text.ends_with('\n')) << "half a record";
        }
        if (!row.fromStart) {
            EXPECT_EQ(texts(later(folder)), std::vector<std::string>{"kept"});
        }
    }
}

TEST(TapeStore, DamagedFilesAreReadAsFarAsTheyCanBeAndLeftAlone) {
    const std::string head = "quillo tape 1\nR 20260101-000000-1-a 2026-01-01 00:00\nL 0 old\n";
    TapeStore::Sys unreadable = quick().sys;
    unreadable.open = [](int dir, const char* name, int flags, mode_t mode) {
        return std::string_view(name) == "kept.tape" ? (errno = EACCES, -1)
                                                     : ::openat(dir, name, flags, mode);
    };
    const std::string kept = "kept.tape", journal = "run-20260101-000000-1-a.tape";
    const std::string huge = "L 1 " + std::string(10'000'000, '7') + "\nL 2 new\n";
    using Make = std::function<void(const fs::path& file)>;
    auto write = [](std::string text) -> Make { return [text](auto& file) { put(file, text); }; };
    struct Row {
        const char* name;
        std::string file; // made in the folder
        Make make;
        std::vector<std::string> read; // besides the good run's line
        const char* why;               // "": nothing to report
        bool left = false;             // not the store's to remove
        TapeStore::Sys sys = quick().sys;
    } const table[] = {
        {"cut short", kept, write(head + "L 1 ol"), {"old"}, "cut short"},
        {"not UTF-8", kept, write(head + "L 1 \xc3\x28\nL 2 new\n"), {"old", "new"}, "damaged"},
        {"NULs", kept, write(head + std::string("L 1 a\0b\n", 8)), {"old"}, "damaged"},
        {"a 10 MB line", kept, write(head + huge), {"old", "new"}, "damaged"},
        {"1 GB", kept, [&](auto& f) { put(f, head), fs::resize_file(f, 1 << 30); }, {}, "larger"},
        {"a folder", kept, [](auto& f) { fs::create_directory(f); }, {}, "is a folder", true},
        {"a link out of the folder",
         kept,
         [](auto& f) { fs::create_symlink(f.parent_path().parent_path() / "mine", f); },
         {},
         "symbolic link",
         true},
        {"not the store's", kept, write("my notes\n"), {}, "not written by", true},
        {"not the store's, named as a journal", journal, write("hi\n"), {}, "not written by", true},
        {"unreadable", kept, write(head), {}, "Permission denied", true, unreadable},
        {"a journal cut by a crash", journal, write(head + "L 1"), {"old"}, ""},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(row.name);
        Folder folder;
        put(folder.root / "mine", "the user's own file\n");
        {
            TapeStore good(folder.path, kStart, quick());
            good.add(0, "good");
        }
        const fs::path file = folder.path / row.file;
        row.make(file);
        const auto type = fs::symlink_status(file).type();
        const std::string text = row.left && type == fs::file_type::regular ? get(file) : "";

        TapeStore reader(folder.path, kStart + 1, {row.sys});
        std::vector<std::string> read = row.read;
        read.push_back("good");
        EXPECT_EQ(texts(reader.readEarlier()), read);
        const std::string problem = reader.problem();
        EXPECT_EQ(problem.find(*row.why ? "Earlier lines could not be read: " : ""), 0u) << problem;
        EXPECT_NE(problem.find(row.why), std::string::npos) << problem;
        EXPECT_TRUE(reader.add(0, "works")) << "the calculator goes on";
        if (!row.left) {
            EXPECT_LT(fs::file_size(folder.path / "kept.tape"), 100'000u) << "bounded once folded";
        }
        reader.disable();

        EXPECT_EQ(get(folder.root / "mine"), "the user's own file\n");
        EXPECT_EQ(folder.names(),
                  row.left ? std::set<std::string>{row.file} : std::set<std::string>{});
        if (row.left) {
            EXPECT_EQ(fs::symlink_status(file).type(), type);
            EXPECT_EQ(type == fs::file_type::regular ? get(file) : "", text);
        }
    }
}

TEST(TapeStore, FilesArePrivate) {
    Folder folder;
    const mode_t mask = ::umask(022);
    {
        TapeStore ended(folder.path, kStart);
        ended.add(0, "1");
    }
    TapeStore reader(folder.path, kStart + 1);
    reader.readEarlier();
    reader.add(0, "2");
    ::umask(mask);
    for (const fs::path& dir : {folder.root / "state", folder.path}) {
        EXPECT_EQ(fs::status(dir).permissions(), fs::perms::owner_all) << dir;
    }
    EXPECT_EQ(folder.names().size(), 3u) << "the kept tape, the lock, this run's journal";
    for (const std::string& name : folder.names()) {
        EXPECT_EQ(fs::status(folder.path / name).permissions(),
                  fs::perms::owner_read | fs::perms::owner_write)
            << name;
    }
}

TEST(TapeStore, TurnedOffLeavesNothingButWhatRunsStillWrite) {
    Folder folder;
    {
        TapeStore ended(folder.path, kStart);
        ended.add(0, "folded");
    }
    later(folder);
    {
        TapeStore ended(folder.path, kStart + 1);
        ended.add(0, "not folded yet");
    }
    auto running = std::make_unique<TapeStore>(folder.path, kStart + 2);
    running->add(0, "running");
    put(folder.path / "notes", "mine");
    TapeStore store(folder.path, kStart + 3);
    store.add(0, "this run");
    store.disable();
    EXPECT_FALSE(store.add(1, "more"));
    EXPECT_TRUE(store.readEarlier().lines.empty());
    EXPECT_EQ(texts(later(folder)), std::vector<std::string>{"running"});
    EXPECT_EQ(folder.names().size(), 3u) << "the running one's journal, the lock, notes";
    running.reset();
    TapeStore(folder.path, kStart + 4).disable();
    EXPECT_EQ(folder.names(), std::set<std::string>{"notes"});
}

std::string lineText(int run, std::uint64_t n) {
    return std::to_string(run) + ":" + std::to_string(n) + ":" + std::string(n % 97, 'a' + n % 26);
}

TEST(TapeStore, KilledAtRandomMomentsLosesNoAcknowledgedLineAndShowsNoPart) {
    Folder folder;
    std::mt19937 random(7);
    // Six runs killed a read, each one at most 1,500 lines, so that all six
    // stay within the bound; each one's first line may fold the ones before.
    for (int round = 0; round < 240;) {
        std::map<int, std::uint64_t> acked; // lines acknowledged by each run
        for (const int last = round + 6; round < last; ++round) {
            int acks[2];
            ASSERT_EQ(::pipe(acks), 0);
            const pid_t child = ::fork();
            if (child == 0) {
                ::close(acks[0]);
                TapeStore store(folder.path, kStart + round, quick(32 * 1024));
                for (std::uint64_t n = 0; n < 1'500 && store.add(n, lineText(round, n)); ++n) {
                    if (::write(acks[1], &n, sizeof n) != sizeof n) {
                        break;
                    }
                }
                ::pause();
            }
            ::close(acks[1]);
            acked[round] = 0;
            ::usleep(random() % 3000);
            ::kill(child, SIGKILL);
            ::waitpid(child, nullptr, 0);
            for (std::uint64_t n; ::read(acks[0], &n, sizeof n) == sizeof n;) {
                acked[round] = n + 1;
            }
            ::close(acks[0]);
        }
        std::string problem;
        const Earlier earlier = later(folder, &problem);
        ASSERT_EQ(problem, "");
        std::map<int, std::uint64_t> read;
        for (const KeptLine& line : earlier.lines) {
            const auto colon = line.text.find(':');
            const int run = std::stoi(line.text.substr(0, colon));
            const std::uint64_t n = std::stoull(line.text.substr(colon + 1));
            ASSERT_EQ(line.text, lineText(run, n)) << "a line kept in part";
            if (acked.count(run) != 0) {
                ASSERT_EQ(n, read[run]++) << "run " << run;
            }
        }
        for (const auto& [run, lines] : acked) {
            ASSERT_GE(read[run], lines) << "run " << run;
        }
    }
    std::uintmax_t bytes = 0;
    for (const auto& entry : fs::directory_iterator(folder.path)) {
        bytes += entry.file_size();
    }
    EXPECT_LT(bytes, 4'000'000u);
}

TEST(TapeStore, TwoWritersAtOnceWithTheBoundReachedLoseNoLine) {
    Folder folder;
    {
        TapeStore old(folder.path, kStart, quick());
        for (std::uint64_t n = 0; n < TapeStore::kLines; ++n) {
            old.add(n, "old");
        }
    }
    constexpr std::uint64_t kEach = 3'000;
    pid_t writers[2];
    for (int w = 0; w < 2; ++w) {
        if ((writers[w] = ::fork()) == 0) {
            TapeStore store(folder.path, kStart + 1 + w, quick(16 * 1024));
            for (std::uint64_t n = 0; n < kEach; ++n) {
                store.add(n, lineText(w, n));
                if (n % 300 == 150u * w) {
                    // Runs that end meanwhile, folded with the old lines by the other writer.
                    TapeStore(folder.path, kStart + 10 + n + w, quick()).add(0, "brief");
                    store.readEarlier();
                }
            }
            ::_exit(store.problem().empty() ? 0 : 1);
        }
    }
    for (const pid_t writer : writers) {
        int status = -1;
        ::waitpid(writer, &status, 0);
        EXPECT_EQ(status, 0);
    }
    const Earlier earlier = later(folder);
    EXPECT_EQ(earlier.lines.size(), TapeStore::kLines);
    std::map<std::string, std::vector<std::string>> byRun;
    for (const KeptLine& line : earlier.lines) {
        byRun[earlier.runs[line.run].id].push_back(line.text);
    }
    for (int w = 0; w < 2; ++w) {
        const std::vector<std::string>& lines = byRun[earlier.runs.at(1 + w).id];
        ASSERT_EQ(lines.size(), kEach);
        for (std::uint64_t n = 0; n < kEach; ++n) {
            ASSERT_EQ(lines[n], lineText(w, n));
        }
    }
}

TEST(TapeStore, DefaultFolderFollowsTheXdgRules) {
    const char* const table[][3] = {
        // XDG_STATE_HOME, HOME, the folder
        {"/s", "/h", "/s/quillo"},
        {"relative", "/h", "/h/.local/state/quillo"},
        {nullptr, "/h", "/h/.local/state/quillo"},
        {nullptr, nullptr, ""},
    };
    for (const auto& [state, home, folder] : table) {
        state ? ::setenv("XDG_STATE_HOME", state, 1) : ::unsetenv("XDG_STATE_HOME");
        home ? ::setenv("HOME", home, 1) : ::unsetenv("HOME");
        EXPECT_EQ(TapeStore::defaultFolder(), folder);
    }
}

} // namespace
} // namespace quillo
