// SPDX-License-Identifier: MIT
// Notes on tape lines through the window: written from the line's menu or
// its key, read with the line, undone, redone, deleted, readable in both
// looks at every zoom, and kept for the next start.

#include "appearance.h"
#include "calculator.h"
#include "contrast.h"
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

#include <memory>

class NoteTest : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> home;
    std::unique_ptr<Calculator> calc;

    QListView* list() const { return calc->tapeWindow()->findChild<QListView*>("lines"); }
    QModelIndex row(int r) const { return list()->model()->index(r, 0); }
    QString note(int r) const { return row(r).data(TapeModel::NoteRole).toString(); }
    void openTape() {
        QCoreApplication::processEvents(); // a tape left open comes back at start
        if (!calc->tapeWindow() || !calc->tapeWindow()->isOpen()) {
            calc->toggleTape();
        }
        QVERIFY(QTest::qWaitForWindowExposed(calc->tapeWindow()));
        calc->tapeWindow()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(calc->tapeWindow()));
    }
    // The editor on row `r`, opened by the line's menu or by Shift+F2.
    NoteEditor* openEditor(int r, bool byMenu) {
        list()->setCurrentIndex(row(r));
        if (byMenu) {
            emit list()->customContextMenuRequested(list()->visualRect(row(r)).center());
            for (QAction* a : calc->tapeWindow()->findChildren<QAction*>()) {
                if (a->text() == QStringLiteral("Note…")) {
                    a->trigger();
                }
            }
            calc->tapeWindow()->findChild<QMenu*>()->close();
        } else {
            QTest::keyClick(list(), Qt::Key_F2, Qt::ShiftModifier);
        }
        auto* editor = calc->tapeWindow()->findChild<NoteEditor*>();
        const bool focused = editor && QTest::qWaitFor([editor] {
                                 return QApplication::focusWidget() == &editor->field();
                             });
        return focused ? editor : nullptr;
    }
    void writeNote(int r, const QString& text, bool byMenu = false) {
        NoteEditor* editor = openEditor(r, byMenu);
        QVERIFY(editor != nullptr);
        editor->field().selectAll();
        QTest::keyClicks(&editor->field(), text);
        QTest::keyClick(&editor->field(), Qt::Key_Return);
        QTRY_VERIFY(calc->tapeWindow()->findChild<NoteEditor*>() == nullptr);
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

    // Read with its line, copied with it, never taken as a number; what the
    // session would refuse refused in the field; a step of its own for the
    // calculator's undo and redo; gone with a Delete.
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
        QAccessibleInterface* view = QAccessible::queryAccessibleInterface(list());
        QCOMPARE(view->tableInterface()->cellAt(0, 0)->text(QAccessible::Name),
                 QStringLiteral("12 + 3 = 15. Note: rent 99"));
        list()->setCurrentIndex(row(0));
        QTest::keyClick(list(), Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("12 + 3 = 15  # rent 99\n"));
        QTest::keyClick(list(), Qt::Key_Return);
        QCOMPARE(calc->session().engine().display(), std::string("15"));

        // A line break pasted is refused in the field, which says why.
        NoteEditor* editor = openEditor(0, byMenu);
        QVERIFY(editor != nullptr);
        QGuiApplication::clipboard()->setText("a\nb");
        QTest::keyClick(&editor->field(), Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(editor->note(), QStringLiteral("rent 99"));
        QVERIFY(editor->findChild<QLabel*>("fieldProblem")->text().contains("line break"));
        QTest::keyClick(&editor->field(), Qt::Key_Escape);
        QTRY_VERIFY(calc->tapeWindow()->findChild<NoteEditor*>() == nullptr);
        writeNote(0, QStringLiteral("gas"), byMenu);
        calc->undo();
        calc->undo(); // the 15 put back
        QCOMPARE(note(0), QStringLiteral("rent 99"));
        calc->undo();
        QCOMPARE(note(0), QString());
        for (int i = 0; i < 3; ++i) {
            calc->redo();
        }
        QCOMPARE(note(0), QStringLiteral("gas"));

        list()->selectionModel()->select(row(0), QItemSelectionModel::ClearAndSelect);
        QTest::keyClick(list(), Qt::Key_Delete);
        QCOMPARE(list()->model()->rowCount(), 1);
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
        list()->setCurrentIndex({});
        const QRect line = list()->visualRect(row(0));
        const int from = line.left() + list()->fontMetrics().horizontalAdvance("12 + 3 = 15 ");
        const QRect area(from, line.top() + 1, line.right() - 4 - from, line.height() - 2);
        const double ratio = contrastIn(list()->viewport()->grab().toImage(), area);
        QVERIFY2(ratio >= (dark ? 7.0 : 4.5), qPrintable(QString::number(ratio)));
    }

    // Kept for the next start: a note written before a correction and one
    // after it, then an earlier run's line's note, undone and redone.
    void keptAfterRestart() {
        QTest::keyClicks(calc.get(), "12+3=X2=");
        openTape();
        writeNote(0, QStringLiteral("rent"));
        calc->correct(0, 0, QStringLiteral("5"));
        writeNote(1, QStringLiteral("twice"));
        for (const QString& twice : {QStringLiteral("twice"), QStringLiteral("double")}) {
            calc.reset();
            calc = shownCalculator();
            openTape();
            // The earlier run's lines between two headings.
            QTRY_COMPARE(list()->model()->rowCount(), 4);
            QCOMPARE(row(1).data().toString(), QStringLiteral("5 + 3 = 8"));
            QCOMPARE(note(1), QStringLiteral("rent"));
            QCOMPARE(note(2), twice);
            writeNote(2, QStringLiteral("double"));
            calc->undo();
            QCOMPARE(note(2), twice);
            calc->redo();
        }
    }
};

QTEST_MAIN(NoteTest)
#include "note_test.moc"
