// SPDX-License-Identifier: MIT
#pragma once

#include <QPixmap>
#include <QTimer>
#include <QWidget>

#include <memory>

namespace Ui {
class frm2;
}

// The farewell window. Its timer ends the program on its first tick.
class frm2 : public QWidget {
    Q_OBJECT
public:
    // No parent: a parent window would lend it its icon, and it has none.
    frm2();
    ~frm2() override;

    // Named apart from QObject::startTimer, which it would otherwise hide.
    void startTmr1() { tmr1.start(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void tmr1_Timer();

    std::unique_ptr<Ui::frm2> ui;
    QTimer tmr1;
    QPixmap picture_; // drawn at a zoom only
};
