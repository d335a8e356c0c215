// SPDX-License-Identifier: MIT
#include "calculator.h"

#include "accessibility.h"
#include "clipboard.h"
#include "display.h"
#include "frm2.h"
#include "keyboard.h"
#include "pasteoffer.h"
#include "ui_Calculator.h"
#include "ui_DisplayMenu.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QButtonGroup>
#include <QClipboard>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QTimer>

#include <array>
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
// ids are those indexes.
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

// The keys outside the two arrays.
std::array<std::pair<QAbstractButton*, Key>, 7> singleKeys(const Ui::Calculator& ui) {
    return {{{ui.Decimal, Key::Decimal},
             {ui.Percent, Key::Percent},
             {ui.cmdsq, Key::Square},
             {ui.cmdqr, Key::Cube},
             {ui.cmdsqrt, Key::Sqrt},
             {ui.Cancel, Key::Clear},
             {ui.CancelEntry, Key::ClearEntry}}};
}

constexpr int kFirstOperator = static_cast<int>(Key::Divide);

} // namespace

Calculator::Calculator(Dispatch dispatch, QString title, QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::Calculator>()), dispatch_(dispatch),
      title_(std::move(title)), engine_(*this) {
    accessibility::install(); // before any control exists to be asked about
    ui->setupUi(this);
    // Let the description's background picture be drawn (a QWidget subclass
    // does not get this by itself); the picture's @2x rendering is picked on
    // a high-DPI screen.
    setAttribute(Qt::WA_StyledBackground);
    numberByIndex(ui->Number);
    numberByIndex(ui->Operator);

    connect(ui->Number, &QButtonGroup::idClicked, this,
            [this](int index) { press(static_cast<Key>(index)); });
    connect(ui->Operator, &QButtonGroup::idClicked, this,
            [this](int index) { press(static_cast<Key>(kFirstOperator + index)); });
    for (const auto& [button, key] : singleKeys(*ui)) {
        connect(button, &QAbstractButton::clicked, this, [this, k = key] { press(k); });
    }
    connect(ui->cmdexit, &QAbstractButton::clicked, this,
            [this] { exclusive([this] { cmdexit_Click(); }); });
    connect(ui->pic1, &PictureBox::clicked, this, [this] { exclusive([this] { pic1_Click(); }); });
    connect(ui->Readout, &QWidget::customContextMenuRequested, this, &Calculator::showDisplayMenu);

    // The window's load.
    dispatch_(this, [this] { engine_.Form_Load(); });
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
    return dispatch_(this, [this, key] {
        log_.record(key);
        quillo::press(engine_, key);
    });
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

void Calculator::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy)) {
        copy();
    } else if (event->matches(QKeySequence::Paste)) {
        paste();
    } else if (const auto key = keyboard::keyFor(*event)) {
        if (*key == Key::Clear && ui->pic1->isVisible()) {
            ui->pic1->click(); // Escape closes the welcome notice first
        } else {
            type(*key);
        }
    } else {
        QWidget::keyPressEvent(event);
    }
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
        for (const Key key : *keys) {
            if (!run(key)) {
                break; // reported once; the rest would build on an undone key
            }
        }
        displayChanged(before);
    });
}

void Calculator::copyKeys() {
    dispatch_(this,
              [this] { QGuiApplication::clipboard()->setText(QString::fromLatin1(log_.text())); });
}

void Calculator::showDisplayMenu(const QPoint& at) {
    if (!menu_) {
        menu_ = new QMenu(this);
        menuUi_ = std::make_unique<Ui::DisplayMenu>();
        menuUi_->setupUi(menu_);
        connect(menuUi_->actionCopy, &QAction::triggered, this, &Calculator::copy);
        connect(menuUi_->actionPaste, &QAction::triggered, this, &Calculator::paste);
        connect(menuUi_->actionCopyKeys, &QAction::triggered, this, &Calculator::copyKeys);
    }
    menu_->popup(ui->Readout->mapToGlobal(at));
}

// Tells a screen reader about a new display text: the display's text event,
// and the announcer, which makes it speak the text wherever the focus is.
void Calculator::displayChanged(const QString& before) noexcept {
    try {
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
    auto* button = const_cast<QAbstractButton*>(b);
    if (const int id = ui->Number->id(button); id >= 0) {
        return static_cast<Key>(id);
    }
    if (const int id = ui->Operator->id(button); id >= 0) {
        return static_cast<Key>(kFirstOperator + id);
    }
    for (const auto& [single, key] : singleKeys(*ui)) {
        if (single == b) {
            return key;
        }
    }
    return std::nullopt;
}

QAbstractButton* Calculator::button(Key key) const {
    if (key <= Key::D9) {
        return ui->Number->button(static_cast<int>(key));
    }
    if (key >= Key::Divide && key <= Key::Power) {
        return ui->Operator->button(static_cast<int>(key) - kFirstOperator);
    }
    for (const auto& [single, k] : singleKeys(*ui)) {
        if (k == key) {
            return single;
        }
    }
    return nullptr;
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
    return caption(ui->Number->button(index));
}

std::string Calculator::operatorCaption(int index) const {
    return caption(ui->Operator->button(index));
}

void Calculator::showWarning(std::string_view text, std::string_view title) {
    QMessageBox box(QMessageBox::Warning, toQString(title), toQString(text), QMessageBox::Ok, this);
    box.exec();
}
