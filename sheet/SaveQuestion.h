#pragma once

#include "sheet/SheetOps.h"

namespace sheet {

// What the user is asked before a save of date (shown as shownDate) and
// category: the plain question, or, when saved sheets the screen did not
// load would be replaced, 置き換える / 追加する / キャンセル; beneath it what the
// save does to the product master and the scanned codes it leaves out.
// Fills the mode the user chose; false when the user declined (or the
// question could not be put, the failure then shown).
bool askSave(Store& store, const QDate& date, const QString& shownDate, const QString& category,
             const LoadedFrom& loaded, int waitingCodes, SaveMode* mode);

} // namespace sheet
