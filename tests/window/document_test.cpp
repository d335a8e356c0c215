// SPDX-License-Identifier: MIT
// A saved tape through the window: saved, opened in a new run, a number in
// it corrected, saved, opened again, each step checked against quillo-keys
// replaying the file; bad files refused with the calculator unchanged; a
// failed save leaving the old file.

#include "calculator.h"
#include "dispatch.h"
#include "document.h"
#include "freshhome.h"
#include "keys.h"
#include "tapedocuments.h"
#include "tapemodel.h"
#include "tapewindow.h"

#include <QAbstractButton>
#include <QFile>
#include <QListView>
#include <QMessageBox>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/mount.h>
#include <unistd.h>

#include <memory>

namespace {

// What quillo-keys --state --tape ends on for a file: the display, the fields
// and every tape line, in the calculator's own terms.
struct Seen {
    QString display;
    QString fields;
    QStringList tape;
    bool operator==(const Seen&) const = default;
};

Seen replayed(const QString& path) {
    QProcess tool;
    tool.setStandardInputFile(path);
    tool.start(QStringLiteral(QUILLO_KEYS_TOOL), {"--state", "--tape"});
    tool.waitForFinished();
    Seen seen{QStringLiteral("0."), {}, {}};
    for (const QString& line : QString::fromUtf8(tool.readAllStandardOutput()).split(u'\n')) {
        const QStringList parts = line.split(u'\t');
        if (parts.size() >= 3 && parts[0].isEmpty() && parts[1] == u"tape") {
            seen.tape << parts[2];
        } else if (parts.size() >= 3) {
            seen.display = parts[1].mid(1, parts[1].size() - 2);
            seen.fields = parts.last();
        }
    }
    return seen;
}

// The same of the window: the display, the fields and this run's lines.
Seen shown(const Calculator& calc) {
    const quillo::Tape& tape = calc.session().engine().tape();
    Seen seen{QString::fromStdString(calc.session().engine().display()),
              QString::fromStdString(quillo::describe(calc.engineState())),
              {}};
    for (std::uint64_t n = tape.first(); n < tape.end(); ++n) {
        seen.tape << QString::fromStdString(tape.at(n));
    }
    return seen;
}

QStringList rows(const Calculator& calc) {
    QStringList out;
    const QAbstractItemModel* model = calc.tapeWindow()->findChild<QListView*>("lines")->model();
    for (int row = 0; row < model->rowCount(); ++row) {
        out << model->index(row, 0).data().toString();
    }
    return out;
}

// Whether a row with `text` is a line of an earlier run that the kept tape holds.
bool kept(const Calculator& calc, const QString& text) {
    const TapeModel* model = calc.tapeWindow()->model();
    for (int row = 0; row < model->rowCount(); ++row) {
        const TapeModel::Line line = model->line(row);
        if (model->index(row).data().toString() == text &&
            line.kind == TapeModel::Line::Kind::Earlier && line.number != 0) {
            return true;
        }
    }
    return false;
}

// The file's key lines: what Copy keys holds after opening it.
QString keysOf(const QString& path) {
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    QString keys;
    for (const QString& line : QString::fromUtf8(file.readAll()).split(u'\n')) {
        if (!line.isEmpty() && !line.startsWith(u'#')) {
            keys += line + u'\n';
        }
    }
    return keys;
}

QByteArray bytes(const QString& path) {
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

// Answers the next box with OK, keeping its text.
void answerBox(QString* text) {
    auto* poll = new QTimer;
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, [poll, text] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            poll->stop();
            poll->deleteLater();
            *text = box->text();
            box->button(QMessageBox::Ok)->click();
        }
    });
    poll->start();
}

// Runs an open or a save to its end; true when it was done.
bool finish(TapeDocuments& documents, const std::function<void()>& start) {
    QSignalSpy ended(&documents, &TapeDocuments::finished);
    start();
    if (!ended.wait(10'000)) {
        return false;
    }
    return ended.first().first().toBool();
}

} // namespace

class DocumentTest : public QObject {
    Q_OBJECT

private slots:
    void init() { home = freshHome(); }

    void savedOpenedCorrectedSavedOpened() {
        QTemporaryDir dir;
        const QString a = dir.filePath("march.quillo");
        const QString b = dir.filePath("again.quillo");
        auto calc = shownCalculator();
        TapeDocuments& documents = calc->documents();
        QTest::keyClicks(calc.get(), "12+3=X2=");
        calc->toggleTape();
        TapeWindow* window = calc->tapeWindow();
        emit window->noteApplied(false, 0, QStringLiteral("the rent, “March”"));
        calc->correct(0, 0, QStringLiteral("5"));

        QVERIFY(finish(documents, [&] { documents.save(a); }));
        QCOMPARE(replayed(a), shown(*calc));
        QVERIFY(window->windowTitle().startsWith(u"march.quillo[*] "));
        QVERIFY(!window->isWindowModified());

        // A run in progress, then the tape opened: a new run, the old one above it.
        QTest::keyClicks(calc.get(), "C7+1=");
        const QStringList before = rows(*calc);
        QVERIFY(finish(documents, [&] { documents.open(a); }));
        QCOMPARE(shown(*calc), replayed(a));
        QCOMPARE(QString::fromStdString(calc->session().log().text()), keysOf(a));
        QCOMPARE(QString::fromStdString(std::string(calc->session().note(0))),
                 QStringLiteral("the rent, “March”"));
        // The run before stays on the tape, above the new one.
        QVERIFY(before.contains("7 + 1 = 8"));
        QVERIFY(rows(*calc).contains("7 + 1 = 8"));
        QTRY_VERIFY(kept(*calc, "7 + 1 = 8"));
        QVERIFY(rows(*calc).indexOf("7 + 1 = 8") < rows(*calc).lastIndexOf("5 + 3 = 8"));
        QVERIFY(!window->isWindowModified());

        // Its typed number corrected again: changed, saved, the old value kept.
        calc->correct(0, 1, QStringLiteral("4"));
        QVERIFY(window->isWindowModified());
        QVERIFY(finish(documents, [&] { documents.save(a); }));
        QCOMPARE(replayed(a), shown(*calc));
        QVERIFY(bytes(a).contains("\n# was 12 at 20"));
        QVERIFY(bytes(a).contains("\n# was 3 at 20"));

        QVERIFY(finish(documents, [&] { documents.open(a); }));
        QCOMPARE(shown(*calc), replayed(a));
        QVERIFY(finish(documents, [&] { documents.save(b); }));
        QCOMPARE(bytes(b), bytes(a));
        QCOMPARE(calc->session().numbers(0).at(0).correctable, true);
    }

    // Every kind of file that is no tape this version opens, through the
    // window: a box says which and where, and nothing changes.
    void refused_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("words");
        const QByteArray head = "# quillo tape 1\n";
        QTest::newRow("folder") << QByteArray() << "folder"
                                << "It is a folder.";
        QTest::newRow("past the size") << QByteArray() << "large"
                                       << "larger than the 64 MB";
        QTest::newRow("missing") << QByteArray() << "missing"
                                 << "cannot be read";
        QTest::newRow("another kind") << QByteArray("\x89PNG\r\n") << "file"
                                      << "not a Quillo tape";
        QTest::newRow("newer") << QByteArray("# quillo tape 2\n1\n# end\n") << "file"
                               << "newer version of Quillo (tape version 2 on line 1)";
        QTest::newRow("cut short") << head + "1\n+\n"
                                   << "file"
                                   << "stops at line 3";
        QTest::newRow("unknown key") << head + "1\nplus\n# end\n"
                                     << "file"
                                     << "Line 3 is no calculator key: \"plus\"";
        QTest::newRow("key fails") << head + "-\n5\nSqrt\n# end\n"
                                   << "file"
                                   << "key on line 4 fails";
    }
    void refused() {
        QFETCH(QByteArray, content);
        QFETCH(QString, kind);
        QFETCH(QString, words);
        QTemporaryDir dir;
        QString path = dir.filePath("bad.quillo");
        if (kind == u"folder") {
            path = dir.path();
        } else if (kind == u"large") {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QVERIFY(file.resize(qint64(quillo::Document::kSizeLimit) + 1)); // sparse
        } else if (kind == u"file") {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        }
        auto calc = shownCalculator();
        QTest::keyClicks(calc.get(), "12+3=4");
        calc->toggleTape();
        const Seen before = shown(*calc);
        const std::string keys = calc->session().log().text();
        const QStringList rowsBefore = rows(*calc);
        QString box;
        answerBox(&box);
        QVERIFY(!finish(calc->documents(), [&] { calc->documents().open(path); }));
        QVERIFY2(box.contains(words), qPrintable(box));
        QVERIFY2(box.contains(path), qPrintable(box));
        QCOMPARE(shown(*calc), before);
        QCOMPARE(calc->session().log().text(), keys);
        QCOMPARE(rows(*calc), rowsBefore);
        QVERIFY(calc->session().canUndo());
    }

    // Root only: a small tmpfs, filled, then made read-only. The old file
    // stays whole, no temporary is left, and the box says why.
    void failedSaveKeepsTheFile() {
        if (::geteuid() != 0) {
            QSKIP("needs root to mount a tmpfs");
        }
        QTemporaryDir dir;
        QVERIFY(::mount("tmpfs", dir.path().toLocal8Bit(), "tmpfs", 0, "size=1m") == 0);
        const std::unique_ptr<QTemporaryDir, void (*)(QTemporaryDir*)> mounted(
            &dir, [](QTemporaryDir* d) { ::umount(d->path().toLocal8Bit()); });
        const QString path = dir.filePath("kept.quillo");
        auto calc = shownCalculator();
        QTest::keyClicks(calc.get(), "12+3=");
        QVERIFY(finish(calc->documents(), [&] { calc->documents().save(path); }));
        const QByteArray old = bytes(path);
        for (int i = 0; i < 2000; ++i) {
            QTest::keyClicks(calc.get(), "123456789+");
        }
        QFile filler(dir.filePath("filler"));
        QVERIFY(filler.open(QIODevice::WriteOnly));
        const QByteArray block(4096, 'f');
        while (filler.write(block) > 0 && filler.flush()) {
        }
        filler.close();
        for (const char* fault : {"No space left", "not writable"}) {
            if (QByteArray(fault) == "not writable") {
                QFile::remove(dir.filePath("filler"));
                QVERIFY(::mount(nullptr, dir.path().toLocal8Bit(), nullptr, MS_REMOUNT | MS_RDONLY,
                                nullptr) == 0);
            }
            QString box;
            answerBox(&box);
            QVERIFY(!finish(calc->documents(), [&] { calc->documents().save(path); }));
            QVERIFY2(box.contains(fault, Qt::CaseInsensitive), qPrintable(box));
            QCOMPARE(bytes(path), old);
            // No temporary left beside it.
            QCOMPARE(QDir(dir.path()).entryList({"kept.quillo*"}, QDir::Files | QDir::Hidden),
                     QStringList{"kept.quillo"});
        }
    }

private:
    std::unique_ptr<QTemporaryDir> home;
};

QTEST_MAIN(DocumentTest)
#include "document_test.moc"
