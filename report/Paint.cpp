#include "report/Paint.h"

#include "base/Fonts.h"
#include "base/WholeFile.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QHash>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QRawFont>

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

namespace {
// The ideograph a radical shares its glyph with in the ledger's face (⻘ and
// 青 are one glyph in Noto Sans CJK): read from the font itself, once.
QHash<uint, char16_t> radicalIdeographs() {
    static const QHash<uint, char16_t> map = [] {
        QHash<uint, char16_t> out;
        if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
            return out; // no fonts without a window system
        QFont font;
        font.setFamilies(ledgerFontFamilies());
        const QRawFont raw = QRawFont::fromFont(font);
        if (!raw.isValid())
            return out;
        QString ideographs;
        for (char16_t c = 0x4E00; c <= 0x9FFF; ++c)
            ideographs += QChar(c);
        QHash<quint32, char16_t> byGlyph;
        const QVector<quint32> glyphs = raw.glyphIndexesForString(ideographs);
        for (int i = 0; i < glyphs.size(); ++i)
            if (glyphs[i] && !byGlyph.contains(glyphs[i]))
                byGlyph.insert(glyphs[i], ideographs[i].unicode());
        for (char16_t r = 0x2E80; r <= 0x2FDF; ++r) {
            const QVector<quint32> g = raw.glyphIndexesForString(QString(QChar(r)));
            if (!g.isEmpty() && byGlyph.contains(g[0]))
                out.insert(r, byGlyph.value(g[0]));
        }
        return out;
    }();
    return map;
}

// CJK fonts draw a Kangxi radical (⽇ U+2F47) and its ideograph (日 U+65E5)
// with one glyph, and the PDF's text layer then names the radical: a search
// for 日付 finds nothing. The ToUnicode maps are rewritten to the ideograph;
// the codes have the same length, so no offset of the file moves.
void mapRadicalsToIdeographs(QByteArray& pdf) {
    const QHash<uint, char16_t> shared = radicalIdeographs();
    for (const char* section : {"bfrange", "bfchar"}) {
        const QByteArray begin = QByteArray("begin") + section, end = QByteArray("end") + section;
        for (qsizetype at = pdf.indexOf(begin); at >= 0; at = pdf.indexOf(begin, at)) {
            const qsizetype stop = pdf.indexOf(end, at);
            if (stop < 0)
                break;
            for (qsizetype i = pdf.indexOf('<', at); i >= 0 && i + 5 < stop;
                 i = pdf.indexOf('<', i + 1)) {
                if (pdf[i + 5] != '>')
                    continue;
                bool ok = false;
                const uint code = pdf.mid(i + 1, 4).toUInt(&ok, 16);
                if (!ok || code < 0x2E80 || code > 0x2FDF)
                    continue;
                QString ideograph =
                    QString(QChar(char16_t(code))).normalized(QString::NormalizationForm_KC);
                if (ideograph.size() != 1 || ideograph[0].unicode() == code)
                    ideograph =
                        shared.contains(code) ? QString(QChar(shared.value(code))) : QString();
                if (ideograph.size() == 1)
                    pdf.replace(i + 1, 4,
                                QByteArray::number(ideograph[0].unicode(), 16)
                                    .toUpper()
                                    .rightJustified(4, '0'));
            }
            at = stop;
        }
    }
}
} // namespace

bool writePdf(const QVector<Page>& pages, const QString& path, const QString& title,
              QString* error) {
    // The document is made in memory (the PDF writer says nothing of a failed
    // write), checked whole, then written whole: a full disk is an error and
    // the older file stays.
    QByteArray bytes;
    bool painted = false;
    {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QPdfWriter pdf(&buffer);
        pdf.setTitle(title);
        pdf.setCreator(QStringLiteral("Stolva"));
        pdf.setResolution(600);
        pdf.setPageLayout(
            QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF()));
        painted = paintAll(pages, pdf);
    } // the writer finishes the document here
    if (!painted || !bytes.startsWith("%PDF-") || !bytes.trimmed().endsWith("%%EOF")) {
        if (error)
            *error = QStringLiteral("PDF を作れませんでした。");
        return false;
    }
    mapRadicalsToIdeographs(bytes);
    const wholefile::Outcome o = wholefile::write(path, bytes);
    if (!o && error)
        *error = o.error;
    return bool(o);
}

} // namespace report
