// SPDX-License-Identifier: MIT
#include "signals.h"

#include <QObject>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace quillo {
namespace {

int wakeUp = -1; // the pipe's write end

extern "C" void onSignal(int) {
    const int saved = errno;
    const char byte = 1;
    // Full: a wake-up is already on its way.
    [[maybe_unused]] const ssize_t n = ::write(wakeUp, &byte, 1);
    errno = saved;
}

} // namespace

bool quitOnSignals(QObject& owner, std::function<void()> quit) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        return false;
    }
    wakeUp = fds[1];
    auto* notifier = new QSocketNotifier(fds[0], QSocketNotifier::Read, &owner);
    QObject::connect(notifier, &QSocketNotifier::activated, &owner,
                     [notifier, fd = fds[0], quit = std::move(quit)] {
                         char bytes[16];
                         while (::read(fd, bytes, sizeof bytes) > 0) {
                         }
                         notifier->setEnabled(false); // once is enough
                         quit();
                     });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGHUP, &action, nullptr);
    return true;
}

} // namespace quillo
