#include "sheet/SheetOps.h"

#include "codes/CodeOps.h"
#include "products/ProductOps.h"
#include "work/WorkResets.h"

#include <cmath>

namespace sheet {

namespace {
// code … 商品区分: the fields a saved line shares with a work line.
QString lineFields() {
    return columns::list(Columns, ColCode);
}
// Question marks for n bound values.
QString marks(int n) {
    QStringList m;
    for (int i = 0; i < n; ++i)
        m << "?";
    return m.join(", ");
}
} // namespace

QString dateKey(const QDate& d) {
    return d.toString("yyyy-MM-dd");
}

std::int64_t Round端数(double& value, const QString& mode) {
    if (value > 9999999999.99 || value < -9999999999.99)
        return 0;
    if (mode == QStringLiteral("切り捨て")) {
        if (value > 0)
            value += 0.00000001;
    } else if (mode == QStringLiteral("四捨五入")) {
        value += value > 0 ? 0.5 : -0.5;
    } else {
        value += value > 0 ? 0.99999 : -0.99999;
    }
    return std::int64_t(std::trunc(value));
}

namespace {
QVariant nullValue() {
    return QVariant(QMetaType::fromType<QString>());
}

std::optional<std::int64_t> wholeOf(const QVariant& v) {
    if (isEmptyValue(v))
        return std::nullopt;
    if (v.typeId() == QMetaType::QString)
        return parseWholeNumber(v.toString());
    bool ok = false;
    const double d = v.toDouble(&ok);
    if (!ok || std::floor(d) != d)
        return std::nullopt;
    return std::int64_t(d);
}
} // namespace

QVariant lineAmount(const QVariant& qty, const QVariant& price) {
    const auto q = wholeOf(qty);
    const auto p = isEmptyValue(price) ? std::nullopt : Currency::fromVariant(price);
    if (!q || !p)
        return nullValue();
    // Exact product in 1/10000 units, then the ledger's rounding on the double.
    const long double exact = static_cast<long double>(*q) * static_cast<long double>(p->units());
    double value = double(exact / Currency::Scale);
    const std::int64_t whole = Round端数(value, QStringLiteral("四捨五入"));
    return Currency::fromWhole(whole).toVariant();
}

QVariant lineChange(const QVariant& qty, const QVariant& proper) {
    const auto q = wholeOf(qty);
    const auto p = wholeOf(proper);
    if (!q || !p)
        return nullValue();
    return QVariant(qlonglong(*q - *p));
}

ProductLookup Seek商品(Store& store, const QString& name) {
    ProductLookup r;
    const Rows rows = store.query(
        Db::Main,
        "SELECT 単位, 単価, 適正数, 商品区分 FROM 商品マスタ WHERE 品名 = ? ORDER BY id LIMIT 1",
        {name});
    if (rows.isEmpty())
        return r;
    const Row& p = rows.first();
    if (!p[0].isNull())
        r.unit = p[0].toString();
    if (auto c = Currency::fromVariant(p[1]))
        r.price = *c;
    if (auto q = wholeOf(p[2]))
        r.proper = *q;
    if (!p[3].isNull())
        r.category = p[3].toString();
    return r;
}

Result<EditOutcome> afterCellEdit(Store& store, qint64 seq, int column) {
    return guardedValue<EditOutcome>([&] {
        EditOutcome outcome;
        const Rows rows = store.query(
            Db::Work, "SELECT 品名, 数量, 適正数, 単位, 単価, code FROM w在庫表 WHERE seq = ?",
            {seq});
        if (rows.isEmpty())
            return outcome;
        const Row& line = rows.first();
        const QVariant name = line[0], qty = line[1], proper = line[2], unit = line[3],
                       price = line[4], code = line[5];
        switch (column) {
        case ColCode: {
            // A code typed on a line without a name fills it from that product,
            // as a scanned code does; a named line keeps its name.
            if (!isEmptyValue(name) || isEmptyValue(code))
                return outcome;
            const QString fields = columns::list(products::Columns, products::ColName);
            const Rows p = store.query(
                Db::Main,
                "SELECT " + fields + " FROM 商品マスタ WHERE code = ? ORDER BY id LIMIT 1", {code});
            if (p.isEmpty())
                return outcome;
            const QVariant pPrice = p[0][products::ColPrice - products::ColName],
                           pProper = p[0][products::ColProper - products::ColName];
            store.exec(Db::Work,
                       "UPDATE w在庫表 SET 品名 = ?, 単位 = ?, 単価 = ?, 適正数 = ?, 商品区分 = ?, "
                       "金額 = ?, 増減 = ? WHERE seq = ?",
                       {p[0][products::ColName - products::ColName],
                        p[0][products::ColUnit - products::ColName], pPrice, pProper,
                        p[0][products::ColCategory - products::ColName], lineAmount(qty, pPrice),
                        lineChange(qty, pProper), seq});
            break;
        }
        case ColName: {
            if (name.isNull())
                return outcome;
            const ProductLookup p = Seek商品(store, name.toString());
            store.exec(Db::Work,
                       "UPDATE w在庫表 SET 単位 = ?, 単価 = ?, 適正数 = ?, 商品区分 = ? "
                       "WHERE seq = ?",
                       {textOrNull(p.unit), p.price.isZero() ? nullValue() : p.price.toVariant(),
                        qlonglong(p.proper), textOrNull(p.category), seq});
            break;
        }
        case ColQty:
            store.exec(Db::Work, "UPDATE w在庫表 SET 金額 = ?, 増減 = ? WHERE seq = ?",
                       {lineAmount(qty, price), lineChange(qty, proper), seq});
            break;
        case ColProper:
            store.exec(Db::Work, "UPDATE w在庫表 SET 増減 = ? WHERE seq = ?",
                       {lineChange(qty, proper), seq});
            break;
        case ColUnit:
            if (!isEmptyValue(unit)) {
                const Result<bool> added =
                    codes::autoEntry(store, codes::kindUnit(), unit.toString());
                if (!added)
                    throw StoreError(added.error(), store.sqlText(), added.status.kind);
                if (added.value) {
                    if (Status s = resets::read単位(store); !s)
                        throw StoreError(s.error, store.sqlText(), s.kind);
                    outcome.unitsChanged = true;
                }
            }
            break;
        case ColPrice:
            store.exec(Db::Work, "UPDATE w在庫表 SET 金額 = ? WHERE seq = ?",
                       {lineAmount(qty, price), seq});
            break;
        default:
            break;
        }
        return outcome;
    });
}

Result<Currency> calc明細(Store& store) {
    return guardedValue<Currency>([&] {
        const QVariant v = store.scalar(Db::Work, "SELECT sum(金額) AS total FROM w在庫表");
        return Currency::fromVariant(v).value_or(Currency());
    });
}

void Progress::step(int counter) {
    if (total == 0)
        return;
    interval = int(std::lround(total / 9.0));
    if (interval == 0)
        interval = 1;
    if (value < 100 && counter % interval == 0) {
        value += 10;
        if (value > 100)
            value = 100;
    }
}

Result<int> read在庫表(Store& store, const QDate& date, const QString& category,
                       const std::function<void(int)>& onProgress) {
    Progress progress;
    return guardedValue<int>([&] {
        QString where = "日付 = ?";
        QVariantList params{dateKey(date)};
        if (!category.isEmpty()) {
            where += " AND 商品区分 = ?";
            params << category;
        }
        const QVariant cnt =
            store.scalar(Db::Main, "SELECT count(*) FROM 在庫表 WHERE " + where, params);
        if (!cnt.isNull())
            progress.total = cnt.toInt();
        const Rows rows = store.query(Db::Main,
                                      "SELECT " + lineFields() + " FROM 在庫表 WHERE " + where +
                                          " ORDER BY 行番号, id",
                                      params);
        // The whole sheet is loaded, also past the 500th line, so that a later
        // save cannot drop rows nobody saw.
        Transaction t(store, Db::Work);
        store.exec(Db::Work, "DELETE FROM w在庫表");
        QSqlQuery ins =
            store.prepare(Db::Work, "INSERT INTO w在庫表 (チェック, " + lineFields() +
                                        ") VALUES (0, " + marks(ColumnCount - ColCode) + ")");
        int counter = 0;
        for (const Row& r : rows) {
            store.run(ins, QVariantList(r.begin(), r.end()));
            progress.step(counter);
            if (onProgress)
                onProgress(progress.value);
            ++counter;
        }
        QSqlQuery blank = store.prepare(Db::Work, "INSERT INTO w在庫表 (チェック) VALUES (0)");
        for (int i = int(rows.size()); i < resets::SheetLines; ++i)
            store.run(blank, {});
        t.commit();
        return int(rows.size());
    });
}

Result<int> namedLineCount(Store& store) {
    return guardedValue<int>([&] {
        return store.scalar(Db::Work, "SELECT count(*) FROM w在庫表 WHERE 品名 IS NOT NULL")
            .toInt();
    });
}

Result<int> entry在庫表(Store& store, const QDate& date, const QString& category,
                        const std::function<void(int)>& onProgress) {
    Progress progress;
    return guardedValue<int>([&] {
        const Rows lines = store.query(Db::Work, "SELECT " + lineFields() +
                                                     " FROM w在庫表 WHERE 品名 IS NOT NULL "
                                                     "ORDER BY seq");
        const QString day = dateKey(date);
        Transaction t(store, Db::Main);
        if (category.isEmpty())
            store.exec(Db::Main, "DELETE FROM 在庫表 WHERE 日付 = ?", {day});
        else
            store.exec(Db::Main, "DELETE FROM 在庫表 WHERE 日付 = ? AND 商品区分 = ?",
                       {day, category});
        QSqlQuery ins =
            store.prepare(Db::Main, "INSERT INTO 在庫表 (日付, 行番号, " + lineFields() +
                                        ") VALUES (" + marks(2 + ColumnCount - ColCode) + ")");
        // A line entered by name carries no code: the stored code is kept then.
        products::NameMatchedWriter productWriter(store, true);
        codes::SlotWriter slotWriter(store);
        int lineNo = 1;
        for (const Row& l : lines) {
            const auto at = [&](Column c) { return l[c - ColCode]; };
            const QVariant lineCategory = at(ColCategory), unit = at(ColUnit);
            QVariantList values{day, lineNo};
            values += QVariantList(l.begin(), l.end());
            // A sheet saved under a category stores every line in it.
            if (!category.isEmpty())
                values.last() = category;
            store.run(ins, values);
            productWriter.write(at(ColCode), at(ColName), unit, at(ColPrice), at(ColProper),
                                lineCategory);
            if (!unit.isNull())
                slotWriter.enter(codes::kindUnit(), unit.toString());
            if (!lineCategory.isNull())
                slotWriter.enter(codes::kindCategory(), lineCategory.toString());
            progress.step(lineNo);
            if (onProgress)
                onProgress(progress.value);
            ++lineNo;
        }
        t.commit();
        return int(lines.size());
    });
}

Result<Deleted> delete在庫表(Store& store, const QDate& date) {
    return guardedValue<Deleted>([&] {
        Transaction t(store, Db::Main);
        const Rows n = store.query(
            Db::Main,
            "SELECT count(*), count(DISTINCT ifnull(商品区分, '')) FROM 在庫表 WHERE 日付 = ?",
            {dateKey(date)});
        store.exec(Db::Main, "DELETE FROM 在庫表 WHERE 日付 = ?", {dateKey(date)});
        t.commit();
        return Deleted{n[0][0].toInt(), n[0][1].toInt()};
    });
}

Result<int> lineDelete在庫表(Store& store, qint64 seq, const std::optional<QDate>& date) {
    return guardedValue<int>([&] {
        const Rows line =
            store.query(Db::Work, "SELECT code, 品名 FROM w在庫表 WHERE seq = ?", {seq});
        if (line.isEmpty())
            return 0;
        const QVariant code = line[0][0], name = line[0][1];
        if (isEmptyValue(code) && isEmptyValue(name))
            return 0; // a blank line holds no product
        // Both files change in one transaction of the work connection, which
        // holds the main file attached: the saved rows never go without the lines.
        Transaction t(store, Db::Work);
        if (!isEmptyValue(code)) {
            if (date)
                store.exec(Db::Work, "DELETE FROM m.在庫表 WHERE 日付 = ? AND code = ?",
                           {dateKey(*date), code});
            store.exec(Db::Work, "DELETE FROM w在庫表 WHERE code = ?", {code});
        } else {
            // A line typed by name: that line, and the saved rows of the date
            // with the same name and no code.
            if (date)
                store.exec(Db::Work,
                           "DELETE FROM m.在庫表 WHERE 日付 = ? AND 品名 = ? AND "
                           "(code IS NULL OR code = '')",
                           {dateKey(*date), name});
            store.exec(Db::Work, "DELETE FROM w在庫表 WHERE seq = ?", {seq});
        }
        const int n = store.scalar(Db::Work, "SELECT changes()").toInt();
        t.commit();
        return n;
    });
}

Result<int> read商品マスタto在庫表(Store& store) {
    return guardedValue<int>([&] {
        Transaction t(store, Db::Work);
        store.exec(Db::Work, "DELETE FROM w在庫表");
        // The product's fields go into the sheet's fields of the same names.
        const QString fields = columns::list(products::Columns, products::ColCode);
        store.exec(Db::Work, "INSERT INTO w在庫表 (チェック, " + fields + ") SELECT 0, " + fields +
                                 " FROM m.商品マスタ ORDER BY 品名, id");
        const int n = store.scalar(Db::Work, "SELECT count(*) FROM w在庫表").toInt();
        QSqlQuery blank = store.prepare(Db::Work, "INSERT INTO w在庫表 (チェック) VALUES (0)");
        for (int i = n; i < resets::SheetLines; ++i)
            store.run(blank, {});
        t.commit();
        return n;
    });
}

Status fillSheetPrint(Store& store) {
    return guarded([&] {
        Transaction t(store, Db::Work);
        store.exec(Db::Work, "DELETE FROM w在庫表印刷");
        const QString fields = columns::list(Columns);
        store.exec(Db::Work, "INSERT INTO w在庫表印刷 (" + fields + ") SELECT " + fields +
                                 " FROM w在庫表 WHERE 品名 IS NOT NULL ORDER BY seq");
        t.commit();
    });
}

} // namespace sheet
