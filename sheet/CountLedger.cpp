#include "sheet/CountLedger.h"

#include "sheet/LedgerSteps.h"

#include <QSet>
#include <QSysInfo>
#include <cstring>

namespace sheet {

namespace {
constexpr int LineWidth = ColumnCount - ColCode; // code … 商品区分

QString lineFields() {
    return columns::list(Columns, ColCode);
}
QString productFields(const QString& prefix = QString()) {
    QStringList out;
    for (int c = products::ColCode; c < products::SheetFieldsEnd; ++c)
        out << prefix + QString::fromUtf8(products::Columns[c].field);
    return out.join(", ");
}

// A saved line filled from a product's fields (code … 商品区分), counted qty,
// stored under the sheet's category when it has one.
Row lineFrom(const Row& product, qint64 qty, const QString& category) {
    Row line(LineWidth);
    for (int p = products::ColCode; p < products::SheetFieldsEnd; ++p)
        for (int c = ColCode; c < ColumnCount; ++c)
            if (std::strcmp(Columns[c].field, products::Columns[p].field) == 0)
                line[c - ColCode] = product.value(p - products::ColCode);
    line[ColQty - ColCode] = qty;
    line[ColAmount - ColCode] = lineAmount(qty, line[ColPrice - ColCode]);
    line[ColChange - ColCode] = lineChange(qty, line[ColProper - ColCode]);
    if (!category.isEmpty())
        line[ColCategory - ColCode] = category;
    return line;
}

qint64 insertLine(Store& store, const QString& day, const Row& line) {
    QVariantList values{day, day};
    values += QVariantList(line.begin(), line.end());
    return store
        .scalar(Db::Main,
                "INSERT INTO 在庫表 (日付, 行番号, " + lineFields() +
                    ") VALUES (?, (SELECT coalesce(max(行番号), 0) + 1 FROM 在庫表 WHERE 日付 = "
                    "?), " +
                    marks(LineWidth) + ") RETURNING id",
                values)
        .toLongLong();
}

// A line typed without its code gets the code it was scanned by.
void setLineQuantity(Store& store, qint64 id, const QVariant& qty, const QVariant& price,
                     const QVariant& proper, const QString& code = QString()) {
    store.exec(
        Db::Main,
        "UPDATE 在庫表 SET 数量 = ?, 金額 = ?, 増減 = ?, code = coalesce(code, ?) WHERE id = ?",
        {qty, lineAmount(qty, price), lineChange(qty, proper), textOrNull(code), id});
}

StoreError refused(const QString& why) {
    return StoreError(why, QString());
}
} // namespace

Result<ScanRecorded> recordScan(Store& store, const QDate& date, const QString& category,
                                const QString& code, qint64 count, const QString& counter,
                                const ScanOrigin& origin) {
    return guardedValue<ScanRecorded>([&] {
        ScanRecorded out;
        const QString day = dateKey(date);
        Transaction t(store, Db::Main);
        store.lockDate(day);
        // Whether the date is closed, its line with the code and the product
        // with it, in one statement: a scan is a few round trips to a server.
        // A line typed by name without its code is the same product's.
        QVariantList params{day, day, code, code};
        if (!category.isEmpty())
            params << category;
        params << code;
        const Row r =
            store
                .query(Db::Main,
                       "SELECT c.n, z.id, z.数量, z.単価, z.適正数, z.品名, z.商品区分, p.id, "
                       "p.棚番, " +
                           productFields("p.") +
                           " FROM (SELECT count(*) AS n FROM 在庫表確定 WHERE 日付 = ?) c "
                           "LEFT JOIN (SELECT id, 数量, 単価, 適正数, 品名, 商品区分, 行番号 FROM "
                           "在庫表 WHERE 日付 = ? AND (code = ? OR (code IS NULL AND 品名 = "
                           "(SELECT 品名 "
                           "FROM 商品マスタ WHERE code = ? ORDER BY id LIMIT 1)))" +
                           (category.isEmpty() ? QString() : QStringLiteral(" AND 商品区分 = ?")) +
                           " ORDER BY 行番号, id LIMIT 1) z ON 1 = 1 LEFT JOIN (SELECT id, "
                           "棚番, " +
                           productFields() +
                           " FROM 商品マスタ WHERE code = ? ORDER BY id LIMIT 1) p ON 1 = 1",
                       params)
                .value(0);
        if (r.value(0).toInt() > 0)
            throw StoreError(closedMessage(date), store.sqlText(), ErrorKind::Closed);
        const bool hasLine = !r.value(1).isNull(), hasProduct = !r.value(7).isNull();
        const bool once = origin.device && !origin.request.isEmpty();
        if (once &&
            !store
                 .query(Db::Main, "SELECT 記録 FROM 端末スキャン WHERE 端末 = ? AND 依頼 = ?",
                        {origin.device, origin.request})
                 .isEmpty()) {
            out.repeat = out.known = true;
            out.name = hasLine ? r[5].toString() : r.value(10).toString();
            out.quantity = r[2].toLongLong();
            return out;
        }
        if (!hasLine && !hasProduct)
            return out; // a code nobody has waits on the screen
        out.known = true;
        out.product = r.mid(9);
        const qint64 before = r[2].toLongLong();
        out.name = hasLine ? r[5].toString() : out.product.value(1).toString();
        if (before + count < 0) {
            out.belowZero = true;
            out.quantity = before;
            return out;
        }
        out.quantity = before + count;
        Row line;
        if (hasLine) {
            out.lineId = r[1].toLongLong();
            out.category = r[6].toString();
            setLineQuantity(store, out.lineId, out.quantity, r[3], r[4], code);
        } else {
            line = lineFrom(out.product, out.quantity, category);
            out.category = line[ColCategory - ColCode].toString();
            out.lineId = insertLine(store, day, line);
        }
        const QString when = now();
        const qint64 entry =
            recordEntry(store, day, entryKind::Scanned,
                        {out.category, code, out.name, hasLine ? r[2] : QVariant(), out.quantity},
                        {r[7], r[8]}, counter, when, 0, origin.terminal);
        if (once)
            store.exec(Db::Main, "INSERT INTO 端末スキャン (端末, 依頼, 記録) VALUES (?, ?, ?)",
                       {origin.device, origin.request, entry});
        out.version = raiseVersion(store, day, out.category, when);
        out.versionBefore = out.version - 1;
        // A scan repeated because its answer was lost would count twice.
        t.commitKnown();
        return out;
    });
}

namespace {
// Products with no saved line of the date, in shelf order: id, 棚番, then
// code … 商品区分.
Rows uncounted(Store& store, const QString& day, const QString& category) {
    QVariantList params{day, day};
    if (!category.isEmpty())
        params << category;
    return store.query(Db::Main,
                       "SELECT id, 棚番, " + productFields() +
                           " FROM 商品マスタ WHERE (code IS NULL OR code NOT IN (SELECT code "
                           "FROM 在庫表 WHERE 日付 = ? AND code IS NOT NULL)) AND 品名 NOT IN "
                           "(SELECT 品名 FROM 在庫表 WHERE 日付 = ? AND 品名 IS NOT NULL)" +
                           (category.isEmpty() ? QString() : QStringLiteral(" AND 商品区分 = ?")) +
                           " ORDER BY " + products::ShelfOrder,
                       params);
}
} // namespace

Result<Rows> uncountedProducts(Store& store, const QDate& date, const QString& category) {
    return guardedValue<Rows>([&] {
        Rows out;
        for (const Row& r : uncounted(store, dateKey(date), category))
            out << Row{r[0], r[1], r[2], r[3], r[2 + products::ColCategory - products::ColCode]};
        return out;
    });
}

Result<int> recordUncountedZero(Store& store, const QDate& date, const QString& category,
                                const QString& counter) {
    return guardedValue<int>([&] {
        const QString day = dateKey(date);
        Transaction t(store, Db::Main);
        store.lockDate(day);
        refuseClosed(store, date);
        const Rows products = uncounted(store, day, category);
        qint64 lineNo =
            store
                .scalar(Db::Main, "SELECT coalesce(max(行番号), 0) FROM 在庫表 WHERE 日付 = ?",
                        {day})
                .toLongLong();
        const QString when = now();
        Batch lines(store, Db::Main, "在庫表", "日付, 行番号, " + lineFields(), LargeChunk);
        Batch entries(store, Db::Main, "棚卸記録",
                      "日付, 商品区分, 棚番, 商品, code, 品名, 種類, 前数量, 後数量, 担当, 端末, "
                      "記録日時",
                      LargeChunk);
        QSet<QString> sheets;
        for (const Row& p : products) {
            const Row line = lineFrom(p.mid(2), 0, category);
            QVariantList values{day, ++lineNo};
            values += QVariantList(line.begin(), line.end());
            lines.add(values);
            const QVariant stored = line[ColCategory - ColCode];
            sheets.insert(stored.toString());
            entries.add({day, stored, p[1], p[0], line[0], line[1], entryKind::UncountedZero,
                         QVariant(), 0, textOrNull(counter), QSysInfo::machineHostName(), when});
        }
        lines.flush();
        entries.flush();
        raiseVersions(store, day, sheets, when);
        t.commitKnown();
        return int(products.size());
    });
}

Result<qint64> lastScanOf(Store& store, const QDate& date, const QString& terminal) {
    return guardedValue<qint64>([&] {
        return store
            .scalar(
                Db::Main,
                "SELECT id FROM 棚卸記録 WHERE 日付 = ? AND 端末 = ? AND 種類 = ? AND id NOT IN "
                "(SELECT 取消 FROM 棚卸記録 WHERE 日付 = ? AND 取消 IS NOT NULL) ORDER BY id "
                "DESC LIMIT 1",
                {dateKey(date), terminal, entryKind::Scanned, dateKey(date)})
            .toLongLong();
    });
}

Result<qint64> undoEntry(Store& store, qint64 entryId, const QString& counter,
                         const QString& terminal) {
    return guardedValue<qint64>([&] {
        Transaction t(store, Db::Main);
        const QString entryFields = "日付, coalesce(商品区分, ''), code, 品名, 種類, 前数量, "
                                    "後数量, 商品, 棚番";
        Row e =
            store
                .query(Db::Main, "SELECT " + entryFields + " FROM 棚卸記録 WHERE id = ?", {entryId})
                .value(0);
        if (e.isEmpty())
            throw refused(QStringLiteral("この記録はもうありません。"));
        const QString day = e[0].toString();
        const QDate date = QDate::fromString(day, Qt::ISODate);
        store.lockDate(day);
        refuseClosed(store, date);
        if (e[4].toString() == entryKind::Undone)
            throw refused(QStringLiteral("取消の記録は取り消せません。"));
        if (store.scalar(Db::Main, "SELECT count(*) FROM 棚卸記録 WHERE 取消 = ?", {entryId})
                .toInt() > 0)
            throw refused(QStringLiteral("この記録はすでに取り消されています。"));
        const QString sheetCategory = e[1].toString(), code = e[2].toString(),
                      name = e[3].toString();
        const qint64 change = e[6].toLongLong() - e[5].toLongLong();
        QVariantList params{day, sheetCategory};
        params << (code.isEmpty() ? name : code);
        const Row line =
            store
                .query(Db::Main,
                       "SELECT id, 数量, 単価, 適正数 FROM 在庫表 WHERE 日付 = ? AND "
                       "coalesce(商品区分, '') = ? AND " +
                           (code.isEmpty() ? QStringLiteral("code IS NULL AND 品名 = ?")
                                           : QStringLiteral("code = ?")) +
                           " ORDER BY 行番号, id LIMIT 1",
                       params)
                .value(0);
        const qint64 stored = line.isEmpty() ? 0 : line[1].toLongLong();
        const qint64 back = stored - change;
        if (back < 0)
            throw refused(QStringLiteral("%1 の数量は %2 です。この記録を取り消すと 0 より"
                                         "少なくなるため、取り消せません。")
                              .arg(name)
                              .arg(stored));
        QVariant after = back;
        if (!line.isEmpty()) {
            if (back == 0 && e[5].isNull()) {
                // The entry made the line: taken back, the product is uncounted again.
                store.exec(Db::Main, "DELETE FROM 在庫表 WHERE id = ?", {line[0]});
                after = QVariant();
            } else {
                setLineQuantity(store, line[0].toLongLong(), back, line[2], line[3]);
            }
        } else if (back > 0) {
            // A deleted line comes back, filled from its product as it is now.
            const Row product = store
                                    .query(Db::Main,
                                           "SELECT " + productFields() + " FROM 商品マスタ WHERE " +
                                               (code.isEmpty() ? QStringLiteral("品名 = ?")
                                                               : QStringLiteral("code = ?")) +
                                               " ORDER BY id LIMIT 1",
                                           {code.isEmpty() ? name : code})
                                    .value(0);
            Row filled = product.isEmpty() ? Row{textOrNull(code), name} : product;
            filled.resize(products::SheetFieldsEnd - products::ColCode);
            Row restored = lineFrom(filled, back, QString());
            restored[ColCategory - ColCode] = textOrNull(sheetCategory);
            insertLine(store, day, restored);
        }
        const QString when = now();
        const qint64 id =
            recordEntry(store, day, entryKind::Undone,
                        {sheetCategory, code, name, line.isEmpty() ? QVariant() : line[1], after},
                        {e[7], e[8]}, counter, when, entryId, terminal);
        raiseVersion(store, day, sheetCategory, when);
        t.commitKnown();
        return id;
    });
}

} // namespace sheet
