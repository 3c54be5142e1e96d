#pragma once

#include "sheet/CountRecord.h"
#include "sheet/SheetLedger.h"

// Counts written straight into the saved count, one entry at a time: a scan,
// the uncounted products recorded as 0, an entry taken back. Each is one
// transaction with its entry and raises the version of the sheet it changes,
// so a PC showing that sheet sees it changed and a save from an older
// reading is refused.
namespace sheet {

// A scan that does not come from this PC's scan box: a paired phone (its id
// and name, the entries' 端末) and the scan's own id there, so that a scan
// sent again (a phone back on the Wi-Fi) is stored once.
struct ScanOrigin {
    qint64 device = 0;
    QString terminal;
    QString request;
};

struct ScanRecorded {
    bool repeat = false;    // the origin's scan was stored before: nothing changed now
    bool known = false;     // a product (or a saved line) has the code
    bool belowZero = false; // a negative count would go below zero: nothing changed
    QString name;
    qint64 quantity = 0; // the stored quantity after it (as it stays when belowZero)
    qint64 lineId = 0;   // the saved line counted
    QString category;    // the sheet it is stored in ('' without one)
    qint64 versionBefore = 0, version = 0; // that sheet's version before and after
    Row product; // the product's fields code … 商品区分, for a line the screen lacks
};
// Adds count to the saved line of the date (and category) with the code, or
// adds a line filled from the first product with the code; amount and change
// follow. A closed date is refused (ErrorKind::Closed).
Result<ScanRecorded> recordScan(Store& store, const QDate& date, const QString& category,
                                const QString& code, qint64 count, const QString& counter,
                                const ScanOrigin& origin = {});

// The products of the master with no saved line on the date (in the
// category, when given), in shelf order: id, 棚番, code, 品名, 商品区分.
Result<Rows> uncountedProducts(Store& store, const QDate& date, const QString& category);
// Records each of them as counted 0: a line of its own category's sheet and
// an entry 未棚卸0. Gives how many.
Result<int> recordUncountedZero(Store& store, const QDate& date, const QString& category,
                                const QString& counter);

// Takes back one entry: the saved line's quantity goes back by its change (a
// line the entry made goes when it comes back to nothing; a deleted line
// comes back), recorded as an entry 取消 naming it. Refused when the date is
// closed, the entry is already taken back or is itself an undo, or the line
// would go below zero. Gives the new entry's id.
// terminal: the undo's 端末 (this PC's host name when empty).
Result<qint64> undoEntry(Store& store, qint64 entryId, const QString& counter,
                         const QString& terminal = QString());
// The newest scan of the date from the terminal that is not taken back (0: none).
Result<qint64> lastScanOf(Store& store, const QDate& date, const QString& terminal);

} // namespace sheet
