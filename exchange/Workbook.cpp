#include "exchange/Workbook.h"

#include "base/WholeFile.h"

#include <QDate>
#include <QDateTime>
#include <QHash>
#include <QRegularExpression>
#include <cmath>
#include <orcus/sax_parser.hpp>
#include <orcus/zip_archive.hpp>
#include <orcus/zip_archive_stream.hpp>
#include <utility>
#include <xlsxwriter.h>

namespace exchange {

// ---- Writing ----------------------------------------------------------------

QString sheetTitle(const QString& wanted) {
    QString t;
    for (QChar c : wanted)
        t += QStringLiteral(":\\/?*[]").contains(c) ? QChar('_') : c;
    t = t.trimmed();
    // Excel refuses a name beginning or ending with an apostrophe.
    while (t.startsWith('\''))
        t.remove(0, 1);
    while (t.endsWith('\''))
        t.chop(1);
    if (t.size() > 31)
        t.truncate(t.at(30).isHighSurrogate() ? 30 : 31);
    return t.isEmpty() ? QStringLiteral("Sheet1") : t;
}

namespace {

// The width Excel gives a text: a full-width character takes two columns.
double textWidth(const QString& s) {
    double w = 0;
    for (const QChar c : s)
        w += c.unicode() >= 0x1100 && !c.isLowSurrogate() ? 2.1 : c.isLowSurrogate() ? 0 : 1.1;
    return w;
}

// Decimals of a money text as written ("12.50" → 2).
int decimalsOf(const QString& text) {
    const qsizetype dot = text.indexOf('.');
    return dot < 0 ? 0 : int(text.size() - dot - 1);
}

// A text that reads like the package's escape of a character (_x0041_) is
// kept as typed: its underscore is escaped itself (_x005F_).
QString escaped(QString text) {
    static const QRegularExpression like(QStringLiteral("_(x[0-9A-Fa-f]{4}_)"));
    return text.contains(QLatin1String("_x")) ? text.replace(like, QStringLiteral("_x005F_\\1"))
                                              : text;
}

class Writer {
  public:
    explicit Writer(const QString& path) : m_path(path.toLocal8Bit()) {
        lxw_workbook_options options{};
        options.constant_memory = LXW_FALSE;
        m_book = workbook_new_opt(m_path.constData(), &options);
    }
    ~Writer() {
        if (m_book)
            workbook_close(m_book); // unfinished: the temporary file is removed by its owner
    }
    bool ok() const { return m_book != nullptr && m_error == LXW_NO_ERROR; }
    QString error() const {
        return QString::fromUtf8(lxw_strerror(m_book ? m_error : LXW_ERROR_MEMORY_MALLOC_FAILED));
    }

    void write(const Records& r) {
        if (!m_book)
            return;
        const QByteArray title = sheetTitle(r.title).toUtf8();
        m_sheet = workbook_add_worksheet(m_book, title.constData());
        if (!m_sheet) {
            m_error = LXW_ERROR_MEMORY_MALLOC_FAILED;
            return;
        }
        m_bold = workbook_add_format(m_book);
        format_set_bold(m_bold);
        QVector<double> widths;
        lxw_row_t row = 0;
        for (const QStringList& rec : r.rows) {
            writeRow(r, row, rec, row == 0, widths);
            ++row;
        }
        if (!r.total.isEmpty())
            writeRow(r, row, r.total, true, widths);
        const int columns = int(widths.size());
        if (columns > 0 && !r.rows.isEmpty()) {
            worksheet_freeze_panes(m_sheet, 1, 0);
            const lxw_row_t last = lxw_row_t(r.rows.size() - 1);
            check(worksheet_autofilter(m_sheet, 0, 0, last, lxw_col_t(columns - 1)));
        }
        for (int c = 0; c < columns; ++c) // room for the filter button, not wider than a screen
            check(worksheet_set_column(m_sheet, lxw_col_t(c), lxw_col_t(c),
                                       std::clamp(widths[c] + 3, 8.0, 60.0), nullptr));
    }

    lxw_error close() {
        const lxw_error e = workbook_close(m_book);
        m_book = nullptr;
        return e;
    }

  private:
    void check(lxw_error e) {
        if (e != LXW_NO_ERROR && m_error == LXW_NO_ERROR)
            m_error = e;
    }
    // #,##0, or with as many decimals as the value has; bold for the header and total.
    lxw_format* format(bool bold, int decimals) {
        const int key = decimals * 2 + (bold ? 1 : 0);
        if (lxw_format* f = m_formats.value(key))
            return f;
        lxw_format* f = workbook_add_format(m_book);
        const QByteArray code =
            decimals ? ("#,##0." + QByteArray(decimals, '0')) : QByteArray("#,##0");
        format_set_num_format(f, code.constData());
        if (bold)
            format_set_bold(f);
        m_formats.insert(key, f);
        return f;
    }

    void writeRow(const Records& r, lxw_row_t row, const QStringList& rec, bool bold,
                  QVector<double>& widths) {
        if (widths.size() < rec.size())
            widths.resize(rec.size());
        for (int c = 0; c < rec.size(); ++c) {
            const QString& text = rec[c];
            widths[c] = std::max(widths[c], textWidth(text));
            if (text.isEmpty())
                continue;
            const lxw_col_t col = lxw_col_t(c);
            bool isNumber = false;
            const double value =
                row > 0 && r.kind(c) != CellKind::Text ? text.toDouble(&isNumber) : 0.0;
            if (isNumber) {
                const int decimals = r.kind(c) == CellKind::Money ? decimalsOf(text) : 0;
                check(worksheet_write_number(m_sheet, row, col, value, format(bold, decimals)));
            } else {
                // The cell holds the text as the user typed it: a text cell
                // is never taken for a formula, so the CSV's guard comes off.
                const QByteArray utf8 = escaped(unguardFormula(text)).toUtf8();
                check(worksheet_write_string(m_sheet, row, col, utf8.constData(),
                                             bold ? m_bold : nullptr));
            }
        }
    }

    QByteArray m_path;
    lxw_workbook* m_book = nullptr;
    lxw_worksheet* m_sheet = nullptr;
    lxw_format* m_bold = nullptr;
    QHash<int, lxw_format*> m_formats;
    lxw_error m_error = LXW_NO_ERROR;
};

} // namespace

Status writeWorkbookFile(const QString& path, const Records& records) {
    wholefile::Temp temp(path);
    lxw_error e = LXW_NO_ERROR;
    {
        Writer w(temp.path());
        w.write(records);
        if (!w.ok())
            return Status::failed(
                QStringLiteral("Excel ブックを作れませんでした（%1）。").arg(w.error()),
                ErrorKind::Io);
        e = w.close();
    }
    if (e != LXW_NO_ERROR) {
        // libxlsxwriter says why in English; the disk's own reason is ours.
        const wholefile::Outcome o = temp.fail();
        return Status::failed(o.error.isEmpty() ? QString::fromUtf8(lxw_strerror(e)) : o.error,
                              ErrorKind::Io);
    }
    if (const wholefile::Outcome o = temp.commit(); !o)
        return Status::failed(o.error, ErrorKind::Io);
    return Status();
}

// ---- Reading ----------------------------------------------------------------

bool looksLikeWorkbook(const QByteArray& bytes) {
    return bytes.startsWith("PK\x03\x04");
}

namespace {

// A package part's text, at most this large once unpacked: a sheet of
// 100,000 products is about 30 MB; a ZIP bomb is refused before unpacking.
constexpr quint64 MaxPartBytes = 128ull << 20;

// A package that cannot be read: a fault of the file (said plainly), or a
// reason of ours for the user.
struct Refused : std::runtime_error {
    explicit Refused(const char* fault) : std::runtime_error(fault) {}
    explicit Refused(const QString& reason)
        : std::runtime_error(reason.toStdString()), said(true) {}
    bool said = false;
};

// Text as the package keeps it: a character XML cannot hold (a control
// character) written as _x0001_.
QString unescaped(const QByteArray& utf8) {
    QString s = QString::fromUtf8(utf8);
    if (!s.contains(QLatin1String("_x")))
        return s;
    static const QRegularExpression escape(QStringLiteral("_x([0-9A-Fa-f]{4})_"));
    QString out;
    qsizetype at = 0;
    for (auto it = escape.globalMatch(s); it.hasNext();) {
        const auto m = it.next();
        out += s.mid(at, m.capturedStart() - at);
        out += QChar(char16_t(m.captured(1).toUShort(nullptr, 16)));
        at = m.capturedEnd();
    }
    return out + s.mid(at);
}

// The sizes the package's central directory declares, by part name, read
// before anything is unpacked.
QHash<QString, quint64> declaredSizes(const QByteArray& zip) {
    QHash<QString, quint64> sizes;
    const auto u16 = [&](qsizetype at) {
        return quint16(uchar(zip[at])) | quint16(uchar(zip[at + 1])) << 8;
    };
    const auto u32 = [&](qsizetype at) { return quint32(u16(at)) | quint32(u16(at + 2)) << 16; };
    const qsizetype end = zip.lastIndexOf("PK\x05\x06");
    if (end < 0 || end + 22 > zip.size())
        throw Refused("no central directory");
    qsizetype at = qsizetype(u32(end + 16));
    const int entries = u16(end + 10);
    for (int i = 0; i < entries; ++i) {
        if (at < 0 || at + 46 > zip.size() || !zip.mid(at, 4).startsWith("PK\x01\x02"))
            throw Refused("damaged central directory");
        const quint64 packed = u32(at + 20), size = u32(at + 24);
        const int nameLength = u16(at + 28), extra = u16(at + 30), comment = u16(at + 32);
        const qsizetype local = qsizetype(u32(at + 42));
        // A part is never larger packed than the file, and its own header
        // says no more than the directory (a reader allocates what either says).
        if (at + 46 + nameLength > zip.size() || packed > quint64(zip.size()) || local < 0 ||
            local + 30 > zip.size() || !zip.mid(local, 4).startsWith("PK\x03\x04") ||
            u32(local + 18) > quint64(zip.size()) || u32(local + 22) > size)
            throw Refused("damaged central directory");
        const QString name = QString::fromUtf8(zip.mid(at + 46, nameLength));
        if (sizes.contains(name)) // which of the two would be read is the reader's guess
            throw Refused("a part twice");
        sizes.insert(name, size);
        at += 46 + nameLength + extra + comment;
    }
    return sizes;
}

// A package: its parts by name, unpacked on demand.
class Package {
  public:
    explicit Package(const QByteArray& bytes)
        : m_stream(reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size())),
          m_zip(&m_stream), m_sizes(declaredSizes(bytes)) {
        m_zip.load();
    }
    bool has(const QString& name) const { return m_sizes.contains(name); }
    std::string part(const QString& name) const {
        if (m_sizes.value(name) > MaxPartBytes)
            throw Refused("part too large");
        std::vector<unsigned char> buf;
        if (!m_zip.read_file_entry(name.toStdString(), buf))
            throw Refused("missing part");
        // The reader ends the text with a NUL of its own and fills what a
        // part shorter than the package says lacks with NULs: XML holds none.
        const quint64 size = m_sizes.value(name);
        if (buf.size() < size || std::find(buf.begin(), buf.begin() + qsizetype(size), 0) !=
                                     buf.begin() + qsizetype(size))
            throw Refused("part cut short");
        buf.resize(size);
        return std::string(buf.begin(), buf.end());
    }

  private:
    orcus::zip_archive_stream_blob m_stream;
    orcus::zip_archive m_zip;
    QHash<QString, quint64> m_sizes;
};

// A SAX handler that hands each element's attributes (by local name) to
// start(), and collects text. It counts the elements open: a part whose
// elements are not all closed was cut short.
struct Handler {
    QHash<QByteArray, QByteArray> attrs;
    int open = 0;
    bool any = false;
    std::function<void(std::string_view, const QHash<QByteArray, QByteArray>&)> start;
    std::function<void(std::string_view)> end;
    std::function<void(std::string_view)> text;
    void doctype(const orcus::sax::doctype_declaration&) {}
    void start_declaration(std::string_view) {}
    void end_declaration(std::string_view) {}
    void attribute(std::string_view, std::string_view) {}
    void attribute(const orcus::sax::parser_attribute& a) {
        attrs.insert(QByteArray(a.name.data(), qsizetype(a.name.size())),
                     QByteArray(a.value.data(), qsizetype(a.value.size())));
    }
    void start_element(const orcus::sax::parser_element& e) {
        ++open;
        any = true;
        if (start)
            start(e.name, attrs);
        attrs.clear();
    }
    void end_element(const orcus::sax::parser_element& e) {
        --open;
        if (end)
            end(e.name);
    }
    void characters(std::string_view s, bool) {
        if (text)
            text(s);
    }
};

// liborcus 0.17 stops the program (a failed assertion) on a character
// reference past U+10FFFF or below zero: a part holding one is refused
// before it is parsed. In XML "&#" begins nothing but such a reference.
void checkCharacterReferences(const std::string& xml) {
    for (size_t at = xml.find("&#"); at != std::string::npos; at = xml.find("&#", at + 2)) {
        size_t i = at + 2;
        const bool hex = i < xml.size() && (xml[i] == 'x' || xml[i] == 'X');
        if (hex)
            ++i;
        qint64 value = 0;
        int digits = 0;
        for (; i < xml.size() && xml[i] != ';'; ++i, ++digits) {
            const char c = xml[i];
            const int d = c >= '0' && c <= '9'          ? c - '0'
                          : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                        : -1;
            if (d < 0 || digits >= 12)
                throw Refused("bad character reference");
            value = value * (hex ? 16 : 10) + d;
        }
        if (value > 0x10FFFF)
            throw Refused("bad character reference");
    }
}

void parseXml(const std::string& xml, Handler& h) {
    checkCharacterReferences(xml);
    orcus::sax_parser<Handler> p(xml.data(), xml.size(), h);
    p.parse();
    if (!h.any || h.open != 0)
        throw Refused("part cut short");
}

QString text(const QByteArray& b) {
    return QString::fromUtf8(b);
}

// A part's relationships: id → target part name, and the targets by type.
struct Relations {
    QHash<QString, QString> byId;
    QHash<QString, QString> byType; // the type's last word ("styles") → first target
};

QString folderOf(const QString& part) {
    const qsizetype slash = part.lastIndexOf('/');
    return slash < 0 ? QString() : part.left(slash + 1);
}

// A target relative to the part's folder, or from the package root when it
// begins with a slash (openpyxl writes those), as a part name.
QString resolve(const QString& folder, const QString& target) {
    QStringList parts;
    const QString path = target.startsWith('/') ? target.mid(1) : folder + target;
    for (const QString& p : path.split('/')) {
        if (p == QLatin1String(".."))
            parts.isEmpty() ? void() : parts.removeLast();
        else if (!p.isEmpty() && p != QLatin1String("."))
            parts << p;
    }
    return parts.join('/');
}

Relations relationsOf(const Package& pkg, const QString& part) {
    Relations r;
    const QString folder = folderOf(part);
    const QString name = folder + "_rels/" + part.mid(folder.size()) + ".rels";
    if (!pkg.has(name))
        return r;
    Handler h;
    h.start = [&](std::string_view el, const QHash<QByteArray, QByteArray>& a) {
        if (el != "Relationship")
            return;
        const QString target = resolve(folder, text(a.value("Target")));
        r.byId.insert(text(a.value("Id")), target);
        const QString type = text(a.value("Type")).section('/', -1);
        if (!r.byType.contains(type))
            r.byType.insert(type, target);
    };
    parseXml(pkg.part(name), h);
    return r;
}

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
bool cellRef(const QByteArray& ref, int* column, qint64* row) {
    int c = 0, i = 0;
    while (i < ref.size() && ref[i] >= 'A' && ref[i] <= 'Z' && i < 3)
        c = c * 26 + (ref[i++] - 'A' + 1);
    qint64 r = 0;
    int digits = 0;
    while (i < ref.size() && ref[i] >= '0' && ref[i] <= '9' && digits < 8) {
        r = r * 10 + (ref[i++] - '0');
        ++digits;
    }
    if (c == 0 || r == 0 || i != ref.size())
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

        // The sheets in the workbook's order, and its date system.
        QStringList names, parts;
        bool date1904 = false;
        Handler book;
        book.start = [&](std::string_view el, const QHash<QByteArray, QByteArray>& a) {
            if (el == "sheet") {
                names << text(a.value("name"));
                parts << rels.byId.value(text(a.value("id")));
            } else if (el == "workbookPr") {
                const QByteArray v = a.value("date1904");
                date1904 = v == "1" || v == "true";
            }
        };
        parseXml(pkg.part(bookPart), book);
        if (names.isEmpty())
            return refuse(QStringLiteral("ブックにシートがありません。"));
        if (sheetIndex < 0 || sheetIndex >= names.size())
            return refuse(
                QStringLiteral("ブックに %1 枚目のシートはありません。").arg(sheetIndex + 1));
        const QString sheetPart = parts[sheetIndex];
        if (sheetPart.isEmpty() || !pkg.has(sheetPart))
            return refuse(
                QStringLiteral("シート「%1」は表のシートではありません。").arg(names[sheetIndex]));

        // Shared strings: the text of each item, its runs joined; the
        // reading aids (furigana) Japanese Excel keeps beside a text are not
        // part of it.
        QStringList shared;
        if (const QString sst = rels.byType.value("sharedStrings"); pkg.has(sst)) {
            QByteArray item;
            bool inText = false;
            int phonetic = 0;
            Handler h;
            h.start = [&](std::string_view el, const QHash<QByteArray, QByteArray>&) {
                if (el == "si")
                    item.clear();
                else if (el == "rPh")
                    ++phonetic;
                else if (el == "t")
                    inText = phonetic == 0;
            };
            h.end = [&](std::string_view el) {
                if (el == "si")
                    shared << unescaped(item);
                else if (el == "rPh")
                    --phonetic;
                else if (el == "t")
                    inText = false;
            };
            h.text = [&](std::string_view s) {
                if (inText)
                    item.append(s.data(), qsizetype(s.size()));
            };
            parseXml(pkg.part(sst), h);
        }

        // Styles: which cell formats show dates or times.
        QHash<int, QString> codes; // numFmtId → format code
        QVector<int> formatOfStyle;
        if (const QString st = rels.byType.value("styles"); pkg.has(st)) {
            bool inCellXfs = false;
            Handler h;
            h.start = [&](std::string_view el, const QHash<QByteArray, QByteArray>& a) {
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
        struct Shown {
            bool date = false, withDate = false, withTime = false;
        };
        QVector<Shown> shownAs;
        for (int id : formatOfStyle) {
            const QString code = codes.value(id);
            Shown s;
            s.date = isDateFormat(id, code);
            s.withTime = s.date && showsTime(id, code);
            s.withDate = s.date && showsDate(id, code);
            shownAs << s;
        }

        // The cells, row by row: a row as long as its last cell, a blank row
        // nothing, so a far cell costs what it holds.
        QVector<QStringList> rows;
        qint64 memory = 0;
        int width = 0;
        qint64 rowAt = -1;
        int colAt = -1;
        QByteArray type, value, inlineText;
        int style = 0;
        bool inCell = false, inValue = false, inInline = false, inText = false;
        int phonetic = 0;
        Handler h;
        h.start = [&](std::string_view el, const QHash<QByteArray, QByteArray>& a) {
            if (el == "row") {
                const qint64 n = a.value("r").toLongLong();
                rowAt = n > 0 ? n - 1 : rowAt + 1;
                colAt = -1;
            } else if (el == "c") {
                inCell = true;
                type = a.value("t");
                style = a.value("s").toInt();
                value.clear();
                inlineText.clear();
                int c = colAt + 1;
                qint64 row = rowAt;
                if (a.contains("r") && !cellRef(a.value("r"), &c, &row))
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
        h.text = [&](std::string_view s) {
            if (inValue)
                value.append(s.data(), qsizetype(s.size()));
            else if (inText)
                inlineText.append(s.data(), qsizetype(s.size()));
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
                QString cell;
                if (type == "s") {
                    bool ok = false;
                    const int i = value.trimmed().toInt(&ok);
                    cell = ok ? shared.value(i) : QString();
                } else if (type == "inlineStr") {
                    cell = unescaped(inlineText);
                } else if (type == "str" || type == "e" || type == "d") {
                    cell = unescaped(value); // a formula's text, an error, an ISO date
                    if (type == "d")
                        cell.replace('-', '/').replace('T', ' ');
                } else if (type == "b") {
                    cell =
                        value.trimmed() == "1" ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
                } else if (!value.trimmed().isEmpty()) {
                    bool ok = false;
                    const double v = value.trimmed().toDouble(&ok);
                    const Shown shown = shownAs.value(style);
                    cell = !ok          ? QString::fromUtf8(value)
                           : shown.date ? dateText(v, date1904, shown.withDate, shown.withTime)
                                        : numberText(v);
                }
                if (cell.isEmpty())
                    return;
                if (colAt >= MaxColumns)
                    throw Refused(QStringLiteral("列が多すぎます（%1 列まで）。").arg(MaxColumns));
                if (rowAt >= MaxRecords)
                    throw Refused(
                        QStringLiteral("%1 行目があります。取り込めるのは %2 行までです。")
                            .arg(rowAt + 1)
                            .arg(MaxRecords));
                if (rowAt >= rows.size()) {
                    memory += (rowAt + 1 - rows.size()) * qint64(sizeof(QStringList));
                    rows.resize(rowAt + 1);
                }
                QStringList& rec = rows[rowAt];
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
                width = std::max(width, colAt + 1);
            }
        };
        parseXml(pkg.part(sheetPart), h);

        // Records from the first row to the last used, each visited as wide
        // as the sheet (a blank row stays a blank record, as a CSV has it).
        Table& t = r.value;
        t.sheets = names;
        t.sheet = sheetIndex;
        t.records = std::move(rows);
        t.width = width;
        // An empty sheet of several is read as it is: the preview says so and
        // offers the others.
        if (t.records.isEmpty() && names.size() == 1)
            return refuse(QStringLiteral("シート「%1」は空です。").arg(names[sheetIndex]));
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
