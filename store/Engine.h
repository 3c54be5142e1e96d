#pragma once

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>
#include <QStringList>
#include <memory>

// What differs between the engines a ledger is kept in: SQLite (the local
// file, and every PC's work file) and a PostgreSQL server. Only the store
// asks; everything above it writes one SQL for both.
class Engine {
  public:
    virtual ~Engine() = default;
    // The data is on another machine: its connection may be lost and opened again.
    virtual bool remote() const = 0;
    // Begins a transaction on d: a writer's (lockAtOnce: SQLite's file is
    // locked for writing at BEGIN) or a snapshot's, whose reads all see one
    // state. Gives the failed statement's error; sql names what ran.
    virtual QSqlError begin(QSqlDatabase& d, bool snapshot, bool lockAtOnce,
                            QString* sql) const = 0;
    // Commits; on failure nothing of the transaction is kept.
    virtual QSqlError commit(QSqlDatabase& d) const = 0;
    // The statement that makes the writers of the same thing (bound as its
    // one value) wait until this transaction ends; empty where BEGIN does it.
    // A second column, when it gives one, is the transaction's id.
    virtual QString lockStatement() const = 0;
    // Rows of a VALUES list whose columns are read by name (UPDATE … FROM
    // (VALUES …) AS v), the columns' types given as INTEGER, TEXT, NUMERIC.
    virtual QString typedRows(int rows, const QStringList& types) const;
    // A statement without values (a definition) is sent as it is, unprepared.
    virtual bool sendsUnprepared() const { return false; }
    // The outcome of a COMMIT whose answer was lost can be asked afterwards.
    virtual bool asksLostCommits() const { return false; }
    // What a failed statement means, in the user's words.
    virtual QString describe(const QSqlError& e) const = 0;
    // Another's lock held too long (or a deadlock the server broke off).
    virtual bool isBusy(const QSqlError& e) const = 0;
    // The message of a busy error whose reason is `said`.
    virtual QString busyMessage(const QString& said) const = 0;
    virtual bool isLost(const QSqlError&) const { return false; }
    // The server ended the transaction (deadlock, serialization): the whole action may run again.
    virtual bool isRetried(const QSqlError&) const { return false; }
    // The file itself was deleted or moved while open.
    virtual bool isFileGone(const QSqlError&) const { return false; }
};

std::unique_ptr<Engine> sqliteEngine();
// The connection's own SQLite handle (a sqlite3*); null on another engine.
void* sqliteHandleOf(const QSqlDatabase& d);
// shown: the server as the messages name it.
std::unique_ptr<Engine> serverEngine(const QString& shown);

// "(?, ?, ?), (?, ?, ?)" for rows of width values.
QString rowMarks(int rows, int width);
