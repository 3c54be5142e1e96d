#include "report/ReportRows.h"

namespace report {

Result<QVector<RowValues>> readRows(Store& store, const QString& table, const Definition& def) {
    Result<QVector<RowValues>> r;
    const QStringList fields = boundFields(def);
    r.status = guarded([&] {
        for (const Row& row : store.query(Db::Work, "SELECT " + fields.join(", ") + " FROM " +
                                                        table + " ORDER BY seq")) {
            RowValues v;
            for (int i = 0; i < fields.size(); ++i)
                v.insert(fields[i], row[i]);
            r.value.append(v);
        }
    });
    return r;
}

} // namespace report
