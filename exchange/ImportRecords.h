#pragma once

#include "exchange/Import.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <functional>

// What the imports share: the header read, records visited, reasons worded.
// The matching of products and counts lives with them (products/, sheet/).
namespace exchange::records {

inline const QString CodeName = QStringLiteral("コード");
inline const QString NameName = QStringLiteral("品名");
inline const QString QtyName = QStringLiteral("数量");

// A header cell as the column's name: spaces (also full-width ones) do not count.
QString headerName(const QString& cell);
// Reads the header: the names this import knows, every other one ignored, or
// the columns the user chose for them; `use` tells the preview what was read.
Result<Header> readHeader(const Table& table, const QStringList& known, const QString& needed,
                          HeaderUse* use);
// An empty record (a blank line Excel leaves at the end) is no product.
bool blank(const QStringList& rec);
// 「3 列目「単価」: 「abc」は数値ではありません。」: a value the column cannot hold.
QString columnError(const Header& h, const QString& name, const QString& text, const QString& what);
// Empty, or why a text is longer than its column may hold.
QString tooLong(const Header& h, const QString& name, const QString& text);
// Visits the records after the header that are not blank, telling the
// progress every ProgressStep records; false when the user cancelled.
bool eachRecord(const Table& table, const Header& header, const Progress& progress,
                const std::function<void(qsizetype, const QStringList&)>& visit);
QString cancelled();
QString sameAs(int line);
// Codes of digits with leading zeros, by the digits without them.
QHash<QString, QString> zeroLedCodes(const QStringList& codes);

// An error row is kept to be shown while there are few; past that it is
// only counted, so a file of errors never fills the memory.
template <typename Preview, typename Line> void keepError(Preview& p, const Line& line) {
    if (p.errorsShown < MaxShownErrors) {
        p.lines << line;
        ++p.errorsShown;
    } else {
        ++p.errorsNotShown;
    }
}

template <typename Line> int countOf(const QVector<Line>& lines, RowAction a) {
    return int(
        std::count_if(lines.begin(), lines.end(), [a](const Line& l) { return l.action == a; }));
}

} // namespace exchange::records
