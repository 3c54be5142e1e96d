#pragma once

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>
#include <QVector>
#include <stdexcept>

// Which of the two connections a statement runs on.
enum class Db { Main, Work };

// A database step that failed; carries the statement for the error report.
class StoreError : public std::runtime_error {
  public:
    StoreError(const QString& message, const QString& sql)
        : std::runtime_error(message.toStdString()), m_message(message), m_sql(sql) {}
    QString message() const { return m_message; }
    QString sql() const { return m_sql; }

  private:
    QString m_message;
    QString m_sql;
};

// Outcome of an operation: ok, or the reason it was not done.
struct Status {
    bool ok = true;
    QString error;
    static Status failed(const QString& e) { return Status{false, e}; }
    explicit operator bool() const { return ok; }
};

using Row = QVector<QVariant>;
using Rows = QVector<Row>;

// Owns the main database (Stolva.mdb) and the work database (StolvaWork.mdb):
// both connections, the schema, transactions and checked statement helpers.
class Store {
  public:
    static constexpr int SchemaVersion = 1;
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

    QString dataPath() const { return m_dataPath; }
    QString mainDbPath() const { return m_mainPath; }
    QString workDbPath() const { return m_workPath; }

    QSqlDatabase db(Db which) const;
    QString connectionName(Db which) const;

    // Every statement below is checked; a failure throws StoreError.
    void exec(Db which, const QString& sql, const QVariantList& params = {});
    Rows query(Db which, const QString& sql, const QVariantList& params = {});
    QVariant scalar(Db which, const QString& sql, const QVariantList& params = {});
    QSqlQuery prepare(Db which, const QString& sql);
    void run(QSqlQuery& q, const QVariantList& params);

    // The last statement run, for error reports.
    QString sqlText() const { return m_sqlText; }

  private:
    friend class Transaction;
    Status openConnection(Db which, const QString& path);
    void createMainSchema();
    void createWorkSchema();
    void applyPragmas(Db which, const QString& schema = QString());
    Status checkExisting(Db which, const QString& path);

    int m_id;
    int m_busyTimeoutMs = DefaultBusyTimeoutMs;
    bool m_open = false;
    QString m_dataPath, m_mainPath, m_workPath;
    QString m_sqlText;
};

// Scoped write transaction on one connection: BEGIN IMMEDIATE in the
// constructor, commit() explicit, rollback in the destructor otherwise.
class Transaction {
  public:
    Transaction(Store& store, Db which);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void commit();

  private:
    Store& m_store;
    Db m_which;
    bool m_done = false;
};

// Runs body; a StoreError becomes a failed Status naming what was not done.
template <typename F> Status guarded(F&& body) {
    try {
        body();
        return Status{};
    } catch (const StoreError& e) {
        return Status::failed(e.message());
    }
}
