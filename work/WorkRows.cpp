#include "work/WorkRows.h"

namespace work {

Result<QVector<FieldValues>> readFields(Store& store, const QString& table,
                                        const QStringList& fields) {
    return guardedValue<QVector<FieldValues>>([&] {
        QVector<FieldValues> out;
        Rows rows = store.queryMany(Db::Work, "SELECT " + fields.join(", ") + " FROM " + table +
                                                  " ORDER BY seq");
        // One list of names for every row.
        const auto names = std::make_shared<const QStringList>(fields);
        out.reserve(rows.size());
        for (Row& row : rows)
            out.append(FieldValues(names, std::move(row)));
        return out;
    });
}

} // namespace work
