#include "work/WorkResets.h"

#include "store/Columns.h"

namespace resets {

namespace {
// The steps below run inside the caller's work transaction.
void fillBlankLines(Store& store, int lines) {
    store.exec(Db::Work, "DELETE FROM w在庫表");
    addBlankLines(store, lines);
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

Rows column(const QStringList& names) {
    Rows out;
    out.reserve(names.size());
    for (const QString& n : names)
        out.append(Row{n});
    return out;
}

void copyNames(Store& store, const QString& table, const QStringList& names) {
    store.exec(Db::Work, "DELETE FROM " + table);
    insertRows(store, Db::Work, table, "sname", column(names));
}

} // namespace

void addBlankLines(Store& store, int lines) {
    // Blank lines go in many to a statement: only the mark is set.
    Batch b(
        store, Db::Work,
        [](int n) { return "INSERT INTO w在庫表 (チェック) VALUES " + rowMarks(n, 1); }, 1);
    for (int i = 0; i < lines; ++i)
        b.add({0});
    b.flush();
}

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
        copyNames(store, "w商品区分参照", l.categories);
        copyNames(store, "w単位参照", l.units);
        t.commit();
        return l;
    });
}

Result<CombLists> readNameLists(Store& store) {
    return guardedValue<CombLists>([&] {
        const CombLists l = readNames(store);
        Transaction t(store, Db::Work);
        copyNames(store, "w商品区分参照", l.categories);
        copyNames(store, "w単位参照", l.units);
        t.commit();
        return l;
    });
}

Status clear商品情報(Store& store) {
    return guarded([&] { store.exec(Db::Work, "DELETE FROM w商品マスタ"); });
}

Status read単位(Store& store) {
    return guarded([&] {
        const CombLists l = readNames(store);
        Transaction t(store, Db::Work);
        copyNames(store, "w単位参照", l.units);
        t.commit();
    });
}

} // namespace resets
