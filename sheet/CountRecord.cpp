#include "sheet/CountRecord.h"

#include "base/Values.h"

#include <QHash>
#include <QSysInfo>
#include <algorithm>
#include <map>

namespace sheet {

namespace {
QString productKey(const QString& category, const QString& code, const QString& name) {
    return category + QChar(0x1f) + (code.isEmpty() ? "名" + name : "コ" + code);
}

// The first product with each code and with each name: its id and shelf.
struct Known {
    QHash<QString, Row> byCode, byName;
};
Known knownProducts(Store& store, const QVector<CountChange>& changes) {
    QStringList codes, names;
    for (const CountChange& c : changes)
        (c.code.isEmpty() ? names : codes) << (c.code.isEmpty() ? c.name : c.code);
    codes.removeDuplicates();
    names.removeDuplicates();
    Known k;
    // Codes and names of one part in one statement.
    for (qsizetype from = 0; from < std::max(codes.size(), names.size()); from += LargeChunk) {
        const QStringList c = codes.mid(from, LargeChunk), n = names.mid(from, LargeChunk);
        QStringList where;
        if (!c.isEmpty())
            where << "code IN (" + marks(int(c.size())) + ")";
        if (!n.isEmpty())
            where << "品名 IN (" + marks(int(n.size())) + ")";
        QVariantList params(c.begin(), c.end());
        params += QVariantList(n.begin(), n.end());
        // The first product of each code and name is the one kept.
        for (const Row& r : store.queryMany(Db::Main,
                                            "SELECT code, 品名, id, 棚番 FROM 商品マスタ WHERE " +
                                                where.join(" OR ") + " ORDER BY id DESC",
                                            params)) {
            if (!r[0].isNull())
                k.byCode.insert(r[0].toString(), r.mid(2));
            k.byName.insert(r[1].toString(), r.mid(2));
        }
    }
    return k;
}
} // namespace

QVector<CountChange> changesBetween(const Rows& before, const Rows& after) {
    // By product, in the order the lines first name them.
    std::map<QString, int> at;
    QVector<CountChange> out;
    const auto add = [&](const Row& l, bool isBefore) {
        const QString category = l[0].toString(), code = l[1].toString(), name = l[2].toString();
        if (code.isEmpty() && name.isEmpty())
            return;
        const QString key = productKey(category, code, name);
        auto it = at.find(key);
        if (it == at.end()) {
            it = at.emplace(key, int(out.size())).first;
            out.append({category, code, name, QVariant(), QVariant()});
        }
        QVariant& q = isBefore ? out[it->second].before : out[it->second].after;
        // A product on two lines counts their sum.
        q = qlonglong(q.toLongLong() + l[3].toLongLong());
    };
    for (const Row& l : before)
        add(l, true);
    for (const Row& l : after)
        add(l, false);
    QVector<CountChange> changed;
    for (const CountChange& c : out)
        if (c.before.isNull() != c.after.isNull() || c.before.toLongLong() != c.after.toLongLong())
            changed << c;
    return changed;
}

void recordEntries(Store& store, const QString& day, const QString& kind,
                   const QVector<CountChange>& changes, const QString& counter,
                   const QString& when) {
    recordEntries(store, day, QStringList(changes.size(), kind), changes, counter, when);
}

void recordEntries(Store& store, const QString& day, const QStringList& kinds,
                   const QVector<CountChange>& changes, const QString& counter,
                   const QString& when) {
    if (changes.isEmpty())
        return;
    const Known known = knownProducts(store, changes);
    const QString terminal = QSysInfo::machineHostName();
    Batch entries(
        store, Db::Main, "棚卸記録",
        "日付, 商品区分, 棚番, 商品, code, 品名, 種類, 前数量, 後数量, 担当, 端末, 記録日時",
        LargeChunk);
    for (int i = 0; i < changes.size(); ++i) {
        const CountChange& c = changes[i];
        const QString& kind = kinds[i];
        const Row p = c.code.isEmpty() ? known.byName.value(c.name) : known.byCode.value(c.code);
        entries.add({day, textOrNull(c.category), p.value(1), p.value(0), textOrNull(c.code),
                     textOrNull(c.name), kind, c.before, c.after, textOrNull(counter), terminal,
                     when});
    }
    entries.flush();
}

qint64 recordEntry(Store& store, const QString& day, const QString& kind, const CountChange& c,
                   const KnownProduct& product, const QString& counter, const QString& when,
                   qint64 undoes, const QString& terminal) {
    return store
        .scalar(
            Db::Main,
            "INSERT INTO 棚卸記録 (日付, 商品区分, 棚番, 商品, code, 品名, 種類, 前数量, "
            "後数量, 担当, 端末, 記録日時, 取消) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) "
            "RETURNING id",
            {day, textOrNull(c.category), product.shelf, product.id, textOrNull(c.code),
             textOrNull(c.name), kind, c.before, c.after, textOrNull(counter),
             terminal.isEmpty() ? QSysInfo::machineHostName() : terminal, when,
             undoes ? QVariant(undoes) : QVariant()})
        .toLongLong();
}

} // namespace sheet
