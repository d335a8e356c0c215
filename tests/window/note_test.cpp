// SPDX-License-Identifier: MIT
// Notes on tape lines through the window: written from the line's menu or
// its key, shown beside the line and readable in both looks at every zoom,
// read with the line by a screen reader, undone and redone with the
// calculator's keys, deleted with the line, copied with it, and kept for
// the next start.

#include "appearance.h"
#include "calculator.h"
#include "dispatch.h"
#include "freshhome.h"
#include "noteeditor.h"
#include "tapemodel.h"
#include "tapewindow.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <memory>

namespace {

// WCAG's contrast ratio of the lightest and the darkest pixel in `r`.
double contrastIn(const QImage& shot, const QRect& r) {
    double low = 1, high = 0;
    for (int y = r.top(); y <= r.bottom(); ++y) {
        for (int x = r.left(); x <= r.right(); ++x) {
            const QRgb c = shot.pixel(x, y);
            double l = 0;
            for (const auto& [v, w] :
                 {std::pair{qRed(c), 0.2126}, {qGreen(c), 0.7152}, {qBlue(c), 0.0722}}) {
                l += w * (v <= 10 ? v / 255.0 / 12.92 : std::pow((v / 255.0 + 0.055) / 1.055, 2.4));
            }
            low = std::min(low, l);
            high = std::max(high, l);
        }
    }
    return (high + 0.05) / (low + 0.05);
}

} // namespace

class NoteTest : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> home;
    std::unique_ptr<Calculator> calc;

    QListView* list() const { return calc->tapeWindow()->findChild<QListView*>("lines"); }
    QModelIndex row(int r) const { return list()->model()->index(r, 0); }
    void openTape() {
        QCoreApplication::processEvents(); // a tape left open comes back at start
        if (!calc->tapeWindow() || !calc->tapeWindow()->isOpen()) {
            calc->toggleTape();
        }
        QVERIFY(QTest::qWaitForWindowExposed(calc->tapeWindow()));
        calc->tapeWindow()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(calc->tapeWindow()));
    }
    // The line's menu, as a right-click opens it.
    QAction* menuItem(const QString& text) {
        emit list()->customContextMenuRequested(
            list()->visualRect(list()->currentIndex()).center());
        for (QAction* a : calc->tapeWindow()->findChildren<QAction*>()) {
            if (a->text() == text) {
                return a;
            }
        }
        return nullptr;
    }
    // The note editor on `r`, opened by the menu or the key.
    NoteEditor* openEditor(int r, bool byMenu) {
        list()->setCurrentIndex(row(r));
        if (byMenu) {
            QAction* item = menuItem(QStringLiteral("Note…"));
            if (!item) {
                return nullptr;
            }
            item->trigger();
            for (QMenu* m : calc->tapeWindow()->findChildren<QMenu*>()) {
                m->close();
            }
        } else {
            QTest::keyClick(list(), Qt::Key_F2, Qt::ShiftModifier);
        }
        auto* editor = calc->tapeWindow()->findChild<NoteEditor*>();
        if (editor && !QTest::qWaitFor(
                          [editor] { return QApplication::focusWidget() == &editor->field(); })) {
            return nullptr;
        }
        return editor;
    }
    void writeNote(int r, const QString& text, bool byMenu = false) {
        NoteEditor* editor = openEditor(r, byMenu);
        QVERIFY(editor != nullptr);
        editor->field().selectAll();
        QTest::keyClicks(&editor->field(), text);
        QTest::keyClick(&editor->field(), Qt::Key_Return);
        QTRY_VERIFY(calc->tapeWindow()->findChild<NoteEditor*>() == nullptr);
    }
    QString note(int r) const { return row(r).data(TapeModel::NoteRole).toString(); }
    QString spoken(int r) const {
        QAccessibleInterface* view = QAccessible::queryAccessibleInterface(list());
        return view->tableInterface()->cellAt(r, 0)->text(QAccessible::Name);
    }

private slots:
    void init() {
        home = freshHome();
        calc = shownCalculator();
        QVERIFY(QTest::qWaitForWindowExposed(calc.get()));
    }
    void cleanup() {
        calc.reset();
        appearance::setZoom(100);
        appearance::setHighContrast(false);
    }

    // From the menu or the key: shown, read with its line, copied with it,
    // never taken as a number, undone and redone as a step of its own with
    // the calculator's keys, taken by Delete with its line.
    void written_data() {
        QTest::addColumn<bool>("byMenu");
        QTest::newRow("menu") << true;
        QTest::newRow("key") << false;
    }
    void written() {
        QFETCH(bool, byMenu);
        QTest::keyClicks(calc.get(), "12+3=X2=");
        openTape();
        writeNote(0, QStringLiteral("rent 99"), byMenu);
        QCOMPARE(note(0), QStringLiteral("rent 99"));
        QCOMPARE(spoken(0), QStringLiteral("12 + 3 = 15. Note: rent 99"));
        QCOMPARE(row(0).data().toString(), QStringLiteral("12 + 3 = 15"));

        list()->setCurrentIndex(row(0));
        QTest::keyClick(list(), Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("12 + 3 = 15  # rent 99\n"));
        QTest::keyClick(list(), Qt::Key_Return);
        QCOMPARE(calc->session().engine().display(), std::string("15"));

        writeNote(0, QStringLiteral("gas"), byMenu);
        calc->undo(); // the reuse of 15
        calc->undo();
        QCOMPARE(note(0), QStringLiteral("rent 99"));
        calc->undo();
        QCOMPARE(note(0), QString());
        QCOMPARE(spoken(0), QStringLiteral("12 + 3 = 15"));
        calc->redo();
        calc->redo();
        calc->redo();
        QCOMPARE(note(0), QStringLiteral("gas"));

        list()->selectionModel()->select(row(0), QItemSelectionModel::ClearAndSelect);
        QTest::keyClick(list(), Qt::Key_Delete);
        QCOMPARE(list()->model()->rowCount(), 1);
        QCOMPARE(note(0), QString());
    }

    // What the session would refuse is refused in the field, the reason shown.
    void refusedInTheField_data() {
        QTest::addColumn<QString>("pasted");
        QTest::addColumn<QString>("reason");
        QTest::newRow("tab") << "a\tb"
                             << "tab";
        QTest::newRow("line break") << "a\nb"
                                    << "line break";
        QTest::newRow("too long") << QString(201, u'x') << "200 characters";
    }
    void refusedInTheField() {
        QFETCH(QString, pasted);
        QFETCH(QString, reason);
        QTest::keyClicks(calc.get(), "1+2=");
        openTape();
        NoteEditor* editor = openEditor(0, false);
        QVERIFY(editor != nullptr);
        QTest::keyClicks(&editor->field(), "ok");
        QGuiApplication::clipboard()->setText(pasted);
        QTest::keyClick(&editor->field(), Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(editor->note(), QStringLiteral("ok"));
        auto* problem = editor->findChild<QLabel*>("fieldProblem");
        QVERIFY(problem->isVisible());
        QVERIFY2(problem->text().contains(reason), qPrintable(problem->text()));
        QTest::keyClick(&editor->field(), Qt::Key_Escape);
        QCOMPARE(note(0), QString());
    }

    // Drawn beside its line at 4.5:1 in the default look, 7:1 in the dark
    // one, at every zoom.
    void readable_data() {
        QTest::addColumn<bool>("dark");
        QTest::addColumn<int>("zoom");
        QTest::newRow("default look") << false << 100;
        QTest::newRow("default look at 200%") << false << 200;
        QTest::newRow("high contrast") << true << 100;
        QTest::newRow("high contrast at 200%") << true << 200;
    }
    void readable() {
        QFETCH(bool, dark);
        QFETCH(int, zoom);
        calc->setHighContrast(dark);
        calc->setZoom(zoom);
        QTest::keyClicks(calc.get(), "12+3=");
        openTape();
        writeNote(0, QStringLiteral("the rent for the whole of December"));
        list()->clearSelection();
        list()->setCurrentIndex({});
        const QRect line = list()->visualRect(row(0));
        const int noteFrom = line.left() + list()->fontMetrics().horizontalAdvance("12 + 3 = 15 ");
        const QRect area(noteFrom, line.top() + 1, line.right() - 4 - noteFrom, line.height() - 2);
        QVERIFY(area.width() > 0);
        const double ratio = contrastIn(list()->viewport()->grab().toImage(), area);
        QVERIFY2(ratio >= (dark ? 7.0 : 4.5), qPrintable(QString::number(ratio)));
    }

    // The kept tape keeps the notes of this run's lines, corrected ones too,
    // and of earlier runs' lines for the next start.
    void keptAfterRestart() {
        QTest::keyClicks(calc.get(), "12+3=X2=");
        openTape();
        writeNote(0, QStringLiteral("rent"));
        calc->correct(0, 0, QStringLiteral("5"));
        writeNote(1, QStringLiteral("twice"));
        calc.reset();

        calc = shownCalculator();
        openTape();
        // Between this run's heading and the earlier run's.
        QTRY_COMPARE(list()->model()->rowCount(), 4);
        QCOMPARE(row(1).data().toString(), QStringLiteral("5 + 3 = 8"));
        QCOMPARE(note(1), QStringLiteral("rent"));
        QCOMPARE(note(2), QStringLiteral("twice"));
        writeNote(2, QStringLiteral("double"));
        calc.reset();

        calc = shownCalculator();
        openTape();
        QTRY_COMPARE(list()->model()->rowCount(), 4);
        QCOMPARE(note(2), QStringLiteral("double"));
    }
};

QTEST_MAIN(NoteTest)
#include "note_test.moc"
