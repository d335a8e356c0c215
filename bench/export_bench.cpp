// SPDX-License-Identifier: MIT
// The tape's exports of 10,000 lines, as the export's thread makes them:
// the PDF (laid out, paged and written to memory) and the CSV. One line in
// ten has a note, one in twenty a corrected number.

#include "tapedocument.h"

#include <QApplication>

#include <benchmark/benchmark.h>

namespace {

TapeDocument tenThousand() {
    TapeDocument doc;
    doc.title = "Quillo tape";
    doc.date = "2026-12-08 10:00";
    doc.words = {"Page %1 of %2",
                 "%1 was %2, corrected %3",
                 {"Run", "Line", "Result", "Note", "Corrections"}};
    for (int i = 0; i < 10'000; ++i) {
        TapeDocument::Line line;
        line.run = "2026-12-08 09:00";
        line.text = QStringLiteral("%1 + 123.45 = %2").arg(i).arg(i + 123.45, 0, 'f', 2);
        if (i % 10 == 0) {
            line.note = QStringLiteral("Invoice %1, \"paid\"").arg(i);
        }
        if (i % 20 == 0) {
            line.corrections.push_back({0, QString::number(i), "7", "2026-12-08 09:30"});
        }
        doc.lines.push_back(std::move(line));
    }
    return doc;
}

void Pdf(benchmark::State& state) {
    const TapeDocument doc = tenThousand();
    for (auto _ : state) {
        ExportProgress progress;
        const QByteArray bytes = tapedocument::pdf(doc, progress);
        state.counters["bytes"] = double(bytes.size());
    }
}
BENCHMARK(Pdf)->Unit(benchmark::kMillisecond)->Iterations(3);

void Csv(benchmark::State& state) {
    const TapeDocument doc = tenThousand();
    for (auto _ : state) {
        ExportProgress progress;
        benchmark::DoNotOptimize(tapedocument::csv(doc, progress));
    }
}
BENCHMARK(Csv)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
