// SPDX-License-Identifier: MIT
// Correcting the first number of a long session, measured in the real
// window: 99,981 keys typed into the calculator (5,000 tape lines), then
// F2 on the tape's first line, a new number and Enter in the editor. What is
// timed is what the user waits for: from Enter until the next key typed is
// handled, and the same for Ctrl+Z taking the correction back. Run with the
// tape kept between runs (in a folder of its own) and without, and with
// every fifth line's result taken from the line before it (Enter on the
// line, following it), so that the correction carries through about 1,000
// followed reuses. The platform is the caller's (QT_QPA_PLATFORM), offscreen
// when none is named: bench/window.sh runs it both ways.

#include "calculator.h"
#include "correctioneditor.h"
#include "dispatch.h"
#include "tapewindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

// The key log keeps 100,000 keys: the first number's are the oldest kept.
constexpr int kLines = 4'999;
// With a reuse every kReuseEvery lines, one key each.
constexpr int kReuseEvery = 5;
constexpr int kLinesWithReuses = 4'950;
constexpr int kRounds = 5;
// 20 keys a line, each adding to or taking from the result before it.
const QString kLine[] = {QStringLiteral("+123456789012345678="),
                         QStringLiteral("-123456789012345670=")};

// Notes when the next key reaches the calculator: a key it does not use,
// queued behind whatever the last step left for the event loop.
class NextKey : public QObject {
public:
    explicit NextKey(QWidget& calculator) : calculator_(calculator) {
        calculator_.installEventFilter(this);
    }
    // Milliseconds from `since` until the next key is handled.
    double after(const QElapsedTimer& since) {
        arrived_ = -1;
        QCoreApplication::postEvent(&calculator_,
                                    new QKeyEvent(QEvent::KeyPress, Qt::Key_F24, Qt::NoModifier));
        while (arrived_ < 0) {
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            arrived_ = arrived_ < 0 && seen_ ? double(since.nsecsElapsed()) / 1e6 : arrived_;
        }
        seen_ = false;
        return arrived_;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == &calculator_ && event->type() == QEvent::KeyPress &&
            static_cast<QKeyEvent*>(event)->key() == Qt::Key_F24) {
            seen_ = true;
            return true;
        }
        return false;
    }

private:
    QWidget& calculator_;
    bool seen_ = false;
    double arrived_ = -1;
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void run(bool keep, bool follow) {
    QTemporaryDir home;
    qputenv("XDG_STATE_HOME", home.filePath("state").toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", home.filePath("config").toLocal8Bit());
    Calculator calc(&quillo::dispatch, QStringLiteral("Quillo"));
    calc.show();
    calc.setKeepTape(keep);
    NextKey next(calc);
    QElapsedTimer typing;
    typing.start();
    QTest::keyClicks(&calc, QStringLiteral("1"));
    const int lines = follow ? kLinesWithReuses : kLines;
    for (int i = 0; i < lines; ++i) {
        if (follow && i > 1 && i % kReuseEvery == 0) {
            calc.reuseLine(calc.session().engine().tape().end() - 2);
        }
        QTest::keyClicks(&calc, kLine[i % 2]);
    }
    QCoreApplication::processEvents();
    const double typed = double(typing.elapsed()) / 1e3;

    calc.toggleTape();
    auto* list = calc.tapeWindow()->findChild<QListView*>("lines");
    std::vector<double> corrected;
    std::vector<double> undone;
    for (int round = 0; round < kRounds; ++round) {
        list->setCurrentIndex(list->model()->index(0, 0));
        QTest::keyClick(list, Qt::Key_F2);
        auto* editor = calc.tapeWindow()->findChild<CorrectionEditor*>();
        if (editor == nullptr || editor->fields().empty()) {
            std::fprintf(stderr, "window bench: the first line opened no editor\n");
            std::exit(1);
        }
        QLineEdit* field = editor->fields().front();
        field->setText(QString::number(5 + round)); // previewed, not timed
        QElapsedTimer enter;
        enter.start();
        QTest::keyClick(field, Qt::Key_Return);
        corrected.push_back(next.after(enter));
        if (calc.tapeWindow()->findChild<CorrectionEditor*>() != nullptr &&
            calc.tapeWindow()->findChild<CorrectionEditor*>()->isVisible()) {
            std::fprintf(stderr, "window bench: the correction was not made\n");
            std::exit(1);
        }
        QElapsedTimer undo;
        undo.start();
        QTest::keyClick(list, Qt::Key_Z, Qt::ControlModifier);
        undone.push_back(next.after(undo));
    }
    int followed = 0;
    calc.session().log().eachLink(calc.session().log().begin(),
                                  [&](auto, auto, const auto&) { ++followed; });
    std::printf(
        "window (%s), kept tape %s, %d followed reuses: %zu keys, %zu lines typed in %.1f s\n",
        qPrintable(QGuiApplication::platformName()), keep ? "on" : "off", followed,
        calc.session().log().size(), calc.session().engine().tape().size(), typed);
    std::printf("  correct the first number, Enter to next key: median %.1f ms (%.1f-%.1f)\n",
                median(corrected), *std::min_element(corrected.begin(), corrected.end()),
                *std::max_element(corrected.begin(), corrected.end()));
    std::printf("  undo it, Ctrl+Z to next key:                 median %.1f ms (%.1f-%.1f)\n",
                median(undone), *std::min_element(undone.begin(), undone.end()),
                *std::max_element(undone.begin(), undone.end()));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    run(true, false);
    run(false, false);
    run(true, true);
    return 0;
}
