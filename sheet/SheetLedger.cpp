#include "sheet/SheetLedger.h"

#include "codes/CodeOps.h"
#include "products/ProductOps.h"

#include <QDateTime>
#include <QSet>
#include <algorithm>
#include <memory>

namespace sheet {

QString dateKey(const QDate& d) {
    return d.toString("yyyy-MM-dd");
}

namespace {
// code … 商品区分: the fields a saved line shares with a work line.
QString lineFields() {
    return columns::list(Columns, ColCode);
}
} // namespace

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

Result<SavedSheet> readSaved(Store& store, const QDate& date, const QString& category) {
    return guardedValue<SavedSheet>([&] {
        QString where = "日付 = ?";
        QVariantList params{dateKey(date)};
        if (!category.isEmpty()) {
            where += " AND 商品区分 = ?";
            params << category;
        }
        // Lines and versions of one moment: a save elsewhere between them would
        // pair old lines with its new version, and the next 登録 would undo it unasked.
        SavedSheet out;
        Transaction snapshot(store, Db::Main, Transaction::Snapshot);
        for (Row r : store.query(Db::Main,
                                 "SELECT " + lineFields() + ", id FROM 在庫表 WHERE " + where +
                                     " ORDER BY 行番号, id",
                                 params)) {
            out.ids << r.takeLast().toLongLong();
            out.lines << CountLine{r};
        }
        if (betweenLoadReads)
            betweenLoadReads();
        out.versions = versionsOf(store, dateKey(date), category);
        snapshot.commit();
        return out;
    });
}

Result<QVector<QDate>> savedDates(Store& store) {
    return guardedValue<QVector<QDate>>([&] {
        QVector<QDate> out;
        for (const Row& r :
             store.query(Db::Main, "SELECT DISTINCT 日付 FROM 在庫表集計 ORDER BY 日付"))
            out << QDate::fromString(r[0].toString(), Qt::ISODate);
        return out;
    });
}

Result<Versions> savedVersions(Store& store, const QDate& date, const QString& category) {
    return guardedValue<Versions>([&] { return versionsOf(store, dateKey(date), category); });
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

// The product fields of a count line, in the master's order.
LineSource lineSource(const CountLine& l) {
    LineSource s;
    for (Column c : {ColCode, ColName, ColUnit, ColPrice, ColProper, ColCategory})
        s.fields << l.fields[c - ColCode];
    s.productId = l.productId;
    s.version = l.productVersion;
    s.typed = l.typed;
    return s;
}
QVector<LineSource> lineSources(const QVector<CountLine>& lines) {
    QVector<LineSource> out;
    out.reserve(lines.size());
    for (const CountLine& l : lines)
        out << lineSource(l);
    return out;
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

Result<MasterEffect> masterEffectOf(Store& store, const QVector<CountLine>& lines) {
    return guardedValue<MasterEffect>([&] {
        const ProductPlan plan = planProducts(store, lineSources(lines));
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
        const auto q1 = wholeValue(at(saved[*hit], ColQty)), q2 = wholeValue(at(l, ColQty));
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

Result<int> saveSheet(Store& store, const QDate& date, const QString& category,
                      const QVector<CountLine>& counted, const SaveMode& mode,
                      const std::function<void(int)>& onProgress, LoadedFrom* after) {
    Progress progress;
    return guardedValue<int>([&] {
        Rows lines;
        lines.reserve(counted.size());
        for (const CountLine& l : counted)
            lines << l.fields;
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
        writeProducts(store, planProducts(store, lineSources(counted)), mode.overwrite);
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

Result<SavedLineDeleted> deleteSavedLine(Store& store, const QDate& date, qint64 savedId) {
    return guardedValue<SavedLineDeleted>([&] {
        SavedLineDeleted out;
        Transaction t(store, Db::Main);
        store.lockDate(dateKey(date));
        const Rows saved = store.query(
            Db::Main, "SELECT " + SavedCategory + " FROM 在庫表 WHERE id = ? AND 日付 = ?",
            {savedId, dateKey(date)});
        if (!saved.isEmpty()) {
            refuseClosed(store, date);
            store.exec(Db::Main, "DELETE FROM 在庫表 WHERE id = ?", {savedId});
            out.saved = true;
            out.category = saved[0][0].toString();
            raiseVersion(store, dateKey(date), out.category, now());
            out.version = versionOf(store, dateKey(date), out.category).version;
        }
        t.commit();
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

} // namespace sheet
