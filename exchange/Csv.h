#pragma once

#include "store/Store.h"

#include <QByteArray>
#include <QHash>
#include <QStringList>
#include <QVector>
#include <functional>

// CSV for Excel: writing (RFC 4180, CRLF, UTF-8 with BOM or CP932) and reading
// (UTF-8 with or without BOM, or CP932, detected; parsed with libcsv).
namespace exchange {

// Utf16: Excel's 「Unicode テキスト」 (UTF-16 with a byte-order mark, tab-separated), read only.
enum class Encoding { Utf8Bom, Utf8, Cp932, Utf16 };

// Files above this size are refused before they are read.
constexpr qint64 MaxFileBytes = 20 * 1024 * 1024;

// A text that Excel would take for a formula (=, +, -, @ first) is written
// with an apostrophe before it, so that Excel shows it as text; reading takes
// the apostrophe off again.
QString guardFormula(const QString& text);
// The characters CP932 has no code for that Windows writes in another form
// (〜 − — ‖ ¢ £ ¬ as ～ － ― ∥ ￠ ￡ ￢), replaced by those forms.
QString asWindowsCp932(QString text);
QString unguardFormula(const QString& text);

// One record: fields quoted where they hold a comma, a quote or a line break,
// ended by CRLF.
QString csvRecord(const QStringList& fields);

// The records encoded for the file. CP932 cannot hold every character: the
// first record (1 = the header) with one it cannot hold is reported, and
// nothing is written.
Result<QByteArray> encodeCsv(const QVector<QStringList>& records, Encoding encoding);

// Encodes the records and writes the file whole or not at all (a failure
// leaves any file already there as it was).
Status writeCsvFile(const QString& path, const QVector<QStringList>& records, Encoding encoding);

// Files of more records than this are refused: the product master and a
// sheet are meant for about a hundred thousand.
constexpr qsizetype MaxRecords = 1000000;

// A file read: its text (checked, in UTF-8) and encoding. Its records (the
// first is the header) are parsed as they are visited, so a large file is
// never held as records all at once. A table made in code holds records.
struct Table {
    QVector<QStringList> records; // made in code or read from a workbook; empty for a CSV
    // A workbook's records are kept as short as their last cell (a blank row
    // holds nothing) and visited as wide as this.
    int width = 0;
    QByteArray utf8;     // the file's text
    qsizetype count = 0; // records of the file
    Encoding encoding = Encoding::Utf8;
    char delimiter = ','; // a tab in Excel's Unicode text
    QStringList sheets;   // a workbook's sheets; empty for a CSV
    int sheet = 0;        // the sheet read
    // The columns the user chose for the fields (品名 → 2), read instead of
    // the header's names; empty: by the names.
    QHash<QString, int> chosen;
    qsizetype size() const { return utf8.isNull() ? records.size() : count; }
    // Visits the records in order (index 0 = the header); visit returns false
    // to stop.
    void
    forEach(const std::function<bool(qsizetype index, const QStringList& record)>& visit) const;
    // Every record, for small tables (tests).
    QVector<QStringList> all() const;
};
// Reads CSV bytes: empty, binary (NUL bytes) or text in no known encoding is
// refused with a message naming what is wrong, as is a CSV error anywhere in
// the file and more than MaxRecords records.
Result<Table> parseCsv(const QByteArray& bytes);
// Reads a file, refusing one larger than `limit` before reading it.
Result<Table> readCsvFile(const QString& path, qint64 limit = MaxFileBytes);
// Reads a CSV or, when its bytes are a workbook, the workbook's sheet.
Result<Table> readTableFile(const QString& path, int sheet = 0, qint64 limit = MaxFileBytes);

} // namespace exchange
