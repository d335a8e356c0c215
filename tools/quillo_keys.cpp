// quillo-keys: replays calculator key captions from standard input without a
// window and prints the display after every key.

#include "replay.h"

#include <charconv>
#include <cstdio>
#include <string>
#include <string_view>

namespace {

constexpr std::string_view kUsage =
    "usage: quillo-keys [--state] < keys.txt\n"
    "Reads key captions, one per line (0-9 . + - X / x^y = % x^2 x^3 Sqrt C CE),\n"
    "and prints for every key: KEY TAB |DISPLAY| [TAB warning] [TAB error:KIND]\n"
    "[TAB the seven fields with --state].\n";

void write(std::FILE* f, std::string_view s) {
    std::fwrite(s.data(), 1, s.size(), f);
}

std::string lineNumber(long long n) {
    char buf[24];
    auto res = std::to_chars(buf, buf + sizeof buf, n);
    return std::string(buf, res.ptr);
}

} // namespace

int main(int argc, char** argv) {
    bool withState = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--state") {
            withState = true;
        } else if (arg == "--help" || arg == "-h") {
            write(stdout, kUsage);
            return 0;
        } else {
            write(stderr, "quillo-keys: unknown option '");
            write(stderr, arg);
            write(stderr, "'\n");
            write(stderr, kUsage);
            return 2;
        }
    }

    quillo::Replay replay(withState);
    std::string line;
    std::string out;
    std::string error;
    long long number = 0;
    int c = 0;
    bool more = true;
    while (more) {
        line.clear();
        while ((c = std::getc(stdin)) != EOF && c != '\n') {
            line += static_cast<char>(c);
        }
        more = c != EOF;
        if (!more && line.empty()) {
            break;
        }
        ++number;
        if (!replay.feed(line, out, error)) {
            write(stdout, out);
            std::fflush(stdout);
            write(stderr, "quillo-keys: line " + lineNumber(number) + ": " + error + "\n");
            return 2;
        }
        if (out.size() > (1 << 16)) {
            write(stdout, out);
            out.clear();
        }
    }
    write(stdout, out);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
