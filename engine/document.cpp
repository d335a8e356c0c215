// SPDX-License-Identifier: MIT
#include "document.h"

#include "clipboard.h"
#include "engine.h"
#include "keylog.h"
#include "keys.h"
#include "note.h"

#include <charconv>
#include <chrono>
#include <optional>

namespace quillo {
namespace {

constexpr std::string_view kMagic = "# quillo tape ";
constexpr std::string_view kTitle = "# title ";
constexpr std::string_view kNote = "# note ";
constexpr std::string_view kWas = "# was ";
constexpr std::string_view kAt = " at ";
constexpr std::string_view kEnd = "# end";

// Code points of well-formed UTF-8 without control characters (tabs aside
// when `tabs`); npos if not.
std::size_t textLength(std::string_view s, bool tabs = false) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < s.size(); ++count) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t n = 0;
        char32_t cp = 0;
        if (c < 0x80) {
            if ((c < 0x20 && !(tabs && c == '\t')) || c == 0x7f) {
                return std::string_view::npos;
            }
            ++i;
            continue;
        } else if ((c & 0xe0) == 0xc0) {
            n = 1;
            cp = c & 0x1f;
        } else if ((c & 0xf0) == 0xe0) {
            n = 2;
            cp = c & 0x0f;
        } else if ((c & 0xf8) == 0xf0) {
            n = 3;
            cp = c & 0x07;
        } else {
            return std::string_view::npos;
        }
        if (i + n >= s.size()) {
            return std::string_view::npos;
        }
        for (std::size_t k = 1; k <= n; ++k) {
            const auto d = static_cast<unsigned char>(s[i + k]);
            if ((d & 0xc0) != 0x80) {
                return std::string_view::npos;
            }
            cp = (cp << 6) | (d & 0x3f);
        }
        // Overlong forms, surrogates and past U+10FFFF are not UTF-8; C1
        // controls are control characters.
        constexpr char32_t least[] = {0, 0x80, 0x800, 0x10000};
        if (cp < least[n] || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff) ||
            (cp >= 0x80 && cp < 0xa0)) {
            return std::string_view::npos;
        }
        i += n + 1;
    }
    return count;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && isBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

// A key line as the replay reads it, `keys` key lines before it. A reused
// number may name the earlier key line whose result it follows: "use 15 @3".
bool isKey(std::string_view text, std::size_t keys) {
    const std::string_view use = KeyLog::kUseWord;
    if (text.size() > use.size() && text.starts_with(use) &&
        (text[use.size()] == ' ' || text[use.size()] == '\t')) {
        std::string_view number = text.substr(use.size());
        number.remove_prefix(number.find_first_not_of(" \t"));
        if (const std::size_t blank = number.find_first_of(" \t"); blank != number.npos) {
            std::string_view link = number.substr(blank);
            link.remove_prefix(link.find_first_not_of(" \t"));
            number = number.substr(0, blank);
            std::size_t k = 0;
            const char* end = link.data() + link.size();
            const auto res = std::from_chars(link.data() + 1, end, k);
            if (!link.starts_with('@') || res.ec != std::errc() || res.ptr != end || k == 0 ||
                k > keys) {
                return false;
            }
        }
        return reusable(number);
    }
    return keyFromCaption(text).has_value();
}

// A key that can begin a typed number: a digit, the point, a minus, a reuse.
bool startsNumber(std::string_view text) {
    if (text.starts_with(KeyLog::kUseWord)) {
        return true;
    }
    const std::optional<Key> key = keyFromCaption(text);
    return key && (*key == Key::Decimal || *key == Key::Minus ||
                   (static_cast<int>(*key) >= static_cast<int>(Key::D0) &&
                    static_cast<int>(*key) <= static_cast<int>(Key::D9)));
}

// A title or a note as the note editor takes it: one line of text.
std::optional<DocumentError::Why> textProblem(std::string_view text) {
    const std::optional<NoteProblem> why = noteProblem(text, Document::kTextLimit);
    if (!why) {
        return std::nullopt;
    }
    return *why == NoteProblem::TooLong ? DocumentError::Why::TooLong : DocumentError::Why::NotText;
}

DocumentError error(DocumentError::Why why, std::size_t line, std::string detail = {}) {
    return DocumentError{why, line, std::move(detail)};
}

void put(std::string& out, std::string_view a, std::string_view b = {}) {
    out += a;
    out += b;
    out += '\n';
}

} // namespace

std::string utcText(std::int64_t seconds) {
    using namespace std::chrono;
    const sys_seconds t{std::chrono::seconds(seconds)};
    const sys_days day = floor<days>(t);
    const year_month_day ymd{day};
    const hh_mm_ss<std::chrono::seconds> time{t - day};
    char buf[32];
    char* p = buf;
    auto num = [&](long long v, int width) {
        char digits[24];
        const auto res = std::to_chars(digits, digits + sizeof digits, v < 0 ? -v : v);
        if (v < 0) {
            *p++ = '-';
        }
        for (auto n = res.ptr - digits; n < width; ++n) {
            *p++ = '0';
        }
        for (const char* d = digits; d < res.ptr; ++d) {
            *p++ = *d;
        }
    };
    num(static_cast<int>(ymd.year()), 4);
    *p++ = '-';
    num(static_cast<unsigned>(ymd.month()), 2);
    *p++ = '-';
    num(static_cast<unsigned>(ymd.day()), 2);
    *p++ = 'T';
    num(time.hours().count(), 2);
    *p++ = ':';
    num(time.minutes().count(), 2);
    *p++ = ':';
    num(time.seconds().count(), 2);
    *p++ = 'Z';
    return std::string(buf, p);
}

bool parseUtc(std::string_view text, std::int64_t& seconds) {
    // Exactly YYYY-MM-DDTHH:MM:SSZ, as utcText writes it.
    if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
        text[13] != ':' || text[16] != ':' || text[19] != 'Z') {
        return false;
    }
    auto field = [&](std::size_t at, std::size_t n, int& v) {
        const char* end = text.data() + at + n;
        const auto res = std::from_chars(text.data() + at, end, v);
        return res.ec == std::errc() && res.ptr == end && text[at] != '-' && text[at] != '+';
    };
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    if (!field(0, 4, y) || !field(5, 2, mo) || !field(8, 2, d) || !field(11, 2, h) ||
        !field(14, 2, mi) || !field(17, 2, s) || h > 23 || mi > 59 || s > 59) {
        return false;
    }
    using namespace std::chrono;
    const year_month_day ymd{year(y), month(static_cast<unsigned>(mo)),
                             day(static_cast<unsigned>(d))};
    if (!ymd.ok()) {
        return false;
    }
    seconds =
        static_cast<std::int64_t>(sys_days(ymd).time_since_epoch() / std::chrono::seconds(1)) +
        h * 3600 + mi * 60 + s;
    return true;
}

std::variant<Document, DocumentError> parseDocument(std::string_view text) {
    using Why = DocumentError::Why;
    if (text.size() > Document::kSizeLimit) {
        return error(Why::TooLarge, 0);
    }
    Document doc;
    // A last line without its newline was cut off as it was written.
    const bool whole = text.empty() || text.back() == '\n';
    bool ended = false;
    std::optional<Document::Was> pendingWas;
    std::size_t number = 0;
    while (!text.empty()) {
        ++number;
        const std::size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
        if (text.empty() && !whole) {
            return error(Why::CutShort, number);
        }
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1); // written on Windows
        }
        if (number == 1) {
            int version = 0;
            const std::string_view v =
                line.starts_with(kMagic) ? line.substr(kMagic.size()) : std::string_view();
            const auto res = std::from_chars(v.data(), v.data() + v.size(), version);
            if (v.empty() || res.ec != std::errc() || res.ptr != v.data() + v.size() ||
                version < 1) {
                return error(Why::NotATape, 1);
            }
            if (version > Document::kVersion) {
                return error(Why::Newer, 1, std::string(v));
            }
            continue;
        }
        // A tab is a blank to the replay; other control characters are damage.
        if (textLength(line, true) == std::string_view::npos) {
            return error(Why::NotText, number);
        }
        if (ended) {
            return error(Why::AfterEnd, number);
        }
        if (line.starts_with('#')) {
            if (line == kEnd) {
                if (pendingWas) {
                    return error(Why::Misplaced, pendingWas->line);
                }
                ended = true;
            } else if (line.starts_with(kTitle)) {
                const std::string_view title = line.substr(kTitle.size());
                if (!doc.keys.empty() || !doc.title.empty() || doc.cut || title.empty()) {
                    return error(Why::Misplaced, number);
                }
                if (const auto why = textProblem(title)) {
                    return error(*why, number);
                }
                doc.title = title;
            } else if (line.starts_with(kNote)) {
                const std::string_view note = line.substr(kNote.size());
                if (doc.keys.empty() || pendingWas || note.empty() ||
                    doc.notes.count(doc.keys.size() - 1) > 0) {
                    return error(Why::Misplaced, number);
                }
                if (const auto why = textProblem(note)) {
                    return error(*why, number);
                }
                doc.notes.emplace(doc.keys.size() - 1, Document::Note{std::string(note), number});
            } else if (line.starts_with(kWas)) {
                std::string_view was = line.substr(kWas.size());
                Document::Was w;
                w.line = number;
                if (const std::size_t at = was.find(kAt); at != std::string_view::npos) {
                    if (!parseUtc(was.substr(at + kAt.size()), w.at) || w.at == 0) {
                        return error(Why::UnknownLine, number);
                    }
                    was = was.substr(0, at);
                }
                // A number as its line showed it: typed, or reused ("1.5E+20").
                if (pendingWas || was.empty() || was.size() > kPasteLimit ||
                    was.find_first_not_of("-.0123456789E+") != std::string_view::npos) {
                    return error(pendingWas ? Why::Misplaced : Why::UnknownLine, number);
                }
                w.text = was;
                pendingWas = std::move(w);
            } else if (line == KeyLog::kCutLine) {
                if (!doc.keys.empty() || doc.cut) {
                    return error(Why::Misplaced, number);
                }
                doc.cut = true;
            } else {
                return error(Why::UnknownLine, number);
            }
            continue;
        }
        const std::string_view key = trimmed(line);
        if (key.empty()) {
            continue; // the replay skips blank lines too
        }
        if (!isKey(key, doc.keys.size())) {
            return error(Why::UnknownKey, number, std::string(key.substr(0, 40)));
        }
        if (pendingWas) {
            if (!startsNumber(key)) {
                return error(Why::NotANumber, pendingWas->line);
            }
            doc.was.emplace(doc.keys.size(), std::move(*pendingWas));
            pendingWas.reset();
        }
        doc.keys.push_back({std::string(key), number});
    }
    if (number == 0) {
        return error(Why::NotATape, 1);
    }
    if (!ended) {
        return error(Why::CutShort, number);
    }
    return doc;
}

std::string writeDocument(const Document& doc) {
    std::string out;
    std::size_t size = 64 + doc.title.size();
    for (const Document::Key& key : doc.keys) {
        size += key.text.size() + 1;
    }
    out.reserve(size);
    char version[16];
    const auto res = std::to_chars(version, version + sizeof version, Document::kVersion);
    put(out, kMagic, std::string_view(version, static_cast<std::size_t>(res.ptr - version)));
    if (!doc.title.empty()) {
        put(out, kTitle, doc.title);
    }
    if (doc.cut) {
        put(out, KeyLog::kCutLine);
    }
    auto note = doc.notes.begin();
    auto was = doc.was.begin();
    for (std::size_t i = 0; i < doc.keys.size(); ++i) {
        if (was != doc.was.end() && was->first == i) {
            out += kWas;
            out += was->second.text;
            if (was->second.at != 0) {
                out += kAt;
                out += utcText(was->second.at);
            }
            out += '\n';
            ++was;
        }
        put(out, doc.keys[i].text);
        if (note != doc.notes.end() && note->first == i) {
            put(out, kNote, note->second.text);
            ++note;
        }
    }
    put(out, kEnd);
    return out;
}

} // namespace quillo
