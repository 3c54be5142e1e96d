#pragma once

#include "base/WholeFile.h"
#include "store/Store.h"

// The shared data of one store copied into another's: a server's into a
// local file (the daily copy of a ledger on a server), a local file's into a
// server (moving a ledger there, restoring a copy).
namespace ledger {

// The main tables a ledger's data lives in, with their fields, in the order
// they are copied; the totals are not among them (their triggers make them).
const QVector<QPair<QString, QString>>& tables();

// Replaces every row of `to`'s main tables by `from`'s, keys kept, inside a
// transaction of `to` (the caller's); `from` is read in one snapshot
// (REPEATABLE READ on a server). A server's keys continue after the copied ones.
void copyAll(Store& from, Store& to);

// On a server, takes every shared table for this transaction alone (a
// restore, erasing all data): other PCs wait, then see the outcome whole.
void lockAll(Store& store);

// Values of a local file a server would refuse (a text where a number
// belongs, a date not written 2026-12-08), one line each; empty when none.
QStringList refusedByServer(Store& local);

// Moves a local ledger onto a server: the server's database must hold no
// Stolva data yet (its schema is made on opening); everything is copied in
// one transaction, then both ledgers are counted and summed. Gives what was
// compared, one line a table; fails, with nothing copied, when a value would
// be refused (all of them listed) or the server is not empty.
Result<QStringList> copyToServer(Store& local, const server::Address& to);

// A consistent copy of the ledger's main data written into `to` (which must
// not exist) as a file of this version's format: a local file's by SQLite
// itself; a server's read in one snapshot into a new file in a scratch
// folder inside `folder`, which then takes the name.
void snapshotInto(Store& store, const QString& folder, const QString& to);

// Puts a checked copy of the ledger (a file of this or an older version,
// written beside the main file) in place of the data. A file: the data is
// closed, the copy renamed into place whole and the data reopened (the old one
// reopened when the rename fails). A server: the copy's rows replace the
// server's in one transaction that every other PC waits for.
Status replaceData(Store& store, wholefile::Temp& copy);

// Rows and sums of every table, to compare two ledgers after a copy:
// "商品マスタ: 120 行, 単価 計 45210.5" …
QStringList census(Store& store);

} // namespace ledger
