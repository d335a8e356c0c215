// SPDX-License-Identifier: MIT
#include "tapewindow.h"

#include "placement.h"
#include "shortcuts.h"
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
#include <QProxyStyle>
#include <QResizeEvent>
#include <QSaveFile>
#include <QScreen>
#include <QScrollBar>

#include <algorithm>
#include <utility>

namespace {

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

// A menu whose greyed items the arrow keys reach too, so that a keyboard
// or screen-reader user hears why one is greyed.
class ReachDisabled : public QProxyStyle {
public:
    explicit ReachDisabled(QObject* owner) { setParent(owner); }
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returned) const override {
        return hint == SH_Menu_AllowActiveAndDisabled
                   ? 1
                   : QProxyStyle::styleHint(hint, option, widget, returned);
    }
};

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
    // Before the view's and its selection's own connections, which move the
    // current row off rows going out.
    connect(model_, &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [this](const QModelIndex&, int first, int last) {
                const QModelIndex current = ui->lines->currentIndex();
                if (!lostCurrent_ && current.isValid() && current.row() >= first &&
                    current.row() <= last) {
                    lostCurrent_ = current.row();
                    lostSelected_ = ui->lines->selectionModel()->isSelected(current);
                }
            });
    ui->lines->setModel(model_);
    ui->lines->setItemDelegate(new TapeDelegate(this));
    model_->setNotes(ui->lines->property("correctedNote").toString(),
                     ui->lines->property("followsNote").toString(),
                     ui->lines->property("fixedNote").toString());
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
    // Scrolled up, the line at the top stays there while older lines go:
    // the view is moved up by the rows taken out above it.
    connect(model_, &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [this, bar](const QModelIndex&, int first, int last) {
                const int top = bar->value() / rowStep();
                removedAbove_ = bar->value() == bar->maximum()
                                    ? 0
                                    : std::max(0, std::min(last + 1, top) - first);
            });
    connect(model_, &QAbstractItemModel::rowsRemoved, this, [this, bar] {
        if (removedAbove_ > 0) {
            bar->setValue(bar->value() - removedAbove_ * rowStep());
        }
    });
    // An undo or a correction writes lines anew: the current row stays where
    // it was (Ctrl+C, F2 and the arrows go on from it).
    connect(model_, &TapeModel::followed, this, [this] {
        const std::optional<int> row = std::exchange(lostCurrent_, std::nullopt);
        if (row && model_->rowCount() > 0) {
            ui->lines->selectionModel()->setCurrentIndex(
                model_->index(std::min(*row, model_->rowCount() - 1)),
                lostSelected_ ? QItemSelectionModel::ClearAndSelect
                              : QItemSelectionModel::NoUpdate);
        }
        // Opened empty, as at start before the earlier runs' lines are read:
        // the first rows to come make the newest current, whatever the view
        // made current meanwhile.
        if (newestWanted_ && model_->rowCount() > 0) {
            newestWanted_ = false;
            ui->lines->selectionModel()->setCurrentIndex(model_->index(model_->rowCount() - 1),
                                                         QItemSelectionModel::NoUpdate);
        }
    });

    preferred_ = placed_ = size();
    settled_.setSingleShot(true);
    settled_.setInterval(kSettledMilliseconds);
    connect(&settled_, &QTimer::timeout, this, &TapeWindow::keepClear);
    handOver_.setSingleShot(true);
    handOver_.setInterval(kHandOverMilliseconds);
    connect(&handOver_, &QTimer::timeout, this, &QWidget::close);
}

TapeWindow::~TapeWindow() = default;

int TapeWindow::rowStep() const {
    const QListView* list = ui->lines;
    return list->verticalScrollMode() == QAbstractItemView::ScrollPerPixel
               ? std::max(1, list->sizeHintForRow(0))
               : 1;
}

void TapeWindow::open(QWidget& calculator, const QWidget& display) {
    handOver_.stop();
    if (!isVisible()) {
        setWindowState(windowState() & ~Qt::WindowMinimized);
        // A screen reader starts where the eye does: at the newest line.
        QListView* list = ui->lines;
        const int rows = list->model()->rowCount();
        if (rows > 0) {
            list->selectionModel()->setCurrentIndex(list->model()->index(rows - 1, 0),
                                                    QItemSelectionModel::NoUpdate);
        }
        newestWanted_ = rows == 0;
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
    request.offset = offset_.value_or(QPoint());
    request.hasOffset = offset_.has_value();
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
    if (!index.isValid()) {
        return;
    }
    if (const TapeModel::Line line = model_->line(index.row());
        line.kind == TapeModel::Line::Kind::ThisRun) {
        emit lineChosen(line.number);
        return;
    }
    const QString line = index.data().toString();
    emit resultChosen(line.mid(line.lastIndexOf(u' ') + 1));
}

void TapeWindow::showProblem(const QString& text) {
    ui->problem->setText(text);
    ui->problem->setVisible(!text.isEmpty());
}

Ui::TapeMenu& TapeWindow::menu() {
    if (!menu_) {
        menu_ = new QMenu(this);
        menuUi_ = std::make_unique<Ui::TapeMenu>();
        menuUi_->setupUi(menu_);
        menu_->setStyle(new ReachDisabled(menu_));
        connect(menuUi_->actionCopy, &QAction::triggered, this, &TapeWindow::copySelected);
        connect(menuUi_->actionCopyAll, &QAction::triggered, this, &TapeWindow::copyAll);
        connect(menuUi_->actionSaveAs, &QAction::triggered, this, &TapeWindow::saveAs);
        connect(menuUi_->actionCorrect, &QAction::triggered, this, &TapeWindow::correctCurrent);
        connect(menuUi_->actionDelete, &QAction::triggered, this, &TapeWindow::deleteSelected);
        connect(menuUi_->actionClearTape, &QAction::triggered, this, &TapeWindow::clearRequested);
        connect(menuUi_->actionKeepTape, &QAction::triggered, this, &TapeWindow::keepingChanged);
        shortcuts::showOn(*menuUi_->actionCopy, shortcuts::Action::Copy);
        shortcuts::showOn(*menuUi_->actionSaveAs, shortcuts::Action::SaveAs);
        shortcuts::showOn(*menuUi_->actionDelete, shortcuts::Action::Delete);
        shortcuts::showOn(*menuUi_->actionCorrect, shortcuts::Action::Correct);
        menuUi_->actionCorrect->setProperty("caption", menuUi_->actionCorrect->text());
    }
    return *menuUi_;
}

void TapeWindow::showMenu(const QPoint& at) {
    Ui::TapeMenu& items = menu();
    const bool any = model_->rowCount() > 0;
    items.actionCopy->setEnabled(ui->lines->currentIndex().isValid());
    // Greyed, the item still says why, in its text: a screen reader reads
    // that, not a tooltip.
    QAction& correct = *items.actionCorrect;
    const QString why = whyNotCorrectable(ui->lines->currentIndex().row());
    correct.setEnabled(why.isEmpty());
    correct.setText(why.isEmpty() ? correct.property("caption").toString()
                                  : correct.property("textWhyNot").toString().arg(why));
    correct.setToolTip(why.isEmpty() ? correct.property("whatItDoes").toString() : why);
    items.actionDelete->setEnabled(!selectedRows().isEmpty());
    items.actionCopyAll->setEnabled(any);
    items.actionClearTape->setEnabled(any);
    items.actionKeepTape->setChecked(keeping_);
    menu_->popup(ui->lines->viewport()->mapToGlobal(at));
}

bool TapeWindow::saveTo(const QString& path, QString* error) const {
    const QByteArray text = model_->text().toUtf8();
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
    using shortcuts::Action;
    const QKeyEvent& e = *event;
    if (shortcuts::matches(e, Action::Copy)) {
        copySelected();
    } else if (shortcuts::matches(e, Action::SaveAs)) {
        saveAs();
    } else if (shortcuts::matches(e, Action::Correct)) {
        correctCurrent();
    } else if (shortcuts::matches(e, Action::Delete)) {
        deleteSelected();
    } else if (shortcuts::matches(e, Action::ChooseLine)) {
        choose(ui->lines->currentIndex());
    } else if (shortcuts::matches(e, Action::CloseTape)) {
        closeKeepingKeys();
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

void TapeWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (!event->spontaneous()) {
        if (calculator_) {
            offset_ = frameGeometry().topLeft() - calculator_->frameGeometry().topLeft();
        }
        emit hidden();
    }
}
