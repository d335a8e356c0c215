// SPDX-License-Identifier: MIT
#include "calculator.h"

#include "accessibility.h"
#include "clipboard.h"
#include "display.h"
#include "frm2.h"
#include "keptape.h"
#include "keyboard.h"
#include "pasteoffer.h"
#include "tapemodel.h"
#include "tapewindow.h"
#include "ui_Calculator.h"
#include "ui_DisplayMenu.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QButtonGroup>
#include <QClipboard>
#include <QCloseEvent>
#include <QDateTime>
#include <QFont>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QSignalBlocker>
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

// The line above a run's lines on the tape.
QString heading(const QString& started) {
    return QStringLiteral("======== ") + started;
}

// The picture a widget's description names, in its @2x rendering on a
// high-DPI screen: drawn at the same size, only sharper.
QPixmap picture(const QWidget& widget) {
    const QString name = widget.property("picture").toString();
    if (widget.devicePixelRatioF() > 1) {
        const qsizetype dot = name.lastIndexOf(u'.');
        QString sharp = name;
        sharp.insert(dot < 0 ? name.size() : dot, QLatin1String("@2x"));
        if (QPixmap pixmap(sharp); !pixmap.isNull()) {
            pixmap.setDevicePixelRatio(2); // also where Qt ignores the name's @2x
            return pixmap;
        }
    }
    return QPixmap(name);
}

bool isCombination(const QKeyEvent& event, Qt::KeyboardModifiers modifiers, Qt::Key key) {
    return event.keyCombination() == QKeyCombination(modifiers, key);
}

} // namespace

Calculator::Calculator(Dispatch dispatch, QString title, QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::Calculator>()), dispatch_(dispatch),
      title_(std::move(title)), session_(*this), started_(std::time(nullptr)) {
    accessibility::install(); // before any control exists to be asked about
    ui->setupUi(this);
    // The keys' size and the pictures' renderings for the screen are set here,
    // not by a style sheet, which made every start 4 % dearer; the font's
    // family and weight and the pictures' names stay in the description.
    QFont keys = font();
    keys.setPointSizeF(kKeyPointSize);
    setFont(keys);
    background_ = picture(*this);
    ui->pic1->setPicture(picture(*ui->pic1));
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
    keepOnTop_ = settings_.keepOnTop;
    setWindowFlag(Qt::WindowStaysOnTopHint, keepOnTop_);
    // The store touches no file before the first line.
    kept_ = std::make_unique<KeptTape>(session_, quillo::TapeStore::defaultFolder(), started_,
                                       settings_.keepTape);
    session_.addListener(this);
}

Calculator::~Calculator() {
    session_.removeListener(this);
    // The tape's list listens to the session, which goes before QWidget
    // deletes the children.
    delete tape_;
}

void Calculator::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    // Smooth where a high-DPI rendering is drawn at a scale between 1 and 2.
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
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

void Calculator::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The tape comes back beside the calculator once it has a place.
    if (!std::exchange(shownOnce_, true) && settings_.tapeOpen) {
        QMetaObject::invokeMethod(this, &Calculator::toggleTape, Qt::QueuedConnection);
    }
}

void Calculator::closeEvent(QCloseEvent* event) {
    leaving_ = true;
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
    step([this] { pasteOffer(pasteoffer::text(quillo::kPasteLimit)); });
}

void Calculator::pasteText(const QString& text) {
    step([this, &text] { pasteOffer(text.toStdString()); });
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

QString Calculator::tapeLine(quint64 number) const {
    const quillo::Tape& tape = session_.engine().tape();
    return tape.shown(number) ? QString::fromStdString(tape.at(number)) : QString();
}

void Calculator::toggleTape() {
    if (tape_ && tape_->isOpen()) {
        tape_->closeKeepingKeys();
        return;
    }
    if (!tape_) {
        tape_ = new TapeWindow(
            new TapeModel(session_), [this](QKeyEvent* event) { return handleKey(event); }, this);
        tape_->setWindowFlag(Qt::WindowStaysOnTopHint, keepOnTop_);
        connect(tape_, &TapeWindow::clearRequested, this,
                [this] { step([this] { session_.clearTape(); }); });
        connect(tape_, &TapeWindow::deleteRequested, this, &Calculator::deleteLines);
        connect(tape_, &TapeWindow::resultChosen, this, &Calculator::pasteText);
        connect(tape_, &TapeWindow::correctionApplied, this, &Calculator::correct);
        connect(tape_, &TapeWindow::keepingChanged, this, &Calculator::setKeepTape);
        connect(tape_, &TapeWindow::hidden, this, &Calculator::tapeHidden);
        if (!settings_.tapeGeometry.isEmpty()) {
            tape_->resize(settings_.tapeGeometry.size());
            tape_->setOffset(settings_.tapeGeometry.topLeft());
        }
        showEarlier();
    }
    tape_->setKeeping(kept_->on());
    tape_->showProblem(QString::fromStdString(kept_->problem()));
    tape_->open(*this, *ui->Readout);
    settings_.tapeOpen = true;
    settings_.save();
}

// The earlier runs' lines, read when the tape is first opened.
void Calculator::showEarlier() {
    std::vector<TapeModel::Earlier> rows;
    earlierRuns_.clear();
    const quillo::Earlier earlier = kept_->readEarlier();
    for (std::size_t run = 0, line = 0; run < earlier.runs.size(); ++run) {
        earlierRuns_.push_back(earlier.runs[run].id);
        const auto first = rows.size();
        for (; line < earlier.lines.size() && earlier.lines[line].run == run; ++line) {
            rows.push_back({run, earlier.lines[line].number,
                            QString::fromStdString(earlier.lines[line].text)});
        }
        if (rows.size() > first) {
            rows.insert(rows.begin() + static_cast<std::ptrdiff_t>(first),
                        {run, TapeModel::kHeading,
                         heading(QString::fromStdString(earlier.runs[run].started))});
        }
    }
    tape_->model()->setEarlier(std::move(rows),
                               heading(QDateTime::fromSecsSinceEpoch(started_).toString(
                                   QStringLiteral("yyyy-MM-dd HH:mm"))));
}

// Remembered as the user left it: open or closed, and where.
void Calculator::tapeHidden() {
    settings_.tapeOpen = leaving_;
    settings_.tapeGeometry = QRect(tape_->offset().value_or(QPoint()), tape_->size());
    settings_.save();
}

void Calculator::setKeepTape(bool on) {
    step([this, on] {
        kept_->setOn(on);
        settings_.keepTape = on;
        settings_.save();
        if (tape_) {
            tape_->setKeeping(on);
            if (!on) {
                tape_->model()->setEarlier({}, {});
            }
            tape_->showProblem(QString::fromStdString(kept_->problem()));
        }
    });
}

void Calculator::setKeepOnTop(bool on) {
    keepOnTop_ = on;
    settings_.keepOnTop = on;
    settings_.save();
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
        connect(menuUi_->actionKeepTape, &QAction::triggered, this, &Calculator::setKeepTape);
        // Wayland has no way for a program to ask for it.
        menuUi_->actionKeepOnTop->setVisible(
            !QGuiApplication::platformName().startsWith(QLatin1String("wayland")));
    }
    menuUi_->actionUndo->setEnabled(session_.canUndo());
    menuUi_->actionRedo->setEnabled(session_.canRedo());
    menuUi_->actionTape->setChecked(tape_ && tape_->isOpen());
    menuUi_->actionKeepTape->setChecked(kept_->on());
    {
        const QSignalBlocker quiet(menuUi_->actionKeepOnTop);
        menuUi_->actionKeepOnTop->setChecked(keepOnTop_);
    }
    menu_->popup(ui->Readout->mapToGlobal(at));
}

// Deleted lines of this run leave the session's tape; those of earlier runs
// the list.
void Calculator::deleteLines(const QList<int>& rows) {
    step([this, &rows] {
        TapeModel* model = tape_->model();
        std::vector<std::uint64_t> numbers;
        std::vector<int> earlier;
        for (const int row : rows) {
            const TapeModel::Line line = model->line(row);
            if (line.run < 0) {
                numbers.push_back(line.number);
            } else {
                earlier.push_back(row);
            }
        }
        for (const int row : earlier) {
            const TapeModel::Line line = model->line(row);
            if (line.number != TapeModel::kHeading) {
                kept_->remove(earlierRuns_[static_cast<std::size_t>(line.run)], line.number);
            }
        }
        model->removeEarlier(std::move(earlier));
        session_.eraseLines(numbers);
    });
}

// Tells a screen reader about a new display text: the display's text event,
// and the announcer, which makes it speak the text wherever the focus is;
// and the tape what became of the kept tape.
void Calculator::sessionChanged(const quillo::Session&, const quillo::Change& change) noexcept {
    try {
        // The kept tape has heard of the step first: a failure to keep its
        // line shows at once.
        if (tape_ && !kept_->problem().empty()) {
            tape_->showProblem(QString::fromStdString(kept_->problem()));
        }
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
    leaving_ = true;
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
