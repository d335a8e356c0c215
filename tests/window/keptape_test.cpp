// SPDX-License-Identifier: MIT
// The kept tape switched during a run, through the window: what the next
// start shows of this run's lines.

#include "calculator.h"
#include "dispatch.h"
#include "freshhome.h"
#include "tapewindow.h"

#include <QListView>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

class KeptTapeTest : public QObject {
    Q_OBJECT

private slots:
    void init() { home = freshHome(); }

    // Keys typed, the keeping switched off (0) or on (1), more keys: a
    // switch on keeps the run so far, a switch off deletes it.
    void switchedDuringTheRun_data() {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QStringList>("kept");
        QTest::newRow("on mid-run")
            << "0 12+3= 1 4+5=" << QStringList{"12 + 3 = 15", "= 4", "4 + 5 = 9"};
        QTest::newRow("off mid-run") << "12+3= 0 4+5=" << QStringList{};
        QTest::newRow("off, then on")
            << "12+3= 0 1 4+5=" << QStringList{"12 + 3 = 15", "= 4", "4 + 5 = 9"};
    }
    void switchedDuringTheRun() {
        QFETCH(QString, steps);
        {
            Calculator calc(&quillo::dispatch, QStringLiteral("Quillo-v2"));
            for (const QString& step : steps.split(u' ')) {
                if (step == u"0" || step == u"1") {
                    calc.setKeepTape(step == u"1");
                } else {
                    QTest::keyClicks(&calc, step);
                }
            }
        }
        Calculator next(&quillo::dispatch, QStringLiteral("Quillo-v2"));
        next.toggleTape();
        auto* model = next.tapeWindow()->findChild<QListView*>("lines")->model();
        QFETCH(QStringList, kept);
        // The earlier lines come from the store's thread, between two headings.
        auto shown = [&] {
            QStringList rows;
            for (int row = 1; row < model->rowCount() - 1; ++row) {
                rows << model->index(row, 0).data().toString();
            }
            return rows;
        };
        QTRY_COMPARE(shown(), kept);
    }

private:
    std::unique_ptr<QTemporaryDir> home;
};

QTEST_MAIN(KeptTapeTest)
#include "keptape_test.moc"
