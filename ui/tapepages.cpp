// SPDX-License-Identifier: MIT
// The tape on pages, for the printer and for a PDF.
#include "tapedocument.h"

#include <QBuffer>
#include <QFontDatabase>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>
#include <QTextLayout>

#include <memory>

namespace tapedocument {
namespace {

constexpr std::size_t kSlice = 64;

// A piece of text laid out to the page's width, with its place below the
// one before.
struct Block {
    std::unique_ptr<QTextLayout> layout;
    qreal height = 0;
    qreal indent = 0;
};

Block laidOut(const QString& text, const QFont& font, QPaintDevice& device, qreal width,
              qreal indent = 0, const QList<QTextLayout::FormatRange>& formats = {}) {
    Block block;
    block.indent = indent;
    block.layout = std::make_unique<QTextLayout>(text, font, &device);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    block.layout->setTextOption(option);
    block.layout->setFormats(formats);
    block.layout->beginLayout();
    qreal y = 0;
    for (QTextLine line = block.layout->createLine(); line.isValid();
         line = block.layout->createLine()) {
        line.setLineWidth(width - indent);
        line.setPosition(QPointF(0, y));
        y += line.height();
    }
    block.layout->endLayout();
    block.height = y;
    return block;
}

// A line of the tape with each corrected number's old text struck through
// before the new one.
Block lineBlock(const TapeDocument::Line& line, const QFont& font, QPaintDevice& device,
                qreal width) {
    QString text = line.text;
    QList<QTextLayout::FormatRange> formats;
    QTextCharFormat struck;
    struck.setFontStrikeOut(true);
    qsizetype shift = 0;
    for (const TapeDocument::Correction& c : line.corrections) {
        const qsizetype at = c.offset + shift;
        text.insert(at, c.was + u' ');
        formats.append({static_cast<int>(at), static_cast<int>(c.was.size()), struck});
        shift += c.was.size() + 1;
    }
    return laidOut(text, font, device, width, 0, formats);
}

// Walks the entries' lines of text in page order, telling `line` the page
// and the height on it of each: an entry that does not fit on what is left
// of a page starts the next one, and one taller than a page is broken
// between its lines. `entry` is told of each entry first, and stops the walk
// by returning false. Gives the number of pages, 0 when stopped.
template <class Entry, class Line>
int place(const std::vector<std::vector<Block>>& entries, qreal top, qreal bottom, qreal gap,
          Entry&& entry, Line&& line) {
    int page = 1;
    qreal y = top;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (!entry(i)) {
            return 0;
        }
        qreal height = 0;
        for (const Block& b : entries[i]) {
            height += b.height;
        }
        if (y + height > bottom && y > top) {
            ++page;
            y = top;
        }
        for (const Block& b : entries[i]) {
            for (int n = 0; n < b.layout->lineCount(); ++n) {
                const QTextLine text = b.layout->lineAt(n);
                if (y + text.height() > bottom && y > top) {
                    ++page;
                    y = top;
                }
                line(page, y, b, text);
                y += text.height();
            }
        }
        y += gap;
    }
    return page;
}

} // namespace

bool paint(const TapeDocument& document, QPagedPaintDevice& device, ExportProgress& progress) {
    const int lines = static_cast<int>(document.lines.size());
    progress.total = 2 * lines + 1;
    QFont body = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    body.setPointSizeF(10);
    QFont small = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    small.setPointSizeF(9);
    QFont note = small;
    note.setItalic(true);
    QFont bold = body;
    bold.setBold(true);
    QFont title = QFontDatabase::systemFont(QFontDatabase::TitleFont);
    title.setPointSizeF(14);
    title.setBold(true);

    const qreal width = device.width();
    const qreal height = device.height();
    const qreal gap = QFontMetricsF(body, &device).height() / 3;
    const qreal indent = QFontMetricsF(body, &device).horizontalAdvance(QStringLiteral("    "));
    const Block head = laidOut(document.title, title, device, width);
    const Block date = laidOut(document.date, small, device, width);
    const qreal footer = QFontMetricsF(small, &device).height() * 2;

    // Laid out first, to know the pages: an entry (a line, its note and its
    // corrections) is kept on one page unless it is taller than one.
    std::vector<std::vector<Block>> entries;
    entries.reserve(document.lines.size());
    for (int i = 0; i < lines; ++i) {
        if (i % kSlice == 0) {
            if (progress.cancelled) {
                return false;
            }
            progress.done = i;
        }
        const TapeDocument::Line& line = document.lines[static_cast<std::size_t>(i)];
        std::vector<Block> entry;
        entry.push_back(line.heading ? laidOut(line.text, bold, device, width)
                                     : lineBlock(line, body, device, width));
        if (!line.note.isEmpty()) {
            entry.push_back(laidOut(line.note, note, device, width, indent));
        }
        for (const TapeDocument::Correction& c : line.corrections) {
            entry.push_back(laidOut(document.words.corrected.arg(c.now, c.was, c.when), small,
                                    device, width, indent));
        }
        entries.push_back(std::move(entry));
    }
    const qreal top = head.height + date.height + 2 * gap;
    const qreal bottom = height - footer;
    const int pages = place(
        entries, top, bottom, gap, [](std::size_t) { return true; },
        [](int, qreal, const Block&, const QTextLine&) {});

    QPainter painter;
    if (!painter.begin(&device)) {
        return false;
    }
    int page = 0;
    auto entry = [&](std::size_t i) {
        if (i % kSlice == 0) {
            progress.done = lines + static_cast<int>(i);
            return !progress.cancelled;
        }
        return true;
    };
    auto frame = [&](int on) {
        if (page > 0) {
            device.newPage();
        }
        page = on;
        head.layout->draw(&painter, QPointF(0, 0));
        date.layout->draw(&painter, QPointF(0, head.height));
        const Block foot = laidOut(document.words.page.arg(page).arg(pages), small, device, width);
        foot.layout->draw(&painter, QPointF(0, height - foot.height));
    };
    auto line = [&](int on, qreal y, const Block& block, const QTextLine& text) {
        if (on != page) {
            frame(on);
        }
        text.draw(&painter, QPointF(block.indent, y - text.y()));
    };
    if (place(entries, top, bottom, gap, entry, line) == 0) {
        painter.end();
        return false;
    }
    if (page == 0) {
        frame(1); // no line: the title and the date all the same
    }
    progress.done = progress.total.load();
    return painter.end();
}

QByteArray pdf(const TapeDocument& document, ExportProgress& progress) {
    QByteArray bytes;
    {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QPdfWriter writer(&buffer);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageMargins(QMarginsF(20, 20, 20, 20), QPageLayout::Millimeter);
        writer.setResolution(300);
        writer.setTitle(document.title);
        writer.setCreator(QStringLiteral("Quillo"));
        if (!paint(document, writer, progress)) {
            return {};
        }
    }
    return bytes;
}

} // namespace tapedocument
