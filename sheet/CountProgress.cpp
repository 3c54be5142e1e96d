#include "sheet/CountProgress.h"

#include "base/Values.h"

#include <QMap>
#include <QSet>

namespace sheet {

namespace {
// Groups by name, the one without a name last.
QVector<ProgressRow> ordered(const QMap<QString, ProgressRow>& groups) {
    QVector<ProgressRow> out;
    for (const ProgressRow& r : groups)
        if (!r.group.isEmpty())
            out << r;
    if (groups.contains(QString()))
        out << groups.value(QString());
    return out;
}

void addEntry(ProgressRow& r, const QString& counter, const QString& when) {
    if (!counter.isEmpty() && !r.counters.contains(counter))
        r.counters << counter;
    r.lastEntry = std::max(r.lastEntry, when);
}
} // namespace

Result<CountProgress> progressOf(Store& store, const QDate& date, const QString& category) {
    return guardedValue<CountProgress>([&] {
        const QString day = dateKey(date);
        const QString inCategory =
            category.isEmpty() ? QString() : QStringLiteral(" WHERE 商品区分 = ?");
        QVariantList params{day, day};
        if (!category.isEmpty())
            params << category;
        QMap<QString, ProgressRow> shelves, categories;
        CountProgress out;
        // Counted: a saved line of the date has the product's code or name.
        Transaction snapshot(store, Db::Main, Transaction::Snapshot);
        for (const Row& r : store.query(
                 Db::Main,
                 "SELECT coalesce(棚番, ''), coalesce(商品区分, ''), count(*), sum(CASE WHEN "
                 "(code IS NOT NULL AND code IN (SELECT code FROM 在庫表 WHERE 日付 = ? AND code "
                 "IS NOT NULL)) OR 品名 IN (SELECT 品名 FROM 在庫表 WHERE 日付 = ? AND 品名 IS "
                 "NOT NULL) THEN 1 ELSE 0 END) FROM 商品マスタ" +
                     inCategory + " GROUP BY coalesce(棚番, ''), coalesce(商品区分, '')",
                 params)) {
            for (auto* groups : {&shelves, &categories}) {
                const QString key = (groups == &shelves ? r[0] : r[1]).toString();
                ProgressRow& g = (*groups)[key];
                g.group = key;
                g.products += r[2].toInt();
                g.counted += r[3].toInt();
            }
            out.total.products += r[2].toInt();
            out.total.counted += r[3].toInt();
        }
        QVariantList entryParams{day};
        if (!category.isEmpty())
            entryParams << category;
        for (const Row& r : store.query(
                 Db::Main,
                 "SELECT coalesce(棚番, ''), coalesce(商品区分, ''), coalesce(担当, ''), "
                 "max(記録日時) FROM 棚卸記録 WHERE 日付 = ?" +
                     (category.isEmpty() ? QString() : QStringLiteral(" AND 商品区分 = ?")) +
                     " GROUP BY coalesce(棚番, ''), coalesce(商品区分, ''), "
                     "coalesce(担当, '') ORDER BY 4",
                 entryParams)) {
            // A shelf emptied since its entries still shows who counted there.
            for (auto* groups : {&shelves, &categories}) {
                const QString key = (groups == &shelves ? r[0] : r[1]).toString();
                ProgressRow& g = (*groups)[key];
                g.group = key;
                addEntry(g, r[2].toString(), r[3].toString());
            }
            addEntry(out.total, r[2].toString(), r[3].toString());
        }
        snapshot.commit();
        out.shelves = ordered(shelves);
        out.categories = ordered(categories);
        return out;
    });
}

Result<QVector<CountEntry>> entriesOf(Store& store, const QDate& date) {
    return guardedValue<QVector<CountEntry>>([&] {
        QVector<CountEntry> out;
        const QString day = dateKey(date);
        const Rows rows = store.query(
            Db::Main,
            // The undone ones by one look-up list, not a search per entry.
            "SELECT e.id, e.記録日時, e.担当, e.端末, e.種類, e.棚番, e.商品区分, e.code, e.品名, "
            "e.前数量, e.後数量, e.取消, CASE WHEN e.id IN (SELECT 取消 FROM 棚卸記録 WHERE 日付 = "
            "? AND 取消 IS NOT NULL) THEN 1 END FROM 棚卸記録 e WHERE e.日付 = ? ORDER BY "
            "e.記録日時 DESC, e.id DESC",
            {day, day});
        out.reserve(rows.size());
        for (const Row& r : rows)
            out << CountEntry{r[0].toLongLong(),
                              r[1].toString(),
                              r[2].toString(),
                              r[3].toString(),
                              r[4].toString(),
                              r[5].toString(),
                              r[6].toString(),
                              r[7].toString(),
                              r[8].toString(),
                              r[9],
                              r[10],
                              r[11].toLongLong(),
                              !r[12].isNull()};
        return out;
    });
}

bool EntryFilter::matches(const CountEntry& e) const {
    return (product.isEmpty() || e.name.contains(product, Qt::CaseInsensitive) ||
            e.code.contains(product, Qt::CaseInsensitive)) &&
           (counter.isEmpty() || e.counter == counter) && (kind.isEmpty() || e.kind == kind);
}

} // namespace sheet
