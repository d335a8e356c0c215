// The windows as a user meets them: the built main window against its
// control table, real clicks through the widgets, the boxes the program
// shows, the exit flow, the pictures and what a screen reader is told.

#include "calculator.h"
#include "dispatch.h"
#include "frm2.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QButtonGroup>
#include <QElapsedTimer>
#include <QImage>
#include <QImageReader>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

// What a modal message box showed before the test answered it.
struct BoxSeen {
    bool shown = false;
    QString title;
    QString text;
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

} // namespace

class WindowTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<Calculator> calc;

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
        calc = std::make_unique<Calculator>(&quillo::dispatch, QStringLiteral("Quillo-v2"));
        calc->show();
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
        BoxSeen seen;
        answerNextBox(QMessageBox::Yes, &seen);
        QElapsedTimer clock;
        clock.start();
        click("cmdexit");
        frm2* farewell = calc->farewell();
        QVERIFY(farewell != nullptr);
        QVERIFY(farewell->isVisible());
        QVERIFY(!calc->isVisible());
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
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(runUntilEnd([this] { calc->close(); }), 0);
        QVERIFY(clock.elapsed() < 2000);
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

    void accessibility() {
        for (QAbstractButton* b : calc->findChildren<QAbstractButton*>()) {
            QAccessibleInterface* a = QAccessible::queryAccessibleInterface(b);
            QVERIFY(a != nullptr);
            QCOMPARE(a->text(QAccessible::Name), b->text());
            QCOMPARE(a->text(QAccessible::Description), b->toolTip());
        }
        auto* readout = calc->findChild<QLabel*>("Readout");
        QAccessibleInterface* display = QAccessible::queryAccessibleInterface(readout);
        QCOMPARE(display->text(QAccessible::Name), QString("0."));
        click("Number_7");
        QCOMPARE(display->text(QAccessible::Name), QString("7."));
        QCOMPARE(display->text(QAccessible::Description), QString("Display"));
        QAccessibleInterface* cover =
            QAccessible::queryAccessibleInterface(calc->findChild<QLabel*>("pic1"));
        QCOMPARE(cover->text(QAccessible::Name), QString("Welcome notice"));
    }

    void pictures_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QSize>("size");
        QTest::newRow("background") << ":/pictures/background.png" << QSize(353, 263);
        QTest::newRow("cover") << ":/pictures/cover.png" << QSize(274, 272);
        QTest::newRow("farewell") << ":/pictures/farewell.png" << QSize(209, 289);
        QTest::newRow("icon") << ":/pictures/icon.png" << QSize(32, 32);
        QTest::newRow("background@2x") << ":/pictures/background@2x.png" << QSize(706, 526);
        QTest::newRow("cover@2x") << ":/pictures/cover@2x.png" << QSize(548, 544);
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
    // from the rendering that suits the screen (run again at twice the scale).
    void picturesDrawnUnscaled() {
        const QImage shot = calc->grab().toImage();
        const qreal ratio = shot.devicePixelRatio();
        const QString suffix = ratio > 1 ? "@2x.png" : ".png";
        const QImage background(":/pictures/background" + suffix);
        const QImage cover(":/pictures/cover" + suffix);
        auto at = [&](const QImage& image, QPoint p) {
            return image.pixelColor(QPointF(p * ratio).toPoint());
        };
        // Places no control covers, then the cover's corners (pic1 is at 40, 0).
        for (const QPoint p : {QPoint(2, 2), QPoint(345, 2), QPoint(2, 258), QPoint(345, 200)}) {
            QCOMPARE(at(shot, p), at(background, p));
        }
        for (const QPoint p : {QPoint(3, 3), QPoint(272, 3), QPoint(3, 261), QPoint(120, 130)}) {
            QCOMPARE(at(shot, p + QPoint(40, 0)), at(cover, p));
        }
    }
};

QTEST_MAIN(WindowTest)
#include "window_test.moc"
