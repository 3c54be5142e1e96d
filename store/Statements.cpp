#include "store/Engine.h"
#include "store/Store.h"

#include <QDir>
#include <QSqlRecord>

// Statements on either connection: prepared once and kept, run with bound
// values, their failures said in the user's words.
void Store::lock(const QString& what) {
    // Taken once per transaction: a second request of the same lock is free.
    const QString sql = engine(Db::Main).lockStatement();
    if (!sql.isEmpty() && !m_locked.contains(what)) {
        const Rows r = query(Db::Main, sql, {what});
        if (!r.isEmpty() && r[0].size() > 1)
            m_xid = r[0][1].toLongLong();
        m_locked.insert(what);
    }
}

QSqlQuery Store::prepare(Db which, const QString& sql) {
    m_sqlText = sql;
    QSqlQuery q(db(which));
    q.setForwardOnly(true);
    if (!q.prepare(sql))
        fail(which, q.lastError(), sql);
    return q;
}

QSqlQuery& Store::cached(Db which, const QString& sql) {
    reconnectIfLost(which);
    auto& cache = m_cache[int(which)];
    const auto hit = cache.find(sql);
    if (hit != cache.end()) {
        m_sqlText = sql;
        return hit->second;
    }
    return cache.emplace(sql, prepare(which, sql)).first->second;
}

void Store::run(QSqlQuery& q, const QVariantList& params) {
    m_sqlText = q.lastQuery();
    ++m_statements;
    for (int i = 0; i < params.size(); ++i)
        q.bindValue(i, params.at(i));
    if (!q.exec()) {
        const QSqlError e = q.lastError();
        const Db which = q.driver() == db(Db::Work).driver() ? Db::Work : Db::Main;
        // Which file, when it is the file itself that is gone.
        if (engine(which).isFileGone(e))
            throw StoreError(engine(which).describe(e) +
                                 QStringLiteral("（%1）").arg(QDir::toNativeSeparators(
                                     which == Db::Work ? m_workPath : m_mainPath)),
                             q.lastQuery());
        fail(which, e, q.lastQuery());
    }
}

void Store::exec(Db which, const QString& sql, const QVariantList& params) {
    reconnectIfLost(which);
    if (engine(which).sendsUnprepared() && params.isEmpty()) {
        // The server prepares only queries and changes of rows, never a
        // definition: a statement without values is sent as it is.
        m_sqlText = sql;
        ++m_statements;
        QSqlQuery q(db(which));
        if (!q.exec(sql))
            fail(which, q.lastError(), sql);
        return;
    }
    QSqlQuery& q = cached(which, sql);
    run(q, params);
    q.finish();
}

Rows Store::query(Db which, const QString& sql, const QVariantList& params) {
    return onceMore(which, [&] { return queryOnce(which, sql, params); });
}

Rows Store::queryOnce(Db which, const QString& sql, const QVariantList& params) {
    if (engine(which).sendsUnprepared() && params.isEmpty()) {
        // A query without values costs the server one round trip sent as it
        // is, two when prepared first (most are read once, at start).
        reconnectIfLost(which);
        m_sqlText = sql;
        ++m_statements;
        QSqlQuery q(db(which));
        q.setForwardOnly(true);
        if (!q.exec(sql))
            fail(which, q.lastError(), sql);
        return rowsOf(which, q, sql);
    }
    QSqlQuery& q = cached(which, sql);
    run(q, params);
    return rowsOf(which, q, sql);
}

Rows Store::rowsOf(Db which, QSqlQuery& q, const QString& sql) {
    Rows rows;
    const int n = q.record().count();
    while (q.next()) {
        Row r(n);
        // Null is an empty value on both engines (never a typed null that reads as 0).
        for (int i = 0; i < n; ++i)
            if (const QVariant v = q.value(i); !v.isNull())
                r[i] = v;
        rows.append(r);
    }
    const QSqlError failed = q.lastError();
    q.finish();
    if (failed.isValid())
        fail(which, failed, sql);
    return rows;
}

QVariant Store::scalar(Db which, const QString& sql, const QVariantList& params) {
    const Rows rows = query(which, sql, params);
    if (rows.isEmpty() || rows.first().isEmpty())
        return QVariant();
    return rows.first().first();
}

void Store::fail(Db which, const QSqlError& e, const QString& sql) {
    const Engine& en = engine(which);
    QString msg = en.describe(e);
    const bool locked = en.isBusy(e);
    ErrorKind kind = locked ? ErrorKind::Busy : ErrorKind::Other;
    if (locked) {
        msg = en.busyMessage(msg);
    } else if (en.isLost(e)) {
        kind = ErrorKind::Io;
        setLost(true);
    }
    throw StoreError(msg, sql, kind, en.isRetried(e));
}

QString marks(int n) {
    return n <= 0 ? QString() : QString("?, ").repeated(n - 1) + "?";
}

QString rowMarks(int rows, int width) {
    const QString one = "(" + QString("?, ").repeated(width - 1) + "?)";
    QStringList all;
    all.reserve(rows);
    for (int i = 0; i < rows; ++i)
        all << one;
    return all.join(", ");
}

QString Engine::typedRows(int rows, const QStringList& types) const {
    return rowMarks(rows, int(types.size()));
}

QString Store::typedRows(Db which, int rows, const QStringList& types) const {
    return engine(which).typedRows(rows, types);
}

Batch::Batch(Store& store, Db which, std::function<QString(int rows)> sql, int width, int chunk)
    : m_store(store), m_which(which), m_sql(std::move(sql)), m_width(width), m_chunk(chunk) {}

Batch::Batch(Store& store, Db which, const QString& table, const QString& fields, int chunk)
    : Batch(
          store, which,
          [table, fields, width = int(fields.count(',')) + 1](int n) {
              return "INSERT INTO " + table + " (" + fields + ") VALUES " + rowMarks(n, width);
          },
          int(fields.count(',')) + 1, chunk) {}

void Batch::add(const QVariantList& row) {
    m_values += row;
    if (m_values.size() >= m_width * m_chunk)
        flush();
}

void Batch::flush() {
    const int rows = int(m_values.size() / m_width);
    if (rows == 0)
        return;
    m_affected += m_store.runMany(m_which, m_sql(rows), m_values);
    ++m_statements;
    m_values.clear();
}

int insertRows(Store& store, Db which, const QString& table, const QString& fields,
               const Rows& rows) {
    Batch b(store, which, table, fields);
    for (const Row& r : rows)
        b.add(QVariantList(r.begin(), r.end()));
    b.flush();
    return b.statements();
}
