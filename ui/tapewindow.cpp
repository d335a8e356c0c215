// SPDX-License-Identifier: MIT
#include "tapewindow.h"

#include "ui_TapeWindow.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QListView>
#include <QMessageBox>
#include <QSaveFile>
#include <QScreen>
#include <QStyle>

#include <algorithm>

namespace {

QString fromUtf8(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// Space between the calculator and its tape.
constexpr int kGap = 8;

} // namespace

// Empty at first: the first sync adds every line, so that all are measured.
TapeModel::TapeModel(const quillo::Tape& tape, QObject* parent)
    : QAbstractListModel(parent), tape_(tape), first_(tape.first()), end_(tape.first()) {}

int TapeModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(end_ - first_);
}

QVariant TapeModel::data(const QModelIndex& index, int role) const {
    // By line number, so that a row reads right even while the model is
    // catching up with the tape.
    const std::uint64_t line = first_ + static_cast<std::uint64_t>(index.row());
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rowCount() ||
        line < tape_.first() || line >= tape_.end()) {
        return {};
    }
    return fromUtf8(tape_.line(static_cast<std::size_t>(line - tape_.first())));
}

std::vector<std::pair<int, int>> TapeModel::sync() {
    const std::uint64_t first = tape_.first();
    const std::uint64_t end = tape_.end();
    if (first == first_ && end == end_) {
        return {};
    }
    if (first >= end_ || end <= first_) { // nothing kept in common
        beginResetModel();
        first_ = first;
        end_ = end;
        endResetModel();
        return {{0, rowCount()}};
    }
    auto row = [this](std::uint64_t line) { return static_cast<int>(line - first_); };
    if (end < end_) { // taken back by undo
        beginRemoveRows({}, row(end), row(end_) - 1);
        end_ = end;
        endRemoveRows();
    }
    if (first > first_) { // pushed out of the tape
        beginRemoveRows({}, 0, row(first) - 1);
        first_ = first;
        endRemoveRows();
    }
    std::vector<std::pair<int, int>> added;
    if (first < first_) { // brought back by undo
        const int count = static_cast<int>(first_ - first);
        beginInsertRows({}, 0, count - 1);
        first_ = first;
        endInsertRows();
        added.emplace_back(0, count);
    }
    if (end > end_) {
        const int from = row(end_);
        beginInsertRows({}, from, row(end) - 1);
        end_ = end;
        endInsertRows();
        added.emplace_back(from, rowCount());
    }
    return added;
}

QSize TapeDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setWidth(std::max(size.width(), widest));
    return size;
}

TapeWindow::TapeWindow(const quillo::Tape& tape, KeyHandler forward, QWidget* parent)
    : QWidget(parent, Qt::Window), ui(std::make_unique<Ui::TapeWindow>()), tape_(tape),
      model_(new TapeModel(tape, this)), delegate_(new TapeDelegate(this)),
      forward_(std::move(forward)) {
    ui->setupUi(this);
    ui->lines->setModel(model_);
    ui->lines->setItemDelegate(delegate_);
    ui->lines->installEventFilter(this);
    connect(ui->copyAll, &QPushButton::clicked, this, &TapeWindow::copyAll);
    connect(ui->saveAs, &QPushButton::clicked, this, &TapeWindow::saveAs);
    connect(ui->clearTape, &QPushButton::clicked, this, &TapeWindow::clearRequested);
}

TapeWindow::~TapeWindow() = default;

void TapeWindow::sync() {
    QListView* list = ui->lines;
    const auto added = model_->sync();
    // The new lines widen the rows if one is wider than all before it. The
    // margins are those the item delegate draws around a text.
    const QFontMetrics metrics(list->font());
    const int margins =
        2 * (list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 1);
    int widest = delegate_->widest;
    for (const auto& [from, to] : added) {
        for (int row = from; row < to; ++row) {
            const QString line = model_->index(row).data().toString();
            widest = std::max(widest, metrics.horizontalAdvance(line) + margins);
        }
    }
    if (widest > delegate_->widest) {
        delegate_->widest = widest;
        list->doItemsLayout();
    }
    list->scrollToBottom();
}

void TapeWindow::placeBeside(const QWidget& calculator) {
    const QRect calc = calculator.frameGeometry();
    const QRect screen = calculator.screen()->availableGeometry();
    QRect frame = frameGeometry();
    // Right of the calculator, else left, below or above: the first place
    // where the whole window shows; on a screen too small for any, the right
    // side, kept on the screen.
    const QPoint places[] = {
        {calc.right() + 1 + kGap, calc.top()},
        {calc.left() - kGap - frame.width(), calc.top()},
        {calc.left(), calc.bottom() + 1 + kGap},
        {calc.left(), calc.top() - kGap - frame.height()},
    };
    QPoint chosen = places[0];
    for (const QPoint& place : places) {
        if (screen.contains(frame.translated(place - frame.topLeft()))) {
            chosen = place;
            break;
        }
    }
    frame.moveTopLeft(chosen);
    chosen.setX(std::clamp(chosen.x(), screen.left(),
                           std::max(screen.left(), screen.right() + 1 - frame.width())));
    chosen.setY(std::clamp(chosen.y(), screen.top(),
                           std::max(screen.top(), screen.bottom() + 1 - frame.height())));
    move(chosen);
}

void TapeWindow::copySelected() const {
    QModelIndexList rows = ui->lines->selectionModel()->selectedRows();
    if (rows.isEmpty()) {
        return;
    }
    std::sort(rows.begin(), rows.end());
    QString text;
    for (const QModelIndex& row : rows) {
        text += row.data().toString();
        text += u'\n';
    }
    QGuiApplication::clipboard()->setText(text);
}

void TapeWindow::copyAll() const {
    QGuiApplication::clipboard()->setText(fromUtf8(tape_.text()));
}

bool TapeWindow::saveTo(const QString& path, QString* error) const {
    const std::string text = tape_.text();
    QSaveFile file(path);
    // Unbuffered: a write the disk refuses then fails in write() itself, with
    // the system's reason. A buffered one can fail unseen, and Qt 6.4's
    // commit() still reports success for the file cut short.
    bool ok = file.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    const auto size = static_cast<qint64>(text.size());
    for (qint64 done = 0; ok && done < size;) {
        // A short write gives no reason; the next one fails with it.
        const qint64 written = file.write(text.data() + done, size - done);
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

void TapeWindow::saveAs() {
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save the tape"),
                                                      QStringLiteral("tape.txt"),
                                                      QStringLiteral("Text files (*.txt)"));
    if (path.isEmpty()) {
        return;
    }
    QString error;
    if (!saveTo(path, &error)) {
        QMessageBox::warning(this, windowTitle(),
                             QStringLiteral("The tape was not saved to %1.\n%2").arg(path, error));
    }
}

bool TapeWindow::handleKey(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy)) {
        copySelected();
        return true;
    }
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return true;
    }
    // What the calculator does not take (the arrows, Ctrl+A) is the list's.
    return forward_(event);
}

bool TapeWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui->lines && event->type() == QEvent::KeyPress) {
        return handleKey(static_cast<QKeyEvent*>(event));
    }
    return QWidget::eventFilter(watched, event);
}

void TapeWindow::keyPressEvent(QKeyEvent* event) {
    if (!handleKey(event)) {
        QWidget::keyPressEvent(event);
    }
}
