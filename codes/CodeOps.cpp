#include "codes/CodeOps.h"

#include <QHash>
#include <QSet>
#include <algorithm>

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
        m_store.lockSlots(); // the free slots stay free until this transaction ends
        for (const Row& r : m_store.query(
                 Db::Main, "SELECT kcode, id, sname FROM コードマスタ ORDER BY kcode, code, id"))
            m_kinds[r[0].toString()].append(Slot{r[1].toLongLong(), r[2]});
    }
    return m_kinds[kind];
}

void SlotWriter::flush() {
    Batch b(
        m_store, Db::Main,
        [this](int n) {
            return "UPDATE コードマスタ SET sname = v.column2 FROM (VALUES " +
                   m_store.typedRows(Db::Main, n, {"INTEGER", "TEXT"}) +
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

Result<SlotNames> readCodeTable(Store& store, const QString& kind) {
    return guardedValue<SlotNames>([&] {
        // A slot coded outside 01…30 finds no row here and is left out.
        QHash<QString, QVariant> names;
        for (const Row& r : store.query(
                 Db::Main, "SELECT code, sname FROM コードマスタ WHERE kcode = ? ORDER BY id DESC",
                 {kind}))
            names.insert(r[0].toString(), r[1]);
        Rows rows;
        SlotNames read;
        for (int i = 1; i <= SlotCount; ++i) {
            rows.append(Row{slotCode(i), 0, names.value(slotCode(i))});
            read << names.value(slotCode(i));
        }
        Transaction t(store, Db::Work);
        store.exec(Db::Work, "DELETE FROM wコードマスタ");
        insertRows(store, Db::Work, "wコードマスタ", "code, チェック, sname", rows);
        t.commit();
        return read;
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

namespace {
QString shownName(const QVariant& v) {
    return v.isNull() ? QStringLiteral("（空き）") : v.toString();
}

// Names of slots given as (code, name), many to a statement.
void nameSlots(Store& store, const QString& kind, const QVector<QPair<QString, QVariant>>& names) {
    Batch b(
        store, Db::Main,
        [&store](int n) {
            return "UPDATE コードマスタ SET sname = v.column3 FROM (VALUES " +
                   store.typedRows(Db::Main, n, {"TEXT", "TEXT", "TEXT"}) +
                   ") AS v WHERE コードマスタ.kcode = v.column1 AND コードマスタ.code = v.column2";
        },
        3, LargeChunk);
    for (const auto& [code, name] : names)
        b.add({kind, code, name});
    b.flush();
}
} // namespace

Result<int> entryCodes(Store& store, const QString& kind, const std::optional<SlotNames>& read) {
    return guardedValue<int>([&] {
        const Rows rows =
            store.query(Db::Work, "SELECT code, sname FROM wコードマスタ ORDER BY 行番号");
        QHash<QString, QString> typedIn; // name -> slot
        QVector<QPair<QString, QVariant>> wanted;
        for (const Row& r : rows) {
            // A slot emptied in the grid is stored as an empty slot, not an empty name.
            const QVariant name =
                isEmptyValue(r[1]) ? QVariant(QMetaType::fromType<QString>()) : r[1];
            if (!name.isNull()) {
                if (typedIn.contains(name.toString()))
                    throw StoreError(
                        QStringLiteral("「%1」が %2 と %3 の両方に入力されています。"
                                       "同じ名称は一つの欄にだけ入力してください。")
                            .arg(name.toString(), typedIn.value(name.toString()), r[0].toString()),
                        QString());
                typedIn.insert(name.toString(), r[0].toString());
            }
            wanted.append({r[0].toString(), name});
        }
        Transaction t(store, Db::Main);
        store.lockSlots();
        QHash<QString, QVariant> stored;
        for (const Row& s : store.query(
                 Db::Main, "SELECT code, sname FROM コードマスタ WHERE kcode = ? ORDER BY id DESC",
                 {kind}))
            stored.insert(s[0].toString(), s[1]);
        if (read) {
            QStringList changed;
            for (int i = 1; i <= SlotCount && i <= read->size(); ++i) {
                const QVariant was = read->at(i - 1), now = stored.value(slotCode(i));
                if (was.isNull() != now.isNull() || was.toString() != now.toString())
                    changed << QStringLiteral("%1: %2 → %3")
                                   .arg(slotCode(i), shownName(was), shownName(now));
            }
            if (!changed.isEmpty())
                throw StoreError(QStringLiteral("%1の名称は読み込んだ後に他で変更されています"
                                                "（%2）。登録していません。読込で読み込み直して"
                                                "ください。")
                                     .arg(kind, changed.join(QStringLiteral("、"))),
                                 QString(), ErrorKind::Conflict);
        }
        // Slots are changed in place: names leave their old slots first, so
        // that a name moved to another slot is never held twice meanwhile.
        QVector<QPair<QString, QVariant>> emptied, named;
        Rows missing;
        int n = 0;
        for (const auto& [code, name] : std::as_const(wanted)) {
            n += !name.isNull();
            if (!stored.contains(code)) {
                missing.append(Row{kind, code, name});
                continue;
            }
            const QVariant now = stored.value(code);
            if (now.isNull() == name.isNull() && now.toString() == name.toString())
                continue;
            if (!now.isNull())
                emptied.append({code, QVariant(QMetaType::fromType<QString>())});
            if (!name.isNull())
                named.append({code, name});
        }
        // A slot coded outside the editor's (01 … 30) is dropped, as it never shows.
        QVariantList strangers{kind};
        for (auto it = stored.constBegin(); it != stored.constEnd(); ++it)
            if (std::none_of(wanted.begin(), wanted.end(),
                             [&](const auto& w) { return w.first == it.key(); }))
                strangers << it.key();
        if (strangers.size() > 1)
            store.exec(Db::Main,
                       "DELETE FROM コードマスタ WHERE kcode = ? AND code IN (" +
                           marks(int(strangers.size()) - 1) + ")",
                       strangers);
        nameSlots(store, kind, emptied);
        nameSlots(store, kind, named);
        insertRows(store, Db::Main, "コードマスタ", "kcode, code, sname", missing);
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
        // Most names typed are held already, or the kind is full: seen at a
        // glance, without a transaction or the slots' lock.
        bool held = false, free = false;
        for (const Row& r :
             store.queryMany(Db::Main, "SELECT sname FROM コードマスタ WHERE kcode = ?", {kind})) {
            held = held || (!r[0].isNull() && r[0].toString() == name);
            free = free || r[0].isNull();
        }
        if (held || !free)
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
