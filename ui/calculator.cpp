// SPDX-License-Identifier: MIT
#include "calculator.h"

#include "accessibility.h"
#include "clipboard.h"
#include "display.h"
#include "frm2.h"
#include "keyboard.h"
#include "pasteoffer.h"
#include "tapewindow.h"
#include "ui_Calculator.h"
#include "ui_DisplayMenu.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QButtonGroup>
#include <QClipboard>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QTimer>

#include <new>
#include <utility>
#include <vector>

using quillo::Key;

namespace {

// How long a typed key shows its button pressed.
constexpr int kPressMilliseconds = 100;

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

bool isCombination(const QKeyEvent& event, Qt::KeyboardModifiers modifiers, Qt::Key key) {
    return event.keyCombination() == QKeyCombination(modifiers, key);
}

} // namespace

Calculator::Calculator(Dispatch dispatch, QString title, QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::Calculator>()), dispatch_(dispatch),
      title_(std::move(title)), session_(*this) {
    accessibility::install(); // before any control exists to be asked about
    ui->setupUi(this);
    // Let the description's background picture be drawn (a QWidget subclass
    // does not get this by itself); the picture's @2x rendering is picked on
    // a high-DPI screen.
    setAttribute(Qt::WA_StyledBackground);
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

    // The window's load.
    dispatch_(this, [this] { session_.engine().Form_Load(); });
}

Calculator::~Calculator() = default;

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
    exclusive([this, key] {
        const QString before = ui->Readout->text();
        run(key);
        displayChanged(before);
    });
}

bool Calculator::run(Key key) {
    return dispatch_(this, [this, key] { session_.press(key); });
}

// A typed key clicks its button, cover or not, and shows it pressed a moment.
void Calculator::type(Key key) {
    QAbstractButton* b = button(key);
    if (b == nullptr) {
        return;
    }
    b->click();
    b->setDown(true);
    QTimer::singleShot(kPressMilliseconds, b, [b] { b->setDown(false); });
}

bool Calculator::handleKey(QKeyEvent* event) {
    const QKeyEvent& e = *event;
    if (e.matches(QKeySequence::Copy)) {
        copy();
    } else if (e.matches(QKeySequence::Paste)) {
        paste();
    } else if (e.matches(QKeySequence::Undo) || isCombination(e, {}, Qt::Key_Backspace)) {
        undo();
    } else if (e.matches(QKeySequence::Redo) || isCombination(e, Qt::ControlModifier, Qt::Key_Y) ||
               isCombination(e, Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_Z)) {
        redo();
    } else if (isCombination(e, Qt::ControlModifier, Qt::Key_T)) {
        toggleTape();
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

void Calculator::closeEvent(QCloseEvent* event) {
    if (tape_) {
        tape_->close(); // the tape goes with the calculator
    }
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
    exclusive([this] {
        std::optional<std::vector<Key>> keys;
        const bool read = dispatch_(this, [&keys] {
            if (const auto text = pasteoffer::text(quillo::kPasteLimit)) {
                keys = quillo::pasteKeys(*text, pasteoffer::numberForm());
            }
        });
        if (!read) {
            return;
        }
        if (!keys) {
            QApplication::beep();
            return;
        }
        const QString before = ui->Readout->text();
        // One step for undo, ended however the keys go.
        if (dispatch_(this, [this] { session_.beginStep(); })) {
            for (const Key key : *keys) {
                if (!run(key)) {
                    break; // reported once; the rest would build on an undone key
                }
            }
            session_.endStep();
        }
        displayChanged(before);
    });
}

void Calculator::copyKeys() {
    dispatch_(this, [this] {
        QGuiApplication::clipboard()->setText(QString::fromLatin1(session_.log().text()));
    });
}

template <class Change> void Calculator::change(Change&& change) {
    exclusive([this, &change] {
        const QString before = ui->Readout->text();
        dispatch_(this, change);
        displayChanged(before);
    });
}

void Calculator::undo() {
    change([this] { session_.undo(); });
}

void Calculator::redo() {
    change([this] { session_.redo(); });
}

void Calculator::toggleTape() {
    if (tape_ && tape_->isVisible()) {
        tape_->close();
        return;
    }
    if (!tape_) {
        tape_ = new TapeWindow(
            session_.engine().tape(), [this](QKeyEvent* event) { return handleKey(event); }, this);
        tape_->setWindowFlag(Qt::WindowStaysOnTopHint, keepOnTop_);
        connect(tape_, &TapeWindow::clearRequested, this, [this] {
            session_.engine().clearTape();
            tape_->sync();
        });
    }
    tape_->sync();
    tape_->placeBeside(*this);
    tape_->show();
    tape_->raise();
    tape_->activateWindow();
}

void Calculator::setKeepOnTop(bool on) {
    keepOnTop_ = on;
    // A new flag takes a window off the screen; it comes back where it was.
    // The one that had the keyboard has it again once both are shown, since
    // showing the other may take it.
    QWidget* const active = QApplication::activeWindow();
    for (QWidget* window : {static_cast<QWidget*>(this), static_cast<QWidget*>(tape_)}) {
        if (window) {
            const bool shown = window->isVisible();
            window->setWindowFlag(Qt::WindowStaysOnTopHint, on);
            if (shown) {
                window->show();
            }
        }
    }
    if (active != nullptr && (active == this || active == tape_)) {
        active->activateWindow();
    }
}

void Calculator::showDisplayMenu(const QPoint& at) {
    if (!menu_) {
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
        // Wayland has no way for a program to ask for it.
        menuUi_->actionKeepOnTop->setVisible(
            !QGuiApplication::platformName().startsWith(QLatin1String("wayland")));
    }
    menuUi_->actionUndo->setEnabled(session_.canUndo());
    menuUi_->actionRedo->setEnabled(session_.canRedo());
    menuUi_->actionTape->setChecked(tape_ && tape_->isVisible());
    menu_->popup(ui->Readout->mapToGlobal(at));
}

// Tells a screen reader about a new display text: the display's text event,
// and the announcer, which makes it speak the text wherever the focus is.
void Calculator::displayChanged(const QString& before) noexcept {
    try {
        if (tape_) {
            tape_->sync(); // also while hidden, so that it never holds stale rows
        }
        const QString& now = ui->Readout->text();
        if (now == before || !QAccessible::isActive()) {
            return;
        }
        QAccessibleTextUpdateEvent event(ui->Readout, 0, before, now);
        QAccessible::updateAccessibility(&event);
        if (!announcer_) {
            announcer_ = new Announcer(this);
        }
        // Spoken as a number: "12" while "12." is typed, "9" for " 9".
        announcer_->announce(toQString(quillo::copyText(now.toStdString())));
    } catch (const std::bad_alloc&) {
        // Out of memory only the announcement is lost; the display is right.
    }
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
    if (tape_) {
        tape_->hide();
    }
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
