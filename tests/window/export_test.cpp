// SPDX-License-Identifier: MIT
// Printing and exporting the tape: what the pages and files hold, read back
// by other programs (Python's csv module, pdftotext), and the window's
// exports with a corrected number, cancelled or written whole.

#include "calculator.h"
#include "freshhome.h"
#include "tapedocument.h"
#include "tapewindow.h"

#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QJsonArray>
#include <QJsonDocument>
#include <QListView>
#include <QMenu>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

QList<QStringList> csvRows(const QString& path) {
    QProcess python;
    python.start("python3", {"-c",
                             "import csv, json, sys\n"
                             "with open(sys.argv[1], newline='', encoding='utf-8-sig') as f:\n"
                             "    print(json.dumps(list(csv.reader(f, strict=True))))",
                             path});
    if (!python.waitForFinished(30000) || python.exitCode() != 0) {
        qWarning() << python.readAllStandardError();
        return {};
    }
    QList<QStringList> rows;
    for (const QJsonValue& row : QJsonDocument::fromJson(python.readAllStandardOutput()).array()) {
        QStringList fields;
        for (const QJsonValue& f : row.toArray()) {
            fields << f.toString();
        }
        rows << fields;
    }
    return rows;
}

QString pdfText(const QString& path) {
    QProcess pdftotext;
    pdftotext.start("pdftotext", {path, "-"});
    pdftotext.waitForFinished(30000);
    return QString::fromUtf8(pdftotext.readAllStandardOutput());
}

// Two runs, a note with a comma and quotes, another not in ASCII, a
// corrected number.
TapeDocument sample() {
    TapeDocument doc;
    doc.title = "Expenses, March";
    doc.date = "2026-03-31 18:00";
    doc.words = {"Page %1 of %2",
                 "%1 was %2, corrected %3",
                 {"Run", "Line", "Result", "Note", "Corrections"}};
    doc.lines = {
        {"2026-03-01 09:00", "======== 2026-03-01 09:00", "", true, {}},
        {"2026-03-01 09:00", "12 + 3 = 15", "Taxi, \"airport\" and back", false, {}},
        {"2026-03-02 10:30", "======== 2026-03-02 10:30", "", true, {}},
        {"2026-03-02 10:30",
         "5 + 2 = 7",
         "Déjeuner à 5 €",
         false,
         {{0, "5", "4", "2026-03-02 10:45"}}},
        {"2026-03-02 10:30", "--------", "", false, {}},
    };
    return doc;
}

} // namespace

class ExportTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        home = freshHome();
        calc = shownCalculator();
    }
    void cleanup() { calc.reset(); }

    // Read back by a CSV parser, the file is the tape: a row a line, a
    // heading giving its run to the lines under it, quotes and commas kept.
    void csvReadBack() {
        ExportProgress progress;
        const QString path = dir.filePath("sample.csv");
        QString error;
        QVERIFY(tapedocument::writeWhole(path, tapedocument::csv(sample(), progress), &error));
        const QList<QStringList> expected = {
            {"Run", "Line", "Result", "Note", "Corrections"},
            {"2026-03-01 09:00", "12 + 3 = 15", "15", "Taxi, \"airport\" and back", ""},
            {"2026-03-02 10:30", "5 + 2 = 7", "7", "Déjeuner à 5 €",
             "5 was 4, corrected 2026-03-02 10:45"},
            {"2026-03-02 10:30", "--------", "", "", ""},
        };
        QCOMPARE(csvRows(path), expected);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QCOMPARE(bytes.count("\r\n"), 4);
        QCOMPARE(bytes.count('\n'), 4);
    }

    // The PDF's text, as a screen reader or pdftotext reads it.
    void pdfReadBack() {
        ExportProgress progress;
        const QString path = dir.filePath("sample.pdf");
        QString error;
        QVERIFY(tapedocument::writeWhole(path, tapedocument::pdf(sample(), progress), &error));
        const QString text = pdfText(path);
        for (const char* wanted :
             {"Expenses, March", "2026-03-31 18:00", "12 + 3 = 15", "Taxi, \"airport\" and back",
              "Déjeuner à 5 €", "4 5 + 2 = 7", "5 was 4, corrected 2026-03-02 10:45",
              "======== 2026-03-01 09:00", "Page 1 of 1"}) {
            QVERIFY2(text.contains(QString::fromUtf8(wanted)), wanted);
        }
    }

    // A line taller than a page goes on over the next, none of it lost.
    void pdfLongLine() {
        TapeDocument doc = sample();
        doc.lines = {{"", QString(12'000, u'7') + " = 42", "", false, {}}};
        ExportProgress progress;
        const QString path = dir.filePath("long.pdf");
        QString error;
        QVERIFY(tapedocument::writeWhole(path, tapedocument::pdf(doc, progress), &error));
        const QString text = pdfText(path);
        QCOMPARE(text.count(u'7'), 12'000);
        QVERIFY(text.contains("Page 2 of") && text.contains("= 42"));
    }

    // From the window, with a number corrected: each export holds the tape
    // and the correction.
    void windowExports_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("expected");
        QTest::newRow("text") << int(TapeWindow::Export::Text) << "5 + 3 = 8\r\n8 X 2 = 16\r\n";
        QTest::newRow("csv") << int(TapeWindow::Export::Csv)
                             << "5 + 3 = 8|8|5 was 12|8 X 2 = 16|16|";
        QTest::newRow("pdf") << int(TapeWindow::Export::Pdf)
                             << "Quillo-v2 tape|12 5 + 3 = 8|5 was 12, corrected|8 X 2 = 16";
    }
    void windowExports() {
        QTest::keyClicks(calc.get(), "12+3=X2=");
        calc->correct(0, 0, "5");
        calc->toggleTape();
        QFETCH(int, kind);
        QFETCH(QString, expected);
        const QString path = dir.filePath("tape");
        QString error;
        QVERIFY(calc->tapeWindow()->exportTo(TapeWindow::Export(kind), path, &error));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        if (kind == int(TapeWindow::Export::Text)) {
            QCOMPARE(QString::fromUtf8(file.readAll()), expected);
            return;
        }
        const QString text = kind == int(TapeWindow::Export::Pdf) ? pdfText(path) : [&] {
            QStringList fields;
            for (const QStringList& row : csvRows(path).mid(1)) {
                fields << row[1] << row[2] << row[4].section(", corrected", 0, 0);
            }
            return fields.join(u'|');
        }();
        for (const QString& wanted : expected.split(u'|')) {
            QVERIFY2(text.contains(wanted), qPrintable(text));
        }
        if (kind == int(TapeWindow::Export::Csv)) {
            QCOMPARE(text, expected);
        }
    }

    // Several lines selected, the export holds them alone; one line
    // selected is the current one, and the whole tape goes.
    void selectedLines_data() {
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<QStringList>("exported");
        QTest::newRow("two") << QList<int>{1, 2} << QStringList{"3 X 3 = 9", "9 - 4 = 5"};
        QTest::newRow("one") << QList<int>{1} << QStringList{"1 + 2 = 3", "3 X 3 = 9", "9 - 4 = 5"};
    }
    void selectedLines() {
        QTest::keyClicks(calc.get(), "1+2=X3=-4=");
        calc->toggleTape();
        auto* list = calc->tapeWindow()->findChild<QListView*>("lines");
        QFETCH(QList<int>, selected);
        for (const int row : selected) {
            list->selectionModel()->select(list->model()->index(row, 0),
                                           QItemSelectionModel::Select);
        }
        const QString path = dir.filePath("selected.csv");
        QString error;
        QVERIFY(calc->tapeWindow()->exportTo(TapeWindow::Export::Csv, path, &error));
        QStringList lines;
        for (const QStringList& row : csvRows(path).mid(1)) {
            lines << row.value(1);
        }
        QFETCH(QStringList, exported);
        QCOMPARE(lines, exported);
    }

    // Exported through the menu: the file is written on a thread of its own
    // behind a progress the user can cancel; cancelled, no file is left.
    void exportThroughTheMenu_data() {
        QTest::addColumn<bool>("cancel");
        QTest::newRow("written") << false;
        QTest::newRow("cancelled") << true;
    }
    void exportThroughTheMenu() {
        QFETCH(bool, cancel);
        QTest::keyClicks(calc.get(), QString("1+").repeated(cancel ? 5000 : 3));
        calc->toggleTape();
        TapeWindow* tape = calc->tapeWindow();
        QTemporaryDir folder;
        const QString path = folder.filePath("tape.pdf");
        QTimer::singleShot(0, [path] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (auto* dialog = qobject_cast<QFileDialog*>(w); dialog && dialog->isVisible()) {
                    dialog->selectFile(path);
                    static_cast<QDialog*>(dialog)->accept();
                }
            }
        });
        auto* list = tape->findChild<QListView*>("lines");
        emit list->customContextMenuRequested(QPoint(1, 1));
        auto* menu = tape->findChild<QMenu*>("TapeMenu");
        menu->hide();
        menu->findChild<QAction*>("actionExportPdf")->trigger();
        auto* progress = tape->findChild<QProgressDialog*>();
        QVERIFY(progress != nullptr);
        if (cancel) {
            QTest::mouseClick(progress->findChild<QPushButton*>(), Qt::LeftButton);
        }
        QTRY_VERIFY_WITH_TIMEOUT(tape->findChild<QProgressDialog*>() == nullptr, 60000);
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden).size(), cancel ? 0 : 1);
        if (!cancel) {
            QVERIFY(pdfText(path).contains("1 + 1 = 2"));
        }
    }

    // Qt's print support is loaded only when Print… is first chosen, from
    // the library of its own; the dialog cancelled, nothing is printed.
    void printLoadsItsLibraryWhenFirstUsed() {
        auto loaded = [] {
            QFile maps("/proc/self/maps");
            return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("libQt6PrintSupport");
        };
        QVERIFY(!loaded());
        QTest::keyClicks(calc.get(), "1+2=");
        calc->toggleTape();
        TapeWindow* tape = calc->tapeWindow();
        bool asked = false;
        QTimer::singleShot(0, [&asked] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (w->inherits("QPrintDialog") && w->isVisible()) {
                    asked = true;
                    static_cast<QDialog*>(w)->reject();
                }
            }
        });
        QTest::keyClick(tape->findChild<QListView*>("lines"), Qt::Key_P, Qt::ControlModifier);
        QVERIFY(asked);
        QVERIFY(loaded());
        QVERIFY(tape->findChild<QProgressDialog*>() == nullptr);
    }

private:
    std::unique_ptr<QTemporaryDir> home;
    std::unique_ptr<Calculator> calc;
    QTemporaryDir dir;
};

QTEST_MAIN(ExportTest)
#include "export_test.moc"
