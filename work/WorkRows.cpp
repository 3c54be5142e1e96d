#include "work/WorkRows.h"

namespace work {

Result<QVector<FieldValues>> readFields(Store& store, const QString& table,
                                        const QStringList& fields) {
    return guardedValue<QVector<FieldValues>>([&] {
        QVector<FieldValues> out;
        for (const Row& row : store.query(Db::Work, "SELECT " + fields.join(", ") + " FROM " +
                                                        table + " ORDER BY seq")) {
            FieldValues v;
            for (int i = 0; i < fields.size(); ++i)
                v.insert(fields[i], row[i]);
            out.append(v);
        }
        return out;
    });
}

} // namespace work
