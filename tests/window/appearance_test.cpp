// SPDX-License-Identifier: MIT
// The zoom and the high-contrast look as a user meets them.

#include "appearance.h"
#include "calculator.h"
#include "contrast.h"
#include "dispatch.h"
#include "display.h"
#include "freshhome.h"
#include "tapewindow.h"

#include <QAbstractButton>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QToolTip>
#include <QtGui/private/qguiapplication_p.h>
#include <QtTest>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>

#include <cmath>
#include <map>

class AppearanceTest : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> home;
    std::unique_ptr<Calculator> calc;

    QWidget* part(const char* name) const { return calc->findChild<QWidget*>(name); }
    void start() {
        calc = shownCalculator();
        QVERIFY(QTest::qWaitForWindowExposed(calc.get()));
    }

private slots:
    void init() {
        home = freshHome();
        start();
    }
    void cleanup() {
        calc.reset();
        appearance::setZoom(100);
        appearance::setHighContrast(false);
    }

    // Every step scales the window, each control and the fonts by its factor,
    // boxes, tooltips and the tape's lines too; the display's text fits; a
    // click at a key's new place presses it; the window stays on its screen;
    // the keys stop at 200 %; 100 % gives back every pixel, as does the
    // default look after the dark one.
    void zoomSteps() {
        const QImage before = calc->grab().toImage();
        const qreal appFont = QApplication::font().pointSizeF();
        std::map<QWidget*, QRect> base;
        for (QWidget* w : calc->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            base[w] = w->geometry();
        }
        part("pic1")->hide();
        calc->toggleTape();
        const QRect screen = calc->screen()->availableGeometry();
        calc->move(screen.bottomRight() - QPoint(360, 280)); // zoomed, it would cross the edges
        auto* readout = calc->findChild<DisplayLabel*>("Readout");
        // Each step by another of the keys that zoom in.
        const std::pair<qreal, Qt::KeyboardModifiers> steps[] = {
            {1.25, Qt::ControlModifier},
            {1.5, Qt::ControlModifier | Qt::ShiftModifier},
            {1.75, Qt::ControlModifier | Qt::KeypadModifier},
            {2.0, Qt::ControlModifier}};
        for (const auto& [f, modifiers] : steps) {
            QTest::keyClick(calc.get(), f == 1.25 ? Qt::Key_Equal : Qt::Key_Plus, modifiers);
            QCoreApplication::processEvents();
            QCOMPARE(calc->size(), QSize(std::lround(349 * f), std::lround(262 * f)));
            QVERIFY(screen.contains(calc->frameGeometry()));
            for (const auto& [w, r] : base) { // within a pixel
                const QRect g = w->geometry(),
                            want = QRectF(QPointF(r.topLeft()) * f, QSizeF(r.size()) * f).toRect();
                QVERIFY2(qMax((g.topLeft() - want.topLeft()).manhattanLength(),
                              (g.bottomRight() - want.bottomRight()).manhattanLength()) <= 1,
                         qPrintable(w->objectName()));
            }
            QCOMPARE(part("Number_5")->font().pointSizeF(), 9.75 * f);
            QCOMPARE(readout->font().pointSizeF(), 12 * f);
            const QMessageBox box(calc.get());
            for (const qreal size :
                 {box.font().pointSizeF(), QToolTip::font().pointSizeF(),
                  calc->tapeWindow()->findChild<QListView*>()->font().pointSizeF()}) {
                QCOMPARE(size, appFont * f);
            }
            readout->setText(QString(60, '9')); // cut, at the smallest size there is
            const DisplayLabel::Fit fit = readout->fit();
            QVERIFY(QFontMetricsF(fit.font).horizontalAdvance(fit.shown) <= readout->textWidth());
            QCOMPARE(fit.font.pointSizeF(), DisplayLabel::kMinimumPointSize * f);
            QTest::keyClick(calc.get(), Qt::Key_Escape);
            const QPoint seven = (QPointF(base[part("Number_7")].center()) * f).toPoint();
            QWidget* at = calc->childAt(seven);
            QTest::mouseClick(at, Qt::LeftButton, {}, at->mapFrom(calc.get(), seven));
            QCOMPARE(readout->text(), QString("7."));
        }
        // At 200 % the @2x background is drawn one to one.
        QImage sharp = QImage(":/pictures/background@2x.png").copy(0, 0, 16, 524);
        sharp.setDevicePixelRatio(1);
        const QImage shot = calc->grab().toImage();
        QCOMPARE(shot.copy(0, 0, 16, 524), sharp.convertToFormat(shot.format()));

        for (const auto& [key, zoom] :
             {std::pair{Qt::Key_Equal, 200}, {Qt::Key_Minus, 175}, {Qt::Key_0, 100}}) {
            QTest::keyClick(calc.get(), key, Qt::ControlModifier);
            QCOMPARE(calc->zoom(), zoom);
        }
        calc->setHighContrast(true);
        calc->setHighContrast(false);
        calc->tapeWindow()->close();
        QTest::keyClick(calc.get(), Qt::Key_Escape);
        part("pic1")->show();
        QCOMPARE(QApplication::font().pointSizeF(), appFont);
        QCOMPARE(calc->grab().toImage(), before);
    }

    // The dark look measured as drawn: each key's caption, the display's
    // number and a tape line at least 7:1 (WCAG AAA) against their ground;
    // each key's edge 3:1 against the window, the focus mark seen apart.
    void highContrastMeasured() {
        part("pic1")->hide();
        calc->setHighContrast(true);
        QTest::keyClicks(calc.get(), "12+3=");
        part("Number_5")->setFocus();
        const QImage shot = calc->grab().toImage();
        for (QWidget* w : calc->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            const QRect r = w->geometry();
            QVERIFY2(!w->isVisible() ||
                         (contrastIn(shot, r.adjusted(4, 4, -4, -4)) >= 7 &&
                          contrastIn(shot, {r.left() - 3, r.center().y(), 5, 1}) >= 3),
                     qPrintable(w->objectName()));
        }
        const QRect five = part("Number_5")->geometry(), four = part("Number_4")->geometry();
        QVERIFY(shot.pixel(five.left(), five.center().y()) !=
                shot.pixel(four.left(), four.center().y()));

        calc->toggleTape();
        auto* list = calc->tapeWindow()->findChild<QListView*>();
        const QRect line = list->visualRect(list->model()->index(0, 0));
        QVERIFY(contrastIn(list->viewport()->grab().toImage(), line) >= 7);
    }

    // Both are kept for the next start; a screen reader hears each change;
    // the display's menu ticks the zoom and switches both.
    void rememberedAndAnnounced() {
        static QStringList said;
        QAccessible::installUpdateHandler([](QAccessibleEvent* e) {
            if (e->type() == QAccessible::ObjectShow && e->object()->objectName() == "Announcer") {
                said << e->accessibleInterface()->text(QAccessible::Name);
            }
        });
        QGuiApplicationPrivate::platformIntegration()->accessibility()->setActive(true);
        QTest::keyClick(calc.get(), Qt::Key_Plus, Qt::ControlModifier);
        emit part("Readout")->customContextMenuRequested({4, 4});
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
        QCOMPARE(part("Number_5")->font().pointSizeF(), 9.75 * 1.5); // under the style sheet too
    }
};

QTEST_MAIN(AppearanceTest)
#include "appearance_test.moc"
