// SPDX-License-Identifier: MIT
#include "pasteoffer.h"

#include <QByteArray>
#include <QClipboard>
#include <QGuiApplication>
#include <QLocale>
#include <QMimeData>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace pasteoffer {

std::optional<std::string> text(std::size_t limit) {
    std::optional<std::string> out;
    {
        const QMimeData* offer = QGuiApplication::clipboard()->mimeData();
        if (offer == nullptr) {
            return out;
        }
        // The formats QMimeData::text() reads, in its order, but as bytes:
        // where the owner offers UTF-8 they arrive as sent, unconverted.
        QByteArray bytes = offer->data(QStringLiteral("text/plain;charset=utf-8"));
        if (bytes.isEmpty()) {
            bytes = offer->data(QStringLiteral("text/plain"));
        }
        if (std::size_t(bytes.size()) <= limit) {
            out.emplace(bytes.constData(), std::size_t(bytes.size()));
            return out;
        }
    }
#if defined(__GLIBC__)
    // After a large block is freed glibc serves the next ones from its heap
    // and keeps those pages: a refused 10 MB offer would stay resident.
    malloc_trim(0);
#endif
    return out;
}

quillo::NumberForm numberForm() {
    const QLocale locale = QLocale::system();
    return {locale.groupSeparator().toStdString(), locale.decimalPoint().toStdString(),
            locale.currencySymbol().toStdString()};
}

} // namespace pasteoffer
