// SPDX-License-Identifier: MIT
#include "tapedocument.h"

#include <QSaveFile>

#include <algorithm>

namespace tapedocument {
namespace {

// How many lines go between two looks at the progress and the cancel.
constexpr std::size_t kSlice = 64;

void field(QString& out, const QString& text) {
    out += u'"';
    for (const QChar c : text) {
        out += c;
        if (c == u'"') {
            out += u'"';
        }
    }
    out += u'"';
}

void row(QString& out, const QStringList& fields) {
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i > 0) {
            out += u',';
        }
        field(out, fields[i]);
    }
    out += QStringLiteral("\r\n");
}

} // namespace

QString resultOf(const QString& line) {
    const qsizetype equals = line.lastIndexOf(QStringLiteral("= "));
    return equals < 0 ? QString() : line.mid(equals + 2);
}

QByteArray csv(const TapeDocument& document, ExportProgress& progress) {
    progress.total = static_cast<int>(document.lines.size());
    QString out;
    row(out, document.words.columns);
    for (std::size_t i = 0; i < document.lines.size(); ++i) {
        if (i % kSlice == 0) {
            if (progress.cancelled) {
                return {};
            }
            progress.done = static_cast<int>(i);
        }
        const TapeDocument::Line& line = document.lines[i];
        if (line.heading) {
            continue;
        }
        QStringList corrections;
        for (const TapeDocument::Correction& c : line.corrections) {
            corrections << document.words.corrected.arg(c.now, c.was, c.when);
        }
        row(out, {line.run, line.text, resultOf(line.text), line.note,
                  corrections.join(QStringLiteral("; "))});
    }
    progress.done = progress.total.load();
    return QByteArrayLiteral("\xEF\xBB\xBF") + out.toUtf8();
}

bool writeWhole(const QString& path, const QByteArray& bytes, QString* error,
                const std::atomic<bool>* cancelled) {
    QSaveFile file(path);
    // Unbuffered: a write the disk refuses then fails in write() itself, with
    // the system's reason. A buffered one can fail unseen, and Qt 6.4's
    // commit() still reports success for the file cut short.
    bool ok = file.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    const auto size = static_cast<qint64>(bytes.size());
    constexpr qint64 kChunk = 1 << 20;
    for (qint64 done = 0; ok && done < size;) {
        if (cancelled != nullptr && *cancelled) {
            file.cancelWriting();
            return false;
        }
        // A short write gives no reason; the next one fails with it.
        const qint64 written = file.write(bytes.data() + done, std::min(kChunk, size - done));
        ok = written > 0;
        done += ok ? written : 0;
    }
    if (ok && file.flush() && file.commit()) {
        return true;
    }
    *error = file.error() != QFileDevice::NoError
                 ? file.errorString()
                 : QStringLiteral("The file could not be written whole.");
    file.cancelWriting(); // the temporary goes; the file at `path` is as it was
    return false;
}

} // namespace tapedocument
