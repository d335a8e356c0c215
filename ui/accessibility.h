// SPDX-License-Identifier: MIT
#pragma once

#include <QTimer>
#include <QWidget>

// What a screen reader is told beyond Qt's defaults: the keys' press actions
// with their keyboard keys, the display's whole text through the text
// interface (and any label's with the property spoken set), the welcome
// notice's press action, both windows as frames, and spoken results
// through the announcer below.
namespace accessibility {

// Installs the interfaces' factory; once is enough, more is harmless.
void install();

} // namespace accessibility

// An invisible notification: screen readers speak an object of this role when
// it is shown, wherever the focus is, so each new display text is announced by
// showing it again under that text; it hides again a moment later, so that
// nobody finds a stale result when reviewing the window. It takes no focus
// and draws nothing.
class Announcer : public QWidget {
    Q_OBJECT
public:
    explicit Announcer(QWidget* parent);
    void announce(const QString& text);

private:
    QTimer linger_;
};
