#pragma once

#include "base/Values.h"
#include "store/Columns.h"
#include "store/Store.h"

#include <QDate>
#include <QHash>
#include <QMap>
#include <QStringList>
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
    qint64 id = 0; // the product found and its version (0 when none)
    qint64 version = 0;
};
// First product with exactly that name (insertion order); null fields and a
// missing product give the defaults.
ProductLookup Seek商品(Store& store, const QString& name);

// Products of a name: how many there are and, when just one, its code.
struct NameMatch {
    int products = 0;
    QString code;
};
NameMatch matchName(Store& store, const QString& name);

// The after-edit rules of one committed cell of the work line `seq`:
// a name fills unit, price, proper quantity and category; quantity, proper
// quantity and price recompute amount and change; a new unit enters the code
// master. unitsChanged is set when a unit was newly registered.
// A name typed on a line without a code gives the line its product's code;
// ambiguous is set when several products share the name (no code is given).
struct EditOutcome {
    bool unitsChanged = false;
    bool ambiguous = false;
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

// The version of each saved sheet of a date by category ('' for lines saved
// without one); a sheet never saved has none (0).
using Versions = QMap<QString, qint64>;

// What a sheet was loaded from: the date and the versions of the saved sheets
// it holds. A new sheet holds none.
struct LoadedFrom {
    QDate date;
    Versions versions;
};

// Reads the saved lines of a date (and category) into a fresh work sheet,
// adding lines beyond the 500th when the sheet holds more; each line keeps
// the id of its saved line. onProgress receives the bar value after each row.
// Gives the lines loaded; `from` receives the versions read.
Result<int> read在庫表(Store& store, const QDate& date, const QString& category,
                       const std::function<void(int)>& onProgress = {}, LoadedFrom* from = nullptr);

// A saved sheet that a save of date (and category) would replace although the
// sheet on screen did not load it as it is now.
struct Unloaded {
    QString category; // '' for lines saved without one
    int lines = 0;
    qint64 version = 0;
    QString savedAt; // "hh:mm" of today, else "yyyy/MM/dd hh:mm"; empty when unknown
};
// Tests: runs inside a load between reading the lines and their versions, where
// another PC's save would fall without one snapshot.
extern std::function<void()> betweenLoadReads;

Result<QVector<Unloaded>> unloadedSheets(Store& store, const QDate& date, const QString& category,
                                         const LoadedFrom& loaded);

// How a save treats the saved lines it would replace.
struct SaveMode {
    bool add = false; // add to the saved lines instead of replacing them
    // The versions the user was asked about (or loaded); a saved sheet whose
    // version differs inside the save refuses it (ErrorKind::Conflict).
    std::optional<Versions> expected;
    // Products changed elsewhere that the user chose to overwrite with what was
    // typed on the sheet: id -> the version the user was shown. Any other
    // conflicting product keeps what is stored.
    QHash<qint64, qint64> overwrite;
};

// What a save would do to the product master: names added, and names whose
// stored fields change with what changes ("単価 100 → 120"). Only fields the
// user typed on a line change a product; a product changed elsewhere since
// such a line got its values is a conflict, left as stored unless the user
// chooses to overwrite it (SaveMode::overwrite).
struct MasterEffect {
    QStringList added;
    QStringList changed;   // "品名: 単価 100 → 120、単位 個 → 箱"
    QStringList conflicts; // "品名: 単価 130 → 120" (as stored now → as typed)
    QHash<qint64, qint64> conflictVersions; // product id -> its version now
};
Result<MasterEffect> masterEffect(Store& store);
// Named lines of a sheet saved under `category` that show another category
// ("りんご（果物）"): they are stored under the sheet's, their products keep theirs.
Result<QStringList> otherCategoryLines(Store& store, const QString& category);
// The names on the sheet that no product has.
Result<QSet<QString>> unknownNames(Store& store);

// Number of lines of the work sheet that carry a name.
Result<int> namedLineCount(Store& store);

// Saves the named lines of the work sheet as the sheet of date (and category),
// updates the product master and the code slots and raises the versions of
// the sheets it wrote; all in one transaction. Adding, the same product on
// both sides becomes one line with the quantities summed. A closed date is
// refused (ErrorKind::Closed). Gives the lines saved; `after` the new versions.
Result<int> entry在庫表(Store& store, const QDate& date, const QString& category,
                        const std::function<void(int)>& onProgress = {}, const SaveMode& mode = {},
                        LoadedFrom* after = nullptr);

// Deletes every stored line of the date, in every category; says how many
// rows of how many categories went.
struct Deleted {
    int rows = 0;
    int categories = 0;
};
Result<Deleted> delete在庫表(Store& store, const QDate& date);

// Deletes the work line `seq` and, when it was loaded from a saved line of
// the date, that saved line (raising its sheet's version): never another
// line with the same name or code. The main file is written first, then the
// work table, so a failure between them leaves the line shown and deleting it
// again harmless. A blank line deletes nothing.
struct LineDeleted {
    int lines = 0;      // work lines removed
    bool saved = false; // a saved line went too
    QString category;   // of the saved line
    qint64 version = 0; // its sheet's version now
};
Result<LineDeleted> lineDelete在庫表(Store& store, qint64 seq, const std::optional<QDate>& date);

// A closed count: its saved sheets are not changed until it is reopened.
Result<bool> isClosed(Store& store, const QDate& date);
// Closes the count of a date (every category); refused when it has no saved sheet.
Status close在庫表(Store& store, const QDate& date);
Status reopen在庫表(Store& store, const QDate& date);
// The message naming a closed date.
QString closedMessage(const QDate& date);

// A fresh work sheet with one line per product in name order. Gives the
// lines filled.
Result<int> read商品マスタto在庫表(Store& store);

// Copies the named lines into the print table in sheet order.
Status fillSheetPrint(Store& store);

} // namespace sheet
