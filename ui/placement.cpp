// SPDX-License-Identifier: MIT
#include "placement.h"

#include <QScreen>
#include <QWidget>

#include <algorithm>
#include <limits>
#include <utility>

namespace placement {
namespace {

qint64 area(const QRect& r) {
    return r.isEmpty() ? 0 : qint64{r.width()} * r.height();
}

// The start of a span of `length` near `from` that stays within [low, high];
// a span longer than that starts at `low`.
int within(int from, int length, int low, int high) {
    return std::max(low, std::min(from, high + 1 - length));
}

// Where no side has room, the covered part of the calculator is least at an
// end of the span the tape can take along each axis: at a screen edge, or
// against the calculator or its display.
QRect leastCovering(const Request& r, QSize size) {
    const QRect& s = r.screen;
    const QRect& c = r.calculator;
    const QRect& d = r.display;
    const int w = size.width();
    const int h = size.height();
    const int xs[] = {c.right() + 1 + kGap,
                      c.left() - kGap - w,
                      d.right() + 1 + kGap,
                      d.left() - kGap - w,
                      s.left(),
                      s.right() + 1 - w};
    const int ys[] = {c.bottom() + 1 + kGap,
                      c.top() - kGap - h,
                      d.bottom() + 1 + kGap,
                      d.top() - kGap - h,
                      s.top(),
                      s.bottom() + 1 - h};
    QRect best;
    // The display first: a tape over it hides the one thing the user reads.
    std::pair<qint64, qint64> least{std::numeric_limits<qint64>::max(), 0};
    for (const int y : ys) {
        for (const int x : xs) {
            const QRect frame(
                QPoint(within(x, w, s.left(), s.right()), within(y, h, s.top(), s.bottom())), size);
            const std::pair covered{area(frame & d), area(frame & c)};
            if (covered < least) {
                least = covered;
                best = frame;
            }
        }
    }
    return best;
}

} // namespace

QRect tapeFrame(const Request& r) {
    const QSize least = r.minimum.grownBy(r.margins);
    const QSize wanted = r.preferred.expandedTo(r.minimum).grownBy(r.margins);
    const QRect& s = r.screen;
    const QRect& c = r.calculator;
    if (const QRect last(c.topLeft() + r.offset, wanted);
        r.hasOffset && s.contains(last) && !last.intersects(c.adjusted(-kGap, -kGap, kGap, kGap))) {
        return last;
    }
    enum Side { Right, Left, Below, Above };
    const QRect rooms[] = {
        QRect(QPoint(c.right() + 1 + kGap, s.top()), s.bottomRight()),
        QRect(s.topLeft(), QPoint(c.left() - 1 - kGap, s.bottom())),
        QRect(QPoint(s.left(), c.bottom() + 1 + kGap), s.bottomRight()),
        QRect(s.topLeft(), QPoint(s.right(), c.top() - 1 - kGap)),
    };
    QRect best;
    for (const Side side : {Right, Left, Below, Above}) {
        const QRect& room = rooms[side];
        if (room.width() < least.width() || room.height() < least.height()) {
            continue;
        }
        QRect frame(QPoint(), wanted.boundedTo(room.size()));
        // Level with the calculator's top, or its left edge, as far as the
        // screen allows.
        if (side == Right || side == Left) {
            frame.moveTop(within(c.top(), frame.height(), room.top(), room.bottom()));
            if (side == Right) {
                frame.moveLeft(room.left());
            } else {
                frame.moveRight(room.right());
            }
        } else {
            frame.moveLeft(within(c.left(), frame.width(), room.left(), room.right()));
            if (side == Below) {
                frame.moveTop(room.top());
            } else {
                frame.moveBottom(room.bottom());
            }
        }
        if (frame.size() == wanted) {
            return frame;
        }
        if (area(frame) > area(best)) {
            best = frame;
        }
    }
    return best.isValid() ? best : leastCovering(r, least);
}

QRect besideLine(const QRect& screen, const QRect& line, QSize size) {
    size = size.boundedTo(screen.size());
    const int x = within(line.left(), size.width(), screen.left(), screen.right());
    const int below = line.bottom() + 1;
    const int above = line.top() - size.height();
    const int roomBelow = screen.bottom() + 1 - below;
    const int roomAbove = line.top() - screen.top();
    int y = below;
    if (roomBelow < size.height()) {
        y = roomAbove >= size.height() || roomAbove > roomBelow ? above : below;
    }
    return {QPoint(x, within(y, size.height(), screen.top(), screen.bottom())), size};
}

void showBesideLine(QWidget& editor, const QRect& line) {
    QWidget* parent = editor.parentWidget();
    const QRect screen = (parent ? parent->screen() : editor.screen())->availableGeometry();
    const QWidget* over = parent ? parent->window() : &editor;
    const QRect framed = over->frameGeometry();
    const QRect client = over->geometry();
    const QMargins margins(client.left() - framed.left(), client.top() - framed.top(),
                           framed.right() - client.right(), framed.bottom() - client.bottom());
    const QSize size = editor.sizeHint().boundedTo(screen.marginsRemoved(margins).size());
    editor.setGeometry(besideLine(screen, line, size.grownBy(margins)).marginsRemoved(margins));
    editor.show();
}

} // namespace placement
