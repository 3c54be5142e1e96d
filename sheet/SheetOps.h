#pragma once

#include "base/Values.h"
#include "sheet/SheetLedger.h"
#include "store/Columns.h"
#include "store/Store.h"

#include <QDate>
#include <QHash>
#include <QMap>
#include <QStringList>
#include <functional>
#include <optional>

namespace sheet {

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

// A committed quantity or name written with what follows from it in one
// statement on the work file, and given back as the grid now holds it: a
// quantity with the line's amount and change; a name with its product's
// unit, price, proper quantity, category and code, read from the master in
// one statement beforehand. `line` is the line as the grid holds it
// (ColCheck … ColCategory). Other columns: nullopt (the grid writes the cell
// and afterCellEdit follows).
struct CellWritten {
    Row line;
    EditOutcome outcome;
    int products = -1; // for a name: how many products have it (-1 when not looked up)
    Status lookUp;     // a look-up that failed: the name alone was written
};
std::optional<Result<CellWritten>> writeCell(Store& store, qint64 seq, int column,
                                             const QVariant& value, const Row& line);

// Sum of 金額 over the work sheet (0 when there is none).
Result<Currency> calc明細(Store& store);

// Reads the saved lines of a date (and category) into a fresh work sheet,
// adding lines beyond the 500th when the sheet holds more; each line keeps
// the id of its saved line. onProgress receives the bar value after each row.
// Gives the lines loaded; `from` receives the versions read.
Result<int> read在庫表(Store& store, const QDate& date, const QString& category,
                       const std::function<void(int)>& onProgress = {}, LoadedFrom* from = nullptr);

// What saving the named lines of the work sheet would do to the product master.
Result<MasterEffect> masterEffect(Store& store);
// Named lines of a sheet saved under `category` that show another category
// ("りんご（果物）"): they are stored under the sheet's, their products keep theirs.
Result<QStringList> otherCategoryLines(Store& store, const QString& category);
// The names on the sheet that no product has.
Result<QSet<QString>> unknownNames(Store& store);

// Number of lines of the work sheet that carry a name.
Result<int> namedLineCount(Store& store);

// Saves the named lines of the work sheet as the sheet of date (and
// category): saveSheet with the work table's lines.
Result<int> entry在庫表(Store& store, const QDate& date, const QString& category,
                        const std::function<void(int)>& onProgress = {}, const SaveMode& mode = {},
                        LoadedFrom* after = nullptr);

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
Result<LineDeleted> lineDelete在庫表(Store& store, qint64 seq, const std::optional<QDate>& date,
                                     const QString& counter = QString());

// A fresh work sheet with one line per product in name order. Gives the
// lines filled.
Result<int> read商品マスタto在庫表(Store& store);

// Copies the named lines into the print table in sheet order.
Status fillSheetPrint(Store& store);

} // namespace sheet
