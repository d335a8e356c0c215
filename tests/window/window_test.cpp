// SPDX-License-Identifier: MIT
// The windows as a user meets them: the built main window against its
// control table, real clicks through the widgets, the boxes the program
// shows, the exit flow, the pictures and what a screen reader is told.

#include "calculator.h"
#include "clipboard.h"
#include "correctioneditor.h"
#include "dispatch.h"
#include "display.h"
#include "freshhome.h"
#include "frm2.h"
#include "keyboard.h"
#include "placement.h"
#include "settings.h"
#include "tapemodel.h"
#include "tapewindow.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QButtonGroup>
#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QtGui/private/qguiapplication_p.h>
#include <QtTest>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>

#include <csignal>
#include <functional>
#include <memory>
#include <random>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

namespace {

// What a modal message box showed before the test answered it.
struct BoxSeen {
    bool shown = false;
    QString title;
    QString text;
    QString informative;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
};

// Answers the next modal message box with `answer` as soon as it is open.
void answerNextBox(QMessageBox::StandardButton answer, BoxSeen* seen) {
    auto* poll = new QTimer;
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, [poll, answer, seen] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) {
            return;
        }
        poll->stop();
        poll->deleteLater();
        seen->shown = true;
        seen->title = box->windowTitle();
        seen->text = box->text();
        seen->informative = box->informativeText();
        seen->icon = box->icon();
        seen->buttons = box->standardButtons();
        seen->defaultButton = box->defaultButton() ? box->standardButton(box->defaultButton())
                                                   : QMessageBox::NoButton;
        box->button(answer)->click();
    });
    poll->start();
}

// Runs the event loop until the program ends; returns its exit code, or 99
// when it did not end within the guard time.
int runUntilEnd(const std::function<void()>& action, int guardMs = 6000) {
    QTimer::singleShot(0, action);
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    guard.start(guardMs);
    return QCoreApplication::exec();
}

QString displayOf(const Calculator& c) {
    return c.findChild<QLabel*>("Readout")->text();
}

// A number of a line as the session lists it.
quillo::LineNumber number(std::size_t offset, std::size_t length, bool correctable) {
    quillo::LineNumber n;
    n.offset = offset;
    n.length = length;
    n.correctable = correctable;
    return n;
}

// Types each key into whatever has the keyboard then; \t, \r, \b and \x1b are keys.
void typeKeys(const QString& keys) {
    for (const QChar c : keys) {
        QTest::keyClicks(QApplication::focusWidget(), QString(c));
    }
}

} // namespace

class WindowTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<Calculator> calc;
    // Each test's own kept tape and settings, never the user's.
    std::unique_ptr<QTemporaryDir> home;

    QAbstractButton* key(const char* name) const {
        auto* b = calc->findChild<QAbstractButton*>(name);
        if (b == nullptr) {
            qFatal("no key named %s", name);
        }
        return b;
    }
    void click(const char* name) const { QTest::mouseClick(key(name), Qt::LeftButton); }

private slots:
    void init() {
        home = freshHome();
        calc = shownCalculator();
        QVERIFY(QTest::qWaitForWindowExposed(calc.get()));
    }
    void cleanup() { calc.reset(); }

    void window() {
        QCOMPARE(calc->objectName(), QString("Calculator"));
        QCOMPARE(calc->windowTitle(), QString("Quillo-v2"));
        QCOMPARE(calc->size(), QSize(349, 262));
        QCOMPARE(calc->minimumSize(), QSize(349, 262));
        QCOMPARE(calc->maximumSize(), QSize(349, 262));
        QVERIFY(!calc->windowIcon().isNull());
        QCOMPARE(calc->windowIcon().actualSize(QSize(32, 32)), QSize(32, 32));
        QCOMPARE(calc->font().family(), QString("System"));
        QCOMPARE(calc->font().pointSizeF(), 9.75);
        QVERIFY(calc->font().bold());
        QCOMPARE(displayOf(*calc), QString("0."));
    }

    void controls_data() {
        QTest::addColumn<QString>("object");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<QString>("toolTip");
        // Name, kind, index (-1: not in an array), caption, twips / 15, tooltip.
        struct Row {
            const char* name;
            const char* kind;
            int index;
            const char* caption;
            int left, top, width, height;
            const char* tip;
        };
        const Row rows[] = {
            {"cmdexit", "button", -1, "Exit", 4320, 3480, 855, 375, ""},
            {"pic1", "picture", -1, "", 600, 0, 4095, 4095, "Click here to close this window."},
            {"cmdsqrt", "button", -1, "Sqrt", 2520, 2640, 720, 480,
             "Finds the square root of a number"},
            {"cmdqr", "button", -1, "x^3", 4440, 2040, 480, 480,
             "Rasis the power of a number to three"},
            {"cmdsq", "button", -1, "x^2", 3720, 2040, 480, 480,
             "Raises the power of a number to 2"},
            {"Operator", "button", 5, "x^y", 1800, 2640, 480, 480, "Raises a number to a power."},
            {"Number", "button", 7, "7", 4440, 840, 480, 480, "Inserts the number"},
            {"Number", "button", 8, "8", 1200, 1440, 480, 480, "Inserts the number"},
            {"Number", "button", 9, "9", 1800, 1440, 480, 480, "Inserts the number"},
            {"Cancel", "button", -1, "C", 3240, 120, 480, 480, "Cancel"},
            {"CancelEntry", "button", -1, "CE", 3840, 120, 480, 480, "Cancel Entry"},
            {"Number", "button", 4, "4", 2280, 840, 480, 480, "Inserts the number"},
            {"Number", "button", 5, "5", 3000, 840, 480, 480, "Inserts the number"},
            {"Number", "button", 6, "6", 3720, 840, 480, 480, "Inserts the number"},
            {"Operator", "button", 1, "+", 120, 2040, 480, 480, "Adds the first and second number"},
            {"Operator", "button", 3, "-", 1560, 2040, 480, 480,
             "Subtracts the second number from the first"},
            {"Number", "button", 1, "1", 120, 840, 480, 480, "Inserts the number"},
            {"Number", "button", 2, "2", 840, 840, 480, 480, "Inserts the number"},
            {"Number", "button", 3, "3", 1560, 840, 480, 480, "Inserts the number"},
            {"Operator", "button", 2, "X", 840, 2040, 480, 480,
             "Multiplies the first and second number"},
            {"Operator", "button", 0, "/", 2280, 2040, 480, 480,
             "Divids the first number by the second "},
            {"Number", "button", 0, "0", 2400, 1440, 1080, 480, "Inserts the number"},
            {"Decimal", "button", -1, ".", 3720, 1440, 480, 480, "Inserts a decimal point "},
            {"Operator", "button", 4, "=", 2280, 3240, 480, 480, "Performs the operation"},
            {"Percent", "button", -1, "%", 3000, 2040, 480, 480, "Finds the percentage"},
            {"Readout", "label", -1, "0.", 120, 120, 3000, 375, ""},
        };
        for (const Row& r : rows) {
            const QString object =
                r.index < 0 ? QString(r.name) : QString("%1_%2").arg(r.name).arg(r.index);
            QTest::newRow(qPrintable(object))
                << object << QString(r.kind) << r.index << QString(r.caption)
                << QRect(r.left / 15, r.top / 15, r.width / 15, r.height / 15) << QString(r.tip);
        }
    }

    void controls() {
        QFETCH(QString, object);
        QFETCH(QString, kind);
        QFETCH(int, index);
        QFETCH(QString, caption);
        QFETCH(QRect, geometry);
        QFETCH(QString, toolTip);

        auto* w = calc->findChild<QWidget*>(object);
        QVERIFY(w != nullptr);
        QCOMPARE(w->parentWidget(), calc.get());
        QCOMPARE(w->geometry(), geometry);
        QCOMPARE(w->toolTip(), toolTip);
        QVERIFY(w->isVisible());
        QVERIFY(w->isEnabled());
        if (kind == "button") {
            auto* b = qobject_cast<QPushButton*>(w);
            QVERIFY(b != nullptr);
            QCOMPARE(b->text(), caption);
            // Keys use the window's font and the platform's colours.
            QCOMPARE(b->font().family(), QString("System"));
            QCOMPARE(b->font().pointSizeF(), 9.75);
            QVERIFY(b->font().bold());
            if (index >= 0) {
                const QString array = object.section('_', 0, 0);
                auto* group = calc->findChild<QButtonGroup*>(array);
                QVERIFY(group != nullptr);
                QCOMPARE(group->id(b), index);
                QCOMPARE(b->property("Index").toInt(), index);
            }
        } else if (kind == "label") {
            auto* l = qobject_cast<QLabel*>(w);
            QVERIFY(l != nullptr);
            QCOMPARE(l->text(), caption);
            QCOMPARE(l->font().family(), QString("MS Sans Serif"));
            QCOMPARE(l->font().pointSizeF(), 12.0);
            QVERIFY(l->font().bold());
            QCOMPARE(l->palette().color(l->backgroundRole()), QColor(192, 192, 255));
            QCOMPARE(l->palette().color(l->foregroundRole()), QColor(0, 0, 0));
            QCOMPARE(l->focusPolicy(), Qt::NoFocus);
        } else {
            QVERIFY(qobject_cast<QLabel*>(w) != nullptr);
            QCOMPARE(w->focusPolicy(), Qt::NoFocus);
        }
    }

    void tabOrderAndStartFocus() {
        const QStringList order = {
            "Number_0",   "Number_1",   "Number_2",   "Number_3",   "Number_4",   "Number_5",
            "Number_6",   "Number_7",   "Number_8",   "Number_9",   "Cancel",     "CancelEntry",
            "Operator_1", "Operator_3", "Operator_2", "Operator_0", "Operator_4", "Percent",
            "Decimal",    "Operator_5", "cmdsq",      "cmdqr",      "cmdsqrt",    "cmdexit"};
        QStringList chain;
        QWidget* w = key("Number_0");
        do {
            if (w->focusPolicy() & Qt::TabFocus) {
                chain << w->objectName();
            }
            w = w->nextInFocusChain();
        } while (w != key("Number_0"));
        QCOMPARE(chain, order);

        QApplication::setActiveWindow(calc.get());
        QVERIFY(QTest::qWaitForWindowActive(calc.get()));
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(key("Number_0")));
        // The space bar presses the focused "0", cover or not.
        QTest::keyClick(key("Number_0"), Qt::Key_Space);
        QCOMPARE(displayOf(*calc), QString("0."));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        QCOMPARE(displayOf(*calc), QString("00."));
    }

    void stacking_data() {
        QTest::addColumn<QPoint>("point");
        QTest::addColumn<QString>("withCover");
        QTest::addColumn<QString>("withoutCover");
        QTest::newRow("0 key") << QPoint(196, 112) << "pic1"
                               << "Number_0";
        QTest::newRow("Exit over cover") << QPoint(300, 244) << "cmdexit"
                                         << "cmdexit";
        QTest::newRow("1 key") << QPoint(24, 72) << "Number_1"
                               << "Number_1";
        QTest::newRow("+ key") << QPoint(24, 152) << "Operator_1"
                               << "Operator_1";
        QTest::newRow("right of 7") << QPoint(322, 72) << "Number_7"
                                    << "Number_7";
        QTest::newRow("left of 7") << QPoint(300, 72) << "pic1"
                                   << "Number_7";
        QTest::newRow("right of x^3") << QPoint(322, 152) << "cmdqr"
                                      << "cmdqr";
        QTest::newRow("display start") << QPoint(20, 20) << "Readout"
                                       << "Readout";
        QTest::newRow("display under cover") << QPoint(100, 20) << "pic1"
                                             << "Readout";
    }

    void stacking() {
        QFETCH(QPoint, point);
        QFETCH(QString, withCover);
        QFETCH(QString, withoutCover);
        QCOMPARE(calc->childAt(point)->objectName(), withCover);
        calc->findChild<QLabel*>("pic1")->hide();
        QCOMPARE(calc->childAt(point)->objectName(), withoutCover);
    }

    void clicksReachTheEngine() {
        for (const char* k : {"Number_1", "Number_2", "Operator_1", "Number_3", "Operator_4"}) {
            click(k);
        }
        QCOMPARE(displayOf(*calc), QString("15"));
        for (const char* k : {"Operator_2", "Number_2", "Operator_4"}) {
            click(k);
        }
        QCOMPARE(displayOf(*calc), QString("30"));
        const std::pair<const char*, const char*> more[] = {
            {"Cancel", "0."},
            {"Decimal", "0."},
            {"Number_5", "0.5"},
            {"Percent", "50"},
            {"Number_4", "4."},
            {"cmdsq", " 16"},
            {"cmdqr", " 4096"},
            {"cmdsqrt", " 64"},
            // The square keys left 64 as the first number; "%" is still pending.
            {"CancelEntry", "0."},
            {"Number_9", "9."},
            {"Operator_3", "576"},
            {"Number_6", "6."},
            {"Operator_0", "570"},
            {"Number_2", "2."},
            {"Operator_5", "285"},
            {"Number_2", "2."},
            {"Operator_4", "81225"}};
        for (const auto& [k, display] : more) {
            click(k);
            QCOMPARE(displayOf(*calc), QString(display));
        }
    }

    void coverClick() {
        click("Number_1");
        auto* cover = calc->findChild<QLabel*>("pic1");
        const quillo::State before = calc->engineState();
        QTest::mouseClick(cover, Qt::LeftButton, {}, QPoint(100, 100));
        QVERIFY(!cover->isVisible());
        QCOMPARE(displayOf(*calc), QString("1."));
        QVERIFY(calc->engineState() == before);
        click("Cancel");
        QVERIFY(!cover->isVisible());
        // A press that leaves the picture before its release is no click.
        cover->show();
        QTest::mousePress(cover, Qt::LeftButton, {}, QPoint(100, 100));
        QTest::mouseRelease(cover, Qt::LeftButton, {}, QPoint(-20, 100));
        QVERIFY(cover->isVisible());
    }

    void divisionWarning() {
        BoxSeen seen;
        for (const char* k : {"Number_8", "Operator_0", "Number_0"}) {
            click(k);
        }
        answerNextBox(QMessageBox::Ok, &seen);
        click("Operator_4");
        QVERIFY(seen.shown);
        QCOMPARE(seen.text, QString("Can't divide by zero"));
        QCOMPARE(seen.title, QString("Calculator"));
        QCOMPARE(seen.icon, QMessageBox::Warning);
        QCOMPARE(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(displayOf(*calc), QString("8."));
    }

    void errorReport_data() {
        QTest::addColumn<QStringList>("keys");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("displayAfter");
        QTest::newRow("invalid argument")
            << QStringList{"Number_3", "cmdsq", "Number_5"} << "Invalid procedure call or argument"
            << " 9";
        QTest::newRow("type mismatch")
            << QStringList{"Number_5", "Operator_1", "Operator_3", "cmdsq"} << "Type mismatch"
            << "-";
        QTest::newRow("overflow") << QStringList{"Number_9", "Operator_5", "Number_9",
                                                 "Number_9", "Number_9",   "Operator_4"}
                                  << "Overflow"
                                  << "999.";
    }

    void errorReport() {
        QFETCH(QStringList, keys);
        QFETCH(QString, kind);
        QFETCH(QString, displayAfter);
        BoxSeen seen;
        for (int i = 0; i + 1 < keys.size(); ++i) {
            click(keys[i].toLatin1().constData());
        }
        const quillo::State before = calc->engineState();
        answerNextBox(QMessageBox::Ok, &seen);
        click(keys.last().toLatin1().constData());
        QVERIFY(seen.shown);
        QCOMPARE(seen.title, QString("Quillo-v2"));
        QVERIFY2(seen.text.contains(kind), qPrintable(seen.text));
        QCOMPARE(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(displayOf(*calc), displayAfter);
        QVERIFY(calc->engineState() == before);
        QVERIFY(calc->isVisible());
        // The calculator goes on.
        for (const char* k : {"Cancel", "Number_2", "Operator_1", "Number_2", "Operator_4"}) {
            click(k);
        }
        QCOMPARE(displayOf(*calc), QString("4"));
    }

    void exitAnsweredNo() {
        for (const char* k : {"Number_5", "Operator_1", "Number_3"}) {
            click(k);
        }
        for (int i = 0; i < 3; ++i) {
            BoxSeen seen;
            answerNextBox(QMessageBox::No, &seen);
            click("cmdexit");
            QVERIFY(seen.shown);
            QCOMPARE(seen.text, QString("Are you sure you want to exit?"));
            QCOMPARE(seen.title, QString("Quillo-v2"));
            QCOMPARE(seen.icon, QMessageBox::Question);
            QCOMPARE(seen.buttons, QMessageBox::Yes | QMessageBox::No);
            QCOMPARE(seen.defaultButton, QMessageBox::Yes);
        }
        QVERIFY(calc->isVisible());
        QVERIFY(calc->farewell() == nullptr);
        QVERIFY(calc->findChild<QTimer*>("tmr1") == nullptr);
        click("Operator_4");
        QCOMPARE(displayOf(*calc), QString("8"));
    }

    void exitAnsweredYes() {
        calc->toggleTape();
        BoxSeen seen;
        answerNextBox(QMessageBox::Yes, &seen);
        QElapsedTimer clock;
        clock.start();
        click("cmdexit");
        frm2* farewell = calc->farewell();
        QVERIFY(farewell != nullptr);
        QVERIFY(farewell->isVisible());
        QVERIFY(!calc->isVisible());
        QVERIFY(!calc->tapeWindow()->isVisible());
        QCOMPARE(farewell->objectName(), QString("frm2"));
        QCOMPARE(farewell->windowTitle(), QString("Thank You"));
        QCOMPARE(farewell->size(), QSize(209, 287));
        QVERIFY(farewell->windowIcon().isNull());
        auto* tmr1 = farewell->findChild<QTimer*>("tmr1");
        QVERIFY(tmr1 != nullptr);
        QCOMPARE(tmr1->interval(), 2500);
        QVERIFY(tmr1->isActive());

        // Its first tick ends the event loop; the guard only catches a hang.
        QCOMPARE(runUntilEnd([] {}), 0);
        QVERIFY2(clock.elapsed() >= 2500, qPrintable(QString::number(clock.elapsed())));
    }

    void closeBoxEndsProgram() {
        calc->toggleTape(); // the tape goes with the calculator
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(runUntilEnd([this] { calc->close(); }), 0);
        QVERIFY(clock.elapsed() < 2000);
        QVERIFY(!calc->tapeWindow()->isVisible());
    }

    void closingFarewellEndsProgram() {
        BoxSeen seen;
        answerNextBox(QMessageBox::Yes, &seen);
        click("cmdexit");
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(runUntilEnd([this] { calc->farewell()->close(); }), 0);
        QVERIFY(clock.elapsed() < 2000); // before the farewell's own tick
    }

    void keyboardMap_data() {
        QTest::addColumn<int>("qtKey");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QString>("caption"); // "" for a key the calculator ignores
        struct Row {
            const char* name;
            int qtKey;
            const char* text;
            Qt::KeyboardModifiers modifiers;
            const char* caption;
        };
        const Qt::KeyboardModifiers none, pad = Qt::KeypadModifier, shift = Qt::ShiftModifier;
        const Row rows[] = {
            {"0", Qt::Key_0, "0", none, "0"},
            {"keypad 7", Qt::Key_7, "7", pad, "7"},
            {"point", Qt::Key_Period, ".", none, "."},
            {"keypad comma", Qt::Key_Comma, ",", pad, "."},
            {"plus", Qt::Key_Plus, "+", shift, "+"},
            {"keypad minus", Qt::Key_Minus, "-", pad, "-"},
            {"slash", Qt::Key_Slash, "/", none, "/"},
            {"asterisk", Qt::Key_Asterisk, "*", shift, "X"},
            {"x", Qt::Key_X, "x", none, "X"},
            {"X", Qt::Key_X, "X", shift, "X"},
            {"caret", Qt::Key_AsciiCircum, "^", shift, "x^y"},
            {"dead caret", Qt::Key_Dead_Circumflex, "", none, "x^y"},
            {"equals", Qt::Key_Equal, "=", none, "="},
            {"Return", Qt::Key_Return, "\r", none, "="},
            {"Enter", Qt::Key_Enter, "\r", pad, "="},
            {"percent", Qt::Key_Percent, "%", shift, "%"},
            {"q", Qt::Key_Q, "q", none, "x^2"},
            {"c", Qt::Key_C, "c", none, "x^3"},
            {"C", Qt::Key_C, "C", shift, ""},
            {"r", Qt::Key_R, "r", none, "Sqrt"},
            {"Escape", Qt::Key_Escape, "\x1b", none, "C"},
            {"Delete", Qt::Key_Delete, "\x7f", none, "CE"},
            {"Backspace", Qt::Key_Backspace, "\b", none, ""},
            {"Ctrl+1", Qt::Key_1, "1", Qt::ControlModifier, ""},
            {"Alt+x", Qt::Key_X, "x", Qt::AltModifier, ""},
            {"letter", Qt::Key_A, "a", none, ""},
        };
        for (const Row& r : rows) {
            QTest::newRow(r.name) << r.qtKey << QString(r.text) << int(r.modifiers)
                                  << QString(r.caption);
        }
    }

    void keyboardMap() {
        QFETCH(int, qtKey);
        QFETCH(QString, text);
        QFETCH(int, modifiers);
        QFETCH(QString, caption);
        const auto key = keyboard::keyFor(qtKey, text, Qt::KeyboardModifiers(modifiers));
        QCOMPARE(key ? QString::fromLatin1(quillo::caption(*key)) : QString(), caption);
    }

    // Typed keys press their on-screen keys through the same path as clicks,
    // whichever key has the focus, and with the welcome notice still shown.
    void typing() {
        auto* cover = calc->findChild<QLabel*>("pic1");
        QWidget* focus = key("Number_9");
        for (const char c : {'1', '2', '+', '3'}) {
            QTest::keyClick(focus, c);
        }
        QVERIFY(key("Number_3")->isDown()); // shown pressed a moment
        QTRY_VERIFY(!key("Number_3")->isDown());
        QTest::keyClick(focus, Qt::Key_Return);
        QCOMPARE(displayOf(*calc), QString("15"));
        QVERIFY(cover->isVisible());
        // Escape closes the notice first, and only then clears.
        QTest::keyClick(focus, Qt::Key_Escape);
        QVERIFY(!cover->isVisible());
        QCOMPARE(displayOf(*calc), QString("15"));
        QTest::keyClick(focus, Qt::Key_Escape);
        QCOMPARE(displayOf(*calc), QString("0."));
        // Every key of the calculator, typed once.
        for (const char c : QByteArray("1234567890.qcr%+2-3*4/5^2=")) {
            QTest::keyClick(focus, c);
        }
        QCOMPARE(displayOf(*calc), QString("2.26605181961573E+58"));
        QTest::keyClick(focus, Qt::Key_Delete);
        calc->copyKeys();
        QCOMPARE(QGuiApplication::clipboard()->text(),
                 QString("1 2 + 3 = C 1 2 3 4 5 6 7 8 9 0 . x^2 x^3 Sqrt % + 2 - 3 X 4 / 5 x^y 2 = "
                         "CE ")
                     .replace(' ', '\n'));
    }

    void clipboard() {
        QClipboard* board = QGuiApplication::clipboard();
        for (const char* k : {"Number_1", "Number_2", "Decimal"}) {
            click(k);
        }
        QTest::keyClick(calc.get(), Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(board->text(), QString("12"));
        // A number is typed as its keys; anything else changes nothing.
        click("Operator_1");
        board->setText(" 0.25\n");
        QTest::keyClick(calc.get(), Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(displayOf(*calc), QString("0.25"));
        for (const char* refused : {"-3", "1E+20", "12 34", ""}) {
            board->setText(refused);
            calc->paste();
            QCOMPARE(displayOf(*calc), QString("0.25"));
        }
        board->setText(QString(1001, '7'));
        calc->paste();
        QCOMPARE(displayOf(*calc), QString("0.25"));
        click("Operator_4");
        QCOMPARE(displayOf(*calc), QString("12.25"));
        calc->copyKeys();
        QCOMPARE(board->text(), QString("1\n2\n.\n+\n0\n.\n2\n5\n=\n"));
    }

    // The menu on the display does what the keys do.
    void displayMenu() {
        auto* readout = calc->findChild<QLabel*>("Readout");
        QCOMPARE(readout->contextMenuPolicy(), Qt::CustomContextMenu);
        emit readout->customContextMenuRequested(QPoint(10, 10));
        auto* menu = calc->findChild<QMenu*>("DisplayMenu");
        QVERIFY(menu != nullptr);
        QTRY_VERIFY(menu->isVisible());
        auto action = [menu](const char* text) {
            for (QAction* a : menu->actions()) {
                if (a->text() == text) {
                    return a;
                }
            }
            qFatal("no menu entry %s", text);
        };
        QGuiApplication::clipboard()->setText("42");
        action("Paste")->trigger();
        QCOMPARE(displayOf(*calc), QString("42."));
        QGuiApplication::clipboard()->clear();
        action("Copy")->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(), QString("42"));
        action("Copy keys")->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(), QString("4\n2\n"));
        menu->hide();
    }

    // A typed key shows its button down; an Escape right after it still
    // reaches the calculator though that button has the focus.
    // The menus show the keys that the windows take for their items.
    void menuShortcuts_data() {
        QTest::addColumn<bool>("tape");
        QTest::addColumn<QString>("item");
        QTest::addColumn<QString>("shown");
        QTest::newRow("copy") << false << "actionCopy"
                              << "Ctrl+C";
        QTest::newRow("paste") << false << "actionPaste"
                               << "Ctrl+V";
        QTest::newRow("undo") << false << "actionUndo"
                              << "Ctrl+Z";
        QTest::newRow("redo") << false << "actionRedo"
                              << "Ctrl+Shift+Z";
        QTest::newRow("tape") << false << "actionTape"
                              << "Ctrl+T";
        QTest::newRow("copy lines") << true << "actionCopy"
                                    << "Ctrl+C";
        QTest::newRow("export text") << true << "actionExportText"
                                     << "Ctrl+S";
        QTest::newRow("print") << true << "actionPrint"
                               << "Ctrl+P";
        QTest::newRow("delete") << true << "actionDelete"
                                << "Del";
    }
    void menuShortcuts() {
        QFETCH(bool, tape);
        QFETCH(QString, item);
        QFETCH(QString, shown);
        QMenu* menu = nullptr;
        if (tape) {
            calc->toggleTape();
            auto* list = calc->tapeWindow()->findChild<QListView*>("lines");
            emit list->customContextMenuRequested(QPoint(1, 1));
            menu = calc->tapeWindow()->findChild<QMenu*>("TapeMenu");
        } else {
            emit calc->findChild<QLabel*>("Readout")->customContextMenuRequested(QPoint(1, 1));
            menu = calc->findChild<QMenu*>("DisplayMenu");
        }
        QVERIFY(menu != nullptr);
        QCOMPARE(menu->findChild<QAction*>(item)->shortcut().toString(), shown);
        menu->hide();
    }

    void typedEscapeAfterAFocusedKey() {
        QWidget* focused = key("Number_0");
        QTest::keyClick(focused, Qt::Key_Escape); // the welcome notice
        for (const char c : {'1', '0'}) {
            QTest::keyClick(focused, c);
        }
        QVERIFY(key("Number_0")->isDown());
        QTest::keyClick(focused, Qt::Key_Escape);
        QCOMPARE(displayOf(*calc), QString("0."));
    }

    // Undo and redo by keyboard and menu, a paste as one step, and the menu's
    // keep-on-top.
    void undoRedoAndKeepOnTop() {
        QTest::keyClicks(calc.get(), "5+3q=");
        QCOMPARE(displayOf(*calc), QString("18"));
        const std::pair<QKeyCombination, const char*> steps[] = {
            {Qt::Key_Backspace, " 9"},
            {Qt::ControlModifier | Qt::Key_Y, "18"},
            {Qt::ControlModifier | Qt::Key_Z, " 9"},
            {Qt::ControlModifier | Qt::ShiftModifier | Qt::Key_Z, "18"},
        };
        for (const auto& [combination, display] : steps) {
            QTest::keyClick(calc.get(), combination.key(), combination.keyboardModifiers());
            QCOMPARE(displayOf(*calc), QString(display));
        }
        QGuiApplication::clipboard()->setText("12");
        calc->paste();
        QTest::keyClick(calc.get(), Qt::Key_Backspace);
        QCOMPARE(displayOf(*calc), QString("18"));

        auto* readout = calc->findChild<QLabel*>("Readout");
        emit readout->customContextMenuRequested(QPoint(10, 10));
        auto* menu = calc->findChild<QMenu*>("DisplayMenu");
        QTRY_VERIFY(menu->isVisible());
        auto action = [menu](const char* name) { return menu->findChild<QAction*>(name); };
        QVERIFY(action("actionUndo")->isEnabled());
        QVERIFY(action("actionRedo")->isEnabled());
        action("actionRedo")->trigger();
        QCOMPARE(displayOf(*calc), QString("12."));
        calc->copyKeys();
        QCOMPARE(QGuiApplication::clipboard()->text(), QString("5\n+\n3\nx^2\n=\n1\n2\n"));
        menu->hide();
        emit readout->customContextMenuRequested(QPoint(10, 10));
        QVERIFY(!action("actionRedo")->isEnabled());
        QVERIFY(action("actionKeepOnTop")->isVisible());
        menu->hide();
        // Both windows take the flag, each shown again where it was, the one
        // with the keyboard keeping it; a tape opened later takes it too.
        auto onTop = [](QWidget* w) { return w->windowFlags().testFlag(Qt::WindowStaysOnTopHint); };
        action("actionKeepOnTop")->trigger();
        calc->toggleTape();
        QWidget* tape = calc->tapeWindow();
        QVERIFY(onTop(calc.get()) && onTop(tape));
        calc->activateWindow();
        QTRY_VERIFY(calc->isActiveWindow());
        const QPoint at = calc->pos();
        action("actionKeepOnTop")->trigger();
        QVERIFY(!onTop(calc.get()) && !onTop(tape));
        QVERIFY(calc->isVisible() && tape->isVisible());
        QCOMPARE(calc->pos(), at);
        QTRY_VERIFY(calc->isActiveWindow());
    }

    // The tape window: made when first opened, beside the calculator, its
    // lines following every key and undo; typed keys go to the calculator.
    void tapeWindow() {
        QVERIFY(calc->tapeWindow() == nullptr);
        QTest::keyClicks(calc.get(), "5+3q=");
        QTest::keyClick(calc.get(), Qt::Key_T, Qt::ControlModifier);
        TapeWindow* tape = calc->tapeWindow();
        QVERIFY(tape != nullptr && tape->isVisible());
        QCOMPARE(tape->windowTitle(), QString("Quillo-v2 tape"));
        QVERIFY(!tape->frameGeometry().intersects(calc->frameGeometry()));
        auto* list = tape->findChild<QListView*>("lines");
        auto lines = [list] {
            QStringList out;
            for (int row = 0; row < list->model()->rowCount(); ++row) {
                out << list->model()->index(row, 0).data().toString();
            }
            return out;
        };
        QCOMPARE(lines(), QStringList({"3 x^2 = 9", "9 + 9 = 18"}));
        // A screen reader finds a list whose items are the lines.
        QCOMPARE(QAccessible::queryAccessibleInterface(tape)->text(QAccessible::Name),
                 QString("Quillo-v2 tape"));
        QAccessibleInterface* listAccessible = QAccessible::queryAccessibleInterface(list);
        QCOMPARE(listAccessible->role(), QAccessible::List);
        QCOMPARE(listAccessible->childCount(), 2);
        QCOMPARE(listAccessible->child(1)->text(QAccessible::Name), QString("9 + 9 = 18"));
        QTest::keyClicks(list, "X2=");
        QCOMPARE(displayOf(*calc), QString("36"));
        QCOMPARE(lines().last(), QString("18 X 2 = 36"));
        QTest::keyClick(list, Qt::Key_Backspace);
        QCOMPARE(lines().size(), 2);

        list->selectAll();
        QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier);
        const QString text = "3 x^2 = 9\n9 + 9 = 18\n";
        QCOMPARE(QGuiApplication::clipboard()->text(), text);
        QTemporaryDir dir;
        QString error;
        QVERIFY(tape->saveTo(dir.filePath("tape.txt"), &error));
        QFile saved(dir.filePath("tape.txt"));
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(saved.readAll()), QString(text).replace("\n", "\r\n"));

        QTest::mouseClick(tape->findChild<QPushButton*>("clearTape"), Qt::LeftButton);
        QCOMPARE(lines(), QStringList());
        QTest::keyClick(list, Qt::Key_Escape);
        QVERIFY(!tape->isVisible());
        for (const bool shown : {true, false}) {
            QTest::keyClick(calc.get(), Qt::Key_T, Qt::ControlModifier);
            QCOMPARE(tape->isVisible(), shown);
        }
    }

    // The list follows the session's notices alone, row by row: past the
    // tape's ten thousand lines, through undo and redo, pastes, deleted
    // lines and a cleared tape, it shows the tape line for line.
    void tapeListFollowsTheSession() {
        calc->toggleTape();
        TapeWindow* tape = calc->tapeWindow();
        auto* list = tape->findChild<QListView*>("lines");
        auto* model = list->model();
        auto rows = [model] {
            QString text;
            for (int row = 0; row < model->rowCount(); ++row) {
                text += model->index(row, 0).data().toString() + '\n';
            }
            return text;
        };
        const quillo::Tape& engineTape = calc->session().engine().tape();
        for (int i = 0; i < 10'050 * 2; ++i) {
            key(i % 2 == 0 ? "Number_1" : "Operator_1")->click();
        }
        QCOMPARE(model->index(0, 0).data().toString(), QString("50 + 1 = 51"));
        std::mt19937 rng(5);
        const char* keys[] = {"Number_2", "Operator_1", "Operator_2", "Operator_4", "cmdsq"};
        QTimer answer; // boxes of keys that fail are answered
        connect(&answer, &QTimer::timeout, [] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                box->button(QMessageBox::Ok)->click();
            }
        });
        answer.start(1);
        for (int i = 0; i < 3'000; ++i) {
            switch (rng() % 8) {
            case 0:
            case 1:
                calc->undo();
                break;
            case 2:
                calc->redo();
                break;
            case 3:
                QGuiApplication::clipboard()->setText("12.5");
                calc->paste();
                break;
            case 4:
                if (rng() % 20 == 0 && model->rowCount() > 0) {
                    list->setCurrentIndex(model->index(int(rng() % model->rowCount()), 0));
                    QTest::keyClick(list, Qt::Key_Delete);
                } else if (rng() % 200 == 0) {
                    QTest::mouseClick(tape->findChild<QPushButton*>("clearTape"), Qt::LeftButton);
                }
                break;
            default:
                key(keys[rng() % std::size(keys)])->click();
            }
            if (i % 100 == 0) {
                QCOMPARE(rows(), QString::fromStdString(engineTape.text()));
            }
        }
        QCOMPARE(rows(), QString::fromStdString(engineTape.text()));
    }

    // The kept tape's database and its WAL as bytes: switched off, the
    // lines leave both and the file stays.
    QByteArray keptOnDisk() const {
        QByteArray all;
        for (const char* name : {"state/quillo/tape.sqlite", "state/quillo/tape.sqlite-wal"}) {
            QFile file(home->filePath(name));
            all += file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        }
        return all;
    }

    // What the next start shows of a run: lines typed, then undone (U),
    // redone (R), the first line deleted (D), the tape cleared (C) or the
    // keeping turned off (O); the run killed rather than closed.
    void keptTape_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("then");
        QTest::addColumn<QStringList>("kept");
        QTest::newRow("kept") << "12+3="
                              << "" << QStringList{"12 + 3 = 15"};
        QTest::newRow("undone") << "1+2=+3="
                                << "U" << QStringList{"1 + 2 = 3"};
        QTest::newRow("redone") << "1+2=+3="
                                << "UUR" << QStringList{"1 + 2 = 3"};
        QTest::newRow("deleted") << "1+2=+3="
                                 << "D" << QStringList{"3 + 3 = 6"};
        QTest::newRow("cleared") << "1+2=+3="
                                 << "CUUURRR" << QStringList{};
        QTest::newRow("off") << "12+3="
                             << "O" << QStringList{};
        // A correction's lines instead of the old ones; its undo puts them back.
        QTest::newRow("corrected") << "12+3=X2="
                                   << "F" << QStringList{"5 + 3 = 8", "8 X 2 = 16"};
        QTest::newRow("corrected, undone") << "12+3=X2="
                                           << "FU" << QStringList{"12 + 3 = 15", "15 X 2 = 30"};
        // Switched off in another window: this one keeps its next line no more.
        QTest::newRow("off elsewhere") << "12+3="
                                       << "E" << QStringList{};
    }
    void keptTape() {
        QFETCH(QString, typed);
        QFETCH(QString, then);
        QTest::keyClicks(calc.get(), typed);
        calc->toggleTape();
        TapeWindow* tape = calc->tapeWindow();
        auto* list = tape->findChild<QListView*>("lines");
        for (const QChar c : then) {
            if (c == u'U') {
                calc->undo();
            } else if (c == u'R') {
                calc->redo();
            } else if (c == u'D') {
                list->setCurrentIndex(list->model()->index(0, 0));
                QTest::keyClick(list, Qt::Key_Delete);
            } else if (c == u'C') {
                QTest::mouseClick(tape->findChild<QPushButton*>("clearTape"), Qt::LeftButton);
            } else if (c == u'O') {
                calc->setKeepTape(false);
                QTRY_VERIFY(!keptOnDisk().contains("12 + 3"));
            } else if (c == u'F') {
                calc->correct(calc->session().engine().tape().first(), 0, QStringLiteral("5"));
            } else if (c == u'E') {
                Calculator other(&quillo::dispatch, QStringLiteral("Quillo-v2"));
                other.setKeepTape(false);
                QTest::keyClicks(calc.get(), "4+5=");
                QTRY_VERIFY(!keptOnDisk().contains("12 + 3") && !keptOnDisk().contains("4 + 5"));
                QTRY_VERIFY(tape->findChild<QLabel*>("problem")->text().contains("another window"));
            }
        }
        // The next run: nothing of this one's calculation, its lines under a
        // heading. Killed, not closed: after the store's thread wrote, which
        // it does within milliseconds.
        QThread::msleep(200);
        calc.release()->deleteLater();
        calc = std::make_unique<Calculator>(&quillo::dispatch, QStringLiteral("Quillo-v2"));
        QCOMPARE(displayOf(*calc), QString("0."));
        calc->toggleTape();
        QStringList lines;
        auto* model = calc->tapeWindow()->findChild<QListView*>("lines")->model();
        QFETCH(QStringList, kept);
        // The earlier lines come from the store's thread.
        QTRY_COMPARE(model->rowCount(), kept.isEmpty() ? 0 : kept.size() + 2);
        // Opened before they came, the newest row is current all the same.
        QCOMPARE(calc->tapeWindow()->findChild<QListView*>("lines")->currentIndex().row(),
                 model->rowCount() - 1);
        for (int row = 0; row < model->rowCount(); ++row) {
            const QString line = model->index(row, 0).data().toString();
            QCOMPARE(line.startsWith("======== "), row == 0 || row == model->rowCount() - 1);
            lines << line;
        }
        QCOMPARE(lines.mid(1, lines.size() - 2), kept);
    }

    // The open tape follows the kept tape whoever changes it: its earlier
    // lines and its Keep tick, turned off and on again from either menu.
    void keptTapeFollowed_data() {
        QTest::addColumn<bool>("fromTape"); // the tape's menu, or the calculator's
        QTest::newRow("calculator's menu") << false;
        QTest::newRow("tape's menu") << true;
    }
    void keptTapeFollowed() {
        QFETCH(bool, fromTape);
        QTest::keyClicks(calc.get(), "\0331+2=");
        calc.reset();
        calc = std::make_unique<Calculator>(&quillo::dispatch, QStringLiteral("Quillo-v2"));
        calc->toggleTape();
        TapeWindow* tape = calc->tapeWindow();
        QTRY_COMPARE(tape->model()->rowCount(), 3);
        auto* list = tape->findChild<QListView*>("lines");
        auto tick = [&] {
            emit list->customContextMenuRequested(QPoint(1, 1));
            auto* menu = tape->findChild<QMenu*>("TapeMenu");
            const bool on = menu->findChild<QAction*>("actionKeepTape")->isChecked();
            menu->hide();
            return on;
        };
        QVERIFY(tick());
        if (fromTape) {
            emit list->customContextMenuRequested(QPoint(1, 1));
            tape->findChild<QMenu*>("TapeMenu")->findChild<QAction*>("actionKeepTape")->trigger();
        } else {
            calc->setKeepTape(false);
        }
        QCOMPARE(tape->model()->rowCount(), 0);
        QVERIFY(!tick());
        calc->setKeepTape(true);
        QVERIFY(tick());
    }

    // Keep on top and the open tape come back at the next start, as the last
    // run left them; a file that is missing, broken or of the wrong kinds
    // gives the defaults.
    void settings_data() {
        QTest::addColumn<QByteArray>("conf"); // "dir": a folder in its place
        QTest::addColumn<bool>("onTop");
        QTest::addColumn<bool>("tapeOpen");
        QTest::newRow("none") << QByteArray() << false << false;
        QTest::newRow("remembered")
            << QByteArray("keepOnTop=true\n[tape]\nopen=true\n") << true << true;
        QTest::newRow("broken") << QByteArray("\0\xff[[[keepOnTop", 14) << false << false;
        QTest::newRow("wrong kinds")
            << QByteArray("keepOnTop=7\n[tape]\nopen=maybe\n") << false << false;
        QTest::newRow("a folder") << QByteArray("dir") << false << false;
        QTest::newRow("written by the last run") << QByteArray("last") << true << true;
    }
    void settings() {
        QFETCH(QByteArray, conf);
        const QString path = home->filePath("config/quillo/quillo.conf");
        QDir().mkpath(home->filePath("config/quillo"));
        if (conf == "dir") {
            QDir().mkpath(path);
        } else if (conf == "last") {
            calc->setKeepOnTop(true);
            calc->toggleTape();
            QCOMPARE(QFile::permissions(path) & ~(QFile::ReadUser | QFile::WriteUser),
                     QFile::ReadOwner | QFile::WriteOwner);
        } else if (!conf.isEmpty()) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(conf);
        }
        calc.reset();
        calc = std::make_unique<Calculator>(&quillo::dispatch, QStringLiteral("Quillo-v2"));
        calc->show();
        QFETCH(bool, onTop);
        QFETCH(bool, tapeOpen);
        QCOMPARE(calc->windowFlags().testFlag(Qt::WindowStaysOnTopHint), onTop);
        QTRY_COMPARE(calc->tapeWindow() != nullptr && calc->tapeWindow()->isVisible(), tapeOpen);
    }

    // Where the file goes and what it is made as, under a umask that takes
    // nothing away: a relative XDG_CONFIG_HOME is ignored, a link in the
    // file's or the folder's place is neither written through nor read.
    void settingsFile_data() {
        QTest::addColumn<QString>("configHome"); // relative to the test's home, or relative
        QTest::addColumn<QString>("link");       // what is a link to decoy/
        QTest::addColumn<QString>("written");    // "": nothing
        QTest::newRow("plain") << "/config"
                               << ""
                               << "config/quillo/quillo.conf";
        QTest::newRow("relative") << "relconfig"
                                  << ""
                                  << "h/.config/quillo/quillo.conf";
        QTest::newRow("file a link") << "/config"
                                     << "config/quillo/quillo.conf"
                                     << "";
        QTest::newRow("folder a link") << "/config"
                                       << "config/quillo"
                                       << "";
    }
    void settingsFile() {
        QFETCH(QString, configHome);
        QFETCH(QString, link);
        QFETCH(QString, written);
        const QByteArray oldHome = qgetenv("HOME");
        const QString oldDir = QDir::currentPath();
        const mode_t oldMask = ::umask(0);
        const auto restore = qScopeGuard([&] {
            qputenv("HOME", oldHome);
            QDir::setCurrent(oldDir);
            ::umask(oldMask);
        });
        qputenv("HOME", home->filePath("h").toLocal8Bit());
        qputenv(
            "XDG_CONFIG_HOME",
            (configHome.startsWith('/') ? home->path() + configHome : configHome).toLocal8Bit());
        QDir::setCurrent(home->path());
        const QByteArray decoy = "keepOnTop=true\n";
        QVERIFY(QDir().mkpath(home->filePath("decoy")) && QDir().mkpath(home->filePath("h")) &&
                QDir().mkpath(home->filePath("config/quillo")));
        QFile decoyFile(home->filePath("decoy/quillo.conf"));
        QVERIFY(decoyFile.open(QIODevice::WriteOnly) && decoyFile.write(decoy) == decoy.size());
        decoyFile.close();
        if (!link.isEmpty()) {
            QDir(home->filePath(link)).removeRecursively();
            const QString target =
                home->filePath(link.endsWith(".conf") ? "decoy/quillo.conf" : "decoy");
            QVERIFY(QFile::link(target, home->filePath(link)));
        }

        QVERIFY(!Settings::load().keepOnTop()); // a link is not read
        Settings settings;
        settings.setKeepTape(false);
        QVERIFY(!QFileInfo::exists(home->filePath("relconfig")));
        QVERIFY(decoyFile.open(QIODevice::ReadOnly));
        QCOMPARE(decoyFile.readAll(), decoy);
        if (!link.isEmpty()) {
            QVERIFY(QFileInfo(home->filePath(link)).isSymLink());
        }
        QCOMPARE(Settings::path().isEmpty() ? QString() : Settings::path(),
                 written.isEmpty() ? Settings::path() : home->filePath(written));
        if (written.isEmpty()) {
            return;
        }
        QCOMPARE(QSettings(home->filePath(written), QSettings::IniFormat).allKeys(),
                 QStringList{"tape/keep"});
        QVERIFY(!Settings::load().keepTape());
        struct stat st {};
        QVERIFY(::stat(home->filePath(written).toLocal8Bit(), &st) == 0);
        QCOMPARE(st.st_mode & 0777, 0600u);
        QVERIFY(::stat(QFileInfo(home->filePath(written)).path().toLocal8Bit(), &st) == 0);
        QCOMPARE(st.st_mode & 0777, 0700u);
    }

    // A window writes only what it changed: another's choice made meanwhile
    // stands when the first closes.
    void settingsOnlyTheChangedKey_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::newRow("keep tape off") << "tape/keep"
                                       << "false";
        QTest::newRow("keep on top") << "keepOnTop"
                                     << "true";
    }
    void settingsOnlyTheChangedKey() {
        QFETCH(QString, key);
        QFETCH(QString, value);
        calc->toggleTape();
        Calculator other(&quillo::dispatch, QStringLiteral("Quillo-v2"));
        if (key == "tape/keep") {
            other.setKeepTape(false);
        } else {
            other.setKeepOnTop(true);
        }
        calc->close();
        const QSettings file(Settings::path(), QSettings::IniFormat);
        QCOMPARE(file.value(key).toString(), value);
        QCOMPARE(file.value("tape/open").toString(), QString("true"));
    }

    // Enter or a double-click on a line, of this run or an earlier one, puts
    // its result into the display as the engine wrote it: one step. A line
    // that ends on no result changes nothing.
    void lineResultReused_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("earlier");  // typed in the run before
        QTest::addColumn<bool>("click");    // a double-click, not Enter
        QTest::addColumn<QString>("shown"); // the display after; "": refused
        QTest::newRow("negative") << "2-7=" << false << false << "-5";
        QTest::newRow("exponent") << "1856231056q" << false << true << "3.44559373325887E+18";
        QTest::newRow("huge") << "15" + QString(297, u'0') + "%" << false << false << "1.5E+300";
        QTest::newRow("decimal") << "1+0.234=" << false << false << "1.234";
        QTest::newRow("earlier run's") << "2-7=" << true << false << "-5";
        QTest::newRow("no result") << "8/0=" << false << false << "";
    }
    void lineResultReused() {
        QFETCH(QString, typed);
        QFETCH(bool, earlier);
        QFETCH(bool, click);
        QFETCH(QString, shown);
        QTimer answer; // the zero divisor's warning
        connect(&answer, &QTimer::timeout, [] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                box->button(QMessageBox::Ok)->click();
            }
        });
        answer.start(1);
        QTest::keyClicks(calc.get(), "\033" + typed);
        if (earlier) {
            calc.reset();
            calc = std::make_unique<Calculator>(&quillo::dispatch, QStringLiteral("Quillo-v2"));
            calc->show();
        }
        QTest::keyClicks(calc.get(), "\0334+");
        const QString before = displayOf(*calc);
        calc->toggleTape();
        auto* list = calc->tapeWindow()->findChild<QListView*>("lines");
        if (earlier) {
            QTRY_COMPARE(list->model()->rowCount(), 3);
        }
        const QModelIndex line = list->model()->index(earlier ? 1 : 0, 0);
        list->setCurrentIndex(line);
        if (click) {
            emit list->doubleClicked(line);
        } else {
            QTest::keyClick(list, Qt::Key_Return);
        }
        QCOMPARE(displayOf(*calc), shown.isEmpty() ? before : shown);
        calc->undo();
        QCOMPARE(displayOf(*calc), before);
    }

    // Scrolled up to read, the view stays, also where older lines go as
    // new ones come; at the bottom it follows.
    void tapeScrolling_data() {
        QTest::addColumn<int>("pairs"); // "1+" typed
        QTest::newRow("a few lines") << 200;
        QTest::newRow("past the tape's bound") << 10'100;
    }
    void tapeScrolling() {
        QFETCH(int, pairs);
        calc->toggleTape();
        auto* list = calc->tapeWindow()->findChild<QListView*>("lines");
        for (int i = 0; i < pairs * 2; ++i) {
            key(i % 2 == 0 ? "Number_1" : "Operator_1")->click();
        }
        QScrollBar* bar = list->verticalScrollBar();
        QCOMPARE(bar->value(), bar->maximum());
        bar->setValue(10);
        const QString top = list->indexAt({}).data().toString();
        for (int i = 0; i < 6; ++i) {
            key(i % 2 == 0 ? "Number_1" : "Operator_1")->click();
        }
        QTRY_COMPARE(list->indexAt({}).data().toString(), top);
        bar->setValue(bar->maximum());
        key("Number_1")->click();
        key("Operator_1")->click();
        QCOMPARE(bar->value(), bar->maximum());
    }

    // The list holds the tape's bound of lines at most: past it, the
    // earlier runs' lines go, oldest first, whether the tape was open while
    // the lines came or opened after.
    void tapeBound_data() {
        QTest::addColumn<int>("earlier"); // "1+" typed in the run before
        QTest::addColumn<int>("pairs");   // ...and in this one
        QTest::addColumn<bool>("openFirst");
        QTest::addColumn<int>("earlierLeft");
        QTest::newRow("opened after") << 300 << 10'100 << false << 0;
        QTest::newRow("open meanwhile") << 300 << 10'100 << true << 0;
        QTest::newRow("some left") << 300 << 9'901 << true << 100;
    }
    void tapeBound() {
        QFETCH(int, earlier);
        QFETCH(int, pairs);
        QFETCH(bool, openFirst);
        QFETCH(int, earlierLeft);
        QTest::keyClicks(calc.get(), "\033" + QString("1+").repeated(earlier));
        calc.reset();
        calc = std::make_unique<Calculator>(&quillo::dispatch, QStringLiteral("Quillo-v2"));
        if (openFirst) {
            calc->toggleTape();
            QTRY_VERIFY(calc->tapeWindow()->model()->rowCount() > 0);
        }
        for (int i = 0; i < pairs * 2; ++i) {
            key(i % 2 == 0 ? "Number_1" : "Operator_1")->click();
        }
        calc->toggleTape();
        TapeModel* model = calc->tapeWindow()->model();
        int thisRun = 0, kept = 0;
        for (int row = 0; row < model->rowCount(); ++row) {
            const auto kind = model->line(row).kind;
            thisRun += kind == TapeModel::Line::Kind::ThisRun;
            kept += kind == TapeModel::Line::Kind::Earlier;
        }
        QCOMPARE(thisRun, int(calc->session().engine().tape().size()));
        QCOMPARE(kept, earlierLeft);
        QCOMPARE(model->rowCount(), thisRun + kept + (kept > 0 ? 2 : 0));
    }

    // A heading is no line: Delete on it changes nothing.
    void deleteOnAHeading_data() {
        QTest::addColumn<bool>("own"); // this run's heading, or the earlier run's
        QTest::newRow("earlier run's") << false;
        QTest::newRow("this run's") << true;
    }
    void deleteOnAHeading() {
        QFETCH(bool, own);
        QTest::keyClicks(calc.get(), "\0331+2=");
        calc.reset();
        calc = std::make_unique<Calculator>(&quillo::dispatch, QStringLiteral("Quillo-v2"));
        QTest::keyClicks(calc.get(), "\0333+4=");
        calc->toggleTape();
        auto* list = calc->tapeWindow()->findChild<QListView*>("lines");
        TapeModel* model = calc->tapeWindow()->model();
        QTRY_COMPARE(model->rowCount(), 4);
        const int row = own ? 2 : 0;
        QCOMPARE(model->line(row).kind, TapeModel::Line::Kind::Heading);
        const QString before = calc->tapeWindow()->model()->text();
        list->setCurrentIndex(model->index(row, 0));
        QTest::keyClick(list, Qt::Key_Delete);
        QCOMPARE(model->text(), before);
        QCOMPARE(calc->session().engine().tape().text(), std::string("3 + 4 = 7\n"));
    }

    // A state folder that cannot be had: the calculator works, and the tape
    // says why its lines are not kept.
    void keptTapeProblem() {
        calc.reset();
        QFile blocker(home->filePath("state"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        calc = std::make_unique<Calculator>(&quillo::dispatch, QStringLiteral("Quillo-v2"));
        QTest::keyClicks(calc.get(), "12+3=");
        QCOMPARE(displayOf(*calc), QString("15"));
        calc->toggleTape();
        auto* problem = calc->tapeWindow()->findChild<QLabel*>("problem");
        QTRY_VERIFY(problem->isVisible());
        QVERIFY2(problem->text().contains("not kept"), qPrintable(problem->text()));
    }

    // No key runs inside another: one arriving while the zero-divisor warning
    // is open (a screen reader's action, a timer, a paste) is dropped.
    void keyInsideAKeyIsDropped() {
        for (const char* k : {"Number_8", "Operator_0", "Number_0"}) {
            click(k);
        }
        auto* poll = new QTimer(this);
        poll->setInterval(5);
        bool pressedInside = false;
        connect(poll, &QTimer::timeout, this, [&, poll] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr) {
                return;
            }
            poll->stop();
            poll->deleteLater();
            key("Number_5")->click();
            QAccessible::queryAccessibleInterface(key("Operator_1"))
                ->actionInterface()
                ->doAction(QAccessibleActionInterface::pressAction());
            QGuiApplication::clipboard()->setText("7");
            calc->paste();
            QTest::qWait(150); // past the press action's delayed click
            pressedInside = true;
            box->button(QMessageBox::Ok)->click();
        });
        poll->start();
        click("Operator_4");
        QVERIFY(pressedInside);
        QCOMPARE(displayOf(*calc), QString("8."));
        QCOMPARE(calc->engineState().PendingOperator, quillo::Variant::text("="));
        QCOMPARE(calc->engineState().OperandCount, std::int16_t(1));
        calc->copyKeys();
        QCOMPARE(QGuiApplication::clipboard()->text(), QString("8\n/\n0\n=\n"));
    }

    // Shortcut markers that a desktop theme puts into the keys' texts are not
    // part of the captions the engine reads.
    void themeMarkers() {
        for (QAbstractButton* b : calc->findChildren<QAbstractButton*>()) {
            QString text = b->text();
            b->setText(text.insert(text.size() > 1 ? 1 : 0, '&'));
        }
        QCOMPARE(key("Operator_5")->text(), QString("x&^y"));
        for (const char* k :
             {"Number_7", "Operator_2", "Number_2", "Operator_5", "Number_2", "Operator_4"}) {
            click(k);
        }
        QCOMPARE(displayOf(*calc), QString("196"));
    }

    // A text wider than the display is drawn smaller, and past the smallest
    // size its end is drawn behind an ellipsis mark; the text stays whole.
    void displayFits_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("whole");
        QTest::newRow("short") << "12." << true;
        QTest::newRow("20-character result") << " 9.9999920000028E+55" << true;
        QTest::newRow("40 digits") << QString(39, '4') + "." << false;
        QTest::newRow("2000 digits") << QString(1999, '8') + "." << false;
    }

    void displayFits() {
        QFETCH(QString, text);
        QFETCH(bool, whole);
        auto* display = calc->findChild<DisplayLabel*>("Readout");
        display->setText(text);
        const DisplayLabel::Fit fit = display->fit();
        QCOMPARE(display->text(), text);
        QVERIFY(fit.font.pointSizeF() >= DisplayLabel::kMinimumPointSize);
        QVERIFY(QFontMetricsF(fit.font).horizontalAdvance(fit.shown) <= display->textWidth());
        if (whole) {
            QCOMPARE(fit.shown, text);
        } else {
            QVERIFY2(fit.shown.startsWith(QChar(0x2026)), qPrintable(fit.shown));
            QVERIFY(text.endsWith(fit.shown.mid(1)));
            QVERIFY(fit.shown.size() > 10);
        }
        QVERIFY(!display->grab().isNull());
    }

    void accessibility_data() {
        QTest::addColumn<QString>("object");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("binding");
        const char* rows[][3] = {
            {"Number_0", "0", "0"},
            {"Number_9", "9", "9"},
            {"Decimal", "point", "."},
            {"Operator_1", "plus", "+"},
            {"Operator_3", "minus", "-"},
            {"Operator_2", "multiply", "*"},
            {"Operator_0", "divide", "/"},
            {"Operator_5", "x to the power y", "^"},
            {"Operator_4", "equals", "="},
            {"Percent", "percent", "%"},
            {"cmdsq", "x squared", "q"},
            {"cmdqr", "x cubed", "c"},
            {"cmdsqrt", "square root", "r"},
            {"Cancel", "clear", "Esc"},
            {"CancelEntry", "clear entry", "Del"},
            {"cmdexit", "exit", ""},
            {"pic1", "Welcome notice", "Esc"},
        };
        for (const auto& r : rows) {
            QTest::newRow(r[0]) << QString(r[0]) << QString(r[1]) << QString(r[2]);
        }
    }

    void accessibility() {
        QFETCH(QString, object);
        QFETCH(QString, name);
        QFETCH(QString, binding);
        auto* w = calc->findChild<QWidget*>(object);
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
        QCOMPARE(a->text(QAccessible::Name), name);
        QCOMPARE(a->text(QAccessible::Description), w->toolTip());
        QAccessibleActionInterface* actions = a->actionInterface();
        QVERIFY(actions != nullptr);
        const QString press = QAccessibleActionInterface::pressAction();
        QVERIFY(actions->actionNames().contains(press));
        QCOMPARE(actions->keyBindingsForAction(press).value(0), binding);
    }

    // The window is a frame named by its title; the display reads as text;
    // every change of it is sent as a text event and announced.
    void screenReader() {
        QAccessibleInterface* frame = QAccessible::queryAccessibleInterface(calc.get());
        QCOMPARE(frame->role(), QAccessible::Window);
        QCOMPARE(frame->text(QAccessible::Name), QString("Quillo-v2"));

        static QList<std::pair<QAccessible::Event, QString>> events;
        events.clear();
        QAccessible::installUpdateHandler([](QAccessibleEvent* e) {
            QString detail = e->object()->objectName();
            if (e->type() == QAccessible::TextUpdated) {
                detail += ":" + static_cast<QAccessibleTextUpdateEvent*>(e)->textInserted();
            } else if (e->type() == QAccessible::ObjectShow) {
                detail += ":" + e->accessibleInterface()->text(QAccessible::Name);
            }
            events << std::pair{e->type(), detail};
        });
        QGuiApplicationPrivate::platformIntegration()->accessibility()->setActive(true);
        for (const char* k :
             {"Number_1", "Number_2", "Operator_1", "Number_3", "Operator_4", "Cancel"}) {
            click(k);
        }
        click("Cancel"); // no change, nothing said
        QGuiApplicationPrivate::platformIntegration()->accessibility()->setActive(false);
        QAccessible::installUpdateHandler(nullptr);

        QStringList shown, texts;
        for (const auto& [type, detail] : events) {
            if (type == QAccessible::ObjectShow) {
                shown << detail;
            } else if (type == QAccessible::TextUpdated) {
                texts << detail;
            }
        }
        QCOMPARE(texts, QStringList({"Readout:1.", "Readout:12.", "Readout:3.", "Readout:15",
                                     "Readout:0."}));
        QCOMPARE(shown, QStringList({"Announcer:1", "Announcer:12", "Announcer:3", "Announcer:15",
                                     "Announcer:0"}));
        auto* announcer = calc->findChild<QWidget*>("Announcer");
        QCOMPARE(announcer->focusPolicy(), Qt::NoFocus);
        QCOMPARE(QAccessible::queryAccessibleInterface(announcer)->role(),
                 QAccessible::Notification);

        auto* readout = calc->findChild<QLabel*>("Readout");
        readout->setText(QString(300, '9') + ".");
        QAccessibleTextInterface* text =
            QAccessible::queryAccessibleInterface(readout)->textInterface();
        QVERIFY(text != nullptr);
        QCOMPARE(text->characterCount(), 301);
        QCOMPARE(text->text(0, 301), readout->text());
        QCOMPARE(text->text(298, 301), QString("99."));

        // Press actions: the welcome notice closes; a key pressed twice in
        // quick succession counts twice.
        const auto pressIt = [](QWidget* w) {
            QAccessible::queryAccessibleInterface(w)->actionInterface()->doAction(
                QAccessibleActionInterface::pressAction());
        };
        auto* cover = calc->findChild<QWidget*>("pic1");
        pressIt(cover);
        pressIt(key("Number_4"));
        pressIt(key("Number_4"));
        QTRY_VERIFY(!cover->isVisible());
        QTRY_COMPARE(displayOf(*calc), QString("44."));
    }

    void pictures_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QSize>("size");
        QTest::newRow("background") << ":/pictures/background.png" << QSize(353, 263);
        QTest::newRow("cover") << ":/pictures/cover.ppm" << QSize(274, 272);
        QTest::newRow("farewell") << ":/pictures/farewell.png" << QSize(209, 289);
        QTest::newRow("icon") << ":/pictures/icon.png" << QSize(32, 32);
        QTest::newRow("background@2x") << ":/pictures/background@2x.png" << QSize(706, 526);
        QTest::newRow("cover@2x") << ":/pictures/cover@2x.ppm" << QSize(548, 544);
        QTest::newRow("farewell@2x") << ":/pictures/farewell@2x.png" << QSize(418, 578);
        QTest::newRow("icon@2x") << ":/pictures/icon@2x.png" << QSize(64, 64);
    }

    void pictures() {
        QFETCH(QString, path);
        QFETCH(QSize, size);
        QImageReader reader(path);
        reader.setAutoDetectImageFormat(true);
        const QImage image = reader.read();
        QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
        QCOMPARE(image.size(), size);
        QVERIFY(!image.hasAlphaChannel());
        if (path.endsWith("icon.png")) {
            QCOMPARE(image.format(), QImage::Format_Indexed8);
            QVERIFY(image.colorCount() <= 16);
        }
    }

    // Both pictures are drawn unscaled from their top-left corner, clipped,
    // from the rendering that suits the screen (run again at twice the scale):
    // where no control covers them they show pixel for pixel.
    void picturesDrawnUnscaled() {
        const QImage shot = calc->grab().toImage();
        const qreal ratio = shot.devicePixelRatio();
        const QString scale = ratio > 1 ? "@2x" : "";
        const QImage background(":/pictures/background" + scale + ".png");
        const QImage cover(":/pictures/cover" + scale + ".ppm");
        auto part = [&](const QImage& image, QRect r) {
            QImage copy =
                image.copy(QRectF(QPointF(r.topLeft()) * ratio, QSizeF(r.size()) * ratio).toRect())
                    .convertToFormat(QImage::Format_RGB32);
            copy.setDevicePixelRatio(1);
            return copy;
        };
        // The background left of the controls and right of them above Exit;
        // the cover left of Exit (pic1 is at 40, 0).
        for (const QRect r : {QRect(0, 0, 8, 262), QRect(328, 0, 21, 232)}) {
            QCOMPARE(part(shot, r), part(background, r));
        }
        QCOMPARE(part(shot, QRect(40, 0, 248, 262)), part(cover, QRect(0, 0, 248, 262)));
    }

    // The tape's frame beside a calculator framed 351x283 at `at`, its
    // display at 9,28; the tape 264x110 at least, framed by 1, 20, 1, 5.
    void tapePlacement() {
        const std::tuple<const char*, QRect, QPoint, QSize, QRect, QPoint> rows[] = {
            {"1280x1024", {0, 0, 1280, 1024}, {464, 370}, {340, 262}, {823, 370, 342, 287}, {}},
            {"tape 500x400", {0, 0, 1280, 1024}, {464, 370}, {500, 400}, {823, 370, 457, 425}, {}},
            {"1024x768", {0, 0, 1024, 768}, {336, 242}, {340, 262}, {695, 242, 329, 287}, {}},
            {"800x600", {0, 0, 800, 600}, {224, 158}, {340, 262}, {224, 449, 342, 151}, {}},
            {"none whole", {0, 0, 700, 560}, {60, 0}, {340, 262}, {60, 291, 342, 269}, {}},
            {"640x480", {0, 0, 640, 480}, {144, 98}, {340, 262}, {374, 345, 266, 135}, {}},
            {"display clear", {0, 0, 420, 330}, {69, 47}, {340, 262}, {0, 195, 266, 135}, {}},
            {"right edge", {0, 0, 1280, 1024}, {920, 100}, {340, 262}, {570, 100, 342, 287}, {}},
            {"bottom edge", {0, 0, 700, 900}, {175, 617}, {340, 262}, {175, 322, 342, 287}, {}},
            {"left screen",
             {-1280, 0, 1280, 1024},
             {-360, 400},
             {340, 262},
             {-710, 400, 342, 287},
             {}},
            {"where it was",
             {0, 0, 1280, 1024},
             {464, 370},
             {340, 262},
             {64, 0, 342, 287},
             {-400, -370}},
            {"where it was, now over",
             {0, 0, 1280, 1024},
             {464, 370},
             {340, 262},
             {823, 370, 342, 287},
             {100, 0}},
            {"where it was, now off screen",
             {0, 0, 800, 600},
             {224, 158},
             {340, 262},
             {224, 449, 342, 151},
             {600, 0}},
        };
        for (const auto& [name, screen, at, preferred, expected, offset] : rows) {
            const QRect frame = placement::tapeFrame({screen,
                                                      {at, QSize(351, 283)},
                                                      {at + QPoint(9, 28), QSize(200, 25)},
                                                      QMargins(1, 20, 1, 5),
                                                      QSize(264, 110),
                                                      preferred,
                                                      offset,
                                                      !offset.isNull()});
            QVERIFY2(frame == expected, name);
        }
    }

    // The tape comes back at the next start where the user left it and at
    // the size they gave it.
    void tapeGeometryRestored_data() {
        QTest::addColumn<QPoint>("offset"); // from the calculator's frame
        QTest::addColumn<QSize>("size");
        QTest::newRow("right, larger") << QPoint(380, 0) << QSize(400, 500);
        QTest::newRow("below, smaller") << QPoint(20, 300) << QSize(300, 200);
    }
    void tapeGeometryRestored() {
        QFETCH(QPoint, offset);
        QFETCH(QSize, size);
        calc->move(0, 0);
        calc->toggleTape();
        TapeWindow* tape = calc->tapeWindow();
        tape->resize(size);
        tape->move(calc->frameGeometry().topLeft() + offset);
        QTest::qWait(10);
        tape->close();
        calc.reset();
        calc = std::make_unique<Calculator>(&quillo::dispatch, QStringLiteral("Quillo-v2"));
        calc->move(0, 0);
        calc->show();
        calc->toggleTape();
        tape = calc->tapeWindow();
        QCOMPARE(tape->size(), size);
        QCOMPARE(tape->frameGeometry().topLeft() - calc->frameGeometry().topLeft(), offset);
    }

    // Opened with the newest line current, as a frame; moved off the
    // calculator after a resize over it; closed by Escape only once the
    // calculator has the keyboard, the keys sent to it meanwhile and after
    // passed on; shown again when minimised, the menu's tick off meanwhile.
    void tapeOpenAndClose() {
        QTest::keyClicks(calc.get(), "\033" + QString("1+").repeated(100)); // the notice first
        calc->toggleTape();
        TapeWindow* tape = calc->tapeWindow();
        auto* list = tape->findChild<QListView*>("lines");
        QCOMPARE(list->currentIndex().row(), list->model()->rowCount() - 1);
        QCOMPARE(QAccessible::queryAccessibleInterface(tape)->role(), QAccessible::Window);
        tape->setGeometry(calc->geometry());
        QTRY_VERIFY(!tape->frameGeometry().intersects(calc->frameGeometry()));

        QVERIFY(QTest::qWaitForWindowActive(tape));
        QTest::keyClicks(list, "\0335\0331+");
        QVERIFY(tape->isVisible() && !calc->isActiveWindow());
        QTRY_VERIFY(!tape->isVisible() && calc->isActiveWindow());
        QTest::keyClicks(list, "2=");
        QCOMPARE(displayOf(*calc), QString("3"));

        calc->toggleTape();
        tape->showMinimized();
        emit calc->findChild<QLabel*>("Readout")->customContextMenuRequested(QPoint(1, 1));
        QVERIFY(!calc->findChild<QAction*>("actionTape")->isChecked());
        calc->toggleTape();
        QVERIFY(tape->isVisible() && !tape->isMinimized());
    }

    // A failed save names the cause and leaves the folder as it was. The file
    // systems are small ones of the test's own where it may mount them (as
    // root); elsewhere a file size limit stands in for a full one.
    void tapeSaveFailures() {
        QTest::keyClicks(calc.get(), QString("1+").repeated(500)); // about 8 KB of lines
        calc->toggleTape();
        QTemporaryDir scratch;
        const QString full = scratch.filePath("full"), readOnly = scratch.filePath("read-only"),
                      folder = scratch.filePath("folder");
        auto put = [](const QString& path, const QByteArray& bytes) {
            QFile file(path);
            return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
        };
        auto mount = [&](const QString& dir, unsigned long flags) { // 16 KB and the old file
            const QByteArray at = dir.toLocal8Bit();
            return ::mount("tmpfs", at, "tmpfs", 0, "size=16k") == 0 &&
                   put(dir + "/tape.txt", "old\n") &&
                   ::mount("tmpfs", at, "tmpfs", MS_REMOUNT | flags, nullptr) == 0;
        };
        for (const QString& dir : {full, readOnly}) {
            QVERIFY(QDir().mkpath(dir) && put(dir + "/tape.txt", "old\n"));
        }
        QVERIFY(QDir().mkpath(folder + "/tape.txt"));
        const bool own = mount(full, 0) && put(full + "/filler", QByteArray(8192, 'x')) &&
                         mount(readOnly, MS_RDONLY); // 4 KB left in the full one
        if (!own) {
            qInfo(
                "No file system of the test's own: a full one is a file size limit, no read-only");
        }
        const rlimit limit{own ? RLIM_INFINITY : 4096, RLIM_INFINITY};
        const rlimit unlimited{RLIM_INFINITY, RLIM_INFINITY};
        std::signal(SIGXFSZ, SIG_IGN);
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const auto restore = qScopeGuard([&] {
            ::setrlimit(RLIMIT_FSIZE, &unlimited);
            ::umount2(full.toLocal8Bit(), MNT_DETACH);
            ::umount2(readOnly.toLocal8Bit(), MNT_DETACH);
        });
        const std::pair<QString, QString> rows[] = {
            {full, own ? "No space left on device" : "File too large"},
            {readOnly, own ? "Existing file " + readOnly + "/tape.txt is not writable" : ""},
            {scratch.filePath("vanished"), "No such file or directory"},
            {folder, "Filename refers to a directory"},
        };
        for (const auto& [dir, cause] : rows) {
            auto state = [&dir] {
                QFile file(dir + "/tape.txt");
                return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden).join(' ') +
                       (file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray());
            };
            const QString before = state();
            QString error;
            QVERIFY2(cause.isEmpty() || !calc->tapeWindow()->saveTo(dir + "/tape.txt", &error),
                     qPrintable(dir));
            QCOMPARE(error, cause);
            QCOMPARE(state(), before);
        }
    }

    // The Correct item, and F2, on lines that cannot be corrected: an earlier
    // run's line or heading, this run's heading, a line with no number, or no
    // line at all. F2 says why in a box and opens no editor; the item says
    // it too, greyed and still reached by the arrows.
    void correctionNotOffered_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("why");
        // An earlier run's heading and 12 + 3 = 15, this run's heading, 2 + 2 = 4, --------.
        QTest::newRow("earlier heading") << 0 << "A heading";
        QTest::newRow("earlier line") << 1 << "earlier run";
        QTest::newRow("this run's heading") << 2 << "A heading";
        QTest::newRow("no number") << 4 << "This line holds no number";
        QTest::newRow("no line") << -1 << "Choose a line";
    }
    void correctionNotOffered() {
        QTest::keyClicks(calc.get(), "12+3=");
        calc = std::make_unique<Calculator>(&quillo::dispatch, QStringLiteral("Quillo-v2"));
        calc->show();
        QTest::keyClicks(calc.get(), "2+2=");
        click("Cancel");
        calc->toggleTape();
        TapeWindow* tape = calc->tapeWindow();
        auto* list = tape->findChild<QListView*>("lines");
        QTRY_COMPARE(list->model()->rowCount(), 5);
        QFETCH(int, row);
        list->setCurrentIndex(list->model()->index(row, 0));
        QFETCH(QString, why);
        BoxSeen seen;
        answerNextBox(QMessageBox::Ok, &seen);
        QTest::keyClick(list, Qt::Key_F2);
        QTRY_VERIFY(seen.shown);
        QVERIFY2(seen.informative.contains(why), qPrintable(seen.informative));
        QVERIFY(tape->findChild<CorrectionEditor*>() == nullptr);
        QCOMPARE(list->model()->rowCount(), 5);
        emit list->customContextMenuRequested(QPoint(5, 5));
        auto* menu = tape->findChild<QMenu*>("TapeMenu");
        QTRY_VERIFY(menu->isVisible());
        auto* item = menu->findChild<QAction*>("actionCorrect");
        QVERIFY(!item->isEnabled());
        QVERIFY2(item->toolTip().contains(why), qPrintable(item->toolTip()));
        QVERIFY(menu->toolTipsVisible());
        // The arrows reach the greyed item, whose text says why.
        for (qsizetype i = 0; i < menu->actions().size() && menu->activeAction() != item; ++i) {
            QTest::keyClick(menu, Qt::Key_Down);
        }
        QCOMPARE(menu->activeAction(), item);
        QVERIFY2(item->text().contains(why), qPrintable(item->text()));
        menu->hide();
    }

    // The editor by keyboard on "12 + 3 = 15" (12 and 3 typed): the focus
    // starts on 12; what the keys cannot type is refused in the field and
    // nothing runs on it; Enter applies one changed number, Escape cancels.
    void correctionEditor_data() {
        QTest::addColumn<QString>("keys");
        QTest::addColumn<int>("index"); // the number applied; -1: none
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("problem"); // said beside the field; "": none
        QTest::addColumn<QString>("shows");
        QTest::addColumn<bool>("open");
        QTest::addColumn<bool>("afterComputed"); // "15 X 2 = 30", 15 computed
        QTest::newRow("first") << QString("7\r") << 0 << "7"
                               << ""
                               << "would show 99." << false << false;
        QTest::newRow("second by Tab, with later lines changing")
            << QString("\t30\r") << 1 << "30"
            << ""
            << "would show 99.; 2 lines below change" << false << false;
        QTest::newRow("leading minus") << QString("-4\r") << 0 << "-4"
                                       << ""
                                       << "would show" << false << false;
        QTest::newRow("refused by a later key, still applied")
            << QString("0\r") << 0 << "0"
            << ""
            << "On the line «99 / 0: Can't divide by zero», the key \"/\" would now divide by zero"
            << false << false;
        QTest::newRow("Escape") << QString("7\x1b") << -1 << ""
                                << ""
                                << "would show" << false << false;
        QTest::newRow("unchanged") << QString("\r") << -1 << ""
                                   << ""
                                   << "Nothing changed" << true << false;
        const QString form = "use digits, one point and a leading minus only";
        QTest::newRow("letter") << QString("7a\r") << -1 << "" << form << "" << true << false;
        QTest::newRow("two points") << QString("1.2.\r") << -1 << "" << form << "" << true << false;
        QTest::newRow("minus inside") << QString("1-\r") << -1 << "" << form << "" << true << false;
        QTest::newRow("emptied") << QString("\b\r") << -1 << ""
                                 << "Type a number"
                                 << "" << true << false;
        QTest::newRow("1,001 digits") << QString(1001, '1') + "\r" << -1 << ""
                                      << "at most 1,000 characters"
                                      << "" << true << false;
        QTest::newRow("after a computed number") << QString("7\r") << 1 << "7"
                                                 << ""
                                                 << "would show" << false << true;
    }
    void correctionEditor() {
        QStringList previewed;
        auto preview = [&previewed](std::size_t index, std::string_view text) {
            previewed << QString::number(index) + ":" + QString::fromUtf8(text.data(), text.size());
            quillo::Session::Preview p{"99.", std::nullopt, text == "30" ? 2u : 0u};
            if (text == "0") {
                p.refused = quillo::Refusal{quillo::Refusal::Why::DivideByZero,
                                            quillo::ErrorKind::DivisionByZero, 7, "/",
                                            "99 / 0: Can't divide by zero"};
            }
            return p;
        };
        QFETCH(bool, afterComputed);
        CorrectionEditor editor(
            afterComputed ? "15 X 2 = 30" : "12 + 3 = 15",
            {number(0, 2, !afterComputed), number(5, 1, true), number(9, 2, false)}, preview,
            calc.get());
        QSignalSpy applied(&editor, &CorrectionEditor::applied);
        editor.show();
        QVERIFY(QTest::qWaitForWindowActive(&editor));
        const auto& fields = editor.fields();
        // Computed numbers are plain text.
        QCOMPARE(fields.size(), std::size_t(afterComputed ? 1 : 2));
        // Named by their place on the line, computed numbers counted.
        QCOMPARE(fields[0]->accessibleName(),
                 QString(afterComputed ? "second number" : "first number"));
        QCOMPARE(fields.back()->accessibleName(), QString("second number"));
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(fields[0]));

        QFETCH(QString, keys);
        typeKeys(keys);
        QFETCH(int, index);
        QFETCH(QString, text);
        QCOMPARE(applied.size(), index < 0 ? 0 : 1);
        if (index >= 0) {
            QCOMPARE(applied[0][0].toInt(), index);
            QCOMPARE(applied[0][1].toString(), text);
            QCOMPARE(previewed.last(), QString("%1:%2").arg(index).arg(text));
        }
        QFETCH(QString, problem);
        auto* reason = editor.findChild<QLabel*>("fieldProblem");
        QCOMPARE(reason->isVisible(), !problem.isEmpty());
        QVERIFY2(reason->text().contains(problem), qPrintable(reason->text()));
        QFETCH(bool, open);
        // Left open, the editor has nothing it could apply.
        QVERIFY(!open || !editor.findChild<QPushButton*>("apply")->isEnabled());
        if (!problem.isEmpty()) {
            // Nothing ran on the refused text; the other field waits.
            QVERIFY(!previewed.contains("0:" + fields[0]->text()));
            QVERIFY(fields.back()->isReadOnly());
        }
        QFETCH(QString, shows);
        const QString shown = editor.findChild<QLabel*>("preview")->text();
        QVERIFY2(shows.isEmpty() ? shown.isEmpty() : shown.contains(shows), qPrintable(shown));
        // Applied, it stays open until its receiver knows the outcome.
        QCOMPARE(editor.isVisible(), open || index >= 0);
    }

    // A refused correction's box at the dispatch point: which line's key
    // fails and why, the zero divisor in its own warning's style; the
    // editor's preview in the same words.
    void correctionRefusedBox_data() {
        using Why = quillo::Refusal::Why;
        QTest::addColumn<int>("why");
        QTest::addColumn<int>("error");
        QTest::addColumn<int>("line");
        QTest::addColumn<QString>("informative");
        const std::tuple<const char*, Why, quillo::ErrorKind, int, const char*> rows[] = {
            {"zero divisor",
             Why::DivideByZero,
             {},
             0,
             "On the line «12 / 3 = 4», the key \"/\" would now divide by zero. The correction "
             "was not made."},
            {"key fails", Why::KeyFails, quillo::ErrorKind::Overflow, 0,
             "On the line «12 / 3 = 4», the key \"/\" would now fail: Overflow."},
            {"line out of view", Why::KeyFails, quillo::ErrorKind::InvalidArgument, 99,
             "On a later line, the key \"/\" would now fail: Invalid procedure call or argument."},
            {"not a number", Why::NotANumber, {}, 0, "cannot type the new number"},
            {"minus", Why::MinusHere, {}, 0, "A minus cannot be typed"},
            {"computed", Why::Computed, {}, 0, "worked out by the calculator"},
            {"too old", Why::NotCorrectable, {}, 0, "typed too long ago"},
            {"too long", Why::TooLong, {}, 0, "at most 1,000 characters"},
            {"across a clear", Why::AcrossClear, {}, 0, "The tape was cleared"},
        };
        for (const auto& [name, why, error, line, informative] : rows) {
            QTest::newRow(name) << int(why) << int(error) << line << QString(informative);
        }
    }
    void correctionRefusedBox() {
        QTest::keyClicks(calc.get(), "12/3=");
        QFETCH(int, why);
        QFETCH(int, error);
        QFETCH(int, line);
        quillo::Refusal refusal{quillo::Refusal::Why(why), quillo::ErrorKind(error),
                                std::uint64_t(line), "/", ""};
        const quillo::Tape& tape = calc->session().engine().tape();
        if (tape.shown(refusal.line)) {
            refusal.lineText = tape.at(refusal.line);
        }
        BoxSeen seen;
        answerNextBox(QMessageBox::Ok, &seen);
        QVERIFY(!quillo::dispatch(calc.get(), [&] { throw quillo::CorrectionRefused(refusal); }));
        QVERIFY(seen.shown);
        // The zero divisor in its own warning's words; the rest in the program's.
        const bool zero = refusal.why == quillo::Refusal::Why::DivideByZero;
        QCOMPARE(seen.title, QString(zero ? "Calculator" : "Quillo-v2"));
        QCOMPARE(seen.text,
                 QString(zero ? "Can't divide by zero" : "The correction was not made."));
        QCOMPARE(seen.icon, QMessageBox::Warning);
        QFETCH(QString, informative);
        QVERIFY2(seen.informative.contains(informative), qPrintable(seen.informative));
        // The editor's preview says the same, in the same words.
        CorrectionEditor editor(
            "12 / 3 = 4", {number(0, 2, true), number(5, 1, true)},
            [&](std::size_t, std::string_view) {
                return quillo::Session::Preview{"4", refusal, 0};
            },
            calc.get());
        editor.fields()[1]->setText("0");
        const QString preview = editor.findChild<QLabel*>("preview")->text();
        QVERIFY2(seen.informative.startsWith(preview.mid(preview.indexOf(". ") + 2)),
                 qPrintable(preview));
    }

    // With the engine's correction: F2 on a typed number, the editor by
    // keyboard, the line rewritten and marked, one step for Ctrl+Z and
    // Ctrl+Y in either window; a zero divisor refused with nothing changed.
    void correctionApplied_data() {
        QTest::addColumn<bool>("undoInTape");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("afterReuse"); // typed after Enter on the first line; "": none
        QTest::addColumn<QString>("before");     // the lines
        QTest::addColumn<QString>("number");     // the first number typed anew
        QTest::addColumn<QString>("preview");
        QTest::addColumn<QString>("shown"); // the display, before and after
        QTest::addColumn<QString>("after");
        QTest::addColumn<int>("noted"); // the row whose tooltip says more
        QTest::addColumn<QString>("note");
        const QString plain = "12 + 3 = 15\n15 X 2 = 30\n";
        const QString plainCorrected = "5 + 3 = 8\n8 X 2 = 16\n";
        QTest::newRow("undo in the tape")
            << true << "12+3=X2="
            << "" << plain << "5"
            << "would show 16"
            << "30,16" << plainCorrected << 0 << "Corrected: 5 was 12";
        QTest::newRow("undo in the calculator")
            << false << "12+3=X2="
            << "" << plain << "5"
            << "would show 16"
            << "30,16" << plainCorrected << 0 << "Corrected: 5 was 12";
        QTest::newRow("a reused result follows its line")
            << false << "12+3=7=X2="
            << "=+5="
            << "12 + 3 = 15\n= 7\n7 X 2 = 14\n= 15\n15 + 5 = 20\n"
            << "2"
            << "would show 10; 2 lines below change"
            << "20,10"
            << "2 + 3 = 5\n= 7\n7 X 2 = 14\n= 5\n5 + 5 = 10\n"
            << 3 << "5 follows the line «2 + 3 = 5»: it changes when that line is corrected";
    }
    void correctionApplied() {
        QFETCH(QString, typed);
        QFETCH(QString, afterReuse);
        QFETCH(QString, shown);
        const QString shownBefore = shown.section(',', 0, 0);
        const QString shownAfter = shown.section(',', 1, 1);
        QTest::keyClicks(calc.get(), typed);
        calc->toggleTape();
        TapeWindow* tape = calc->tapeWindow();
        auto* list = tape->findChild<QListView*>("lines");
        auto* model = list->model();
        if (calc->session().numbers(0).empty()) {
            QSKIP("The session finds no typed numbers on the tape in this build");
        }
        auto lines = [model] {
            QString text;
            for (int row = 0; row < model->rowCount(); ++row) {
                text += model->index(row, 0).data().toString() + '\n';
            }
            return text;
        };
        if (!afterReuse.isEmpty()) {
            list->setCurrentIndex(model->index(0, 0));
            QTest::keyClick(list, Qt::Key_Return);
            QTest::keyClicks(calc.get(), afterReuse);
        }
        QFETCH(QString, before);
        const QString typedLines = lines();
        QCOMPARE(typedLines, before);
        list->setCurrentIndex(model->index(0, 0));
        QTest::keyClick(list, Qt::Key_F2);
        auto* editor = tape->findChild<CorrectionEditor*>();
        QVERIFY(editor != nullptr);
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(editor->fields()[0]));
        QFETCH(QString, number);
        QFETCH(QString, preview);
        typeKeys(number);
        QVERIFY2(editor->findChild<QLabel*>("preview")->text().contains(preview),
                 qPrintable(editor->findChild<QLabel*>("preview")->text()));
        QCOMPARE(displayOf(*calc), shownBefore); // a preview changes nothing
        typeKeys("\r");
        QCOMPARE(displayOf(*calc), shownAfter);
        QTRY_VERIFY(tape->findChild<CorrectionEditor*>() == nullptr); // it goes once closed
        QFETCH(QString, after);
        const QString corrected = after;
        QCOMPARE(lines(), corrected);
        const QModelIndex first = model->index(0, 0);
        QCOMPARE(first.data(TapeModel::CorrectedSpansRole).toList(), QVariantList{QPoint(0, 1)});
        QCOMPARE(first.data(Qt::AccessibleDescriptionRole).toString(),
                 QString("Corrected: %1 was 12").arg(number));
        QFETCH(int, noted);
        QFETCH(QString, note);
        const QModelIndex explained = model->index(noted, 0);
        QCOMPARE(explained.data(Qt::ToolTipRole).toString(),
                 explained.data().toString() + '\n' + note);
        tape->copyAll();
        QCOMPARE(QGuiApplication::clipboard()->text(), corrected);

        QFETCH(bool, undoInTape);
        QWidget* window = undoInTape ? static_cast<QWidget*>(list) : calc.get();
        QTest::keyClick(window, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(displayOf(*calc), shownBefore);
        QCOMPARE(lines(), typedLines);
        QTest::keyClick(window, Qt::Key_Y, Qt::ControlModifier);
        QCOMPARE(displayOf(*calc), shownAfter);
        QCOMPARE(lines(), corrected);

        // 16 / 3 (16 computed) with the 3 typed as 0: refused, nothing changed.
        QTest::keyClicks(calc.get(), "/3=");
        const QString unchanged = lines();
        const QString display = displayOf(*calc);
        list->setCurrentIndex(model->index(model->rowCount() - 1, 0));
        QTest::keyClick(list, Qt::Key_F2);
        editor = tape->findChild<CorrectionEditor*>();
        QVERIFY(editor != nullptr);
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(editor->fields()[0]));
        QCOMPARE(editor->fields().size(), std::size_t(1));
        typeKeys("0");
        BoxSeen seen;
        answerNextBox(QMessageBox::Ok, &seen);
        typeKeys("\r");
        QTRY_VERIFY(seen.shown);
        QCOMPARE(seen.text, QString("Can't divide by zero"));
        QVERIFY2(seen.informative.contains("«" + shownAfter + " / 3 = "),
                 qPrintable(seen.informative));
        QCOMPARE(lines(), unchanged);
        QCOMPARE(displayOf(*calc), display);
        // What was typed stays in the editor, which keeps the keyboard.
        QVERIFY(editor->isVisible());
        QCOMPARE(editor->fields()[0]->text(), QString("0"));
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(editor->fields()[0]));
    }
};

QTEST_MAIN(WindowTest)
#include "window_test.moc"
