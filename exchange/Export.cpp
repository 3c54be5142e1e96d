#include "exchange/Export.h"

#include "base/Values.h"
#include "store/Columns.h"

namespace exchange {

namespace {
// The header name of a field: the field's own name, "コード" for code.
QString headerOf(const columns::Column& c) {
    const QString f = QString::fromUtf8(c.field);
    return f == QLatin1String("code") ? QStringLiteral("コード") : f;
}

QString cellText(const columns::Column& c, const QVariant& v) {
    if (isEmptyValue(v))
        return QString();
    switch (c.kind) {
    case columns::Kind::Money:
        return Currency::fromVariant(v).value_or(Currency()).toString();
    case columns::Kind::Whole:
        return QString::number(v.toLongLong());
    default:
        return guardFormula(v.toString());
    }
}

template <std::size_t N>
Result<QVector<QStringList>> records(Store& store, const QString& table,
                                     const columns::Column (&cols)[N], const QVector<int>& order,
                                     const QString& where) {
    return guardedValue<QVector<QStringList>>([&] {
        QVector<QStringList> out;
        QStringList header, fields;
        for (int c : order) {
            header << headerOf(cols[c]);
            fields << QString::fromUtf8(cols[c].field);
        }
        out << header;
        for (const Row& r : store.query(Db::Work, "SELECT " + fields.join(", ") + " FROM " + table +
                                                      where + " ORDER BY seq")) {
            QStringList rec;
            for (int i = 0; i < order.size(); ++i)
                rec << cellText(cols[order[i]], r[i]);
            out << rec;
        }
        return out;
    });
}
} // namespace

Result<QVector<QStringList>> sheetRecords(Store& store) {
    using namespace sheet;
    return records(
        store, "w在庫表", Columns,
        {ColCode, ColName, ColQty, ColProper, ColChange, ColUnit, ColPrice, ColAmount, ColCategory},
        " WHERE 品名 IS NOT NULL");
}

Result<QVector<QStringList>> productRecords(Store& store) {
    using namespace products;
    return records(store, "w商品マスタ", Columns,
                   {ColCode, ColName, ColUnit, ColPrice, ColProper, ColCategory}, QString());
}

} // namespace exchange
