// SPDX-License-Identifier: MIT
#include "oldjournals.h"

#include "tapestore.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <map>
#include <set>
#include <string_view>

// The journals' records (a magic line first, one record a line):
//   R <run> <started>  the run the L records below belong to
//   L <n> <text>       a line; n is unique in its run
//   U <n>              this journal's run's lines numbered n and above are gone
//   D <run> <n>        line n of that run is gone
//   X <run> <n>        that run's lines numbered below n are gone

namespace quillo {
namespace {

constexpr std::string_view kMagic = "quillo tape 1\n";
constexpr std::string_view kKept = "kept.tape";
constexpr std::string_view kLock = "tape.lock";
// Runs and delete marks held while reading, against a journal made to exhaust memory.
constexpr std::size_t kRuns = 4 * TapeStore::kLines;
constexpr std::size_t kMarks = 4 * TapeStore::kLines;

bool validId(std::string_view id) {
    return !id.empty() && id.size() <= 64 && std::all_of(id.begin(), id.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || c == '-';
    });
}

// "run-<id>.tape", with a valid id.
bool journalName(std::string_view name, std::string_view& run) {
    constexpr std::string_view prefix = "run-";
    constexpr std::string_view suffix = ".tape";
    if (!name.starts_with(prefix) || !name.ends_with(suffix)) {
        return false;
    }
    run = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    return validId(run);
}

bool parseNumber(std::string_view text, std::uint64_t& n) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
    return !text.empty() && error == std::errc() && end == text.data() + text.size();
}

bool split(std::string_view text, std::string_view& first, std::string_view& rest) {
    const auto space = text.find(' ');
    if (space == std::string_view::npos) {
        return false;
    }
    first = text.substr(0, space);
    rest = text.substr(space + 1);
    return true;
}

// Every journal's records, folded into runs and bounded as the tape is.
class Reader {
public:
    // False when the file is not a journal.
    bool read(int fd, std::string_view journal);
    std::vector<CarriedRun> runs() const;
    std::size_t dropped = 0;

private:
    struct Run {
        std::uint64_t order = 0; // runs are met oldest first
        std::string started;
        std::map<std::uint64_t, std::string> lines;
        std::uint64_t clearedBelow = 0;
        std::set<std::uint64_t> deleted;
    };
    void record(std::string_view text, std::string_view journal);
    Run* run(std::string_view id);
    void erase(Run& owner, std::uint64_t from, std::uint64_t last);
    void trim();

    std::map<std::string, Run, std::less<>> runs_;
    Run* current_ = nullptr;
    std::size_t lines_ = 0;
    std::uint64_t bytes_ = 0;
    std::size_t marks_ = 0;
};

bool Reader::read(int fd, std::string_view journal) {
    current_ = nullptr;
    std::string buffer(64 * 1024, '\0');
    std::string partial;
    for (off_t offset = 0;;) {
        ssize_t n;
        do {
            n = ::pread(fd, buffer.data(), buffer.size(), offset);
        } while (n < 0 && errno == EINTR);
        if (n <= 0) {
            // A last record without its newline was cut short by a crash.
            return n == 0;
        }
        std::string_view data(buffer.data(), static_cast<std::size_t>(n));
        if (offset == 0) {
            if (!data.starts_with(kMagic)) {
                return false;
            }
            data.remove_prefix(kMagic.size());
        }
        offset += n;
        for (auto end = data.find('\n'); end != std::string_view::npos; end = data.find('\n')) {
            if (partial.empty()) {
                record(data.substr(0, end), journal);
            } else {
                partial.append(data.substr(0, end));
                record(partial, journal);
                partial.clear();
            }
            data.remove_prefix(end + 1);
        }
        partial.append(data);
    }
}

Reader::Run* Reader::run(std::string_view id) {
    if (!validId(id)) {
        return nullptr;
    }
    if (const auto it = runs_.find(id); it != runs_.end()) {
        return &it->second;
    }
    if (runs_.size() >= kRuns) {
        return nullptr;
    }
    Run& made = runs_.emplace(std::string(id), Run{}).first->second;
    made.order = runs_.size();
    return &made;
}

void Reader::erase(Run& owner, std::uint64_t from, std::uint64_t last) {
    for (auto it = owner.lines.lower_bound(from); it != owner.lines.end() && it->first <= last;) {
        bytes_ -= it->second.size();
        --lines_;
        it = owner.lines.erase(it);
    }
}

void Reader::record(std::string_view text, std::string_view journal) {
    if (text.size() < 3 || text[1] != ' ') {
        return;
    }
    std::string_view rest = text.substr(2);
    std::string_view first;
    std::uint64_t n = 0;
    switch (text[0]) {
    case 'R':
        // A journal holds its own run alone.
        current_ = split(rest, first, rest) && !rest.empty() && rest.size() <= 64 &&
                           (journal.empty() || first == journal)
                       ? run(first)
                       : nullptr;
        if (current_ != nullptr && current_->started.empty()) {
            current_->started = rest;
        }
        break;
    case 'L':
        if (current_ != nullptr && split(rest, first, rest) && parseNumber(first, n) &&
            n >= current_->clearedBelow && current_->deleted.count(n) == 0) {
            erase(*current_, n, n);
            current_->lines.emplace(n, rest);
            bytes_ += rest.size();
            ++lines_;
            trim();
        }
        break;
    case 'U':
        if (current_ != nullptr && parseNumber(rest, n)) {
            erase(*current_, n, UINT64_MAX);
        }
        break;
    case 'D':
    case 'X':
        if (Run* owner = split(rest, first, rest) && parseNumber(rest, n) ? run(first) : nullptr) {
            if (text[0] == 'X') {
                owner->clearedBelow = std::max(owner->clearedBelow, n);
                if (n > 0) {
                    erase(*owner, 0, n - 1);
                }
            } else {
                if (marks_ < kMarks && owner->deleted.insert(n).second) {
                    ++marks_;
                }
                erase(*owner, n, n);
            }
        }
        break;
    default:
        break;
    }
}

// Past the bound the oldest lines go: those of the run met first.
void Reader::trim() {
    while (lines_ > TapeStore::kLines || (bytes_ > TapeStore::kBytes && lines_ > 1)) {
        Run* oldest = nullptr;
        for (auto& [id, run] : runs_) {
            if (!run.lines.empty() && (oldest == nullptr || run.order < oldest->order)) {
                oldest = &run;
            }
        }
        bytes_ -= oldest->lines.begin()->second.size();
        --lines_;
        ++dropped;
        oldest->lines.erase(oldest->lines.begin());
    }
}

std::vector<CarriedRun> Reader::runs() const {
    std::vector<const Run*> order;
    for (const auto& [id, run] : runs_) {
        if (!run.lines.empty()) {
            order.push_back(&run);
        }
    }
    std::sort(order.begin(), order.end(), [](auto* a, auto* b) { return a->order < b->order; });
    std::vector<CarriedRun> out;
    for (const Run* run : order) {
        CarriedRun& to = out.emplace_back();
        to.started = run->started;
        for (const auto& [n, text] : run->lines) {
            to.lines.push_back(text);
        }
    }
    return out;
}

} // namespace

Journals::Journals(const std::string& folder, const std::function<bool(const OldJournal&)>& taken)
    : folder_(folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        return;
    }
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        std::string_view run;
        if (name == kKept || journalName(name, run)) {
            names.emplace_back(name);
        }
    }
    ::closedir(dir);
    if (names.empty()) {
        return;
    }
    // Held while an old version folds its journals into kept.tape.
    const int lock = ::open((folder + "/" + std::string(kLock)).c_str(),
                            O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (lock >= 0) {
        locks_.push_back(lock);
        if (::flock(lock, LOCK_EX | LOCK_NB) != 0) {
            busy = true;
            return;
        }
    }
    // kept.tape holds the oldest runs; a journal's name begins with its run's start.
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return (a != kKept) < (b != kKept) || ((a != kKept) == (b != kKept) && a < b);
    });
    Reader reader;
    for (const std::string& name : names) {
        const int fd =
            ::open((folder + "/" + name).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
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
        journalName(name, run);
        if (taken(journal)) {
            stale.push_back(journal);
        } else if (reader.read(fd, run)) {
            read.push_back(journal);
        }
    }
    runs = reader.runs();
    dropped = reader.dropped;
}

Journals::~Journals() {
    for (const int fd : locks_) {
        ::close(fd);
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
