// SPDX-License-Identifier: MIT
// The kept tape, on real files in a temporary folder: the time from a line
// handed over to its commit (median and 99th percentile as counters), the
// window's time per key with the keeping on and off, and opening the tape
// with 10,000 kept lines.

#include "keptape.h"
#include "keys.h"
#include "session.h"
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
using Clock = std::chrono::steady_clock;

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

void percentiles(benchmark::State& state, std::vector<double>& times) {
    std::sort(times.begin(), times.end());
    state.counters["median_us"] = times[times.size() / 2];
    state.counters["p99_us"] = times[times.size() * 99 / 100];
}

// A line handed over, then waited for until the store's thread committed it.
void BM_KeyToCommit(benchmark::State& state) {
    Folder folder;
    TapeStore store(folder.path(), "2026-12-07 14:30", {});
    std::uint64_t n = 0;
    store.add({{n++, std::string(kLine)}});
    store.settle();
    std::vector<double> times;
    for (auto _ : state) {
        const auto start = Clock::now();
        store.add({{n++, std::string(kLine)}});
        store.settle();
        times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    percentiles(state, times);
}
BENCHMARK(BM_KeyToCommit)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

// A key as the window runs it, `1 + ` over and over (a line every second
// key), with the kept tape following the session or not there at all.
void BM_WindowKey(benchmark::State& state) {
    Folder folder;
    quillo::StandardSurface surface;
    quillo::Session session(surface);
    session.load();
    std::unique_ptr<KeptTape> kept;
    if (state.range(0) != 0) {
        kept = std::make_unique<KeptTape>(session, folder.path(), kStart, true);
    }
    std::vector<double> times;
    std::size_t i = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        session.press(i++ % 2 == 0 ? quillo::Key::D1 : quillo::Key::Plus);
        times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    percentiles(state, times);
    state.SetLabel(state.range(0) != 0 ? "keeping on" : "keeping off");
}
BENCHMARK(BM_WindowKey)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->Iterations(20'000);

// A new start opening the tape: the database opened and checked, 10,000
// lines read, on the store's thread, until the answer is there.
void BM_OpenTenThousand(benchmark::State& state) {
    Folder folder;
    {
        TapeStore run(folder.path(), "2026-12-07 14:30", {});
        std::vector<TapeStore::Line> lines;
        for (std::uint64_t n = 0; n < TapeStore::kLines; ++n) {
            lines.push_back({n, std::string(kLine)});
        }
        run.add(std::move(lines));
    }
    std::size_t read = 0;
    for (auto _ : state) {
        TapeStore reader(folder.path(), "2026-12-07 14:31",
                         {[&](quillo::Earlier e) { read = e.lines.size(); }, {}, {}});
        reader.readEarlier();
        reader.settle();
    }
    state.counters["lines"] = static_cast<double>(read);
}
BENCHMARK(BM_OpenTenThousand)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
