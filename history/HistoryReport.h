#pragma once

#include "exchange/Workbook.h"
#include "history/HistoryOps.h"
#include "report/Report.h"

// The valuation summary and the comparison as reports and as CSV records.
namespace history {

// 棚卸集計表: one line per category, the grand total last.
report::Definition summaryReport(const QDate& date);
QVector<report::RowValues> summaryRows(const Summary& s);
exchange::Records summaryRecords(const Summary& s);

// 在庫比較表: one line per product, the totals last.
report::Definition compareReport(const QString& category, const QDate& first, const QDate& second);
QVector<report::RowValues> compareRows(const Comparison& c);
exchange::Records compareRecords(const Comparison& c, const QDate& first, const QDate& second);

// 未棚卸一覧: the products not yet counted (rows of uncountedProducts: id,
// 棚番, code, 品名, 商品区分), shelf by shelf.
report::Definition uncountedReport(const QDate& date, const QString& category);
QVector<report::RowValues> uncountedRows(const Rows& products);
exchange::Records uncountedRecords(const Rows& products);

// How the reports and the dialogs name a category and a date.
QString categoryName(const QString& category); // "（区分なし）" for none
QString dateText(const QDate& d);              // "2026年12月08日"

} // namespace history
