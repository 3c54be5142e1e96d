#include "store/Engine.h"
#include "store/Store.h"

#include <QDeadlineTimer>
#include <QThread>

// Transactions, and a server connection lost and opened again.
void Store::reconnectIfLost(Db which) {
    if (!engine(which).remote() || !m_lost || m_inTransaction[int(which)])
        return;
    m_cache[int(which)].clear();
    const QString name = connectionName(which);
    {
        QSqlDatabase d = QSqlDatabase::database(name, false);
        d.close();
    }
    QSqlDatabase::removeDatabase(name);
    if (Status s = server::connect(name, *m_server, m_busyTimeoutMs); !s) {
        setLost(true);
        throw StoreError(s.error, QString(), ErrorKind::Io);
    }
    setLost(false);
}

void Store::learnCommit(Db which, qint64 xid) {
    const QString where = m_server->shown();
    const auto unknown = [&] {
        return StoreError(
            QStringLiteral("サーバー %1 との接続が保存の途中で切れ、保存されたかどうか確かめられ"
                           "ません。入力した内容はこの PC に残っています。サーバーに接続できる"
                           "ようになったら、保存済みの内容を読み込んで確かめてください（追加して"
                           "登録すると数量が二重になることがあります）。")
                .arg(where),
            QStringLiteral("COMMIT"), ErrorKind::Unsure);
    };
    // The server's word on the transaction, once it has noticed the lost
    // connection (a moment: until then the transaction is still in progress).
    QDeadlineTimer deadline(5000);
    for (;;) {
        QString status;
        try {
            status = scalar(which, "SELECT txid_status(?)", {xid}).toString();
        } catch (const StoreError&) {
            throw unknown();
        }
        if (status == QLatin1String("committed"))
            return;
        if (status == QLatin1String("aborted"))
            throw StoreError(QStringLiteral("サーバー %1 との接続が保存の途中で切れました。保存"
                                            "されていません。入力した内容はこの PC に残って"
                                            "います。")
                                 .arg(where),
                             QStringLiteral("COMMIT"), ErrorKind::Io);
        if (status != QLatin1String("in progress") || deadline.hasExpired())
            throw unknown();
        QThread::msleep(50);
    }
}

void Store::setLost(bool lost) {
    const bool was = m_lost;
    m_lost = lost;
    if (m_watcher && (was != lost || lost))
        m_watcher(!lost);
}

void Store::begin(Db which, bool snapshot) {
    onceMore(which, [&] { beginOnce(which, snapshot); });
}

void Store::beginOnce(Db which, bool snapshot) {
    reconnectIfLost(which);
    m_inTransaction[int(which)] = true;
    QSqlDatabase d = db(which);
    // Only the main file is shared: its writers lock it at BEGIN.
    const QSqlError e = engine(which).begin(d, snapshot, which == Db::Main, &m_sqlText);
    if (e.isValid()) {
        m_inTransaction[int(which)] = false;
        fail(which, e, m_sqlText);
    }
}

void Store::finish(Db which, bool commit) {
    m_inTransaction[int(which)] = false;
    if (which == Db::Main) {
        m_locked.clear(); // a transaction's locks end with it
        m_xid = 0;
    }
    QSqlDatabase d = db(which);
    if (commit) {
        m_sqlText = QStringLiteral("COMMIT");
        if (const QSqlError e = engine(which).commit(d); e.isValid())
            fail(which, e, m_sqlText);
        return;
    }
    // SQLite may already have rolled back after an I/O error: nothing to report.
    d.rollback();
}

Transaction::Transaction(Store& store, Db which, Kind kind) : m_store(store), m_which(which) {
    m_store.begin(m_which, kind == Snapshot);
}

Transaction::~Transaction() {
    if (!m_done) {
        // The failed statement stays the one named in the error report.
        const QString failed = m_store.m_sqlText;
        m_store.finish(m_which, false);
        m_store.m_sqlText = failed;
    }
}

void Transaction::commit() {
    m_store.finish(m_which, true);
    m_done = true;
}

void Transaction::commitKnown() {
    if (!m_store.engine(m_which).asksLostCommits())
        return commit();
    const qint64 xid = m_store.m_xid && m_which == Db::Main
                           ? m_store.m_xid
                           : m_store.scalar(m_which, "SELECT txid_current()").toLongLong();
    try {
        commit();
    } catch (const StoreError& e) {
        m_done = true; // nothing left to roll back on this connection
        if (e.kind() != ErrorKind::Io)
            throw;
        m_store.learnCommit(m_which, xid);
    }
}
