// SPDX-License-Identifier: MIT
#include "tapewindow.h"

#include "ui_TapeWindow.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QKeyEvent>
#include <QMessageBox>
#include <QSaveFile>
#include <QScreen>

#include <algorithm>

namespace {

QString fromUtf8(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// Space between the calculator and its tape.
constexpr int kGap = 8;

} // namespace

TapeModel::TapeModel(const quillo::Tape& tape, QObject* parent)
    : QAbstractListModel(parent), tape_(tape), first_(tape.first()), end_(tape.end()) {}

int TapeModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(end_ - first_);
}

QVariant TapeModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rowCount() ||
        static_cast<std::size_t>(index.row()) >= tape_.size()) {
        return {};
    }
    return fromUtf8(tape_.line(static_cast<std::size_t>(index.row())));
}

void TapeModel::sync() {
    const std::uint64_t first = tape_.first();
    const std::uint64_t end = tape_.end();
    if (first == first_ && end == end_) {
        return;
    }
    if (first < first_ || first > end_ || end < end_) {
        beginResetModel();
        first_ = first;
        end_ = end;
        endResetModel();
        return;
    }
    if (first > first_) {
        beginRemoveRows({}, 0, static_cast<int>(first - first_) - 1);
        first_ = first;
        endRemoveRows();
    }
    if (end > end_) {
        beginInsertRows({}, static_cast<int>(end_ - first_), static_cast<int>(end - first_) - 1);
        end_ = end;
        endInsertRows();
    }
}

TapeWindow::TapeWindow(const quillo::Tape& tape, KeyHandler forward, QWidget* parent)
    : QWidget(parent, Qt::Window), ui(std::make_unique<Ui::TapeWindow>()), tape_(tape),
      model_(new TapeModel(tape, this)), forward_(std::move(forward)) {
    ui->setupUi(this);
    ui->lines->setModel(model_);
    ui->lines->installEventFilter(this);
    connect(ui->copyAll, &QPushButton::clicked, this, &TapeWindow::copyAll);
    connect(ui->saveAs, &QPushButton::clicked, this, &TapeWindow::saveAs);
    connect(ui->clearTape, &QPushButton::clicked, this, &TapeWindow::clearRequested);
}

TapeWindow::~TapeWindow() = default;

void TapeWindow::sync() {
    model_->sync();
    ui->lines->scrollToBottom();
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
    QSaveFile file(path);
    const std::string text = tape_.text();
    if (file.open(QIODevice::WriteOnly) &&
        file.write(text.data(), static_cast<qint64>(text.size())) ==
            static_cast<qint64>(text.size()) &&
        file.commit()) {
        return true;
    }
    *error = file.errorString();
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
