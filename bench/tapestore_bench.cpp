// SPDX-License-Identifier: MIT
// The kept tape: opening it with 10,000 kept lines, and the cost of keeping
// a line, on real files in a temporary folder.

#include "tapestore.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>

#include <stdlib.h>

namespace {

namespace fs = std::filesystem;
using quillo::TapeStore;

constexpr std::time_t kStart = 1'796'653'800;
constexpr std::string_view kLine = "123456.78 + 9876.5 = 133333.28";

struct Folder {
    fs::path root;
    Folder() {
        std::string name = (fs::temp_directory_path() / "tapestore-bench-XXXXXX").string();
        root = ::mkdtemp(name.data());
    }
    ~Folder() { fs::remove_all(root); }
    std::string path() const { return (root / "quillo").string(); }
};

// An ended run of 10,000 lines, folded into the kept file as the first
// opening of the tape leaves it.
void keepTenThousand(const Folder& folder) {
    {
        TapeStore run(folder.path(), kStart);
        for (std::uint64_t n = 0; n < TapeStore::kLines; ++n) {
            run.add(n, kLine);
        }
    }
    TapeStore(folder.path(), kStart + 1).readEarlier();
}

void BM_OpenTape(benchmark::State& state) {
    Folder folder;
    keepTenThousand(folder);
    for (auto _ : state) {
        TapeStore reader(folder.path(), kStart + 2);
        benchmark::DoNotOptimize(reader.readEarlier().lines.size());
    }
}
BENCHMARK(BM_OpenTape)->Unit(benchmark::kMillisecond);

// The first opening in a run after another one ended: its journal is folded
// in first (written, synced and renamed).
void BM_OpenTapeFoldingARun(benchmark::State& state) {
    Folder folder;
    keepTenThousand(folder);
    std::time_t started = kStart + 2;
    for (auto _ : state) {
        state.PauseTiming();
        TapeStore(folder.path(), started++).add(0, kLine);
        state.ResumeTiming();
        TapeStore reader(folder.path(), started++);
        benchmark::DoNotOptimize(reader.readEarlier().lines.size());
    }
}
BENCHMARK(BM_OpenTapeFoldingARun)->Unit(benchmark::kMillisecond);

void BM_KeepLine(benchmark::State& state) {
    Folder folder;
    TapeStore store(folder.path(), kStart);
    std::uint64_t n = 0;
    store.add(n++, kLine);
    for (auto _ : state) {
        store.add(n++, kLine);
    }
}
BENCHMARK(BM_KeepLine)->Unit(benchmark::kMicrosecond);

// A run's first line makes its journal. The run before it ended normally
// and folded the journals of those before it.
void BM_KeepFirstLine(benchmark::State& state) {
    Folder folder;
    keepTenThousand(folder);
    std::time_t started = kStart + 2;
    auto run = std::make_unique<TapeStore>(folder.path(), started++);
    run->add(0, kLine);
    for (auto _ : state) {
        state.PauseTiming();
        run->sync();
        run = std::make_unique<TapeStore>(folder.path(), started++);
        state.ResumeTiming();
        run->add(0, kLine);
    }
}
BENCHMARK(BM_KeepFirstLine)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
