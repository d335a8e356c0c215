// SPDX-License-Identifier: MIT
#pragma once

#include "errors.h"
#include "keys.h"

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace quillo::test {

// A calculator on the standard captions, driven by key captions.
struct Calc {
    StandardSurface surface;
    Engine engine{surface};

    Calc() { engine.Form_Load(); }

    struct Outcome {
        std::string display;
        bool warning = false;
        std::optional<ErrorKind> error;
    };

    Outcome press(std::string_view captionText) {
        const auto key = keyFromCaption(captionText);
        if (!key) {
            throw std::invalid_argument(std::string(captionText));
        }
        Outcome out;
        try {
            quillo::press(engine, *key);
        } catch (const EngineError& e) {
            out.error = e.kind();
        }
        out.display = surface.display();
        out.warning = surface.takeWarnings() > 0;
        return out;
    }

    // Presses keys given as captions separated by single spaces.
    void keys(std::string_view list) {
        while (!list.empty()) {
            const auto end = list.find(' ');
            press(list.substr(0, end));
            list = end == std::string_view::npos ? std::string_view{} : list.substr(end + 1);
        }
    }

    const State& state() const { return engine.state(); }
};

} // namespace quillo::test
