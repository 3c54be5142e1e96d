#include "backup/BackupOps.h"
#include "tests/fixtures.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <csignal>

// A child saves full sheets in a loop and is killed with SIGKILL at random
// moments. After every kill the files must be sound and hold only whole saves.
class TestCrash : public QObject {
    Q_OBJECT
  private slots:
    void killedSavesAreAllOrNothing();
    void killedRestoresLeaveOneWholeFile();
    void killedCopiesLeaveSoundCopiesOrNone();
};

namespace {
QVariant one(QSqlDatabase& db, const QString& sql) {
    QSqlQuery q(db);
    if (!q.exec(sql) || !q.next())
        return QVariant();
    return q.value(0);
}
} // namespace

void TestCrash::killedSavesAreAllOrNothing() {
    const int kills = qEnvironmentVariableIntValue("STOLVA_CRASH_KILLS") > 0
                          ? qEnvironmentVariableIntValue("STOLVA_CRASH_KILLS")
                          : 200;
    QTemporaryDir dir;
    {
        // The files exist before the first kill: the test is about saves.
        Store s;
        VERIFY_OK(s.open(dir.path()));
    }
    // How long a start and one save take in this build (a sanitizer build is
    // several times slower), so that the kills fall before, in and after saves.
    int span = 90;
    {
        QProcess child;
        QElapsedTimer t;
        t.start();
        child.start(STOLVA_CRASH_CHILD, {dir.path()});
        QByteArray out;
        while (!out.contains("saved") && child.waitForReadyRead(60000))
            out += child.readAllStandardOutput();
        QVERIFY2(out.contains("saved"), child.readAllStandardError().constData());
        span = std::max(span, int(2 * t.elapsed()));
        ::kill(pid_t(child.processId()), SIGKILL);
        QVERIFY(child.waitForFinished(10000));
    }
    QRandomGenerator rng(20261207);
    int midSave = 0, completedTotal = 0;
    for (int i = 0; i < kills; ++i) {
        QProcess child;
        child.start(STOLVA_CRASH_CHILD, {dir.path()});
        QVERIFY(child.waitForStarted());
        // The child never ends by itself: it runs from a few milliseconds to a
        // few saves, then dies at whatever step it has reached.
        QVERIFY2(!child.waitForFinished(int(rng.bounded(5, span))),
                 child.readAllStandardError().constData());
        ::kill(pid_t(child.processId()), SIGKILL);
        QVERIFY(child.waitForFinished(10000));
        const QByteArray out = child.readAllStandardOutput();
        completedTotal += int(out.count("saved"));
        QVERIFY2(child.exitStatus() == QProcess::CrashExit || child.exitCode() == 0,
                 child.readAllStandardError().constData());

        if (QFile::exists(dir.path() + "/Stolva.mdb-journal"))
            ++midSave;
        const QString name = QString("check%1").arg(i);
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", name);
            db.setDatabaseName(dir.path() + "/Stolva.mdb");
            QVERIFY(db.open());
            // Opening rolls a hot journal back, as the next start would.
            QCOMPARE(one(db, "PRAGMA integrity_check").toString(), QString("ok"));
            const int rows = one(db, "SELECT count(*) FROM 在庫表").toInt();
            const int gens =
                one(db, "SELECT count(DISTINCT substr(品名, 1, instr(品名, '-'))) FROM 在庫表")
                    .toInt();
            if (rows > 0) {
                // One whole generation: 500 rows numbered 1…500.
                QCOMPARE(rows, 500);
                QCOMPARE(gens, 1);
                QCOMPARE(
                    one(db,
                        "SELECT count(DISTINCT 行番号) FROM 在庫表 WHERE 行番号 BETWEEN 1 AND 500")
                        .toInt(),
                    500);
            }
            const QString sheetGen =
                one(db, "SELECT substr(品名, 2, instr(品名, '-') - 2) FROM 在庫表 LIMIT 1")
                    .toString();
            // Every generation in the master is whole, and the newest is the sheet's.
            QSqlQuery q(db);
            QVERIFY(q.exec(
                "SELECT substr(品名, 2, instr(品名, '-') - 2) AS g, count(*) FROM 商品マスタ "
                "GROUP BY g ORDER BY CAST(g AS INTEGER)"));
            int newest = -1;
            while (q.next()) {
                QCOMPARE(q.value(1).toInt(), 500);
                newest = q.value(0).toInt();
            }
            QCOMPARE(newest, rows > 0 ? sheetGen.toInt() : -1);
            // Unit slots hold u0, u1, … in slot order, as far as the saves got.
            QSqlQuery u(db);
            QVERIFY(u.exec(
                "SELECT code, sname FROM コードマスタ WHERE kcode = '単位' AND sname IS NOT NULL "
                "ORDER BY code"));
            int slot = 0;
            while (u.next()) {
                QCOMPARE(u.value(0).toString(), QString("%1").arg(slot + 1, 2, 10, QChar('0')));
                QCOMPARE(u.value(1).toString(), QString("u%1").arg(slot));
                ++slot;
            }
            QCOMPARE(slot, std::min(newest + 1, 30));
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
    }
    qInfo("%d kills within %d ms, %d completed saves seen, %d kills left a hot journal", kills,
          span, completedTotal, midSave);
    QVERIFY(completedTotal > 0);
}

namespace {
// Starts the child with args and kills it after ms; false (with its errors)
// when it ended by itself first. out receives what it printed.
bool killAfter(const QStringList& args, int ms, QByteArray* out, QByteArray* errors) {
    QProcess child;
    child.start(STOLVA_CRASH_CHILD, args);
    // The moment is counted from the child's "ready" (its store open).
    QByteArray seen;
    while (child.waitForReadyRead(30000)) {
        seen += child.readAllStandardOutput();
        if (seen.contains("ready\n"))
            break;
    }
    if (!seen.contains("ready\n") || child.waitForFinished(ms)) {
        *errors = child.readAllStandardError();
        return false;
    }
    ::kill(pid_t(child.processId()), SIGKILL);
    child.waitForFinished(10000);
    *out = seen + child.readAllStandardOutput();
    return true;
}

// The files under a copy's name in a folder.
QVector<backup::Copy> copiesIn(const QString& folder) {
    QVector<backup::Copy> out;
    for (const QFileInfo& fi : QDir(folder).entryInfoList({"Stolva-*.mdb"}, QDir::Files)) {
        backup::Copy c;
        c.path = fi.absoluteFilePath();
        out << c;
    }
    return out;
}
} // namespace

// A child restores two copies in turn (one with 1 product, one with 2) and
// is killed at random moments: the main file is always one of them, whole.
void TestCrash::killedRestoresLeaveOneWholeFile() {
    QTemporaryDir dir;
    QStringList copies;
    {
        Store s;
        VERIFY_OK(s.open(dir.path()));
        for (int n = 1; n <= 2; ++n) {
            s.exec(Db::Main, "INSERT INTO 商品マスタ (品名) VALUES (?)", {QString("p%1").arg(n)});
            VALUE_OK(copy, backup::makeCopy(s, backup::Kind::Manual,
                                            QDateTime(QDate(2026, 1, n), QTime(12, 0)),
                                            dir.path() + "/copies"));
            copies << copy;
        }
    }
    QRandomGenerator rng(20261208);
    int restored = 0;
    for (int i = 0; i < 60; ++i) {
        QByteArray out, errors;
        // A restore takes about 60 ms in a sanitizer build: some kills must
        // come after one has finished.
        QVERIFY2(killAfter(QStringList{dir.path(), "restore"} + copies, int(rng.bounded(5, 150)),
                           &out, &errors),
                 errors.constData());
        restored += int(out.count("restored"));
        const QString name = QString("restore%1").arg(i);
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", name);
            db.setDatabaseName(dir.path() + "/Stolva.mdb");
            QVERIFY(db.open());
            QCOMPARE(one(db, "PRAGMA integrity_check").toString(), QString("ok"));
            const int products = one(db, "SELECT count(*) FROM 商品マスタ").toInt();
            QVERIFY2(products == 1 || products == 2, qPrintable(QString::number(products)));
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
        // Every copy kept aside before a restore is a sound ledger.
        for (const backup::Copy& c : copiesIn(dir.path() + "/backup"))
            VERIFY_OK(backup::check(c.path, Store().schemaVersion()));
        // The aside copies of one run would fill the folder over many: start afresh.
        QDir(dir.path() + "/backup").removeRecursively();
    }
    qInfo("60 kills, %d completed restores seen", restored);
    QVERIFY(restored > 0);
}

// A child makes copies in the backup folder and elsewhere and is killed at
// random moments: every file under a copy's name is a sound ledger; what a
// killed copy left under a temporary name goes at the next start.
void TestCrash::killedCopiesLeaveSoundCopiesOrNone() {
    QTemporaryDir dir;
    const QString elsewhere = dir.path() + "/usb";
    QDir().mkpath(elsewhere);
    {
        Store s;
        VERIFY_OK(s.open(dir.path()));
        for (int n = 0; n < 2000; ++n)
            s.exec(Db::Main, "INSERT INTO 商品マスタ (code, 品名) VALUES (?, ?)",
                   {QString("C%1").arg(n), QString("商品%1").arg(n)});
    }
    QRandomGenerator rng(1208);
    int copied = 0;
    QSet<QString> checked; // each copy once: a copy made is never written again
    for (int i = 0; i < 40; ++i) {
        QByteArray out, errors;
        QVERIFY2(killAfter({dir.path(), "copy", elsewhere}, int(rng.bounded(5, 80)), &out, &errors),
                 errors.constData());
        copied += int(out.count("copied"));
        for (const QString& folder : {dir.path() + "/backup", elsewhere})
            for (const backup::Copy& c : copiesIn(folder))
                if (!checked.contains(c.path)) {
                    VERIFY_OK(backup::check(c.path, Store().schemaVersion()));
                    checked.insert(c.path);
                }
    }
    Store s;
    VERIFY_OK(s.open(dir.path()));
    backup::removeLeftovers(s);
    QCOMPARE(QDir(dir.path() + "/backup").entryList({".*part*"}, QDir::Files | QDir::Hidden),
             QStringList());
    qInfo("40 kills, %d completed copies, %d copies checked sound", copied, int(checked.size()));
    QVERIFY(copied > 0);
}

QTEST_MAIN(TestCrash)
#include "tst_crash.moc"
