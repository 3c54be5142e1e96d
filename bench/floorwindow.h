#pragma once

#include <QString>

// The sheet's 500 blank lines in one statement, as the floors make them.
inline const QString BlankLines =
    QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 500) "
                   "INSERT INTO w在庫表 (チェック) SELECT 0 FROM n");

// The start-up floor, run as a child process as the ledger is: the least any
// program does to show the ledger's first tab on the same files. `controls`
// is the ledger's own account of what it showed (its "controls" line);
// `server` the ledger's server URL, or empty for the files alone. Says
// "shown" on its output once the window is painted; 0 when it was.
int showFloorWindow(const QString& dataDir, const QString& size, const QString& controls,
                    const QString& server);
