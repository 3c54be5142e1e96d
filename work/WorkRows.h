#pragma once

#include "base/NamedRow.h"
#include "store/Store.h"

#include <QHash>
#include <QStringList>
#include <QVariant>
#include <QVector>

// The rows of a work table as named fields, in insertion order: what a report
// prints is read here, so the report engine needs nothing from the store.
namespace work {

using FieldValues = NamedRow;

Result<QVector<FieldValues>> readFields(Store& store, const QString& table,
                                        const QStringList& fields);

} // namespace work
