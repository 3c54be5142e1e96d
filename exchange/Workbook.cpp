#include "exchange/Workbook.h"

#include "base/WholeFile.h"

#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <charconv>
#include <xlsxwriter.h>

namespace exchange {

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

// A number cell's text as a number. The ledger's own numbers ("1200",
// "-3", "12.50") are read straight from their digits; anything else (spaces,
// exponents) as Qt reads it, which is the same value, only slower.
bool numberOf(const QString& text, double* value) {
    char digits[32];
    const qsizetype n = text.size();
    bool ok = false;
    if (n == 0 || n >= qsizetype(sizeof digits))
        return (*value = text.toDouble(&ok)), ok;
    bool dot = false;
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = text[i].unicode();
        const bool sign = i == 0 && c == '-' && n > 1;
        if (!(c >= '0' && c <= '9') && !sign && !(c == '.' && !dot))
            return (*value = text.toDouble(&ok)), ok;
        dot = dot || c == '.';
        digits[i] = char(c);
    }
    const std::from_chars_result r = std::from_chars(digits, digits + n, *value);
    if (r.ec == std::errc() && r.ptr == digits + n)
        return true;
    return (*value = text.toDouble(&ok)), ok;
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
    explicit Writer(const QString& path)
        : m_path(path.toLocal8Bit()), m_tmp(QFileInfo(path).absolutePath().toLocal8Bit()) {
        // Rows go to a scratch file beside the workbook as they are written,
        // not into memory: a full disk fails here, where the workbook goes.
        lxw_workbook_options options{};
        options.constant_memory = LXW_TRUE;
        options.tmpdir = m_tmp.data();
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
        // Rows are streamed to the file as they are written (constant memory):
        // the columns, the frozen header and the filter come first.
        QVector<double> widths;
        const auto measure = [&](const QStringList& rec) {
            if (widths.size() < rec.size())
                widths.resize(rec.size());
            for (int c = 0; c < rec.size(); ++c)
                widths[c] = std::max(widths[c], textWidth(rec[c]));
        };
        for (const QStringList& rec : r.rows)
            measure(rec);
        measure(r.total);
        const int columns = int(widths.size());
        for (int c = 0; c < columns; ++c) // room for the filter button, not wider than a screen
            check(worksheet_set_column(m_sheet, lxw_col_t(c), lxw_col_t(c),
                                       std::clamp(widths[c] + 3, 8.0, 60.0), nullptr));
        if (columns > 0 && !r.rows.isEmpty()) {
            worksheet_freeze_panes(m_sheet, 1, 0);
            const lxw_row_t last = lxw_row_t(r.rows.size() - 1);
            check(worksheet_autofilter(m_sheet, 0, 0, last, lxw_col_t(columns - 1)));
        }
        lxw_row_t row = 0;
        for (const QStringList& rec : r.rows) {
            writeRow(r, row, rec, row == 0);
            ++row;
        }
        if (!r.total.isEmpty())
            writeRow(r, row, r.total, true);
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

    void writeRow(const Records& r, lxw_row_t row, const QStringList& rec, bool bold) {
        for (int c = 0; c < rec.size(); ++c) {
            const QString& text = rec[c];
            if (text.isEmpty())
                continue;
            const lxw_col_t col = lxw_col_t(c);
            double value = 0;
            const bool isNumber = row > 0 && r.kind(c) != CellKind::Text && numberOf(text, &value);
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

    QByteArray m_path, m_tmp;
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

} // namespace exchange
