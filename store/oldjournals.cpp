// SPDX-License-Identifier: MIT
#include "oldjournals.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>

// The journals' records (a magic line first, one record a line):
//   R <run> <started>  the run the L and U records below belong to
//   L <n> <text>       a line; a later L of the same n replaces it
//   U <n>              this journal's run's lines numbered n and above are gone
//   D <run> <n>        line n of that run is gone, and stays gone
//   X <run> <n>        that run's lines numbered below n are gone, and stay gone

namespace quillo {
namespace {

constexpr std::string_view kMagic = "quillo tape 1\n";
constexpr std::string_view kKept = "kept.tape";
constexpr std::string_view kLock = "tape.lock";

bool validId(std::string_view id) {
    return !id.empty() && id.size() <= 64 && std::all_of(id.begin(), id.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || c == '-';
    });
}

// "run-<id>.tape" gives its run's id, kept.tape "" (it holds many runs).
bool journalRun(std::string_view name, std::string_view& run) {
    run = {};
    if (name == kKept) {
        return true;
    }
    if (!name.starts_with("run-") || !name.ends_with(".tape")) {
        return false;
    }
    run = name.substr(4, name.size() - 9);
    return validId(run);
}

bool number(std::string_view text, std::uint64_t& n) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
    return !text.empty() && error == std::errc() && end == text.data() + text.size();
}

// The first word off `text`; false without a space after it.
bool word(std::string_view& text, std::string_view& first) {
    const auto space = text.find(' ');
    first = text.substr(0, space);
    text = space == std::string_view::npos ? std::string_view() : text.substr(space + 1);
    return space != std::string_view::npos;
}

// `current` is the run the last R record named, "" when none or not valid.
void record(std::string_view text, std::string_view journal, std::string& current,
            const std::function<void(const JournalRecord&)>& put) {
    if (text.size() < 3 || text[1] != ' ') {
        return;
    }
    std::string_view rest = text.substr(2), first;
    std::uint64_t n = 0;
    switch (text[0]) {
    case 'R':
        // A run's journal holds that run alone.
        current.clear();
        if (word(rest, first) && !rest.empty() && rest.size() <= 64 && validId(first) &&
            (journal.empty() || first == journal)) {
            current = first;
            put({'R', current, 0, rest});
        }
        break;
    case 'L':
        if (!current.empty() && word(rest, first) && number(first, n)) {
            put({'L', current, n, rest});
        }
        break;
    case 'U':
        if (!current.empty() && number(rest, n)) {
            put({'U', current, n, {}});
        }
        break;
    case 'D':
    case 'X':
        if (word(rest, first) && validId(first) && number(rest, n)) {
            put({text[0], first, n, {}});
        }
        break;
    default:
        break;
    }
}

// False when the file is not a journal or could not be read to its end.
bool readJournal(int fd, std::string_view journal,
                 const std::function<void(const JournalRecord&)>& put) {
    FILE* file = ::fdopen(::dup(fd), "r");
    if (file == nullptr) {
        return false;
    }
    char* line = nullptr;
    std::size_t capacity = 0;
    std::string current;
    bool journalFile = true;
    for (ssize_t n, at = 0; journalFile && (n = ::getline(&line, &capacity, file)) > 0; ++at) {
        const std::string_view text(line, static_cast<std::size_t>(n));
        if (at == 0) {
            journalFile = text == kMagic;
        } else if (text.back() == '\n') { // without it, a last record cut short by a crash
            record(text.substr(0, text.size() - 1), journal, current, put);
        }
    }
    journalFile = journalFile && std::ferror(file) == 0;
    std::free(line);
    std::fclose(file);
    return journalFile;
}

} // namespace

Journals::Journals(const std::string& folder) : folder_(folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        return;
    }
    std::string_view run;
    while (const dirent* entry = ::readdir(dir)) {
        if (journalRun(entry->d_name, run)) {
            found_.emplace_back(entry->d_name);
        }
    }
    ::closedir(dir);
    // kept.tape holds the oldest runs; a run's journal is named by its start.
    std::sort(found_.begin(), found_.end(), [](const std::string& a, const std::string& b) {
        return std::pair(a != kKept, a) < std::pair(b != kKept, b);
    });
    // Held while an old version folds its journals into kept.tape.
    const int lock = found_.empty() ? -1
                                    : ::open((folder + "/" + std::string(kLock)).c_str(),
                                             O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (lock >= 0) {
        locks_.push_back(lock);
        if (::flock(lock, LOCK_EX | LOCK_NB) != 0) {
            found_.clear();
        }
    }
}

Journals::~Journals() {
    for (const int fd : locks_) {
        ::close(fd);
    }
}

void Journals::take(const std::function<bool(const OldJournal&)>& taken,
                    const std::function<void(const JournalRecord&)>& put) {
    for (const std::string& name : found_) {
        const int fd =
            ::open((folder_ + "/" + name).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        locks_.push_back(fd);
        struct stat st {};
        // An old version still running holds its journal's lock.
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            continue;
        }
        const OldJournal journal{
            name, st.st_size, std::int64_t{st.st_mtim.tv_sec} * 1'000'000'000 + st.st_mtim.tv_nsec};
        std::string_view run;
        journalRun(name, run);
        if (taken(journal)) {
            stale.push_back(journal);
        } else if (readJournal(fd, run, put)) {
            read.push_back(journal);
        }
    }
}

void Journals::remove() const {
    for (const auto* list : {&read, &stale}) {
        for (const OldJournal& journal : *list) {
            ::unlink((folder_ + "/" + journal.name).c_str());
        }
    }
    const std::string lock = folder_ + "/" + std::string(kLock);
    struct stat st {};
    if (::lstat(lock.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 0) {
        ::unlink(lock.c_str());
    }
}

} // namespace quillo
