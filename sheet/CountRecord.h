#pragma once

#include "store/Store.h"

#include <QString>
#include <QVariant>
#include <QVector>

// The entries of a count (棚卸記録): every change to a saved quantity, with
// who made it, on which PC and when. The ledger operations write them in the
// same transaction as the change, so the record is complete by construction.
namespace sheet {

// The kinds of change an entry records.
namespace entryKind {
inline const QString Typed = QStringLiteral("入力");            // a sheet saved over the stored one
inline const QString Added = QStringLiteral("追加");            // counts added to a saved sheet
inline const QString LineDeleted = QStringLiteral("行削除");    // a saved line deleted
inline const QString Scanned = QStringLiteral("スキャン");      // a scan counted straight in
inline const QString Imported = QStringLiteral("取込");         // a count import saved
inline const QString Undone = QStringLiteral("取消");           // an entry taken back
inline const QString UncountedZero = QStringLiteral("未棚卸0"); // not counted, recorded as 0
} // namespace entryKind

// One product's saved quantity before and after a change (null: no line).
struct CountChange {
    QString category, code, name;
    QVariant before, after;
};

// The changes between the saved lines a write replaces and those it leaves,
// by category and product (its code, else its name); lines are 商品区分, code,
// 品名, 数量. Products whose quantity stays give none.
QVector<CountChange> changesBetween(const Rows& before, const Rows& after);

// Writes one entry per change, inside the caller's transaction: the product
// (the first with the code, else with the name) and its shelf as the master
// has them now, the counter's name and this PC's host name.
void recordEntries(Store& store, const QString& day, const QString& kind,
                   const QVector<CountChange>& changes, const QString& counter,
                   const QString& when);
// The same, each change with its own kind (kinds[i] for changes[i]).
void recordEntries(Store& store, const QString& day, const QStringList& kinds,
                   const QVector<CountChange>& changes, const QString& counter,
                   const QString& when);

// One entry whose product is known (its id and shelf, or none); undoes: the
// entry it takes back (0: none). Gives the new entry's id.
struct KnownProduct {
    QVariant id, shelf;
};
// terminal: the 端末 written (this PC's host name when empty).
qint64 recordEntry(Store& store, const QString& day, const QString& kind, const CountChange& change,
                   const KnownProduct& product, const QString& counter, const QString& when,
                   qint64 undoes = 0, const QString& terminal = QString());

} // namespace sheet
