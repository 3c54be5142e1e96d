#pragma once

#include "books/BooksOps.h"
#include "exchange/Workbook.h"
#include "report/Report.h"

#include <QByteArray>

// The 棚卸表 as pages and as records, and the closing-stock journal for the
// accounting programs.
namespace books {

// 「2026年12月31日現在」
QString asOf(const QDate& date);

// The 棚卸表 laid out: per category its lines and a subtotal, the grand
// total, who counted and a line to sign; 「未確定」 across the heading of a
// count not yet closed; pages numbered 「1 / 3」.
QVector<report::Page> inventoryPages(const Inventory& inv);
// The same as records for a CSV or a workbook: a line per product, 小計 per
// category, 合計 last.
exchange::Records inventoryRecords(const Inventory& inv);

// The accounting programs a journal is written for.
enum class Program { Yayoi, Freee };
QString programName(Program p); // 弥生会計, freee会計
// The closing stock of a closed count as the program imports it: 借方 商品 /
// 貸方 期末商品棚卸高 for the total in whole yen, dated the count date; with
// `reverse`, also the entry that takes it back at the next year's start
// (期首商品棚卸高 / 商品, dated the day after). Shift_JIS, CRLF. A count not
// closed, or of no value, is refused.
Result<QByteArray> journal(const Inventory& inv, Program program, bool reverse);

} // namespace books
