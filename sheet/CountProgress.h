#pragma once

#include "store/Store.h"

#include <QDate>
#include <QStringList>
#include <QVariant>
#include <QVector>

// How far the count of a date has come, and its entries: what the counters
// walking the shop look at while they count.
namespace sheet {

// One shelf or category: products in the master, how many have a saved line
// of the date, who recorded entries there and when the last one was.
struct ProgressRow {
    QString group; // the shelf or category; empty for none
    int products = 0;
    int counted = 0;
    QStringList counters;
    QString lastEntry; // ISO date and time, empty before any
    int uncounted() const { return products - counted; }
};
struct CountProgress {
    QVector<ProgressRow> shelves, categories; // by name, the one without last
    ProgressRow total;
};
// The products of one category, or of all when category is empty.
Result<CountProgress> progressOf(Store& store, const QDate& date, const QString& category);

// One entry of 棚卸記録 as the history shows it.
struct CountEntry {
    qint64 id = 0;
    QString when, counter, terminal, kind, shelf, category, code, name;
    QVariant before, after; // null: no line
    qint64 undoes = 0;      // the entry an undo takes back
    bool undone = false;    // taken back by a later entry
};
// The entries of a date, newest first.
Result<QVector<CountEntry>> entriesOf(Store& store, const QDate& date);

// Which entries the history shows: a product's name or code containing
// `product`, a counter's name, a kind (each empty for any).
struct EntryFilter {
    QString product, counter, kind;
    bool matches(const CountEntry& e) const;
};

} // namespace sheet
