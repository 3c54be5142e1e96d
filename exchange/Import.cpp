#include "exchange/ImportRecords.h"

#include "base/Values.h"
#include "exchange/Export.h"
#include "store/Columns.h"

#include <QRegularExpression>
#include <QSet>

namespace exchange {
namespace records {

// A header cell as the column's name: spaces (also full-width ones, as the
// grid's captions have) do not count.
QString headerName(const QString& cell) {
    QString s;
    for (QChar c : cell)
        if (!c.isSpace())
            s += c;
    return s == QLatin1String("code") ? CodeName : s;
}

// Reads the header: the names this import knows, every other one ignored, or
// the columns the user chose for them. A header without the needed column,
// or with a known name twice, is refused; `use` tells the preview what was
// read either way, so that the user can choose the columns.
Result<Header> readHeader(const Table& table, const QStringList& known, const QString& needed,
                          HeaderUse* use) {
    Result<Header> r;
    // A title Excel users put above the header: the header is the first of
    // the first ten records that names the needed column, else the first of
    // them with the most cells filled.
    QStringList cells;
    int most = -1;
    bool named = false;
    table.forEach([&](qsizetype i, const QStringList& rec) {
        for (const QString& c : rec)
            if (headerName(c) == needed) {
                cells = rec;
                r.value.row = i;
                named = true;
                return false;
            }
        const int filled = int(std::count_if(
            rec.begin(), rec.end(), [](const QString& c) { return !c.trimmed().isEmpty(); }));
        if (filled > most) {
            most = filled;
            cells = rec;
            r.value.row = i;
        }
        return i < 9;
    });
    use->cells = cells;
    use->fields = known;
    if (most < 0 && !named) {
        r.status = Status::failed(
            table.sheets.isEmpty()
                ? QStringLiteral("ファイルに見出しの行がありません。")
                : QStringLiteral("シート「%1」は空です。").arg(table.sheets.value(table.sheet)));
        // Another sheet of the workbook may be the one: the preview offers them.
        use->problem = table.sheets.size() > 1;
        return r;
    }
    const qsizetype line = r.value.row + 1;
    r.value.width = int(cells.size());
    if (!table.chosen.isEmpty()) {
        // The user's choice: each field its column, each column once.
        QSet<int> taken;
        for (const QString& field : known) {
            const int at = table.chosen.value(field, -1);
            if (at >= 0 && at < cells.size() && !taken.contains(at)) {
                r.value.index.insert(field, at);
                taken.insert(at);
            }
        }
        for (int i = 0; i < cells.size(); ++i)
            if (!taken.contains(i) && !cells[i].trimmed().isEmpty())
                r.value.ignored << cells[i];
    } else {
        for (int i = 0; i < cells.size(); ++i) {
            const QString name = headerName(cells[i]);
            if (!known.contains(name)) {
                r.value.ignored << (cells[i].isEmpty() ? QStringLiteral("（%1 列目）").arg(i + 1)
                                                       : cells[i]);
            } else if (r.value.index.contains(name)) {
                r.status =
                    Status::failed(QStringLiteral("%1 行目 %2 列目: 列「%3」が 2 回あります。")
                                       .arg(line)
                                       .arg(i + 1)
                                       .arg(name));
                use->problem = true;
                return r;
            } else {
                r.value.index.insert(name, i);
            }
        }
    }
    use->columns = r.value.index;
    if (r.value.at(needed) < 0) {
        r.status = Status::failed(QStringLiteral("%1 行目: 見出しに「%2」の列がありません。"
                                                 "（見出しの例: %3）")
                                      .arg(line)
                                      .arg(needed, known.join(",")));
        use->problem = true;
    }
    return r;
}

// An empty record (a blank line Excel leaves at the end) is no product.
bool blank(const QStringList& rec) {
    for (const QString& f : rec)
        if (!f.trimmed().isEmpty())
            return false;
    return true;
}

// The total row a workbook export ends with (「合計」 first, no name and no
// quantity) is no record.
static bool isTotal(const QStringList& rec, const Header& h) {
    if (rec.isEmpty() || rec[0].trimmed() != TotalLabel)
        return false;
    for (const QString& name : {NameName, QtyName}) {
        const int at = h.at(name);
        if (at == 0 || (at > 0 && at < rec.size() && !rec[at].trimmed().isEmpty()))
            return false;
    }
    return true;
}

QString columnError(const Header& h, const QString& name, const QString& text,
                    const QString& what) {
    return QStringLiteral("%1 列目「%2」: 「%3」は%4ではありません。")
        .arg(h.at(name) + 1)
        .arg(name, text, what);
}

// A text longer than a field holds, named by its column; empty when it fits.
QString tooLong(const Header& h, const QString& name, const QString& text) {
    if (text.size() <= columns::MaxTextLength)
        return QString();
    return QStringLiteral("%1 列目「%2」: %3 文字あります（%4 文字まで）。")
        .arg(h.at(name) + 1)
        .arg(name)
        .arg(text.size())
        .arg(columns::MaxTextLength);
}

// Visits the records after the header that are not blank, telling the
// progress every ProgressStep records; false when the user cancelled.
bool eachRecord(const Table& table, const Header& header, const Progress& progress,
                const std::function<void(qsizetype, const QStringList&)>& visit) {
    const qsizetype total = table.size();
    bool stopped = false;
    table.forEach([&](qsizetype i, const QStringList& rec) {
        if (i <= header.row)
            return true; // a title, the header
        if (progress && i % ProgressStep == 0 && !progress(i, total)) {
            stopped = true;
            return false;
        }
        if (!blank(rec) && !isTotal(rec, header))
            visit(i, rec);
        return true;
    });
    return !stopped;
}

QString cancelled() {
    return QStringLiteral("取り込みを取り消しました。何も変わっていません。");
}

QString sameAs(int line) {
    return QStringLiteral("%1 行目と同じ商品です。").arg(line);
}

// Codes of digits with leading zeros, by the digits without them.
QHash<QString, QString> zeroLedCodes(const QStringList& codes) {
    static const QRegularExpression zeroLed(QStringLiteral("^0+([0-9]+)$"));
    QHash<QString, QString> out;
    for (const QString& c : codes)
        if (c.startsWith('0'))
            if (const auto m = zeroLed.match(c); m.hasMatch())
                out.insert(m.captured(1), c);
    return out;
}

} // namespace records

QString mangledCode(const QString& code, const QHash<QString, QString>& storedByDigits) {
    static const QRegularExpression scientific(QStringLiteral("^[0-9](\\.[0-9]+)?[Ee][+]?[0-9]+$"));
    const QString say =
        QStringLiteral("Excel が数値に変えたコードです（%1 ?）。コードの列を文字列に"
                       "して保存し直すか、.xlsx で取り込んでください");
    if (scientific.match(code).hasMatch())
        return say.arg(code);
    if (const auto hit = storedByDigits.constFind(code); hit != storedByDigits.constEnd())
        return say.arg(*hit);
    return QString();
}

QString sameNameMessage(int products) {
    return QStringLiteral("同じ品名の商品が %1 件あります。コードで指定してください").arg(products);
}

} // namespace exchange
