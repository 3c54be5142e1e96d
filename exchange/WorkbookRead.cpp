#include "exchange/Workbook.h"
#include "exchange/WorkbookPackage.h"

#include <QDate>
#include <QDateTime>
#include <QRegularExpression>
#include <charconv>
#include <cmath>
#include <utility>

// A sheet of a workbook read as the records of a table.
namespace exchange {

bool looksLikeWorkbook(const QByteArray& bytes) {
    return bytes.startsWith("PK\x03\x04");
}

namespace {
using namespace xlsx;

// A number as the user sees it in a cell of the General format: whole
// numbers without a decimal point, others with up to 15 significant digits,
// never in exponent form.
QString numberText(double v) {
    if (std::isnan(v) || std::isinf(v))
        return QString();
    if (v == std::floor(v) && std::fabs(v) < 1e15)
        return QString::number(qint64(v));
    QString s =
        QString::number(v, 'f', std::max(0, 14 - int(std::floor(std::log10(std::fabs(v))))));
    if (s.contains('.')) {
        while (s.endsWith('0'))
            s.chop(1);
        if (s.endsWith('.'))
            s.chop(1);
    }
    return s;
}

// Whether a number format shows a date or a time: Excel's own date formats,
// or a code with date or time letters outside quotes and brackets.
// The General format under its names (LibreOffice writes it as a code of its
// own, Japanese Excel as G/標準, which LibreOffice outside Japan saves as
// g/"標準"), the text format, and elapsed times ([h]:mm): their numbers are
// numbers, whatever letters the code holds.
bool plainNumberFormat(const QString& code) {
    static const QRegularExpression plain(
        QStringLiteral("^(general|g/\"?標準\"?|@)$|\\[(h+|m+|s+)\\]"),
        QRegularExpression::CaseInsensitiveOption);
    return plain.match(code.trimmed()).hasMatch();
}

bool isDateFormat(int id, const QString& code) {
    if ((id >= 14 && id <= 22) || (id >= 27 && id <= 36) || (id >= 45 && id <= 47) ||
        (id >= 50 && id <= 58))
        return true;
    if (code.isEmpty() || plainNumberFormat(code))
        return false;
    bool quoted = false;
    int bracket = 0;
    for (int i = 0; i < code.size(); ++i) {
        const QChar c = code[i];
        if (c == '"')
            quoted = !quoted;
        else if (quoted)
            continue;
        else if (c == '\\' || c == '_' || c == '*')
            ++i; // the next character is shown as it is
        else if (c == '[')
            ++bracket;
        else if (c == ']')
            --bracket;
        else if (bracket == 0 && QStringLiteral("yYmMdDhHsSeg").contains(c))
            return true;
    }
    return false;
}

bool showsTime(int id, const QString& code) {
    if ((id >= 18 && id <= 22) || (id >= 45 && id <= 47))
        return true;
    static const QRegularExpression time(QStringLiteral("[hHsS]"));
    QString plain = code;
    plain.remove(QRegularExpression(QStringLiteral("\"[^\"]*\"|\\[[^\\]]*\\]")));
    return time.match(plain).hasMatch();
}

bool showsDate(int id, const QString& code) {
    if ((id >= 18 && id <= 21) || (id >= 45 && id <= 47))
        return false;
    if (code.isEmpty())
        return true; // one of Excel's own date formats
    QString plain = code;
    plain.remove(QRegularExpression(QStringLiteral("\"[^\"]*\"|\\[[^\\]]*\\]")));
    // An m beside hours or seconds is minutes.
    static const QRegularExpression date(QStringLiteral("[yYdDeg]")),
        clock(QStringLiteral("[hHsS]"));
    return date.match(plain).hasMatch() ||
           (plain.contains('m', Qt::CaseInsensitive) && !clock.match(plain).hasMatch());
}

// A date serial as shown: 2026/12/08, with the time when the format shows one.
QString dateText(double serial, bool date1904, bool withDate, bool withTime) {
    if (std::isnan(serial) || serial < 0 || serial > 2958465)
        return numberText(serial);
    const qint64 days = qint64(std::floor(serial));
    // Excel counts a 29 February 1900 that never was.
    const QDate origin = date1904    ? QDate(1904, 1, 1)
                         : days < 61 ? QDate(1899, 12, 31)
                                     : QDate(1899, 12, 30);
    const QDate d = origin.addDays(days);
    const qint64 seconds = std::llround((serial - double(days)) * 86400.0);
    const QTime t = QTime(0, 0).addSecs(int(std::min<qint64>(seconds, 86399)));
    QStringList parts;
    if (withDate || !withTime)
        parts << d.toString(QStringLiteral("yyyy/MM/dd"));
    if (withTime)
        parts << t.toString(t.second() ? QStringLiteral("H:mm:ss") : QStringLiteral("H:mm"));
    return parts.join(' ');
}

// "B12" → column 1, row 11; false when it is no cell reference.
bool cellRef(std::string_view ref, int* column, qint64* row) {
    int c = 0, i = 0;
    const int size = int(ref.size());
    while (i < size && ref[i] >= 'A' && ref[i] <= 'Z' && i < 3)
        c = c * 26 + (ref[i++] - 'A' + 1);
    qint64 r = 0;
    int digits = 0;
    while (i < size && ref[i] >= '0' && ref[i] <= '9' && digits < 8) {
        r = r * 10 + (ref[i++] - '0');
        ++digits;
    }
    if (c == 0 || r == 0 || i != size)
        return false;
    *column = c - 1;
    *row = r - 1;
    return true;
}

// Columns a sheet may use: a stray cell far to the right is refused rather
// than widening every record.
constexpr int MaxColumns = 256;

// What the cells of a sheet may take in memory while the preview reads
// them, besides the part's text (at most MaxPartBytes): the whole preview
// stays under 300 MB.
constexpr qint64 MaxCellMemory = 150ll << 20;

// The workbook part: its sheets in order (names, parts) and its date system.
struct Book {
    QStringList names, parts;
    bool date1904 = false;
};

Book readBook(const Package& pkg, const QString& bookPart, const Relations& rels) {
    Book b;
    Handler h;
    h.start = [&](std::string_view el, const Attributes& a) {
        if (el == "sheet") {
            b.names << text(a.value("name"));
            b.parts << rels.byId.value(text(a.value("id")));
        } else if (el == "workbookPr") {
            const QByteArray v = a.value("date1904");
            b.date1904 = v == "1" || v == "true";
        }
    };
    parseXml(pkg.part(bookPart), h);
    return b;
}

// Shared strings: the text of each item, its runs joined; the reading aids
// (furigana) Japanese Excel keeps beside a text are not part of it.
QStringList sharedStrings(const Package& pkg, const Relations& rels) {
    QStringList shared;
    const QString sst = rels.byType.value("sharedStrings");
    if (!pkg.has(sst))
        return shared;
    QByteArray item;
    bool inText = false;
    int phonetic = 0;
    Handler h;
    h.start = [&](std::string_view el, const Attributes&) {
        if (el == "si")
            item.clear();
        else if (el == "rPh")
            ++phonetic;
        else if (el == "t")
            inText = phonetic == 0;
    };
    h.end = [&](std::string_view el) {
        if (el == "si")
            shared << unescaped(std::string_view(item.constData(), size_t(item.size())));
        else if (el == "rPh")
            --phonetic;
        else if (el == "t")
            inText = false;
    };
    h.text = [&](std::string_view t) {
        if (inText)
            item.append(t.data(), qsizetype(t.size()));
    };
    parseXml(pkg.part(sst), h);
    return shared;
}

// How a cell style shows a number: as a date, with its date and its time.
struct Shown {
    bool date = false, withDate = false, withTime = false;
};

// Styles: which cell formats show dates or times.
QVector<Shown> cellFormats(const Package& pkg, const Relations& rels) {
    QHash<int, QString> codes; // numFmtId → format code
    QVector<int> formatOfStyle;
    if (const QString st = rels.byType.value("styles"); pkg.has(st)) {
        bool inCellXfs = false;
        Handler h;
        h.start = [&](std::string_view el, const Attributes& a) {
            if (el == "numFmt")
                codes.insert(a.value("numFmtId").toInt(), text(a.value("formatCode")));
            else if (el == "cellXfs")
                inCellXfs = true;
            else if (el == "xf" && inCellXfs)
                formatOfStyle << a.value("numFmtId").toInt();
        };
        h.end = [&](std::string_view el) {
            if (el == "cellXfs")
                inCellXfs = false;
        };
        parseXml(pkg.part(st), h);
    }
    QVector<Shown> shownAs;
    for (int id : formatOfStyle) {
        const QString code = codes.value(id);
        Shown s;
        s.date = isDateFormat(id, code);
        s.withTime = s.date && showsTime(id, code);
        s.withDate = s.date && showsDate(id, code);
        shownAs << s;
    }
    return shownAs;
}

// A number cell's text when it is plain digits (what most cells hold): as
// General shows it, without going through a double.
bool plainWhole(std::string_view v) {
    const size_t sign = !v.empty() && v[0] == '-' ? 1 : 0;
    const size_t digits = v.size() - sign;
    if (digits == 0 || digits > 15 || (digits > 1 && v[sign] == '0'))
        return false;
    for (size_t i = sign; i < v.size(); ++i)
        if (v[i] < '0' || v[i] > '9')
            return false;
    return !(sign && digits == 1 && v[1] == '0'); // -0 shows as 0
}

std::string_view trimmed(std::string_view v) {
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (!v.empty() && space(v.front()))
        v.remove_prefix(1);
    while (!v.empty() && space(v.back()))
        v.remove_suffix(1);
    return v;
}

QByteArray bytesOf(std::string_view v) {
    return QByteArray(v.data(), qsizetype(v.size()));
}

// A cell's text as the user sees it, from its type (t), value and style.
QString cellText(std::string_view type, std::string_view value, std::string_view inlineText,
                 const Shown& shown, const QStringList& shared, bool date1904) {
    if (type == "s") {
        const std::string_view v = trimmed(value);
        int i = -1;
        const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), i);
        return ec == std::errc() && end == v.data() + v.size() ? shared.value(i) : QString();
    }
    if (type == "inlineStr")
        return unescaped(inlineText);
    if (type == "str" || type == "e" || type == "d") {
        QString cell = unescaped(value); // a formula's text, an error, an ISO date
        if (type == "d")
            cell.replace('-', '/').replace('T', ' ');
        return cell;
    }
    const std::string_view v = trimmed(value);
    if (type == "b")
        return v == "1" ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
    if (v.empty())
        return QString();
    if (!shown.date && plainWhole(v))
        return QString::fromLatin1(v.data(), qsizetype(v.size()));
    // Read in place; what the standard reader does not take is read as before.
    double d = 0;
    const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), d);
    bool ok = ec == std::errc() && end == v.data() + v.size();
    if (!ok)
        d = bytesOf(v).toDouble(&ok);
    return !ok          ? QString::fromUtf8(value.data(), qsizetype(value.size()))
           : shown.date ? dateText(d, date1904, shown.withDate, shown.withTime)
                        : numberText(d);
}

// The cells of a sheet, row by row: a row as long as its last cell, a blank
// row nothing, so a far cell costs what it holds.
struct Cells {
    QVector<QStringList> rows;
    int width = 0;
};

Cells readCells(const std::vector<unsigned char>& xml, const QStringList& shared,
                const QVector<Shown>& shownAs, bool date1904) {
    Cells out;
    qint64 memory = 0;
    qint64 rowAt = -1;
    int colAt = -1;
    std::string type, value, inlineText; // kept from the cell's start to its end
    int style = 0;
    bool inCell = false, inValue = false, inInline = false, inText = false;
    int phonetic = 0;
    const auto keep = [&](const QString& cell) {
        if (colAt >= MaxColumns)
            throw Refused(QStringLiteral("列が多すぎます（%1 列まで）。").arg(MaxColumns));
        if (rowAt >= MaxRecords)
            throw Refused(QStringLiteral("%1 行目があります。取り込めるのは %2 行までです。")
                              .arg(rowAt + 1)
                              .arg(MaxRecords));
        if (rowAt >= out.rows.size()) {
            memory += (rowAt + 1 - out.rows.size()) * qint64(sizeof(QStringList));
            if (rowAt >= out.rows.capacity())
                out.rows.reserve(std::max<qsizetype>(rowAt + 1, 2 * out.rows.capacity()));
            out.rows.resize(rowAt + 1);
        }
        QStringList& rec = out.rows[rowAt];
        if (rec.isEmpty())
            rec.reserve(std::max(out.width, colAt + 1)); // rows are mostly as wide as the last
        if (colAt >= rec.size()) {
            memory += (colAt + 1 - rec.size()) * qint64(sizeof(QString));
            rec.resize(colAt + 1);
        }
        // A shared string's text is shared, not copied.
        if (type != "s")
            memory += cell.size() * 2 + 32;
        if (memory > MaxCellMemory)
            throw Refused(QStringLiteral(
                "シートのデータが多すぎて読み込めません（メモリが足りなくなります）。"));
        rec[colAt] = cell;
        out.width = std::max(out.width, colAt + 1);
    };
    Handler h;
    h.start = [&](std::string_view el, const Attributes& a) {
        if (el == "row") {
            const std::string_view r = a.view("r");
            qint64 n = 0;
            std::from_chars(r.data(), r.data() + r.size(), n);
            rowAt = n > 0 ? n - 1 : rowAt + 1;
            colAt = -1;
        } else if (el == "c") {
            inCell = true;
            type = a.view("t");
            const std::string_view s = a.view("s");
            style = 0;
            std::from_chars(s.data(), s.data() + s.size(), style);
            value.clear();
            inlineText.clear();
            int c = colAt + 1;
            qint64 row = rowAt;
            if (a.contains("r") && !cellRef(a.view("r"), &c, &row))
                throw Refused("bad cell reference");
            colAt = c;
            rowAt = row;
        } else if (el == "v") {
            inValue = true;
        } else if (el == "is") {
            inInline = true;
        } else if (el == "t") {
            inText = inInline && phonetic == 0;
        } else if (el == "rPh") {
            ++phonetic;
        }
    };
    h.text = [&](std::string_view t) {
        if (inValue)
            value.append(t);
        else if (inText)
            inlineText.append(t);
    };
    h.end = [&](std::string_view el) {
        if (el == "v") {
            inValue = false;
        } else if (el == "is") {
            inInline = false;
        } else if (el == "t") {
            inText = false;
        } else if (el == "rPh") {
            --phonetic;
        } else if (el == "c") {
            // Only a cell that began as one: a stray end names no column.
            if (!std::exchange(inCell, false) || colAt < 0 || rowAt < 0)
                return;
            const QString cell =
                cellText(type, value, inlineText, shownAs.value(style), shared, date1904);
            if (!cell.isEmpty())
                keep(cell);
        }
    };
    parseXml(xml, h);
    return out;
}

} // namespace

Result<Table> parseWorkbook(const QByteArray& bytes, int sheetIndex) {
    Result<Table> r;
    const auto refuse = [&](const QString& why) {
        r.status = Status::failed(why);
        r.value = Table();
        return r;
    };
    try {
        const Package pkg(bytes);
        const QString bookPart = relationsOf(pkg, QString()).byType.value("officeDocument");
        if (bookPart.isEmpty() || !pkg.has(bookPart))
            return refuse(QStringLiteral("Excel ブック（.xlsx）ではありません。"));
        const Relations rels = relationsOf(pkg, bookPart);
        const Book book = readBook(pkg, bookPart, rels);
        if (book.names.isEmpty())
            return refuse(QStringLiteral("ブックにシートがありません。"));
        if (sheetIndex < 0 || sheetIndex >= book.names.size())
            return refuse(
                QStringLiteral("ブックに %1 枚目のシートはありません。").arg(sheetIndex + 1));
        const QString sheetPart = book.parts[sheetIndex];
        if (sheetPart.isEmpty() || !pkg.has(sheetPart))
            return refuse(QStringLiteral("シート「%1」は表のシートではありません。")
                              .arg(book.names[sheetIndex]));
        Cells cells = readCells(pkg.part(sheetPart), sharedStrings(pkg, rels),
                                cellFormats(pkg, rels), book.date1904);
        // Records from the first row to the last used, each visited as wide
        // as the sheet (a blank row stays a blank record, as a CSV has it).
        Table& t = r.value;
        t.sheets = book.names;
        t.sheet = sheetIndex;
        t.records = std::move(cells.rows);
        t.width = cells.width;
        // An empty sheet of several is read as it is: the preview says so and
        // offers the others.
        if (t.records.isEmpty() && book.names.size() == 1)
            return refuse(QStringLiteral("シート「%1」は空です。").arg(book.names[sheetIndex]));
        return r;
    } catch (const Refused& e) {
        return refuse(e.said ? QString::fromStdString(e.what())
                             : QStringLiteral("Excel ブックとして読めません（壊れています）。"));
    } catch (const std::bad_alloc&) {
        return refuse(QStringLiteral("メモリが足りません。"));
    } catch (const std::exception&) {
        return refuse(QStringLiteral("Excel ブックとして読めません（壊れています）。"));
    }
}

} // namespace exchange
