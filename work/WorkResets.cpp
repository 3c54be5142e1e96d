#include "work/WorkResets.h"

namespace resets {

namespace {
// The steps below run inside the caller's work transaction.
void fillBlankLines(Store& store, int lines) {
    store.exec(Db::Work, "DELETE FROM w在庫表");
    QSqlQuery ins = store.prepare(Db::Work, "INSERT INTO w在庫表 (チェック) VALUES (0)");
    for (int i = 0; i < lines; ++i)
        store.run(ins, {});
}

CombLists readNames(Store& store) {
    CombLists l;
    for (const Row& r :
         store.query(Db::Main, "SELECT kcode, sname FROM コードマスタ WHERE kcode IN "
                               "('商品区分', '単位') AND sname IS NOT NULL ORDER BY code, id"))
        (r[0].toString() == QStringLiteral("単位") ? l.units : l.categories)
            .append(r[1].toString());
    return l;
}

void copyProducts(Store& store) {
    store.exec(Db::Work, "DELETE FROM w商品参照");
    store.exec(Db::Work, "INSERT INTO w商品参照 (品名, 単位, 単価, 適正数) "
                         "SELECT 品名, 単位, 単価, 適正数 FROM m.商品マスタ "
                         "WHERE 品名 IS NOT NULL ORDER BY 品名, id");
}

void copyCategories(Store& store) {
    store.exec(Db::Work, "DELETE FROM w商品区分参照");
    store.exec(Db::Work, "INSERT INTO w商品区分参照 (sname) SELECT sname FROM m.コードマスタ "
                         "WHERE kcode = '商品区分' AND sname IS NOT NULL ORDER BY code, id");
}

void copyUnits(Store& store) {
    store.exec(Db::Work, "DELETE FROM w単位参照");
    store.exec(Db::Work, "INSERT INTO w単位参照 (sname) SELECT sname FROM m.コードマスタ "
                         "WHERE kcode = '単位' AND sname IS NOT NULL ORDER BY code, id");
}
} // namespace

Status clear在庫明細(Store& store, int lines) {
    return guarded([&] {
        Transaction t(store, Db::Work);
        fillBlankLines(store, lines);
        t.commit();
    });
}

Result<CombLists> clear在庫表(Store& store) {
    return guardedValue<CombLists>([&] {
        const CombLists l = readNames(store);
        Transaction t(store, Db::Work);
        fillBlankLines(store, SheetLines);
        copyProducts(store);
        copyCategories(store);
        copyUnits(store);
        t.commit();
        return l;
    });
}

Result<CombLists> readNameLists(Store& store) {
    return guardedValue<CombLists>([&] {
        const CombLists l = readNames(store);
        Transaction t(store, Db::Work);
        copyCategories(store);
        copyUnits(store);
        t.commit();
        return l;
    });
}

Status readProductRefs(Store& store) {
    return guarded([&] {
        Transaction t(store, Db::Work);
        copyProducts(store);
        t.commit();
    });
}

Status clear商品情報(Store& store) {
    return guarded([&] { store.exec(Db::Work, "DELETE FROM w商品マスタ"); });
}

Status read単位(Store& store) {
    return guarded([&] {
        Transaction t(store, Db::Work);
        copyUnits(store);
        t.commit();
    });
}

} // namespace resets
