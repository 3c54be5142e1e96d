#pragma once

#include "report/Report.h"
#include "store/Store.h"

// The rows a report prints, read from a work table: the report engine itself
// needs nothing from the store.
namespace report {

// Reads the fields a report binds from the rows of a work table, in insertion order.
Result<QVector<RowValues>> readRows(Store& store, const QString& table, const Definition& def);

} // namespace report
