#include "sheet/SheetOps.h"

#include "codes/CodeOps.h"
#include "products/ProductOps.h"
#include "work/WorkResets.h"

#include <QDateTime>
#include <QSet>
#include <algorithm>
#include <cmath>
#include <map>
#include <memory>

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
                                      ", id, 版 FROM 商品マスタ WHERE 品名 = ? ORDER BY id LIMIT 1",
                                  {name});
    if (rows.isEmpty())
        return r;
    const Row& p = rows.first();
    r.id = p[4].toLongLong();
    r.version = p[5].toLongLong();
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
// The product fields a user can type on a line (the name is the product itself).
constexpr unsigned ProductFieldsTyped = typedBit(ColCode) | typedBit(ColUnit) | typedBit(ColPrice) |
                                        typedBit(ColProper) | typedBit(ColCategory);

// "商品id = ?, 商品版 = ?, 入力 = 0": a line filled from a product holds it as stored.
QString sourceAssignments() {
    return QString("%1 = ?, %2 = ?, %3 = 0").arg(ProductIdField, ProductVersionField, TypedField);
}

// A product field typed on a line: the save writes it. A line that never got
// its values from a product (loaded from a saved count, say) is taken to hold
// the named product as it is now.
void markTyped(Store& store, qint64 seq, Column column, const QVariant& name,
               const QVariant& productId) {
    QVariant id, version;
    if (productId.isNull() && !isEmptyValue(name)) {
        const ProductLookup p = Seek商品(store, name.toString());
        if (p.id) {
            id = p.id;
            version = p.version;
        }
    }
    store.exec(Db::Work,
               QString("UPDATE w在庫表 SET %1 = %1 | ?, %2 = coalesce(%2, ?), %3 = CASE WHEN %2 IS "
                       "NULL THEN ? ELSE %3 END WHERE seq = ?")
                   .arg(TypedField, ProductIdField, ProductVersionField),
               {qlonglong(typedBit(column)), id, version, seq});
}

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
            Db::Work,
            QString("SELECT 品名, 数量, 適正数, 単位, 単価, code, %1 FROM w在庫表 WHERE seq = ?")
                .arg(ProductIdField),
            {seq});
        if (rows.isEmpty())
            return outcome;
        const Row& line = rows.first();
        const QVariant name = line[0], qty = line[1], proper = line[2], unit = line[3],
                       price = line[4], code = line[5];
        if (typedBit(Column(column)) & ProductFieldsTyped)
            markTyped(store, seq, Column(column), name, line[6]);
        switch (column) {
        case ColCode: {
            // A code typed on a line without a name fills it from that product,
            // as a scanned code does; a named line keeps its name.
            if (!isEmptyValue(name) || isEmptyValue(code))
                return outcome;
            const QString fields = columns::list(products::Columns, products::ColName);
            const Rows p = store.query(Db::Main,
                                       "SELECT " + fields +
                                           ", id, 版 FROM 商品マスタ WHERE code = ? ORDER BY id "
                                           "LIMIT 1",
                                       {code});
            if (p.isEmpty())
                return outcome;
            const QVariant pPrice = p[0][products::ColPrice - products::ColName],
                           pProper = p[0][products::ColProper - products::ColName];
            // The product's fields go into the sheet's fields of the same names;
            // the line now holds that product as stored, nothing typed into it.
            store.exec(Db::Work,
                       "UPDATE w在庫表 SET " +
                           columns::assignments(products::Columns, products::ColName) +
                           ", 金額 = ?, 増減 = ?, " + sourceAssignments() + " WHERE seq = ?",
                       {p[0][products::ColName - products::ColName],
                        p[0][products::ColUnit - products::ColName], pPrice, pProper,
                        p[0][products::ColCategory - products::ColName], lineAmount(qty, pPrice),
                        lineChange(qty, pProper), p[0][5], p[0][6], seq});
            break;
        }
        case ColName: {
            if (name.isNull())
                return outcome;
            const ProductLookup p = Seek商品(store, name.toString());
            // One product, one line: a scan of its code later counts here.
            const QVariant lineCode = codeForName(store, code, name.toString(), &outcome.ambiguous);
            store.exec(
                Db::Work,
                "UPDATE w在庫表 SET " + columns::assignments(products::Columns, products::ColUnit) +
                    ", code = ?, " + sourceAssignments() + " WHERE seq = ?",
                {textOrNull(p.unit), p.price.isZero() ? nullValue() : p.price.toVariant(),
                 qlonglong(p.proper), textOrNull(p.category), lineCode,
                 p.id ? QVariant(p.id) : QVariant(), p.id ? QVariant(p.version) : QVariant(), seq});
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

std::function<void()> betweenLoadReads;

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
        // Lines and versions of one moment: a save elsewhere between them would
        // pair old lines with its new version, and the next 登録 would undo it unasked.
        Transaction snapshot(store, Db::Main, Transaction::Snapshot);
        const QVariant cnt =
            store.scalar(Db::Main, "SELECT count(*) FROM 在庫表 WHERE " + where, params);
        if (!cnt.isNull())
            progress.total = cnt.toInt();
        const Rows rows = store.query(Db::Main,
                                      "SELECT " + lineFields() + ", id FROM 在庫表 WHERE " + where +
                                          " ORDER BY 行番号, id",
                                      params);
        if (betweenLoadReads)
            betweenLoadReads();
        const Versions versions = versionsOf(store, dateKey(date), category);
        snapshot.commit();
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
        Transaction snapshot(store, Db::Main, Transaction::Snapshot);
        for (const Row& r : savedSheetsOf(store, day, category)) {
            const QString k = r[0].toString();
            const VersionRow v = versionOf(store, day, k);
            if (r[1].toInt() <= 0 || (loaded.date == date && loaded.versions.contains(k) &&
                                      loaded.versions.value(k) == v.version))
                continue;
            out << Unloaded{k, r[1].toInt(), v.version, shownTime(v.savedAt)};
        }
        snapshot.commit();
        return out;
    });
}

namespace {
// A named line as the product master sees it: code … 商品区分, and where its
// values came from.
struct LineSource {
    Row fields; // code … 商品区分
    qint64 productId = 0, version = 0;
    unsigned typed = 0;
};
const int ProductWidth = products::ColumnCount - products::ColCode;
// The typed sheet columns and the product fields (code … 商品区分) they stand for.
constexpr std::pair<Column, int> TypedFields[] = {
    {ColCode, 0},
    {ColUnit, products::ColUnit - products::ColCode},
    {ColPrice, products::ColPrice - products::ColCode},
    {ColProper, products::ColProper - products::ColCode},
    {ColCategory, products::ColCategory - products::ColCode}};

QString lineSourceFields() {
    return columns::list(products::Columns, products::ColCode) +
           QString(", %1, %2, %3").arg(ProductIdField, ProductVersionField, TypedField);
}
LineSource lineSource(const Row& r) {
    return {r.mid(0, ProductWidth), r[ProductWidth].toLongLong(), r[ProductWidth + 1].toLongLong(),
            unsigned(r[ProductWidth + 2].toLongLong())};
}

// Product field i (code … 商品区分) holds the same value: numbers as numbers,
// whichever engine or cell gave them.
bool sameValue(int i, const QVariant& a, const QVariant& b) {
    if (isEmptyValue(a) || isEmptyValue(b))
        return isEmptyValue(a) == isEmptyValue(b);
    if (products::Columns[products::ColCode + i].kind == columns::Kind::Text)
        return a.toString() == b.toString();
    return Currency::fromVariant(a) == Currency::fromVariant(b);
}

// What the named lines of a sheet do to the product master.
struct ProductPlan {
    struct Change {
        QString name;
        qint64 id = 0, version = 0; // the product and its version now
        Row stored, wanted;         // code … 商品区分
        bool conflict = false;      // changed since a line typed into it got its values
    };
    QVector<Row> added; // one new product per name, code … 商品区分
    QVector<Change> changed;
};

ProductPlan planProducts(Store& store, const QVector<LineSource>& lines) {
    QStringList names;
    for (const LineSource& l : lines)
        names << l.fields[products::ColName - products::ColCode].toString();
    const QHash<QString, Row> stored = products::firstOfNames(store, names); // id, 版, code …
    ProductPlan plan;
    QHash<QString, int> addAt, changeAt;
    for (const LineSource& l : lines) {
        const QString name = l.fields[products::ColName - products::ColCode].toString();
        const auto hit = stored.constFind(name);
        if (hit == stored.constEnd()) {
            // A name no product has becomes a product with its line's values,
            // a later line of the name last; a line without a code keeps the
            // code an earlier one gave.
            const auto at = addAt.constFind(name);
            if (at == addAt.constEnd()) {
                addAt.insert(name, int(plan.added.size()));
                plan.added << l.fields;
            } else {
                Row& r = plan.added[*at];
                const QVariant code = r[0];
                r = l.fields;
                if (isEmptyValue(r[0]))
                    r[0] = code;
            }
            continue;
        }
        // A value that merely came with the line is never written back.
        if (l.typed == 0)
            continue;
        const qint64 id = (*hit)[0].toLongLong(), version = (*hit)[1].toLongLong();
        auto at = changeAt.constFind(name);
        if (at == changeAt.constEnd()) {
            at = changeAt.insert(name, int(plan.changed.size()));
            plan.changed << ProductPlan::Change{name, id, version, hit->mid(2), hit->mid(2), false};
        }
        ProductPlan::Change& c = plan.changed[*at];
        for (const auto& [column, field] : TypedFields)
            if ((l.typed & typedBit(column)) && !(column == ColCode && isEmptyValue(l.fields[0])))
                c.wanted[field] = l.fields[field];
        if (l.productId != id || l.version != version)
            c.conflict = true;
    }
    plan.changed.erase(std::remove_if(plan.changed.begin(), plan.changed.end(),
                                      [](const ProductPlan::Change& c) {
                                          for (int i = 0; i < ProductWidth; ++i)
                                              if (!sameValue(i, c.stored[i], c.wanted[i]))
                                                  return false;
                                          return true;
                                      }),
                       plan.changed.end());
    return plan;
}

QVector<LineSource> namedLineSources(Store& store) {
    QVector<LineSource> out;
    for (const Row& r :
         store.query(Db::Work, "SELECT " + lineSourceFields() +
                                   " FROM w在庫表 WHERE 品名 IS NOT NULL ORDER BY seq"))
        out << lineSource(r);
    return out;
}

// "単価 100 → 120、単位 個 → 箱": the fields that differ, old → new.
QString differences(const Row& from, const Row& to) {
    QStringList d;
    for (int i = 0; i < ProductWidth; ++i) {
        if (sameValue(i, from[i], to[i]))
            continue;
        const columns::Column& c = products::Columns[products::ColCode + i];
        const auto shown = [&](const QVariant& v) {
            if (isEmptyValue(v))
                return QStringLiteral("（なし）");
            if (c.kind == columns::Kind::Money)
                if (auto m = Currency::fromVariant(v))
                    return m->toString();
            return v.toString();
        };
        const QString caption =
            i == 0 ? QStringLiteral("コード")
                   : QString::fromUtf8(c.caption).remove(QChar(0x3000)).remove(' ');
        d << QStringLiteral("%1 %2 → %3").arg(caption, shown(from[i]), shown(to[i]));
    }
    return d.join(QStringLiteral("、"));
}
} // namespace

Result<MasterEffect> masterEffect(Store& store) {
    return guardedValue<MasterEffect>([&] {
        const ProductPlan plan = planProducts(store, namedLineSources(store));
        MasterEffect e;
        for (const Row& r : plan.added)
            e.added << r[products::ColName - products::ColCode].toString();
        for (const ProductPlan::Change& c : plan.changed) {
            const QString line = c.name + ": " + differences(c.stored, c.wanted);
            if (c.conflict) {
                e.conflicts << line;
                e.conflictVersions.insert(c.id, c.version);
            } else {
                e.changed << line;
            }
        }
        return e;
    });
}

Result<QStringList> otherCategoryLines(Store& store, const QString& category) {
    return guardedValue<QStringList>([&] {
        QStringList out;
        if (category.isEmpty())
            return out;
        for (const Row& r : store.query(Db::Work,
                                        "SELECT 品名, 商品区分 FROM w在庫表 WHERE 品名 IS NOT NULL "
                                        "AND 商品区分 IS NOT NULL AND 商品区分 <> '' AND 商品区分 "
                                        "<> ? ORDER BY seq",
                                        {category}))
            out << QStringLiteral("%1（%2）").arg(r[0].toString(), r[1].toString());
        return out;
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

namespace {
// Writes a save's plan inside its transaction: new products added, the typed
// fields of known ones, each at the version read; a product changed elsewhere
// since its line got its values only when the user chose to overwrite that
// version of it.
void writeProducts(Store& store, const ProductPlan& plan, const QHash<qint64, qint64>& overwrite) {
    products::FieldBatches batches;
    qint64 written = 0;
    for (const ProductPlan::Change& c : plan.changed) {
        if (c.conflict && overwrite.value(c.id, -1) != c.version)
            continue;
        unsigned changed = 0;
        QVariantList row{c.id};
        for (int i = 0; i < ProductWidth; ++i)
            if (!sameValue(i, c.stored[i], c.wanted[i])) {
                changed |= 1u << i;
                row << c.wanted[i];
            }
        auto& b = batches[changed];
        if (!b)
            b = products::changedFields(store, changed, true);
        b->add(row << c.version);
        ++written;
    }
    products::flushGuarded(store, batches, written);
    Batch add(store, Db::Main, "商品マスタ", columns::list(products::Columns, products::ColCode),
              LargeChunk);
    for (const Row& r : plan.added)
        add.add(QVariantList(r.begin(), r.end()));
    add.flush();
}
} // namespace

Result<int> entry在庫表(Store& store, const QDate& date, const QString& category,
                        const std::function<void(int)>& onProgress, const SaveMode& mode,
                        LoadedFrom* after) {
    Progress progress;
    return guardedValue<int>([&] {
        // The lines and, beside them, where their product fields came from.
        Rows lines;
        QVector<LineSource> sources;
        const QList<int> productAt{ColCode, ColName, ColUnit, ColPrice, ColProper, ColCategory};
        for (Row r : store.query(
                 Db::Work,
                 "SELECT " + lineFields() +
                     QString(", %1, %2, %3").arg(ProductIdField, ProductVersionField, TypedField) +
                     " FROM w在庫表 WHERE 品名 IS NOT NULL ORDER BY seq")) {
            Row source;
            for (int c : productAt)
                source << r[c - ColCode];
            source << r.mid(ColumnCount - ColCode);
            sources << lineSource(source);
            r.resize(ColumnCount - ColCode);
            lines << r;
        }
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
                // Said as it is: the user may never have loaded it (two PCs
                // typing the same new sheet), and the next 登録 asks.
                throw StoreError(QStringLiteral("%1 %2 の在庫表は、他で新しく保存されています。"
                                                "上書きしていません。もう一度 登録 すると、"
                                                "置き換えるか追加するかを選べます。")
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
        writeProducts(store, planProducts(store, sources), mode.overwrite);
        codes::SlotWriter slotWriter(store);
        int counter = 1;
        for (const Row& l : lines) {
            const auto at = [&](Column c) { return l[c - ColCode]; };
            const QVariant lineCategory = at(ColCategory), unit = at(ColUnit);
            if (!unit.isNull())
                slotWriter.enter(codes::kindUnit(), unit.toString());
            if (!lineCategory.isNull())
                slotWriter.enter(codes::kindCategory(), lineCategory.toString());
            progress.step(counter++);
            if (onProgress)
                onProgress(progress.value);
        }
        slotWriter.flush();
        raiseVersions(store, day, touched, now());
        // A repeat of a save that went in would double an added count: a lost
        // answer to the commit is asked about, never reported as not saved.
        t.commitKnown();
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
        // Each line holds its product as stored now.
        const QString fields = columns::list(products::Columns, products::ColCode);
        Transaction t(store, Db::Work);
        store.exec(Db::Work, "DELETE FROM w在庫表");
        const int n = int(store.copyRows(
            Db::Main, "SELECT " + fields + ", id, 版 FROM 商品マスタ ORDER BY 品名, id", {},
            Db::Work, "w在庫表",
            fields + QString(", %1, %2").arg(ProductIdField, ProductVersionField)));
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
