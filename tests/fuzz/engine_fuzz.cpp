// SPDX-License-Identifier: MIT
// Engine fuzzer: each input byte is one key (byte % kKeyCount), pressed on a
// calculator started as the window starts it. After every key the calculator
// must still be sound; a breach aborts with a message so that libFuzzer keeps
// the input that led to it.

#include "errors.h"
#include "invariants.h"
#include "keys.h"

#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    quillo::StandardSurface surface;
    quillo::Engine engine(surface);
    engine.Form_Load();
    for (std::size_t i = 0; i < size; ++i) {
        const auto key = static_cast<quillo::Key>(data[i] % quillo::kKeyCount);
        const quillo::State before = engine.state();
        const std::string displayBefore = surface.display();
        bool raised = false;
        try {
            quillo::press(engine, key);
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
