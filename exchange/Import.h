#pragma once

#include "exchange/Csv.h"

#include <functional>

// Reading products and counts from CSV: a preview of what each record would
// do, then the write of every good record in one transaction.
namespace exchange {

// CodeChange: a product found by its name, without a code, that the record
// gives one; written only when the user asks for it.
enum class RowAction { New, Update, Unchanged, Error, CodeChange };

// Told how far a long step is (done of total); false cancels it, and nothing
// is written. Called every ProgressStep records.
using Progress = std::function<bool(qint64 done, qint64 total)>;
constexpr int ProgressStep = 2000;
// Error rows a preview keeps to show; more are counted only.
constexpr int MaxShownErrors = 1000;

// The columns a file's header names, matched by name in any order.
struct Header {
    QHash<QString, int> index; // known name -> field position
    QStringList ignored;       // names this import does not read
    int width = 0;
    qsizetype row = 0; // the header's record (a title may stand above it)
    int at(const QString& name) const { return index.value(name, -1); }
};

// The header a preview read: its cells, the fields the import reads, and
// which column each was taken from. `problem`: the header could not be used
// as it is (the status says why); the user may choose the columns.
struct HeaderUse {
    QStringList cells;
    QStringList fields;
    QHash<QString, int> columns;
    bool problem = false;
};

// One product record of the file.
struct ProductLine {
    int line = 0; // record number in the file, the header being 1
    RowAction action = RowAction::Error;
    QString reason;          // why it is an error
    QString code, name;      // as the file has them
    QVariantList values;     // code, 品名, 単位, 単価, 適正数, 商品区分 to write
    qint64 id = -1;          // the product it updates
    unsigned changed = 0;    // the fields it changes, bit i for values[i]
    QVariantList was;        // a changed product as stored (id first), for its reason
    QStringList newNames[2]; // units, categories it enters in the code master
};
// What the preview says of a line: why it is an error, or what an update
// changes ("単価 120 → 130"); worded when shown, not for every record read.
QString changeReason(const ProductLine& line);

// Why a code is one Excel turned into a number: scientific notation, or a
// stored code without its leading zeros ("0012" read as 12); empty otherwise.
// storedByDigits: stored codes of digits with leading zeros, by their value.
QString mangledCode(const QString& code, const QHash<QString, QString>& storedByDigits);
// "同じ品名の商品が 2 件あります。…"
QString sameNameMessage(int products);

struct ProductPreview {
    HeaderUse header;
    QVector<ProductLine> lines;
    QStringList ignoredColumns;
    QStringList namesNotFitting; // category and unit names beyond the 30 slots
    Encoding encoding = Encoding::Utf8;
    int errorsShown = 0;           // error rows kept in lines
    int errorsNotShown = 0;        // error rows past MaxShownErrors
    bool writeCodeChanges = false; // the user asked for the CodeChange rows too
    int count(RowAction a) const;
};

// Matches each record with the master: a record with a code only the product
// with that code (none: a new product, or a code given to the one product of
// that name that has none: CodeChange); a record without one the product of
// its name when exactly one has it. A code Excel turned into a number is an
// error row. A product changes only in the columns the file has.
Result<ProductPreview> previewProducts(Store& store, const Table& table,
                                       const Progress& progress = {});
// Writes every good record of the preview the user saw in one transaction
// (CodeChange rows when writeCodeChanges) and enters new units and categories
// into the code master.
Status importProducts(Store& store, const ProductPreview& preview, const Progress& progress = {});
// Preview and write in one step; gives the preview it followed.
Result<ProductPreview> importProducts(Store& store, const Table& table);

// One count record of the file.
struct CountLine {
    int line = 0;
    RowAction action = RowAction::Error; // Update: a line of the sheet, New: a product
    QString reason; // why it is an error; for a line of the sheet, its quantity old → new
    QString code, name;
    qint64 quantity = 0;
    qint64 seq = -1;   // the sheet's line of the product, -1 for a new line
    bool known = true; // a product or a line of the sheet has it
    Row product; // a new line's product: code, 品名, 単位, 単価, 適正数, 商品区分
};

struct CountPreview {
    HeaderUse header;
    QVector<CountLine> lines;
    QStringList ignoredColumns;
    Encoding encoding = Encoding::Utf8;
    int errorsShown = 0;    // error rows kept in lines
    int errorsNotShown = 0; // error rows past MaxShownErrors
    int count(RowAction a) const;
    int unknown() const;
};

// Each record finds the line of its product on the sheet (by code, else by
// name), else a product of the master; one no line and no product has is
// unknown.
Result<CountPreview> previewCounts(Store& store, const Table& table, const Progress& progress = {});
struct Counted {
    int set = 0;     // lines given the quantity
    int filled = 0;  // new lines filled from the master
    int unknown = 0; // unknown products added by name
};
// Sets the quantities of the preview (not adding them) in one transaction;
// amounts and changes follow. New lines take the blank lines in order, then
// the sheet grows. Unknown products become lines with their name only when
// addUnknown is set.
Result<Counted> importCounts(Store& store, const CountPreview& preview, bool addUnknown,
                             const Progress& progress = {});

} // namespace exchange
