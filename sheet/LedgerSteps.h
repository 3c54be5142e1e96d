#pragma once

#include "sheet/SheetLedger.h"

#include <QSet>

// Steps of the ledger's writes, run inside the caller's transaction on the
// main data (they throw StoreError): shared by the saves and the entries.
namespace sheet {

struct VersionRow {
    qint64 version = 0;
    QString savedAt;
};
VersionRow versionOf(Store& store, const QString& day, const QString& category);
Versions versionsOf(Store& store, const QString& day, const QString& category);
// Every change of a saved sheet's lines raises its version; versions are
// never reused, so an old reading cannot match a newer sheet.
void raiseVersions(Store& store, const QString& day, const QSet<QString>& categories,
                   const QString& when);
// Raises one sheet's version and gives it.
qint64 raiseVersion(Store& store, const QString& day, const QString& category, const QString& when);
// The time an entry or a version is written with.
QString now();
// Refuses a change of a closed date (ErrorKind::Closed).
void refuseClosed(Store& store, const QDate& date);

} // namespace sheet
