#include "exchange/Csv.h"

#include "base/WholeFile.h"
#include "exchange/Workbook.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QStringEncoder>
#include <csv.h>

namespace exchange {

namespace {
// What starts a formula in Excel: its signs, and a tab or carriage return
// before them (Excel reads past those).
const QString FormulaStart = QStringLiteral("=+-@\t\r");

// A text the reader would take an apostrophe off: an apostrophe before a
// formula's start or before another apostrophe.
bool guarded(const QString& text) {
    return text.size() > 1 && text.front() == '\'' &&
           (FormulaStart.contains(text[1]) || text[1] == '\'');
}
} // namespace

QString guardFormula(const QString& text) {
    // An apostrophe the user typed before such a text gets one more, so that
    // it comes back as typed ('=x stays '=x).
    if ((!text.isEmpty() && FormulaStart.contains(text.front())) || guarded(text))
        return "'" + text;
    return text;
}

QString unguardFormula(const QString& text) {
    return guarded(text) ? text.mid(1) : text;
}

namespace {
// Appends one record to `out`, each field quoted where a reader needs it.
void appendRecord(QString& out, const QStringList& fields) {
    const auto edge = [](QChar c) { return c == ' ' || c == '\t'; };
    for (qsizetype i = 0; i < fields.size(); ++i) {
        const QString& f = fields[i];
        if (i)
            out += ',';
        // Spaces and tabs at either end are quoted too: readers trim them otherwise.
        bool quote = !f.isEmpty() && (edge(f.front()) || edge(f.back()));
        for (qsizetype k = 0; k < f.size() && !quote; ++k) {
            const char16_t c = f[k].unicode();
            quote = c == ',' || c == '"' || c == '\n' || c == '\r';
        }
        if (!quote) {
            out += f;
            continue;
        }
        out += '"';
        for (const QChar c : f) {
            if (c == '"')
                out += '"';
            out += c;
        }
        out += '"';
    }
    out += QLatin1String("\r\n");
}
} // namespace

QString csvRecord(const QStringList& fields) {
    QString out;
    appendRecord(out, fields);
    return out;
}

QString asWindowsCp932(QString text) {
    // The JIS forms CP932 has no code for, and the forms Windows writes for them.
    static const QPair<char16_t, char16_t> forms[] = {
        {0x301C, 0xFF5E}, // 〜 → ～
        {0x2212, 0xFF0D}, // − → －
        {0x2014, 0x2015}, // — → ―
        {0x2016, 0x2225}, // ‖ → ∥
        {0x00A2, 0xFFE0}, // ¢ → ￠
        {0x00A3, 0xFFE1}, // £ → ￡
        {0x00AC, 0xFFE2}, // ¬ → ￢
    };
    for (const auto& [jis, windows] : forms)
        text.replace(QChar(jis), QChar(windows));
    return text;
}

Result<QByteArray> encodeCsv(const QVector<QStringList>& records, Encoding encoding) {
    Result<QByteArray> r;
    if (encoding != Encoding::Cp932) {
        // One text, converted once: records are short and there may be 100,000.
        QString text;
        if (encoding == Encoding::Utf8Bom)
            text += QChar(0xFEFF);
        for (const QStringList& rec : records)
            appendRecord(text, rec);
        r.value = std::move(text).toUtf8();
        return r;
    }
    QStringEncoder enc("CP932");
    for (int i = 0; i < records.size(); ++i) {
        const QString text = asWindowsCp932(csvRecord(records[i]));
        const QByteArray bytes = enc.encode(text);
        if (enc.hasError()) {
            // Name the first character of the record that has no CP932 form.
            QString bad;
            for (int k = 0; k < text.size() && bad.isEmpty(); ++k) {
                const int len = text[k].isHighSurrogate() && k + 1 < text.size() ? 2 : 1;
                QStringEncoder one("CP932");
                (void)QByteArray(one.encode(text.mid(k, len)));
                if (one.hasError())
                    bad = text.mid(k, len);
                k += len - 1;
            }
            r.status =
                Status::failed(QStringLiteral("%1 行目の「%2」は Shift_JIS (CP932) で書けません。"
                                              "UTF-8 で保存してください。")
                                   .arg(i + 1)
                                   .arg(bad));
            r.value.clear();
            return r;
        }
        r.value += bytes;
    }
    return r;
}

Status writeCsvFile(const QString& path, const QVector<QStringList>& records, Encoding encoding) {
    const Result<QByteArray> bytes = encodeCsv(records, encoding);
    if (!bytes)
        return bytes.status;
    // Whole or not at all: the old file stays when the disk is full.
    if (const wholefile::Outcome o = wholefile::write(path, bytes.value); !o)
        return Status::failed(o.error, ErrorKind::Io);
    return Status();
}

namespace {
// What libcsv's callbacks fill: the record being read, handed on as each ends.
struct Collect {
    QStringList current;
    qsizetype index = 0;
    bool keep = true; // false: only counted (the checking pass)
    bool stopped = false;
    const std::function<bool(qsizetype, const QStringList&)>* visit = nullptr;
};

void onField(void* data, size_t len, void* out) {
    auto* c = static_cast<Collect*>(out);
    if (c->keep)
        c->current << unguardFormula(
            QString::fromUtf8(static_cast<const char*>(data), qsizetype(len)));
}

void onRecord(int, void* out) {
    auto* c = static_cast<Collect*>(out);
    if (c->keep && !c->stopped && !(*c->visit)(c->index, c->current))
        c->stopped = true;
    c->current.clear();
    ++c->index;
}

// Runs libcsv over the text a piece at a time; gives the error code, 0 when
// the whole text is read (or the visit stopped).
int runParser(const QByteArray& utf8, Collect& c, char delimiter) {
    csv_parser p;
    if (csv_init(&p, CSV_STRICT | CSV_STRICT_FINI | CSV_APPEND_NULL) != 0)
        return CSV_ENOMEM;
    csv_set_delim(&p, delimiter);
    constexpr qsizetype Piece = 1 << 16;
    int error = 0;
    for (qsizetype at = 0; at < utf8.size() && !c.stopped; at += Piece) {
        const size_t n = size_t(std::min(Piece, utf8.size() - at));
        if (csv_parse(&p, utf8.constData() + at, n, onField, onRecord, &c) != n) {
            error = csv_error(&p);
            break;
        }
    }
    if (!error && !c.stopped && csv_fini(&p, onField, onRecord, &c) != 0)
        error = csv_error(&p);
    csv_free(&p);
    return error;
}

// libcsv's reasons, in the user's words.
QString parseError(int code) {
    switch (code) {
    case CSV_EPARSE:
        return QStringLiteral("引用符（\"）の閉じ忘れなど、CSV の書き方が正しくありません。");
    case CSV_ENOMEM:
        return QStringLiteral("メモリが足りません。");
    case CSV_ETOOBIG:
        return QStringLiteral("項目が大きすぎます。");
    default:
        return QStringLiteral("CSV として読めません。");
    }
}

// True when every byte of the text fits the encoding.
bool valid(const QByteArray& bytes, const char* name) {
    QStringDecoder dec(name);
    // Decoded in pieces, so a large file never needs a second copy whole.
    constexpr qsizetype Piece = 1 << 20;
    for (qsizetype at = 0; at < bytes.size(); at += Piece) {
        const QString piece =
            dec.decode(QByteArrayView(bytes.constData() + at, std::min(Piece, bytes.size() - at)));
        if (dec.hasError())
            return false;
    }
    return true;
}

// Strict decoding: the text is taken in an encoding only when every byte fits.
bool decode(const QByteArray& bytes, const char* name, QString* text) {
    QStringDecoder dec(name);
    *text = dec.decode(bytes);
    return !dec.hasError();
}
} // namespace

Result<Table> parseCsv(const QByteArray& bytes) {
    Result<Table> r;
    if (bytes.trimmed().isEmpty()) {
        r.status = Status::failed(QStringLiteral("ファイルが空です。"));
        return r;
    }
    // Excel's 「Unicode テキスト」: UTF-16 with a byte-order mark, fields
    // separated by tabs.
    QByteArray utf8;
    QString text;
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
        QStringDecoder dec(QStringConverter::Utf16); // the mark says which order
        text = dec.decode(bytes);
        if (dec.hasError() || bytes.size() % 2 != 0) {
            r.status = Status::failed(QStringLiteral("UTF-16 のテキストとして読めません。"));
            return r;
        }
        r.value.encoding = Encoding::Utf16;
        r.value.delimiter = '\t';
        utf8 = text.toUtf8();
        text.clear();
    } else if (bytes.contains('\0')) {
        r.status =
            Status::failed(QStringLiteral("CSV ではありません（文字でないデータを含みます）。"));
        return r;
    }
    // UTF-8 is parsed as it is; Shift_JIS and UTF-16 are converted first.
    if (!utf8.isNull()) {
    } else if (bytes.startsWith("\xEF\xBB\xBF") && valid(bytes.mid(3), "UTF-8")) {
        r.value.encoding = Encoding::Utf8Bom;
        utf8 = bytes.mid(3);
    } else if (valid(bytes, "UTF-8")) {
        r.value.encoding = Encoding::Utf8;
        utf8 = bytes;
    } else if (decode(bytes, "CP932", &text)) {
        r.value.encoding = Encoding::Cp932;
        utf8 = text.toUtf8();
        text.clear();
    } else {
        r.status = Status::failed(
            QStringLiteral("文字コードが UTF-8 でも Shift_JIS (CP932) でもありません。"));
        return r;
    }
    // A first pass only counts, so a CSV error anywhere is said before any
    // preview starts.
    Collect counting;
    counting.keep = false;
    if (const int error = runParser(utf8, counting, r.value.delimiter)) {
        r.status = Status::failed(
            QStringLiteral("%1 行目付近: %2").arg(counting.index + 1).arg(parseError(error)));
        return r;
    }
    if (counting.index > MaxRecords) {
        r.status = Status::failed(QStringLiteral("%1 行あります。取り込めるのは %2 行までです。")
                                      .arg(counting.index)
                                      .arg(MaxRecords));
        return r;
    }
    r.value.utf8 = utf8;
    r.value.count = counting.index;
    return r;
}

void Table::forEach(const std::function<bool(qsizetype, const QStringList&)>& visit) const {
    if (utf8.isNull()) {
        QStringList blank, padded;
        blank.resize(width);
        for (qsizetype i = 0; i < records.size(); ++i) {
            const QStringList& rec = records[i];
            if (rec.size() >= width) {
                if (!visit(i, rec))
                    return;
                continue;
            }
            if (!rec.isEmpty()) {
                padded = rec;
                padded.resize(width);
            }
            if (!visit(i, rec.isEmpty() ? blank : padded))
                return;
        }
        return;
    }
    Collect c;
    c.visit = &visit;
    (void)runParser(utf8, c, delimiter); // checked when the table was made
}

QVector<QStringList> Table::all() const {
    QVector<QStringList> out;
    forEach([&](qsizetype, const QStringList& rec) {
        out << rec;
        return true;
    });
    return out;
}

Result<Table> readCsvFile(const QString& path, qint64 limit) {
    return readTableFile(path, 0, limit);
}

Result<Table> readTableFile(const QString& path, int sheet, qint64 limit) {
    Result<Table> r;
    const QFileInfo fi(path);
    const auto refuse = [&](const QString& why) {
        r.status = Status::failed(fi.fileName() + QStringLiteral(": ") + why);
        return r;
    };
    // A device or a pipe would never end (/dev/zero) or never start (a FIFO).
    if (!fi.exists())
        return refuse(QStringLiteral("ファイルがありません。"));
    if (!fi.isFile())
        return refuse(QStringLiteral("通常のファイルではありません。"));
    const auto tooLarge = [&] {
        return refuse(QStringLiteral("大きすぎます（%1 MB まで）。").arg(limit >> 20));
    };
    if (fi.size() > limit)
        return tooLarge();
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return refuse(QStringLiteral("読めません（%1）。")
                          .arg(f.error() == QFileDevice::PermissionsError
                                   ? QStringLiteral("読む権限がありません")
                                   : QStringLiteral("開けません")));
    // Never more than the limit, whatever the file claims its size is.
    const QByteArray bytes = f.read(limit + 1);
    if (bytes.size() > limit)
        return tooLarge();
    r = looksLikeWorkbook(bytes) ? parseWorkbook(bytes, sheet) : parseCsv(bytes);
    if (!r)
        r.status.error = fi.fileName() + ": " + r.status.error;
    return r;
}

} // namespace exchange
