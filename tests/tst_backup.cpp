#include "backup/BackupOps.h"
#include "tests/fixtures.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>

using namespace backup;

// Copies of the main file: which ones stay, the daily copy at start, and a
// restore that either puts a sound copy in place or leaves everything as it was.
class TestBackup : public QObject {
    Q_OBJECT
  private slots:
    void keepingRule_data();
    void keepingRule();
    void dailyCopyOncePerDay();
    void copiesAreListedWithTheirContents();
    void restore_data();
    void restore();
};

namespace {
const QDateTime Now(QDate(2026, 12, 8), QTime(9, 30));

void saveSheet(TempStore& t, const QString& date, int lines) {
    for (int i = 1; i <= lines; ++i)
        t.store().exec(Db::Main,
                       "INSERT INTO 在庫表 (日付, 商品区分, 行番号, 品名) VALUES (?, ?, ?, ?)",
                       {date, "果物", i, QString("品%1").arg(i)});
}

void touch(const QString& path, const QByteArray& bytes = QByteArray()) {
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(bytes);
}
} // namespace

void TestBackup::keepingRule_data() {
    QTest::addColumn<QString>("copies"); // kind letter and age in days: "d0 d1 e91"
    QTest::addColumn<QString>("gone");
    QTest::newRow("fourteen daily copies stay") << "d0 d1 d2 d3 d4 d5 d6 d7 d8 d9 d10 d11 d12 d13"
                                                << "";
    QTest::newRow("the fifteenth and older go")
        << "d0 d1 d2 d3 d4 d5 d6 d7 d8 d9 d10 d11 d12 d13 d20 d30"
        << "d30 d20";
    QTest::newRow("erase and restore copies: 90 days") << "e89 e91 r10 r200 d0"
                                                       << "r200 e91";
    QTest::newRow("copies the user made stay") << "m400 m1 d0"
                                               << "";
    QTest::newRow("other kinds do not count as daily")
        << "e1 e2 m3 d0 d1 d2 d3 d4 d5 d6 d7 d8 d9 d10 d11 d12 d13"
        << "";
}

void TestBackup::keepingRule() {
    QFETCH(QString, copies);
    QFETCH(QString, gone);
    QVector<Copy> list;
    for (const QString& c : copies.split(' ')) {
        Copy copy;
        copy.path = c;
        copy.kind = QString("demr").indexOf(c[0]) == 0   ? Kind::Daily
                    : QString("demr").indexOf(c[0]) == 1 ? Kind::Erase
                    : QString("demr").indexOf(c[0]) == 2 ? Kind::Manual
                                                         : Kind::Restore;
        copy.made = Now.addDays(-c.mid(1).toInt()).addSecs(-60);
        list << copy;
    }
    QCOMPARE(expired(list, Now).join(' '), gone);
}

void TestBackup::dailyCopyOncePerDay() {
    TempStore t;
    const QString dir = t.path() + "backup/";
    QDir().mkpath(dir);
    // A copy made before an erase by an earlier version, and old daily copies.
    touch(dir + "Stolva-20261101-120000.mdb");
    VALUE_OK(first, dailyCopy(t.store(), Now));
    QCOMPARE(first, dir + "Stolva-20261208-093000.mdb");
    QVERIFY(QFile::exists(dir + "Stolva-20261101-120000-erase.mdb"));
    VALUE_OK(again, dailyCopy(t.store(), Now.addSecs(3600)));
    QVERIFY(again.isEmpty());
    for (int d = 1; d <= 20; ++d)
        touch(dir + Now.addDays(-d).toString("'Stolva-'yyyyMMdd-HHmmss'.mdb'"));
    VALUE_OK(next, dailyCopy(t.store(), Now.addDays(1)));
    QCOMPARE(next, dir + "Stolva-20261209-093000.mdb");
    const QVector<Copy> left = list(t.store(), false);
    QCOMPARE(std::count_if(left.begin(), left.end(),
                           [](const Copy& c) { return c.kind == Kind::Daily; }),
             qsizetype(DailyKept));
    QCOMPARE(left.last().kind, Kind::Erase); // under 90 days: it stays
    // A backup folder that cannot be made fails the copy, and nothing else.
    TempStore u;
    touch(u.path() + "backup");
    QVERIFY(!dailyCopy(u.store(), Now));
    QCOMPARE(u.count(Db::Main, "商品マスタ"), 0);
}

void TestBackup::copiesAreListedWithTheirContents() {
    TempStore t;
    t.addProduct("A01", "りんご");
    t.addProduct("A02", "みかん");
    saveSheet(t, "2026-12-01", 3);
    saveSheet(t, "2026-12-02", 2);
    VERIFY_OK(makeCopy(t.store(), Kind::Manual, Now));
    touch(t.path() + "backup/Stolva-20261208-100000-erase.mdb", "not a database");
    const QVector<Copy> copies = list(t.store(), true);
    QCOMPARE(copies.size(), 2);
    QCOMPARE(copies[0].kind, Kind::Erase);
    QCOMPARE(copies[0].products, -1);
    QCOMPARE(copies[1].kind, Kind::Manual);
    QCOMPARE(copies[1].sheets, 2);
    QCOMPARE(copies[1].products, 2);
    QVERIFY(copies[1].bytes > 0);
}

void TestBackup::restore_data() {
    QTest::addColumn<QString>("copy"); // what the chosen file is
    QTest::addColumn<QString>("says"); // empty: restored
    QTest::newRow("a sound copy") << "sound"
                                  << "";
    QTest::newRow("random bytes") << "random"
                                  << "壊れています";
    QTest::newRow("an empty file") << "empty"
                                   << "壊れています";
    QTest::newRow("a cut copy") << "cut"
                                << "壊れています";
    QTest::newRow("another program's database") << "foreign"
                                                << "壊れています";
    QTest::newRow("a newer version's copy") << "newer"
                                            << "新しいバージョン";
    QTest::newRow("no backup folder can be made") << "no-folder"
                                                  << "バックアップ用フォルダ";
    QTest::newRow("the new file cannot be written") << "blocked"
                                                    << "データは元のまま";
}

void TestBackup::restore() {
    QFETCH(QString, copy);
    QFETCH(QString, says);
    TempStore t;
    t.addProduct("A01", "りんご");
    saveSheet(t, "2026-12-01", 3);
    VALUE_OK(made, makeCopy(t.store(), Kind::Manual, Now.addDays(-1)));
    t.addProduct("A02", "みかん");
    saveSheet(t, "2026-12-02", 4);
    const QStringList before = t.dump(Db::Main, "商品マスタ") + t.dump(Db::Main, "在庫表");
    QString chosen = made;
    QFile f(made);
    QVERIFY(f.open(QIODevice::ReadWrite));
    if (copy == "random") {
        f.resize(0);
        f.write(QByteArray(4096, 'x'));
    } else if (copy == "empty") {
        f.resize(0);
    } else if (copy == "cut") {
        f.resize(f.size() / 2);
    }
    f.close();
    if (copy == "foreign" || copy == "newer") {
        // A database with other tables, or the sound copy stamped by a newer version.
        chosen = t.path() + copy + ".db";
        if (copy == "newer")
            QFile::copy(made, chosen);
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", copy);
            db.setDatabaseName(chosen);
            QVERIFY(db.open());
            QSqlQuery(db).exec(copy == "newer" ? "PRAGMA user_version = 99" : "CREATE TABLE x (y)");
            db.close();
        }
        QSqlDatabase::removeDatabase(copy);
    }
    if (copy == "no-folder") {
        chosen = t.path() + "chosen.mdb";
        QFile::copy(made, chosen);
        QDir(t.path() + "backup").removeRecursively();
        touch(t.path() + "backup");
    }
    if (copy == "blocked")
        QDir().mkpath(t.store().mainDbPath() + ".restoring/x");

    const Result<QString> r = backup::restore(t.store(), chosen, Now);
    QVERIFY(t.store().isOpen());
    if (says.isEmpty()) {
        VERIFY_OK(r);
        QCOMPARE(t.count(Db::Main, "商品マスタ"), 1);
        QCOMPARE(t.count(Db::Main, "在庫表"), 3);
        // The data as it was before the restore is kept aside, and can come back.
        QVERIFY(r.value.endsWith("-restore.mdb"));
        VERIFY_OK(backup::restore(t.store(), r.value, Now.addSecs(1)));
        QCOMPARE(t.dump(Db::Main, "商品マスタ") + t.dump(Db::Main, "在庫表"), before);
        return;
    }
    QVERIFY(!r);
    QVERIFY2(r.error().contains(says), qPrintable(r.error()));
    QCOMPARE(t.dump(Db::Main, "商品マスタ") + t.dump(Db::Main, "在庫表"), before);
}

QTEST_GUILESS_MAIN(TestBackup)
#include "tst_backup.moc"
