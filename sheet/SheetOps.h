#pragma once

#include "store/Columns.h"
#include "store/Store.h"
#include "store/Values.h"

#include <QDate>
#include <functional>
#include <optional>

namespace sheet {

// Dates are stored as ISO text.
QString dateKey(const QDate& d);

// Rounding of the ledger. Leaves the adjusted value in `value` and returns a
// whole number: "切り捨て" truncates (+1e-8 above zero), "四捨五入" rounds
// halves away from zero, any other mode rounds away from zero (±0.99999).
// Beyond ±9,999,999,999.99 the result is 0.
std::int64_t Round端数(double& value, const QString& mode);

// Amount of a line: 数量 × 単価 rounded "四捨五入" as currency, or null when
// either is missing.
QVariant lineAmount(const QVariant& qty, const QVariant& price);
// Change of a line: 数量 − 適正数, or null when either is missing.
QVariant lineChange(const QVariant& qty, const QVariant& proper);

// What the product master says of a name; defaults when not found.
struct ProductLookup {
    QString unit;
    Currency price;
    std::int64_t proper = 0;
    QString category;
};
// First product with exactly that name (insertion order); null fields and a
// missing product give the defaults.
ProductLookup Seek商品(Store& store, const QString& name);

// The after-edit rules of one committed cell of the work line `seq`:
// a name fills unit, price, proper quantity and category; quantity, proper
// quantity and price recompute amount and change; a new unit enters the code
// master. unitsChanged is set when a unit was newly registered.
struct EditOutcome {
    bool unitsChanged = false;
};
Result<EditOutcome> afterCellEdit(Store& store, qint64 seq, int column);

// Sum of 金額 over the work sheet (0 when there is none).
Result<Currency> calc明細(Store& store);

// Progress of a load or a save: 10 % steps as rows pass.
struct Progress {
    int total = 1;
    int interval = 1;
    int value = 0;
    void step(int counter);
};

// Reads the saved lines of a date (and category) into a fresh work sheet,
// adding lines beyond the 500th when the sheet holds more.
// onProgress receives the bar value after each row. Gives the lines loaded.
Result<int> read在庫表(Store& store, const QDate& date, const QString& category,
                       const std::function<void(int)>& onProgress = {});

// Number of lines of the work sheet that carry a name.
Result<int> namedLineCount(Store& store);

// Saves the named lines of the work sheet as the sheet of date (and category),
// updates the product master and the code slots; all in one transaction.
// Gives the lines saved.
Result<int> entry在庫表(Store& store, const QDate& date, const QString& category,
                        const std::function<void(int)>& onProgress = {});

// Deletes every stored line of the date, in every category; says how many
// rows of how many categories went.
struct Deleted {
    int rows = 0;
    int categories = 0;
};
Result<Deleted> delete在庫表(Store& store, const QDate& date);

// Deletes the product of the work line `seq`: with a code, every work line
// with that code and, when a date is given, every stored line of the date with
// that code; without a code, that line and the stored lines of the date with
// its name and no code. A blank line deletes nothing. One transaction over
// both files. Gives the number of work lines removed.
Result<int> lineDelete在庫表(Store& store, qint64 seq, const std::optional<QDate>& date);

// A fresh work sheet with one line per product in name order. Gives the
// lines filled.
Result<int> read商品マスタto在庫表(Store& store);

// Copies the named lines into the print table in sheet order.
Status fillSheetPrint(Store& store);

} // namespace sheet
