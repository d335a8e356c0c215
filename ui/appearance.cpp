// SPDX-License-Identifier: MIT
#include "appearance.h"

#include <QApplication>
#include <QFile>
#include <QFont>
#include <QRect>
#include <QScreen>
#include <QVariant>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <iterator>

namespace appearance {
namespace {

constexpr int kZoomSteps[] = {100, 125, 150, 175, 200};

// Kept on the application object, whose lifetime they share.
constexpr char kZoom[] = "quilloZoom";
constexpr char kUnzoomedFonts[] = "quilloUnzoomedFonts";
constexpr char kHighContrast[] = "quilloHighContrast";
// Kept on each scaled widget: what it was at 100 %.
constexpr char kBaseGeometry[] = "quilloBaseGeometry";
constexpr char kBaseSize[] = "quilloBaseSize";
constexpr char kBasePointSize[] = "quilloBasePointSize";

// The classes a desktop theme may give fonts of their own (menus, boxes,
// tooltips, ...); setting the application's font drops them, so they are
// kept and scaled with it.
constexpr const char* kFontClasses[] = {
    "QMenu",       "QMenuBar",      "QMenuItem",      "QMessageBox",       "QLabel",
    "QTipLabel",   "QStatusBar",    "QPushButton",    "QCheckBox",         "QRadioButton",
    "QToolButton", "QListView",     "QHeaderView",    "QAbstractItemView", "QLineEdit",
    "QTabBar",     "QGroupBox",     "QComboMenuItem", "QSmallFont",        "QMiniFont",
    "QTextEdit",   "QPlainTextEdit"};

QFont scaled(QFont font, qreal factor) {
    if (font.pointSizeF() > 0) {
        font.setPointSizeF(font.pointSizeF() * factor);
    } else if (font.pixelSize() > 0) {
        font.setPixelSize(static_cast<int>(std::lround(font.pixelSize() * factor)));
    }
    return font;
}

int scaled(int length, qreal factor) {
    return static_cast<int>(std::lround(length * factor));
}

// By its edges, so that controls that touch at 100 % touch at every zoom.
QRect scaled(const QRect& r, qreal factor) {
    const int left = scaled(r.left(), factor);
    const int top = scaled(r.top(), factor);
    return {left, top, scaled(r.left() + r.width(), factor) - left,
            scaled(r.top() + r.height(), factor) - top};
}

// The application's fonts as they were before the first zoom: the default
// one first, then each class's that differs from it, by name.
QVariantList unzoomedFonts() {
    QVariant kept = qApp->property(kUnzoomedFonts);
    if (!kept.isValid()) {
        QVariantList fonts{QApplication::font()};
        for (const char* name : kFontClasses) {
            if (const QFont f = QApplication::font(name); f != QApplication::font()) {
                fonts << QString::fromLatin1(name) << f;
            }
        }
        kept = fonts;
        qApp->setProperty(kUnzoomedFonts, kept);
    }
    return kept.toList();
}

// Moves a window by the least that brings its frame onto its screen, its
// top left first where it is larger.
void keepOnScreen(QWidget& window) {
    const QScreen* screen = window.screen();
    if (screen == nullptr) {
        return;
    }
    const QRect room = screen->availableGeometry();
    const QRect frame = window.frameGeometry();
    QPoint to = frame.topLeft();
    to.setX(std::max(room.left(), std::min(to.x(), room.right() - frame.width() + 1)));
    to.setY(std::max(room.top(), std::min(to.y(), room.bottom() - frame.height() + 1)));
    if (to != frame.topLeft()) {
        window.move(to);
    }
}

} // namespace

std::span<const int> zoomSteps() noexcept {
    return kZoomSteps;
}

bool isZoomStep(int percent) noexcept {
    return std::find(std::begin(kZoomSteps), std::end(kZoomSteps), percent) != std::end(kZoomSteps);
}

int zoomStep(int percent, int by) noexcept {
    if (by == 0) {
        return kZoomSteps[0];
    }
    const auto* at = std::upper_bound(std::begin(kZoomSteps), std::end(kZoomSteps), percent);
    const auto index = std::distance(std::begin(kZoomSteps), at) - 1 + by;
    return kZoomSteps[std::clamp<std::ptrdiff_t>(index, 0, std::size(kZoomSteps) - 1)];
}

qreal zoom() {
    const QVariant f = qApp->property(kZoom);
    return f.isValid() ? f.toReal() : 1.0;
}

void setZoom(int percent) {
    const qreal factor = percent / 100.0;
    if (factor == zoom()) {
        return;
    }
    const QVariantList fonts = unzoomedFonts();
    qApp->setProperty(kZoom, factor);
    QApplication::setFont(scaled(fonts.value(0).value<QFont>(), factor)); // drops the classes'
    for (qsizetype i = 1; i + 1 < fonts.size(); i += 2) {
        QApplication::setFont(scaled(fonts[i + 1].value<QFont>(), factor),
                              fonts[i].toString().toLatin1().constData());
    }
}

void scaleWindow(QWidget& window) {
    const qreal factor = zoom();
    if (!window.property(kBaseSize).isValid()) {
        const bool fixed = window.minimumSize() == window.maximumSize();
        window.setProperty(kBaseSize, fixed ? window.minimumSize() : window.size());
    }
    const QSize size = window.property(kBaseSize).toSize();
    window.setFixedSize(scaled(size.width(), factor), scaled(size.height(), factor));

    for (QWidget* w : window.findChildren<QWidget*>()) {
        if (w->window() != &window) {
            continue; // a menu, a box: laid out by the font
        }
        if (w->parentWidget() == &window) {
            if (!w->property(kBaseGeometry).isValid()) {
                w->setProperty(kBaseGeometry, w->geometry());
            }
            w->setGeometry(scaled(w->property(kBaseGeometry).toRect(), factor));
        }
    }
    // Each control's font set on it, not left to follow the window's: under a
    // style sheet a control no longer takes its parent's font.
    QList<QWidget*> all = window.findChildren<QWidget*>();
    all.prepend(&window);
    all.removeIf([&window](const QWidget* w) { return w->window() != &window; });
    for (QWidget* w : all) { // all first, before a parent's change reaches them
        if (!w->property(kBasePointSize).isValid()) {
            w->setProperty(kBasePointSize, w->font().pointSizeF());
        }
    }
    for (QWidget* w : all) {
        QFont f = w->font();
        f.setPointSizeF(w->property(kBasePointSize).toReal() * factor);
        w->setFont(f);
    }
    keepOnScreen(window);
}

QPixmap picture(const QWidget& widget) {
    const QString name = widget.property("picture").toString();
    if (widget.devicePixelRatioF() * zoom() > 1) {
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

bool highContrast() {
    return qApp->property(kHighContrast).toBool();
}

void setHighContrast(bool on) {
    if (on == highContrast()) {
        return;
    }
    QString sheet;
    if (on) {
        QFile file(QStringLiteral(":/looks/highcontrast.qss"));
        if (file.open(QIODevice::ReadOnly)) {
            sheet = QString::fromUtf8(file.readAll());
        }
    }
    qApp->setProperty(kHighContrast, on);
    qApp->setStyleSheet(sheet);
}

} // namespace appearance
