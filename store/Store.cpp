#include "store/Store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlRecord>
#include <atomic>

namespace {
std::atomic<int> nextStoreId{1};

const char* const MainFile = "Stolva.mdb";
const char* const WorkFile = "StolvaWork.mdb";

QString describe(const QSqlError& e) {
    QString t = e.databaseText().isEmpty() ? e.text() : e.databaseText();
    return t.trimmed();
}

bool isBusy(const QSqlError& e) {
    const QString t = e.databaseText().toLower();
    return t.contains("locked") || t.contains("busy");
}
} // namespace

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

void Store::close() {
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

Status Store::checkExisting(Db which, const QString& path) {
    const QString label =
        which == Db::Main ? QStringLiteral("データファイル") : QStringLiteral("作業用ファイル");
    QFileInfo fi(path);
    if (fi.isDir())
        return Status::failed(QStringLiteral("%1 %2 がフォルダになっています。起動できません。")
                                  .arg(label, QDir::toNativeSeparators(path)));
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return Status::failed(QStringLiteral("%1 %2 を読み込めません。起動できません。")
                                  .arg(label, QDir::toNativeSeparators(path)));
    const QByteArray head = f.read(16);
    if (head != QByteArray("SQLite format 3\0", 16))
        return Status::failed(
            QStringLiteral("%1 %2 は Stolva のデータベースではないか、壊れています。"
                           "起動できません。ファイルは変更していません。")
                .arg(label, QDir::toNativeSeparators(path)));
    return Status{};
}

Status Store::openConnection(Db which, const QString& path) {
    QSqlDatabase d = QSqlDatabase::addDatabase("QSQLITE", connectionName(which));
    d.setDatabaseName(path);
    d.setConnectOptions(QString("QSQLITE_BUSY_TIMEOUT=%1").arg(m_busyTimeoutMs));
    if (!d.open())
        return Status::failed(QStringLiteral("データベース %1 を開けません: %2")
                                  .arg(QDir::toNativeSeparators(path), describe(d.lastError())));
    return Status{};
}

void Store::applyPragmas(Db which, const QString& schema) {
    const QString p = schema.isEmpty() ? QString() : schema + ".";
    exec(which, QString("PRAGMA %1journal_mode=DELETE").arg(p));
    exec(which, QString("PRAGMA %1synchronous=FULL").arg(p));
}

Status Store::open(const QString& dataPath) {
    close();
    m_dataPath = QDir(dataPath).absolutePath() + "/";
    m_mainPath = m_dataPath + MainFile;
    m_workPath = m_dataPath + WorkFile;

    const bool mainExists = QFileInfo::exists(m_mainPath);
    const bool workExists = QFileInfo::exists(m_workPath);
    if (!mainExists && workExists)
        return Status::failed(
            QStringLiteral("データファイル %1 が見つかりません。作業用ファイルだけが残っています。"
                           "データフォルダを確認してください。")
                .arg(QDir::toNativeSeparators(m_mainPath)));
    if (!QDir().mkpath(m_dataPath))
        return Status::failed(QStringLiteral("データフォルダ %1 を作成できません。")
                                  .arg(QDir::toNativeSeparators(m_dataPath)));
    if (mainExists) {
        if (Status s = checkExisting(Db::Main, m_mainPath); !s)
            return s;
    }
    if (workExists) {
        if (Status s = checkExisting(Db::Work, m_workPath); !s)
            return s;
    }

    Status st = guarded([&] {
        Status s = openConnection(Db::Main, m_mainPath);
        if (!s)
            throw StoreError(s.error, QString());
        // Probe the existing file before anything is written to it.
        const int mainVersion = scalar(Db::Main, "PRAGMA user_version").toInt();
        if (mainExists) {
            const int tables =
                scalar(Db::Main, "SELECT count(*) FROM sqlite_master WHERE type='table' AND "
                                 "name IN ('在庫表','商品マスタ','コードマスタ','自社情報')")
                    .toInt();
            if (mainVersion < 1 || tables != 4)
                throw StoreError(QStringLiteral("データファイル %1 は Stolva "
                                                "のデータベースではありません。"
                                                "起動できません。ファイルは変更していません。")
                                     .arg(QDir::toNativeSeparators(m_mainPath)),
                                 QString());
            if (mainVersion > SchemaVersion)
                throw StoreError(QStringLiteral("データファイル %1 "
                                                "はより新しい版の Stolva で作られています。")
                                     .arg(QDir::toNativeSeparators(m_mainPath)),
                                 QString());
        }
        s = openConnection(Db::Work, m_workPath);
        if (!s)
            throw StoreError(s.error, QString());
        const int workVersion = scalar(Db::Work, "PRAGMA user_version").toInt();
        const int workTables =
            workExists
                ? scalar(Db::Work, "SELECT count(*) FROM sqlite_master WHERE type='table' AND "
                                   "name IN ('w在庫表','w商品マスタ','w商品参照','w商品区分参照',"
                                   "'w単位参照','wコードマスタ','w在庫表印刷','w商品マスタ印刷',"
                                   "'ClHint')")
                      .toInt()
                : 9;
        if (workExists && (workVersion < 1 || workVersion > SchemaVersion || workTables != 9))
            throw StoreError(QStringLiteral("作業用ファイル %1 は Stolva "
                                            "のデータベースではありません。"
                                            "起動できません。ファイルは変更していません。")
                                 .arg(QDir::toNativeSeparators(m_workPath)),
                             QString());
        applyPragmas(Db::Main);
        applyPragmas(Db::Work);
        if (!mainExists)
            createMainSchema();
        if (!workExists)
            createWorkSchema();
        exec(Db::Work, "ATTACH DATABASE ? AS m", {m_mainPath});
        applyPragmas(Db::Work, "m");
    });
    if (!st) {
        close();
        if (st.error.contains("locked") || st.error.contains("busy"))
            st.error = QStringLiteral("データベースが他のプログラムに使用されています。"
                                      "しばらくしてから起動してください。（%1）")
                           .arg(st.error);
        else if (!st.error.contains(QStringLiteral("起動できません")))
            st.error = QStringLiteral("データベースを開けません。起動できません。"
                                      "ファイルは変更していません。（%1）")
                           .arg(st.error);
        return st;
    }
    m_open = true;
    return Status{};
}

void Store::createMainSchema() {
    Transaction t(*this, Db::Main);
    exec(Db::Main, "CREATE TABLE 在庫表 (id INTEGER PRIMARY KEY, 日付 TEXT, 行番号 INTEGER, "
                   "code TEXT, 品名 TEXT, 数量 INTEGER, 適正数 INTEGER, 増減 INTEGER, 単位 TEXT, "
                   "単価 NUMERIC, 金額 NUMERIC, 商品区分 TEXT)");
    exec(Db::Main, "CREATE INDEX 在庫表_日付_区分 ON 在庫表 (日付, 商品区分, 行番号)");
    exec(Db::Main, "CREATE INDEX 在庫表_日付_code ON 在庫表 (日付, code)");
    exec(Db::Main, "CREATE TABLE 商品マスタ (id INTEGER PRIMARY KEY, code TEXT, 品名 TEXT, "
                   "単位 TEXT, 単価 NUMERIC, 適正数 INTEGER, 商品区分 TEXT)");
    exec(Db::Main, "CREATE INDEX 商品マスタ_品名 ON 商品マスタ (品名)");
    exec(Db::Main, "CREATE INDEX 商品マスタ_code ON 商品マスタ (code)");
    exec(Db::Main, "CREATE INDEX 商品マスタ_区分 ON 商品マスタ (商品区分, code)");
    // An empty name would become a blank item in every list, so the schema refuses it.
    exec(Db::Main, "CREATE TABLE コードマスタ (id INTEGER PRIMARY KEY, kcode TEXT, code TEXT, "
                   "sname TEXT CHECK (sname IS NULL OR length(sname) > 0))");
    exec(Db::Main, "CREATE INDEX コードマスタ_kcode_code ON コードマスタ (kcode, code)");
    exec(Db::Main, "CREATE TABLE 自社情報 (id INTEGER PRIMARY KEY, 会社名 TEXT, 住所 TEXT, "
                   "電話番号 TEXT)");
    QSqlQuery ins = prepare(Db::Main, "INSERT INTO コードマスタ (kcode, code) VALUES (?, ?)");
    for (const char* kind : {"商品区分", "単位"})
        for (int i = 1; i <= 30; ++i)
            run(ins, {QString::fromUtf8(kind), QString("%1").arg(i, 2, 10, QChar('0'))});
    exec(Db::Main, QString("PRAGMA user_version=%1").arg(SchemaVersion));
    t.commit();
}

void Store::createWorkSchema() {
    Transaction t(*this, Db::Work);
    const QString sheetCols = "seq INTEGER PRIMARY KEY, チェック INTEGER NOT NULL DEFAULT 0, "
                              "code TEXT, 品名 TEXT, 数量 INTEGER, 単位 TEXT, 適正数 INTEGER, "
                              "増減 INTEGER, 単価 NUMERIC, 金額 NUMERIC, 商品区分 TEXT";
    const QString productCols = "seq INTEGER PRIMARY KEY, チェック INTEGER NOT NULL DEFAULT 0, "
                                "code TEXT, 品名 TEXT, 単位 TEXT, 単価 NUMERIC, 適正数 INTEGER, "
                                "商品区分 TEXT";
    exec(Db::Work, "CREATE TABLE w在庫表 (" + sheetCols + ")");
    exec(Db::Work, "CREATE INDEX w在庫表_code ON w在庫表 (code)");
    exec(Db::Work, "CREATE TABLE w商品マスタ (" + productCols + ")");
    exec(Db::Work, "CREATE TABLE w商品参照 (seq INTEGER PRIMARY KEY, code TEXT, 品名 TEXT, "
                   "単位 TEXT, 単価 NUMERIC, 適正数 INTEGER, 商品区分 TEXT)");
    exec(Db::Work, "CREATE TABLE w商品区分参照 (seq INTEGER PRIMARY KEY, sname TEXT)");
    exec(Db::Work, "CREATE TABLE w単位参照 (seq INTEGER PRIMARY KEY, sname TEXT)");
    // AUTOINCREMENT: 行番号 is assigned by the database and never reused.
    exec(Db::Work, "CREATE TABLE wコードマスタ (行番号 INTEGER PRIMARY KEY AUTOINCREMENT, "
                   "チェック INTEGER NOT NULL DEFAULT 0, code TEXT, sname TEXT)");
    exec(Db::Work, "CREATE TABLE w在庫表印刷 (" + sheetCols + ")");
    exec(Db::Work, "CREATE TABLE w商品マスタ印刷 (" + productCols + ")");
    exec(Db::Work, "CREATE TABLE ClHint (id INTEGER PRIMARY KEY, FormName TEXT, CtlName TEXT, "
                   "FormTitle TEXT, Contents TEXT)");
    exec(Db::Work, "CREATE INDEX ClHint_key ON ClHint (FormName, CtlName)");
    exec(Db::Work, QString("PRAGMA user_version=%1").arg(SchemaVersion));
    t.commit();
}

QSqlQuery Store::prepare(Db which, const QString& sql) {
    m_sqlText = sql;
    QSqlQuery q(db(which));
    q.setForwardOnly(true);
    if (!q.prepare(sql))
        throw StoreError(describe(q.lastError()), sql);
    return q;
}

void Store::run(QSqlQuery& q, const QVariantList& params) {
    m_sqlText = q.lastQuery();
    for (int i = 0; i < params.size(); ++i)
        q.bindValue(i, params.at(i));
    if (!q.exec()) {
        const QSqlError e = q.lastError();
        QString msg = describe(e);
        if (isBusy(e))
            msg = QStringLiteral("データベースが他のプログラムに使用されています（%1）").arg(msg);
        throw StoreError(msg, q.lastQuery());
    }
}

void Store::exec(Db which, const QString& sql, const QVariantList& params) {
    QSqlQuery q = prepare(which, sql);
    run(q, params);
}

Rows Store::query(Db which, const QString& sql, const QVariantList& params) {
    QSqlQuery q = prepare(which, sql);
    run(q, params);
    Rows rows;
    const int n = q.record().count();
    while (q.next()) {
        Row r(n);
        for (int i = 0; i < n; ++i)
            r[i] = q.value(i);
        rows.append(r);
    }
    if (q.lastError().isValid())
        throw StoreError(describe(q.lastError()), sql);
    return rows;
}

QVariant Store::scalar(Db which, const QString& sql, const QVariantList& params) {
    const Rows rows = query(which, sql, params);
    if (rows.isEmpty() || rows.first().isEmpty())
        return QVariant();
    return rows.first().first();
}

Transaction::Transaction(Store& store, Db which) : m_store(store), m_which(which) {
    // The main file is locked for writing at once, so a busy file is reported
    // before any step runs; work transactions stay deferred so they never take
    // a lock on the attached main file they do not write.
    m_store.exec(m_which, m_which == Db::Main ? "BEGIN IMMEDIATE" : "BEGIN");
}

Transaction::~Transaction() {
    if (!m_done) {
        // The failed statement stays the one named in the error report.
        const QString failed = m_store.m_sqlText;
        try {
            m_store.exec(m_which, "ROLLBACK");
        } catch (const StoreError&) {
            // SQLite may already have rolled back after an I/O error.
        }
        m_store.m_sqlText = failed;
    }
}

void Transaction::commit() {
    m_store.exec(m_which, "COMMIT");
    m_done = true;
}
