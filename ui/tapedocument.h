// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <atomic>
#include <vector>

class QPagedPaintDevice;

// The tape as a document to hand over: a copy of the lines to print or
// export, taken on the window's thread, so that pages and files can be made
// on another while the tape goes on.
struct TapeDocument {
    // A corrected number: where its new text starts on the line (UTF-16
    // units), that text, what it was and when it was corrected.
    struct Correction {
        qsizetype offset = 0;
        QString now;
        QString was;
        QString when;
    };
    struct Line {
        QString run; // when its run started
        QString text;
        QString note;
        bool heading = false;
        std::vector<Correction> corrections;
    };
    // The words, which are the window's.
    struct Words {
        QString page;        // "Page %1 of %2"
        QString corrected;   // %1 the number now, %2 what it was, %3 when
        QStringList columns; // the CSV's header
    };
    QString title;
    QString date;
    Words words;
    std::vector<Line> lines;
};

// How far a long piece of work is, and the user's wish to stop it; shared
// between the window and the thread doing the work.
struct ExportProgress {
    std::atomic<int> done{0};
    std::atomic<int> total{1};
    std::atomic<bool> cancelled{false};
};

namespace tapedocument {

// The number a line ends on, after its last "= "; "" for a line with none.
QString resultOf(const QString& line);
// One row a line (headings give their run's start to the lines under them):
// RFC 4180, every field quoted, CRLF, UTF-8 with a byte order mark, which
// spreadsheets need to read it as UTF-8. Empty when cancelled.
QByteArray csv(const TapeDocument& document, ExportProgress& progress);
// The title and the date, then each line with its note and its corrections
// (the old number struck through before the new one, and when it was
// corrected), page numbers at the foot. False when cancelled or when the
// device cannot be painted on.
bool paint(const TapeDocument& document, QPagedPaintDevice& device, ExportProgress& progress);
// The same as a PDF (A4) that a screen reader and pdftotext read as text.
QByteArray pdf(const TapeDocument& document, ExportProgress& progress);
// Writes `bytes` through a temporary file that replaces `path` only once
// whole; on failure or cancellation `path` is as it was and no other file
// is left, and `error` names the cause.
bool writeWhole(const QString& path, const QByteArray& bytes, QString* error,
                const std::atomic<bool>* cancelled = nullptr);

} // namespace tapedocument
