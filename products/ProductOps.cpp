#include "products/ProductOps.h"

#include "codes/CodeOps.h"

namespace products {

QStringList fieldNames() {
    return {"チェック", "code", "品名", "単位", "単価", "適正数", "商品区分"};
}

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
        Transaction t(store, Db::Work);
        store.exec(Db::Work, "DELETE FROM w商品マスタ");
        const QString insert = "INSERT INTO w商品マスタ (チェック, code, 品名, 単位, 単価, 適正数, "
                               "商品区分) SELECT 0, code, 品名, 単位, 単価, 適正数, 商品区分 "
                               "FROM m.商品マスタ";
        if (category.isEmpty())
            store.exec(Db::Work, insert + " ORDER BY code, id");
        else
            store.exec(Db::Work, insert + " WHERE 商品区分 = ? ORDER BY code, id", {category});
        t.commit();
    });
}

Status entry商品情報(Store& store, int* added, int* updated) {
    int nAdded = 0, nUpdated = 0;
    return guarded([&] {
        const Rows rows = store.query(
            Db::Work,
            "SELECT code, 品名, 単位, 単価, 適正数, 商品区分 FROM w商品マスタ ORDER BY seq");
        Transaction t(store, Db::Main);
        NameMatchedWriter writer(store, false);
        codes::SlotWriter slotWriter(store);
        for (const Row& r : rows) {
            const QVariant name = r[1];
            // A row whose name was emptied matches no product; adding it would
            // only leave a nameless product behind, so it is not written.
            if (!isEmptyValue(name))
                ++(writer.write(r[0], name, r[2], r[3], r[4], r[5]) ? nAdded : nUpdated);
            if (!isEmptyValue(r[2]))
                slotWriter.enter(codes::kindUnit(), r[2].toString());
            if (!isEmptyValue(r[5]))
                slotWriter.enter(codes::kindCategory(), r[5].toString());
        }
        t.commit();
        if (added)
            *added = nAdded;
        if (updated)
            *updated = nUpdated;
    });
}

Status lineDelete商品情報(Store& store, qint64 seq) {
    return guarded([&] {
        const Rows rows =
            store.query(Db::Work, "SELECT code, 品名 FROM w商品マスタ WHERE seq = ?", {seq});
        if (rows.isEmpty())
            return;
        // The master and the list change together, in one transaction of the
        // work connection that holds the main file attached.
        Transaction t(store, Db::Work);
        store.exec(Db::Work, "DELETE FROM m.商品マスタ WHERE code IS ? AND 品名 IS ?",
                   {rows[0][0], rows[0][1]});
        store.exec(Db::Work, "DELETE FROM w商品マスタ WHERE seq = ?", {seq});
        t.commit();
    });
}

Status read商品詳細(Store& store, const QString& name, std::optional<Detail>* found) {
    return guarded([&] {
        found->reset();
        const Rows rows =
            store.query(Db::Main,
                        "SELECT code, 品名, 単位, 単価, 適正数, 商品区分 FROM 商品マスタ "
                        "WHERE 品名 = ? ORDER BY id LIMIT 1",
                        {name});
        if (rows.isEmpty())
            return;
        const Row& r = rows.first();
        Detail d;
        d.code = r[0].toString();
        d.name = r[1].toString();
        d.unit = r[2].toString();
        d.price = Currency::fromVariant(r[3]).value_or(Currency());
        d.proper = r[4].isNull() ? 0 : r[4].toLongLong();
        d.category = r[5].toString();
        *found = d;
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
        store.exec(Db::Work,
                   "INSERT INTO w商品マスタ印刷 (チェック, code, 品名, 単位, 単価, 適正数, "
                   "商品区分) SELECT チェック, code, 品名, 単位, 単価, 適正数, 商品区分 "
                   "FROM w商品マスタ ORDER BY seq");
        t.commit();
    });
}

} // namespace products
