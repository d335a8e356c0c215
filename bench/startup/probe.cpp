// SPDX-License-Identifier: MIT
// Start-up probe: runs one program on the X display in DISPLAY and prints, on
// one line, the milliseconds from its exec to the first map of its top-level
// window and to the first paint of that window, its PSS a while after the
// paint, and the CPU time it used in all (mostly before the paint: it is idle
// afterwards). Exit status 0 when all were measured.
//
//   quillo-startup-probe [--settle-ms N] [--timeout-ms N] [--label NAME] -- PROGRAM [ARGS...]
//
// Output: "probe label=NAME map_ms=12.34 paint_ms=56.78 cpu_ms=40.12 pss_kb=1234
// rss_kb=2345 status=ok" on one line,
// or, on failure, "probe label=NAME status=REASON" and exit status 1.
//
// The X server must be private to the measurement: any top-level window mapped
// on it is taken for the program's.

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xdamage.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

// The signal that asked us to stop, 0 if none.
volatile std::sig_atomic_t interrupted = 0;
void onSignal(int signo) {
    interrupted = signo;
}

// Dies of the same signal once the program is ended, so that a calling shell
// sees the interruption and stops too instead of going on to the next run.
[[noreturn]] void dieOfSignal() {
    const int signo = interrupted;
    std::signal(signo, SIG_DFL);
    std::raise(signo);
    std::_Exit(128 + signo);
}

// Windows may vanish between an event and our request about them; such errors
// only mean "not that window".
int ignoreXError(Display*, XErrorEvent*) {
    return 0;
}

double nowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

struct Options {
    int settleMs = 1000;
    int timeoutMs = 20000;
    std::string label;
    std::vector<char*> argv;
};

[[noreturn]] void usage(const char* why) {
    std::fprintf(stderr,
                 "quillo-startup-probe: %s\n"
                 "usage: quillo-startup-probe [--settle-ms N] [--timeout-ms N] [--label NAME]"
                 " -- PROGRAM [ARGS...]\n",
                 why);
    std::exit(2);
}

Options parse(int argc, char** argv) {
    Options o;
    int i = 1;
    auto number = [&](const char* name) {
        if (i + 1 >= argc) {
            usage(name);
        }
        char* end = nullptr;
        long v = std::strtol(argv[++i], &end, 10);
        if (*end != '\0' || v < 0 || v > 600000) {
            usage(name);
        }
        return static_cast<int>(v);
    };
    for (; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--") {
            ++i;
            break;
        } else if (a == "--settle-ms") {
            o.settleMs = number("--settle-ms needs milliseconds");
        } else if (a == "--timeout-ms") {
            o.timeoutMs = number("--timeout-ms needs milliseconds");
        } else if (a == "--label" && i + 1 < argc) {
            o.label = argv[++i];
        } else {
            usage(("unknown option " + a).c_str());
        }
    }
    if (i >= argc) {
        usage("no program given");
    }
    for (; i < argc; ++i) {
        o.argv.push_back(argv[i]);
    }
    o.argv.push_back(nullptr);
    if (o.label.empty()) {
        const char* slash = std::strrchr(o.argv[0], '/');
        o.label = slash ? slash + 1 : o.argv[0];
    }
    return o;
}

// The window counts as painted once it is no longer one colour: before the
// program draws, it shows only the server's fill.
bool isOneColour(Display* dpy, Window w) {
    XWindowAttributes attrs{};
    if (!XGetWindowAttributes(dpy, w, &attrs) || attrs.map_state != IsViewable) {
        return true;
    }
    XImage* img = XGetImage(dpy, w, 0, 0, static_cast<unsigned>(attrs.width),
                            static_cast<unsigned>(attrs.height), AllPlanes, ZPixmap);
    if (!img) {
        return true;
    }
    bool same = true;
    const unsigned long first = XGetPixel(img, 0, 0);
    if (img->bits_per_pixel == 32) {
        // Direct reads: XGetPixel per pixel would add a millisecond to every check.
        const auto mask =
            static_cast<std::uint32_t>(img->red_mask | img->green_mask | img->blue_mask);
        const auto ref = static_cast<std::uint32_t>(first) & mask;
        for (int y = 0; y < img->height && same; ++y) {
            const char* row = img->data + static_cast<std::ptrdiff_t>(y) * img->bytes_per_line;
            for (int x = 0; x < img->width; ++x) {
                std::uint32_t px;
                std::memcpy(&px, row + static_cast<std::ptrdiff_t>(x) * 4, 4);
                if ((px & mask) != ref) {
                    same = false;
                    break;
                }
            }
        }
    } else {
        for (int y = 0; y < img->height && same; ++y) {
            for (int x = 0; x < img->width; ++x) {
                if (XGetPixel(img, x, y) != first) {
                    same = false;
                    break;
                }
            }
        }
    }
    XDestroyImage(img);
    return same;
}

struct Memory {
    long pss = -1;
    long rss = -1;
};

// The whole process's memory, in kB; pss stays -1 where unreadable.
Memory memoryKb(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/smaps_rollup");
    Memory m;
    std::string line;
    auto value = [&](const char* key) {
        const std::size_t n = std::strlen(key);
        return line.compare(0, n, key) == 0 ? std::strtol(line.c_str() + n, nullptr, 10) : -1;
    };
    // "Pss:    1234 kB"; the first line is the address range.
    while (std::getline(in, line)) {
        if (long v = value("Pss:"); v >= 0) {
            m.pss = v;
        } else if (long v = value("Rss:"); v >= 0) {
            m.rss = v;
        }
    }
    return m;
}

struct Child {
    pid_t pid = -1;
    bool reaped = false;
    rusage usage{};

    // Also asks the program's helpers, if any, to leave: it runs as its own group.
    // SIGINT, which neither program handles: quillo answers SIGTERM with its
    // whole exit path, which is no part of its start.
    void stop() {
        if (pid <= 0 || reaped) {
            return;
        }
        kill(-pid, SIGINT);
        for (int i = 0; i < 200 && !reap(WNOHANG); ++i) {
            usleep(10000);
        }
        kill(-pid, SIGKILL);
        if (!reaped) {
            reap(0);
        }
    }

    bool exited() { return reaped || reap(WNOHANG); }

    // User and system time of the whole life; exact, unlike wall-clock times,
    // which the machine's other work disturbs.
    double cpuMs() const {
        auto ms = [](const timeval& tv) {
            return static_cast<double>(tv.tv_sec) * 1e3 + static_cast<double>(tv.tv_usec) / 1e3;
        };
        return ms(usage.ru_utime) + ms(usage.ru_stime);
    }

private:
    bool reap(int flags) {
        if (wait4(pid, nullptr, flags, &usage) == pid) {
            reaped = true;
        }
        return reaped;
    }
};

// Starts the program and returns the time of its exec, taken in the child just
// before execve and passed back through a close-on-exec pipe, which also tells
// whether the exec worked.
bool launch(const Options& o, Child& child, double& execMs, std::string& error) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        error = "pipe";
        return false;
    }
    const pid_t pid = fork();
    if (pid < 0) {
        error = "fork";
        return false;
    }
    if (pid == 0) {
        // Out of the terminal's group: Ctrl-C reaches the probe, which ends the program.
        setpgid(0, 0);
        // Its standard output would mix with the probe's result line.
        dup2(STDERR_FILENO, STDOUT_FILENO);
        signal(SIGINT, SIG_DFL);
        signal(SIGTERM, SIG_DFL);
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        (void)!write(fds[1], &ts, sizeof ts);
        execve(o.argv[0], o.argv.data(), environ);
        const int e = errno;
        (void)!write(fds[1], &e, sizeof e);
        _exit(127);
    }
    child.pid = pid;
    setpgid(pid, pid); // also here, so a kill of the group cannot come too early
    close(fds[1]);
    timespec ts{};
    bool ok = read(fds[0], &ts, sizeof ts) == static_cast<ssize_t>(sizeof ts);
    int e = 0;
    if (ok && read(fds[0], &e, sizeof e) == static_cast<ssize_t>(sizeof e)) {
        error = std::string("exec: ") + std::strerror(e);
        ok = false;
    }
    close(fds[0]);
    execMs = static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
    if (!ok && error.empty()) {
        error = "exec";
    }
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    const Options opt = parse(argc, argv);
    auto fail = [&](const std::string& why) {
        std::printf("probe label=%s status=%s\n", opt.label.c_str(), why.c_str());
        std::fflush(stdout);
        return 1;
    };

    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);

    Display* dpy = XOpenDisplay(nullptr);
    if (!dpy) {
        return fail("no-display");
    }
    XSetErrorHandler(ignoreXError);
    int damageEvent = 0;
    int damageError = 0;
    if (!XDamageQueryExtension(dpy, &damageEvent, &damageError)) {
        return fail("no-damage-extension");
    }
    const Window root = DefaultRootWindow(dpy);
    // Selected before the program starts, so no map of its can be missed.
    XSelectInput(dpy, root, SubstructureNotifyMask);
    XSync(dpy, False);

    Child child;
    double execMs = 0;
    std::string error;
    if (!launch(opt, child, execMs, error)) {
        child.stop();
        return fail(error);
    }

    // Damage is watched from creation on, so a paint that comes right after
    // the map is not lost while we react to the map.
    std::map<Window, Damage> damages;
    Window top = None;
    double mapMs = -1;
    double paintMs = -1;
    const int fd = ConnectionNumber(dpy);
    const double deadline = nowMs() + opt.timeoutMs;

    while (paintMs < 0) {
        if (interrupted) {
            child.stop();
            fail("interrupted");
            dieOfSignal();
        }
        if (child.exited()) {
            return fail(mapMs < 0 ? "exited-before-map" : "exited-before-paint");
        }
        if (nowMs() > deadline) {
            child.stop();
            return fail(mapMs < 0 ? "timeout-before-map" : "timeout-before-paint");
        }
        if (XPending(dpy) == 0) {
            pollfd p{fd, POLLIN, 0};
            poll(&p, 1, 20);
            continue;
        }
        XEvent ev;
        XNextEvent(dpy, &ev);
        const double t = nowMs();
        if (ev.type == CreateNotify) {
            const XCreateWindowEvent& c = ev.xcreatewindow;
            if (!c.override_redirect && c.parent == root) {
                damages[c.window] = XDamageCreate(dpy, c.window, XDamageReportNonEmpty);
            }
        } else if (ev.type == DestroyNotify) {
            damages.erase(ev.xdestroywindow.window);
        } else if (ev.type == MapNotify && top == None) {
            const XMapEvent& m = ev.xmap;
            if (!m.override_redirect && m.event == root) {
                top = m.window;
                mapMs = t - execMs;
                if (!damages.count(top)) {
                    damages[top] = XDamageCreate(dpy, top, XDamageReportNonEmpty);
                }
                if (!isOneColour(dpy, top)) {
                    paintMs = nowMs() - execMs;
                }
            }
        } else if (ev.type == damageEvent + XDamageNotify) {
            const auto& d = reinterpret_cast<const XDamageNotifyEvent&>(ev);
            XDamageSubtract(dpy, d.damage, None, None);
            if (top != None && d.drawable == top && !isOneColour(dpy, top)) {
                paintMs = t - execMs;
            }
        }
    }

    // The settle time counts from the paint, not from our reaction to it.
    const double settleUntil = execMs + paintMs + opt.settleMs;
    while (nowMs() < settleUntil) {
        if (interrupted) {
            child.stop();
            fail("interrupted");
            dieOfSignal();
        }
        if (child.exited()) {
            return fail("exited-before-settle");
        }
        while (XPending(dpy) > 0) {
            XEvent ev;
            XNextEvent(dpy, &ev);
        }
        const double left = settleUntil - nowMs();
        if (left > 0) {
            usleep(static_cast<useconds_t>(std::min(left, 10.0) * 1000));
        }
    }
    const Memory mem = memoryKb(child.pid);
    child.stop();
    XCloseDisplay(dpy);
    if (mem.pss < 0) {
        return fail("no-pss");
    }
    std::printf("probe label=%s map_ms=%.2f paint_ms=%.2f cpu_ms=%.2f pss_kb=%ld rss_kb=%ld "
                "status=ok\n",
                opt.label.c_str(), mapMs, paintMs, child.cpuMs(), mem.pss, mem.rss);
    return 0;
}
