// SPDX-License-Identifier: MIT
#include "tapewindow.h"

#include "placement.h"
#include "ui_TapeWindow.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QListView>
#include <QMessageBox>
#include <QResizeEvent>
#include <QSaveFile>
#include <QScreen>
#include <QStyle>

#include <algorithm>

namespace {

QString fromUtf8(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// How long a resize must have stopped before the tape is placed again: while
// the user still drags an edge, the window is left under the mouse.
constexpr int kSettledMilliseconds = 300;
// How long a closing tape waits for the calculator to take the keyboard
// before it hides all the same (a window system may refuse to move it).
constexpr int kHandOverMilliseconds = 500;

// A window's frame margins, or the ones last seen while it reports none.
QMargins marginsOf(const QWidget& window, QMargins& seen) {
    const QRect frame = window.frameGeometry();
    const QRect client = window.geometry();
    const QMargins now(client.left() - frame.left(), client.top() - frame.top(),
                       frame.right() - client.right(), frame.bottom() - client.bottom());
    if (!now.isNull()) {
        seen = now;
    }
    return seen;
}

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

    preferred_ = placed_ = size();
    settled_.setSingleShot(true);
    settled_.setInterval(kSettledMilliseconds);
    connect(&settled_, &QTimer::timeout, this, &TapeWindow::keepClear);
    handOver_.setSingleShot(true);
    handOver_.setInterval(kHandOverMilliseconds);
    connect(&handOver_, &QTimer::timeout, this, &QWidget::close);
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

void TapeWindow::open(QWidget& calculator, const QWidget& display) {
    handOver_.stop();
    if (!isVisible()) {
        setWindowState(windowState() & ~Qt::WindowMinimized);
        // A screen reader starts where the eye does: at the newest line.
        QListView* list = ui->lines;
        if (const int rows = list->model()->rowCount(); rows > 0) {
            list->selectionModel()->setCurrentIndex(list->model()->index(rows - 1, 0),
                                                    QItemSelectionModel::NoUpdate);
        }
        placeBeside(calculator, display);
        // Placed by a guessed frame the first time, and again once the
        // window manager has drawn the real one.
        QTimer::singleShot(kSettledMilliseconds, this, [this] {
            if (isOpen() && marginsOf(*this, margins_) != placedWith_) {
                placeBeside(*calculator_, *display_);
            }
        });
    } else if (isMinimized()) {
        setWindowState(windowState() & ~Qt::WindowMinimized);
    }
    show();
    raise();
    activateWindow();
}

bool TapeWindow::isOpen() const {
    return isVisible() && !isMinimized() && !handOver_.isActive();
}

void TapeWindow::closeKeepingKeys() {
    QWidget* calculator = parentWidget();
    if (!isActiveWindow() || calculator == nullptr || !calculator->isVisible()) {
        close();
        return;
    }
    handOver_.start(); // first: the activation may be carried out at once
    calculator->activateWindow();
}

void TapeWindow::placeBeside(QWidget& calculator, const QWidget& display) {
    if (calculator_ != &calculator) {
        calculator.installEventFilter(this); // for its resizes
    }
    calculator_ = &calculator;
    display_ = &display;
    placement::Request request;
    request.screen = calculator.screen()->availableGeometry();
    request.calculator =
        calculator.geometry().marginsAdded(marginsOf(calculator, calculatorMargins_));
    request.display = QRect(display.mapToGlobal(QPoint(0, 0)), display.size());
    // Before it is first shown the tape has no frame yet: the calculator's,
    // drawn by the same window manager, is the best guess.
    const QMargins own = marginsOf(*this, margins_);
    request.margins = own.isNull() ? calculatorMargins_ : own;
    request.minimum = minimumSizeHint().expandedTo(minimumSize());
    request.preferred = preferred_;
    const QRect client = placement::tapeFrame(request).marginsRemoved(request.margins);
    placed_ = client.size();
    placedWith_ = request.margins;
    // By the client area: a frame position would be taken wrongly while the
    // window manager has not framed the window yet.
    setGeometry(client);
}

void TapeWindow::keepClear() {
    if (!isOpen() || calculator_ == nullptr || display_ == nullptr || !calculator_->isVisible()) {
        return;
    }
    const QRect calculator =
        calculator_->geometry().marginsAdded(marginsOf(*calculator_, calculatorMargins_));
    if (geometry().marginsAdded(marginsOf(*this, margins_)).intersects(calculator)) {
        placeBeside(*calculator_, *display_);
    }
}

void TapeWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (event->size() != placed_) { // the user's doing
        preferred_ = event->size();
        settled_.start();
    }
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
    // Keys that reach a closing or closed tape were typed for the calculator.
    if (!isOpen()) {
        return forward_(event);
    }
    if (event->matches(QKeySequence::Copy)) {
        copySelected();
        return true;
    }
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        closeKeepingKeys();
        return true;
    }
    // What the calculator does not take (the arrows, Ctrl+A) is the list's.
    return forward_(event);
}

bool TapeWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui->lines && event->type() == QEvent::KeyPress) {
        return handleKey(static_cast<QKeyEvent*>(event));
    }
    if (watched == calculator_ && event->type() == QEvent::Resize) {
        settled_.start();
    }
    return QWidget::eventFilter(watched, event);
}

void TapeWindow::keyPressEvent(QKeyEvent* event) {
    if (!handleKey(event)) {
        QWidget::keyPressEvent(event);
    }
}

void TapeWindow::changeEvent(QEvent* event) {
    // The calculator has the keyboard now: keys typed from here on go to it.
    if (event->type() == QEvent::ActivationChange && handOver_.isActive() && !isActiveWindow()) {
        handOver_.stop();
        close();
    }
    QWidget::changeEvent(event);
}
