// SPDX-License-Identifier: MIT
#include "nodisplay.h"

#include <QString>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace quillo {
namespace {

struct HeldMessage {
    QtMsgType type;
    std::optional<std::string> file;
    std::optional<std::string> function;
    std::optional<std::string> category;
    int line;
    QString text;
};

// A message handler is a plain function: what it holds lives here, and only
// while a guard is on.
std::mutex heldMutex;
std::vector<HeldMessage> held;
QtMessageHandler previous = nullptr;

std::optional<std::string> copy(const char* text) {
    return text != nullptr ? std::optional<std::string>(text) : std::nullopt;
}

const char* pointer(const std::optional<std::string>& text) {
    return text ? text->c_str() : nullptr;
}

const char* variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : nullptr;
}

// What could not be reached, for each platform plugin that Qt's held
// messages say it tried ("Could not load the Qt platform plugin "xcb" in ""
// even though it was found", "Could not find the Qt platform plugin ...").
std::string unreached(const QString& fatal) {
    const char* x11 = variable("DISPLAY");
    const char* wayland = variable("WAYLAND_DISPLAY");
    std::string parts;
    bool displays = true; // every plugin tried is one for a display
    for (const HeldMessage& message : held) {
        const QString mark = QStringLiteral("platform plugin \"");
        const qsizetype at = message.text.indexOf(mark);
        if (at < 0) {
            continue;
        }
        const qsizetype start = at + mark.size();
        const QString plugin = message.text.mid(start, message.text.indexOf(u'"', start) - start);
        std::string part;
        if (!message.text.contains(QStringLiteral("even though it was found"))) {
            part = "platform plugin \"" + plugin.toStdString() + "\" is missing";
            displays = false;
        } else if (plugin.startsWith(QStringLiteral("xcb"))) {
            part = x11 ? "X11 display \"" + std::string(x11) + "\" refused the connection"
                       : "DISPLAY is unset";
        } else if (plugin.startsWith(QStringLiteral("wayland"))) {
            part = wayland
                       ? "Wayland display \"" + std::string(wayland) + "\" refused the connection"
                       : "WAYLAND_DISPLAY is unset";
        } else {
            part = "platform plugin \"" + plugin.toStdString() + "\" could not start";
            displays = false;
        }
        if (parts.find(part) == std::string::npos) {
            parts += parts.empty() ? "" : ", ";
            parts += part;
        }
    }
    if (displays && !x11 && !wayland) {
        return "no display could be reached (DISPLAY and WAYLAND_DISPLAY are unset)";
    }
    if (parts.empty()) {
        return fatal.section(u'\n', 0, 0).toStdString(); // Qt's own words, then
    }
    return "no display could be reached (" + parts + ")";
}

void hold(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    const std::lock_guard lock(heldMutex);
    if (type == QtFatalMsg) {
        const std::string line = "quillo: " + unreached(text) + "\n";
        std::fputs(line.c_str(), stderr);
        std::fflush(stderr);
        std::_Exit(1); // rather than Qt's abort()
    }
    held.push_back({type, copy(context.file), copy(context.function), copy(context.category),
                    context.line, text});
}

} // namespace

NoDisplayGuard::NoDisplayGuard() {
    previous = qInstallMessageHandler(hold);
}

void NoDisplayGuard::end() {
    if (!on_) {
        return;
    }
    on_ = false;
    qInstallMessageHandler(previous);
    std::vector<HeldMessage> messages;
    {
        const std::lock_guard lock(heldMutex);
        messages.swap(held);
    }
    for (const HeldMessage& m : messages) {
        const QMessageLogContext context(pointer(m.file), m.line, pointer(m.function),
                                         pointer(m.category));
        previous(m.type, context, m.text);
    }
}

} // namespace quillo
