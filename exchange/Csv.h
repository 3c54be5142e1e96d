#pragma once

#include "store/Store.h"

#include <QByteArray>
#include <QStringList>
#include <QVector>

// CSV for Excel: writing (RFC 4180, CRLF, UTF-8 with BOM or CP932) and reading
// (UTF-8 with or without BOM, or CP932, detected; parsed with libcsv).
namespace exchange {

enum class Encoding { Utf8Bom, Utf8, Cp932 };

// Files above this size are refused before they are read.
constexpr qint64 MaxFileBytes = 20 * 1024 * 1024;

// A text that Excel would take for a formula (=, +, -, @ first) is written
// with an apostrophe before it, so that Excel shows it as text; reading takes
// the apostrophe off again.
QString guardFormula(const QString& text);
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

// A file read: its records (the first is the header), the record number of
// each (1-based, as an editor of the file counts records) and its encoding.
struct Table {
    QVector<QStringList> records;
    Encoding encoding = Encoding::Utf8;
};
// Reads CSV bytes: empty, binary (NUL bytes) or text in no known encoding is
// refused with a message naming what is wrong.
Result<Table> parseCsv(const QByteArray& bytes);
// Reads a file, refusing one larger than `limit` before reading it.
Result<Table> readCsvFile(const QString& path, qint64 limit = MaxFileBytes);

} // namespace exchange
