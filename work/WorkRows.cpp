#include "work/WorkRows.h"

namespace work {

Result<QVector<FieldValues>> readFields(Store& store, const QString& table,
                                        const QStringList& fields) {
    return guardedValue<QVector<FieldValues>>([&] {
        QVector<FieldValues> out;
        const Rows rows = store.queryMany(Db::Work, "SELECT " + fields.join(", ") + " FROM " +
                                                        table + " ORDER BY seq");
        out.reserve(rows.size());
        for (const Row& row : rows) {
            FieldValues v;
            v.reserve(fields.size());
            for (int i = 0; i < fields.size(); ++i)
                v.insert(fields[i], row[i]);
            out.append(std::move(v));
        }
        return out;
    });
}

} // namespace work
