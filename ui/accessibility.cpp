// SPDX-License-Identifier: MIT
#include "accessibility.h"

#include "calculator.h"
#include "display.h"
#include "keyboard.h"
#include "picturebox.h"

#include <QAbstractButton>
#include <QAccessibleWidget>

namespace {

// Long enough for a screen reader to have read the name it was shown with.
constexpr int kLingerMilliseconds = 1500;

// A press action's click comes from the event loop, not from within the
// screen reader's call: a box the key opens does not hold up the reply, and
// unlike Qt's animateClick, a second press before the first is carried out is
// not lost.
void clickSoon(QAbstractButton* button) {
    QMetaObject::invokeMethod(
        button, [button] { button->click(); }, Qt::QueuedConnection);
}

class KeyAccessible : public QAccessibleWidget {
public:
    KeyAccessible(QAbstractButton* button, const Calculator* calculator)
        : QAccessibleWidget(button, QAccessible::Button), calculator_(calculator) {}

    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.pressed = button()->isDown();
        return s;
    }
    QStringList actionNames() const override {
        return QStringList{pressAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& action) override {
        if (action == pressAction()) {
            clickSoon(button());
        } else {
            QAccessibleWidget::doAction(action);
        }
    }
    QStringList keyBindingsForAction(const QString& action) const override {
        // Looked up when asked: the interface may be made while the window
        // is still being built, before its keys are numbered. Only the main
        // key: AT-SPI would read a list as mnemonic, sequence and shortcut.
        const auto key = calculator_->keyOf(button());
        if (action != pressAction() || !key) {
            return {};
        }
        return {keyboard::binding(*key)};
    }

private:
    QAbstractButton* button() const { return static_cast<QAbstractButton*>(widget()); }
    const Calculator* calculator_; // the button's parent, which outlives it
};

class CoverAccessible : public QAccessibleWidget {
public:
    explicit CoverAccessible(PictureBox* cover) : QAccessibleWidget(cover, QAccessible::Graphic) {}

    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& action) override {
        if (action == pressAction()) {
            auto* cover = static_cast<PictureBox*>(widget());
            QMetaObject::invokeMethod(
                cover, [cover] { cover->click(); }, Qt::QueuedConnection);
        }
    }
    QStringList keyBindingsForAction(const QString& action) const override {
        return action == pressAction() ? QStringList{"Esc"} : QStringList();
    }
};

// A label's whole text, however it is drawn (the display's, a preview's);
// read-only, no selection. A spoken label with no name of its own is named
// by its text, as a screen reader reads a plain label.
class LabelAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit LabelAccessible(QLabel* label) : QAccessibleWidget(label, QAccessible::StaticText) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TextInterface) {
            return static_cast<QAccessibleTextInterface*>(this);
        }
        return QAccessibleWidget::interface_cast(type);
    }
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty() &&
            widget()->property("spoken").toBool()) {
            return whole();
        }
        return t == QAccessible::Value ? whole() : QAccessibleWidget::text(t);
    }

    QString text(int start, int end) const override {
        const QString all = whole();
        start = qBound(0, start, int(all.size()));
        end = end < 0 ? int(all.size()) : qBound(start, end, int(all.size()));
        return all.mid(start, end - start);
    }
    int characterCount() const override { return int(whole().size()); }
    void selection(int, int* start, int* end) const override { *start = *end = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint&) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int offset, int* start, int* end) const override {
        *start = *end = offset;
        return {};
    }

private:
    QString whole() const { return static_cast<QLabel*>(widget())->text(); }
};

QAccessibleInterface* factory(const QString& className, QObject* object) {
    if (!object->isWidgetType()) {
        return nullptr;
    }
    auto* widget = static_cast<QWidget*>(object);
    if (className == QLatin1String("Calculator") || className == QLatin1String("TapeWindow")) {
        return new QAccessibleWidget(widget, QAccessible::Window);
    }
    if (className == QLatin1String("DisplayLabel") ||
        (className == QLatin1String("QLabel") && widget->property("spoken").toBool())) {
        return new LabelAccessible(static_cast<QLabel*>(widget));
    }
    if (className == QLatin1String("PictureBox")) {
        return new CoverAccessible(static_cast<PictureBox*>(widget));
    }
    if (className == QLatin1String("Announcer")) {
        return new QAccessibleWidget(widget, QAccessible::Notification);
    }
    if (className == QLatin1String("QPushButton")) {
        if (auto* calculator = qobject_cast<Calculator*>(widget->parentWidget())) {
            return new KeyAccessible(static_cast<QAbstractButton*>(widget), calculator);
        }
    }
    return nullptr;
}

} // namespace

namespace accessibility {

void install() {
    static const bool installed = (QAccessible::installFactory(&factory), true);
    Q_UNUSED(installed);
}

} // namespace accessibility

Announcer::Announcer(QWidget* parent) : QWidget(parent), linger_(this) {
    setObjectName(QStringLiteral("Announcer"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setGeometry(0, 0, 1, 1);
    lower(); // beneath everything else of the window
    linger_.setSingleShot(true);
    linger_.setInterval(kLingerMilliseconds);
    connect(&linger_, &QTimer::timeout, this, &QWidget::hide);
}

void Announcer::announce(const QString& text) {
    hide();
    setAccessibleName(text);
    show();
    linger_.start();
}
