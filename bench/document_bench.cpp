// SPDX-License-Identifier: MIT
// A saved tape of 100,000 keys opened and saved in the real window,
// offscreen, with the tape window open and the tape kept between runs (in a
// folder of its own). Opening is timed from the call until the next key
// typed is handled with the new run's lines listed: the read, the parse and
// the replay on the file's thread, then the session, the list and the kept
// tape taking it. Saving from the call until the file is renamed in place.

#include "calculator.h"
#include "dispatch.h"
#include "document.h"
#include "keys.h"
#include "session.h"
#include "tapedocuments.h"
#include "tapewindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QListView>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kRounds = 5;

// 5,000 lines of 20 keys, every tenth with a note, the first numbers corrected.
std::string savedTape() {
    quillo::StandardSurface surface;
    quillo::Session session(surface);
    session.load();
    const std::string lines[] = {"+123456789012345678=", "-123456789012345670="};
    for (int line = 0; line < 5'000; ++line) {
        for (const char c : lines[line % 2]) {
            session.press(*quillo::keyFromCaption(std::string_view(&c, 1)));
        }
        const quillo::Tape& tape = session.engine().tape();
        if (line % 10 == 1) {
            session.setNote(tape.end() - 1, "line " + std::to_string(line));
        }
    }
    session.correct(0, 1, "5");
    session.correct(2, 1, "77");
    return quillo::writeDocument(session.document("A long tape"));
}

// Milliseconds until a key posted now reaches `window`.
double untilNextKey(QWidget& window, const QElapsedTimer& since) {
    struct Filter : QObject {
        bool seen = false;
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(e)->key() == Qt::Key_F24) {
                seen = true;
                return true;
            }
            return false;
        }
    } filter;
    window.installEventFilter(&filter);
    QCoreApplication::postEvent(&window, new QKeyEvent(QEvent::KeyPress, Qt::Key_F24, {}));
    while (!filter.seen) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    window.removeEventFilter(&filter);
    return double(since.nsecsElapsed()) / 1e6;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir home;
    qputenv("XDG_STATE_HOME", home.filePath("state").toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", home.filePath("config").toLocal8Bit());
    const QString path = home.filePath("long.quillo");
    const std::string text = savedTape();
    {
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(text.data(), static_cast<qint64>(text.size()));
    }

    Calculator calc(&quillo::dispatch, QStringLiteral("Quillo-v2"));
    calc.show();
    calc.toggleTape();
    TapeDocuments& documents = calc.documents();
    std::vector<double> opened, saved;
    for (int round = 0; round < kRounds; ++round) {
        QSignalSpy ended(&documents, &TapeDocuments::finished);
        QElapsedTimer timer;
        timer.start();
        documents.open(path);
        while (ended.isEmpty()) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        opened.push_back(untilNextKey(calc, timer));
        if (!ended.first().first().toBool()) {
            std::fprintf(stderr, "document bench: not opened: %s\n",
                         qPrintable(documents.lastProblem()));
            return 1;
        }
        ended.clear();
        timer.restart();
        documents.save(home.filePath("again.quillo"));
        while (ended.isEmpty()) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        saved.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    QFile again(home.filePath("again.quillo"));
    again.open(QIODevice::ReadOnly);
    const bool same = again.readAll() == QByteArray::fromStdString(text);
    std::size_t keys = 0;
    for (std::size_t at = 0; at < text.size(); at = text.find('\n', at) + 1) {
        keys += text[at] != '#';
    }
    std::printf("document bench: a tape of %zu keys, %zu bytes (saved again %s)\n"
                "  open, to the tape shown: median %.1f ms (%.1f to %.1f)\n"
                "  save: median %.1f ms (%.1f to %.1f)\n",
                keys, text.size(), same ? "byte for byte" : "DIFFERENT", median(opened),
                *std::min_element(opened.begin(), opened.end()),
                *std::max_element(opened.begin(), opened.end()), median(saved),
                *std::min_element(saved.begin(), saved.end()),
                *std::max_element(saved.begin(), saved.end()));
    return same ? 0 : 1;
}
