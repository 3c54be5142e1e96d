#include "history/HistoryOps.h"

#include <QMap>

namespace history {

namespace {
Currency money(const QVariant& v) {
    return Currency::fromVariant(v).value_or(Currency());
}
} // namespace

Result<QVector<SavedSheet>> savedSheets(Store& store) {
    return guardedValue<QVector<SavedSheet>>([&] {
        QVector<SavedSheet> out;
        int dateRow = -1;
        // One row per sheet, kept by the triggers on 在庫表.
        // A date's sheets come together: its text is read as a date once.
        QString dateText;
        QDate date;
        for (const Row& r : store.queryMany(
                 Db::Main, "SELECT s.日付, s.商品区分, s.行数, s.金額, k.日付 IS NOT NULL "
                           "FROM 在庫表集計 s LEFT JOIN 在庫表確定 k ON k.日付 = s.日付 "
                           "ORDER BY s.日付 DESC, s.商品区分")) {
            if (const QString t = r[0].toString(); t != dateText) {
                dateText = t;
                date = QDate::fromString(t, Qt::ISODate);
            }
            const SavedSheet sheet{date,        r[1].toString(), r[2].toInt(),
                                   money(r[3]), false,           r[4].toBool()};
            if (dateRow < 0 || out[dateRow].date != sheet.date) {
                dateRow = int(out.size());
                out << SavedSheet{sheet.date, QString(), 0, Currency(), true, sheet.closed};
            }
            out[dateRow].lines += sheet.lines;
            out[dateRow].total = out[dateRow].total + sheet.total;
            if (!sheet.category.isEmpty())
                out << sheet;
        }
        return out;
    });
}

Result<Summary> summary(Store& store, const QDate& date) {
    return guardedValue<Summary>([&] {
        Summary s;
        // Grouped in the order of the date's index, no sort: lines without a
        // category (NULL, then '', which come first and together) are one group.
        for (const Row& r : store.queryMany(
                 Db::Main,
                 "SELECT 商品区分, count(*), coalesce(sum(数量), 0), coalesce(sum(金額), 0) "
                 "FROM 在庫表 WHERE 日付 = ? GROUP BY 商品区分 ORDER BY 商品区分 NULLS FIRST",
                 {dateKey(date)})) {
            CategoryTotal c{r[0].toString(), r[1].toInt(), qint64(r[2].toDouble()), money(r[3])};
            s.total.lines += c.lines;
            s.total.quantity += c.quantity;
            s.total.amount = s.total.amount + c.amount;
            if (!s.categories.isEmpty() && s.categories.last().category == c.category) {
                CategoryTotal& same = s.categories.last();
                same.lines += c.lines;
                same.quantity += c.quantity;
                same.amount = same.amount + c.amount;
            } else {
                s.categories << c;
            }
        }
        return s;
    });
}

qint64 Compared::quantityChange() const {
    return quantity[1].value_or(0) - quantity[0].value_or(0);
}

Currency Compared::amountChange() const {
    return amount[1].value_or(Currency()) - amount[0].value_or(Currency());
}

Result<Comparison> compare(Store& store, const QString& category, const QDate& first,
                           const QDate& second) {
    return guardedValue<Comparison>([&] {
        Comparison c;
        QMap<QString, Compared> byKey; // key: code, or the name of a product without one
        const QDate dates[2] = {first, second};
        for (int side = 0; side < 2; ++side) {
            QVariantList params{dateKey(dates[side])};
            if (!category.isEmpty())
                params << category;
            const Rows rows = store.queryMany(
                Db::Main,
                QString("SELECT coalesce(code, ''), 品名, 数量, 金額 FROM 在庫表 WHERE 日付 = ?%1 "
                        "AND 品名 IS NOT NULL")
                    .arg(category.isEmpty() ? "" : " AND 商品区分 = ?"),
                params);
            for (const Row& r : rows) {
                const QString code = r[0].toString(), name = r[1].toString();
                const QString key = code.isEmpty() ? "名\x1f" + name : "コ\x1f" + code;
                Compared& p = byKey[key];
                if (p.name.isEmpty()) {
                    p.code = code;
                    p.name = name;
                }
                p.quantity[side] = p.quantity[side].value_or(0) + r[2].toLongLong();
                p.amount[side] = p.amount[side].value_or(Currency()) + money(r[3]);
                c.quantity[side] += r[2].toLongLong();
                c.amount[side] = c.amount[side] + money(r[3]);
            }
        }
        c.products = byKey.values().toVector();
        std::stable_sort(c.products.begin(), c.products.end(),
                         [](const Compared& a, const Compared& b) {
                             return a.name != b.name ? a.name < b.name : a.code < b.code;
                         });
        return c;
    });
}

Result<QVector<QPair<QDate, Currency>>> valueOverTime(Store& store, const QString& category) {
    return guardedValue<QVector<QPair<QDate, Currency>>>([&] {
        QVector<QPair<QDate, Currency>> out;
        const Rows rows =
            category.isEmpty()
                ? store.query(Db::Main,
                              "SELECT 日付, coalesce(sum(金額), 0) FROM 在庫表集計 GROUP BY 日付 "
                              "ORDER BY 日付")
                : store.query(Db::Main,
                              "SELECT 日付, 金額 FROM 在庫表集計 WHERE 商品区分 = ? ORDER BY 日付",
                              {category});
        for (const Row& r : rows)
            out.append({QDate::fromString(r[0].toString(), Qt::ISODate), money(r[1])});
        return out;
    });
}

} // namespace history
