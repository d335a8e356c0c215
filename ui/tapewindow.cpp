// SPDX-License-Identifier: MIT
#include "tapewindow.h"

#include "ui_TapeMenu.h"
#include "ui_TapeWindow.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QHideEvent>
#include <QKeyEvent>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QSaveFile>
#include <QScreen>
#include <QScrollBar>

#include <algorithm>

namespace {

// Space between the calculator and its tape.
constexpr int kGap = 8;

bool isCombination(const QKeyEvent& event, Qt::KeyboardModifiers modifiers, Qt::Key key) {
    return event.keyCombination() == QKeyCombination(modifiers, key);
}

} // namespace

QSize TapeDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    // The list stretches a row to its width; a narrower hint keeps the
    // widest line from widening them all.
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setWidth(1);
    return size;
}

TapeWindow::TapeWindow(TapeModel* model, KeyHandler forward, QWidget* parent)
    : QWidget(parent, Qt::Window), ui(std::make_unique<Ui::TapeWindow>()), model_(model),
      forward_(std::move(forward)) {
    ui->setupUi(this);
    model_->setParent(this);
    ui->lines->setModel(model_);
    ui->lines->setItemDelegate(new TapeDelegate(this));
    ui->lines->installEventFilter(this);
    connect(ui->copyAll, &QPushButton::clicked, this, &TapeWindow::copyAll);
    connect(ui->saveAs, &QPushButton::clicked, this, &TapeWindow::saveAs);
    connect(ui->clearTape, &QPushButton::clicked, this, &TapeWindow::clearRequested);
    connect(ui->lines, &QListView::doubleClicked, this, &TapeWindow::choose);
    connect(ui->lines, &QWidget::customContextMenuRequested, this, &TapeWindow::showMenu);
    // The newest line stays in view while the user has not scrolled up.
    QScrollBar* bar = ui->lines->verticalScrollBar();
    connect(model_, &QAbstractItemModel::rowsAboutToBeInserted, this,
            [this, bar] { atBottom_ = bar->value() == bar->maximum(); });
    connect(model_, &QAbstractItemModel::rowsInserted, this, [this] {
        if (atBottom_) {
            ui->lines->scrollToBottom();
        }
    });
}

TapeWindow::~TapeWindow() = default;

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

QList<int> TapeWindow::selectedRows() const {
    QList<int> rows;
    for (const QModelIndex& index : ui->lines->selectionModel()->selectedRows()) {
        rows.append(index.row());
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

void TapeWindow::copySelected() const {
    QList<int> rows = selectedRows();
    if (rows.isEmpty() && ui->lines->currentIndex().isValid()) {
        rows.append(ui->lines->currentIndex().row());
    }
    if (!rows.isEmpty()) {
        QGuiApplication::clipboard()->setText(model_->text(rows));
    }
}

void TapeWindow::copyAll() const {
    QGuiApplication::clipboard()->setText(model_->text());
}

void TapeWindow::deleteSelected() {
    const QList<int> rows = selectedRows();
    if (!rows.isEmpty()) {
        emit deleteRequested(rows);
    }
}

// A line's result is the number it ends on.
void TapeWindow::choose(const QModelIndex& index) {
    if (index.isValid()) {
        const QString line = index.data().toString();
        emit resultChosen(line.mid(line.lastIndexOf(u' ') + 1));
    }
}

void TapeWindow::showProblem(const QString& text) {
    ui->problem->setText(text);
    ui->problem->setVisible(!text.isEmpty());
}

void TapeWindow::showMenu(const QPoint& at) {
    if (!menu_) {
        menu_ = new QMenu(this);
        menuUi_ = std::make_unique<Ui::TapeMenu>();
        menuUi_->setupUi(menu_);
        connect(menuUi_->actionCopy, &QAction::triggered, this, &TapeWindow::copySelected);
        connect(menuUi_->actionCopyAll, &QAction::triggered, this, &TapeWindow::copyAll);
        connect(menuUi_->actionSaveAs, &QAction::triggered, this, &TapeWindow::saveAs);
        connect(menuUi_->actionDelete, &QAction::triggered, this, &TapeWindow::deleteSelected);
        connect(menuUi_->actionClearTape, &QAction::triggered, this, &TapeWindow::clearRequested);
        connect(menuUi_->actionKeepTape, &QAction::triggered, this, &TapeWindow::keepingChanged);
    }
    const bool any = model_->rowCount() > 0;
    menuUi_->actionCopy->setEnabled(ui->lines->currentIndex().isValid());
    menuUi_->actionDelete->setEnabled(!selectedRows().isEmpty());
    menuUi_->actionCopyAll->setEnabled(any);
    menuUi_->actionClearTape->setEnabled(any);
    menuUi_->actionKeepTape->setChecked(keeping_);
    menu_->popup(ui->lines->viewport()->mapToGlobal(at));
}

bool TapeWindow::saveTo(const QString& path, QString* error) const {
    QSaveFile file(path);
    const QByteArray text = model_->text().toUtf8();
    if (file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit()) {
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
    const QKeyEvent& e = *event;
    if (e.matches(QKeySequence::Copy)) {
        copySelected();
    } else if (e.matches(QKeySequence::Save) || isCombination(e, Qt::ControlModifier, Qt::Key_S)) {
        saveAs();
    } else if (isCombination(e, {}, Qt::Key_Delete)) {
        deleteSelected();
    } else if (isCombination(e, {}, Qt::Key_Return) ||
               isCombination(e, Qt::KeypadModifier, Qt::Key_Enter)) {
        choose(ui->lines->currentIndex());
    } else if (isCombination(e, {}, Qt::Key_Escape)) {
        close();
    } else {
        // What the calculator does not take (the arrows, Ctrl+A) is the list's.
        return forward_(event);
    }
    return true;
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

void TapeWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (!event->spontaneous()) {
        emit hidden();
    }
}
