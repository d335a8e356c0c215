// SPDX-License-Identifier: MIT
// The zoom and the high-contrast look as a user meets them: the window and
// its keys at each step, the keys that zoom, the look's contrast measured on
// the drawn window, and both kept for the next start.

#include "appearance.h"
#include "calculator.h"
#include "dispatch.h"
#include "display.h"
#include "tapewindow.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QToolTip>
#include <QtGui/private/qguiapplication_p.h>
#include <QtTest>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>

#include <cmath>
#include <map>
#include <memory>

namespace {

// WCAG's contrast ratio of two colours.
double contrast(QRgb a, QRgb b) {
    auto luminance = [](QRgb c) {
        auto linear = [](int v) {
            const double s = v / 255.0;
            return s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * linear(qRed(c)) + 0.7152 * linear(qGreen(c)) + 0.0722 * linear(qBlue(c));
    };
    const double x = luminance(a), y = luminance(b);
    return (std::max(x, y) + 0.05) / (std::min(x, y) + 0.05);
}

// The contrast of a caption drawn in `r`: its commonest colour, the ground,
// against the pixel that stands out from it most, the text's core.
double captionContrast(const QImage& shot, const QRect& r) {
    std::map<QRgb, int> count;
    for (int y = r.top(); y <= r.bottom(); ++y) {
        for (int x = r.left(); x <= r.right(); ++x) {
            ++count[shot.pixel(x, y)];
        }
    }
    QRgb ground = count.begin()->first;
    for (const auto& [colour, n] : count) {
        ground = n > count[ground] ? colour : ground;
    }
    double best = 1;
    for (const auto& [colour, n] : count) {
        best = std::max(best, contrast(colour, ground));
    }
    return best;
}

} // namespace

class AppearanceTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> home;
    std::unique_ptr<Calculator> calc;
    std::map<QWidget*, QRect> base; // the controls' places at 100 %

    QAbstractButton* key(int index) const {
        return calc->findChildren<QAbstractButton*>().value(index);
    }
    void start() {
        calc = std::make_unique<Calculator>(&quillo::dispatch, QStringLiteral("Quillo-v2"));
        calc->show();
        QVERIFY(QTest::qWaitForWindowExposed(calc.get()));
    }

private slots:
    void init() {
        home = std::make_unique<QTemporaryDir>();
        qputenv("XDG_STATE_HOME", home->filePath("state").toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", home->filePath("config").toLocal8Bit());
        start();
        base.clear();
        for (QWidget* w : calc->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            base[w] = w->geometry();
        }
    }
    void cleanup() {
        calc.reset();
        appearance::setZoom(100);
        appearance::setHighContrast(false);
    }

    // Every step scales the window, each control and the fonts by its factor;
    // the display's text fits; a click at a key's new place presses it; the
    // boxes, tooltips and the tape follow; 100 % gives back every pixel.
    void zoomSteps() {
        const QImage before = calc->grab().toImage();
        const qreal appFont = QApplication::font().pointSizeF();
        calc->findChild<QWidget*>("pic1")->hide();
        calc->toggleTape();
        auto* readout = calc->findChild<DisplayLabel*>("Readout");
        for (const int percent : {125, 150, 175, 200}) {
            const qreal f = percent / 100.0;
            QTest::keyClick(calc.get(), Qt::Key_Equal, Qt::ControlModifier);
            QCOMPARE(calc->zoom(), percent);
            QCOMPARE(calc->size(), QSize(std::lround(349 * f), std::lround(262 * f)));
            for (const auto& [w, r] : base) {
                const QRectF want(QPointF(r.topLeft()) * f, QSizeF(r.size()) * f);
                QVERIFY2(std::abs(w->x() - want.x()) <= 1 && std::abs(w->y() - want.y()) <= 1 &&
                             std::abs(w->width() - want.width()) <= 1 &&
                             std::abs(w->height() - want.height()) <= 1,
                         qPrintable(w->objectName()));
            }
            QCOMPARE(calc->findChild<QAbstractButton*>("Number_5")->font().pointSizeF(), 9.75 * f);
            QCOMPARE(readout->font().pointSizeF(), 12 * f);
            QCoreApplication::processEvents();
            QMessageBox box(calc.get());
            for (const qreal size :
                 {box.font().pointSizeF(), QToolTip::font().pointSizeF(),
                  calc->tapeWindow()->findChild<QListView*>()->font().pointSizeF()}) {
                QCOMPARE(size, appFont * f);
            }
            QTest::keyClicks(calc.get(), "\x1b"
                                         "9999999qqq");
            const DisplayLabel::Fit fit = readout->fit();
            QCOMPARE(fit.shown, readout->text());
            QVERIFY(QFontMetricsF(fit.font).horizontalAdvance(fit.shown) <= readout->textWidth());
            readout->setText(QString(60, '9')); // cut at the smallest size there is
            QCOMPARE(readout->fit().font.pointSizeF(), DisplayLabel::kMinimumPointSize * f);

            QTest::keyClick(calc.get(), Qt::Key_Escape);
            const QPoint seven =
                (QPointF(base[calc->findChild<QWidget*>("Number_7")].center()) * f).toPoint();
            QWidget* at = calc->childAt(seven);
            QTest::mouseClick(at, Qt::LeftButton, {}, at->mapFrom(calc.get(), seven));
            QCOMPARE(readout->text(), QString("7."));
            if (percent == 200) { // the @2x pictures, drawn one to one
                const QImage shot = calc->grab().toImage();
                QImage want = QImage(":/pictures/background@2x.png").copy(0, 0, 16, 524);
                want.setDevicePixelRatio(1);
                QCOMPARE(shot.copy(0, 0, 16, 524), want.convertToFormat(shot.format()));
            }
        }
        QTest::keyClick(calc.get(), Qt::Key_0, Qt::ControlModifier);
        for (const auto& [w, r] : base) {
            QCOMPARE(w->geometry(), r);
        }
        QCOMPARE(QApplication::font().pointSizeF(), appFont);
        calc->tapeWindow()->close();
        QTest::keyClick(calc.get(), Qt::Key_Escape);
        calc->findChild<QWidget*>("pic1")->show();
        QCOMPARE(calc->grab().toImage(), before);
    }

    void zoomKeys_data() {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<int>("to");
        const int ctrl = Qt::ControlModifier, pad = Qt::KeypadModifier;
        QTest::newRow("Ctrl+=") << 100 << int(Qt::Key_Equal) << ctrl << 125;
        QTest::newRow("Ctrl++") << 125 << int(Qt::Key_Plus) << ctrl << 150;
        QTest::newRow("Ctrl+Shift++")
            << 150 << int(Qt::Key_Plus) << (ctrl | int(Qt::ShiftModifier)) << 175;
        QTest::newRow("Ctrl+keypad +") << 175 << int(Qt::Key_Plus) << (ctrl | pad) << 200;
        QTest::newRow("Ctrl+= at 200") << 200 << int(Qt::Key_Equal) << ctrl << 200;
        QTest::newRow("Ctrl+-") << 150 << int(Qt::Key_Minus) << ctrl << 125;
        QTest::newRow("Ctrl+keypad -") << 125 << int(Qt::Key_Minus) << (ctrl | pad) << 100;
        QTest::newRow("Ctrl+- at 100") << 100 << int(Qt::Key_Minus) << ctrl << 100;
        QTest::newRow("Ctrl+0") << 175 << int(Qt::Key_0) << ctrl << 100;
        QTest::newRow("Ctrl+keypad 0") << 200 << int(Qt::Key_0) << (ctrl | pad) << 100;
        QTest::newRow("= is the key") << 150 << int(Qt::Key_Equal) << 0 << 150;
    }

    void zoomKeys() {
        QFETCH(int, from);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(int, to);
        calc->setZoom(from);
        QTest::keyClick(calc.get(), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(calc->zoom(), to);
    }

    // The dark look measured where it is drawn: each key's caption and the
    // display's number, and the tape's lines, at least 7:1 (WCAG AAA) against
    // their ground; each key's edge, and the focus mark, at least 3:1 against
    // the window.
    void highContrastMeasured() {
        calc->findChild<QWidget*>("pic1")->hide();
        calc->setHighContrast(true);
        QTest::keyClicks(calc.get(), "12+3=");
        auto* focused = calc->findChild<QAbstractButton*>("Number_5");
        focused->setFocus();
        const QImage shot = calc->grab().toImage();
        const QRgb ground = shot.pixel(2, 2);
        QList<QWidget*> parts{calc->findChild<QWidget*>("Readout")};
        for (QAbstractButton* b : calc->findChildren<QAbstractButton*>()) {
            parts << b;
        }
        for (QWidget* w : parts) {
            const QRect r = w->geometry();
            QVERIFY2(captionContrast(shot, r.adjusted(4, 4, -4, -4)) >= 7,
                     qPrintable(w->objectName()));
            QVERIFY2(contrast(shot.pixel(r.left(), r.center().y()), ground) >= 3,
                     qPrintable(w->objectName()));
        }
        const QRgb mark = shot.pixel(focused->x(), focused->y() + 16);
        QVERIFY(mark != shot.pixel(key(0)->x(), key(0)->y() + 16));

        calc->toggleTape();
        auto* list = calc->tapeWindow()->findChild<QListView*>();
        const QRect line = list->visualRect(list->model()->index(0, 0));
        QVERIFY(captionContrast(list->viewport()->grab().toImage(), line) >= 7);
    }

    // Both are kept for the next start; a screen reader hears each change;
    // the display's menu ticks the zoom and switches both.
    void rememberedAndAnnounced() {
        static QStringList said;
        said.clear();
        QAccessible::installUpdateHandler([](QAccessibleEvent* e) {
            if (e->type() == QAccessible::ObjectShow && e->object()->objectName() == "Announcer") {
                said << e->accessibleInterface()->text(QAccessible::Name);
            }
        });
        QGuiApplicationPrivate::platformIntegration()->accessibility()->setActive(true);
        QTest::keyClick(calc.get(), Qt::Key_Plus, Qt::ControlModifier);
        emit calc->findChild<QWidget*>("Readout")->customContextMenuRequested({4, 4});
        QAction* step150 = nullptr;
        for (QAction* a : calc->findChild<QMenu*>("menuZoom")->actions()) {
            QCOMPARE(a->isChecked(), a->text() == "125%");
            step150 = a->text() == "150%" ? a : step150;
        }
        step150->trigger();
        calc->findChild<QAction*>("actionHighContrast")->trigger();
        QGuiApplicationPrivate::platformIntegration()->accessibility()->setActive(false);
        QAccessible::installUpdateHandler(nullptr);
        QCOMPARE(said, QStringList({"Zoom 125%", "Zoom 150%", "High contrast on"}));

        cleanup();
        start();
        QCOMPARE(calc->zoom(), 150);
        QCOMPARE(calc->size(), QSize(524, 393));
        QVERIFY(calc->highContrast() && !qApp->styleSheet().isEmpty());
        QCOMPARE(key(0)->font().pointSizeF(), 9.75 * 1.5); // under the style sheet too
    }
};

QTEST_MAIN(AppearanceTest)
#include "appearance_test.moc"
