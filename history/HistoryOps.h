#pragma once

#include "base/Values.h"
#include "sheet/SheetLedger.h"
#include "store/Store.h"

#include <QDate>

// The stock over time, from the saved sheets: which sheets exist, the value of
// the stock on a date by category, and two counts side by side.
namespace history {

// The dates with saved sheets, oldest first (the sheet ledger says).
using sheet::savedDates;

struct SavedSheet {
    QDate date;
    QString category; // empty on a date's row of every category
    int lines = 0;
    Currency total;
    bool wholeDate = false; // the row of the date: every category, loaded as one sheet
    bool closed = false;    // the count of the date is closed
};
// Every saved sheet, newest first: per date a row of the whole date (what a
// load without a category reads, lines saved without a category included),
// then its named categories in name order.
Result<QVector<SavedSheet>> savedSheets(Store& store);

// One category of a date: its lines, quantity (empty quantities count 0) and
// amount (the sum of the lines' stored, rounded amounts).
struct CategoryTotal {
    QString category; // empty for lines saved without a category
    int lines = 0;
    qint64 quantity = 0;
    Currency amount;
};
struct Summary {
    QVector<CategoryTotal> categories; // in name order
    CategoryTotal total;               // every category
};
Result<Summary> summary(Store& store, const QDate& date);

// One product on either of two dates; a side is empty (nullopt) when the
// product is not on that date's sheets. Products are told apart by code, or
// by name when they have none; one counted twice on a date is summed.
struct Compared {
    QString code, name;
    std::optional<qint64> quantity[2];
    std::optional<Currency> amount[2];
    qint64 quantityChange() const;
    Currency amountChange() const;
};
struct Comparison {
    QVector<Compared> products; // in name order
    qint64 quantity[2] = {0, 0};
    Currency amount[2];
};
// `category` empty: every category.
Result<Comparison> compare(Store& store, const QString& category, const QDate& first,
                           const QDate& second);

// The stock value of every saved date, oldest first (of one category when given).
Result<QVector<QPair<QDate, Currency>>> valueOverTime(Store& store, const QString& category);

} // namespace history
