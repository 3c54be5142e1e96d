#pragma once

#include "store/Store.h"

#include <QStringList>

// The work-table resets and reference-list rebuilds shared by every tab.
namespace resets {

constexpr int SheetLines = 500;

// The work sheet refilled with `lines` blank lines (mark off, every field null).
Status clear在庫明細(Store& store, int lines = SheetLines);
// Appends blank lines to the work sheet, inside the caller's transaction.
void addBlankLines(Store& store, int lines);
// Empties the product list's work table.
Status clear商品情報(Store& store);

// Category and unit names for the combo boxes, in slot order, nulls skipped.
struct CombLists {
    QStringList categories;
    QStringList units;
};
// The category and unit reference tables rebuilt from the code master in one
// transaction (the sheet's lines stay); it gives the combo box names.
Result<CombLists> readNameLists(Store& store);
// Rebuilds the unit reference table from the unit slots.
Status read単位(Store& store);
// The whole reset of the sheet tab in one transaction: 500 blank lines and
// the category and unit reference tables rebuilt; it gives the combo box names.
Result<CombLists> clear在庫表(Store& store);

} // namespace resets
