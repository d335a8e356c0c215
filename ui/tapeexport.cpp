// SPDX-License-Identifier: MIT
// Printing and exporting the tape: the lines copied into a document on the
// window's thread, pages and files made from it on a thread of its own.
#include "keptape.h"
#include "tapedocument.h"
#include "tapemodel.h"
#include "tapestore.h"
#include "tapewindow.h"
#include "ui_TapeMenu.h"
#include "ui_TapeWindow.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QLibrary>
#include <QListView>
#include <QMessageBox>
#include <QPagedPaintDevice>
#include <QProgressDialog>
#include <QThread>
#include <QTimer>

#include <ctime>
#include <memory>
#include <new>
#include <numeric>

namespace {

QString fromUtf8(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

QString timeText(std::int64_t seconds) {
    return QString::fromStdString(KeptTape::startedText(static_cast<std::time_t>(seconds)));
}

// A heading's run start: its text after the rule.
QString runOf(const QString& heading) {
    qsizetype i = 0;
    while (i < heading.size() && (heading[i] == u'=' || heading[i] == u' ')) {
        ++i;
    }
    return heading.mid(i);
}

// The printing library, with Qt's print support, loaded when first asked for:
// a start that prints nothing loads neither.
using ChoosePrinter = QPagedPaintDevice* (*)(QWidget* parent, bool canSelect, bool* selectionOnly);
ChoosePrinter choosePrinter(QString* error) {
    static QLibrary library(QCoreApplication::applicationDirPath() +
                            QStringLiteral("/../lib/quillo/plugins/quillo-print"));
    const auto choose = reinterpret_cast<ChoosePrinter>(library.resolve("quillo_choosePrinter"));
    if (choose == nullptr) {
        *error = library.errorString();
    }
    return choose;
}

} // namespace

QList<int> TapeWindow::exportRows() const {
    QList<int> rows = selectedRows();
    if (rows.size() < 2) {
        rows.resize(model_->rowCount());
        std::iota(rows.begin(), rows.end(), 0);
    }
    return rows;
}

TapeDocument TapeWindow::document(const QList<int>& rows) {
    const QAction& words = *menu().actionExportPdf;
    TapeDocument doc;
    doc.title = documentTitle_.isEmpty() ? windowTitle() : documentTitle_;
    doc.date = timeText(std::time(nullptr));
    doc.words.page = words.property("pageText").toString();
    doc.words.corrected = words.property("correctedText").toString();
    doc.words.columns = menu().actionExportCsv->property("columns").toString().split(u',');
    doc.lines.reserve(static_cast<std::size_t>(rows.size()));
    // Each line's run is the heading above it; this run has none while no
    // earlier run is listed.
    QString run = runStarted_;
    int row = 0;
    const quillo::Session& session = model_->session();
    for (const int wanted : rows) {
        for (; row <= wanted; ++row) {
            if (model_->line(row).kind == TapeModel::Line::Kind::Heading) {
                run = runOf(model_->lineText(row));
            }
        }
        const TapeModel::Line kind = model_->line(wanted);
        TapeDocument::Line line;
        line.run = run;
        line.text = model_->lineText(wanted);
        line.heading = kind.kind == TapeModel::Line::Kind::Heading;
        line.note = model_->index(wanted).data(TapeModel::NoteRole).toString();
        if (kind.kind == TapeModel::Line::Kind::ThisRun) {
            const std::string_view text = session.engine().tape().at(kind.number);
            for (const quillo::LineNumber& n : model_->numbers(wanted)) {
                if (n.was.empty() || n.offset + n.length > text.size()) {
                    continue;
                }
                line.corrections.push_back({fromUtf8(text.substr(0, n.offset)).size(),
                                            fromUtf8(text.substr(n.offset, n.length)),
                                            fromUtf8(n.was), timeText(n.correctedAt)});
            }
        }
        doc.lines.push_back(std::move(line));
    }
    return doc;
}

std::function<QByteArray(ExportProgress&)> TapeWindow::maker(Export kind) {
    if (kind == Export::Text) {
        // Lines a Windows editor shows as lines too.
        const QByteArray text = model_->text().replace(u'\n', QStringLiteral("\r\n")).toUtf8();
        return [text](ExportProgress&) { return text; };
    }
    auto doc = std::make_shared<const TapeDocument>(document(exportRows()));
    if (kind == Export::Csv) {
        return [doc](ExportProgress& progress) { return tapedocument::csv(*doc, progress); };
    }
    return [doc](ExportProgress& progress) { return tapedocument::pdf(*doc, progress); };
}

bool TapeWindow::exportTo(Export kind, const QString& path, QString* error) {
    ExportProgress progress;
    return tapedocument::writeWhole(path, maker(kind)(progress), error);
}

void TapeWindow::exportAs(Export kind) {
    const QAction& item = kind == Export::Text  ? *menu().actionExportText
                          : kind == Export::Csv ? *menu().actionExportCsv
                                                : *menu().actionExportPdf;
    auto words = [&item](const char* name) { return item.property(name).toString(); };
    const QString path = QFileDialog::getSaveFileName(this, words("dialogTitle"), words("fileName"),
                                                      words("filter"));
    if (path.isEmpty()) {
        return;
    }
    runJob(
        words("progressText"),
        [make = maker(kind), path, failed = words("failed")](ExportProgress& progress) -> QString {
            const QByteArray bytes = make(progress);
            QString error;
            if (progress.cancelled ||
                tapedocument::writeWhole(path, bytes, &error, &progress.cancelled)) {
                return {};
            }
            return failed.arg(path, error);
        });
}

void TapeWindow::print() {
    const QAction& item = *menu().actionPrint;
    QString error;
    const ChoosePrinter choose = choosePrinter(&error);
    if (choose == nullptr) {
        QMessageBox::warning(this, windowTitle(),
                             item.property("unavailable").toString().arg(error));
        return;
    }
    bool selectionOnly = false;
    std::shared_ptr<QPagedPaintDevice> printer(
        choose(this, selectedRows().size() > 1, &selectionOnly));
    if (!printer) {
        return;
    }
    QList<int> rows = selectionOnly ? selectedRows() : QList<int>(model_->rowCount());
    if (!selectionOnly) {
        std::iota(rows.begin(), rows.end(), 0);
    }
    auto doc = std::make_shared<const TapeDocument>(document(rows));
    runJob(item.property("progressText").toString(),
           [doc, printer, failed = item.property("failed").toString()](ExportProgress& progress) {
               return tapedocument::paint(*doc, *printer, progress) || progress.cancelled
                          ? QString()
                          : failed;
           });
}

void TapeWindow::runJob(const QString& label, std::function<QString(ExportProgress&)> work) {
    if (job_) {
        return; // one at a time; its progress is on the screen
    }
    auto progress = std::make_shared<ExportProgress>();
    auto result = std::make_shared<QString>();
    QThread* thread = QThread::create([progress, result, work = std::move(work)] {
        try {
            *result = work(*progress);
        } catch (const std::bad_alloc&) {
            *result = QStringLiteral("There was not enough memory.");
        }
    });
    thread->setParent(this);
    constexpr int kSteps = 1000;
    auto* dialog = new QProgressDialog(label, menu().actionExportPdf->property("cancel").toString(),
                                       0, kSteps, this);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setMinimumDuration(500);
    dialog->setAutoClose(false);
    dialog->setAutoReset(false);
    auto* timer = new QTimer(dialog);
    connect(timer, &QTimer::timeout, dialog, [dialog, progress] {
        const qint64 total = std::max(1, progress->total.load());
        dialog->setValue(static_cast<int>(progress->done.load() * kSteps / total));
    });
    connect(dialog, &QProgressDialog::canceled, this, [progress] { progress->cancelled = true; });
    connect(thread, &QThread::finished, this, [this, thread, dialog, progress, result] {
        dialog->disconnect(this);
        dialog->deleteLater();
        thread->deleteLater();
        job_ = nullptr;
        if (!progress->cancelled && !result->isEmpty()) {
            QMessageBox::warning(this, windowTitle(), *result);
        }
    });
    job_ = thread;
    jobProgress_ = progress;
    timer->start(100);
    thread->start();
}
