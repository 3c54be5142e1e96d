#include "sheet/SheetLedger.h"

#include "sheet/CountRecord.h"
#include "sheet/LedgerSteps.h"
#include "sheet/SheetMaster.h"

#include "codes/CodeOps.h"
#include "products/ProductOps.h"

#include <QDateTime>
#include <QSet>
#include <algorithm>
#include <memory>

namespace sheet {

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

QString shownTime(const QString& iso) {
    const QDateTime t = QDateTime::fromString(iso, Qt::ISODate);
    if (!t.isValid())
        return QString();
    return t.date() == QDate::currentDate() ? t.toString("hh:mm") : t.toString("yyyy/MM/dd hh:mm");
}
} // namespace

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
qint64 raiseVersion(Store& store, const QString& day, const QString& category,
                    const QString& when) {
    return store
        .scalar(Db::Main,
                "INSERT INTO 在庫表版 (日付, 商品区分, 版, 保存日時) VALUES (?, ?, 1, ?) "
                "ON CONFLICT (日付, 商品区分) DO UPDATE SET 版 = 在庫表版.版 + 1, "
                "保存日時 = excluded.保存日時 RETURNING 版",
                {day, category.isNull() ? QString("") : category, when})
        .toLongLong();
}

QString now() {
    return QDateTime::currentDateTime().toString(Qt::ISODate);
}

void refuseClosed(Store& store, const QDate& date) {
    if (store.scalar(Db::Main, "SELECT count(*) FROM 在庫表確定 WHERE 日付 = ?", {dateKey(date)})
            .toInt() > 0)
        throw StoreError(closedMessage(date), store.sqlText(), ErrorKind::Closed);
}

namespace {
// Saved lines (code … 商品区分) as an entry sees them: 商品区分, code, 品名, 数量.
Rows countsOf(const Rows& lines) {
    Rows out;
    out.reserve(lines.size());
    for (const Row& l : lines)
        out << Row{l[ColCategory - ColCode], l[ColCode - ColCode], l[ColName - ColCode],
                   l[ColQty - ColCode]};
    return out;
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
        for (Row r : store.queryMany(Db::Main,
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
             store.queryMany(Db::Main, "SELECT DISTINCT 日付 FROM 在庫表集計 ORDER BY 日付"))
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
        // The lines replaced, taken out in the same statement that deletes
        // them: what the entries compare and what 追加する adds to.
        Rows stored = store.queryMany(
            Db::Main,
            "DELETE FROM 在庫表 WHERE " + where + " RETURNING 行番号, id, " + lineFields(), params);
        std::sort(stored.begin(), stored.end(), [](const Row& a, const Row& b) {
            return a[0].toLongLong() != b[0].toLongLong() ? a[0].toLongLong() < b[0].toLongLong()
                                                          : a[1].toLongLong() < b[1].toLongLong();
        });
        for (Row& r : stored)
            r = r.mid(2);
        Rows rows = lines;
        if (mode.add)
            rows = addLines(stored, lines, category);
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
        writeProducts(store, planProducts(store, counted), mode.overwrite);
        // Each product whose saved quantity the save changes is an entry.
        Rows kept = rows;
        if (!category.isEmpty())
            for (Row& r : kept)
                r.last() = category;
        const QString when = now();
        const QVector<CountChange> changes = changesBetween(countsOf(stored), countsOf(kept));
        QStringList kinds;
        for (const CountChange& c : changes)
            kinds << (mode.imported.contains(c.code) || mode.imported.contains(c.name)
                          ? entryKind::Imported
                      : mode.add ? entryKind::Added
                                 : entryKind::Typed);
        recordEntries(store, day, kinds, changes, mode.counter, when);
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
        raiseVersions(store, day, touched, when);
        // A repeat of a save that went in would double an added count: a lost
        // answer to the commit is asked about, never reported as not saved.
        t.commitKnown();
        if (after)
            *after = LoadedFrom{date, versionsOf(store, day, category)};
        return int(rows.size());
    });
}

Result<Deleted> delete在庫表(Store& store, const QDate& date, const QString& counter) {
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
        const QString when = now();
        raiseVersions(store, dateKey(date), sheets, when);
        recordEntries(
            store, dateKey(date), entryKind::LineDeleted,
            changesBetween(countsOf(store.query(
                               Db::Main, "SELECT " + lineFields() + " FROM 在庫表 WHERE 日付 = ?",
                               {dateKey(date)})),
                           {}),
            counter, when);
        store.exec(Db::Main, "DELETE FROM 在庫表 WHERE 日付 = ?", {dateKey(date)});
        t.commit();
        return Deleted{n[0][0].toInt(), n[0][1].toInt()};
    });
}

Result<SavedLineDeleted> deleteSavedLine(Store& store, const QDate& date, qint64 savedId,
                                         const QString& counter) {
    return guardedValue<SavedLineDeleted>([&] {
        SavedLineDeleted out;
        Transaction t(store, Db::Main);
        store.lockDate(dateKey(date));
        const Rows saved = store.query(Db::Main,
                                       "SELECT " + SavedCategory + ", " + lineFields() +
                                           " FROM 在庫表 WHERE id = ? AND 日付 = ?",
                                       {savedId, dateKey(date)});
        if (!saved.isEmpty()) {
            refuseClosed(store, date);
            recordEntries(store, dateKey(date), entryKind::LineDeleted,
                          changesBetween(countsOf({saved[0].mid(1)}), {}), counter, now());
            store.exec(Db::Main, "DELETE FROM 在庫表 WHERE id = ?", {savedId});
            out.saved = true;
            out.category = saved[0][0].toString();
            out.version = raiseVersion(store, dateKey(date), out.category, now());
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
