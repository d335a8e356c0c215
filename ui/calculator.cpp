// SPDX-License-Identifier: MIT
#include "calculator.h"

#include "accessibility.h"
#include "appearance.h"
#include "clipboard.h"
#include "display.h"
#include "frm2.h"
#include "keyboard.h"
#include "pasteoffer.h"
#include "shortcuts.h"
#include "tapecontroller.h"
#include "tapewindow.h"
#include "ui_Calculator.h"
#include "ui_DisplayMenu.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QButtonGroup>
#include <QClipboard>
#include <QCloseEvent>
#include <QFont>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QSignalBlocker>
#include <QStyleOption>
#include <QTimer>

#include <ctime>
#include <new>
#include <utility>
#include <vector>

using quillo::Key;

namespace {

// How long a typed key shows its button pressed.
constexpr int kPressMilliseconds = 100;
// The keys' font size; the window description's font has whole points only.
constexpr qreal kKeyPointSize = 9.75;

QString toQString(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// The array members carry their Index in the window description; the group
// ids are those indexes, as the control arrays number their keys.
void numberByIndex(QButtonGroup* group) {
    for (QAbstractButton* button : group->buttons()) {
        group->setId(button, button->property("Index").toInt());
    }
}

// A key's caption is its text without the "&" shortcut markers that some
// desktop themes put into button texts ("&&" stands for a plain "&").
std::string caption(const QAbstractButton* button) {
    const QString text = button->text();
    QString plain;
    plain.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'&' && ++i == text.size()) {
            break;
        }
        plain += text[i];
    }
    return plain.toStdString();
}

} // namespace

Calculator::Calculator(Dispatch dispatch, QString title, QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::Calculator>()), dispatch_(dispatch),
      title_(std::move(title)), session_(*this) {
    accessibility::install(); // before any control exists to be asked about
    ui->setupUi(this);
    setWindowTitle(title_);
    // The keys' size and the pictures' renderings for the screen are set here,
    // not by a style sheet, which made every start 4 % dearer; the font's
    // family and weight and the pictures' names stay in the description.
    QFont keys = font();
    keys.setPointSizeF(kKeyPointSize);
    setFont(keys);
    background_ = appearance::picture(*this);
    ui->pic1->setPicture(appearance::picture(*ui->pic1));
    numberByIndex(ui->Number);
    numberByIndex(ui->Operator);

    for (const keyboard::KeyButton& row : keyboard::keyButtons()) {
        QAbstractButton* b = (*ui).*row.button;
        connect(b, &QAbstractButton::clicked, this, [this, k = row.key] { press(k); });
        // Typed keys reach the window before the focused button, which would
        // take an Escape as "cancel my press" while a typed key shows it down.
        b->installEventFilter(this);
    }
    ui->cmdexit->installEventFilter(this);
    connect(ui->cmdexit, &QAbstractButton::clicked, this,
            [this] { exclusive([this] { cmdexit_Click(); }); });
    connect(ui->pic1, &PictureBox::clicked, this, [this] { exclusive([this] { pic1_Click(); }); });
    connect(ui->Readout, &QWidget::customContextMenuRequested, this, &Calculator::showDisplayMenu);

    // The window's load; a screen reader hears of the display's changes after it.
    dispatch_(this, [this] { session_.load(); });
    announced_ = ui->Readout->text();
    settings_ = Settings::load();
    keepOnTop_ = settings_.keepOnTop();
    setWindowFlag(Qt::WindowStaysOnTopHint, keepOnTop_);
    if (settings_.zoom() != zoom_ || settings_.highContrast()) {
        zoom_ = settings_.zoom();
        highContrast_ = settings_.highContrast();
        applyLook();
    }
    tape_ = std::make_unique<TapeController>(
        session_, settings_, *this, *ui->Readout, title_,
        [this](const std::function<void()>& operation) { step(operation); },
        [this](QKeyEvent* event) { return handleKey(event); });
    tape_->setKeepOnTop(keepOnTop_);
    connect(tape_.get(), &TapeController::resultChosen, this, &Calculator::reuse);
    connect(tape_.get(), &TapeController::lineChosen, this, &Calculator::reuseLine);
    connect(tape_.get(), &TapeController::correctionApplied, this, &Calculator::correct);
    listening_ = session_.listen(*this);
}

// The tape goes first, while the calculator it stands beside is whole.
Calculator::~Calculator() {
    tape_.reset();
}

void Calculator::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (highContrast_) { // the look's background, from its style sheet
        QStyleOption option;
        option.initFrom(this);
        style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
        return;
    }
    // Smooth where a high-DPI rendering is drawn at a scale between 1 and 2.
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    if (zoom_ != 100) {
        painter.scale(zoom_ / 100.0, zoom_ / 100.0);
    }
    painter.drawPixmap(0, 0, background_);
}

// Runs one event procedure unless another is under way: a key that arrives
// while a box of the first is open (from a timer or a screen reader's press
// action; the box keeps clicks and typing off) is dropped.
template <class Procedure> void Calculator::exclusive(Procedure&& procedure) {
    if (busy_) {
        return;
    }
    busy_ = true;
    struct Release {
        bool& busy;
        ~Release() { busy = false; }
    } release{busy_};
    std::forward<Procedure>(procedure)();
}

void Calculator::press(Key key) {
    step([this, key] { session_.press(key); });
}

template <class Step> void Calculator::step(Step&& step) {
    exclusive([this, &step] { dispatch_(this, step); });
}

// A typed key clicks its button, cover or not, and shows it pressed a moment.
void Calculator::type(Key key) {
    QAbstractButton* b = button(key);
    if (b == nullptr) {
        return;
    }
    b->click();
    b->setDown(true);
    // One timer a key, started again: a timer made for every key typed left
    // thousands waiting in a burst, and Qt's timer list is searched in line.
    QTimer*& up = released_[static_cast<std::size_t>(key)];
    if (up == nullptr) {
        up = new QTimer(this);
        up->setSingleShot(true);
        up->setInterval(kPressMilliseconds);
        connect(up, &QTimer::timeout, b, [b] { b->setDown(false); });
    }
    up->start();
}

bool Calculator::handleKey(QKeyEvent* event) {
    using shortcuts::Action;
    const QKeyEvent& e = *event;
    if (shortcuts::matches(e, Action::Copy)) {
        copy();
    } else if (shortcuts::matches(e, Action::Paste)) {
        paste();
    } else if (shortcuts::matches(e, Action::Undo)) {
        undo();
    } else if (shortcuts::matches(e, Action::Redo)) {
        redo();
    } else if (shortcuts::matches(e, Action::Tape)) {
        toggleTape();
    } else if (shortcuts::matches(e, Action::ZoomIn)) {
        zoomBy(1);
    } else if (shortcuts::matches(e, Action::ZoomOut)) {
        zoomBy(-1);
    } else if (shortcuts::matches(e, Action::ZoomReset)) {
        zoomBy(0);
    } else if (const auto key = keyboard::keyFor(e)) {
        if (*key == Key::Clear && ui->pic1->isVisible()) {
            ui->pic1->click(); // Escape closes the welcome notice first
        } else {
            type(*key);
        }
    } else {
        return false;
    }
    return true;
}

void Calculator::keyPressEvent(QKeyEvent* event) {
    if (!handleKey(event)) {
        QWidget::keyPressEvent(event);
    }
}

bool Calculator::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && handleKey(static_cast<QKeyEvent*>(event))) {
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void Calculator::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The tape comes back beside the calculator once it has a place.
    if (!std::exchange(shownOnce_, true) && settings_.tapeOpen()) {
        QMetaObject::invokeMethod(this, &Calculator::toggleTape, Qt::QueuedConnection);
    }
}

void Calculator::closeEvent(QCloseEvent* event) {
    tape_->closeWithCalculator();
    QWidget::closeEvent(event);
}

// The clipboard's work also runs through the dispatch point, so that even a
// failure there (out of memory) is reported rather than thrown into Qt.
void Calculator::copy() {
    dispatch_(this, [this] {
        QGuiApplication::clipboard()->setText(toQString(quillo::copyText(displayText())));
    });
}

void Calculator::paste() {
    step([this] { pasteOffer(pasteoffer::text(quillo::kPasteLimit)); });
}

void Calculator::pasteText(const QString& text) {
    step([this, &text] { pasteOffer(text.toStdString()); });
}

void Calculator::reuse(const QString& result) {
    step([this, &result] {
        if (!session_.reuse(result.toStdString())) {
            QApplication::beep();
        }
    });
}

void Calculator::reuseLine(quint64 line) {
    step([this, line] {
        if (!session_.reuseLine(line)) {
            QApplication::beep();
        }
    });
}

// A number typed as its keys, one step; anything else changes nothing.
void Calculator::pasteOffer(const std::optional<std::string>& text) {
    const auto keys = text ? quillo::pasteKeys(*text, pasteoffer::numberForm()) : std::nullopt;
    if (keys) {
        session_.paste(*keys);
    } else {
        QApplication::beep();
    }
}

void Calculator::copyKeys() {
    dispatch_(this, [this] {
        QGuiApplication::clipboard()->setText(QString::fromLatin1(session_.log().text()));
    });
}

void Calculator::undo() {
    step([this] { session_.undo(); });
}

void Calculator::redo() {
    step([this] { session_.redo(); });
}

void Calculator::correct(quint64 line, int index, const QString& text) {
    step([this, line, index, &text] {
        session_.correct(line, static_cast<std::size_t>(index), text.toStdString());
    });
}

void Calculator::toggleTape() {
    tape_->toggle();
}

TapeWindow* Calculator::tapeWindow() const noexcept {
    return tape_->window();
}

void Calculator::setKeepTape(bool on) {
    tape_->setKeeping(on);
}

void Calculator::setKeepOnTop(bool on) {
    keepOnTop_ = on;
    settings_.setKeepOnTop(on);
    // A new flag takes a window off the screen; it comes back where it was.
    // The one that had the keyboard has it again once both are shown, since
    // showing the other may take it.
    tape_->setKeepOnTop(on);
    QWidget* const active = QApplication::activeWindow();
    QWidget* const tape = tape_->window();
    for (QWidget* window : {static_cast<QWidget*>(this), tape}) {
        if (window) {
            const bool shown = window->isVisible();
            window->setWindowFlag(Qt::WindowStaysOnTopHint, on);
            if (shown) {
                window->show();
            }
        }
    }
    if (active != nullptr && (active == this || active == tape)) {
        active->activateWindow();
    }
}

void Calculator::showDisplayMenu(const QPoint& at) {
    if (!menu_) {
        makeMenu();
    }
    menuUi_->actionUndo->setEnabled(session_.canUndo());
    menuUi_->actionRedo->setEnabled(session_.canRedo());
    menuUi_->actionTape->setChecked(tape_->isOpen());
    menuUi_->actionKeepTape->setChecked(tape_->keeping());
    {
        const QSignalBlocker quiet(menuUi_->actionKeepOnTop);
        menuUi_->actionKeepOnTop->setChecked(keepOnTop_);
    }
    tickLookItems();
    menu_->popup(ui->Readout->mapToGlobal(at));
}

void Calculator::makeMenu() {
    menu_ = new QMenu(this);
    menuUi_ = std::make_unique<Ui::DisplayMenu>();
    menuUi_->setupUi(menu_);
    connect(menuUi_->actionCopy, &QAction::triggered, this, &Calculator::copy);
    connect(menuUi_->actionPaste, &QAction::triggered, this, &Calculator::paste);
    connect(menuUi_->actionCopyKeys, &QAction::triggered, this, &Calculator::copyKeys);
    connect(menuUi_->actionUndo, &QAction::triggered, this, &Calculator::undo);
    connect(menuUi_->actionRedo, &QAction::triggered, this, &Calculator::redo);
    connect(menuUi_->actionTape, &QAction::triggered, this, &Calculator::toggleTape);
    connect(menuUi_->actionKeepOnTop, &QAction::toggled, this, &Calculator::setKeepOnTop);
    connect(menuUi_->actionKeepTape, &QAction::triggered, this, &Calculator::setKeepTape);
    using shortcuts::Action;
    shortcuts::showOn(*menuUi_->actionCopy, Action::Copy);
    shortcuts::showOn(*menuUi_->actionPaste, Action::Paste);
    shortcuts::showOn(*menuUi_->actionUndo, Action::Undo);
    shortcuts::showOn(*menuUi_->actionRedo, Action::Redo);
    shortcuts::showOn(*menuUi_->actionTape, Action::Tape);
    // Wayland has no way for a program to ask for it.
    menuUi_->actionKeepOnTop->setVisible(
        !QGuiApplication::platformName().startsWith(QLatin1String("wayland")));
    makeLookItems();
}

// Tells a screen reader about a new display text: the display's text event,
// and the announcer, which makes it speak the text wherever the focus is.
void Calculator::sessionChanged(const quillo::Session&, const quillo::Change& change) noexcept {
    try {
        if (!change.display || !QAccessible::isActive()) {
            return;
        }
        const QString& now = ui->Readout->text();
        if (now == announced_) {
            return;
        }
        QAccessibleTextUpdateEvent event(ui->Readout, 0, announced_, now);
        QAccessible::updateAccessibility(&event);
        announced_ = now;
        // Spoken as a number: "12" while "12." is typed, "9" for " 9".
        announce(toQString(quillo::copyText(now.toStdString())));
    } catch (const std::bad_alloc&) {
        // Out of memory only the announcement is lost; the display is right.
    }
}

void Calculator::announce(const QString& text) {
    if (!announcer_) {
        announcer_ = new Announcer(this);
    }
    announcer_->announce(text);
}

std::optional<Key> Calculator::keyOf(const QAbstractButton* b) const {
    for (const keyboard::KeyButton& row : keyboard::keyButtons()) {
        if ((*ui).*row.button == b) {
            return row.key;
        }
    }
    return std::nullopt;
}

QAbstractButton* Calculator::button(Key key) const {
    return (*ui).*keyboard::keyButtons()[static_cast<std::size_t>(key)].button;
}

void Calculator::pic1_Click() {
    ui->pic1->setVisible(false);
}

void Calculator::cmdexit_Click() {
    QMessageBox question(QMessageBox::Question, title_,
                         QStringLiteral("Are you sure you want to exit?"),
                         QMessageBox::Yes | QMessageBox::No, this);
    question.setDefaultButton(QMessageBox::Yes);
    if (question.exec() != QMessageBox::Yes) {
        return;
    }
    if (!frm2_) {
        frm2_ = std::make_unique<frm2>();
    }
    // The farewell window shows before this one hides: never neither.
    frm2_->show();
    frm2_->startTmr1();
    tape_->hideWithCalculator();
    hide();
}

std::string Calculator::displayText() const {
    return ui->Readout->text().toStdString();
}

void Calculator::setDisplayText(const std::string& text) {
    // Converted first: whatever may fail does so before the display changes.
    const QString shown = QString::fromStdString(text);
    ui->Readout->setText(shown);
}

std::string Calculator::numberCaption(int index) const {
    return caption(button(static_cast<Key>(index)));
}

std::string Calculator::operatorCaption(int index) const {
    return caption(button(static_cast<Key>(static_cast<int>(Key::Divide) + index)));
}

void Calculator::showWarning(std::string_view text, std::string_view title) {
    QMessageBox box(QMessageBox::Warning, toQString(title), toQString(text), QMessageBox::Ok, this);
    box.exec();
}
