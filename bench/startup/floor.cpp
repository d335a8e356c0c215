// SPDX-License-Identifier: MIT
// The floor for the start-up benchmark: the least a Qt Widgets window costs
// that shows what the calculator shows at its first paint. The same fixed
// size and window icon, the background picture, the display with its text,
// font and colours, the 24 keys with their captions and places in the keys'
// font (23 with tooltips, as there), and the welcome cover over them; built
// with plain calls, so whatever the calculator spends beyond this is its own.

#include <QApplication>
#include <QFont>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QPushButton>
#include <QString>
#include <QWidget>

namespace {

struct Key {
    const char* caption;
    int x, y, width, height;
    bool tip;
};

// In the calculator's stacking order, so that the same parts show.
constexpr Key kKeysUnderCover[] = {
    {"%", 200, 136, 32, 32, true},    {"=", 152, 216, 32, 32, true},
    {".", 248, 96, 32, 32, true},     {"0", 160, 96, 72, 32, true},
    {"/", 152, 136, 32, 32, true},    {"X", 56, 136, 32, 32, true},
    {"3", 104, 56, 32, 32, true},     {"2", 56, 56, 32, 32, true},
    {"1", 8, 56, 32, 32, true},       {"-", 104, 136, 32, 32, true},
    {"+", 8, 136, 32, 32, true},      {"6", 248, 56, 32, 32, true},
    {"5", 200, 56, 32, 32, true},     {"4", 152, 56, 32, 32, true},
    {"CE", 256, 8, 32, 32, true},     {"C", 216, 8, 32, 32, true},
    {"9", 120, 96, 32, 32, true},     {"8", 80, 96, 32, 32, true},
    {"7", 296, 56, 32, 32, true},     {"x^y", 120, 176, 32, 32, true},
    {"x^2", 248, 136, 32, 32, true},  {"x^3", 296, 136, 32, 32, true},
    {"Sqrt", 168, 176, 48, 32, true},
};
constexpr Key kKeyOverCover = {"Exit", 288, 232, 57, 25, false};

class Picture : public QWidget {
public:
    Picture(const QString& name, QWidget* parent) : QWidget(parent), picture_(name) {}

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).drawPixmap(0, 0, picture_); }

private:
    QPixmap picture_;
};

class Floor : public QWidget {
public:
    Floor() : background_(QStringLiteral(":/floor/background.png")) {
        setWindowTitle(QStringLiteral("quillo-floor"));
        setWindowIcon(QIcon(QStringLiteral(":/floor/icon.png")));
        setFixedSize(349, 262);
        QFont keys(QStringLiteral("System"));
        keys.setPointSizeF(9.75);
        keys.setBold(true);
        setFont(keys);

        auto* display = new QLabel(QStringLiteral("0."), this);
        display->setGeometry(8, 8, 200, 25);
        QFont digits(QStringLiteral("MS Sans Serif"), 12);
        digits.setBold(true);
        display->setFont(digits);
        QPalette colours = display->palette();
        colours.setColor(QPalette::Window, QColor(192, 192, 255));
        colours.setColor(QPalette::WindowText, Qt::black);
        display->setPalette(colours);
        display->setAutoFillBackground(true);
        display->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        display->setTextFormat(Qt::PlainText);
        display->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        display->setIndent(4);

        for (const Key& k : kKeysUnderCover) {
            addKey(k);
        }
        auto* cover = new Picture(QStringLiteral(":/floor/cover.ppm"), this);
        cover->setGeometry(40, 0, 273, 273);
        cover->setToolTip(QStringLiteral("Cover"));
        addKey(kKeyOverCover);
    }

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).drawPixmap(0, 0, background_); }

private:
    void addKey(const Key& k) {
        auto* key = new QPushButton(QString::fromLatin1(k.caption), this);
        key->setGeometry(k.x, k.y, k.width, k.height);
        if (k.tip) {
            key->setToolTip(QStringLiteral("Key %1").arg(key->text()));
        }
    }

    QPixmap background_;
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    Floor w;
    w.show();
    return app.exec();
}
