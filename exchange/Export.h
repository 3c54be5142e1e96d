#pragma once

#include "exchange/Workbook.h"

// The sheet and the product list as CSV records: a header of the names the
// user sees, then one record per line, numbers plain, empty cells empty.
namespace exchange {

// The label of a workbook's total row, in its first column.
inline const QString TotalLabel = QStringLiteral("合計");

// The named lines of the work sheet, and their total amount for a workbook.
Result<Records> sheetRecords(Store& store);
// The product list as it is shown.
Result<Records> productRecords(Store& store);

} // namespace exchange
