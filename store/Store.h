#pragma once

#include "base/Result.h"
#include "store/Engine.h"
#include "store/Server.h"

#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>
#include <QVector>
#include <functional>
#include <optional>
#include <stdexcept>
#include <unordered_map>

// Which of the two connections a statement runs on.
enum class Db { Main, Work };

// A database step that failed; carries the statement for the error report.
class StoreError : public std::runtime_error {
  public:
    StoreError(const QString& message, const QString& sql, ErrorKind kind = ErrorKind::Other,
               bool retry = false)
        : std::runtime_error(message.toStdString()), m_message(message), m_sql(sql), m_kind(kind),
          m_retry(retry) {}
    QString message() const { return m_message; }
    QString sql() const { return m_sql; }
    ErrorKind kind() const { return m_kind; }
    // The server ended the transaction to break a deadlock (or a
    // serialization failure): the whole action may simply run again.
    bool retry() const { return m_retry; }

  private:
    QString m_message;
    QString m_sql;
    ErrorKind m_kind;
    bool m_retry;
};

// Owns the main database (Stolva.mdb) and the work database (StolvaWork.mdb):
// both connections, the schema, transactions and checked statement helpers.
class Store {
  public:
    // The schema of a first start; each upgrade step adds one.
    static constexpr int BaseSchemaVersion = 1;
    // One step from version BaseSchemaVersion + i to the next, run inside the
    // opening transaction of the main file.
    struct Upgrade {
        QString what;
        std::function<void(Store&)> apply;
        // The same step's change of the work file, when it has one.
        std::function<void(Store&)> applyWork = {};
        // The same step on a server's schema (every step from ServerBaseVersion on).
        std::function<void(Store&)> applyServer = {};
    };
    // The version a server's schema was first made at: older steps are the
    // local file's only.
    static constexpr int ServerBaseVersion = 4;
    // The steps this program knows.
    static QVector<Upgrade> upgrades();
    // How long a statement waits for another program's lock before it fails.
    static constexpr int DefaultBusyTimeoutMs = 1500;

    Store();
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    // Opens (and on a first start creates) both files in dataPath. Returns a
    // user-facing Japanese message on failure; no existing file is overwritten.
    Status open(const QString& dataPath);
    void close();
    bool isOpen() const { return m_open; }
    // Takes effect at the next open (tests shorten it to keep lock faults quick).
    void setBusyTimeout(int ms) { m_busyTimeoutMs = ms; }
    // The folder of the work file when it is not the data folder (each PC
    // keeps its own work file beside a shared ledger). Takes effect at the next open.
    void setWorkFolder(const QString& path) { m_workFolder = path; }
    // The main data on a PostgreSQL server instead of the local file (the
    // work file stays local). Takes effect at the next open.
    void setServer(std::optional<server::Address> address);
    bool onServer() const { return m_server.has_value(); }
    const std::optional<server::Address>& serverAddress() const { return m_server; }
    // "user@host:port/database" when on a server, else empty.
    QString serverName() const { return m_server ? m_server->shown() : QString(); }
    // The connection as the server reports it (user, host, port, database);
    // empty on a local file or before opening.
    QString connectedAs() const { return m_connectedAs; }
    // Told at once when the server cannot be reached (false) and when it can
    // be again (true), whichever action found it out: the window keeps a
    // marker up meanwhile.
    void setReachabilityWatcher(std::function<void(bool reachable)> watcher) {
        m_watcher = std::move(watcher);
    }
    bool serverLost() const { return m_lost; }
    // The upgrade steps the next open applies (tests give their own).
    void setUpgrades(QVector<Upgrade> steps) { m_upgrades = std::move(steps); }
    int schemaVersion() const { return BaseSchemaVersion + int(m_upgrades.size()); }

    QString dataPath() const { return m_dataPath; }
    QString mainDbPath() const { return m_mainPath; }
    // The main file in the data folder; on a server, where it would stand
    // (a copy that replaces the data is written beside it).
    QString mainFilePath() const { return m_dataPath + QStringLiteral("Stolva.mdb"); }
    QString workDbPath() const { return m_workPath; }

    QSqlDatabase db(Db which) const;
    QString connectionName(Db which) const;

    // Every statement below is checked; a failure throws StoreError.
    void exec(Db which, const QString& sql, const QVariantList& params = {});
    Rows query(Db which, const QString& sql, const QVariantList& params = {});
    QVariant scalar(Db which, const QString& sql, const QVariantList& params = {});
    QSqlQuery prepare(Db which, const QString& sql);
    void run(QSqlQuery& q, const QVariantList& params);
    // A write with many bound values (a many-row INSERT or UPDATE); gives the
    // rows it changed. On SQLite it binds the values itself: Qt renames every
    // "?" for SQLite, whose look-up of named values grows with the square of
    // their number (a 500-line save would spend a tenth of a second on it).
    qint64 runMany(Db which, const QString& sql, const QVariantList& values);
    // A read with many bound values (an IN list of hundreds); on SQLite the
    // values are bound directly, for the reason runMany says. Values come
    // back as integers, doubles, texts, byte arrays or null.
    Rows queryMany(Db which, const QString& sql, const QVariantList& params = {});
    // Appends what a SELECT on one connection gives to a table on the other
    // (its fields in the SELECT's order), many rows a statement, inside the
    // caller's transaction on `to`; gives the rows copied. On SQLite the
    // values pass from file to file without being converted.
    qint64 copyRows(Db from, const QString& select, const QVariantList& params, Db to,
                    const QString& table, const QString& fields);

    // Inside a main transaction, waits for the writers of the same thing on
    // other PCs (a date's sheets, the code slots): on a server an advisory
    // lock held to the end of the transaction, taken in the order date, then
    // slots; on the local file the write lock taken at BEGIN already does it.
    void lockDate(const QString& day) { lock(QStringLiteral("date ") + day); }
    void lockSlots() { lock(QStringLiteral("slots")); }

    // The rows of a VALUES list whose columns are read by name (UPDATE …
    // FROM (VALUES …) AS v), each column's type given ("INTEGER", "TEXT",
    // "NUMERIC"): a server cannot guess them from the values.
    QString typedRows(Db which, int rows, const QStringList& types) const;

    // The last statement run, for error reports.
    QString sqlText() const { return m_sqlText; }
    // Statements run since the store was opened, besides beginning and ending
    // transactions (the bench counts a save's).
    qint64 statementsRun() const { return m_statements; }

  private:
    friend class Transaction;
    Status checkFiles(bool mainExists, bool workExists);
    Status openOnce(const QString& dataPath);
    bool m_everOpened = false; // a later open (a restore) is not a start
    Status checkExisting(Db which, const QString& path);
    void openConnection(Db which, const QString& path);
    void probe(Db which, const QString& path);
    void verifyMain();
    void applyPragmas(Db which);
    void createSchema(Db which);
    void upgrade(Db which);
    void addWorkFields();
    void setLost(bool lost);
    // A read or a BEGIN outside a transaction that found the connection gone
    // connects again and runs once more: the first action after the server
    // is back succeeds. Nothing was written by the attempt that failed.
    template <typename F> auto onceMore(Db which, F&& f) -> decltype(f());
    void begin(Db which, bool snapshot = false);
    void beginOnce(Db which, bool snapshot);
    Rows queryOnce(Db which, const QString& sql, const QVariantList& params);
    // The rows of a query that ran, the query finished.
    Rows rowsOf(Db which, QSqlQuery& q, const QString& sql);
    void finish(Db which, bool commit);
    QSqlQuery& cached(Db which, const QString& sql);
    // The server's schema: probed, created on an empty database, brought up
    // to this version step by step, refused when it holds other tables or a
    // newer Stolva's.
    void openServer();
    // The schema's version: 0 for an empty database, -1 for one of other tables.
    int serverVersion();
    // The same at open, outside any transaction: read straight, one round
    // trip for a ledger's database.
    int serverVersionAtOpen();
    void checkServerVersion(int version);
    void lock(const QString& what);
    // A lost server connection is opened again at the next action (never
    // inside a transaction: that one failed whole).
    void reconnectIfLost(Db which);
    // After a commit whose answer the lost connection took: returns when the
    // server committed transaction `xid`, throws saying it did not or that
    // nobody can tell yet.
    void learnCommit(Db which, qint64 xid);
    bool m_lost = false;
    QString m_connectedAs;
    std::function<void(bool)> m_watcher;
    QSet<QString> m_locked; // the advisory locks this transaction holds
    qint64 m_xid = 0;       // this transaction's id, when a lock gave it
    bool m_inTransaction[2] = {false, false};
    // The engine each connection's data is kept in: the work file's is always SQLite.
    std::unique_ptr<Engine> m_engines[2] = {sqliteEngine(), sqliteEngine()};
    const Engine& engine(Db which) const { return *m_engines[int(which)]; }
    [[noreturn]] void fail(Db which, const QSqlError& e, const QString& sql);

    int m_id;
    int m_busyTimeoutMs = DefaultBusyTimeoutMs;
    QVector<Upgrade> m_upgrades = upgrades();
    bool m_open = false;
    QString m_dataPath, m_mainPath, m_workPath, m_workFolder;
    std::optional<server::Address> m_server;
    QString m_sqlText;
    qint64 m_statements = 0;
    // Prepared statements by their text, one cache per connection; run() and
    // query() finish them after use so no read lock is left behind.
    std::unordered_map<QString, QSqlQuery> m_cache[2];
    // The same for the many-row statements bound directly (SQLite's own).
    std::unordered_map<QString, void*> m_manyCache[2];
    void dropManyCache();
    // The connection's statement of this text (a sqlite3_stmt*): the kept
    // one, or prepared now and kept; null with *rc set when it cannot be.
    void* keptStatement(Db which, const QString& sql, int* rc);
    // Each open file's own SQLite handle (null on a server), known from its
    // opening on, so a statement bound directly asks no connection registry.
    void* m_sqlite[2] = {nullptr, nullptr};
};

template <typename F> auto Store::onceMore(Db which, F&& f) -> decltype(f()) {
    try {
        return f();
    } catch (const StoreError& e) {
        if (e.kind() != ErrorKind::Io || !engine(which).remote() || !m_lost ||
            m_inTransaction[int(which)])
            throw;
        return f(); // connects again first
    }
}

// Scoped write transaction on one connection: begun in the constructor (the
// main file locked for writing at once), commit() explicit, rollback in the
// destructor otherwise.
class Transaction {
  public:
    // Write: SQLite's file is locked for writing at once. Snapshot: reads only,
    // all of them seeing one state of the ledger (REPEATABLE READ on a server;
    // on SQLite writers wait until it ends) — for reads a later write relies on.
    enum Kind { Write, Snapshot };
    Transaction(Store& store, Db which, Kind kind = Write);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void commit();
    // A commit whose outcome is always known: on a server, when the connection
    // is lost during COMMIT, the server is asked on reconnecting whether it
    // committed; it returns if so and throws saying "not saved" (ErrorKind::Io)
    // or "cannot tell" (ErrorKind::Unsure) otherwise. For saves a repeat would double.
    void commitKnown();

  private:
    Store& m_store;
    Db m_which;
    bool m_done = false;
};

// Rows written many to a statement: sql(n) gives the statement for n rows of
// `width` values each; full chunks reuse one prepared statement. flush() (or
// the destructor's caller) writes what is left.
class Batch {
  public:
    Batch(Store& store, Db which, std::function<QString(int rows)> sql, int width, int chunk = 100);
    // Rows appended to a table's fields ("f1, f2, …").
    Batch(Store& store, Db which, const QString& table, const QString& fields, int chunk = 100);
    void add(const QVariantList& row);
    void flush();
    int statements() const { return m_statements; }
    // Rows the statements changed (an UPDATE guarded by a version may change fewer).
    qint64 rowsAffected() const { return m_affected; }

  private:
    Store& m_store;
    Db m_which;
    std::function<QString(int)> m_sql;
    int m_width, m_chunk;
    QVariantList m_values;
    int m_statements = 0;
    qint64 m_affected = 0;
};
// What a failed statement on a local file means, in the user's words.
QString sqliteReason(const QSqlError& e);
// The many-row chunk of a write that must stay a few statements (a sheet save):
// well within both engines' limits on bound values.
constexpr int LargeChunk = 500;
// "?, ?, ?" for n bound values.
QString marks(int n);
// Appends rows (each of fields' width) to a table, many rows a statement; the
// way rows read from one file enter the other. Gives the statements run.
int insertRows(Store& store, Db which, const QString& table, const QString& fields,
               const Rows& rows);

// The status of an outcome with or without a value.
inline const Status& statusOf(const Status& s) {
    return s;
}
template <typename T> const Status& statusOf(const Result<T>& r) {
    return r.status;
}

// Runs body; a StoreError becomes a failed Status naming what was not done.
template <typename F> Status guarded(F&& body);

// Runs body for its value; a StoreError becomes the failed status.
template <typename T, typename F> Result<T> guardedValue(F&& body) {
    Result<T> r;
    r.status = guarded([&] { r.value = body(); });
    return r;
}

// The value of an operation run inside another: its failure goes on as a
// StoreError of the same kind.
template <typename T> T valueOf(Result<T> r) {
    if (!r)
        throw StoreError(r.status.error, QString(), r.status.kind);
    return std::move(r.value);
}

template <typename F> Status guarded(F&& body) {
    // An action the server broke off to end a deadlock runs again, its
    // transactions having rolled back: twice more at most.
    for (int attempt = 1;; ++attempt) {
        try {
            body();
            return Status{};
        } catch (const StoreError& e) {
            if (!e.retry() || attempt == 3)
                return Status::failed(e.message(), e.kind());
        }
    }
}
