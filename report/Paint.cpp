#include "report/Paint.h"

#include "base/Fonts.h"
#include "base/WholeFile.h"

#include <QDir>
#include <QFont>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>

namespace report {

QString fittedText(const QString& text, const QFontMetricsF& metrics, double width) {
    // A text too long for its column ends in "…" rather than being cut
    // through a character at the column's edge.
    return metrics.elidedText(text, Qt::ElideRight, width);
}

void paint(const Page& page, QPainter& painter, double scale) {
    painter.save();
    QHash<QString, QPair<QFont, QFontMetricsF>> fonts;
    for (const Placed& p : page.items) {
        const QRectF r(p.rect.left() * scale, p.rect.top() * scale, p.rect.width() * scale,
                       p.rect.height() * scale);
        if (p.kind == ItemKind::Line) {
            painter.setPen(QPen(Qt::black, std::max(1.0, 15 * scale)));
            painter.drawLine(QPointF(r.left(), r.top()), QPointF(r.right(), r.top()));
            continue;
        }
        if (p.kind == ItemKind::Box) {
            painter.setPen(QPen(Qt::black, std::max(1.0, 10 * scale)));
            painter.setBrush(Qt::NoBrush);
            painter.drawRect(r);
            continue;
        }
        if (p.kind == ItemKind::Picture) {
            painter.drawImage(r, p.picture.value<QImage>());
            continue;
        }
        // One font and its metrics per size and weight, not per item.
        const QString key = QString::number(p.fontPt) + (p.bold ? "b" : "");
        auto font = fonts.find(key);
        if (font == fonts.end()) {
            QFont f;
            f.setFamilies(ledgerFontFamilies());
            f.setPointSizeF(p.fontPt);
            f.setBold(p.bold);
            font = fonts.insert(key, {f, QFontMetricsF(f, painter.device())});
        }
        painter.setFont(font->first);
        painter.setPen(Qt::black);
        const QString text = font->second.horizontalAdvance(p.text) <= r.width()
                                 ? p.text
                                 : fittedText(p.text, font->second, r.width());
        painter.drawText(r, int(p.align | Qt::AlignVCenter) | Qt::TextSingleLine, text);
    }
    painter.restore();
}

bool paintAll(const QVector<Page>& pages, QPagedPaintDevice& device) {
    QPainter painter(&device);
    if (!painter.isActive())
        return false;
    // Positions are measured from the paper's corner; the device's own
    // margins are taken off again.
    const double scale = device.logicalDpiX() / 1440.0;
    const QMarginsF m = device.pageLayout().marginsPoints();
    painter.translate(-m.left() * device.logicalDpiX() / 72.0,
                      -m.top() * device.logicalDpiY() / 72.0);
    for (int i = 0; i < pages.size(); ++i) {
        if (i > 0)
            device.newPage();
        paint(pages[i], painter, scale);
    }
    return painter.end();
}

bool writePdf(const QVector<Page>& pages, const QString& path, const QString& title,
              QString* error) {
    // The pages go to a temporary file that replaces the target only when whole.
    wholefile::Temp temp(path);
    bool painted = false;
    {
        QPdfWriter pdf(temp.path());
        pdf.setTitle(title);
        pdf.setCreator(QStringLiteral("Stolva"));
        pdf.setResolution(600);
        pdf.setPageLayout(
            QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF()));
        painted = paintAll(pages, pdf);
    } // the writer finishes the file here
    const wholefile::Outcome o = painted ? temp.commit() : temp.fail();
    if (!o && error)
        *error = o.error;
    return bool(o);
}

} // namespace report
