#include "backup/BackupOps.h"
#include "base/WholeFile.h"
#include "products/ProductOps.h"
#include "sheet/SheetOps.h"
#include "tests/fixtures.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSqlRecord>
#include <QTemporaryDir>

#include <sys/stat.h>

namespace {
QByteArray fileHash(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

QStringList columnsOf(Store& s, Db which, const QString& table) {
    QStringList cols;
    for (const Row& r :
         s.query(which, "SELECT name FROM pragma_table_info(?) ORDER BY cid", {table}))
        cols << r[0].toString();
    return cols;
}
} // namespace

class TestStore : public QObject {
    Q_OBJECT
  private slots:
    void filesOnlyTheUserReads();
    void schemaNamesAreExact();
    void deadlocksRunTheActionAgain_data();
    void deadlocksRunTheActionAgain();
    void serverAddresses_data();
    void serverAddresses();
    void firstStartCreatesSlotsAndRestartKeepsData();
    void pragmasOnBothFilesNothingAttached();
    void damagedFilesStopTheStartUnchanged_data();
    void damagedFilesStopTheStartUnchanged();
    void missingMainBesideWorkStops();
    void lockedMainStopsTheStartUnchanged();
    void missingWorkAloneIsRecreated();
    void failedStepRollsBackTheTransaction();
    void hostileTextRoundTrips();
    void olderFileIsUpgradedNewerRefused();
    void emptySlotNameIsRefused();
    void deletedWorkFileIsNamed();
};

void TestStore::schemaNamesAreExact() {
    TempStore t;
    Store& s = t.store();
    QCOMPARE(columnsOf(s, Db::Main, "在庫表"),
             QStringList({"id", "日付", "行番号", "code", "品名", "数量", "適正数", "増減", "単位",
                          "単価", "金額", "商品区分"}));
    QCOMPARE(columnsOf(s, Db::Main, "商品マスタ"),
             QStringList({"id", "code", "品名", "単位", "単価", "適正数", "商品区分", "版", "棚番",
                          "税率"}));
    QCOMPARE(columnsOf(s, Db::Main, "コードマスタ"), QStringList({"id", "kcode", "code", "sname"}));
    QVERIFY(!columnsOf(s, Db::Main, "自社情報").isEmpty());
    const QStringList sheet{"seq",    "チェック", "code", "品名", "数量",    "単位",
                            "適正数", "増減",     "単価", "金額", "商品区分"};
    QCOMPARE(columnsOf(s, Db::Work, "w在庫表"),
             sheet + QStringList({"在庫表id", "商品id", "商品版", "入力"}));
    QCOMPARE(columnsOf(s, Db::Work, "w在庫表印刷"), sheet + QStringList{"棚番"});
    QCOMPARE(columnsOf(s, Db::Main, "在庫表版"),
             QStringList({"日付", "商品区分", "版", "保存日時"}));
    QCOMPARE(columnsOf(s, Db::Main, "在庫表確定"), QStringList({"日付", "確定日時"}));
    QCOMPARE(columnsOf(s, Db::Main, "帳簿設定"), QStringList({"項目", "値"}));
    const QStringList list{"seq",  "チェック", "code",     "品名", "単位",
                           "単価", "適正数",   "商品区分", "棚番", "税率"};
    QCOMPARE(columnsOf(s, Db::Work, "w商品マスタ"), list + QStringList({"商品id", "版", "変更"}));
    QCOMPARE(columnsOf(s, Db::Work, "w商品マスタ印刷"), list);
    QCOMPARE(columnsOf(s, Db::Work, "w商品区分参照"), QStringList({"seq", "sname"}));
    QCOMPARE(columnsOf(s, Db::Work, "w単位参照"), QStringList({"seq", "sname"}));
    QCOMPARE(columnsOf(s, Db::Work, "wコードマスタ"),
             QStringList({"行番号", "チェック", "code", "sname"}));
    QCOMPARE(columnsOf(s, Db::Work, "ClHint"),
             QStringList({"id", "FormName", "CtlName", "FormTitle", "Contents"}));
    // Look-ups by name, code, date + category and kind + code are indexed.
    const QString plan =
        s.query(Db::Main, "EXPLAIN QUERY PLAN SELECT * FROM 商品マスタ WHERE 品名 = ?", {"x"})
            .first()
            .last()
            .toString();
    QVERIFY2(plan.contains("INDEX"), qPrintable(plan));
    QCOMPARE(s.scalar(Db::Main, "PRAGMA user_version").toInt(), s.schemaVersion());
}

void TestStore::firstStartCreatesSlotsAndRestartKeepsData() {
    TempStore t;
    QVERIFY(QFile::exists(t.path() + "Stolva.mdb"));
    QVERIFY(QFile::exists(t.path() + "StolvaWork.mdb"));
    for (const QString kind : {"商品区分", "単位"}) {
        const Rows rows = t.store().query(
            Db::Main, "SELECT code, sname FROM コードマスタ WHERE kcode = ? ORDER BY code", {kind});
        QCOMPARE(rows.size(), 30);
        QCOMPARE(rows.first()[0].toString(), QString("01"));
        QCOMPARE(rows.last()[0].toString(), QString("30"));
        for (const Row& r : rows)
            QVERIFY(r[1].isNull());
    }
    t.addProduct("A01", "りんご");
    t.reopen();
    QCOMPARE(t.count(Db::Main, "商品マスタ"), 1);
    QCOMPARE(t.count(Db::Main, "コードマスタ"), 60);
}

void TestStore::pragmasOnBothFilesNothingAttached() {
    TempStore t;
    Store& s = t.store();
    QCOMPARE(s.scalar(Db::Main, "PRAGMA journal_mode").toString(), QString("delete"));
    QCOMPARE(s.scalar(Db::Work, "PRAGMA journal_mode").toString(), QString("delete"));
    QCOMPARE(s.scalar(Db::Main, "PRAGMA synchronous").toInt(), 2);
    QCOMPARE(s.scalar(Db::Work, "PRAGMA synchronous").toInt(), 2);
    // No statement reaches from one file into the other.
    QCOMPARE(s.query(Db::Work, "PRAGMA database_list").size(), 1);
}

void TestStore::damagedFilesStopTheStartUnchanged_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("main garbage") << "Stolva.mdb" << QByteArray("this is no database at all", 26);
    QTest::newRow("main size zero") << "Stolva.mdb" << QByteArray();
    QTest::newRow("work garbage") << "StolvaWork.mdb" << QByteArray(4096, '\x5a');
    QTest::newRow("main truncated") << "Stolva.mdb" << QByteArray("truncate");
    QTest::newRow("main foreign sqlite") << "Stolva.mdb" << QByteArray("foreign");
    QTest::newRow("main is a folder") << "Stolva.mdb" << QByteArray("dir");
    QTest::newRow("main from another program")
        << "Stolva.mdb" << QByteArray("\x00\x01\x00\x00Standard Jet DB\x00" + QByteArray(2000, 0));
    QTest::newRow("work truncated") << "StolvaWork.mdb" << QByteArray("truncate");
    QTest::newRow("work size zero") << "StolvaWork.mdb" << QByteArray();
    QTest::newRow("work is a folder") << "StolvaWork.mdb" << QByteArray("dir");
    QTest::newRow("work foreign sqlite") << "StolvaWork.mdb" << QByteArray("foreign");
    // This version's file without one of its tables.
    QTest::newRow("main lacks a table") << "Stolva.mdb" << QByteArray("drop 棚卸記録");
    QTest::newRow("work lacks a table") << "StolvaWork.mdb" << QByteArray("drop w商品マスタ");
}

void TestStore::damagedFilesStopTheStartUnchanged() {
    QFETCH(QString, file);
    QFETCH(QByteArray, content);
    QTemporaryDir dir;
    const QString path = dir.path() + "/" + file;
    {
        Store s;
        VERIFY_OK(s.open(dir.path()));
    }
    if (content == "dir") {
        QFile::remove(path);
        QVERIFY(QDir().mkdir(path));
    } else if (content == "truncate") {
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.resize(1000));
    } else if (content.startsWith("drop ")) {
        {
            QSqlDatabase d = QSqlDatabase::addDatabase("QSQLITE", "dropped");
            d.setDatabaseName(path);
            QVERIFY(d.open());
            QSqlQuery q(d);
            QVERIFY(q.exec("DROP TABLE " + QString::fromUtf8(content.mid(5))));
            d.close();
        }
        QSqlDatabase::removeDatabase("dropped");
    } else if (content == "foreign") {
        QFile::remove(path);
        {
            QSqlDatabase d = QSqlDatabase::addDatabase("QSQLITE", "foreign");
            d.setDatabaseName(path);
            QVERIFY(d.open());
            QSqlQuery q(d);
            QVERIFY(q.exec("CREATE TABLE customers (id INTEGER, name TEXT)"));
            d.close();
        }
        QSqlDatabase::removeDatabase("foreign");
    } else {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content);
    }
    const QByteArray before = fileHash(path);
    Store s;
    const Status st = s.open(dir.path());
    QVERIFY(!st.ok);
    QVERIFY2(st.error.contains(QStringLiteral("起動できません")) ||
                 st.error.contains(QStringLiteral("開けません")),
             qPrintable(st.error));
    QCOMPARE(fileHash(path), before);
}

void TestStore::missingMainBesideWorkStops() {
    QTemporaryDir dir;
    {
        Store s;
        VERIFY_OK(s.open(dir.path()));
    }
    QVERIFY(QFile::remove(dir.path() + "/Stolva.mdb"));
    Store s;
    const Status st = s.open(dir.path());
    QVERIFY(!st.ok);
    QVERIFY(!QFile::exists(dir.path() + "/Stolva.mdb"));
}

void TestStore::lockedMainStopsTheStartUnchanged() {
    QTemporaryDir dir;
    {
        Store s;
        VERIFY_OK(s.open(dir.path()));
    }
    const QString path = dir.path() + "/Stolva.mdb";
    {
        QSqlDatabase other = QSqlDatabase::addDatabase("QSQLITE", "locker");
        other.setDatabaseName(path);
        QVERIFY(other.open());
        QSqlQuery q(other);
        QVERIFY(q.exec("BEGIN EXCLUSIVE"));
        QVERIFY(q.exec("CREATE TABLE holder (x)"));
        Store s;
        const Status st = s.open(dir.path());
        QVERIFY(!st.ok);
        QVERIFY2(st.error.contains(QStringLiteral("他のプログラムに使用されています")),
                 qPrintable(st.error));
        QVERIFY(q.exec("ROLLBACK"));
        other.close();
    }
    QSqlDatabase::removeDatabase("locker");
    Store s;
    VERIFY_OK(s.open(dir.path()));
    QCOMPARE(s.scalar(Db::Main, "SELECT count(*) FROM sqlite_master WHERE name = 'holder'").toInt(),
             0);
}

void TestStore::missingWorkAloneIsRecreated() {
    TempStore t;
    t.addProduct("A01", "りんご");
    t.store().close();
    QVERIFY(QFile::remove(t.path() + "StolvaWork.mdb"));
    t.reopen();
    QCOMPARE(t.count(Db::Main, "商品マスタ"), 1);
    QCOMPARE(t.count(Db::Work, "w在庫表"), 0);
}

void TestStore::failedStepRollsBackTheTransaction() {
    TempStore t;
    Store& s = t.store();
    t.addProduct("A01", "りんご");
    const QStringList before = t.dump(Db::Main, "商品マスタ");
    const Status st = guarded([&] {
        Transaction tx(s, Db::Main);
        s.exec(Db::Main, "DELETE FROM 商品マスタ");
        s.exec(Db::Main, "INSERT INTO no_such_table VALUES (1)");
        tx.commit();
    });
    QVERIFY(!st.ok);
    QVERIFY(s.sqlText().contains("no_such_table"));
    QCOMPARE(t.dump(Db::Main, "商品マスタ"), before);
}

void TestStore::olderFileIsUpgradedNewerRefused() {
    QTemporaryDir dir;
    {
        Store first;
        VERIFY_OK(first.open(dir.path()));
        first.exec(Db::Main, "INSERT INTO 商品マスタ (code, 品名) VALUES ('A', 'a')");
        // As the first version left it: without the summary index and totals.
        first.exec(Db::Main, "DROP INDEX 在庫表_集計");
        for (const char* trigger : {"在庫表集計_追加", "在庫表集計_削除", "在庫表集計_変更"})
            first.exec(Db::Main, QString("DROP TRIGGER %1").arg(trigger));
        first.exec(Db::Main, "DROP TABLE 在庫表集計");
        // Nor the sheet versions, nor the saved-line ids of the work sheet.
        first.exec(Db::Main, "DROP TABLE 在庫表版");
        first.exec(Db::Main, "DROP TABLE 在庫表確定");
        first.exec(Db::Work, "ALTER TABLE w在庫表 DROP COLUMN 在庫表id");
        // Nor product versions, nor unique slots (a unit held by two slots).
        first.exec(Db::Main, "ALTER TABLE 商品マスタ DROP COLUMN 版");
        // Nor tax rates, nor the books' settings.
        first.exec(Db::Main, "ALTER TABLE 商品マスタ DROP COLUMN 税率");
        first.exec(Db::Main, "DROP TABLE 帳簿設定");
        // Nor the entries of counts and the phones (tables of later versions).
        for (const char* table : {"棚卸記録", "端末スキャン", "端末"})
            first.exec(Db::Main, QString("DROP TABLE %1").arg(table));
        for (const char* index : {"コードマスタ_kcode_code", "コードマスタ_kcode_sname"})
            first.exec(Db::Main, QString("DROP INDEX %1").arg(index));
        first.exec(Db::Main, "CREATE INDEX コードマスタ_kcode_code ON コードマスタ (kcode, code)");
        first.exec(Db::Main, "UPDATE コードマスタ SET sname = '個' WHERE kcode = '単位' AND "
                             "code IN ('01', '03')");
        first.exec(Db::Main,
                   "INSERT INTO 在庫表 (日付, 品名, 金額) VALUES ('2026-01-05', 'a', 120)");
        first.exec(Db::Main, "PRAGMA user_version = 1");
        first.exec(Db::Work, "PRAGMA user_version = 1");
    }
    const int current = 1 + int(Store::upgrades().size());
    {
        Store now;
        VERIFY_OK(now.open(dir.path()));
        QCOMPARE(now.scalar(Db::Main, "PRAGMA user_version").toInt(), current);
        QCOMPARE(now.scalar(Db::Main, "SELECT count(*) FROM sqlite_master WHERE name IN "
                                      "('在庫表_集計', '在庫表集計', '在庫表集計_追加')")
                     .toInt(),
                 3);
        QCOMPARE(now.scalar(Db::Main, "SELECT 金額 FROM 在庫表集計").toInt(), 120);
        // Sheets saved before versions were kept start at version 1.
        QCOMPARE(now.scalar(Db::Main, "SELECT 日付 || '/' || 商品区分 || '/' || 版 FROM 在庫表版")
                     .toString(),
                 QString("2026-01-05//1"));
        QCOMPARE(now.scalar(Db::Main, "SELECT 版 FROM 商品マスタ").toInt(), 1);
        QCOMPARE(now.query(Db::Main, "SELECT code FROM コードマスタ WHERE sname = '個'"),
                 Rows{{"01"}});
        QCOMPARE(now.scalar(Db::Work, "SELECT count(*) FROM pragma_table_info('w在庫表') "
                                      "WHERE name = '在庫表id'")
                     .toInt(),
                 1);
    }
    const Store::Upgrade step{"names marked", [](Store& s) {
                                  s.exec(Db::Main, "UPDATE 商品マスタ SET 品名 = 品名 || '!'");
                              }};
    {
        Store later;
        later.setUpgrades(Store::upgrades() + QVector<Store::Upgrade>{step});
        VERIFY_OK(later.open(dir.path()));
        QCOMPARE(later.scalar(Db::Main, "PRAGMA user_version").toInt(), current + 1);
        QCOMPARE(later.scalar(Db::Work, "PRAGMA user_version").toInt(), current + 1);
        QCOMPARE(later.scalar(Db::Main, "SELECT 品名 FROM 商品マスタ").toString(), QString("a!"));
    }
    // This program's version is older than the file's now: it refuses, and
    // leaves the file as it is.
    const QByteArray before = fileHash(dir.path() + "/Stolva.mdb");
    Store older;
    const Status s = older.open(dir.path());
    QVERIFY(!s);
    QCOMPARE(s.kind, ErrorKind::Newer);
    QVERIFY(s.error.contains(QStringLiteral("より新しい版")));
    QCOMPARE(fileHash(dir.path() + "/Stolva.mdb"), before);
}

void TestStore::hostileTextRoundTrips() {
    TempStore t;
    const QStringList texts{"O'Reilly",    "\"quoted\"", "100%_off",  "'; DROP TABLE 在庫表; --",
                            "back\\slash", "🍎 りんご",   "ｶﾀｶﾅ　全角"};
    // Written and read back through the operations, every text is only data.
    for (const QString& x : texts) {
        products::Detail d;
        d.code = x;
        d.name = x;
        d.unit = x;
        VERIFY_OK(products::entry商品詳細(t.store(), d));
    }
    for (const QString& x : texts) {
        VALUE_OK(found, products::read商品詳細(t.store(), x));
        QVERIFY(found.has_value());
        QCOMPARE(found->code, x);
        QCOMPARE(sheet::Seek商品(t.store(), x).unit, x);
    }
    QCOMPARE(t.count(Db::Main, "商品マスタ"), texts.size());
    QCOMPARE(t.count(Db::Main, "在庫表"), 0);
}

void TestStore::emptySlotNameIsRefused() {
    TempStore t;
    const Status st = guarded([&] { t.nameSlot("単位", "01", QString("")); });
    QVERIFY(!st.ok);
    QCOMPARE(t.count(Db::Main, "コードマスタ", "sname IS NOT NULL"), 0);
}

// A work file deleted while Stolva runs is said so, in Japanese, with its name.
void TestStore::deletedWorkFileIsNamed() {
    TempStore t;
    QVERIFY(QFile::remove(t.store().workDbPath()));
    const Status s =
        guarded([&] { t.store().exec(Db::Work, "INSERT INTO w在庫表 (チェック) VALUES (0)"); });
    QVERIFY(!s);
    QVERIFY2(s.error.contains(QStringLiteral("削除されたか移動されました")) &&
                 s.error.contains("StolvaWork.mdb"),
             qPrintable(s.error));
}

void TestStore::deadlocksRunTheActionAgain_data() {
    QTest::addColumn<int>("failures"); // times the server breaks the action off
    QTest::addColumn<bool>("retry");   // a deadlock (else another failure)
    QTest::addColumn<int>("runs");
    QTest::addColumn<bool>("done");
    QTest::newRow("once, then done") << 1 << true << 2 << true;
    QTest::newRow("twice, then done") << 2 << true << 3 << true;
    QTest::newRow("three times: reported") << 3 << true << 3 << false;
    QTest::newRow("not a deadlock: never again") << 1 << false << 1 << false;
}

// An action the server broke off to end a deadlock runs again whole; other
// failures are reported at once.
void TestStore::deadlocksRunTheActionAgain() {
    QFETCH(int, failures);
    QFETCH(bool, retry);
    QFETCH(int, runs);
    QFETCH(bool, done);
    int ran = 0;
    const Status s = guarded([&] {
        if (++ran <= failures)
            throw StoreError("ほかの PC と同時に書き込みました", QString(), ErrorKind::Busy, retry);
    });
    QCOMPARE(ran, runs);
    QCOMPARE(s.ok, done);
}

void TestStore::serverAddresses_data() {
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("shown"); // empty: refused
    QTest::addColumn<QString>("options");
    QTest::newRow("full") << "postgresql://tanaka@shop:6543/stolva"
                          << "tanaka@shop:6543/stolva"
                          << "";
    QTest::newRow("defaults, short scheme") << "postgres://db/stolva"
                                            << "db:5432/stolva"
                                            << "";
    QTest::newRow("ssl") << "postgresql://u@h/d?sslmode=require&connect_timeout=3"
                         << "u@h:5432/d"
                         << "sslmode=require;connect_timeout=3";
    QTest::newRow("no database") << "postgresql://u@h:5432/"
                                 << ""
                                 << "";
    QTest::newRow("another scheme") << "mysql://u@h/d"
                                    << ""
                                    << "";
    QTest::newRow("an unknown option") << "postgresql://u@h/d?host=evil"
                                       << ""
                                       << "";
    QTest::newRow("an option smuggling another") << "postgresql://u@h/d?sslmode=a;host=b"
                                                 << ""
                                                 << "";
    // libpq would read what follows a tab or a line break as further options.
    QTest::newRow("a tab in an option") << "postgresql://u@h/d?application_name=x%09user=postgres"
                                        << ""
                                        << "";
    QTest::newRow("a line break in the user") << "postgresql://u%0Auser=postgres@h/d"
                                              << ""
                                              << "";
    QTest::newRow("an option twice") << "postgresql://u@h/d?sslmode=require&sslmode=disable"
                                     << ""
                                     << "";
}

// Server addresses as libpq writes them; what libpq would take for another
// option is refused. A password given is used, never shown or kept.
void TestStore::serverAddresses() {
    QFETCH(QString, url);
    QFETCH(QString, shown);
    QFETCH(QString, options);
    const Result<server::Address> a = server::parse(url);
    QCOMPARE(bool(a), !shown.isEmpty());
    if (!a)
        return;
    QCOMPARE(a.value.shown(), shown);
    QCOMPARE(a.value.options, options);
    QVERIFY(!a.value.url().contains("secret"));
    const auto withPassword = server::parse("postgresql://u:secret@h/d");
    QCOMPARE(withPassword.value.password, QString("secret"));
    QVERIFY(!withPassword.value.url().contains("secret"));
}

// Another account on the PC reads neither the ledger nor its copies; an
// export gets the user's usual permissions; a copy cut short in a folder
// chosen by hand goes like one in the backup folder.
void TestStore::filesOnlyTheUserReads() {
    SKIP_ON_SERVER("the files of a local ledger");
    QTemporaryDir dir;
    const QString data = dir.path() + "/new/data/";
    Store s;
    VERIFY_OK(s.open(data));
    const QString chosen = dir.path() + "/chosen";
    QDir().mkpath(chosen);
    QFile(chosen + "/.Stolva-20261207-093000.mdb.1234abcd.part").open(QIODevice::WriteOnly);
    VALUE_OK(copy, backup::makeCopy(s, backup::Kind::Manual, QDateTime(QDate(2026, 12, 8), {})));
    VALUE_OK(elsewhere,
             backup::makeCopy(s, backup::Kind::Manual, QDateTime(QDate(2026, 12, 8), {}), chosen));
    QVERIFY(wholefile::write(dir.path() + "/export.csv", "a\r\n"));
    const mode_t mask = ::umask(022);
    ::umask(mask);
    const QList<QPair<QString, int>> expected{{data, 0700},
                                              {data + "Stolva.mdb", 0600},
                                              {data + "StolvaWork.mdb", 0600},
                                              {backup::folder(s), 0700},
                                              {copy, 0600},
                                              {elsewhere, 0600},
                                              {dir.path() + "/export.csv", 0666 & ~int(mask)}};
    for (const auto& [path, mode] : expected) {
        struct stat st;
        QVERIFY2(::stat(QFile::encodeName(path).constData(), &st) == 0, qPrintable(path));
        QCOMPARE(QString::number(st.st_mode & 0777, 8), QString::number(mode, 8));
    }
    QCOMPARE(QDir(chosen).entryList({"*.part*"}, QDir::Files | QDir::Hidden), QStringList());
}

QTEST_MAIN(TestStore)
#include "tst_store.moc"
