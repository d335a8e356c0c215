// SPDX-License-Identifier: MIT
#include "calculator.h"
#include "dispatch.h"
#include "nodisplay.h"
#include "signals.h"
#include "tapedocuments.h"
#include "version.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>

namespace {

// Qt's own options (QGuiApplication, QApplication, the xcb platform). They are
// known here only so that the check below lets them through to QApplication.
constexpr const char* kQtValueOptions[] = {"platform",
                                           "platformpluginpath",
                                           "platformtheme",
                                           "plugin",
                                           "qwindowgeometry",
                                           "geometry",
                                           "qwindowicon",
                                           "icon",
                                           "qwindowtitle",
                                           "title",
                                           "session",
                                           "style",
                                           "stylesheet",
                                           "display",
                                           "name",
                                           "visual",
                                           "qmljsdebugger"};
constexpr const char* kQtFlagOptions[] = {"reverse", "testability", "widgetcount", "qdevel",
                                          "qdebug",  "nograb",      "dograb"};

QString fromView(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// False when the text could not be written out (a full disk, say).
bool print(std::FILE* f, const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), f);
    return std::fflush(f) == 0 && !std::ferror(f);
}

// Reads the command line before QApplication exists, so that --help, --version
// and a mistyped option need no display. Returns the exit status, or -1 to
// start, with the saved tape to open in `tape` ("" for none).
int checkArguments(int argc, char** argv, QString& tape) {
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(
        QStringLiteral("A small desktop calculator that works left to right, like a pocket "
                       "calculator.\nQt's own options (-platform, -style, ...) are accepted too."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the version and exit."));
    parser.addOption(help);
    parser.addOption(version);
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QStringLiteral("A saved tape (.quillo) to open as a new run."),
                                 QStringLiteral("[FILE]"));
    for (const char* name : kQtValueOptions) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char* name : kQtFlagOptions) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }

    QStringList arguments;
    arguments.reserve(argc);
    for (int i = 0; i < argc; ++i) {
        arguments.append(QString::fromLocal8Bit(argv[i]));
    }
    QString error;
    if (!parser.parse(arguments)) {
        error = parser.errorText();
    } else if (parser.positionalArguments().size() > 1) {
        error = QStringLiteral("Unexpected argument '%1'.").arg(parser.positionalArguments()[1]);
    } else if (!parser.isSet(help) && !parser.isSet(version)) {
        tape = parser.positionalArguments().value(0);
        return -1;
    }

    // No window follows; the core application only names the program in the help.
    QCoreApplication core(argc, argv);
    if (!error.isEmpty()) {
        print(stderr, QStringLiteral("quillo: %1\n").arg(error));
        print(stderr, parser.helpText());
        return 2;
    }
    const QString text = parser.isSet(help)
                             ? parser.helpText()
                             : QStringLiteral("quillo %1\n").arg(fromView(quillo::kVersionText));
    if (!print(stdout, text)) {
        print(stderr, QStringLiteral("quillo: cannot write the output\n"));
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    // Started from a launcher there are no arguments, and nothing to check.
    QString tape;
    if (argc > 1) {
        if (const int status = checkArguments(argc, argv, tape); status >= 0) {
            return status;
        }
    }

    quillo::NoDisplayGuard noDisplay;
    QApplication app(argc, argv);
    noDisplay.end();
    // The application name is X11's window class (WM_CLASS) and the desktop file
    // name the Wayland app id: both are the id the desktop entry is named by.
    QApplication::setApplicationName(fromView(quillo::kAppId));
    QApplication::setApplicationVersion(fromView(quillo::kVersionText));
    QGuiApplication::setDesktopFileName(fromView(quillo::kAppId));

    Calculator window(&quillo::dispatch, fromView(quillo::kAppTitle));
    // Ended by the session: as the close box ends it, with no exit question;
    // the kept tape is synced and the settings written on the way out.
    quillo::quitOnSignals(window, [&window] {
        window.close();
        QCoreApplication::quit();
    });
    window.show();
    if (!tape.isEmpty()) {
        window.documents().open(tape);
    }
    return app.exec();
}
