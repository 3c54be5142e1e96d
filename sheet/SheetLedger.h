#pragma once

#include "base/Values.h"
#include "store/Columns.h"
#include "store/Store.h"

#include <QDate>
#include <QHash>
#include <QMap>
#include <QSet>
#include <QStringList>
#include <functional>
#include <optional>

// The saved counts: every write to 在庫表 and its versions goes through these
// operations. They take values (a date, a category, lines made from the
// column table, the versions the caller saw) and touch only the main data,
// whoever calls them. The sheet tab reads its work table (typed, scanned or
// imported counts alike: the editing buffer of one screen) into lines for them.
namespace sheet {

// Rounding of the ledger. Leaves the adjusted value in `value` and returns a
// whole number: "切り捨て" truncates (+1e-8 above zero), "四捨五入" rounds
// halves away from zero, any other mode rounds away from zero (±0.99999).
// Beyond ±9,999,999,999.99 the result is 0.
std::int64_t Round端数(double& value, const QString& mode);

// Amount of a line: 数量 × 単価 rounded as the books say (at first and by
// default "四捨五入") as currency, or null when either is missing.
QVariant lineAmount(const QVariant& qty, const QVariant& price);
QVariant lineAmount(const QVariant& qty, const QVariant& price, const QString& rounding);
// The rounding of line amounts computed from now on, in this program: the
// books' 端数処理, set when the ledger opens and when the setting changes.
void setAmountRounding(const QString& rounding);
QString amountRounding();
// Change of a line: 数量 − 適正数, or null when either is missing.
QVariant lineChange(const QVariant& qty, const QVariant& proper);

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

// A line of a count as values: code … 商品区分 in the column table's order,
// and where its product fields came from (the master changes only where a
// field was typed, and a product changed since is a conflict).
struct CountLine {
    Row fields;                // ColCode … ColCategory
    qint64 productId = 0;      // the product its values came from (0: none)
    qint64 productVersion = 0; // that product's version then
    unsigned typed = 0;        // typedBit of each product field the user typed
};

// The saved lines of a date (and category) and their sheets' versions, read
// in one snapshot; each line's id beside it.
struct SavedSheet {
    QVector<CountLine> lines;
    QVector<qint64> ids;
    Versions versions;
};
Result<SavedSheet> readSaved(Store& store, const QDate& date, const QString& category);
Result<Versions> savedVersions(Store& store, const QDate& date, const QString& category);
// The dates with saved sheets, oldest first.
Result<QVector<QDate>> savedDates(Store& store);

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
    // Who counts: each quantity the save changes is an entry in their name.
    QString counter;
    // Codes and names whose quantities a count import set: their entries are
    // 取込, the others' 入力.
    QSet<QString> imported;
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
Result<MasterEffect> masterEffectOf(Store& store, const QVector<CountLine>& lines);

// Saves the lines as the sheet of date (and category), updates the product
// master and the code slots and raises the versions of the sheets it wrote;
// all in one transaction. Adding (the 追加する merge), the same product on
// both sides becomes one line with the quantities summed. A closed date is
// refused (ErrorKind::Closed). Gives the lines saved; `after` the new versions.
Result<int> saveSheet(Store& store, const QDate& date, const QString& category,
                      const QVector<CountLine>& lines, const SaveMode& mode = {},
                      const std::function<void(int)>& onProgress = {}, LoadedFrom* after = nullptr);

// Deletes every stored line of the date, in every category; says how many
// rows of how many categories went.
struct Deleted {
    int rows = 0;
    int categories = 0;
};
Result<Deleted> delete在庫表(Store& store, const QDate& date, const QString& counter = QString());

// Deletes one saved line of the date (raising its sheet's version); never
// another line with the same name or code. Nothing when the date has no
// line of that id.
struct SavedLineDeleted {
    bool saved = false; // the line was there and went
    QString category;   // of the saved line
    qint64 version = 0; // its sheet's version now
};
Result<SavedLineDeleted> deleteSavedLine(Store& store, const QDate& date, qint64 savedId,
                                         const QString& counter = QString());

// A closed count: its saved sheets are not changed until it is reopened.
Result<bool> isClosed(Store& store, const QDate& date);
// Closes the count of a date (every category); refused when it has no saved sheet.
Status close在庫表(Store& store, const QDate& date);
Status reopen在庫表(Store& store, const QDate& date);
// The message naming a closed date.
QString closedMessage(const QDate& date);

} // namespace sheet
