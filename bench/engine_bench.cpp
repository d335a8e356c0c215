// SPDX-License-Identifier: MIT
// Keys per second through the engine, conversions included: a long mixed
// sequence of entries, chains, one-operand keys, percent and clearing.

#include "errors.h"
#include "keys.h"
#include "session.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <random>
#include <vector>

#include <unistd.h>

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

// The same keys as the window presses them: each one filed for undo, its
// values written to the tape, its caption to the key log.
void BM_MixedKeysWithUndo(benchmark::State& state) {
    const auto keys = mixedSequence(1 << 16);
    quillo::StandardSurface surface;
    quillo::Session session(surface);
    session.load();
    std::size_t i = 0;
    for (auto _ : state) {
        try {
            session.press(keys[i]);
        } catch (const quillo::EngineError&) {
        }
        i = (i + 1) & (keys.size() - 1);
    }
    state.counters["keys/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_MixedKeysWithUndo);

// Resident kilobytes of this process: the second field of /proc/self/statm.
double residentKilobytes() {
    char buf[128] = {};
    std::FILE* f = std::fopen("/proc/self/statm", "r");
    const std::size_t n = f != nullptr ? std::fread(buf, 1, sizeof buf - 1, f) : 0;
    if (f != nullptr) {
        std::fclose(f);
    }
    const char* end = buf + n;
    const char* field = std::find(static_cast<const char*>(buf), end, ' ');
    long pages = 0;
    std::from_chars(std::min(field + 1, end), end, pages);
    return static_cast<double>(pages) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1024;
}

// What the undo history, the tape and the key log hold on to: resident
// memory after a thousand and after a million keys of "1 2 +".
void BM_MemoryAfterAMillionKeys(benchmark::State& state) {
    for (auto _ : state) {
        quillo::StandardSurface surface;
        quillo::Session session(surface);
        session.load();
        double afterThousand = 0;
        for (int i = 0; i < 1'000'000; ++i) {
            session.press(i % 3 == 0 ? Key::D1 : i % 3 == 1 ? Key::D2 : Key::Plus);
            if (i == 999) {
                afterThousand = residentKilobytes();
            }
        }
        state.counters["growth_kB"] = residentKilobytes() - afterThousand;
    }
}
BENCHMARK(BM_MemoryAfterAMillionKeys)->Iterations(1)->Unit(benchmark::kMillisecond);

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

// A session of 100,000 keys, one sum of twelve-digit numbers after another,
// each correction worked out again from the number's keys: the first number
// typed (every key after it runs again) and the last (a few keys after the
// nearest checkpoint). Each correction is a step: undo takes it back. With
// `clears`, every ten numbers "=" and "C" close a sum: the replay stops
// where it meets the old keys' run again. With `follows`, every eighth
// number is the first line's result, put back following it (about 1,000 of
// them; a later line's would double the sum each time): the correction
// carries through each.
void correctIn100kKeys(benchmark::State& state, bool first, bool undo = false, bool clears = false,
                       bool follows = false) {
    quillo::StandardSurface surface;
    quillo::Session session(surface);
    session.load();
    session.press(Key::D7);
    const Key chunk[] = {Key::D1, Key::D2, Key::D3, Key::D4, Key::D5, Key::D6,
                         Key::D7, Key::D8, Key::D9, Key::D1, Key::D2, Key::Plus};
    for (int i = 1; i < 100'000; ++i) {
        if (clears && i % 120 == 0) {
            session.press(Key::Equals);
            session.press(Key::Clear);
            ++i;
            continue;
        }
        if (follows && i > 2 && (i - 2) % (8 * std::size(chunk)) == 0) {
            session.reuseLine(session.engine().tape().first());
            i += static_cast<int>(std::size(chunk)) - 2; // in place of the number's digits
            continue;
        }
        session.press(i == 1 ? Key::Plus : chunk[(i - 2) % std::size(chunk)]);
    }
    const quillo::Tape& tape = session.engine().tape();
    const std::uint64_t line = first ? tape.first() : tape.end() - 1;
    const std::size_t index = first ? 0 : 1;
    for (auto _ : state) {
        if (undo) {
            state.PauseTiming();
            session.correct(line, index, "8");
            state.ResumeTiming();
            session.undo();
        } else {
            session.correct(line, index, "8");
            state.PauseTiming();
            session.undo();
            state.ResumeTiming();
        }
    }
    state.counters["keys"] = static_cast<double>(session.log().size());
    state.counters["lines"] = static_cast<double>(tape.size());
    int followed = 0;
    session.log().eachLink(session.log().begin(), [&](auto, auto, const auto&) { ++followed; });
    state.counters["followed"] = followed;
}
void BM_CorrectFirstOf100kKeys(benchmark::State& state) {
    correctIn100kKeys(state, true);
}
BENCHMARK(BM_CorrectFirstOf100kKeys)->Unit(benchmark::kMillisecond);
void BM_CorrectLastOf100kKeys(benchmark::State& state) {
    correctIn100kKeys(state, false);
}
BENCHMARK(BM_CorrectLastOf100kKeys)->Unit(benchmark::kMicrosecond);
void BM_CorrectFirstOf100kKeysInSums(benchmark::State& state) {
    correctIn100kKeys(state, true, false, true);
}
BENCHMARK(BM_CorrectFirstOf100kKeysInSums)->Unit(benchmark::kMillisecond);
void BM_UndoCorrectionOfFirstOf100kKeys(benchmark::State& state) {
    correctIn100kKeys(state, true, true);
}
BENCHMARK(BM_UndoCorrectionOfFirstOf100kKeys)->Unit(benchmark::kMillisecond);
void BM_CorrectFirstOf100kKeysWithFollowedReuses(benchmark::State& state) {
    correctIn100kKeys(state, true, false, false, true);
}
BENCHMARK(BM_CorrectFirstOf100kKeysWithFollowedReuses)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
