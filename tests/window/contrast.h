// SPDX-License-Identifier: MIT
// WCAG's contrast ratio measured on a drawn window.
#pragma once

#include <QImage>
#include <QRect>

#include <algorithm>
#include <cmath>
#include <utility>

// The ratio of the lightest and the darkest pixel in `r`: a caption's
// against its ground, or an edge's against what is beside it.
inline double contrastIn(const QImage& shot, const QRect& r) {
    double low = 1, high = 0;
    for (int y = r.top(); y <= r.bottom(); ++y) {
        for (int x = r.left(); x <= r.right(); ++x) {
            const QRgb c = shot.pixel(x, y);
            double l = 0;
            for (const auto& [v, w] :
                 {std::pair{qRed(c), 0.2126}, {qGreen(c), 0.7152}, {qBlue(c), 0.0722}}) {
                l += w * (v <= 10 ? v / 255.0 / 12.92 : std::pow((v / 255.0 + 0.055) / 1.055, 2.4));
            }
            low = std::min(low, l);
            high = std::max(high, l);
        }
    }
    return (high + 0.05) / (low + 0.05);
}
