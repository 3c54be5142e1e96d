#pragma once

#include "exchange/Csv.h"

// Excel workbooks (.xlsx): the exports written as a workbook of one sheet
// (libxlsxwriter), and a sheet of a workbook read as the records of a table,
// as the imports read a CSV.
namespace exchange {

// What a column holds, for a workbook: text cells, or numbers shown with
// thousands separators (money keeps its decimals).
enum class CellKind { Text, Whole, Money };

// An export: the records as a CSV writes them (the header first, texts that
// Excel would take for a formula guarded), what each column holds, and what
// only a workbook has.
struct Records {
    QVector<QStringList> rows;
    QVector<CellKind> kinds; // by column; a column past the end is text
    QStringList total;       // a last row of the workbook (the sheet's total)
    QString title;           // the workbook's sheet name
    CellKind kind(int column) const { return kinds.value(column, CellKind::Text); }
};

// A name Excel takes for a sheet: at most 31 characters, none of : \ / ? * [ ].
QString sheetTitle(const QString& wanted);

// Writes the records as a workbook, whole or not at all: codes and names as
// text, numbers with #,##0, a bold frozen header with filter buttons, and
// columns as wide as their texts.
Status writeWorkbookFile(const QString& path, const Records& records);

// True when the bytes are a ZIP package (a workbook, or something else
// zipped): they are read as a workbook, never as text.
bool looksLikeWorkbook(const QByteArray& bytes);

// Reads one sheet of a workbook (0 = the first) into a table: text cells as
// their text, numbers as written without exponent or separators, dates and
// times as shown (2026/12/08), a formula's cached value. The table names the
// workbook's sheets. A damaged package, a sheet past the last, a ZIP that is
// no workbook, or more than MaxRecords rows is refused with a message.
Result<Table> parseWorkbook(const QByteArray& bytes, int sheet = 0);

} // namespace exchange
