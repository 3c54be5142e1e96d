#include "products/ProductOps.h"

#include "codes/CodeOps.h"

#include <QHash>
#include <map>
#include <memory>

namespace products {

namespace {
// code … 商品区分: the fields a list row shares with a product.
QString productFields() {
    return columns::list(Columns, ColCode);
}
} // namespace

NameMatchedWriter::NameMatchedWriter(Store& store, bool keepStoredCode, bool readProductFirst)
    : m_store(store), m_keepStoredCode(keepStoredCode), m_readProductFirst(readProductFirst) {}

void NameMatchedWriter::write(const Row& fields, qint64 id, qint64 version, qint64 key) {
    m_queue.append({fields, id, version, key});
}

QHash<QString, Row> firstOfNames(Store& store, QStringList names) {
    names.removeDuplicates();
    QHash<QString, Row> out;
    for (qsizetype from = 0; from < names.size(); from += LargeChunk) {
        const QStringList part = names.mid(from, LargeChunk);
        for (const Row& r : store.queryMany(Db::Main,
                                            "SELECT id, 版, " + productFields() +
                                                " FROM 商品マスタ WHERE id IN (SELECT min(id) FROM "
                                                "商品マスタ WHERE 品名 IN (" +
                                                marks(int(part.size())) + ") GROUP BY 品名)",
                                            QVariantList(part.begin(), part.end())))
            out.insert(r[2 + ColName - ColCode].toString(), r);
    }
    return out;
}

namespace {
const int Width = ColumnCount - ColCode; // code … 商品区分

// Products by id: their version and fields (code … 商品区分).
QHash<qint64, Row> productsById(Store& store, const QVector<qint64>& ids) {
    QHash<qint64, Row> out;
    for (qsizetype from = 0; from < ids.size(); from += LargeChunk) {
        const QVector<qint64> part = ids.mid(from, LargeChunk);
        QVariantList params;
        for (qint64 id : part)
            params << id;
        for (const Row& r :
             store.queryMany(Db::Main,
                             "SELECT id, 版, " + productFields() +
                                 " FROM 商品マスタ WHERE id IN (" + marks(int(part.size())) + ")",
                             params))
            out.insert(r[0].toLongLong(), r.mid(1));
    }
    return out;
}
} // namespace

std::unique_ptr<Batch> changedFields(Store& store, unsigned changed, bool guarded) {
    const QStringList fields = productFields().split(", ");
    QStringList sets, types{"INTEGER"};
    int column = 2;
    for (int i = 0; i < Width; ++i)
        if (changed & (1u << i)) {
            sets << QString("%1 = v.column%2").arg(fields[i]).arg(column++);
            types << Columns[ColCode + i].sqlType();
        }
    if (guarded)
        types << "INTEGER";
    const int width = guarded ? column : column - 1;
    // A product read at a version is written only at that version.
    const QString guard =
        guarded ? QString(" AND (v.column%1 = 0 OR 商品マスタ.版 = v.column%1)").arg(width)
                : QString();
    return std::make_unique<Batch>(
        store, Db::Main,
        [&store, sets, types, guard](int rows) {
            return "UPDATE 商品マスタ SET " + sets.join(", ") + ", " + VersionField +
                   " = 商品マスタ.版 + 1 FROM (VALUES " + store.typedRows(Db::Main, rows, types) +
                   ") AS v WHERE 商品マスタ.id = v.column1" + guard;
        },
        width, LargeChunk);
}

void flushGuarded(Store& store, FieldBatches& batches, qint64 written) {
    qint64 affected = 0;
    for (auto& [changed, b] : batches) {
        b->flush();
        affected += b->rowsAffected();
    }
    if (affected != written)
        throw StoreError(QStringLiteral("読み込んだ後に他で変更された商品があります。"
                                        "上書きしていません。"),
                         store.sqlText(), ErrorKind::Conflict);
}

Registered NameMatchedWriter::flush() {
    Registered n;
    QStringList names;
    QVector<qint64> readIds;
    for (const Queued& q : m_queue) {
        names << q.fields[ColName - ColCode].toString();
        if (m_readProductFirst && q.id)
            readIds << q.id;
    }
    const QHash<QString, Row> byName = firstOfNames(m_store, names); // id, 版, code … 商品区分
    const QHash<qint64, Row> byId = productsById(m_store, readIds); // 版, code … 商品区分
    // The product a row writes: the one it was read from when that still
    // exists (a new name there is a rename), else the first of its name.
    const auto storedOf = [&](const Queued& q) -> Row {
        if (m_readProductFirst && q.id)
            if (const auto p = byId.constFind(q.id); p != byId.constEnd())
                return Row{q.id} + *p;
        return byName.value(q.fields[ColName - ColCode].toString());
    };
    // Later rows of a name overwrite what earlier ones wrote, as one by one.
    QHash<qint64, int> updates;  // product id -> index in toUpdate
    QHash<QString, int> inserts; // name -> index in toInsert
    QVector<Queued> toUpdate, toInsert;
    const auto merged = [&](Queued& into, const Queued& q) {
        const QVariant code = into.fields[0];
        into.fields = q.fields;
        if (m_keepStoredCode && q.fields[0].isNull())
            into.fields[0] = code;
        if (q.id == into.id)
            into.version = q.version;
    };
    QHash<qint64, Row> storedById; // product id -> id, 版, code … 商品区分 as read
    for (const Queued& q : std::as_const(m_queue)) {
        const QString name = q.fields[ColName - ColCode].toString();
        const Row hit = storedOf(q);
        if (!hit.isEmpty()) {
            ++n.updated;
            const qint64 id = hit[0].toLongLong();
            storedById.insert(id, hit);
            // The version is checked only for the product the row was read from.
            Queued target{q.fields, id, q.id == id ? q.version : 0, q.key};
            if (const auto u = updates.constFind(id); u != updates.constEnd())
                merged(toUpdate[*u], target);
            else {
                updates.insert(id, int(toUpdate.size()));
                toUpdate.append(target);
            }
        } else if (const auto i = inserts.constFind(name); i != inserts.constEnd()) {
            ++n.updated;
            merged(toInsert[*i], q);
        } else {
            ++n.added;
            inserts.insert(name, int(toInsert.size()));
            toInsert.append(q);
        }
    }
    // Only the fields that change are written, grouped by which they are (an
    // indexed field rewritten for nothing costs its index too); a product
    // nothing changes is not written and keeps its version.
    const QStringList fields = productFields().split(", ");
    FieldBatches batches;
    qint64 written = 0;
    QHash<qint64, qint64> versionNow; // product id -> its version after the writes
    for (const Queued& q : std::as_const(toUpdate)) {
        const Row storedRow = storedById.value(q.id);
        const Row now = storedRow.mid(2);
        versionNow.insert(q.id, storedRow.value(1).toLongLong());
        unsigned changed = 0;
        for (int i = 0; i < Width; ++i) {
            const QVariant& v = q.fields[i];
            if (i == 0 && m_keepStoredCode && v.isNull())
                continue;
            if (isEmptyValue(v) != isEmptyValue(now.value(i)) ||
                (!isEmptyValue(v) && v.toString() != now.value(i).toString()))
                changed |= 1u << i;
        }
        if (changed == 0)
            continue;
        auto& b = batches[changed];
        if (!b)
            b = changedFields(m_store, changed, true);
        QVariantList row{q.id};
        for (int i = 0; i < Width; ++i)
            if (changed & (1u << i))
                row << q.fields[i];
        b->add(row << q.version);
        ++written;
        ++versionNow[q.id];
    }
    flushGuarded(m_store, batches, written);
    Batch add(m_store, Db::Main, "商品マスタ", productFields(), LargeChunk);
    QStringList added;
    for (const Queued& q : toInsert) {
        add.add(QVariantList(q.fields.begin(), q.fields.end()));
        added << q.fields[ColName - ColCode].toString();
    }
    add.flush();
    const QHash<QString, Row> fresh = firstOfNames(m_store, added);
    m_written.clear();
    for (const Queued& q : std::as_const(m_queue)) {
        const QString name = q.fields[ColName - ColCode].toString();
        const Row hit = storedOf(q);
        const qint64 id =
            !hit.isEmpty() ? hit[0].toLongLong() : fresh.value(name).value(0).toLongLong();
        m_written.append(
            {q.key, id,
             !hit.isEmpty() ? versionNow.value(id) : fresh.value(name).value(1).toLongLong()});
    }
    m_queue.clear();
    return n;
}

Status read商品情報(Store& store, const QString& category) {
    return guarded([&] {
        const QString select = "SELECT 0, " + productFields() + ", id, 版 FROM 商品マスタ";
        Transaction t(store, Db::Work);
        store.exec(Db::Work, "DELETE FROM w商品マスタ");
        const QString fields =
            "チェック, " + productFields() + ", " + IdField + ", " + VersionField;
        if (category.isEmpty())
            store.copyRows(Db::Main, select + " ORDER BY code NULLS FIRST, id", {}, Db::Work,
                           "w商品マスタ", fields);
        else
            store.copyRows(Db::Main, select + " WHERE 商品区分 = ? ORDER BY code NULLS FIRST, id",
                           {category}, Db::Work, "w商品マスタ", fields);
        t.commit();
    });
}

namespace {
// After a save the written rows hold their products as stored now: their
// product (by name, as written), its version, and no edit pending.
void markSaved(Store& store, const QVector<NameMatchedWriter::Written>& written) {
    if (written.isEmpty())
        return;
    Transaction t(store, Db::Work);
    Batch b(
        store, Db::Work,
        [](int n) {
            return QString("UPDATE w商品マスタ SET %1 = v.column2, %2 = v.column3, %3 = 0 FROM "
                           "(VALUES %4) AS v WHERE w商品マスタ.seq = v.column1")
                .arg(IdField, VersionField, EditedField, rowMarks(n, 3));
        },
        3, LargeChunk);
    for (const NameMatchedWriter::Written& w : written)
        b.add({w.key, w.id, w.version});
    b.flush();
    t.commit();
}

QString shownValue(const QVariant& v) {
    return isEmptyValue(v) ? QStringLiteral("（なし）") : v.toString();
}

// "単価 120 → 130": the row's fields that differ from the stored product.
QString differenceOf(const Row& mine, const Row& theirs) {
    if (theirs.isEmpty())
        return QStringLiteral("削除されています");
    QStringList d;
    for (int c = ColCode; c < ColumnCount; ++c) {
        const QVariant a = mine[c - ColCode], b = theirs[c - ColCode];
        if (isEmptyValue(a) && isEmptyValue(b))
            continue;
        if (isEmptyValue(a) != isEmptyValue(b) || a.toString() != b.toString())
            d << QStringLiteral("%1 %2 → %3")
                     .arg(QString::fromUtf8(Columns[c].caption).remove(QChar(0x3000)).remove(' '),
                          shownValue(a), shownValue(b));
    }
    return d.isEmpty() ? QStringLiteral("同じ内容に変更されています")
                       : d.join(QStringLiteral("、"));
}
} // namespace

Result<ListSaved> saveProducts(Store& store, const QVector<ProductValues>& products,
                               QVector<NameMatchedWriter::Written>* written) {
    return guardedValue<ListSaved>([&] {
        ListSaved n;
        QVector<qint64> ids;
        for (const ProductValues& p : products)
            if (p.id)
                ids << p.id;
        Transaction t(store, Db::Main);
        store.lockSlots(); // before any product row: every writer locks in one order
        const QHash<qint64, Row> stored = productsById(store, ids);
        // A row read from a product writes that product, its name too.
        NameMatchedWriter writer(store, false, true);
        codes::SlotWriter slotWriter(store);
        for (const ProductValues& p : products) {
            const auto at = [&](Column c) { return p.fields[c - ColCode]; };
            if (p.id) {
                const Row now = stored.value(p.id);
                if (now.isEmpty() || now[0].toLongLong() != p.version) {
                    const Row theirs = now.isEmpty() ? Row{} : now.mid(1);
                    n.conflicts.append(
                        {p.key, at(ColName).toString(), theirs, differenceOf(p.fields, theirs)});
                    continue;
                }
            }
            const QVariant name = at(ColName), unit = at(ColUnit), category = at(ColCategory);
            // A row whose name was emptied matches no product; adding it would
            // only leave a nameless product behind, so it is not written.
            if (!isEmptyValue(name)) {
                writer.write(p.fields, p.id, p.version, p.key);
                n.written << p.key;
            }
            if (!isEmptyValue(unit))
                slotWriter.enter(codes::kindUnit(), unit.toString());
            if (!isEmptyValue(category))
                slotWriter.enter(codes::kindCategory(), category.toString());
        }
        static_cast<Registered&>(n) = writer.flush();
        slotWriter.flush();
        t.commit();
        if (written)
            *written = writer.written();
        return n;
    });
}

Result<ListSaved> entry商品情報(Store& store) {
    return guardedValue<ListSaved>([&] {
        // Only the rows edited since the list was read: a row nobody touched
        // never undoes someone else's change.
        QVector<ProductValues> edited;
        for (const Row& r : store.queryMany(
                 Db::Work, QString("SELECT seq, %1, %2, %3 FROM w商品マスタ WHERE %4 = 1 "
                                   "ORDER BY seq")
                               .arg(productFields(), IdField, VersionField, EditedField)))
            edited << ProductValues{r.mid(1, Width), r[1 + Width].toLongLong(),
                                    r[2 + Width].toLongLong(), r[0].toLongLong()};
        QVector<NameMatchedWriter::Written> written;
        const ListSaved n = valueOf(saveProducts(store, edited, &written));
        markSaved(store, written);
        return n;
    });
}

Result<QPair<qint64, qint64>> readFrom(Store& store, qint64 seq) {
    return guardedValue<QPair<qint64, qint64>>([&] {
        const Rows r = store.query(
            Db::Work,
            QString("SELECT %1, %2 FROM w商品マスタ WHERE seq = ?").arg(IdField, VersionField),
            {seq});
        return r.isEmpty() ? QPair<qint64, qint64>{}
                           : QPair<qint64, qint64>{r[0][0].toLongLong(), r[0][1].toLongLong()};
    });
}

namespace {
// The products of conflicting rows as stored now: by row, its product id and
// that product's version and fields (empty when deleted).
struct StoredNow {
    QHash<qint64, qint64> idOf; // seq -> product id
    QHash<qint64, Row> now;     // product id -> 版, code … 商品区分
};
StoredNow storedNow(Store& store, const QVector<Conflict>& conflicts) {
    StoredNow out;
    QVector<qint64> ids;
    for (const Conflict& c : conflicts) {
        const qint64 id =
            store
                .scalar(Db::Work, QString("SELECT %1 FROM w商品マスタ WHERE seq = ?").arg(IdField),
                        {c.seq})
                .toLongLong();
        out.idOf.insert(c.seq, id);
        ids << id;
    }
    out.now = productsById(store, ids);
    return out;
}
} // namespace

Status keepMine(Store& store, const QVector<Conflict>& conflicts) {
    return guarded([&] {
        const auto [idOf, now] = storedNow(store, conflicts);
        Transaction t(store, Db::Work);
        for (const Conflict& c : conflicts) {
            // The stored version is taken as read: the next 登録 overwrites it.
            // A deleted product is added again by its name.
            const Row p = now.value(idOf.value(c.seq));
            store.exec(Db::Work,
                       QString("UPDATE w商品マスタ SET %1 = ?, %2 = ? WHERE seq = ?")
                           .arg(IdField, VersionField),
                       {p.isEmpty() ? QVariant() : QVariant(idOf.value(c.seq)),
                        p.isEmpty() ? QVariant() : p[0], c.seq});
        }
        t.commit();
    });
}

Status takeTheirs(Store& store, const QVector<Conflict>& conflicts) {
    return guarded([&] {
        const auto [idOf, now] = storedNow(store, conflicts);
        Transaction t(store, Db::Work);
        for (const Conflict& c : conflicts) {
            const Row p = now.value(idOf.value(c.seq));
            if (p.isEmpty()) {
                store.exec(Db::Work, "DELETE FROM w商品マスタ WHERE seq = ?", {c.seq});
                continue;
            }
            QVariantList values(p.begin() + 1, p.end());
            store.exec(Db::Work,
                       "UPDATE w商品マスタ SET " + columns::assignments(Columns, ColCode) +
                           " WHERE seq = ?",
                       values << c.seq);
            // Set apart from the fields, whose change marks the row as edited.
            store.exec(Db::Work,
                       QString("UPDATE w商品マスタ SET %1 = ?, %2 = 0 WHERE seq = ?")
                           .arg(VersionField, EditedField),
                       {p[0], c.seq});
        }
        t.commit();
    });
}

Status lineDelete商品情報(Store& store, qint64 seq) {
    return guarded([&] {
        const Rows rows =
            store.query(Db::Work, "SELECT code, 品名 FROM w商品マスタ WHERE seq = ?", {seq});
        if (rows.isEmpty())
            return;
        // The master first, then the list: a failure between them leaves the
        // row shown, and deleting it again deletes nothing more.
        Transaction t(store, Db::Main);
        store.exec(Db::Main,
                   "DELETE FROM 商品マスタ WHERE code IS NOT DISTINCT FROM ? AND "
                   "品名 IS NOT DISTINCT FROM ?",
                   {rows[0][0], rows[0][1]});
        t.commit();
        store.exec(Db::Work, "DELETE FROM w商品マスタ WHERE seq = ?", {seq});
    });
}

namespace {
// The first product a condition selects, as the panel holds it.
std::optional<Detail> detailWhere(Store& store, const QString& where, const QVariant& key) {
    const Rows rows = store.query(Db::Main,
                                  "SELECT " + productFields() + ", id, 版 FROM 商品マスタ WHERE " +
                                      where + " ORDER BY id LIMIT 1",
                                  {key});
    if (rows.isEmpty())
        return std::nullopt;
    const Row& r = rows.first();
    Detail d;
    const auto at = [&](Column c) { return r[c - ColCode]; };
    d.code = at(ColCode).toString();
    d.name = at(ColName).toString();
    d.unit = at(ColUnit).toString();
    d.price = Currency::fromVariant(at(ColPrice)).value_or(Currency());
    d.proper = at(ColProper).isNull() ? 0 : at(ColProper).toLongLong();
    d.category = at(ColCategory).toString();
    d.id = r[Width].toLongLong();
    d.version = r[Width + 1].toLongLong();
    return d;
}
} // namespace

Result<std::optional<Detail>> read商品詳細(Store& store, const QString& name) {
    return guardedValue<std::optional<Detail>>(
        [&] { return detailWhere(store, "品名 = ?", name); });
}

Result<std::optional<Detail>> lookUp商品詳細(Store& store, const QString& name,
                                             const QString& code) {
    return guardedValue<std::optional<Detail>>([&]() -> std::optional<Detail> {
        if (!code.isEmpty() &&
            store.scalar(Db::Main, "SELECT count(*) FROM 商品マスタ WHERE code = ?", {code})
                    .toInt() > 0)
            return std::nullopt;
        return detailWhere(store, "品名 = ?", name);
    });
}

Result<std::optional<Detail>> readProduct(Store& store, qint64 id) {
    return guardedValue<std::optional<Detail>>([&] { return detailWhere(store, "id = ?", id); });
}

Result<qint64> entry商品詳細(Store& store, const Detail& d, bool overwrite) {
    return guardedValue<qint64>([&] {
        Transaction t(store, Db::Main);
        store.lockSlots();
        const Rows found = store.query(
            Db::Main, "SELECT id, 版 FROM 商品マスタ WHERE code = ? ORDER BY id LIMIT 1", {d.code});
        const QVariantList values{d.code,
                                  d.name,
                                  textOrNull(d.unit),
                                  d.price.toVariant(),
                                  qlonglong(d.proper),
                                  textOrNull(d.category)};
        qint64 version = 1;
        if (found.isEmpty()) {
            store.exec(Db::Main,
                       "INSERT INTO 商品マスタ (" + productFields() + ") VALUES (" + marks(Width) +
                           ")",
                       values);
        } else {
            const qint64 id = found[0][0].toLongLong();
            version = found[0][1].toLongLong();
            if (!overwrite && d.id == id && d.version != version)
                throw StoreError(
                    QStringLiteral("商品「%1」は読み込んだ後に他で変更されています。").arg(d.name),
                    store.sqlText(), ErrorKind::Conflict);
            store.exec(Db::Main,
                       "UPDATE 商品マスタ SET " + columns::assignments(Columns, ColCode) +
                           ", 版 = 版 + 1 WHERE id = ? AND 版 = ?",
                       values + QVariantList{id, version});
            ++version;
        }
        codes::SlotWriter slotWriter(store);
        slotWriter.enter(codes::kindCategory(), d.category);
        slotWriter.flush();
        t.commit();
        return version;
    });
}

Status fillProductPrint(Store& store) {
    return guarded([&] {
        Transaction t(store, Db::Work);
        store.exec(Db::Work, "DELETE FROM w商品マスタ印刷");
        const QString fields = columns::list(Columns);
        store.exec(Db::Work, "INSERT INTO w商品マスタ印刷 (" + fields + ") SELECT " + fields +
                                 " FROM w商品マスタ ORDER BY seq");
        t.commit();
    });
}

} // namespace products
