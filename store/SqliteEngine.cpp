#include "store/Engine.h"
#include "store/Store.h"

#include <QSqlDriver>
#include <QSqlQuery>
#include <QStringEncoder>
#include <sqlite3.h>

// The ledger in a local SQLite file (and every PC's work file): its errors
// in the user's words, its transactions, and the many-row statements bound
// through SQLite itself.
namespace {
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

class Sqlite final : public Engine {
  public:
    bool remote() const override { return false; }
    QSqlError begin(QSqlDatabase& d, bool snapshot, bool lockAtOnce, QString* sql) const override {
        if (!snapshot && !lockAtOnce) {
            *sql = QStringLiteral("BEGIN");
            return d.transaction() ? QSqlError() : d.lastError();
        }
        // A snapshot reads from its first statement on (writers wait for
        // it); a write locks the main file at once, so a busy file is
        // reported before any step runs and two writers that read first (a
        // free slot, a version) never both write. Qt's own begin is deferred.
        *sql = snapshot ? QStringLiteral("BEGIN DEFERRED") : QStringLiteral("BEGIN IMMEDIATE");
        QSqlQuery q(d);
        return q.exec(*sql) ? QSqlError() : q.lastError();
    }
    QSqlError commit(QSqlDatabase& d) const override {
        // Through a statement, so a full disk is named as such; a COMMIT that
        // failed may leave the transaction open, and nothing of it is kept.
        QSqlQuery q(d);
        if (q.exec(QStringLiteral("COMMIT")))
            return QSqlError();
        const QSqlError e = q.lastError();
        QSqlQuery(d).exec(QStringLiteral("ROLLBACK"));
        return e;
    }
    // The write lock taken at BEGIN already keeps other writers out.
    QString lockStatement() const override { return QString(); }
    QString describe(const QSqlError& e) const override { return ::describe(e); }
    bool isBusy(const QSqlError& e) const override { return ::isBusy(e); }
    QString busyMessage(const QString& said) const override {
        return QStringLiteral("データベースが他のプログラムに使用されています（%1）").arg(said);
    }
    bool isFileGone(const QSqlError& e) const override { return sqliteCode(e) == 1032; }
};
} // namespace

std::unique_ptr<Engine> sqliteEngine() {
    return std::make_unique<Sqlite>();
}

QString sqliteReason(const QSqlError& e) {
    return describe(e);
}

void Store::dropManyCache() {
    for (auto& cache : m_manyCache) {
        for (auto& [sql, st] : cache)
            sqlite3_finalize(static_cast<sqlite3_stmt*>(st));
        cache.clear();
    }
}

void* sqliteHandleOf(const QSqlDatabase& d) {
    if (d.driverName() != QLatin1String("QSQLITE"))
        return nullptr;
    const QVariant h = d.driver()->handle();
    if (!h.isValid() || qstrcmp(h.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3* const*>(h.data());
}

namespace {

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
        // Encoded once into memory SQLite keeps: the files hold UTF-8, so a
        // text bound as UTF-16 would be converted again inside SQLite.
        const QString t = v.toString();
        if (t.isEmpty())
            return sqlite3_bind_text(st, at, "", 0, SQLITE_STATIC);
        QStringEncoder utf8(QStringEncoder::Utf8, QStringConverter::Flag::Stateless);
        char* text =
            static_cast<char*>(sqlite3_malloc64(sqlite3_uint64(utf8.requiredSpace(t.size()))));
        if (!text)
            return SQLITE_NOMEM;
        const char* end = utf8.appendToBuffer(text, t);
        return sqlite3_bind_text64(st, at, text, sqlite3_uint64(end - text), sqlite3_free,
                                   SQLITE_UTF8);
    }
    }
}
// A kept statement made ready for its next use however this one ends.
struct Kept {
    sqlite3_stmt* st = nullptr;
    ~Kept() {
        if (st) {
            sqlite3_reset(st);
            sqlite3_clear_bindings(st);
        }
    }
};
} // namespace

void* Store::keptStatement(Db which, const QString& sql, int* rc) {
    // A few texts only: the full chunks' statements and the reads repeated.
    auto& cache = m_manyCache[int(which)];
    if (cache.size() > 64)
        dropManyCache();
    *rc = SQLITE_OK;
    if (const auto hit = cache.find(sql); hit != cache.end())
        return hit->second;
    sqlite3_stmt* st = nullptr;
    const QByteArray text = sql.toUtf8();
    *rc = sqlite3_prepare_v2(static_cast<sqlite3*>(m_sqlite[int(which)]), text.constData(),
                             int(text.size()), &st, nullptr);
    if (*rc != SQLITE_OK) {
        sqlite3_finalize(st);
        return nullptr;
    }
    cache.emplace(sql, st);
    return st;
}

qint64 Store::runMany(Db which, const QString& sql, const QVariantList& values) {
    sqlite3* h = static_cast<sqlite3*>(m_sqlite[int(which)]);
    if (!h) {
        QSqlQuery& q = cached(which, sql);
        run(q, values);
        const qint64 n = q.numRowsAffected();
        q.finish();
        return n;
    }
    m_sqlText = sql;
    ++m_statements;
    int rc = SQLITE_OK;
    Kept kept;
    sqlite3_stmt* st = kept.st = static_cast<sqlite3_stmt*>(keptStatement(which, sql, &rc));
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
    sqlite3* src = static_cast<sqlite3*>(m_sqlite[int(from)]);
    sqlite3* dst = static_cast<sqlite3*>(m_sqlite[int(to)]);
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
    sqlite3* h = static_cast<sqlite3*>(m_sqlite[int(which)]);
    if (!h)
        return query(which, sql, params);
    m_sqlText = sql;
    ++m_statements;
    // Prepared once and kept, as the many-row writes are; reset after every
    // use, so that no read is left open on the file.
    int rc = SQLITE_OK;
    Kept st;
    st.st = static_cast<sqlite3_stmt*>(keptStatement(which, sql, &rc));
    for (int i = 0; rc == SQLITE_OK && i < params.size(); ++i)
        rc = bindValue(st.st, i + 1, params.at(i));
    Rows rows;
    const int n = rc == SQLITE_OK ? sqlite3_column_count(st.st) : 0;
    while (rc == SQLITE_OK || rc == SQLITE_ROW) {
        rc = sqlite3_step(st.st);
        if (rc != SQLITE_ROW)
            break;
        Row r;
        r.reserve(n);
        for (int c = 0; c < n; ++c) {
            switch (sqlite3_column_type(st.st, c)) {
            case SQLITE_INTEGER:
                r.append(qlonglong(sqlite3_column_int64(st.st, c)));
                break;
            case SQLITE_FLOAT:
                r.append(sqlite3_column_double(st.st, c));
                break;
            case SQLITE_TEXT:
                // Stored as UTF-8: read as it is, no conversion inside SQLite.
                r.append(
                    QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st.st, c)),
                                      sqlite3_column_bytes(st.st, c)));
                break;
            case SQLITE_BLOB:
                r.append(QByteArray(static_cast<const char*>(sqlite3_column_blob(st.st, c)),
                                    sqlite3_column_bytes(st.st, c)));
                break;
            default:
                r.append(QVariant());
                break;
            }
        }
        rows.append(std::move(r));
    }
    if (rc != SQLITE_DONE) {
        const QSqlError e(QString(), QString::fromUtf8(sqlite3_errmsg(h)),
                          QSqlError::StatementError, QString::number(sqlite3_extended_errcode(h)));
        throw StoreError(describe(e), sql, isBusy(e) ? ErrorKind::Busy : ErrorKind::Other);
    }
    return rows;
}
