#include "sheet/SheetOps.h"

#include "codes/CodeOps.h"
#include "products/ProductOps.h"
#include "work/WorkResets.h"

#include <QDateTime>
#include <QSet>
#include <cmath>

namespace sheet {

namespace {
// code … 商品区分: the fields a saved line shares with a work line.
QString lineFields() {
    return columns::list(Columns, ColCode);
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
    const Rows rows = store.query(Db::Main,
                                  "SELECT " + columns::list(products::Columns, products::ColUnit) +
                                      " FROM 商品マスタ WHERE 品名 = ? ORDER BY id LIMIT 1",
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

NameMatch matchName(Store& store, const QString& name) {
    const Rows r =
        store.query(Db::Main, "SELECT count(*), max(code) FROM 商品マスタ WHERE 品名 = ?", {name});
    NameMatch m;
    m.products = r.value(0).value(0).toInt();
    if (m.products == 1)
        m.code = r[0][1].toString();
    return m;
}

namespace {
// The code a named line should carry: the code of the one product with the
// name, when the line has none or carries the code of another product (its
// name was retyped); otherwise the line's own.
QVariant codeForName(Store& store, const QVariant& lineCode, const QString& name, bool* ambiguous) {
    const NameMatch m = matchName(store, name);
    *ambiguous = m.products > 1;
    if (m.products != 1 || m.code.isEmpty())
        return lineCode;
    if (isEmptyValue(lineCode))
        return m.code;
    const Rows other = store.query(Db::Main,
                                   "SELECT count(*), coalesce(sum(CASE WHEN 品名 = ? THEN 1 ELSE 0 "
                                   "END), 0) FROM 商品マスタ WHERE code = ?",
                                   {name, lineCode});
    const bool anotherProducts = other[0][0].toInt() > 0 && other[0][1].toInt() == 0;
    return anotherProducts ? QVariant(m.code) : lineCode;
}
} // namespace

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
            // The product's fields go into the sheet's fields of the same names.
            store.exec(Db::Work,
                       "UPDATE w在庫表 SET " +
                           columns::assignments(products::Columns, products::ColName) +
                           ", 金額 = ?, 増減 = ? WHERE seq = ?",
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
            // One product, one line: a scan of its code later counts here.
            const QVariant lineCode = codeForName(store, code, name.toString(), &outcome.ambiguous);
            store.exec(Db::Work,
                       "UPDATE w在庫表 SET " +
                           columns::assignments(products::Columns, products::ColUnit) +
                           ", code = ? WHERE seq = ?",
                       {textOrNull(p.unit), p.price.isZero() ? nullValue() : p.price.toVariant(),
                        qlonglong(p.proper), textOrNull(p.category), lineCode, seq});
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

namespace {
const QString SavedCategory = "coalesce(商品区分, '')";

// The saved sheets of a date (one category when given) with their lines.
Rows savedSheetsOf(Store& store, const QString& day, const QString& category) {
    if (category.isEmpty())
        return store.query(Db::Main, "SELECT 商品区分, 行数 FROM 在庫表集計 WHERE 日付 = ?", {day});
    return store.query(Db::Main,
                       "SELECT 商品区分, 行数 FROM 在庫表集計 WHERE 日付 = ? AND 商品区分 = ?",
                       {day, category});
}

// savedSheetsOf with each sheet's version, and a row (null, -1) when the date is closed.
Rows sheetsOrClosed(Store& store, const QString& day, const QString& category) {
    const QString one = category.isEmpty() ? QString() : QStringLiteral(" AND s.商品区分 = ?");
    QVariantList params{day};
    if (!category.isEmpty())
        params << category;
    params << day;
    return store.query(
        Db::Main,
        "SELECT s.商品区分, s.行数, coalesce(v.版, 0) FROM 在庫表集計 s LEFT JOIN "
        "在庫表版 v ON v.日付 = s.日付 AND v.商品区分 = s.商品区分 WHERE s.日付 = ?" +
            one + " UNION ALL SELECT NULL, -1, 0 FROM 在庫表確定 WHERE 日付 = ?",
        params);
}

struct VersionRow {
    qint64 version = 0;
    QString savedAt;
};
VersionRow versionOf(Store& store, const QString& day, const QString& category) {
    const Rows r = store.query(
        Db::Main, "SELECT 版, 保存日時 FROM 在庫表版 WHERE 日付 = ? AND 商品区分 = coalesce(?, '')",
        {day, category});
    if (r.isEmpty())
        return {};
    return {r[0][0].toLongLong(), r[0][1].toString()};
}

Versions versionsOf(Store& store, const QString& day, const QString& category) {
    Versions v;
    if (!category.isEmpty())
        v[category] = versionOf(store, day, category).version;
    for (const Row& r : savedSheetsOf(store, day, category))
        v[r[0].toString()] = versionOf(store, day, r[0].toString()).version;
    return v;
}

// Every change of a saved sheet's lines raises its version; versions are
// never reused, so an old reading cannot match a newer sheet.
void raiseVersions(Store& store, const QString& day, const QSet<QString>& categories,
                   const QString& when) {
    if (categories.isEmpty())
        return;
    QVariantList params;
    QStringList rows;
    for (const QString& c : categories) {
        params << day << (c.isNull() ? QString("") : c) << when;
        rows << "(?, ?, 1, ?)";
    }
    store.exec(Db::Main,
               "INSERT INTO 在庫表版 (日付, 商品区分, 版, 保存日時) VALUES " + rows.join(", ") +
                   " ON CONFLICT (日付, 商品区分) DO UPDATE SET 版 = 在庫表版.版 + 1, "
                   "保存日時 = excluded.保存日時",
               params);
}
void raiseVersion(Store& store, const QString& day, const QString& category, const QString& when) {
    raiseVersions(store, day, {category}, when);
}

QString now() {
    return QDateTime::currentDateTime().toString(Qt::ISODate);
}

void refuseClosed(Store& store, const QDate& date) {
    if (store.scalar(Db::Main, "SELECT count(*) FROM 在庫表確定 WHERE 日付 = ?", {dateKey(date)})
            .toInt() > 0)
        throw StoreError(closedMessage(date), store.sqlText(), ErrorKind::Closed);
}

QString shownTime(const QString& iso) {
    const QDateTime t = QDateTime::fromString(iso, Qt::ISODate);
    if (!t.isValid())
        return QString();
    return t.date() == QDate::currentDate() ? t.toString("hh:mm") : t.toString("yyyy/MM/dd hh:mm");
}
} // namespace

QString closedMessage(const QDate& date) {
    return QStringLiteral("%1 の在庫表は確定済みです。変更するには確定を解除してください。")
        .arg(date.toString("yyyy年MM月dd日"));
}

Result<int> read在庫表(Store& store, const QDate& date, const QString& category,
                       const std::function<void(int)>& onProgress, LoadedFrom* from) {
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
                                      "SELECT " + lineFields() + ", id FROM 在庫表 WHERE " + where +
                                          " ORDER BY 行番号, id",
                                      params);
        const Versions versions = versionsOf(store, dateKey(date), category);
        // The whole sheet is loaded, also past the 500th line, so that a later
        // save cannot drop rows nobody saw.
        Transaction t(store, Db::Work);
        store.exec(Db::Work, "DELETE FROM w在庫表");
        QSqlQuery ins = store.prepare(Db::Work, "INSERT INTO w在庫表 (チェック, " + lineFields() +
                                                    ", " + SavedIdField + ") VALUES (0, " +
                                                    marks(ColumnCount - ColCode + 1) + ")");
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
        if (from)
            *from = LoadedFrom{date, versions};
        return int(rows.size());
    });
}

Result<QVector<Unloaded>> unloadedSheets(Store& store, const QDate& date, const QString& category,
                                         const LoadedFrom& loaded) {
    return guardedValue<QVector<Unloaded>>([&] {
        QVector<Unloaded> out;
        const QString day = dateKey(date);
        for (const Row& r : savedSheetsOf(store, day, category)) {
            const QString k = r[0].toString();
            const VersionRow v = versionOf(store, day, k);
            if (r[1].toInt() <= 0 || (loaded.date == date && loaded.versions.contains(k) &&
                                      loaded.versions.value(k) == v.version))
                continue;
            out << Unloaded{k, r[1].toInt(), v.version, shownTime(v.savedAt)};
        }
        return out;
    });
}

Result<MasterEffect> masterEffect(Store& store) {
    return guardedValue<MasterEffect>([&] {
        struct Fields {
            QString code, unit, category;
            std::optional<Currency> price;
            std::optional<std::int64_t> proper;
            bool added = false;
        };
        const auto fields = [](const QVariant& code, const QVariant& unit, const QVariant& price,
                               const QVariant& proper, const QVariant& category) {
            return Fields{code.toString(), unit.toString(), category.toString(),
                          isEmptyValue(price) ? std::nullopt : Currency::fromVariant(price),
                          wholeOf(proper)};
        };
        const auto money = [](const std::optional<Currency>& c) {
            return c ? c->toString() : QStringLiteral("（なし）");
        };
        const auto whole = [](const std::optional<std::int64_t>& n) {
            return n ? QString::number(*n) : QStringLiteral("（なし）");
        };
        const auto text = [](const QString& t) {
            return t.isEmpty() ? QStringLiteral("（なし）") : t;
        };
        QHash<QString, Fields> seen;
        QStringList changedOrder;
        QHash<QString, QStringList> diffs;
        MasterEffect e;
        // The sheet's product fields, as a product's (code … 商品区分).
        const Rows lines =
            store.query(Db::Work, "SELECT " + columns::list(products::Columns, products::ColCode) +
                                      " FROM w在庫表 WHERE 品名 IS NOT NULL ORDER BY seq");
        QStringList names;
        for (const Row& l : lines)
            names << l[1].toString();
        const QHash<QString, Row> stored = products::firstOfNames(store, names);
        for (const Row& l : lines) {
            const QString name = l[1].toString();
            if (!seen.contains(name)) {
                const auto p = stored.constFind(name);
                if (p == stored.constEnd()) {
                    Fields f = fields(l[0], l[2], l[3], l[4], l[5]);
                    f.added = true;
                    seen.insert(name, f);
                    e.added << name;
                    continue;
                }
                const Row& r = *p; // id, 版, code … 商品区分
                seen.insert(name, fields(r[2], r[4], r[5], r[6], r[7]));
            }
            Fields& old = seen[name];
            // A line without a code keeps the stored one.
            const Fields now =
                fields(isEmptyValue(l[0]) ? QVariant(old.code) : l[0], l[2], l[3], l[4], l[5]);
            QStringList d;
            if (now.code != old.code)
                d << QStringLiteral("コード %1 → %2").arg(text(old.code), text(now.code));
            if (now.unit != old.unit)
                d << QStringLiteral("単位 %1 → %2").arg(text(old.unit), text(now.unit));
            if (now.price != old.price)
                d << QStringLiteral("単価 %1 → %2").arg(money(old.price), money(now.price));
            if (now.proper != old.proper)
                d << QStringLiteral("適正数 %1 → %2").arg(whole(old.proper), whole(now.proper));
            if (now.category != old.category)
                d << QStringLiteral("商品区分 %1 → %2").arg(text(old.category), text(now.category));
            const bool added = old.added;
            old = now;
            old.added = added;
            if (d.isEmpty() || added)
                continue;
            if (!diffs.contains(name))
                changedOrder << name;
            diffs[name] << d;
        }
        for (const QString& name : changedOrder)
            e.changed << name + ": " + diffs[name].join(QStringLiteral("、"));
        return e;
    });
}

Result<QSet<QString>> unknownNames(Store& store) {
    return guardedValue<QSet<QString>>([&] {
        QStringList names;
        for (const Row& r : store.query(Db::Work, "SELECT DISTINCT 品名 FROM w在庫表 "
                                                  "WHERE 品名 IS NOT NULL AND 品名 <> ''"))
            names << r[0].toString();
        const QHash<QString, Row> known = products::firstOfNames(store, names);
        QSet<QString> out;
        for (const QString& n : std::as_const(names))
            if (!known.contains(n))
                out.insert(n);
        return out;
    });
}

Result<int> namedLineCount(Store& store) {
    return guardedValue<int>([&] {
        return store.scalar(Db::Work, "SELECT count(*) FROM w在庫表 WHERE 品名 IS NOT NULL")
            .toInt();
    });
}

namespace {
// A product on a sheet: its category, then its code, or its name without one.
QString productKey(const QVariant& category, const QVariant& code, const QVariant& name) {
    return category.toString() + QChar(0x1f) +
           (isEmptyValue(code) ? "n" + name.toString() : "c" + code.toString());
}

// Adds the sheet's lines to saved ones: a product on both becomes one line
// (the sheet's fields, the quantities summed); others follow in sheet order.
Rows addLines(Rows saved, const Rows& lines, const QString& category) {
    const auto at = [](const Row& l, Column c) { return l[c - ColCode]; };
    QHash<QString, int> index;
    for (int i = 0; i < saved.size(); ++i)
        index.insert(
            productKey(at(saved[i], ColCategory), at(saved[i], ColCode), at(saved[i], ColName)), i);
    for (Row l : lines) {
        if (!category.isEmpty())
            l[ColCategory - ColCode] = category;
        const auto hit =
            index.constFind(productKey(at(l, ColCategory), at(l, ColCode), at(l, ColName)));
        if (hit == index.constEnd()) {
            saved << l;
            continue;
        }
        const auto q1 = wholeOf(at(saved[*hit], ColQty)), q2 = wholeOf(at(l, ColQty));
        const QVariant qty =
            q1 || q2 ? QVariant(qlonglong(q1.value_or(0) + q2.value_or(0))) : at(l, ColQty);
        l[ColQty - ColCode] = qty;
        l[ColAmount - ColCode] = lineAmount(qty, at(l, ColPrice));
        l[ColChange - ColCode] = lineChange(qty, at(l, ColProper));
        saved[*hit] = l;
    }
    return saved;
}
} // namespace

Result<int> entry在庫表(Store& store, const QDate& date, const QString& category,
                        const std::function<void(int)>& onProgress, const SaveMode& mode,
                        LoadedFrom* after) {
    Progress progress;
    return guardedValue<int>([&] {
        const Rows lines = store.query(Db::Work, "SELECT " + lineFields() +
                                                     " FROM w在庫表 WHERE 品名 IS NOT NULL "
                                                     "ORDER BY seq");
        const QString day = dateKey(date);
        Transaction t(store, Db::Main);
        store.lockDate(day);
        store.lockSlots(); // a save writes products and slots too: date, slots, then rows
        // The sheets this save replaces, with their versions, and whether the
        // date is closed (a row of its own), in one statement: each sheet must
        // still be the one the user loaded or was asked about.
        QSet<QString> touched;
        for (const Row& r : sheetsOrClosed(store, day, category)) {
            if (r[1].toInt() < 0)
                throw StoreError(closedMessage(date), store.sqlText(), ErrorKind::Closed);
            const QString k = r[0].toString();
            touched.insert(k);
            if (mode.expected && r[1].toInt() > 0 &&
                (!mode.expected->contains(k) || mode.expected->value(k) != r[2].toLongLong()))
                throw StoreError(QStringLiteral("%1 %2 の在庫表は読み込んだ後に保存されています。"
                                                "上書きしていません。")
                                     .arg(date.toString("yyyy年MM月dd日"), k)
                                     .trimmed(),
                                 store.sqlText(), ErrorKind::Conflict);
        }
        QString where = "日付 = ?";
        QVariantList params{day};
        if (!category.isEmpty()) {
            where += " AND 商品区分 = ?";
            params << category;
        }
        Rows rows = lines;
        if (mode.add)
            rows = addLines(store.query(Db::Main,
                                        "SELECT " + lineFields() + " FROM 在庫表 WHERE " + where +
                                            " ORDER BY 行番号, id",
                                        params),
                            lines, category);
        store.exec(Db::Main, "DELETE FROM 在庫表 WHERE " + where, params);
        // The lines go in a few many-row statements: a save is a handful of
        // statements whatever its length, also to a server far away.
        Batch ins(store, Db::Main, "在庫表", "日付, 行番号, " + lineFields(), LargeChunk);
        int lineNo = 1;
        for (const Row& l : rows) {
            QVariantList values{day, lineNo++};
            values += QVariantList(l.begin(), l.end());
            // A sheet saved under a category stores every line in it.
            if (!category.isEmpty())
                values.last() = category;
            touched.insert(values.last().toString());
            ins.add(values);
        }
        ins.flush();
        // A line entered by name carries no code: the stored code is kept then.
        products::NameMatchedWriter productWriter(store, true);
        codes::SlotWriter slotWriter(store);
        int counter = 1;
        for (const Row& l : lines) {
            const auto at = [&](Column c) { return l[c - ColCode]; };
            const QVariant lineCategory = at(ColCategory), unit = at(ColUnit);
            productWriter.write(
                {at(ColCode), at(ColName), unit, at(ColPrice), at(ColProper), lineCategory});
            if (!unit.isNull())
                slotWriter.enter(codes::kindUnit(), unit.toString());
            if (!lineCategory.isNull())
                slotWriter.enter(codes::kindCategory(), lineCategory.toString());
            progress.step(counter++);
            if (onProgress)
                onProgress(progress.value);
        }
        productWriter.flush();
        slotWriter.flush();
        raiseVersions(store, day, touched, now());
        t.commit();
        if (after)
            *after = LoadedFrom{date, versionsOf(store, day, category)};
        return int(rows.size());
    });
}

Result<Deleted> delete在庫表(Store& store, const QDate& date) {
    return guardedValue<Deleted>([&] {
        Transaction t(store, Db::Main);
        store.lockDate(dateKey(date));
        refuseClosed(store, date);
        const Rows n = store.query(
            Db::Main,
            "SELECT count(*), count(DISTINCT coalesce(商品区分, '')) FROM 在庫表 WHERE 日付 = ?",
            {dateKey(date)});
        QSet<QString> sheets;
        for (const Row& r : savedSheetsOf(store, dateKey(date), QString()))
            sheets.insert(r[0].toString());
        raiseVersions(store, dateKey(date), sheets, now());
        store.exec(Db::Main, "DELETE FROM 在庫表 WHERE 日付 = ?", {dateKey(date)});
        t.commit();
        return Deleted{n[0][0].toInt(), n[0][1].toInt()};
    });
}

Result<LineDeleted> lineDelete在庫表(Store& store, qint64 seq, const std::optional<QDate>& date) {
    return guardedValue<LineDeleted>([&] {
        LineDeleted out;
        const Rows line = store.query(
            Db::Work, QString("SELECT code, 品名, %1 FROM w在庫表 WHERE seq = ?").arg(SavedIdField),
            {seq});
        if (line.isEmpty())
            return out;
        const QVariant code = line[0][0], name = line[0][1], savedId = line[0][2];
        if (isEmptyValue(code) && isEmptyValue(name) && savedId.isNull())
            return out; // a blank line holds no product
        if (date && !savedId.isNull()) {
            Transaction t(store, Db::Main);
            store.lockDate(dateKey(*date));
            const Rows saved = store.query(
                Db::Main, "SELECT " + SavedCategory + " FROM 在庫表 WHERE id = ? AND 日付 = ?",
                {savedId, dateKey(*date)});
            if (!saved.isEmpty()) {
                refuseClosed(store, *date);
                store.exec(Db::Main, "DELETE FROM 在庫表 WHERE id = ?", {savedId});
                out.saved = true;
                out.category = saved[0][0].toString();
                raiseVersion(store, dateKey(*date), out.category, now());
                out.version = versionOf(store, dateKey(*date), out.category).version;
            }
            t.commit();
        }
        Transaction w(store, Db::Work);
        store.exec(Db::Work, "DELETE FROM w在庫表 WHERE seq = ?", {seq});
        out.lines = store.scalar(Db::Work, "SELECT changes()").toInt();
        w.commit();
        return out;
    });
}

Result<bool> isClosed(Store& store, const QDate& date) {
    return guardedValue<bool>([&] {
        return store
                   .scalar(Db::Main, "SELECT count(*) FROM 在庫表確定 WHERE 日付 = ?",
                           {dateKey(date)})
                   .toInt() > 0;
    });
}

Status close在庫表(Store& store, const QDate& date) {
    return guarded([&] {
        Transaction t(store, Db::Main);
        store.lockDate(dateKey(date));
        if (savedSheetsOf(store, dateKey(date), QString()).isEmpty())
            throw StoreError(QStringLiteral("%1 には保存済みの在庫表がありません。")
                                 .arg(date.toString("yyyy年MM月dd日")),
                             QString());
        store.exec(Db::Main,
                   "INSERT INTO 在庫表確定 (日付, 確定日時) VALUES (?, ?) "
                   "ON CONFLICT (日付) DO NOTHING",
                   {dateKey(date), now()});
        t.commit();
    });
}

Status reopen在庫表(Store& store, const QDate& date) {
    return guarded([&] {
        Transaction t(store, Db::Main);
        store.lockDate(dateKey(date));
        store.exec(Db::Main, "DELETE FROM 在庫表確定 WHERE 日付 = ?", {dateKey(date)});
        t.commit();
    });
}

Result<int> read商品マスタto在庫表(Store& store) {
    return guardedValue<int>([&] {
        // The product's fields go into the sheet's fields of the same names.
        const QString fields = columns::list(products::Columns, products::ColCode);
        Transaction t(store, Db::Work);
        store.exec(Db::Work, "DELETE FROM w在庫表");
        const int n =
            int(store.copyRows(Db::Main, "SELECT " + fields + " FROM 商品マスタ ORDER BY 品名, id",
                               {}, Db::Work, "w在庫表", fields));
        if (n < resets::SheetLines)
            resets::addBlankLines(store, resets::SheetLines - n);
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
