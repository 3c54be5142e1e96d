#pragma once

#include "base/Result.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>

// The ledger on a PostgreSQL server: where it is, and what its errors mean.
namespace server {

// A server as libpq's URI names it: postgresql://user@host:port/dbname
// (also postgres://, and ?sslmode=…&connect_timeout=…). A password in it is
// used for this run and never kept; libpq's ~/.pgpass or PGPASSWORD serve.
struct Address {
    QString host = QStringLiteral("localhost");
    int port = 5432;
    QString database;
    QString user;
    QString password;
    QString options; // libpq's connection options, as QPSQL takes them: "sslmode=require;…"
    // "user@host:port/database", for the window title and the messages.
    QString shown() const;
    // The URI without a password.
    QString url() const;
};

// Reads a URI; a failure says what is wrong with it.
Result<Address> parse(const QString& url);

// Opens a QPSQL connection of that name to the server; its statements wait
// for a lock at most busyMs. connectedAs: "user@host:port/database" as the
// server reports the connection.
Status connect(const QString& connection, const Address& a, int busyMs,
               QString* connectedAs = nullptr);

// What a failed statement on the server means, in the user's words.
QString describe(const QSqlError& e, const QString& server);
// Another PC holds the lock (or a deadlock or serialization failure ended
// the transaction): the action may be repeated.
bool isBusy(const QSqlError& e);
// A deadlock or serialization failure: the transaction was ended by the
// server and the action can run again.
bool isRetried(const QSqlError& e);
// The server cannot be reached or the connection was lost.
bool isLost(const QSqlError& e);

} // namespace server
