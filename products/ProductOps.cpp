#include "products/ProductOps.h"

#include <QHash>

namespace products {

namespace {
// code … 商品区分: the fields a list row shares with a product.
QString productFields() {
    return columns::list(Columns, ColCode);
}
const int Width = ColumnCount - ColCode; // code … 商品区分
} // namespace

Status read商品情報(Store& store, const QString& category) {
    return guarded([&] {
        const QString select = "SELECT 0, " + productFields() + ", id, 版 FROM 商品マスタ";
        Transaction t(store, Db::Work);
        store.exec(Db::Work, "DELETE FROM w商品マスタ");
        const QString fields =
            "チェック, " + productFields() + ", " + IdField + ", " + VersionField;
        if (category.isEmpty())
            store.copyRows(Db::Main, select + " ORDER BY code NULLS FIRST, id", {}, Db::Work,
                           "w商品マスタ", fields);
        else
            store.copyRows(Db::Main, select + " WHERE 商品区分 = ? ORDER BY code NULLS FIRST, id",
                           {category}, Db::Work, "w商品マスタ", fields);
        t.commit();
    });
}

namespace {
// After a save the written rows hold their products as stored now: their
// product (by name, as written), its version, and no edit pending.
void markSaved(Store& store, const QVector<NameMatchedWriter::Written>& written) {
    if (written.isEmpty())
        return;
    Transaction t(store, Db::Work);
    Batch b(
        store, Db::Work,
        [](int n) {
            return QString("UPDATE w商品マスタ SET %1 = v.column2, %2 = v.column3, %3 = 0 FROM "
                           "(VALUES %4) AS v WHERE w商品マスタ.seq = v.column1")
                .arg(IdField, VersionField, EditedField, rowMarks(n, 3));
        },
        3, LargeChunk);
    for (const NameMatchedWriter::Written& w : written)
        b.add({w.key, w.id, w.version});
    b.flush();
    t.commit();
}

} // namespace

Result<ListSaved> entry商品情報(Store& store) {
    return guardedValue<ListSaved>([&] {
        // Only the rows edited since the list was read: a row nobody touched
        // never undoes someone else's change.
        QVector<ProductValues> edited;
        for (const Row& r : store.queryMany(
                 Db::Work, QString("SELECT seq, %1, %2, %3 FROM w商品マスタ WHERE %4 = 1 "
                                   "ORDER BY seq")
                               .arg(productFields(), IdField, VersionField, EditedField)))
            edited << ProductValues{r.mid(1, Width), r[1 + Width].toLongLong(),
                                    r[2 + Width].toLongLong(), r[0].toLongLong()};
        // Nothing edited: no transaction, no lock on the server's slots.
        if (edited.isEmpty())
            return ListSaved{};
        QVector<NameMatchedWriter::Written> written;
        const ListSaved n = valueOf(saveProducts(store, edited, &written));
        markSaved(store, written);
        return n;
    });
}

Result<QPair<qint64, qint64>> readFrom(Store& store, qint64 seq) {
    return guardedValue<QPair<qint64, qint64>>([&] {
        const Rows r = store.query(
            Db::Work,
            QString("SELECT %1, %2 FROM w商品マスタ WHERE seq = ?").arg(IdField, VersionField),
            {seq});
        return r.isEmpty() ? QPair<qint64, qint64>{}
                           : QPair<qint64, qint64>{r[0][0].toLongLong(), r[0][1].toLongLong()};
    });
}

namespace {
// The products of conflicting rows as stored now: by row, its product id and
// that product's version and fields (empty when deleted).
struct StoredNow {
    QHash<qint64, qint64> idOf; // seq -> product id
    QHash<qint64, Row> now;     // product id -> 版, code … 商品区分
};
StoredNow storedNow(Store& store, const QVector<Conflict>& conflicts) {
    StoredNow out;
    QVector<qint64> ids;
    for (const Conflict& c : conflicts) {
        const qint64 id =
            store
                .scalar(Db::Work, QString("SELECT %1 FROM w商品マスタ WHERE seq = ?").arg(IdField),
                        {c.seq})
                .toLongLong();
        out.idOf.insert(c.seq, id);
        ids << id;
    }
    out.now = productsById(store, ids);
    return out;
}
} // namespace

Status keepMine(Store& store, const QVector<Conflict>& conflicts) {
    return guarded([&] {
        const auto [idOf, now] = storedNow(store, conflicts);
        Transaction t(store, Db::Work);
        for (const Conflict& c : conflicts) {
            // The stored version is taken as read: the next 登録 overwrites it.
            // A deleted product is added again by its name.
            const Row p = now.value(idOf.value(c.seq));
            store.exec(Db::Work,
                       QString("UPDATE w商品マスタ SET %1 = ?, %2 = ? WHERE seq = ?")
                           .arg(IdField, VersionField),
                       {p.isEmpty() ? QVariant() : QVariant(idOf.value(c.seq)),
                        p.isEmpty() ? QVariant() : p[0], c.seq});
        }
        t.commit();
    });
}

Status takeTheirs(Store& store, const QVector<Conflict>& conflicts) {
    return guarded([&] {
        const auto [idOf, now] = storedNow(store, conflicts);
        Transaction t(store, Db::Work);
        for (const Conflict& c : conflicts) {
            const Row p = now.value(idOf.value(c.seq));
            if (p.isEmpty()) {
                store.exec(Db::Work, "DELETE FROM w商品マスタ WHERE seq = ?", {c.seq});
                continue;
            }
            QVariantList values(p.begin() + 1, p.end());
            store.exec(Db::Work,
                       "UPDATE w商品マスタ SET " + columns::assignments(Columns, ColCode) +
                           " WHERE seq = ?",
                       values << c.seq);
            // Set apart from the fields, whose change marks the row as edited.
            store.exec(Db::Work,
                       QString("UPDATE w商品マスタ SET %1 = ?, %2 = 0 WHERE seq = ?")
                           .arg(VersionField, EditedField),
                       {p[0], c.seq});
        }
        t.commit();
    });
}

Status lineDelete商品情報(Store& store, qint64 seq) {
    return guarded([&] {
        const Rows rows =
            store.query(Db::Work, "SELECT code, 品名 FROM w商品マスタ WHERE seq = ?", {seq});
        if (rows.isEmpty())
            return;
        // The master first, then the list: a failure between them leaves the
        // row shown, and deleting it again deletes nothing more.
        if (Status s = deleteProducts(store, rows[0][0], rows[0][1]); !s)
            throw StoreError(s.error, QString(), s.kind);
        store.exec(Db::Work, "DELETE FROM w商品マスタ WHERE seq = ?", {seq});
    });
}

namespace {
// The first product a condition selects, as the panel holds it.
std::optional<Detail> detailWhere(Store& store, const QString& where, const QVariant& key) {
    const Rows rows = store.query(Db::Main,
                                  "SELECT " + productFields() + ", id, 版 FROM 商品マスタ WHERE " +
                                      where + " ORDER BY id LIMIT 1",
                                  {key});
    if (rows.isEmpty())
        return std::nullopt;
    const Row& r = rows.first();
    Detail d;
    const auto at = [&](Column c) { return r[c - ColCode]; };
    d.code = at(ColCode).toString();
    d.name = at(ColName).toString();
    d.unit = at(ColUnit).toString();
    d.price = Currency::fromVariant(at(ColPrice)).value_or(Currency());
    d.proper = at(ColProper).isNull() ? 0 : at(ColProper).toLongLong();
    d.category = at(ColCategory).toString();
    d.shelf = at(ColShelf).toString();
    d.rate = at(ColRate).isNull() ? StandardTaxRate : at(ColRate).toInt();
    d.id = r[Width].toLongLong();
    d.version = r[Width + 1].toLongLong();
    return d;
}
} // namespace

Result<std::optional<Detail>> read商品詳細(Store& store, const QString& name) {
    return guardedValue<std::optional<Detail>>(
        [&] { return detailWhere(store, "品名 = ?", name); });
}

Result<std::optional<Detail>> lookUp商品詳細(Store& store, const QString& name,
                                             const QString& code) {
    return guardedValue<std::optional<Detail>>([&]() -> std::optional<Detail> {
        if (!code.isEmpty() &&
            store.scalar(Db::Main, "SELECT count(*) FROM 商品マスタ WHERE code = ?", {code})
                    .toInt() > 0)
            return std::nullopt;
        return detailWhere(store, "品名 = ?", name);
    });
}

Result<std::optional<Detail>> readProduct(Store& store, qint64 id) {
    return guardedValue<std::optional<Detail>>([&] { return detailWhere(store, "id = ?", id); });
}

Status fillProductPrint(Store& store) {
    return guarded([&] {
        Transaction t(store, Db::Work);
        store.exec(Db::Work, "DELETE FROM w商品マスタ印刷");
        const QString fields = columns::list(Columns);
        store.exec(Db::Work, "INSERT INTO w商品マスタ印刷 (" + fields + ") SELECT " + fields +
                                 " FROM w商品マスタ ORDER BY seq");
        t.commit();
    });
}

} // namespace products
