// SPDX-License-Identifier: MIT
// Correcting a number from the tape as every user meets it: by keyboard, by
// screen reader, with numbers too long for the screen, and the tape's
// current row through the correction's undo and redo.

#include "calculator.h"
#include "correctioneditor.h"
#include "dispatch.h"
#include "freshhome.h"
#include "tapemodel.h"
#include "tapewindow.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QScreen>
#include <QTemporaryDir>
#include <QtGui/private/qguiapplication_p.h>
#include <QtTest>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>

#include <memory>

namespace {

void typeKeys(const QString& keys) {
    for (const QChar c : keys) {
        QTest::keyClicks(QApplication::focusWidget(), QString(c));
    }
}

// A widget's rectangle on the screen.
QRect global(const QWidget& w) {
    return {w.mapToGlobal(QPoint(0, 0)), w.size()};
}

} // namespace

class EditorTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<Calculator> calc;
    std::unique_ptr<QTemporaryDir> home;

    QListView* list() const { return calc->tapeWindow()->findChild<QListView*>("lines"); }
    // F2 on `row` of the tape, opened first; the editor it opens.
    CorrectionEditor* correct(int row) {
        if (!calc->tapeWindow() || !calc->tapeWindow()->isOpen()) {
            calc->toggleTape();
        }
        list()->setCurrentIndex(list()->model()->index(row, 0));
        QTest::keyClick(list(), Qt::Key_F2);
        auto* editor = calc->tapeWindow()->findChild<CorrectionEditor*>();
        // With the keyboard, or the test fails on it.
        if (editor != nullptr && !editor->fields().empty() && !QTest::qWaitFor([editor] {
                return QApplication::focusWidget() == editor->fields()[0];
            })) {
            return nullptr;
        }
        return editor;
    }

private slots:
    void init() {
        home = freshHome();
        calc = shownCalculator();
        QVERIFY(QTest::qWaitForWindowExposed(calc.get()));
    }
    void cleanup() { calc.reset(); }

    // The preview as a screen reader meets it: read through the text
    // interface, named by what it says, announced at each change while the
    // focus stays in the field; a refusal that wraps is shown whole.
    void previewSpoken() {
        QTest::keyClicks(calc.get(), "12/3=");
        CorrectionEditor* editor = correct(0);
        QVERIFY(editor != nullptr);
        auto* preview = editor->findChild<QLabel*>("preview");

        static QStringList heard;
        heard.clear();
        QAccessible::installUpdateHandler([](QAccessibleEvent* e) {
            if (e->type() == QAccessible::TextUpdated) {
                heard << "text:" + static_cast<QAccessibleTextUpdateEvent*>(e)->textInserted();
            } else if (e->type() == QAccessible::ObjectShow &&
                       e->object()->objectName() == "Announcer") {
                heard << "said:" + e->accessibleInterface()->text(QAccessible::Name);
            }
        });
        QPlatformAccessibility* platform =
            QGuiApplicationPrivate::platformIntegration()->accessibility();
        platform->setActive(true);
        auto quiet = qScopeGuard([platform] {
            platform->setActive(false);
            QAccessible::installUpdateHandler(nullptr);
        });
        typeKeys("5"); // 5 / 3
        const QString shows = preview->text();
        QVERIFY2(shows.contains("1.66666"), qPrintable(shows));
        QCOMPARE(heard, QStringList({"text:" + shows, "said:" + shows}));

        QAccessibleInterface* read = QAccessible::queryAccessibleInterface(preview);
        QCOMPARE(read->text(QAccessible::Name), shows);
        QVERIFY(read->textInterface() != nullptr);
        QCOMPARE(read->textInterface()->text(0, read->textInterface()->characterCount()), shows);

        // Back to 12, then the 3 typed as 0: refused, and the whole reason shown.
        typeKeys("\b12\t0");
        const QString refused = preview->text();
        QVERIFY2(refused.contains("would now divide by zero"), qPrintable(refused));
        QCOMPARE(heard.last(), "said:" + refused);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(editor->fields()[1]));
        QVERIFY(preview->height() >= preview->heightForWidth(preview->width()));
        QVERIFY(editor->geometry().contains(global(*preview)));
    }

    // A line too wide for the screen: the editor stays on it, beside the
    // line it corrects, with every field reached by Tab and Apply and Cancel
    // in view.
    void longNumberWithinScreen() {
        QTest::keyClicks(calc.get(), QString(200, '7') + "+" + QString(120, '3') + "=");
        CorrectionEditor* editor = correct(0);
        QVERIFY(editor != nullptr);
        QCOMPARE(editor->fields().size(), std::size_t(2));
        const QRect screen = editor->screen()->availableGeometry();
        QVERIFY(screen.contains(editor->frameGeometry()));
        const QRect row = list()->visualRect(list()->currentIndex());
        QVERIFY(!editor->frameGeometry().intersects(
            QRect(list()->viewport()->mapToGlobal(row.topLeft()), row.size())));
        for (const char* name : {"apply", "cancel", "preview"}) {
            auto* w = editor->findChild<QWidget*>(name);
            QVERIFY2(editor->geometry().contains(global(*w)), name);
        }
        typeKeys("\t");
        QLineEdit* second = editor->fields()[1];
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(second));
        QVERIFY(!second->visibleRegion().isEmpty());
    }

    // A number typed right after = starts a new sum and is corrected on
    // either line it stands on, by F2, a new number and Enter.
    void numberAfterEquals_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("fields");
        QTest::newRow("on its = line") << 1 << 1;
        QTest::newRow("on the next sum") << 2 << 2;
    }
    void numberAfterEquals() {
        QTest::keyClicks(calc.get(), "5+3=2+1="); // 5 + 3 = 8, = 2, 2 + 1 = 3
        QFETCH(int, row);
        CorrectionEditor* editor = correct(row);
        QVERIFY(editor != nullptr);
        QFETCH(int, fields);
        QCOMPARE(editor->fields().size(), std::size_t(fields));
        typeKeys("\b7\r");
        QTRY_COMPARE(calc->findChild<QLabel*>("Readout")->text(), QStringLiteral("8"));
        QCOMPARE(list()->model()->index(2, 0).data().toString(), QStringLiteral("7 + 1 = 8"));
    }

    // A line typed before lines were deleted says so, not that its numbers
    // were worked out by the calculator.
    void reasonAfterDelete() {
        QTest::keyClicks(calc.get(), "12+3=4+5=");
        calc->toggleTape();
        QCOMPARE(list()->model()->rowCount(), 3); // 12 + 3 = 15, = 4, 4 + 5 = 9
        list()->setCurrentIndex(list()->model()->index(1, 0));
        QTest::keyClick(list(), Qt::Key_Delete);
        list()->setCurrentIndex(list()->model()->index(0, 0));
        emit list()->customContextMenuRequested(QPoint(5, 5));
        auto* item = calc->tapeWindow()->findChild<QAction*>("actionCorrect");
        QVERIFY2(item->toolTip().contains("lines deleted"), qPrintable(item->toolTip()));
    }

    // An undo or redo of a correction, or the correction itself, keeps the
    // tape's current row: Ctrl+C copies it and the arrows go on from it.
    void currentRowKept_data() {
        QTest::addColumn<QString>("keys"); // typed into the tape after the correction
        QTest::addColumn<QString>("copied");
        QTest::newRow("corrected") << QString() << "8 X 2 = 16\n";
        QTest::newRow("undone") << QString("\x1a") << "15 X 2 = 30\n";
        QTest::newRow("redone") << QString("\x1a\x19") << "8 X 2 = 16\n";
    }
    void currentRowKept() {
        QTest::keyClicks(calc.get(), "12+3=X2=");
        calc->toggleTape();
        list()->setCurrentIndex(list()->model()->index(1, 0));
        calc->correct(calc->session().engine().tape().first(), 0, QStringLiteral("5"));
        QFETCH(QString, keys);
        for (const QChar c : keys) {
            QTest::keyClick(list(), c == u'\x1a' ? Qt::Key_Z : Qt::Key_Y, Qt::ControlModifier);
        }
        QCOMPARE(list()->currentIndex().row(), 1);
        QTest::keyClick(list(), Qt::Key_C, Qt::ControlModifier);
        QFETCH(QString, copied);
        QCOMPARE(QGuiApplication::clipboard()->text(), copied);
        QTest::keyClick(list(), Qt::Key_Up);
        QCOMPARE(list()->currentIndex().row(), 0);
    }

    // A line of 900 KB in the kept tape costs the open tape no more than a
    // short one: the list shows its end (laid out whole, 40 of them took 19 s
    // to list a new line), copying gives it whole.
    void longLineShownByItsEnd() {
        calc->toggleTape();
        TapeModel* model = calc->tapeWindow()->model();
        const QString tail = QStringLiteral(" = 42");
        const QString longLine = QString(900'000, '9') + tail;
        std::vector<TapeModel::Earlier> earlier;
        for (std::uint64_t id = 1; id <= 40; ++id) {
            earlier.push_back({id, longLine, false});
        }
        model->setEarlier(std::move(earlier), QStringLiteral("======== now"));
        QCOMPARE(model->rowCount(), 41);
        for (const int role : {int(Qt::DisplayRole), int(Qt::ToolTipRole)}) {
            const QString shown = model->index(0, 0).data(role).toString();
            QVERIFY2(shown.size() < 10'000, qPrintable(QString::number(shown.size())));
            QVERIFY(shown.endsWith(tail));
        }
        QCOMPARE(model->text({0}), longLine + '\n');
    }
};

QTEST_MAIN(EditorTest)
#include "editor_test.moc"
