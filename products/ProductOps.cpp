#include "products/ProductOps.h"

#include "codes/CodeOps.h"

namespace products {

namespace {
// code … 商品区分: the fields a list row shares with a product.
QString productFields() {
    return columns::list(Columns, ColCode);
}
} // namespace

NameMatchedWriter::NameMatchedWriter(Store& store, bool keepStoredCode)
    : m_store(store),
      m_find(
          store.prepare(Db::Main, "SELECT id FROM 商品マスタ WHERE 品名 = ? ORDER BY id LIMIT 1")),
      m_update(store.prepare(Db::Main, QString("UPDATE 商品マスタ SET code = %1, 品名 = ?, "
                                               "単位 = ?, 単価 = ?, 適正数 = ?, 商品区分 = ? "
                                               "WHERE id = ?")
                                           .arg(keepStoredCode ? "coalesce(?, code)" : "?"))),
      m_add(store.prepare(Db::Main, "INSERT INTO 商品マスタ (code, 品名, 単位, 単価, 適正数, "
                                    "商品区分) VALUES (?, ?, ?, ?, ?, ?)")) {}

bool NameMatchedWriter::write(const QVariant& code, const QVariant& name, const QVariant& unit,
                              const QVariant& price, const QVariant& proper,
                              const QVariant& category) {
    m_store.run(m_find, {name});
    const QVariant id = m_find.next() ? m_find.value(0) : QVariant();
    m_find.finish();
    if (id.isValid())
        m_store.run(m_update, {code, name, unit, price, proper, category, id});
    else
        m_store.run(m_add, {code, name, unit, price, proper, category});
    return !id.isValid();
}

Status read商品情報(Store& store, const QString& category) {
    return guarded([&] {
        const QString select = "SELECT 0, " + productFields() + " FROM 商品マスタ";
        const Rows rows =
            category.isEmpty()
                ? store.query(Db::Main, select + " ORDER BY code, id")
                : store.query(Db::Main, select + " WHERE 商品区分 = ? ORDER BY code, id",
                              {category});
        Transaction t(store, Db::Work);
        store.exec(Db::Work, "DELETE FROM w商品マスタ");
        insertRows(store, Db::Work, "w商品マスタ", "チェック, " + productFields(), rows);
        t.commit();
    });
}

Result<Registered> entry商品情報(Store& store) {
    return guardedValue<Registered>([&] {
        Registered n;
        const Rows rows =
            store.query(Db::Work, "SELECT " + productFields() + " FROM w商品マスタ ORDER BY seq");
        Transaction t(store, Db::Main);
        NameMatchedWriter writer(store, false);
        codes::SlotWriter slotWriter(store);
        for (const Row& r : rows) {
            const auto at = [&](Column c) { return r[c - ColCode]; };
            const QVariant name = at(ColName), unit = at(ColUnit), category = at(ColCategory);
            // A row whose name was emptied matches no product; adding it would
            // only leave a nameless product behind, so it is not written.
            if (!isEmptyValue(name))
                ++(writer.write(at(ColCode), name, unit, at(ColPrice), at(ColProper), category)
                       ? n.added
                       : n.updated);
            if (!isEmptyValue(unit))
                slotWriter.enter(codes::kindUnit(), unit.toString());
            if (!isEmptyValue(category))
                slotWriter.enter(codes::kindCategory(), category.toString());
        }
        t.commit();
        return n;
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
        Transaction t(store, Db::Main);
        store.exec(Db::Main,
                   "DELETE FROM 商品マスタ WHERE code IS NOT DISTINCT FROM ? AND "
                   "品名 IS NOT DISTINCT FROM ?",
                   {rows[0][0], rows[0][1]});
        t.commit();
        store.exec(Db::Work, "DELETE FROM w商品マスタ WHERE seq = ?", {seq});
    });
}

Result<std::optional<Detail>> read商品詳細(Store& store, const QString& name) {
    return guardedValue<std::optional<Detail>>([&]() -> std::optional<Detail> {
        const Rows rows = store.query(Db::Main,
                                      "SELECT " + productFields() +
                                          " FROM 商品マスタ WHERE 品名 = ? ORDER BY id LIMIT 1",
                                      {name});
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
        return d;
    });
}

Status entry商品詳細(Store& store, const Detail& d) {
    return guarded([&] {
        Transaction t(store, Db::Main);
        const QVariant id = store.scalar(
            Db::Main, "SELECT id FROM 商品マスタ WHERE code = ? ORDER BY id LIMIT 1", {d.code});
        const QVariantList values{d.code,
                                  d.name,
                                  textOrNull(d.unit),
                                  d.price.toVariant(),
                                  qlonglong(d.proper),
                                  textOrNull(d.category)};
        if (id.isNull())
            store.exec(Db::Main,
                       "INSERT INTO 商品マスタ (code, 品名, 単位, 単価, 適正数, 商品区分) "
                       "VALUES (?, ?, ?, ?, ?, ?)",
                       values);
        else
            store.exec(Db::Main,
                       "UPDATE 商品マスタ SET code = ?, 品名 = ?, 単位 = ?, 単価 = ?, "
                       "適正数 = ?, 商品区分 = ? WHERE id = ?",
                       values + QVariantList{id});
        codes::SlotWriter(store).enter(codes::kindCategory(), d.category);
        t.commit();
    });
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
