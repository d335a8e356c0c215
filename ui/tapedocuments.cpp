// SPDX-License-Identifier: MIT
#include "tapedocuments.h"

#include "document.h"
#include "settings.h"
#include "tapecontroller.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QSaveFile>
#include <QThread>

#include <algorithm>
#include <new>
#include <string_view>
#include <utility>

namespace {

using Why = quillo::DocumentError::Why;

QString fromStd(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// What is wrong with a file, and where, in the user's words.
QString words(const quillo::DocumentError& e) {
    const QString line = QString::number(e.line);
    const QString detail = fromStd(e.detail);
    switch (e.why) {
    case Why::NotATape:
        return QStringLiteral(
            "It is not a Quillo tape: its first line is not \"# quillo tape 1\".");
    case Why::Newer:
        return QStringLiteral("It was saved by a newer version of Quillo (tape version %1 on "
                              "line 1); this version reads version %2.")
            .arg(detail)
            .arg(quillo::Document::kVersion);
    case Why::NotText:
        return QStringLiteral("Line %1 is not text (it is not UTF-8, or holds a control "
                              "character): the file is damaged or of another kind.")
            .arg(line);
    case Why::CutShort:
        return QStringLiteral("It is cut short: it stops at line %1, before its last line "
                              "\"# end\".")
            .arg(line);
    case Why::AfterEnd:
        return QStringLiteral("Line %1 comes after the last line \"# end\": the file is damaged.")
            .arg(line);
    case Why::UnknownLine:
        return QStringLiteral("Line %1 is no line a Quillo tape has: the file is damaged or of "
                              "another kind.")
            .arg(line);
    case Why::Misplaced:
        return QStringLiteral("Line %1 is out of its place: a title stands before the keys, a "
                              "note after a key, an old value before a number.")
            .arg(line);
    case Why::TooLong:
        return QStringLiteral("Line %1 holds a title or a note longer than %2 characters.")
            .arg(line)
            .arg(quillo::Document::kTextLimit);
    case Why::UnknownKey:
        return QStringLiteral("Line %1 is no calculator key: \"%2\".").arg(line, detail);
    case Why::KeyFails:
        return QStringLiteral("The key on line %1 fails (%2) where it did not when the tape was "
                              "saved: the file was changed.")
            .arg(line, detail);
    case Why::NoLine:
        return QStringLiteral("The note on line %1 follows a key that writes no line on the tape.")
            .arg(line);
    case Why::NotANumber:
        return QStringLiteral("The old value on line %1 does not stand before a typed number.")
            .arg(line);
    case Why::TooLarge:
        break;
    }
    return QStringLiteral("It is larger than the %1 MB a tape may have.")
        .arg(quillo::Document::kSizeLimit >> 20);
}

// A file the worker read: the calculation worked out, or why not.
struct Read {
    std::shared_ptr<quillo::Session::Opened> opened;
    QString title;
    QString problem;
};

Read readTape(const QString& path) {
    Read out;
    const QFileInfo info(path);
    if (info.isDir()) {
        out.problem = QStringLiteral("It is a folder.");
        return out;
    }
    if (info.exists() && !info.isFile()) {
        // A pipe or a device could be read without end.
        out.problem = QStringLiteral("It is not a file but a device or a pipe.");
        return out;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        out.problem = QStringLiteral("It cannot be read: %1.").arg(file.errorString());
        return out;
    }
    constexpr auto limit = static_cast<qint64>(quillo::Document::kSizeLimit);
    quillo::DocumentError tooLarge{Why::TooLarge, 0, {}};
    if (file.size() > limit) {
        out.problem = words(tooLarge);
        return out;
    }
    const QByteArray bytes = file.read(limit + 1);
    if (file.error() != QFileDevice::NoError) {
        out.problem = QStringLiteral("It cannot be read: %1.").arg(file.errorString());
        return out;
    }
    auto parsed = quillo::parseDocument(
        std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    if (const auto* e = std::get_if<quillo::DocumentError>(&parsed)) {
        out.problem = words(*e);
        return out;
    }
    const quillo::Document& document = std::get<quillo::Document>(parsed);
    auto replayed = quillo::Session::replay(document);
    if (const auto* e = std::get_if<quillo::DocumentError>(&replayed)) {
        out.problem = words(*e);
        return out;
    }
    out.opened = std::get<std::shared_ptr<quillo::Session::Opened>>(std::move(replayed));
    out.title = fromStd(document.title);
    return out;
}

// Whole or not at all: `path` is replaced only once every byte is on disk.
QString writeTape(const QString& path, const QByteArray& text) {
    QSaveFile file(path);
    // Unbuffered: a write the disk refuses fails in write() itself, with the
    // system's reason; Qt's buffered commit() can report success for a file
    // cut short.
    bool ok = file.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    const auto size = static_cast<qint64>(text.size());
    for (qint64 done = 0; ok && done < size;) {
        const qint64 written = file.write(text.constData() + done, size - done);
        ok = written > 0;
        done += ok ? written : 0;
    }
    if (ok && file.flush() && file.commit()) {
        return {};
    }
    const QString why = file.error() != QFileDevice::NoError
                            ? file.errorString()
                            : QStringLiteral("The file could not be written whole.");
    file.cancelWriting();
    return why;
}

} // namespace

TapeDocuments::TapeDocuments(quillo::Session& session, TapeController& tape, Settings& settings,
                             QString appTitle, QWidget& parent)
    : session_(session), tape_(tape), settings_(settings), appTitle_(std::move(appTitle)),
      parent_(parent), listening_(session.listen(*this)) {}

TapeDocuments::~TapeDocuments() {
    listening_ = {};
    // Joined: a thread left running could outlive what it reports to.
    for (QThread* thread : threads_) {
        thread->wait();
        delete thread;
    }
}

void TapeDocuments::offThread(std::function<std::function<void()>()> work) {
    busy_ = true;
    QThread* thread = QThread::create([this, work = std::move(work)] {
        std::function<void()> done;
        try {
            done = work();
        } catch (const std::bad_alloc&) {
            done = [this] { ended(false, false, {}, QStringLiteral("Memory ran out.")); };
        }
        QMetaObject::invokeMethod(this, std::move(done), Qt::QueuedConnection);
    });
    threads_.push_back(thread);
    connect(thread, &QThread::finished, this, [this, thread] {
        std::erase(threads_, thread);
        thread->deleteLater();
    });
    thread->start();
}

void TapeDocuments::open(const QString& path) {
    if (busy_) {
        return;
    }
    problem_.clear();
    offThread([this, path]() -> std::function<void()> {
        auto read = std::make_shared<Read>(readTape(path));
        return [this, path, read] {
            if (!read->opened) {
                ended(false, true, path, read->problem);
                return;
            }
            opening_ = true;
            const bool done = tape_.open(*read->opened);
            opening_ = false;
            if (done) {
                title_ = read->title;
            }
            ended(done, true, path,
                  QStringLiteral("The calculator was busy: open it again once its box is "
                                 "closed."));
        };
    });
}

void TapeDocuments::save(const QString& path) {
    if (busy_) {
        return;
    }
    problem_.clear();
    // The tape's own title goes with it under any name; a new one takes the file's.
    const QString title = !title_.isEmpty() ? title_ : QFileInfo(path).completeBaseName();
    std::string text;
    try {
        text = quillo::writeDocument(session_.document(title.toStdString()));
    } catch (const std::bad_alloc&) {
        ended(false, false, path, QStringLiteral("Memory ran out."));
        return;
    }
    auto bytes = std::make_shared<QByteArray>(text.data(), static_cast<qsizetype>(text.size()));
    offThread([this, path, title, bytes]() -> std::function<void()> {
        const QString why = writeTape(path, *bytes);
        return [this, path, title, why] {
            if (why.isEmpty()) {
                title_ = title;
            }
            ended(why.isEmpty(), false, path, why);
        };
    });
}

void TapeDocuments::ended(bool done, bool opening, const QString& path, const QString& what) {
    busy_ = false;
    if (done) {
        path_ = path;
        modified_ = false;
        settings_.addRecentTape(path);
        emit changed();
    } else {
        problem_ = what;
        QMessageBox::warning(&parent_, appTitle_,
                             (opening ? QStringLiteral("The tape was not opened from %1.\n%2")
                                      : QStringLiteral("The tape was not saved to %1.\n%2"))
                                 .arg(QDir::toNativeSeparators(path), what));
    }
    emit finished(done);
}

void TapeDocuments::openAsked() {
    const QString path = QFileDialog::getOpenFileName(
        &parent_, QStringLiteral("Open a tape"), QFileInfo(path_).path(),
        QStringLiteral("Quillo tapes (*.%1);;All files (*)").arg(QLatin1String(kSuffix)));
    if (!path.isEmpty()) {
        open(path);
    }
}

void TapeDocuments::saveAsked() {
    QFileDialog dialog(&parent_, QStringLiteral("Save the tape"),
                       path_.isEmpty() ? QStringLiteral("tape.%1").arg(QLatin1String(kSuffix))
                                       : path_,
                       QStringLiteral("Quillo tapes (*.%1)").arg(QLatin1String(kSuffix)));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QLatin1String(kSuffix));
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        save(dialog.selectedFiles().constFirst());
    }
}

void TapeDocuments::sessionChanged(const quillo::Session&, const quillo::Change&) noexcept {
    if (opening_ || path_.isEmpty() || modified_) {
        return;
    }
    modified_ = true;
    emit changed();
}
