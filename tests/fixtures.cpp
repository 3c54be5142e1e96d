#include "tests/fixtures.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>

const server::Address* testServer() {
    static const std::optional<server::Address> address = []() -> std::optional<server::Address> {
        const QString url = qEnvironmentVariable("STOLVA_TEST_SERVER");
        if (url.isEmpty())
            return std::nullopt;
        const Result<server::Address> a = server::parse(url);
        if (!a)
            qFatal("STOLVA_TEST_SERVER: %s", qPrintable(a.status.error));
        return a.value;
    }();
    return address ? &*address : nullptr;
}

void onTestServer(const QString& sql) {
    const QString name = QStringLiteral("test-server-admin");
    if (!QSqlDatabase::contains(name))
        if (Status s = server::connect(name, *testServer(), 10000); !s)
            qFatal("test server: %s", qPrintable(s.error));
    QSqlQuery q(QSqlDatabase::database(name));
    if (q.exec(sql))
        return;
    // The server may have been stopped and started again since (tst_outage).
    q = QSqlQuery();
    QSqlDatabase::removeDatabase(name);
    if (Status s = server::connect(name, *testServer(), 10000); !s)
        qFatal("test server: %s", qPrintable(s.error));
    QSqlQuery again(QSqlDatabase::database(name));
    if (!again.exec(sql))
        qFatal("test server: %s: %s", qPrintable(sql), qPrintable(again.lastError().text()));
}

server::Address testDatabase(const QString& name) {
    server::Address a = *testServer();
    a.database = name;
    return a;
}

TempStore::TempStore() {
    if (testServer()) {
        static int made = 0;
        m_database =
            QStringLiteral("stolva_t%1_%2").arg(QCoreApplication::applicationPid()).arg(++made);
        onTestServer("DROP DATABASE IF EXISTS " + m_database);
        onTestServer("CREATE DATABASE " + m_database);
    }
    reopen();
}

TempStore::~TempStore() {
    m_store.reset();
    if (!m_database.isEmpty())
        onTestServer("DROP DATABASE IF EXISTS " + m_database + " WITH (FORCE)");
}

std::optional<server::Address> TempStore::serverAddress() const {
    if (!testServer())
        return std::nullopt;
    server::Address a = *testServer();
    a.database = m_database;
    return a;
}

void TempStore::reopen() {
    m_store.reset();
    m_store = std::make_unique<Store>();
    m_store->setBusyTimeout(QuickBusyTimeoutMs);
    m_store->setServer(serverAddress());
    const Status s = m_store->open(m_dir.path());
    if (!s)
        qFatal("cannot open test store: %s", qPrintable(s.error));
}

int TempStore::count(Db which, const QString& table, const QString& where,
                     const QVariantList& params) {
    const QString sql =
        "SELECT count(*) FROM " + table + (where.isEmpty() ? QString() : " WHERE " + where);
    return m_store->scalar(which, sql, params).toInt();
}

void TempStore::addProduct(const QString& code, const QString& name, const QVariant& unit,
                           const QVariant& price, const QVariant& proper,
                           const QVariant& category) {
    m_store->exec(Db::Main,
                  "INSERT INTO 商品マスタ (code, 品名, 単位, 単価, 適正数, 商品区分) "
                  "VALUES (?, ?, ?, ?, ?, ?)",
                  {code.isNull() ? QVariant(QMetaType::fromType<QString>()) : QVariant(code), name,
                   unit, price, proper, category});
}

void TempStore::nameSlot(const QString& kind, const QString& code, const QVariant& name) {
    m_store->exec(Db::Main, "UPDATE コードマスタ SET sname = ? WHERE kcode = ? AND code = ?",
                  {name, kind, code});
}

void TempStore::failWrites(const QString& op, const QString& table, const QString& when) {
    if (!testServer()) {
        m_store->exec(Db::Main, "CREATE TRIGGER boom BEFORE " + op + " ON " + table + " WHEN " +
                                    when + " BEGIN SELECT RAISE(ABORT, 'injected'); END");
        return;
    }
    m_store->exec(Db::Main, "CREATE OR REPLACE FUNCTION boom() RETURNS trigger LANGUAGE plpgsql "
                            "AS $$ BEGIN RAISE EXCEPTION 'injected'; END $$");
    m_store->exec(Db::Main, "CREATE TRIGGER boom BEFORE " + op + " ON " + table +
                                " FOR EACH ROW WHEN (" + when + ") EXECUTE FUNCTION boom()");
}

void TempStore::stopFailing(const QString& table) {
    m_store->exec(Db::Main, "DROP TRIGGER boom" + (testServer() ? " ON " + table : QString()));
}

const QVector<QPair<const char*, QString>>& hostileTexts() {
    static const QVector<QPair<const char*, QString>> texts{
        {"apostrophes", "O'Brien's 'best'"},
        {"double quotes", "\"quoted\" \"\""},
        {"backslashes", "C:\\data\\x\\"},
        {"percent and underscore", "100% _off_ %_"},
        {"sql fragment", "'; drop table 在庫表; --"},
        {"another fragment", "x' OR '1'='1"},
        {"255 characters, the longest a field holds", QString(255, QChar(0x3042))},
        {"emoji", "🍎🍊 りんご 👨‍👩‍👧"},
        {"combining marks", QString::fromUtf8("e\xCC\x81 か\xE3\x82\x99")},
        {"full-width", "ＡＢＣ１２３　全角"},
        {"half-width kana", "ｱｲｳｴｵ"},
        {"leading and trailing spaces", "  spaced  "},
        {"control characters", QString("tab\there\nnew line\x01\x1f")}};
    return texts;
}

QStringList TempStore::dump(Db which, const QString& table) {
    QStringList out;
    for (const Row& r : m_store->query(which, "SELECT * FROM " + table + " ORDER BY 1")) {
        QStringList cells;
        for (const QVariant& v : r)
            cells << (v.isNull() ? QStringLiteral("<null>") : v.toString());
        out << cells.join('|');
    }
    return out;
}

QByteArray pythonBook(const QString& script) {
    QTemporaryDir dir;
    const QString path = dir.path() + "/book.xlsx";
    QProcess p;
    p.start("/usr/bin/python3", {"-c", script, path});
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        qWarning().noquote() << p.readAllStandardError();
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void pg(const QString& what) {
    QProcess p;
    p.start("bash", {QStringLiteral(STOLVA_SOURCE_DIR "/tools/pg.sh"), what,
                     qEnvironmentVariable("STOLVA_PG_DIR")});
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        qFatal("pg.sh %s: %s", qPrintable(what), p.readAllStandardError().constData());
}
