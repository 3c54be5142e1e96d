#include "report/Paint.h"

#include "base/Fonts.h"
#include "base/WholeFile.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QGuiApplication>
#include <QHash>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QRawFont>
#include <QTextLayout>
#include <map>

namespace report {

QString fittedText(const QString& text, const QFontMetricsF& metrics, double width) {
    // A text too long for its column ends in "…" rather than being cut
    // through a character at the column's edge.
    return metrics.elidedText(text, Qt::ElideRight, width);
}

namespace {
// Each distinct text of a report is shaped once per font and box: units,
// categories and figures repeat on every line, and shaping is most of what
// painting a text costs. What is drawn is the shaped glyphs, at the place
// the box's alignment gives them.
class Shaper {
  public:
    explicit Shaper(QPaintDevice* device) : m_device(device) {}

    struct Shaped {
        QList<QGlyphRun> runs;
        double width = 0, height = 0;
    };

    // The text as it fits a box `width` wide (elided when too long).
    const Shaped& fitted(const QString& text, double pt, bool bold, double width) {
        Font& f = fontOf(pt, bold);
        const Shaped& whole = shapedIn(f, f.whole, text);
        if (whole.width <= width)
            return whole;
        auto& byWidth = f.elided[text];
        const auto hit = byWidth.constFind(width);
        if (hit != byWidth.constEnd())
            return *hit;
        return *byWidth.insert(width, shape(f, fittedText(text, f.metrics, width)));
    }

  private:
    struct Font {
        QFont font;
        QFontMetricsF metrics;
        QHash<QString, Shaped> whole;
        QHash<QString, QHash<double, Shaped>> elided;
    };

    Font& fontOf(double pt, bool bold) {
        const int key = int(pt * 100) * 2 + (bold ? 1 : 0);
        auto f = m_fonts.find(key);
        if (f == m_fonts.end()) {
            QFont font;
            font.setFamilies(ledgerFontFamilies());
            font.setPointSizeF(pt);
            font.setBold(bold);
            f = m_fonts.emplace(key, Font{font, QFontMetricsF(font, m_device), {}, {}}).first;
        }
        return f->second;
    }

    const Shaped& shapedIn(Font& f, QHash<QString, Shaped>& cache, const QString& text) {
        const auto hit = cache.constFind(text);
        if (hit != cache.constEnd())
            return *hit;
        return *cache.insert(text, shape(f, text));
    }

    Shaped shape(const Font& f, QString text) const {
        // One line: a break or a tab in a name prints as a space.
        for (QChar& c : text)
            if (c.unicode() < 0x20 || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
                c = QLatin1Char(' ');
        QTextLayout layout(text, f.font, m_device);
        layout.beginLayout();
        QTextLine line = layout.createLine();
        line.setLineWidth(1e9);
        line.setPosition(QPointF(0, 0));
        layout.endLayout();
        Shaped out;
        out.runs = layout.glyphRuns();
        out.width = line.naturalTextWidth();
        out.height = line.height();
        return out;
    }

    QPaintDevice* m_device;
    std::map<int, Font> m_fonts;
};

void paintPage(const Page& page, QPainter& painter, double scale, Shaper& shaper) {
    painter.save();
    painter.setPen(Qt::black);
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
        if (p.text.isEmpty())
            continue;
        const Shaper::Shaped& t = shaper.fitted(p.text, p.fontPt, p.bold, r.width());
        const double x = p.align & Qt::AlignRight     ? r.right() - t.width
                         : p.align & Qt::AlignHCenter ? r.left() + (r.width() - t.width) / 2
                                                      : r.left();
        const QPointF at(x, r.top() + (r.height() - t.height) / 2);
        painter.setPen(Qt::black);
        for (const QGlyphRun& run : t.runs)
            painter.drawGlyphRun(at, run);
    }
    painter.restore();
}
} // namespace

void paint(const Page& page, QPainter& painter, double scale) {
    Shaper shaper(painter.device());
    paintPage(page, painter, scale, shaper);
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
    Shaper shaper(&device);
    for (int i = 0; i < pages.size(); ++i) {
        if (i > 0)
            device.newPage();
        paintPage(pages[i], painter, scale, shaper);
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
// the codes have the same length, so no offset of the file moves. The same
// for the middle dot of 種類・品質・型.
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
                // The font's one glyph for ・ (U+30FB) is named the hyphenation point.
                if (ok && code == 0x2027) {
                    pdf.replace(i + 1, 4, "30FB");
                    continue;
                }
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
