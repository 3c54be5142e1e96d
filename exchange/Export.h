#pragma once

#include "exchange/Csv.h"

// The sheet and the product list as CSV records: a header of the names the
// user sees, then one record per line, numbers plain, empty cells empty.
namespace exchange {

// The named lines of the work sheet.
Result<QVector<QStringList>> sheetRecords(Store& store);
// The product list as it is shown.
Result<QVector<QStringList>> productRecords(Store& store);

} // namespace exchange
