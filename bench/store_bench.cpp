// SPDX-License-Identifier: MIT
// The kept tape's SQLite store: the cost of keeping one line (median and
// 99th percentile as counters) and of reading 10,000 kept lines, on real
// files in a temporary folder.

#include "tapestore.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <vector>

#include <stdlib.h>

namespace {

namespace fs = std::filesystem;
using quillo::TapeStore;

constexpr std::time_t kStart = 1'796'653'800;
constexpr std::string_view kLine = "123456.78 + 9876.5 = 133333.28";

struct Folder {
    fs::path root;
    Folder() {
        std::string name = (fs::temp_directory_path() / "store-bench-XXXXXX").string();
        root = ::mkdtemp(name.data());
    }
    ~Folder() { fs::remove_all(root); }
    std::string path() const { return (root / "quillo").string(); }
};

void add(TapeStore& store, std::uint64_t n) {
    const TapeStore::Line line{n, kLine};
    store.add(std::span(&line, 1));
}

// As the window uses it: a flush() now and then off the key path, which is
// not timed.
void BM_KeepLine(benchmark::State& state) {
    Folder folder;
    TapeStore store(folder.path(), kStart);
    std::uint64_t n = 0;
    add(store, n++);
    std::vector<double> times;
    times.reserve(1u << 20);
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        add(store, n++);
        times.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                .count());
        if (n % 256 == 0) {
            state.PauseTiming();
            store.flush();
            state.ResumeTiming();
        }
    }
    std::sort(times.begin(), times.end());
    state.counters["median_us"] = times[times.size() / 2];
    state.counters["p99_us"] = times[times.size() * 99 / 100];
}
BENCHMARK(BM_KeepLine)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

void BM_ReadTenThousand(benchmark::State& state) {
    Folder folder;
    {
        TapeStore run(folder.path(), kStart);
        std::vector<TapeStore::Line> lines;
        for (std::uint64_t n = 0; n < TapeStore::kLines; ++n) {
            lines.push_back({n, kLine});
        }
        run.add(lines);
    }
    for (auto _ : state) {
        TapeStore reader(folder.path(), kStart + 1);
        benchmark::DoNotOptimize(reader.readEarlier().lines.size());
    }
}
BENCHMARK(BM_ReadTenThousand)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
