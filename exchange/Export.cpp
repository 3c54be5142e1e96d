#include "exchange/Export.h"

#include "base/Values.h"
#include "store/Columns.h"

#include <QSqlError>
#include <QSqlQuery>

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

CellKind kindOf(const columns::Column& c) {
    return c.kind == columns::Kind::Money   ? CellKind::Money
           : c.kind == columns::Kind::Whole ? CellKind::Whole
                                            : CellKind::Text;
}

template <std::size_t N>
Result<Records> records(Store& store, const QString& table, const columns::Column (&cols)[N],
                        const QVector<int>& order, const QString& where) {
    return guardedValue<Records>([&] {
        Records result;
        QVector<QStringList>& out = result.rows;
        QStringList header, fields;
        for (int c : order) {
            header << headerOf(cols[c]);
            fields << QString::fromUtf8(cols[c].field);
            result.kinds << kindOf(cols[c]);
        }
        out << header;
        // Each row becomes its record as it is read, forward only: a whole
        // master of 100,000 products is read here, and never held twice.
        QSqlQuery q = store.prepare(Db::Work, "SELECT " + fields.join(", ") + " FROM " + table +
                                                  where + " ORDER BY seq");
        store.run(q, {});
        while (q.next()) {
            QStringList rec;
            rec.reserve(order.size());
            for (int i = 0; i < order.size(); ++i)
                rec << cellText(cols[order[i]], q.value(i));
            out << std::move(rec);
        }
        if (q.lastError().isValid())
            throw StoreError(q.lastError().text(), q.lastQuery());
        return result;
    });
}
} // namespace

Result<Records> sheetRecords(Store& store) {
    using namespace sheet;
    const QVector<int> order{ColCode, ColName,  ColQty,    ColProper,  ColChange,
                             ColUnit, ColPrice, ColAmount, ColCategory};
    Result<Records> r = records(store, "w在庫表", Columns, order, " WHERE 品名 IS NOT NULL");
    if (!r)
        return r;
    // The sheet's total, under the amounts, as the printed sheet has it.
    const int amount = int(order.indexOf(ColAmount));
    Currency total;
    for (qsizetype i = 1; i < r.value.rows.size(); ++i)
        total = total + parseCurrency(r.value.rows[i][amount]).value_or(Currency());
    r.value.total = QStringList(order.size(), QString());
    r.value.total[0] = TotalLabel;
    r.value.total[amount] = total.toString();
    return r;
}

Result<Records> productRecords(Store& store) {
    using namespace products;
    return records(store, "w商品マスタ", Columns,
                   {ColCode, ColName, ColUnit, ColPrice, ColProper, ColCategory, ColShelf, ColRate},
                   QString());
}

} // namespace exchange
