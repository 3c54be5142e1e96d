#include "codes/CodeOps.h"

#include <QSet>

namespace codes {

QString kindCategory() {
    return QStringLiteral("商品区分");
}
QString kindUnit() {
    return QStringLiteral("単位");
}
QString slotCode(int number) {
    return QString("%1").arg(number, 2, 10, QChar('0'));
}

QVector<SlotWriter::Slot>& SlotWriter::slotsOf(const QString& kind) {
    if (!m_read) {
        m_read = true;
        for (const Row& r : m_store.query(
                 Db::Main, "SELECT kcode, id, sname FROM コードマスタ ORDER BY kcode, code, id"))
            m_kinds[r[0].toString()].append(Slot{r[1].toLongLong(), r[2]});
    }
    return m_kinds[kind];
}

void SlotWriter::flush() {
    Batch b(
        m_store, Db::Main,
        [](int n) {
            return "UPDATE コードマスタ SET sname = v.column2 FROM (VALUES " + rowMarks(n, 2) +
                   ") AS v WHERE コードマスタ.id = v.column1";
        },
        2, LargeChunk);
    for (const auto& [id, name] : std::as_const(m_pending))
        b.add({id, name});
    b.flush();
    m_pending.clear();
}

bool SlotWriter::enter(const QString& kind, const QString& name) {
    // The schema refuses a zero-length name: an empty text never takes a slot.
    if (name.isEmpty())
        return false;
    QVector<Slot>& list = slotsOf(kind);
    for (const Slot& s : list)
        if (!s.name.isNull() && s.name.toString() == name)
            return false;
    for (Slot& s : list) {
        if (s.name.isNull()) {
            m_pending.append({s.id, name});
            s.name = name;
            return true;
        }
    }
    return false;
}

Status clearCodeTable(Store& store) {
    return guarded([&] {
        Rows rows;
        for (int i = 1; i <= SlotCount; ++i)
            rows.append(Row{slotCode(i)});
        Transaction t(store, Db::Work);
        store.exec(Db::Work, "DELETE FROM wコードマスタ");
        insertRows(store, Db::Work, "wコードマスタ", "code", rows);
        t.commit();
    });
}

Status readCodeTable(Store& store, const QString& kind) {
    return guarded([&] {
        // A slot coded outside 01…30 finds no row here and is left out.
        QHash<QString, QVariant> names;
        for (const Row& r : store.query(
                 Db::Main, "SELECT code, sname FROM コードマスタ WHERE kcode = ? ORDER BY id DESC",
                 {kind}))
            names.insert(r[0].toString(), r[1]);
        Rows rows;
        for (int i = 1; i <= SlotCount; ++i)
            rows.append(Row{slotCode(i), 0, names.value(slotCode(i))});
        Transaction t(store, Db::Work);
        store.exec(Db::Work, "DELETE FROM wコードマスタ");
        insertRows(store, Db::Work, "wコードマスタ", "code, チェック, sname", rows);
        t.commit();
    });
}

Result<int> namesRemovedBy(Store& store, const QString& kind) {
    return guardedValue<int>([&] {
        QSet<QString> kept;
        for (const Row& r : store.query(
                 Db::Work, "SELECT code FROM wコードマスタ WHERE coalesce(sname, '') <> ''"))
            kept.insert(r[0].toString());
        int n = 0;
        for (const Row& r : store.query(Db::Main,
                                        "SELECT code FROM コードマスタ WHERE kcode = ? AND "
                                        "coalesce(sname, '') <> ''",
                                        {kind}))
            n += !kept.contains(r[0].toString());
        return n;
    });
}

Result<int> entryCodes(Store& store, const QString& kind) {
    return guardedValue<int>([&] {
        int n = 0;
        const Rows rows =
            store.query(Db::Work, "SELECT code, sname FROM wコードマスタ ORDER BY 行番号");
        Transaction t(store, Db::Main);
        store.exec(Db::Main, "DELETE FROM コードマスタ WHERE kcode = ?", {kind});
        QSqlQuery ins = store.prepare(
            Db::Main, "INSERT INTO コードマスタ (kcode, code, sname) VALUES (?, ?, ?)");
        for (const Row& r : rows) {
            // A slot emptied in the grid is stored as an empty slot, not an empty name.
            const QVariant name =
                isEmptyValue(r[1]) ? QVariant(QMetaType::fromType<QString>()) : r[1];
            n += !name.isNull();
            store.run(ins, {kind, r[0], name});
        }
        t.commit();
        return n;
    });
}

} // namespace codes

namespace codes {

Result<bool> autoEntry(Store& store, const QString& kind, const QString& name) {
    return guardedValue<bool>([&] {
        if (name.isEmpty())
            return false;
        Transaction t(store, Db::Main);
        SlotWriter slotWriter(store);
        const bool wrote = slotWriter.enter(kind, name);
        slotWriter.flush();
        if (wrote)
            t.commit();
        return wrote;
    });
}

std::int16_t AutoEntryコードマスタ(Store& store, const QString& kind, const QString& name) {
    const Result<bool> r = autoEntry(store, kind, name);
    return r && r.value ? True : False;
}

} // namespace codes
