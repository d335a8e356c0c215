// SPDX-License-Identifier: MIT
// Keys per second through the engine, conversions included: a long mixed
// sequence of entries, chains, one-operand keys, percent and clearing.

#include "errors.h"
#include "keys.h"

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

namespace {

using quillo::Key;

std::vector<Key> mixedSequence(std::size_t n) {
    std::mt19937 rng(7);
    std::discrete_distribution<int> pick({3,   3,   3,   3,   3,   3,  3, 3, 3, 3, // digits
                                          1,   1,   1,   1,   1,   1,  1, // . and operators
                                          0.5, 0.5, 0.5, 0.5, 0.3, 0.3});
    std::vector<Key> keys;
    keys.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        keys.push_back(static_cast<Key>(pick(rng)));
    }
    return keys;
}

void BM_MixedKeys(benchmark::State& state) {
    const auto keys = mixedSequence(1 << 16);
    quillo::StandardSurface surface;
    quillo::Engine engine(surface);
    engine.Form_Load();
    std::size_t i = 0;
    std::int64_t errors = 0;
    for (auto _ : state) {
        try {
            quillo::press(engine, keys[i]);
        } catch (const quillo::EngineError&) {
            ++errors;
        }
        i = (i + 1) & (keys.size() - 1);
    }
    benchmark::DoNotOptimize(surface.display());
    state.SetItemsProcessed(state.iterations());
    state.counters["keys/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["errors"] = static_cast<double>(errors);
}
BENCHMARK(BM_MixedKeys);

// A sum typed and evaluated: the common case.
void BM_TypedSum(benchmark::State& state) {
    const Key sum[] = {Key::D1, Key::D2, Key::Decimal, Key::D5,   Key::Plus,
                       Key::D3, Key::D4, Key::Equals,  Key::Clear};
    quillo::StandardSurface surface;
    quillo::Engine engine(surface);
    engine.Form_Load();
    for (auto _ : state) {
        for (Key k : sum) {
            quillo::press(engine, k);
        }
    }
    state.counters["keys/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * 9,
                                                  benchmark::Counter::kIsRate);
}
BENCHMARK(BM_TypedSum);

} // namespace

BENCHMARK_MAIN();
