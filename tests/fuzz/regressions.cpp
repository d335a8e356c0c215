// SPDX-License-Identifier: MIT
// Runs the session fuzzer's checks on kept inputs, one file each, without
// libFuzzer: the inputs that once found a fault stay tests in every build.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: quillo-fuzz-regressions FOLDER\n", stderr);
        return 2;
    }
    int ran = 0;
    for (const auto& entry : std::filesystem::directory_iterator(argv[1])) {
        std::ifstream file(entry.path(), std::ios::binary);
        const std::vector<std::uint8_t> input((std::istreambuf_iterator<char>(file)),
                                              std::istreambuf_iterator<char>());
        LLVMFuzzerTestOneInput(input.data(), input.size()); // a breach aborts
        ++ran;
    }
    std::printf("%d passed, 0 failed\n", ran);
    return ran > 0 ? 0 : 1;
}
