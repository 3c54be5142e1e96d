#include "backup/BackupOps.h"
#include "exchange/Csv.h"
#include "report/Paint.h"
#include "sheet/SheetOps.h"
#include "tests/fixtures.h"

#include <sys/mount.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
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
    void closingCopyOfACount();
    void copiesAreListedWithTheirContents();
    void restore_data();
    void restore();
    void fullDiskKeepsTheOldFile_data();
    void fullDiskKeepsTheOldFile();
    void ledgerOnAFullDisk_data();
    void ledgerOnAFullDisk();
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

// A small disk of its own (a tmpfs, which needs root), unmounted with the object.
struct SmallDisk {
    QTemporaryDir mountPoint;
    QByteArray dir = QFile::encodeName(mountPoint.path());
    bool mounted = false;
    explicit SmallDisk(const char* size) {
        mounted = ::mount("tmpfs", dir.constData(), "tmpfs", 0,
                          (QByteArray("size=") + size).constData()) == 0;
    }
    ~SmallDisk() {
        if (mounted)
            ::umount(dir.constData());
    }
    QString path() const { return mountPoint.path() + "/"; }
    // Fills the disk to the last byte but `free` bytes.
    bool fill(qint64 free) const {
        QFile filler(path() + "filler");
        if (!filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
            return false;
        while (filler.write(QByteArray(4096, 'f')) == 4096) {
        }
        filler.close();
        return free <= 0 || QFile::resize(filler.fileName(), filler.size() - free);
    }
};
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
    // Closing copies ("k" and the count's age): seven years from the return
    // after the count, whatever the daily rule does.
    QTest::newRow("closing copies outlast the daily rule")
        << "k0 k400 d0 d1 d2 d3 d4 d5 d6 d7 d8 d9 d10 d11 d12 d13 d14"
        << "d14";
    QTest::newRow("a count of 2020 stays, one of 2018 goes") << "k2500 k2900 d0"
                                                             << "k2900";
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
        const Kind kinds[] = {Kind::Daily, Kind::Erase, Kind::Manual, Kind::Restore, Kind::Closing};
        copy.kind = kinds[QString("demrk").indexOf(c[0])];
        copy.made = Now.addDays(-c.mid(1).toInt()).addSecs(-60);
        copy.counted = copy.made.date();
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
    // A copy from a clock once wrong, years ahead: every later day still gets its copy.
    const QString future = dir + "Stolva-20300101-090000.mdb";
    QVERIFY(QFile::copy(first, future));
    // 20 older sound copies and two that failed: the failed ones do not count.
    const auto named = [&](const QDateTime& at) {
        return dir + at.toString("'Stolva-'yyyyMMdd-HHmmss'.mdb'");
    };
    for (int d = 1; d <= 20; ++d)
        QVERIFY(QFile::copy(first, named(Now.addDays(-d))));
    touch(named(Now.addDays(-2).addSecs(60)));
    touch(named(Now.addDays(-3).addSecs(60)));
    // An empty copy of the day is no copy: the day's copy is made again.
    touch(named(Now.addDays(1).addSecs(-3600)));
    // Left-overs of a copy cut short go.
    touch(dir + ".Stolva-20261207-093000.mdb.1234abcd.part");
    touch(dir + ".Stolva-20261207-093000.mdb.1234abcd.part-journal");
    VALUE_OK(next, dailyCopy(t.store(), Now.addDays(1)));
    QCOMPARE(next, dir + "Stolva-20261209-093000.mdb");
    QCOMPARE(QDir(dir).entryList({".*part*"}, QDir::Files | QDir::Hidden), QStringList());
    const QVector<Copy> left = list(t.store(), false);
    int sound = 0;
    for (const Copy& c : left)
        sound += c.kind == Kind::Daily && c.path != future &&
                 bool(check(c.path, t.store().schemaVersion()));
    QCOMPARE(sound, DailyKept);
    QVERIFY(QFile::exists(named(Now.addDays(-12))));
    QVERIFY(!QFile::exists(named(Now.addDays(-13))));
    QCOMPARE(left.last().kind, Kind::Erase); // under 90 days: it stays
    QVERIFY(QFile::exists(future));          // not counted, not removed unasked
    // A backup folder that cannot be made fails the copy, and nothing else.
    TempStore u;
    touch(u.path() + "backup");
    QVERIFY(!dailyCopy(u.store(), Now));
    QCOMPARE(u.count(Db::Main, "商品マスタ"), 0);
}

void TestBackup::closingCopyOfACount() {
    TempStore t;
    saveSheet(t, "2026-12-31", 3);
    VALUE_OK(path, closingCopy(t.store(), QDate(2026, 12, 31)));
    QCOMPARE(path, t.path() + "backup/Stolva-20261231-確定.mdb");
    VERIFY_OK(check(path, t.store().schemaVersion()));
    // Closed again after a change: the copy is the ledger as closed the last time.
    saveSheet(t, "2026-12-31", 5);
    VERIFY_OK(closingCopy(t.store(), QDate(2026, 12, 31)));
    QVector<Copy> copies = list(t.store(), true);
    QCOMPARE(copies.size(), 1);
    QCOMPARE(copies[0].kind, Kind::Closing);
    QCOMPARE(copies[0].counted, QDate(2026, 12, 31));
    QCOMPARE(kindName(copies[0].kind), QString("確定"));
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "closing-copy");
    db.setDatabaseName(path);
    QVERIFY(db.open());
    QSqlQuery lines(db);
    QVERIFY(lines.exec("SELECT count(*) FROM 在庫表") && lines.next());
    QCOMPARE(lines.value(0).toInt(), 8);
    lines.finish();
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase("closing-copy");
    // A closing copy made today is not the day's copy: the daily copy is still made.
    VALUE_OK(daily, dailyCopy(t.store(), QDateTime::currentDateTime()));
    QVERIFY(!daily.isEmpty());
    QVERIFY(QFile::exists(path));
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

namespace {
// A table made again from its definition with `text` replaced (table, text,
// replacement), keeping its rows, indexes and triggers.
bool rebuild(QSqlDatabase& db, const QStringList& change) {
    const QString table = change[0];
    QSqlQuery q(db);
    q.exec("SELECT sql FROM sqlite_master WHERE tbl_name = '" + table +
           "' AND type IN ('index', 'trigger') AND sql IS NOT NULL");
    QStringList after;
    while (q.next())
        after << q.value(0).toString();
    q.exec("SELECT sql FROM sqlite_master WHERE name = '" + table + "'");
    q.next();
    const QString definition = q.value(0).toString();
    q.finish();
    if (!definition.contains(change[1]))
        return false;
    QStringList steps{"PRAGMA legacy_alter_table = ON", "ALTER TABLE " + table + " RENAME TO 旧",
                      QString(definition).replace(change[1], change[2]),
                      "INSERT INTO " + table + " SELECT * FROM 旧", "DROP TABLE 旧"};
    for (const QString& sql : steps + after) {
        QSqlQuery step(db);
        if (!step.exec(sql)) {
            qWarning("%s: %s", qPrintable(sql), qPrintable(step.lastError().text()));
            return false;
        }
    }
    return true;
}
} // namespace

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
    QTest::newRow("a page of the lines overwritten") << "damaged"
                                                     << "壊れています";
    QTest::newRow("another program's database") << "foreign"
                                                << "壊れています";
    QTest::newRow("a newer version's copy") << "newer"
                                            << "新しいバージョン";
    QTest::newRow("no backup folder can be made") << "no-folder"
                                                  << "バックアップ用フォルダ";
    // Copies made in an SQLite tool: right table names, wrong ledger.
    QTest::newRow("a trigger on the saved lines") << "trigger-sheet"
                                                  << "構造が Stolva のものと違います";
    QTest::newRow("a trigger on the products") << "trigger-products"
                                               << "余分または違う定義: trigger";
    QTest::newRow("without the totals triggers") << "no-totals"
                                                 << "ありません: trigger";
    QTest::newRow("the right names, other columns") << "other-columns"
                                                    << "構造が Stolva のものと違います";
    QTest::newRow("an older copy with a trigger") << "older-trigger"
                                                  << "元のデータに戻しました";
    QTest::newRow("a link to a copy") << "link"
                                      << "リンク";
    QTest::newRow("the windows cannot be reset") << "reset-fails"
                                                 << "元のデータに戻しました";
    QTest::newRow("a copy in WAL mode, its WAL beside it") << "wal"
                                                           << "";
    // The right columns with constraints that change what a save does.
    for (const char* rebuilt :
         {"unique-replace", "unique-ignore", "check", "nocase", "partial", "cascade"})
        QTest::newRow(rebuilt) << rebuilt << "構造が Stolva のものと違います";
    QTest::newRow("totals that are not the lines' sums") << "totals"
                                                         << "在庫表集計 が保存済み";
    QTest::newRow("a total without lines") << "lone-total"
                                           << "2026-11-30 果物";
    QTest::newRow("text in a number column") << "text-number"
                                             << "在庫表 の 数量 に数値でない値";
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
    } else if (copy == "damaged") {
        // Its header and schema read well; a table's page does not.
        QVERIFY(f.size() >= 4 * 4096);
        f.seek(f.size() - 4096);
        f.write(QByteArray(4096, 'x'));
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
    const QMap<QString, QStringList> crafted{
        {"trigger-sheet",
         {"CREATE TRIGGER x AFTER INSERT ON 在庫表 BEGIN DELETE FROM 在庫表 WHERE 日付 <> "
          "NEW.日付; END"}},
        {"trigger-products",
         {"CREATE TRIGGER y AFTER UPDATE ON 商品マスタ BEGIN UPDATE 商品マスタ SET 単価 = 0; END"}},
        {"no-totals", {"DROP TRIGGER 在庫表集計_追加"}},
        {"other-columns",
         {"DROP TABLE 商品マスタ", "CREATE TABLE 商品マスタ (id INTEGER PRIMARY KEY, x TEXT)"}},
        {"older-trigger",
         {"CREATE TRIGGER z AFTER DELETE ON 在庫表 BEGIN DELETE FROM 商品マスタ; END",
          "PRAGMA user_version = 2"}},
        {"wal",
         {"PRAGMA journal_mode = WAL", "PRAGMA wal_autocheckpoint = 0",
          "INSERT INTO 商品マスタ (品名) VALUES ('WAL にだけある')"}},
        // REBUILD table|text|replacement: the table made again from its own
        // definition so changed, with its rows, indexes and triggers.
        {"unique-replace",
         {"REBUILD 在庫表|行番号 INTEGER|行番号 INTEGER UNIQUE ON CONFLICT REPLACE"}},
        {"unique-ignore",
         {"REBUILD 在庫表|商品区分 TEXT)|商品区分 TEXT, UNIQUE (日付) ON CONFLICT IGNORE)"}},
        {"check", {"REBUILD 商品マスタ|単価 NUMERIC|単価 NUMERIC CHECK (単価 < 1000)"}},
        {"nocase", {"REBUILD 商品マスタ|品名 TEXT|品名 TEXT COLLATE NOCASE"}},
        {"totals", {"UPDATE 在庫表集計 SET 金額 = 金額 + 1"}},
        {"lone-total", {"INSERT INTO 在庫表集計 VALUES ('2026-11-30', '果物', 1, 10)"}},
        {"text-number",
         {"UPDATE 在庫表 SET 数量 = 'たくさん' WHERE id = (SELECT min(id) FROM 在庫表)"}},
        {"partial",
         {"DROP INDEX コードマスタ_kcode_sname",
          "CREATE UNIQUE INDEX コードマスタ_kcode_sname ON コードマスタ (kcode, sname) WHERE 0"}},
        {"cascade",
         {"REBUILD 在庫表|code TEXT|code TEXT REFERENCES 商品マスタ (id) ON DELETE CASCADE"}}};
    QSqlDatabase held; // the WAL copy stays open, so its WAL stays beside it
    if (crafted.contains(copy)) {
        held = QSqlDatabase::addDatabase("QSQLITE", "crafted");
        held.setDatabaseName(made);
        QVERIFY(held.open());
        for (const QString& sql : crafted[copy]) {
            if (sql.startsWith("REBUILD ")) {
                QVERIFY(rebuild(held, sql.mid(8).split('|')));
                continue;
            }
            QVERIFY2(QSqlQuery(held).exec(sql), qPrintable(sql));
        }
        if (copy == "wal")
            QVERIFY(QFileInfo(made + "-wal").size() > 0);
        else
            held.close();
    }
    if (copy == "link") {
        chosen = t.path() + "backup/Stolva-20261231-000000.mdb";
        QVERIFY(QFile::link(made, chosen));
    }
    int resets = 0; // the restored data's reset fails, the previous data's does not
    const auto afterOpen = [&]() -> Status {
        return copy == "reset-fails" && resets++ == 0 ? Status::failed("reset") : Status{};
    };

    const Result<QString> r = backup::restore(t.store(), chosen, Now, afterOpen);
    if (held.isOpen())
        held.close();
    held = QSqlDatabase();
    QSqlDatabase::removeDatabase("crafted");
    QVERIFY(t.store().isOpen());
    if (says.isEmpty()) {
        VERIFY_OK(r);
        QCOMPARE(t.count(Db::Main, "商品マスタ"), copy == "wal" ? 2 : 1);
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
    QVERIFY(!r.error().contains("復元しました"));
    QVERIFY2(!r.error().contains("起動できません"), qPrintable(r.error())); // it is running
    // A link is not listed as a copy either.
    for (const Copy& c : list(t.store(), false))
        QVERIFY(!QFileInfo(c.path).isSymLink());
}

// A small disk, filled up: every file Stolva writes is whole or not written,
// the old one stays, and the reason is said in Japanese.
void TestBackup::fullDiskKeepsTheOldFile_data() {
    QTest::addColumn<QString>("what");
    QTest::addColumn<int>("free"); // bytes left on the disk
    for (const char* w : {"csv", "pdf", "backup", "backup-by-hand-elsewhere"})
        QTest::newRow(w) << QString(w) << 0;
    // Room for part of a report: the file would be cut short.
    for (const int kb : {8, 24, 40})
        QTest::newRow(qPrintable(QString("pdf with %1 KB free").arg(kb))) << "pdf" << kb * 1024;
}

void TestBackup::fullDiskKeepsTheOldFile() {
    QFETCH(QString, what);
    QFETCH(int, free);
    const SmallDisk small("256k");
    if (!small.mounted)
        QSKIP("a small tmpfs cannot be mounted here (needs root)");
    const QString disk = small.path();
    TempStore t;
    for (int i = 0; i < 200; ++i)
        t.addProduct(QString("C%1").arg(i), QString("商品%1").arg(i), "個", 100);
    // The old file, then filler to the last byte.
    const QString old = disk + (what == "pdf" ? "old.pdf" : "old.csv");
    const QByteArray oldBytes(3000, 'o');
    {
        QFile f(old);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(oldBytes);
    }
    QVERIFY(small.fill(free));
    QString error;
    if (what == "csv") {
        // Smaller than a write buffer: the failure shows only when forced out.
        const Status s =
            exchange::writeCsvFile(old, {{"品名"}, {"りんご"}}, exchange::Encoding::Utf8Bom);
        QVERIFY(!s);
        error = s.error;
    } else if (what == "pdf") {
        // A report of many lines: larger than the room left.
        report::Page page;
        for (int i = 0; i < 400; ++i)
            page.items << report::Placed{"t",
                                         report::ItemKind::Label,
                                         QRect(100, 100 + i * 40, 5000, 40),
                                         QString("商品%1 りんご 日月金 %2").arg(i).arg(i * 37),
                                         Qt::AlignLeft,
                                         6,
                                         false};
        QVERIFY(!report::writePdf(QVector<report::Page>(12, page), old, "在庫表", &error));
    } else {
        const Result<QString> r =
            makeCopy(t.store(), Kind::Manual, Now, what == "backup" ? disk + "backup" : disk);
        QVERIFY(!r);
        error = r.error();
        QVERIFY(QDir(disk).entryList({"Stolva-*"}, QDir::AllEntries).isEmpty() ||
                QDir(disk + "backup").entryList({"Stolva-*"}, QDir::Files).isEmpty());
    }
    QVERIFY2(error.contains(QStringLiteral("ディスクの空きが足りません")), qPrintable(error));
    QFile f(old);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), oldBytes);
    QCOMPARE(QDir(disk).entryList({"*.part*"}, QDir::Files | QDir::Hidden), QStringList());
}

// The ledger itself on a disk that fills up: a save of a whole sheet and a
// restore fail at whatever step the room ends, say so in Japanese, and leave
// the stored data as it was.
void TestBackup::ledgerOnAFullDisk_data() {
    QTest::addColumn<QString>("what");
    QTest::addColumn<int>("free"); // KB left on the disk
    for (const char* w : {"save", "restore"})
        for (int kb = 0; kb < 400; kb += 20)
            QTest::newRow(qPrintable(QString("%1 with %2 KB free").arg(w).arg(kb))) << w << kb;
}

void TestBackup::ledgerOnAFullDisk() {
    QFETCH(QString, what);
    QFETCH(int, free);
    const SmallDisk small("3m");
    if (!small.mounted)
        QSKIP("a small tmpfs cannot be mounted here (needs root)");
    Store store;
    VERIFY_OK(store.open(small.path()));
    const auto lines = [&](const QString& prefix) {
        store.exec(Db::Work, "DELETE FROM w在庫表");
        Transaction t(store, Db::Work);
        for (int i = 0; i < 500; ++i)
            store.exec(Db::Work, "INSERT INTO w在庫表 (チェック, 品名, 数量) VALUES (0, ?, ?)",
                       {QString("%1%2 %3").arg(prefix).arg(i).arg(QString(40, QChar(0x5728))), i});
        t.commit();
    };
    lines("古");
    VERIFY_OK(sheet::entry在庫表(store, QDate(2026, 12, 1), QString()));
    QTemporaryDir elsewhere;
    VALUE_OK(copy, makeCopy(store, Kind::Manual, Now, elsewhere.path()));
    lines("新");
    const auto stored = [&] {
        QStringList names;
        const Status read = guarded([&] {
            for (const Row& r : store.query(Db::Main, "SELECT 品名 FROM 在庫表 ORDER BY 行番号"))
                names << r.value(0).toString();
        });
        return read ? names : QStringList{"<" + read.error + ">"};
    };
    const QStringList before = stored();
    QCOMPARE(before.size(), 500);
    QVERIFY(small.fill(qint64(free) * 1024));
    Status s = what == "save" ? statusOf(sheet::entry在庫表(store, QDate(2026, 12, 2), QString()))
                              : statusOf(backup::restore(store, copy, Now));
    QVERIFY(!s);
    QVERIFY2(s.error.contains(QStringLiteral("ディスクの空きが足りません")), qPrintable(s.error));
    // SQLite's and Qt's English stays out of what the user reads.
    static const QRegularExpression english("\\b(database|disk|unable|full|fetch|row)\\b",
                                            QRegularExpression::CaseInsensitiveOption);
    QVERIFY2(!english.match(s.error).hasMatch(), qPrintable(s.error));
    QFile::remove(small.path() + "filler");
    QCOMPARE(stored(), before);
    // Nothing of the failed save is left open: with room again, it saves.
    if (what == "save")
        VERIFY_OK(sheet::entry在庫表(store, QDate(2026, 12, 2), QString()));
}

QTEST_MAIN(TestBackup)
#include "tst_backup.moc"
