#include "products/ProductLedger.h"

#include "codes/CodeOps.h"

#include <QHash>

namespace products {

namespace {
// code … 商品区分: the fields a product's writers give.
QString productFields() {
    return columns::list(Columns, ColCode);
}
} // namespace

std::unique_ptr<Batch> addedProducts(Store& store, int width) {
    return std::make_unique<Batch>(store, Db::Main, "商品マスタ",
                                   columns::list(Columns, ColCode, ColCode + width), LargeChunk);
}

NameMatchedWriter::NameMatchedWriter(Store& store, bool keepStoredCode, bool readProductFirst)
    : m_store(store), m_keepStoredCode(keepStoredCode), m_readProductFirst(readProductFirst) {}

QVariant taxRate(const QVariant& rate, const QString& name) {
    if (isEmptyValue(rate))
        return StandardTaxRate;
    const auto r = wholeValue(rate);
    if (!r || (*r != StandardTaxRate && *r != ReducedTaxRate))
        throw StoreError(QStringLiteral("「%1」の税率「%2」は 10 か 8 にしてください。")
                             .arg(name, rate.toString()),
                         QString());
    return qlonglong(*r);
}

void NameMatchedWriter::write(const Row& fields, qint64 id, qint64 version, qint64 key) {
    Row f = fields;
    // A writer without the rate (a sheet line) leaves it as stored.
    if (f.size() > ColRate - ColCode)
        f[ColRate - ColCode] = taxRate(f[ColRate - ColCode], f[ColName - ColCode].toString());
    m_queue.append({f, id, version, key});
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
} // namespace

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
    QVector<qint64> readIds;
    if (m_readProductFirst && !m_known)
        for (const Queued& q : std::as_const(m_queue))
            if (q.id)
                readIds << q.id;
    const QHash<qint64, Row> read = productsById(m_store, readIds);
    const QHash<qint64, Row>& byId = m_known ? *m_known : read; // 版, code … 商品区分
    // By name only the rows not written to the product they were read from.
    QStringList names;
    for (const Queued& q : std::as_const(m_queue))
        if (!m_readProductFirst || !q.id || !byId.contains(q.id))
            names << q.fields[ColName - ColCode].toString();
    const QHash<QString, Row> byName = firstOfNames(m_store, names); // id, 版, code … 商品区分
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
        // A row without the later fields (a sheet line has no shelf) leaves them as stored.
        for (int i = 0; i < Width && i < q.fields.size(); ++i) {
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
        QVariantList values(q.fields.begin(), q.fields.end());
        values.resize(Width);
        if (isEmptyValue(values[ColRate - ColCode]))
            values[ColRate - ColCode] = StandardTaxRate;
        add.add(values);
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

namespace {
QString shownValue(const QVariant& v) {
    return isEmptyValue(v) ? QStringLiteral("（なし）") : v.toString();
}

// "単価 120 → 130": the row's fields that differ from the stored product.
QString differenceOf(const Row& mine, const Row& theirs) {
    if (theirs.isEmpty())
        return QStringLiteral("削除されています");
    QStringList d;
    for (int c = ColCode; c < ColumnCount && c - ColCode < mine.size(); ++c) {
        const QVariant a = mine[c - ColCode], b = theirs.value(c - ColCode);
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
        writer.knownProducts(&stored);
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

Status deleteProducts(Store& store, const QVariant& code, const QVariant& name) {
    return guarded([&] {
        Transaction t(store, Db::Main);
        store.exec(Db::Main,
                   "DELETE FROM 商品マスタ WHERE code IS NOT DISTINCT FROM ? AND "
                   "品名 IS NOT DISTINCT FROM ?",
                   {code, name});
        t.commit();
    });
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
                                  textOrNull(d.category),
                                  textOrNull(d.shelf),
                                  taxRate(d.rate, d.name)};
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

} // namespace products
