#pragma once

#include "store/Store.h"

#include <QSqlDatabase>
#include <QStringList>

// The tables of both files: one list from which the store creates a new file
// and verifies an existing one.
namespace schema {

struct Table {
    Db db;
    QString name;
    QString definition;  // the CREATE TABLE statement
    QStringList indexes; // CREATE INDEX statements
    // The schema version that brought the table: an older file has none.
    int since = 1;
};

const QVector<Table>& tables();
// The hidden fields of w在庫表 that say where each line came from: its saved
// line, its product and version, the product fields typed on it ("name TYPE").
QStringList sheetLineSources();
// The empty code-master slots of a new main file: per kind "01" … "30".
QStringList slotKinds();
// 在庫表集計: one row per saved sheet (date and category, '' for none) with its
// lines and amount, kept by triggers on 在庫表 whatever writes it, so that the
// list of saved sheets need not read every line. Safe to run again.
const QStringList& sheetTotals();
// 在庫表版: the version of each saved sheet (date and category, '' for none),
// raised by every change of its lines, so that a save can tell whether it
// would replace lines its sheet did not load; 在庫表確定: the dates whose count
// is closed. Safe to run again.
const QStringList& sheetVersions();

// The main tables, indexes, totals and versions as a PostgreSQL server keeps
// them (identity keys, names and codes sorted by their code points, the
// totals kept by a trigger function), and stolva_schema for the version.
QStringList serverStatements();
// On a server, every raised version of a saved sheet is announced on the
// channel CountChannel (its payload the date): the PCs showing that sheet
// read it again.
inline constexpr const char* CountChannel = "stolva_counts";
// The server's triggers that keep 在庫表集計.
QStringList serverTotals();
QStringList countNotices();
// A table definition of the local file in the server's types.
QString servedOnServer(QString sql);

// The shape of a main file: one line per table column, index, trigger and
// view, as SQLite reports them. Two files of one schema give the same lines.
QStringList signature(const QSqlDatabase& db);
// What this version of Stolva creates for its main file.
const QStringList& mainReference();
// Empty when the file's main schema is this version's; otherwise what
// differs, in Japanese, for the user ("余分なトリガー 在庫表_x" …).
QString mainDifference(const QSqlDatabase& db);

} // namespace schema
