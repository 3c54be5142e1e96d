#include "store/Store.h"

#include "base/WholeFile.h"
#include "store/Columns.h"
#include "store/Schema.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlRecord>
#include <QThread>
#include <atomic>
#include <sqlite3.h>

namespace {
std::atomic<int> nextStoreId{1};

const char* const MainFile = "Stolva.mdb";
const char* const WorkFile = "StolvaWork.mdb";

// SQLite's result code of a failed statement. Qt drops it from some errors
// (a failed COMMIT, a connection's error): SQLite's own text still names it.
int sqliteCode(const QSqlError& e) {
    bool ok = false;
    const int code = e.nativeErrorCode().toInt(&ok);
    if (ok)
        return code;
    static const struct {
        const char* text;
        int code;
    } known[] = {{"database or disk is full", 13},
                 {"disk I/O error", 10},
                 {"database is locked", 5},
                 {"database table is locked", 6},
                 {"attempt to write a readonly database", 8},
                 {"out of memory", 7},
                 {"database disk image is malformed", 11},
                 {"file is not a database", 26},
                 {"unable to open database file", 14}};
    const QString t = e.databaseText() + ' ' + e.driverText();
    for (const auto& k : known)
        if (t.contains(QLatin1String(k.text), Qt::CaseInsensitive))
            return k.code;
    return 0;
}

// What a failed statement means, in the user's words; SQLite's own text only
// for what has no plain explanation.
QString describe(const QSqlError& e) {
    const QString t = (e.databaseText().isEmpty() ? e.text() : e.databaseText()).trimmed();
    const int code = sqliteCode(e);
    // SQLITE_READONLY_DBMOVED: the file was deleted or moved while open.
    if (code == 1032)
        return QStringLiteral("データベースのファイルが削除されたか移動されました。"
                              "Stolva を終了して起動し直してください");
    switch (code & 0xff) {
    case 5:
    case 6:
        return QStringLiteral("ほかのプログラムがデータベースを使用中です");
    case 3:
    case 8:
        return QStringLiteral("データベースに書き込めません（読み取り専用）");
    case 7:
        return QStringLiteral("メモリが足りません");
    case 10:
        return QStringLiteral("ディスクの読み書きに失敗しました");
    case 11:
    case 26:
        return QStringLiteral("データベースが壊れているか、データベースではありません");
    case 13:
        return QStringLiteral("ディスクの空きが足りません");
    case 14:
        return QStringLiteral("データベースのファイルを開けません");
    case 19:
        return QStringLiteral("保存できない値です（%1）").arg(t);
    default:
        return t.isEmpty() ? QStringLiteral("データベースのエラー")
                           : QStringLiteral("データベースのエラー（%1）").arg(t);
    }
}

// SQLITE_BUSY (5) and SQLITE_LOCKED (6), with their extended codes.
bool isBusy(const QSqlError& e) {
    const int code = sqliteCode(e) & 0xff;
    return code == 5 || code == 6;
}
} // namespace

QString sqliteReason(const QSqlError& e) {
    return describe(e);
}

Store::Store() : m_id(nextStoreId++) {}

Store::~Store() {
    close();
}

QString Store::connectionName(Db which) const {
    return QString(which == Db::Main ? "dbMain#%1" : "dbWork#%1").arg(m_id);
}

QSqlDatabase Store::db(Db which) const {
    return QSqlDatabase::database(connectionName(which), false);
}

void Store::dropManyCache() {
    for (auto& cache : m_manyCache) {
        for (auto& [sql, st] : cache)
            sqlite3_finalize(static_cast<sqlite3_stmt*>(st));
        cache.clear();
    }
}

void Store::close() {
    dropManyCache();
    for (auto& cache : m_cache)
        cache.clear();
    for (Db which : {Db::Work, Db::Main}) {
        const QString name = connectionName(which);
        if (QSqlDatabase::contains(name)) {
            {
                QSqlDatabase d = QSqlDatabase::database(name, false);
                d.close();
            }
            QSqlDatabase::removeDatabase(name);
        }
    }
    m_open = false;
}

namespace {
QString shown(const QString& path) {
    return QDir::toNativeSeparators(path);
}
QString label(Db which) {
    return which == Db::Main ? QStringLiteral("データファイル") : QStringLiteral("作業用ファイル");
}
} // namespace

Status Store::checkExisting(Db which, const QString& path) {
    QFileInfo fi(path);
    if (fi.isDir())
        return Status::failed(QStringLiteral("%1 %2 がフォルダになっています。起動できません。")
                                  .arg(label(which), shown(path)),
                              ErrorKind::Io);
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return Status::failed(QStringLiteral("%1 %2 を読み込めません。起動できません。")
                                  .arg(label(which), shown(path)),
                              ErrorKind::Io);
    const QByteArray head = f.read(16);
    if (head != QByteArray("SQLite format 3\0", 16))
        return Status::failed(
            QStringLiteral("%1 %2 は Stolva のデータベースではないか、壊れています。"
                           "起動できません。ファイルは変更していません。")
                .arg(label(which), shown(path)),
            ErrorKind::Foreign);
    return Status{};
}

// Step 1: the folder and the files, before any connection touches them.
Status Store::checkFiles(bool mainExists, bool workExists) {
    if (!mainExists && workExists)
        return Status::failed(
            QStringLiteral("データファイル %1 が見つかりません。作業用ファイルだけが残っています。"
                           "データフォルダを確認してください。")
                .arg(shown(m_mainPath)),
            ErrorKind::Io);
    if (!wholefile::makeOwnFolder(m_dataPath))
        return Status::failed(
            QStringLiteral("データフォルダ %1 を作成できません。").arg(shown(m_dataPath)),
            ErrorKind::Io);
    if (mainExists)
        if (Status s = checkExisting(Db::Main, m_mainPath); !s)
            return s;
    if (workExists)
        if (Status s = checkExisting(Db::Work, m_workPath); !s)
            return s;
    return Status{};
}

void Store::openConnection(Db which, const QString& path) {
    QSqlDatabase d = QSqlDatabase::addDatabase("QSQLITE", connectionName(which));
    d.setDatabaseName(path);
    d.setConnectOptions(QString("QSQLITE_BUSY_TIMEOUT=%1").arg(m_busyTimeoutMs));
    if (!d.open())
        throw StoreError(QStringLiteral("データベース %1 を開けません: %2")
                             .arg(shown(path), describe(d.lastError())),
                         QString(), ErrorKind::Io);
}

// Step 2: an existing file is probed before anything is written to it: its
// tables must all be there and its version not newer than this program's.
void Store::probe(Db which, const QString& path) {
    const int version = scalar(which, "PRAGMA user_version").toInt();
    int missing = 0;
    for (const schema::Table& t : schema::tables())
        if (t.db == which &&
            scalar(which, "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = ?",
                   {t.name})
                    .toInt() == 0)
            ++missing;
    if (version < BaseSchemaVersion || missing > 0)
        throw StoreError(QStringLiteral("%1 %2 は Stolva のデータベースではありません。"
                                        "起動できません。ファイルは変更していません。")
                             .arg(label(which), shown(path)),
                         QString(), ErrorKind::Foreign);
    if (version > schemaVersion())
        throw StoreError(QStringLiteral("%1 %2 はより新しい版の Stolva で作られています。"
                                        "起動できません。ファイルは変更していません。")
                             .arg(label(which), shown(path)),
                         QString(), ErrorKind::Newer);
    // A file of this version must have exactly this version's tables,
    // indexes and triggers: a trigger added elsewhere could change saved data.
    if (which == Db::Main && version == schemaVersion())
        verifyMain();
}

void Store::verifyMain() {
    const QString diff = schema::mainDifference(db(Db::Main));
    if (!diff.isEmpty())
        throw StoreError(QStringLiteral("%1 %2 の構造が Stolva のものと違います。"
                                        "起動できません。ファイルは変更していません。\n%3")
                             .arg(label(Db::Main), shown(m_mainPath), diff),
                         QString(), ErrorKind::Foreign);
}

// Step 3: rollback journal and full sync.
void Store::applyPragmas(Db which) {
    exec(which, "PRAGMA journal_mode=DELETE");
    exec(which, "PRAGMA synchronous=FULL");
}

// Step 4a: a new file gets every table of the schema; a new main file its
// empty slots.
void Store::createSchema(Db which) {
    Transaction t(*this, which);
    for (const schema::Table& table : schema::tables()) {
        if (table.db != which)
            continue;
        exec(which, table.definition);
        for (const QString& index : table.indexes)
            exec(which, index);
    }
    if (which == Db::Main) {
        for (const QString& sql : schema::sheetTotals())
            exec(Db::Main, sql);
        for (const QString& sql : schema::sheetVersions())
            exec(Db::Main, sql);
        QSqlQuery ins = prepare(Db::Main, "INSERT INTO コードマスタ (kcode, code) VALUES (?, ?)");
        for (const QString& kind : schema::slotKinds())
            for (int i = 1; i <= codes::SlotCount; ++i)
                run(ins, {kind, QString("%1").arg(i, 2, 10, QChar('0'))});
    }
    exec(which, QString("PRAGMA user_version=%1").arg(schemaVersion()));
    t.commit();
}

// Step 4b: an older file is brought up to this program's version, step by step,
// in one transaction.
void Store::upgrade(Db which) {
    const int version = scalar(which, "PRAGMA user_version").toInt();
    if (version >= schemaVersion())
        return;
    Transaction t(*this, which);
    for (int v = std::max(version, BaseSchemaVersion); v < schemaVersion(); ++v) {
        const Upgrade& step = m_upgrades[v - BaseSchemaVersion];
        if (which == Db::Main)
            step.apply(*this);
        else if (step.applyWork)
            step.applyWork(*this);
    }
    // The upgraded file must be this version's; if not, the transaction
    // rolls back and the file stays as it was.
    if (which == Db::Main)
        verifyMain();
    exec(which, QString("PRAGMA user_version=%1").arg(schemaVersion()));
    t.commit();
}

// The work file is this PC's editing buffer: a hidden field added to one of
// its tables is added to an existing file at the next start, without a step
// of the shared schema (which every PC of a server would have to take).
void Store::addWorkFields() {
    const QStringList have = [&] {
        QStringList names;
        for (const Row& r : query(Db::Work, "SELECT name FROM pragma_table_info('w在庫表')"))
            names << r[0].toString();
        return names;
    }();
    for (const QString& def : schema::sheetLineSources())
        if (!have.contains(def.section(' ', 0, 0)))
            exec(Db::Work, "ALTER TABLE w在庫表 ADD COLUMN " + def);
}

Status Store::open(const QString& dataPath) {
    Status s = openOnce(dataPath);
    // Refused while the program runs (a restored copy): nothing is starting.
    if (!s && m_everOpened)
        s.error.replace(QStringLiteral("起動できません。"),
                        QStringLiteral("このデータは使えません。"));
    m_everOpened = m_everOpened || s.ok;
    return s;
}

Status Store::openOnce(const QString& dataPath) {
    close();
    m_dataPath = QDir(dataPath).absolutePath() + "/";
    m_mainPath = m_dataPath + MainFile;
    m_workPath =
        (m_workFolder.isEmpty() ? m_dataPath : QDir(m_workFolder).absolutePath() + "/") + WorkFile;
    if (!m_workFolder.isEmpty() && !QDir().mkpath(m_workFolder))
        return Status::failed(
            QStringLiteral("作業用フォルダ %1 を作成できません。").arg(shown(m_workFolder)),
            ErrorKind::Io);
    if (m_server)
        m_mainPath = m_server->shown();
    // On a server only the work file is local.
    const bool mainExists = m_server || QFileInfo::exists(m_mainPath);
    const bool workExists = QFileInfo::exists(m_workPath);
    if (Status s = m_server ? checkFiles(false, false) : checkFiles(mainExists, workExists); !s)
        return s;
    if (m_server && workExists)
        if (Status s = checkExisting(Db::Work, m_workPath); !s)
            return s;

    Status st = guarded([&] {
        const QPair<Db, bool> files[] = {{Db::Main, mainExists}, {Db::Work, workExists}};
        for (const auto& [which, exists] : files) {
            if (serverDb(which)) {
                openServer();
                continue;
            }
            openConnection(which, which == Db::Main ? m_mainPath : m_workPath);
            if (exists)
                probe(which, which == Db::Main ? m_mainPath : m_workPath);
        }
        for (const auto& [which, exists] : files) {
            if (serverDb(which))
                continue;
            applyPragmas(which);
            if (exists)
                upgrade(which);
            else
                createSchema(which);
            if (which == Db::Work && exists)
                addWorkFields();
        }
    });
    if (!st) {
        close();
        if (st.kind == ErrorKind::Busy)
            st.error = QStringLiteral("データベースが他のプログラムに使用されています。"
                                      "しばらくしてから起動してください。（%1）")
                           .arg(st.error);
        else if (st.kind == ErrorKind::Other)
            st.error = QStringLiteral("データベースを開けません。起動できません。"
                                      "ファイルは変更していません。（%1）")
                           .arg(st.error);
        else if (st.kind == ErrorKind::Io && m_server && st.error.isEmpty())
            st.error = QStringLiteral("サーバー %1 に接続できません。").arg(m_server->shown());
        return st;
    }
    // The ledger and the work file are read by their owner only (their
    // journals take the same permissions).
    if (!m_server)
        wholefile::ownerOnly(m_mainPath);
    wholefile::ownerOnly(m_workPath);
    m_open = true;
    return Status{};
}

void Store::lock(const QString& what) {
    // Taken once per transaction: a second request of the same lock is free.
    if (m_server && !m_locked.contains(what)) {
        query(Db::Main, "SELECT pg_advisory_xact_lock(hashtext(?))", {what});
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

void Store::reconnectIfLost(Db which) {
    if (!serverDb(which) || !m_lost || m_inTransaction[int(which)])
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

template <typename F> auto Store::onceMore(Db which, F&& f) -> decltype(f()) {
    try {
        return f();
    } catch (const StoreError& e) {
        if (e.kind() != ErrorKind::Io || !serverDb(which) || !m_lost || m_inTransaction[int(which)])
            throw;
        return f(); // connects again first
    }
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
        if (!serverDb(which) && e.nativeErrorCode().toInt() == 1032)
            throw StoreError(describe(e) + QStringLiteral("（%1）").arg(
                                               shown(which == Db::Work ? m_workPath : m_mainPath)),
                             q.lastQuery());
        fail(which, e, q.lastQuery());
    }
}

namespace {
// The connection's own SQLite handle; null on another engine.
sqlite3* sqliteOf(const QSqlDatabase& d) {
    if (d.driverName() != QLatin1String("QSQLITE"))
        return nullptr;
    const QVariant h = d.driver()->handle();
    if (!h.isValid() || qstrcmp(h.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3* const*>(h.data());
}

// A value bound as Qt's SQLite driver binds it.
int bindValue(sqlite3_stmt* st, int at, const QVariant& v) {
    if (v.isNull())
        return sqlite3_bind_null(st, at);
    switch (v.typeId()) {
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
        return sqlite3_bind_int64(st, at, v.toLongLong());
    case QMetaType::ULongLong:
        return sqlite3_bind_int64(st, at, qint64(v.toULongLong()));
    case QMetaType::Double:
    case QMetaType::Float:
        return sqlite3_bind_double(st, at, v.toDouble());
    case QMetaType::QByteArray: {
        const QByteArray b = v.toByteArray();
        return sqlite3_bind_blob(st, at, b.constData(), int(b.size()), SQLITE_TRANSIENT);
    }
    default: {
        const QString t = v.toString();
        return sqlite3_bind_text16(st, at, t.utf16(), int(t.size()) * int(sizeof(QChar)),
                                   SQLITE_TRANSIENT);
    }
    }
}
} // namespace

qint64 Store::runMany(Db which, const QString& sql, const QVariantList& values) {
    sqlite3* h = sqliteOf(db(which));
    if (!h) {
        QSqlQuery& q = cached(which, sql);
        run(q, values);
        const qint64 n = q.numRowsAffected();
        q.finish();
        return n;
    }
    m_sqlText = sql;
    ++m_statements;
    // A full chunk's statement is prepared once and kept; a few texts only.
    auto& cache = m_manyCache[int(which)];
    if (cache.size() > 64)
        dropManyCache();
    sqlite3_stmt* st = nullptr;
    int rc = SQLITE_OK;
    if (const auto hit = cache.find(sql); hit != cache.end()) {
        st = static_cast<sqlite3_stmt*>(hit->second);
    } else {
        const QByteArray text = sql.toUtf8();
        rc = sqlite3_prepare_v2(h, text.constData(), int(text.size()), &st, nullptr);
        if (rc == SQLITE_OK)
            cache.emplace(sql, st);
    }
    for (int i = 0; rc == SQLITE_OK && i < values.size(); ++i)
        rc = bindValue(st, i + 1, values.at(i));
    if (rc == SQLITE_OK) {
        rc = sqlite3_step(st);
        if (rc == SQLITE_DONE || rc == SQLITE_ROW)
            rc = SQLITE_OK;
    }
    const int code = rc == SQLITE_OK ? SQLITE_OK : sqlite3_extended_errcode(h);
    const QString said = rc == SQLITE_OK ? QString() : QString::fromUtf8(sqlite3_errmsg(h));
    const qint64 changed = sqlite3_changes(h);
    if (st) {
        sqlite3_reset(st);
        sqlite3_clear_bindings(st);
    }
    if (st && !cache.count(sql))
        sqlite3_finalize(st);
    if (rc != SQLITE_OK) {
        const QSqlError e(QString(), said, QSqlError::StatementError, QString::number(code));
        const bool busy = isBusy(e);
        QString msg = describe(e);
        if (busy)
            msg = QStringLiteral("データベースが他のプログラムに使用されています（%1）").arg(msg);
        throw StoreError(msg, sql, busy ? ErrorKind::Busy : ErrorKind::Other);
    }
    return changed;
}

namespace {
// A prepared statement freed however its use ends.
struct Statement {
    sqlite3_stmt* st = nullptr;
    ~Statement() { sqlite3_finalize(st); }
};
} // namespace

qint64 Store::copyRows(Db from, const QString& select, const QVariantList& params, Db to,
                       const QString& table, const QString& fields) {
    sqlite3* src = sqliteOf(db(from));
    sqlite3* dst = sqliteOf(db(to));
    if (!src || !dst) {
        const Rows rows = query(from, select, params);
        insertRows(*this, to, table, fields, rows);
        return rows.size();
    }
    const int width = int(fields.count(',')) + 1;
    constexpr int Chunk = 100;
    const auto fail = [&](sqlite3* h, const QString& sql) {
        const QSqlError e(QString(), QString::fromUtf8(sqlite3_errmsg(h)),
                          QSqlError::StatementError, QString::number(sqlite3_extended_errcode(h)));
        throw StoreError(describe(e), sql, isBusy(e) ? ErrorKind::Busy : ErrorKind::Other);
    };
    const auto prepareOn = [&](sqlite3* h, const QString& sql, Statement& s) {
        m_sqlText = sql;
        ++m_statements;
        const QByteArray text = sql.toUtf8();
        if (sqlite3_prepare_v2(h, text.constData(), int(text.size()), &s.st, nullptr) != SQLITE_OK)
            fail(h, sql);
    };
    // Each row of the statement carries a mark first: the last chunk's unused
    // rows are marked 0 and not inserted, so one statement serves every chunk
    // and the values go straight from the read to the write.
    QStringList pick;
    for (int c = 2; c <= width + 1; ++c)
        pick << QString("column%1").arg(c);
    const QString insertSql = "INSERT INTO " + table + " (" + fields + ") SELECT " +
                              pick.join(", ") + " FROM (VALUES " + rowMarks(Chunk, width + 1) +
                              ") WHERE column1 = 1";
    Statement read, write;
    prepareOn(src, select, read);
    for (int i = 0; i < params.size(); ++i)
        if (bindValue(read.st, i + 1, params.at(i)) != SQLITE_OK)
            fail(src, select);
    if (sqlite3_column_count(read.st) != width)
        throw StoreError(QStringLiteral("列の数が合いません"), select);
    prepareOn(dst, insertSql, write);
    qint64 copied = 0;
    int inChunk = 0;
    const auto flush = [&] {
        for (int r = inChunk; r < Chunk; ++r)
            sqlite3_bind_int(write.st, r * (width + 1) + 1, 0);
        if (sqlite3_step(write.st) != SQLITE_DONE)
            fail(dst, insertSql);
        sqlite3_reset(write.st);
        inChunk = 0;
    };
    for (;;) {
        const int rc = sqlite3_step(read.st);
        if (rc == SQLITE_DONE)
            break;
        if (rc != SQLITE_ROW)
            fail(src, select);
        const int at = inChunk * (width + 1) + 1;
        sqlite3_bind_int(write.st, at, 1);
        for (int c = 0; c < width; ++c)
            if (sqlite3_bind_value(write.st, at + 1 + c, sqlite3_column_value(read.st, c)) !=
                SQLITE_OK)
                fail(dst, insertSql);
        ++copied;
        if (++inChunk == Chunk)
            flush();
    }
    if (inChunk > 0)
        flush();
    return copied;
}

Rows Store::queryMany(Db which, const QString& sql, const QVariantList& params) {
    sqlite3* h = sqliteOf(db(which));
    if (!h)
        return query(which, sql, params);
    m_sqlText = sql;
    ++m_statements;
    Statement st;
    const QByteArray text = sql.toUtf8();
    int rc = sqlite3_prepare_v2(h, text.constData(), int(text.size()), &st.st, nullptr);
    for (int i = 0; rc == SQLITE_OK && i < params.size(); ++i)
        rc = bindValue(st.st, i + 1, params.at(i));
    Rows rows;
    const int n = rc == SQLITE_OK ? sqlite3_column_count(st.st) : 0;
    while (rc == SQLITE_OK || rc == SQLITE_ROW) {
        rc = sqlite3_step(st.st);
        if (rc != SQLITE_ROW)
            break;
        Row r(n);
        for (int c = 0; c < n; ++c) {
            switch (sqlite3_column_type(st.st, c)) {
            case SQLITE_INTEGER:
                r[c] = qlonglong(sqlite3_column_int64(st.st, c));
                break;
            case SQLITE_FLOAT:
                r[c] = sqlite3_column_double(st.st, c);
                break;
            case SQLITE_TEXT:
                r[c] = QString(static_cast<const QChar*>(sqlite3_column_text16(st.st, c)),
                               sqlite3_column_bytes16(st.st, c) / int(sizeof(QChar)));
                break;
            case SQLITE_BLOB:
                r[c] = QByteArray(static_cast<const char*>(sqlite3_column_blob(st.st, c)),
                                  sqlite3_column_bytes(st.st, c));
                break;
            default:
                break;
            }
        }
        rows.append(r);
    }
    if (rc != SQLITE_DONE) {
        const QSqlError e(QString(), QString::fromUtf8(sqlite3_errmsg(h)),
                          QSqlError::StatementError, QString::number(sqlite3_extended_errcode(h)));
        throw StoreError(describe(e), sql, isBusy(e) ? ErrorKind::Busy : ErrorKind::Other);
    }
    return rows;
}

void Store::exec(Db which, const QString& sql, const QVariantList& params) {
    reconnectIfLost(which);
    if (serverDb(which) && params.isEmpty()) {
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
    QSqlQuery& q = cached(which, sql);
    run(q, params);
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

void Store::begin(Db which, bool snapshot) {
    onceMore(which, [&] { beginOnce(which, snapshot); });
}

void Store::beginOnce(Db which, bool snapshot) {
    reconnectIfLost(which);
    m_inTransaction[int(which)] = true;
    QSqlDatabase d = db(which);
    const auto failed = [&](const QSqlError& e) {
        m_inTransaction[int(which)] = false;
        fail(which, e, m_sqlText);
    };
    if (d.driverName() == QLatin1String("QSQLITE") && (snapshot || which == Db::Main)) {
        // SQLite: a snapshot reads from its first statement on (writers wait
        // for it); a write locks the main file at once, so a busy file is
        // reported before any step runs and two writers that read first (a
        // free slot, a version) never both write. Qt's own begin is deferred.
        // On a server the writers lock the rows they change instead.
        m_sqlText = snapshot ? QStringLiteral("BEGIN DEFERRED") : QStringLiteral("BEGIN IMMEDIATE");
        QSqlQuery q(d);
        if (!q.exec(m_sqlText))
            failed(q.lastError());
        return;
    }
    m_sqlText = QStringLiteral("BEGIN");
    if (!d.transaction())
        failed(d.lastError());
    if (!snapshot)
        return;
    m_sqlText = QStringLiteral("SET TRANSACTION ISOLATION LEVEL REPEATABLE READ, READ ONLY");
    QSqlQuery q(d);
    if (!q.exec(m_sqlText)) {
        const QSqlError e = q.lastError();
        d.rollback();
        failed(e);
    }
}

void Store::finish(Db which, bool commit) {
    m_inTransaction[int(which)] = false;
    if (which == Db::Main)
        m_locked.clear(); // a transaction's locks end with it
    QSqlDatabase d = db(which);
    if (commit) {
        m_sqlText = QStringLiteral("COMMIT");
        if (serverDb(which)) {
            if (!d.commit())
                fail(which, d.lastError(), m_sqlText);
            return;
        }
        // Through a statement, so a full disk is named as such; a COMMIT that
        // failed may leave the transaction open, and nothing of it is kept.
        QSqlQuery q(d);
        if (!q.exec(m_sqlText)) {
            const QSqlError e = q.lastError();
            QSqlQuery(d).exec(QStringLiteral("ROLLBACK"));
            fail(which, e, m_sqlText);
        }
        return;
    }
    // SQLite may already have rolled back after an I/O error: nothing to report.
    d.rollback();
}

QString Store::said(Db which, const QSqlError& e) const {
    return serverDb(which) ? server::describe(e, m_server->shown()) : describe(e);
}

bool Store::busy(Db which, const QSqlError& e) const {
    return serverDb(which) ? server::isBusy(e) : isBusy(e);
}

void Store::fail(Db which, const QSqlError& e, const QString& sql) {
    QString msg = said(which, e);
    const bool locked = busy(which, e);
    ErrorKind kind = locked ? ErrorKind::Busy : ErrorKind::Other;
    if (locked && !serverDb(which))
        msg = QStringLiteral("データベースが他のプログラムに使用されています（%1）").arg(msg);
    else if (locked)
        msg = QStringLiteral("%1。しばらくしてから、もう一度してください").arg(msg);
    else if (serverDb(which) && server::isLost(e)) {
        kind = ErrorKind::Io;
        setLost(true);
    }
    throw StoreError(msg, sql, kind, serverDb(which) && server::isRetried(e));
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
    if (!m_store.serverDb(m_which))
        return commit();
    const qint64 xid = m_store.scalar(m_which, "SELECT txid_current()").toLongLong();
    try {
        commit();
    } catch (const StoreError& e) {
        m_done = true; // nothing left to roll back on this connection
        if (e.kind() != ErrorKind::Io)
            throw;
        m_store.learnCommit(m_which, xid);
    }
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

QString typedRowMarks(const Store& store, Db which, int rows, const QStringList& types) {
    if (which != Db::Main || !store.onServer() || rows == 0)
        return rowMarks(rows, int(types.size()));
    QStringList first;
    for (const QString& t : types)
        first << QStringLiteral("CAST(? AS %1)")
                     .arg(t == QLatin1String("INTEGER") ? QStringLiteral("bigint") : t.toLower());
    const QString rest = rows > 1 ? ", " + rowMarks(rows - 1, int(types.size())) : QString();
    return "(" + first.join(", ") + ")" + rest;
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
