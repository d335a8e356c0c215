// SPDX-License-Identifier: MIT
// Engine fuzzer: each input byte is one key (byte % kKeyCount), or from
// kUndo on an undo or a redo, on a calculator started as the window starts
// it. After every key the calculator must still be sound, and an undo must
// give back exactly what was there before the step; a breach aborts with a
// message so that libFuzzer keeps the input that led to it.

#include "errors.h"
#include "invariants.h"
#include "keys.h"
#include "session.h"

#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace {

using quillo::Variant;

[[noreturn]] void breach(std::size_t index, quillo::Key key, const std::string& what) {
    char number[24];
    const auto end = std::to_chars(number, number + sizeof number, index).ptr;
    const std::string message = "engine_fuzz: key " + std::string(number, end) + " '" +
                                std::string(quillo::caption(key)) + "': " + what + "\n";
    std::fputs(message.c_str(), stderr);
    std::abort();
}

bool finite(const Variant& v) {
    return v.kind() != Variant::Kind::Double || std::isfinite(v.asDouble());
}

// Bytes from here on undo, and from kRedo on redo; below, they are keys.
constexpr std::uint8_t kUndo = 230;
constexpr std::uint8_t kRedo = 243;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    quillo::StandardSurface surface;
    quillo::Session session(surface);
    const quillo::Engine& engine = session.engine();
    session.load();
    // What was there before each step that can still be undone.
    std::vector<std::pair<quillo::State, std::string>> steps;
    for (std::size_t i = 0; i < size; ++i) {
        const auto key = static_cast<quillo::Key>(data[i] % quillo::kKeyCount);
        if (data[i] >= kUndo) {
            if (data[i] < kRedo && session.canUndo()) {
                session.undo();
                if (steps.empty() || !(engine.state() == steps.back().first) ||
                    surface.display() != steps.back().second) {
                    breach(i, key, "an undo did not give back what was there before the step");
                }
                steps.pop_back();
            } else if (data[i] >= kRedo && session.canRedo()) {
                steps.emplace_back(engine.state(), surface.display());
                session.redo();
            }
            continue;
        }
        const quillo::State before = engine.state();
        const std::string displayBefore = surface.display();
        bool raised = false;
        try {
            session.press(key);
            steps.emplace_back(before, displayBefore);
        } catch (const quillo::EngineError&) {
            raised = true;
        }
        surface.takeWarnings();

        const quillo::State& s = engine.state();
        if (raised && !(s == before)) {
            breach(i, key, "a key that raised an error changed the fields");
        }
        if (raised && surface.display() != displayBefore) {
            breach(i, key,
                   "a key that raised an error changed the display from '" + displayBefore +
                       "' to '" + surface.display() + "'");
        }
        if (!finite(s.FirstNumber) || !finite(s.SecondNumber) || !finite(s.EntryState) ||
            !finite(s.PendingOperator) || !finite(s.DisplayValue)) {
            breach(i, key, "a field holds a number that is not finite: " + quillo::describe(s));
        }
        if (s.OperandCount < 0) {
            breach(i, key, "negative OperandCount: " + quillo::describe(s));
        }
        const std::string problem = quillo::test::violation(s, surface.display());
        if (!problem.empty()) {
            breach(i, key, problem + "; " + quillo::describe(s));
        }
    }
    return 0;
}
