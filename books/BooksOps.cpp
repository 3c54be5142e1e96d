#include "books/BooksOps.h"

#include "sheet/LedgerSteps.h"

#include <QSet>

namespace books {

QStringList methods() {
    return {QStringLiteral("最終仕入原価法"), QStringLiteral("先入先出法"),
            QStringLiteral("総平均法"),       QStringLiteral("移動平均法"),
            QStringLiteral("個別法"),         QStringLiteral("売価還元法")};
}
QStringList accountings() {
    return {QStringLiteral("税込経理"), QStringLiteral("税抜経理")};
}
QStringList priceTaxes() {
    return {QStringLiteral("税込"), QStringLiteral("税抜")};
}
QStringList roundings() {
    return {QStringLiteral("四捨五入"), QStringLiteral("切り捨て"), QStringLiteral("切り上げ")};
}

namespace {
struct Key {
    const char* name;
    QString Settings::*field;
    QStringList (*choices)();
};
const Key Keys[] = {{"評価方法", &Settings::method, methods},
                    {"経理方式", &Settings::accounting, accountings},
                    {"単価の税", &Settings::priceTax, priceTaxes},
                    {"端数処理", &Settings::rounding, roundings}};
} // namespace

Result<Settings> readSettings(Store& store) {
    return guardedValue<Settings>([&] {
        Settings s;
        for (const Row& r : store.query(Db::Main, "SELECT 項目, 値 FROM 帳簿設定"))
            for (const Key& k : Keys)
                if (r[0].toString() == QString::fromUtf8(k.name) &&
                    k.choices().contains(r[1].toString()))
                    s.*k.field = r[1].toString();
        return s;
    });
}

Status writeSettings(Store& store, const Settings& settings) {
    for (const Key& k : Keys)
        if (!k.choices().contains(settings.*k.field))
            return Status::failed(QStringLiteral("%1「%2」は選べません。")
                                      .arg(QString::fromUtf8(k.name), settings.*k.field));
    return guarded([&] {
        Transaction t(store, Db::Main);
        for (const Key& k : Keys)
            store.exec(Db::Main,
                       "INSERT INTO 帳簿設定 (項目, 値) VALUES (?, ?) "
                       "ON CONFLICT (項目) DO UPDATE SET 値 = excluded.値",
                       {QString::fromUtf8(k.name), settings.*k.field});
        t.commit();
    });
}

Result<Company> readCompany(Store& store) {
    return guardedValue<Company>([&] {
        const Rows r =
            store.query(Db::Main, "SELECT 会社名, 住所 FROM 自社情報 ORDER BY id LIMIT 1");
        return r.isEmpty() ? Company{} : Company{r[0][0].toString(), r[0][1].toString()};
    });
}

Status writeCompany(Store& store, const Company& company) {
    return guarded([&] {
        Transaction t(store, Db::Main);
        const QVariant id = store.scalar(Db::Main, "SELECT id FROM 自社情報 ORDER BY id LIMIT 1");
        if (id.isNull())
            store.exec(Db::Main, "INSERT INTO 自社情報 (会社名, 住所) VALUES (?, ?)",
                       {textOrNull(company.name.trimmed()), textOrNull(company.address.trimmed())});
        else
            store.exec(
                Db::Main, "UPDATE 自社情報 SET 会社名 = ?, 住所 = ? WHERE id = ?",
                {textOrNull(company.name.trimmed()), textOrNull(company.address.trimmed()), id});
        t.commit();
    });
}

qint64 roundRatio(qint64 num, qint64 den, const QString& rounding) {
    const qint64 q = num / den, r = num % den; // toward zero
    if (r == 0)
        return q;
    const qint64 away = num < 0 ? q - 1 : q + 1;
    if (rounding == QStringLiteral("切り捨て"))
        return q;
    if (rounding == QStringLiteral("切り上げ"))
        return away;
    return 2 * (r < 0 ? -r : r) >= den ? away : q;
}

namespace {
// The factor from the prices' tax to the books': (numerator, denominator).
std::pair<qint64, qint64> factor(int rate, const Settings& s) {
    const bool pricesWithTax = s.priceTax == QStringLiteral("税込");
    const bool booksWithTax = s.accounting == QStringLiteral("税込経理");
    if (pricesWithTax == booksWithTax)
        return {1, 1};
    return booksWithTax ? std::pair<qint64, qint64>{100 + rate, 100}
                        : std::pair<qint64, qint64>{100, 100 + rate};
}
} // namespace

qint64 bookAmount(qint64 amount, int rate, const Settings& s) {
    const auto [num, den] = factor(rate, s);
    return roundRatio(amount * num, den, s.rounding);
}

Currency bookPrice(const Currency& price, int rate, const Settings& s) {
    const auto [num, den] = factor(rate, s);
    // To the sen: 100 units of the four decimals money keeps.
    const qint64 sen = roundRatio(price.units() * num, den * 100, QStringLiteral("四捨五入"));
    return Currency::fromUnits(sen * 100);
}

Result<Inventory> inventory(Store& store, const QDate& date) {
    return guardedValue<Inventory>([&] {
        Inventory inv;
        inv.date = date;
        const Result<Settings> settings = readSettings(store);
        inv.settings = valueOf(settings);
        // One snapshot: the lines, the closing and the entries agree.
        Transaction t(store, Db::Main, Transaction::Snapshot);
        inv.closed =
            store
                .scalar(Db::Main, "SELECT count(*) FROM 在庫表確定 WHERE 日付 = ?", {dateKey(date)})
                .toInt() > 0;
        const Company company = valueOf(readCompany(store));
        inv.company = company.name;
        inv.address = company.address;
        // A line's rate is its product's: by code, or by name for a line without one.
        const Rows lines = store.query(
            Db::Main,
            "SELECT coalesce(l.商品区分, ''), l.品名, l.単位, l.数量, l.単価, l.金額, "
            "coalesce((SELECT p.税率 FROM 商品マスタ p WHERE (l.code IS NOT NULL AND p.code = "
            "l.code) OR (l.code IS NULL AND p.品名 = l.品名) ORDER BY p.id LIMIT 1), 10) "
            "FROM 在庫表 l WHERE l.日付 = ? AND l.品名 IS NOT NULL AND l.数量 IS NOT NULL AND "
            "l.数量 <> 0 ORDER BY 1, l.行番号, l.id",
            {dateKey(date)});
        for (const Row& r : lines) {
            if (inv.groups.isEmpty() || inv.groups.last().category != r[0].toString())
                inv.groups.append(InventoryGroup{r[0].toString(), {}, 0});
            InventoryLine l;
            l.name = r[1].toString();
            l.unit = r[2].toString();
            l.quantity = r[3].toLongLong();
            l.rate = r[6].toInt() == ReducedRate ? ReducedRate : StandardRate;
            const Currency price = Currency::fromVariant(r[4]).value_or(Currency());
            const Currency stored = Currency::fromVariant(r[5]).value_or(Currency());
            l.price = bookPrice(price, l.rate, inv.settings);
            // The stored amount is whole yen (the ledger rounds every line).
            l.amount = bookAmount(stored.units() / Currency::Scale, l.rate, inv.settings);
            inv.groups.last().subtotal += l.amount;
            inv.total += l.amount;
            inv.groups.last().lines << l;
        }
        for (const Row& r : store.query(Db::Main,
                                        "SELECT DISTINCT 担当 FROM 棚卸記録 WHERE 日付 = ? AND "
                                        "担当 IS NOT NULL AND 担当 <> '' ORDER BY 1",
                                        {dateKey(date)}))
            inv.counters << r[0].toString();
        t.commit();
        return inv;
    });
}

Result<int> recompute(Store& store, const QDate& date, const QString& rounding) {
    if (!roundings().contains(rounding))
        return {Status::failed(QStringLiteral("端数処理「%1」は選べません。").arg(rounding)), 0};
    return guardedValue<int>([&] {
        Transaction t(store, Db::Main);
        const QString day = dateKey(date);
        store.lockDate(day);
        sheet::refuseClosed(store, date);
        Batch write(
            store, Db::Main,
            [&store](int n) {
                return "UPDATE 在庫表 SET 金額 = v.column2 FROM (VALUES " +
                       store.typedRows(Db::Main, n, {"INTEGER", "NUMERIC"}) +
                       ") AS v WHERE 在庫表.id = v.column1";
            },
            2, LargeChunk);
        int lines = 0;
        QSet<QString> sheets;
        for (const Row& r : store.query(Db::Main,
                                        "SELECT id, 数量, 単価, 金額, coalesce(商品区分, '') FROM "
                                        "在庫表 WHERE 日付 = ?",
                                        {day})) {
            const QVariant amount = sheet::lineAmount(r[1], r[2], rounding);
            if (Currency::fromVariant(r[3]) == Currency::fromVariant(amount))
                continue;
            write.add({r[0], amount});
            sheets << r[4].toString();
            ++lines;
        }
        write.flush();
        if (!sheets.isEmpty())
            sheet::raiseVersions(store, day, sheets, sheet::now());
        t.commit();
        return lines;
    });
}

Result<QVector<QDate>> closedCounts(Store& store, const QDate& today) {
    return guardedValue<QVector<QDate>>([&] {
        QVector<QDate> out;
        for (const Row& r :
             store.query(Db::Main, "SELECT 日付 FROM 在庫表確定 WHERE 日付 >= ? ORDER BY 日付 DESC",
                         {dateKey(today.addYears(-7))}))
            out << QDate::fromString(r[0].toString(), Qt::ISODate);
        return out;
    });
}

QString namedDates(const QVector<QDate>& dates, int most) {
    QStringList names;
    for (int i = 0; i < dates.size() && i < most; ++i)
        names << dates[i].toString(QStringLiteral("yyyy年M月d日"));
    QString out = names.join(QStringLiteral("、"));
    if (dates.size() > most)
        out += QStringLiteral(" ほか %1 件").arg(dates.size() - most);
    return out;
}

} // namespace books
