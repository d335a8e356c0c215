// SPDX-License-Identifier: MIT
// quillo-keys: replays calculator key captions from standard input without a
// window and prints the display after every key.

#include "engine.h"
#include "keylog.h"
#include "replay.h"
#include "version.h"

#include <charconv>
#include <cstdio>
#include <exception>
#include <string>
#include <string_view>

namespace {

constexpr std::string_view kUsage =
    "usage: quillo-keys [--state] [--tape] < keys.txt\n"
    "       quillo-keys --help | --version\n"
    "Reads key captions, one per line (0-9 . + - X / x^y = % x^2 x^3 Sqrt C CE),\n"
    "or 'use NUMBER' for a number reused from the tape (use -5, use 1.5E+20),\n"
    "or 'use NUMBER @K' for the result of the line the Kth key line wrote,\n"
    "and prints for every key: KEY TAB |DISPLAY| [TAB warning] [TAB error:KIND]\n"
    "[TAB the seven fields with --state]; with --tape, then TAB tape TAB LINE for\n"
    "each line the key added to the tape.\n"
    "Exit status: 0 done, 1 the input could not be read or the output written,\n"
    "2 a bad option, a line that is not a key, or a link to no line\n"
    "(named on standard error).\n";

void write(std::FILE* f, std::string_view s) {
    std::fwrite(s.data(), 1, s.size(), f);
}

// Only a few bytes make a caption or a reused number, so a line keeps at most
// kKept bytes after its leading blanks and an endless line (from /dev/zero,
// say) costs no memory. The first non-blank byte past those is kept too: a
// cut line still reads as nothing known, while trailing blanks of any length
// still trim away.
constexpr std::size_t kKept = 64 + quillo::kReuseLimit;

bool isBlank(int c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view trimmed(std::string_view line) {
    while (!line.empty() && isBlank(static_cast<unsigned char>(line.back()))) {
        line.remove_suffix(1);
    }
    return line;
}

// One line without its '\n'; false at the end of the input with nothing read.
bool readLine(std::FILE* in, std::string& line) {
    line.clear();
    bool any = false;
    bool cut = false;
    int c = 0;
    while ((c = std::getc(in)) != EOF) {
        any = true;
        if (c == '\n') {
            return true;
        }
        if (line.empty() && isBlank(c)) {
            continue;
        }
        if (line.size() < kKept) {
            line += static_cast<char>(c);
        } else if (!cut && !isBlank(c)) {
            line += static_cast<char>(c);
            cut = true;
        }
    }
    return any;
}

// Writes and clears `out`; false once standard output has failed, so that an
// output lost to a full disk is not reported as success.
bool flush(std::string& out) {
    write(stdout, out);
    out.clear();
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) {
        return true;
    }
    write(stderr, "quillo-keys: cannot write the output\n");
    return false;
}

std::string lineNumber(long long n) {
    char buf[24];
    auto res = std::to_chars(buf, buf + sizeof buf, n);
    return std::string(buf, res.ptr);
}

int run(int argc, char** argv, std::string& out);

} // namespace

int main(int argc, char** argv) {
    // Whatever is not the engine's own error (which a key's output line
    // reports) ends the tool: out of memory, say. What was replayed before
    // it is still written out.
    std::string out;
    try {
        return run(argc, argv, out);
    } catch (const std::exception& e) {
        flush(out);
        write(stderr, "quillo-keys: ");
        write(stderr, e.what());
        write(stderr, "\n");
    } catch (...) {
        flush(out);
        write(stderr, "quillo-keys: unexpected failure\n");
    }
    return 1;
}

namespace {

int run(int argc, char** argv, std::string& out) {
    bool withState = false;
    bool withTape = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--state") {
            withState = true;
        } else if (arg == "--tape") {
            withTape = true;
        } else if (arg == "--help" || arg == "-h") {
            out = kUsage;
            return flush(out) ? 0 : 1;
        } else if (arg == "--version" || arg == "-v") {
            out = "quillo-keys ";
            out += quillo::kVersionText;
            out += '\n';
            return flush(out) ? 0 : 1;
        } else {
            write(stderr, "quillo-keys: unknown option '");
            write(stderr, arg);
            write(stderr, "'\n");
            write(stderr, kUsage);
            return 2;
        }
    }

    quillo::Replay replay(withState, withTape);
    std::string line;
    std::string error;
    long long number = 0;
    while (readLine(stdin, line)) {
        ++number;
        if (trimmed(line) == quillo::KeyLog::kCutLine) {
            // The calculator copied keys whose start it no longer had.
            write(stderr, "quillo-keys: line " + lineNumber(number) +
                              ": the keys before it were not kept, so the displays may differ "
                              "from the calculator's\n");
            continue;
        }
        if (!replay.feed(line, out, error)) {
            // A lost output outweighs the bad line: it is what the caller reads.
            const bool written = flush(out);
            write(stderr, "quillo-keys: line " + lineNumber(number) + ": " + error + "\n");
            return written ? 2 : 1;
        }
        if (out.size() > (1 << 16) && !flush(out)) {
            return 1;
        }
    }
    if (std::ferror(stdin)) {
        // Keys lost to a read error must not pass for the end of the input.
        flush(out);
        write(stderr, "quillo-keys: cannot read the input\n");
        return 1;
    }
    return flush(out) ? 0 : 1;
}

} // namespace
