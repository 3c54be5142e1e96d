// Two PCs on one ledger: two stores on one data folder, each with its own
// work file (and two processes for the code slots).
#include "backup/BackupOps.h"
#include "backup/Erase.h"
#include "bench/proxy.h"
#include "codes/CodeOps.h"
#include "products/ProductOps.h"
#include "sheet/CountLedger.h"
#include "sheet/SheetOps.h"
#include "store/Copy.h"
#include "store/Notices.h"
#include "tests/fixtures.h"
#include "work/WorkResets.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <algorithm>

using namespace products;

namespace {
// A second PC: the same ledger, a work file of its own.
struct OtherPc {
    QTemporaryDir work;
    Store store;
    explicit OtherPc(TempStore& t) {
        store.setWorkFolder(work.path());
        store.setServer(t.serverAddress());
        store.setBusyTimeout(QuickBusyTimeoutMs);
        const Status s = store.open(t.path());
        if (!s)
            qFatal("cannot open the second store: %s", qPrintable(s.error));
    }
};

void edit(Store& s, const QString& name, const QString& field, const QVariant& value) {
    s.exec(Db::Work, "UPDATE w商品マスタ SET " + field + " = ? WHERE 品名 = ?", {value, name});
}

QString price(Store& s, const QString& name) {
    return s.scalar(Db::Main, "SELECT 単価 FROM 商品マスタ WHERE 品名 = ?", {name}).toString();
}

// The slot writer child: enters names "<prefix>1" … "<prefix>n" one by one.
// A store of another process on the test ledger: the data folder, or the
// test server's database.
bool openChild(Store& s, const QString& dir, const QString& database) {
    if (testServer()) {
        server::Address a = *testServer();
        a.database = database;
        s.setServer(a);
    }
    return s.open(dir).ok;
}

// The sheet saver child: n lines of `category` saved for 2026-12-08 as a PC
// that loaded nothing (0 saved, 4 refused because another saved it first,
// 3 another failure); `replace`: as one asked about the saved sheet that
// chose 置き換える.
int sheetChild(const QString& dir, const QString& category, int n, const QString& database,
               const QString& work, bool replace = false) {
    Store s;
    s.setWorkFolder(work);
    // Two savers of one date wait for each other as two PCs do (a 200-line
    // save can take longer than the quick wait on a loaded machine); the one
    // that saves between another's reads gives up quickly.
    s.setBusyTimeout(replace ? QuickBusyTimeoutMs : 30000);
    if (!openChild(s, dir, database) || !resets::clear在庫明細(s, 0))
        return 2;
    Rows lines;
    for (int i = 0; i < n; ++i)
        lines.append(Row{0, QString("%1%2").arg(category).arg(i), i + 1, category});
    insertRows(s, Db::Work, "w在庫表", "チェック, 品名, 数量, 商品区分", lines);
    sheet::SaveMode mode;
    mode.expected = sheet::Versions{};
    if (replace) {
        const auto asked = sheet::unloadedSheets(s, QDate(2026, 12, 8), category, {});
        for (const sheet::Unloaded& u : asked.value)
            (*mode.expected)[u.category] = u.version;
    }
    const Result<int> saved = sheet::entry在庫表(s, QDate(2026, 12, 8), category, {}, mode);
    return saved ? 0 : saved.status.kind == ErrorKind::Conflict ? 4 : 3;
}

// The scanning child: n scans straight into 果物 of 2026-12-08, codes K0 … K4
// in turn, as `counter`; 0 when every one was recorded.
int scanChild(const QString& dir, const QString& database, const QString& work,
              const QString& counter, int n) {
    Store s;
    s.setWorkFolder(work);
    s.setBusyTimeout(30000);
    if (!openChild(s, dir, database))
        return 2;
    for (int i = 0; i < n; ++i) {
        const auto r =
            sheet::recordScan(s, QDate(2026, 12, 8), "果物", QString("K%1").arg(i % 5), 1, counter);
        if (!r || !r.value.known)
            return 3;
    }
    return 0;
}

int slotChild(const QString& dir, const QString& prefix, int n, const QString& database) {
    Store s;
    if (!openChild(s, dir, database))
        return 2;
    for (int i = 1; i <= n; ++i) {
        const Result<bool> r = codes::autoEntry(s, codes::kindUnit(), prefix + QString::number(i));
        if (!r)
            return 3;
    }
    return 0;
}
} // namespace

class TestSharing : public QObject {
    Q_OBJECT
  private slots:
    void productListEditedOnBoth_data();
    void productListEditedOnBoth();
    void detailPanelChangedElsewhere();
    void countOnOnePcListOnAnother_data();
    void countOnOnePcListOnAnother();
    void slotsTakenByTwoProcesses_data();
    void slotsTakenByTwoProcesses();
    void slotEditor_data();
    void slotEditor();
    void sameSheetSavedOnBoth();
    void sheetsSavedByTwoProcesses_data();
    void sheetsSavedByTwoProcesses();
    void loadDuringASaveElsewhere();
    void scansByTwoProcesses();
    void noticesReachAnotherPc();
    void connectionIsWhatItSays();
    void commitWhoseAnswerIsLost_data();
    void commitWhoseAnswerIsLost();
    void lineDeleteWritesTheLedgerFirst();
    void saveIsAFewStatements();
    void copiesEraseAndRestoreKeepEveryValue();
    void restoreTakesTheCopyWithItsWal();
    void serverUnreachableOrLost();
    void serverRefusesWhatIsNotItsOwn();
    void serverSchemaGrows_data();
    void serverSchemaGrows();
    void ledgerCopiedToAServer();
};

void TestSharing::productListEditedOnBoth_data() {
    QTest::addColumn<int>("answer"); // -1 none, 0 keep mine, 1 take theirs
    QTest::addColumn<QString>("apple");
    QTest::addColumn<QString>("row");
    QTest::newRow("asked, nothing overwritten") << -1 << "130"
                                                << "120|1";
    QTest::newRow("keep mine") << 0 << "120"
                               << "120|0";
    QTest::newRow("take theirs") << 1 << "130"
                                 << "130|0";
}

void TestSharing::productListEditedOnBoth() {
    QFETCH(int, answer);
    QFETCH(QString, apple);
    QFETCH(QString, row);
    TempStore t;
    t.addProduct("A1", "りんご", "個", 100);
    t.addProduct("A2", "みかん", "個", 50);
    t.addProduct("A3", "ぶどう", "房", 300);
    OtherPc b(t);
    Store& a = t.store();
    VERIFY_OK(read商品情報(a, QString()));
    VERIFY_OK(read商品情報(b.store, QString()));
    // B changes りんご and みかん; A then changes りんご and ぶどう.
    edit(b.store, "りんご", "単価", 130);
    edit(b.store, "みかん", "単価", 55);
    VALUE_OK(bSaved, entry商品情報(b.store));
    QCOMPARE(bSaved.updated, 2);
    edit(a, "りんご", "単価", 120);
    edit(a, "ぶどう", "単価", 320);
    VALUE_OK(aSaved, entry商品情報(a));
    QCOMPARE(aSaved.updated, 1);
    QCOMPARE(aSaved.conflicts.size(), 1);
    QCOMPARE(aSaved.conflicts[0].mine, QString("りんご"));
    QCOMPARE(aSaved.conflicts[0].difference, QString("単価 120 → 130"));
    // A's untouched row never undoes B's change; A's own edit is written.
    QCOMPARE(price(a, "みかん"), QString("55"));
    QCOMPARE(price(a, "ぶどう"), QString("320"));
    QCOMPARE(price(a, "りんご"), QString("130"));
    if (answer == 0) {
        VERIFY_OK(keepMine(a, aSaved.conflicts));
        VALUE_OK(again, entry商品情報(a));
        QVERIFY(again.conflicts.isEmpty());
    } else if (answer == 1) {
        VERIFY_OK(takeTheirs(a, aSaved.conflicts));
        VALUE_OK(again, entry商品情報(a));
        QCOMPARE(again.updated, 0);
    }
    QCOMPARE(price(a, "りんご"), apple);
    QCOMPARE(a.scalar(Db::Work, "SELECT 単価 || '|' || 変更 FROM w商品マスタ WHERE 品名 = 'りんご'")
                 .toString(),
             row);
    // A row read afresh after a save carries the version the save left.
    edit(a, "ぶどう", "単価", 330);
    VALUE_OK(third, entry商品情報(a));
    QCOMPARE(third.conflicts.size(), answer == -1 ? 1 : 0);
}

void TestSharing::detailPanelChangedElsewhere() {
    TempStore t;
    t.addProduct("A1", "りんご", "個", 100);
    OtherPc b(t);
    VALUE_OK(read, read商品詳細(t.store(), "りんご"));
    VALUE_OK(theirs, read商品詳細(b.store, "りんご"));
    Detail other = *theirs;
    other.price = Currency::fromWhole(130);
    VERIFY_OK(entry商品詳細(b.store, other));
    Detail mine = *read;
    mine.price = Currency::fromWhole(120);
    const Result<qint64> refused = entry商品詳細(t.store(), mine);
    QCOMPARE(refused.status.kind, ErrorKind::Conflict);
    QCOMPARE(price(t.store(), "りんご"), QString("130"));
    VALUE_OK(version, entry商品詳細(t.store(), mine, true));
    QCOMPARE(version, 3);
    QCOMPARE(price(t.store(), "りんご"), QString("120"));
}

void TestSharing::countOnOnePcListOnAnother_data() {
    QTest::addColumn<int>("typed");      // the sheet column B types into, -1 none
    QTest::addColumn<bool>("overwrite"); // B's answer to the question
    QTest::addColumn<QString>("stored"); // りんご's 単価/適正数 afterwards
    QTest::addColumn<QString>("asked");  // the conflict B is asked about
    QTest::newRow("nothing typed: A's price stays") << -1 << false << "130/5"
                                                    << "";
    QTest::newRow("a price typed: the master keeps A's") << int(sheet::ColPrice) << false << "130/5"
                                                         << "りんご: 単価 130 → 120";
    QTest::newRow("a price typed: overwritten when chosen")
        << int(sheet::ColPrice) << true << "120/5"
        << "りんご: 単価 130 → 120";
    QTest::newRow("another field typed: still asked") << int(sheet::ColProper) << false << "130/5"
                                                      << "りんご: 適正数 5 → 9";
}

// PC-B counts a product while PC-A registers a new price for it: B's save
// never puts the old price back, and what B typed is asked about.
void TestSharing::countOnOnePcListOnAnother() {
    QFETCH(int, typed);
    QFETCH(bool, overwrite);
    QFETCH(QString, stored);
    QFETCH(QString, asked);
    TempStore t;
    t.addProduct("A1", "りんご", "個", 100, 5, "果物");
    OtherPc b(t);
    Store& a = t.store();
    VERIFY_OK(resets::clear在庫明細(b.store, 1));
    const qint64 seq = b.store.scalar(Db::Work, "SELECT min(seq) FROM w在庫表").toLongLong();
    const auto type = [&](int column, const QVariant& value) {
        b.store.exec(
            Db::Work,
            QString("UPDATE w在庫表 SET %1 = ? WHERE seq = ?").arg(sheet::Columns[column].field),
            {value, seq});
        VERIFY_OK(sheet::afterCellEdit(b.store, seq, column).status);
    };
    type(sheet::ColName, "りんご");
    type(sheet::ColQty, 5);
    VERIFY_OK(read商品情報(a, QString()));
    edit(a, "りんご", "単価", 130);
    VALUE_OK(aSaved, entry商品情報(a));
    QCOMPARE(aSaved.updated, 1);
    if (typed >= 0)
        type(typed, typed == sheet::ColPrice ? 120 : 9);
    VALUE_OK(effect, sheet::masterEffect(b.store));
    QVERIFY(effect.changed.isEmpty());
    QCOMPARE(effect.conflicts.join(","), asked);
    sheet::SaveMode mode;
    if (overwrite)
        mode.overwrite = effect.conflictVersions;
    VERIFY_OK(sheet::entry在庫表(b.store, QDate(2026, 12, 8), QString(), {}, mode).status);
    QCOMPARE(a.scalar(Db::Main, "SELECT 単価 || '/' || 適正数 FROM 商品マスタ").toString(), stored);
    QCOMPARE(a.scalar(Db::Main, "SELECT 数量 FROM 在庫表").toInt(), 5);
    QCOMPARE(t.count(Db::Main, "商品マスタ"), 1);
}

void TestSharing::slotsTakenByTwoProcesses_data() {
    QTest::addColumn<QString>("second"); // the other writer's prefix
    QTest::addColumn<int>("names");
    QTest::newRow("fifteen names each") << "B" << 30;
    QTest::newRow("the same fifteen names") << "A" << 15;
}

void TestSharing::slotsTakenByTwoProcesses() {
    QFETCH(QString, second);
    QFETCH(int, names);
    TempStore t;
    const QString dir = t.path();
    QProcess writers[2];
    const QString prefixes[2] = {"A", second};
    for (int i = 0; i < 2; ++i) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("STOLVA_SLOT_CHILD", dir + "|" + prefixes[i] + "|15|" + t.database());
        writers[i].setProcessEnvironment(env);
        writers[i].start(QCoreApplication::applicationFilePath(), {});
    }
    for (QProcess& w : writers) {
        QVERIFY(w.waitForFinished(30000));
        QCOMPARE(w.exitCode(), 0);
    }
    // No name lost, none twice, each in a slot of its own.
    QCOMPARE(t.count(Db::Main, "コードマスタ", "kcode = '単位' AND sname IS NOT NULL"), names);
    QCOMPARE(t.store()
                 .scalar(Db::Main, "SELECT count(DISTINCT sname) FROM コードマスタ WHERE kcode = "
                                   "'単位'")
                 .toInt(),
             names);
    QCOMPARE(t.count(Db::Main, "コードマスタ", "kcode = '単位'"), 30);
}

void TestSharing::slotEditor_data() {
    QTest::addColumn<QString>("typed");     // slot=name typed in the editor, ';' between
    QTest::addColumn<QString>("elsewhere"); // a unit another PC registers meanwhile
    QTest::addColumn<QString>("outcome");   // error kind or the stored names
    QTest::newRow("names swapped in place") << "01=箱;02=個"
                                            << ""
                                            << "01=箱,02=個,03=本";
    QTest::newRow("a name moved to a free slot") << "01=;05=個"
                                                 << ""
                                                 << "02=箱,03=本,05=個";
    QTest::newRow("one name in two slots") << "04=箱"
                                           << ""
                                           << "other";
    QTest::newRow("registered meanwhile elsewhere") << "04=袋"
                                                    << "ケース"
                                                    << "conflict";
}

void TestSharing::slotEditor() {
    QFETCH(QString, typed);
    QFETCH(QString, elsewhere);
    QFETCH(QString, outcome);
    TempStore t;
    OtherPc b(t);
    t.nameSlot("単位", "01", "個");
    t.nameSlot("単位", "02", "箱");
    t.nameSlot("単位", "03", "本");
    VALUE_OK(read, codes::readCodeTable(t.store(), "単位"));
    for (const QString& slot : typed.split(';')) {
        const QString name = slot.section('=', 1);
        t.store().exec(Db::Work, "UPDATE wコードマスタ SET sname = ? WHERE code = ?",
                       {name.isEmpty() ? QVariant() : QVariant(name), slot.section('=', 0, 0)});
    }
    if (!elsewhere.isEmpty())
        VERIFY_OK(codes::autoEntry(b.store, "単位", elsewhere));
    const QStringList before = t.dump(Db::Main, "コードマスタ");
    const Result<int> r = codes::entryCodes(t.store(), "単位", read);
    if (outcome == "conflict" || outcome == "other") {
        QCOMPARE(r.status.kind, outcome == "conflict" ? ErrorKind::Conflict : ErrorKind::Other);
        QCOMPARE(t.dump(Db::Main, "コードマスタ"), before);
        return;
    }
    VERIFY_OK(r);
    QStringList names;
    for (const Row& n : t.store().query(Db::Main, "SELECT code || '=' || sname FROM コードマスタ "
                                                  "WHERE kcode = '単位' AND sname IS NOT NULL "
                                                  "ORDER BY code"))
        names << n[0].toString();
    QCOMPARE(names.join(','), outcome);
}

void TestSharing::sameSheetSavedOnBoth() {
    TempStore t;
    OtherPc b(t);
    const QDate d(2026, 12, 8);
    for (Store* s : {&t.store(), &b.store}) {
        VERIFY_OK(resets::clear在庫明細(*s, 0));
        s->exec(Db::Work, "INSERT INTO w在庫表 (チェック, 品名, 数量, 商品区分) VALUES "
                          "(0, 'りんご', 3, '果物'), (0, 'ばなな', 1, '果物')");
    }
    // Different categories of one date never touch each other.
    VERIFY_OK(sheet::entry在庫表(t.store(), d, "果物"));
    VALUE_OK(others, sheet::unloadedSheets(b.store, d, "野菜", sheet::LoadedFrom{d, {}}));
    QVERIFY(others.isEmpty());
    // The same category: the second saver is asked, and a save with what it
    // loaded (nothing) is refused instead of replacing the first count.
    VALUE_OK(unloaded, sheet::unloadedSheets(b.store, d, "果物", sheet::LoadedFrom{d, {}}));
    QCOMPARE(unloaded.size(), 1);
    QCOMPARE(unloaded[0].lines, 2);
    sheet::SaveMode mode;
    mode.expected = sheet::Versions{};
    const Result<int> refused = sheet::entry在庫表(b.store, d, "果物", {}, mode);
    QCOMPARE(refused.status.kind, ErrorKind::Conflict);
    mode.add = true;
    mode.expected = sheet::Versions{{"果物", unloaded[0].version}};
    VERIFY_OK(sheet::entry在庫表(b.store, d, "果物", {}, mode));
    QCOMPARE(
        t.store().scalar(Db::Main, "SELECT sum(数量) FROM 在庫表 WHERE 品名 = 'りんご'").toInt(),
        6);
}

void TestSharing::sheetsSavedByTwoProcesses_data() {
    QTest::addColumn<QString>("second"); // the other saver's category
    QTest::newRow("different categories of one date") << "野菜";
    QTest::newRow("the same category") << "果物";
}

// Two processes save a sheet of one date at the same moment: different
// categories both stay whole; the same category is saved once, wholly, and
// the other saver is refused (it would replace a count it never loaded).
void TestSharing::sheetsSavedByTwoProcesses() {
    QFETCH(QString, second);
    TempStore t;
    QTemporaryDir works[2];
    QProcess savers[2];
    const QString categories[2] = {"果物", second};
    for (int i = 0; i < 2; ++i) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("STOLVA_SHEET_CHILD",
                   t.path() + "|" + categories[i] + "|200|" + t.database() + "|" + works[i].path());
        savers[i].setProcessEnvironment(env);
        savers[i].start(QCoreApplication::applicationFilePath(), {});
    }
    QList<int> codes;
    for (QProcess& p : savers) {
        QVERIFY(p.waitForFinished(60000));
        codes << p.exitCode();
    }
    std::sort(codes.begin(), codes.end());
    const bool same = second == "果物";
    QCOMPARE(codes, QList<int>({0, same ? 4 : 0}));
    QCOMPARE(t.count(Db::Main, "在庫表"), same ? 200 : 400);
    // Never a mix: each category's lines are one save's, numbered 1 … 200.
    QCOMPARE(t.store()
                 .query(Db::Main, "SELECT count(DISTINCT 行番号), min(行番号), max(行番号) FROM "
                                  "在庫表 GROUP BY 商品区分")
                 .value(0),
             Row({200, 1, 200}));
}

// Two PCs scan the same category straight into the saved count at once, 200
// scans each: no scan is lost or counted twice, no product gets two lines,
// and each scan is one entry in its counter's name.
void TestSharing::scansByTwoProcesses() {
    TempStore t;
    for (int i = 0; i < 5; ++i)
        t.addProduct(QString("K%1").arg(i), QString("果物%1").arg(i), "個", 100, 0, "果物");
    QTemporaryDir works[2];
    QProcess scanners[2];
    for (int i = 0; i < 2; ++i) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("STOLVA_SCAN_CHILD", t.path() + "|" + t.database() + "|" + works[i].path() +
                                            "|担当" + QString::number(i) + "|200");
        scanners[i].setProcessEnvironment(env);
        scanners[i].start(QCoreApplication::applicationFilePath(), {});
    }
    for (QProcess& p : scanners) {
        QVERIFY(p.waitForFinished(120000));
        QCOMPARE(p.exitCode(), 0);
    }
    QCOMPARE(t.store()
                 .query(Db::Main,
                        "SELECT code, count(*), sum(数量), sum(金額) FROM 在庫表 GROUP BY "
                        "code ORDER BY code")
                 .size(),
             5);
    for (const Row& r : t.store().query(
             Db::Main, "SELECT count(*), sum(数量), sum(金額) FROM 在庫表 GROUP BY code"))
        QCOMPARE(r, Row({1, 80, 8000}));
    QCOMPARE(t.store()
                 .query(Db::Main, "SELECT 担当, count(*) FROM 棚卸記録 WHERE 種類 = 'スキャン' "
                                  "GROUP BY 担当 ORDER BY 担当")
                 .size(),
             2);
    QCOMPARE(t.count(Db::Main, "棚卸記録"), 400);
    QCOMPARE(t.store().scalar(Db::Main, "SELECT 金額 FROM 在庫表集計").toInt(), 40000);
}

// On a server, a count changed on one PC is announced to another that shows
// it, within moments; on a local file there is no one else to tell.
void TestSharing::noticesReachAnotherPc() {
    SKIP_ON_SERVER_ONLY();
    TempStore t;
    t.addProduct("K1", "りんご", "個", 100, 0, "果物");
    CountNotices notices(t.store());
    QSignalSpy heard(&notices, &CountNotices::recorded);
    notices.listen();
    // Made in the background; once heard, "anything may have changed" first.
    QTRY_VERIFY(notices.listening());
    QTRY_COMPARE(heard.size(), 1);
    QCOMPARE(heard.takeFirst().value(0).toString(), QString());
    OtherPc b(t);
    VERIFY_OK(sheet::recordScan(b.store, QDate(2026, 12, 8), "果物", "K1", 1, "佐藤"));
    QVERIFY(heard.wait(2000));
    QCOMPARE(heard.first().value(0).toString(), QString("2026-12-08"));
}

// Another PC replaces the sheet while this one loads it, between the lines and
// their versions: the screen's lines and versions are of one moment, so this
// PC's next save of what it loaded is refused instead of undoing that save.
void TestSharing::loadDuringASaveElsewhere() {
    TempStore t;
    const QDate d(2026, 12, 8);
    VERIFY_OK(resets::clear在庫明細(t.store(), 0));
    t.store().exec(Db::Work, "INSERT INTO w在庫表 (チェック, 品名, 数量) VALUES (0, 'りんご', 3)");
    VERIFY_OK(sheet::entry在庫表(t.store(), d, "果物"));
    QTemporaryDir work;
    int other = -1;
    sheet::betweenLoadReads = [&] {
        QProcess saver;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("STOLVA_SHEET_CHILD",
                   t.path() + "|果物|5|" + t.database() + "|" + work.path() + "|replace");
        saver.setProcessEnvironment(env);
        saver.start(QCoreApplication::applicationFilePath(), {});
        saver.waitForFinished(60000);
        other = saver.exitCode();
    };
    sheet::LoadedFrom from;
    const Result<int> loaded = sheet::read在庫表(t.store(), d, "果物", {}, &from);
    sheet::betweenLoadReads = nullptr;
    VERIFY_OK(loaded);
    // The other save either went in (a server) or waited and gave up (a
    // local file: a writer waits for the reader); never both saves stand.
    QVERIFY2(other == 0 || other == 3, qPrintable(QString::number(other)));
    const Status mine =
        sheet::entry在庫表(t.store(), d, "果物", {}, {false, from.versions, {}, {}, {}}).status;
    if (other == 0) {
        QCOMPARE(mine.kind, ErrorKind::Conflict);
        QCOMPARE(t.count(Db::Main, "在庫表"), 5);
    } else {
        VERIFY_OK(mine);
        QCOMPARE(loaded.value, 1);
        QCOMPARE(t.count(Db::Main, "在庫表"), 1);
    }
}

void TestSharing::commitWhoseAnswerIsLost_data() {
    QTest::addColumn<DelayProxy::Cut>("cut");
    QTest::addColumn<bool>("saved");
    QTest::addColumn<QString>("said");
    QTest::newRow("the server committed, the answer was lost")
        << DelayProxy::Cut::AnswerOfCommit << true << QString();
    QTest::newRow("the commit never reached the server")
        << DelayProxy::Cut::Commit << false << "保存されていません";
    QTest::newRow("committed, and the server is away since")
        << DelayProxy::Cut::AnswerAndAway << true << "保存されたかどうか確かめられません";
}

// The connection drops during COMMIT: the save says what the server did, so
// nobody adds a count twice nor retypes one that is stored.
void TestSharing::commitWhoseAnswerIsLost() {
    QFETCH(DelayProxy::Cut, cut);
    QFETCH(bool, saved);
    QFETCH(QString, said);
    SKIP_ON_SERVER_ONLY();
    TempStore t;
    DelayProxy proxy(quint16(t.serverAddress()->port), 0);
    server::Address through = *t.serverAddress();
    through.host = "127.0.0.1";
    through.port = proxy.port();
    QTemporaryDir work;
    Store pc;
    pc.setWorkFolder(work.path());
    pc.setServer(through);
    VERIFY_OK(pc.open(t.path()));
    VERIFY_OK(resets::clear在庫明細(pc, 0));
    pc.exec(Db::Work, "INSERT INTO w在庫表 (チェック, 品名, 数量) VALUES (0, 'りんご', 3)");
    proxy.cutAtNextCommit(cut);
    const Result<int> r = sheet::entry在庫表(pc, QDate(2026, 12, 8), "果物");
    // Said saved only when it is; not saved only when it is not.
    QVERIFY2(bool(r) == said.isEmpty(), qPrintable(r.error()));
    QCOMPARE(t.count(Db::Main, "在庫表"), saved ? 1 : 0);
    if (!r) {
        QCOMPARE(r.status.kind, saved ? ErrorKind::Unsure : ErrorKind::Io);
        QVERIFY2(r.status.error.contains(said), qPrintable(r.status.error));
    }
    proxy.cutAtNextCommit(DelayProxy::Cut::None); // the server is back
    // Either way the next action works on a fresh connection.
    VALUE_OK(again, sheet::unloadedSheets(pc, QDate(2026, 12, 8), "果物", {}));
    QCOMPARE(again.size(), saved ? 1 : 0);
}

// An option's value stays that option's, whatever it holds: never another
// user or database. The connection is named as the server reports it.
void TestSharing::connectionIsWhatItSays() {
    SKIP_ON_SERVER_ONLY();
    TempStore t;
    server::Address a = *t.serverAddress();
    a.options = "application_name=x\tuser=nobody\tdbname=postgres";
    QString as;
    VERIFY_OK(server::connect("smuggled", a, 1000, &as));
    QSqlDatabase::removeDatabase("smuggled");
    QVERIFY2(as.endsWith(":" + QString::number(a.port) + "/" + a.database), qPrintable(as));
    QVERIFY2(!as.startsWith("nobody@"), qPrintable(as));
    QCOMPARE(t.store().connectedAs(), as); // the store names its own connection alike
}

void TestSharing::lineDeleteWritesTheLedgerFirst() {
    TempStore t;
    t.addProduct("A1", "りんご");
    Store& s = t.store();
    VERIFY_OK(read商品情報(s, QString()));
    const qint64 seq = s.scalar(Db::Work, "SELECT seq FROM w商品マスタ").toLongLong();
    // The list's own deletion fails after the ledger's: the row stays shown.
    s.exec(Db::Work, "CREATE TRIGGER boom BEFORE DELETE ON w商品マスタ BEGIN "
                     "SELECT RAISE(ABORT, 'injected'); END");
    QVERIFY(!lineDelete商品情報(s, seq));
    QCOMPARE(t.count(Db::Main, "商品マスタ"), 0);
    QCOMPARE(t.count(Db::Work, "w商品マスタ"), 1);
    // Deleting it again is harmless and removes the row.
    s.exec(Db::Work, "DROP TRIGGER boom");
    t.addProduct("A1", "別名");
    VERIFY_OK(lineDelete商品情報(s, seq));
    QCOMPARE(t.count(Db::Work, "w商品マスタ"), 0);
    QCOMPARE(t.count(Db::Main, "商品マスタ"), 1);
}

void TestSharing::saveIsAFewStatements() {
    TempStore t;
    Store& s = t.store();
    VERIFY_OK(resets::clear在庫明細(s, 0));
    Rows lines;
    for (int i = 0; i < 500; ++i)
        lines.append(Row{0, QString("品%1").arg(i), i, QString("区分%1").arg(i % 7),
                         QString("単位%1").arg(i % 5), 100 + i});
    insertRows(s, Db::Work, "w在庫表", "チェック, 品名, 数量, 商品区分, 単位, 単価", lines);
    for (int round = 0; round < 2; ++round) {
        const qint64 before = s.statementsRun();
        VALUE_OK(saved, sheet::entry在庫表(s, QDate(2026, 12, 8), QString()));
        QCOMPARE(saved, 500);
        const qint64 sent = s.statementsRun() - before;
        // Two of them record the entries (the products they name, the
        // entries); on a server up to three more, the date's and the slots'
        // locks among them.
        QVERIFY2(sent <= (testServer() ? 14 : 11), qPrintable(QString::number(sent)));
    }
    QCOMPARE(t.count(Db::Main, "商品マスタ"), 500);
    QCOMPARE(t.count(Db::Main, "コードマスタ", "sname IS NOT NULL"), 12);
}

// A copy of the ledger (on a server: a snapshot written as a local file) is a
// ledger of today's format with every value; erasing all data and restoring
// the copy gives the same ledger back.
void TestSharing::copiesEraseAndRestoreKeepEveryValue() {
    TempStore t;
    Store& s = t.store();
    int n = 0;
    for (const auto& [name, text] : hostileTexts()) {
        (void)name;
        t.addProduct(n % 2 ? QString("00%1").arg(n) : QString(), text, "個", n * 10.25, n, "果物");
        ++n;
    }
    t.nameSlot("単位", "01", "個");
    t.nameSlot("商品区分", "01", "果物");
    s.exec(Db::Main, "INSERT INTO 自社情報 (会社名, 住所, 電話番号) VALUES ('店', '町', '0')");
    VERIFY_OK(resets::clear在庫明細(s, 0));
    insertRows(s, Db::Work, "w在庫表", "チェック, 品名, 数量, 単価, 金額",
               {Row{0, "りんご", 3, 100.5, 301.5}, Row{0, "みかん", 2, 50, 100}});
    VERIFY_OK(sheet::entry在庫表(s, QDate(2026, 12, 8), QString()));
    const QStringList before = ledger::census(s);
    const int products = t.count(Db::Main, "商品マスタ");
    VALUE_OK(copy, backup::makeCopy(s, backup::Kind::Manual, QDateTime(QDate(2026, 12, 8), {})));
    VERIFY_OK(backup::check(copy, s.schemaVersion()));
    {
        // The copy opened as a ledger of its own holds the same.
        QTemporaryDir dir;
        QVERIFY(QFile::copy(copy, dir.path() + "/Stolva.mdb"));
        Store local;
        VERIFY_OK(local.open(dir.path()));
        QCOMPARE(ledger::census(local), before);
    }
    VERIFY_OK(allDelete(s));
    QCOMPARE(t.count(Db::Main, "商品マスタ"), 0);
    VERIFY_OK(backup::restore(s, copy, QDateTime(QDate(2026, 12, 9), {})));
    QCOMPARE(ledger::census(s), before);
    // A product added after the restore takes a key of its own.
    t.addProduct("NEW", "新しい商品");
    QCOMPARE(t.count(Db::Main, "商品マスタ"), products + 1);
}

// A copy in WAL mode, its newest rows still in the WAL beside it: the restore
// takes the copy as the list and the check read it, on both engines.
void TestSharing::restoreTakesTheCopyWithItsWal() {
    TempStore t;
    t.addProduct("A1", "りんご");
    VALUE_OK(copy,
             backup::makeCopy(t.store(), backup::Kind::Manual, QDateTime(QDate(2026, 12, 8), {})));
    {
        QSqlDatabase held = QSqlDatabase::addDatabase("QSQLITE", "wal-copy");
        held.setDatabaseName(copy);
        QVERIFY(held.open());
        for (const char* sql : {"PRAGMA journal_mode = WAL", "PRAGMA wal_autocheckpoint = 0",
                                "INSERT INTO 商品マスタ (品名) VALUES ('WAL にだけある')"})
            QVERIFY2(QSqlQuery(held).exec(sql), sql);
        QVERIFY(QFileInfo(copy + "-wal").size() > 0);
        VERIFY_OK(backup::restore(t.store(), copy, QDateTime(QDate(2026, 12, 9), {})));
        held.close();
    }
    QSqlDatabase::removeDatabase("wal-copy");
    QCOMPARE(t.count(Db::Main, "商品マスタ"), 2);
}

// A server that does not answer is named and nothing local is written; a
// connection lost mid-session fails the action whole, says so, and the next
// action connects again and succeeds.
void TestSharing::serverUnreachableOrLost() {
    QTemporaryDir dir;
    {
        Store s;
        s.setServer(server::parse("postgresql://tanaka@127.0.0.1:1/shop").value);
        const Status opened = s.open(dir.path());
        QVERIFY(!opened);
        QVERIFY2(opened.error.contains("サーバー tanaka@127.0.0.1:1/shop に接続できません"),
                 qPrintable(opened.error));
        QVERIFY(!QFileInfo::exists(dir.path() + "/Stolva.mdb"));
    }
    SKIP_ON_SERVER_ONLY();
    TempStore t;
    Store& s = t.store();
    t.addProduct("A1", "りんご", "個", 100);
    VERIFY_OK(products::read商品情報(s, QString()));
    edit(s, "りんご", "単価", 120);
    // Every connection to the ledger's database ends, as when the network drops.
    OtherPc admin(t);
    admin.store.query(Db::Main, "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE "
                                "datname = current_database() AND pid <> pg_backend_pid()");
    // The first action after it connects again before it begins: 登録 writes
    // what was typed at once.
    VALUE_OK(again, products::entry商品情報(s));
    QCOMPARE(again.updated, 1);
    QCOMPARE(price(s, "りんご"), QString("120"));
}

// A database holding other tables, or a newer Stolva's data, is refused and
// left as it was.
void TestSharing::serverRefusesWhatIsNotItsOwn() {
    SKIP_ON_SERVER_ONLY();
    const QString other = QString("stolva_other_%1").arg(QCoreApplication::applicationPid());
    onTestServer("DROP DATABASE IF EXISTS " + other);
    onTestServer("CREATE DATABASE " + other);
    QTemporaryDir dir;
    {
        Store s;
        s.setServer(testDatabase(other));
        QVERIFY(s.open(dir.path()));
        s.exec(Db::Main, "DROP TABLE stolva_schema");
        s.exec(Db::Main, "CREATE TABLE 顧客 (名前 text)");
    }
    {
        Store s;
        s.setServer(testDatabase(other));
        const Status opened = s.open(dir.path());
        QCOMPARE(opened.kind, ErrorKind::Foreign);
        QVERIFY2(opened.error.contains("Stolva のものでない表"), qPrintable(opened.error));
    }
    onTestServer("DROP DATABASE " + other + " WITH (FORCE)");
    TempStore t;
    t.store().exec(Db::Main, "UPDATE stolva_schema SET version = version + 1");
    Store s;
    s.setServer(t.serverAddress());
    const Status opened = s.open(t.path());
    QCOMPARE(opened.kind, ErrorKind::Newer);
    QCOMPARE(t.store().scalar(Db::Main, "SELECT version FROM stolva_schema").toInt(),
             s.schemaVersion() + 1);
}

namespace {
// A server schema as the server describes it: columns with their types,
// collations and defaults, constraints, indexes, triggers and functions.
QStringList serverSignature(Store& s) {
    QStringList out;
    for (const Row& r : s.query(
             Db::Main,
             "SELECT table_name || '.' || column_name || ' ' || data_type || ' ' || "
             "coalesce(collation_name, '') || ' ' || is_nullable || ' ' || "
             "coalesce(column_default, '') || ' ' || is_identity FROM information_schema.columns "
             "WHERE table_schema = current_schema() UNION ALL "
             "SELECT conrelid::regclass || ' ' || pg_get_constraintdef(oid) FROM pg_constraint "
             "WHERE connamespace = current_schema()::regnamespace UNION ALL "
             "SELECT indexdef FROM pg_indexes WHERE schemaname = current_schema() UNION ALL "
             "SELECT pg_get_triggerdef(oid) FROM pg_trigger WHERE NOT tgisinternal UNION ALL "
             "SELECT pg_get_functiondef(p.oid) FROM pg_proc p WHERE pronamespace = "
             "current_schema()::regnamespace ORDER BY 1"))
        out << r.value(0).toString();
    return out;
}
} // namespace

void TestSharing::serverSchemaGrows_data() {
    // A later version's steps after this one's: ok, bad, local.
    QTest::addColumn<QString>("steps");
    QTest::addColumn<int>("taken"); // how many of them the server has afterwards
    // What the refusal says (%1: this version, %2: the next); empty: it opens.
    QTest::addColumn<QString>("said");
    QTest::newRow("version 4 opens as this version makes it") << "" << 0 << "";
    QTest::newRow("two steps") << "ok ok" << 2 << "";
    QTest::newRow("a step that fails leaves this version")
        << "bad" << 0 << "版 %1 から版 %2 に更新できませんでした";
    QTest::newRow("the first of two steps stays") << "ok bad" << 1 << "版 %2 から版 %3";
    QTest::newRow("a step with no server part") << "local" << 0 << "サーバーでの手順がありません";
}

// A server database made by version 4 is brought up by a later version's
// steps, each in a transaction of its own; what a step did before it failed
// is undone; the data stays; an older Stolva is then refused, naming both
// versions, and changes nothing.
void TestSharing::serverSchemaGrows() {
    QFETCH(QString, steps);
    QFETCH(int, taken);
    QFETCH(QString, said);
    SKIP_ON_SERVER_ONLY();
    const int current = Store::BaseSchemaVersion + int(Store::upgrades().size());
    const int version = current + taken;
    for (int i = 1; i <= 3; ++i)
        said.replace(QString("%%1").arg(i), QString::number(current + i - 1));
    const QString name = QString("stolva_v4_%1").arg(QCoreApplication::applicationPid());
    onTestServer("DROP DATABASE IF EXISTS " + name + " WITH (FORCE)");
    onTestServer("CREATE DATABASE " + name);
    {
        VERIFY_OK(server::connect("v4", testDatabase(name), 10000));
        QSqlDatabase db = QSqlDatabase::database("v4");
        const QStringList made = serverSchemaVersion4()
                                 << "INSERT INTO 商品マスタ (code, 品名, 単価) VALUES ('A01', "
                                    "'りんご', 100)";
        for (const QString& sql : made) {
            QSqlQuery q(db);
            QVERIFY2(q.exec(sql), qPrintable(q.lastError().text()));
        }
        db.close();
    }
    QSqlDatabase::removeDatabase("v4");
    QVector<Store::Upgrade> later = Store::upgrades();
    const QStringList kinds = steps.split(' ', Qt::SkipEmptyParts);
    for (int i = 0; i < kinds.size(); ++i) {
        const QString column = QString("列%1").arg(i + 1), kind = kinds[i];
        Store::Upgrade step{column, [](Store&) {}};
        if (kind != "local")
            step.applyServer = [column, kind](Store& s) {
                s.exec(Db::Main, "ALTER TABLE 商品マスタ ADD COLUMN " + column + " text");
                s.exec(Db::Main, "UPDATE 商品マスタ SET " + column + " = 'x'");
                if (kind == "bad")
                    s.exec(Db::Main, "SELECT 列がない FROM 商品マスタ");
            };
        later << step;
    }
    QTemporaryDir dir;
    Store s;
    s.setUpgrades(later);
    s.setServer(testDatabase(name));
    const Status opened = s.open(dir.path());
    QCOMPARE(opened.error.isEmpty(), said.isEmpty());
    QVERIFY2(opened.error.contains(said), qPrintable(opened.error));
    Store look;
    look.setServer(testDatabase(name));
    if (taken > 0)
        look.setUpgrades(later.mid(0, version - Store::BaseSchemaVersion));
    VERIFY_OK(look.open(dir.path()));
    QCOMPARE(look.scalar(Db::Main, "SELECT version FROM stolva_schema").toInt(), version);
    QCOMPARE(look.scalar(Db::Main, "SELECT 品名 || 単価 FROM 商品マスタ").toString(),
             QString("りんご100"));
    QCOMPARE(look.scalar(Db::Main, "SELECT count(*) FROM information_schema.columns WHERE "
                                   "table_name = '商品マスタ' AND column_name LIKE '列%'")
                 .toInt(),
             taken);
    if (steps.isEmpty()) { // the kept statements make what this version makes
        TempStore fresh;
        const QStringList kept = serverSignature(look);
        QVERIFY(kept.size() > 40);
        QCOMPARE(kept, serverSignature(fresh.store()));
    }
    look.close();
    s.close();
    if (taken > 0) {
        Store older;
        older.setServer(testDatabase(name));
        const Status refused = older.open(dir.path());
        QCOMPARE(refused.kind, ErrorKind::Newer);
        QVERIFY2(refused.error.contains(
                     QString("データの版 %1、この Stolva は版 %2 まで").arg(version).arg(current)),
                 qPrintable(refused.error));
    }
    onTestServer("DROP DATABASE " + name + " WITH (FORCE)");
}

// A local ledger moved onto a server: values the server would refuse are
// listed and nothing is copied; a good ledger arrives whole (counts and sums
// compared) and keeps working; a server that holds data is not copied over.
void TestSharing::ledgerCopiedToAServer() {
    SKIP_ON_SERVER_ONLY();
    const QString name = QString("stolva_copy_%1").arg(QCoreApplication::applicationPid());
    onTestServer("DROP DATABASE IF EXISTS " + name);
    onTestServer("CREATE DATABASE " + name);
    QTemporaryDir dir;
    Store local;
    QVERIFY(local.open(dir.path()));
    int n = 0;
    for (const auto& [label, text] : hostileTexts()) {
        (void)label;
        local.exec(Db::Main,
                   "INSERT INTO 商品マスタ (code, 品名, 単価, 適正数) VALUES (?, ?, ?, ?)",
                   {QString("00%1").arg(n), text, n * 10.25, n});
        ++n;
    }
    local.exec(Db::Main,
               "UPDATE コードマスタ SET sname = '個' WHERE kcode = '単位' AND code = '01'");
    local.exec(Db::Main, "INSERT INTO 在庫表 (日付, 行番号, 品名, 数量, 金額) VALUES "
                         "('2026-12-08', 1, 'りんご', 3, 301.5), ('12/08/2026', 1, 'x', 1, 1)");
    local.exec(Db::Main, "INSERT INTO 商品マスタ (品名, 単価) VALUES ('だめ', '百円')");
    const Result<QStringList> refused = ledger::copyToServer(local, testDatabase(name));
    QVERIFY(!refused);
    QVERIFY2(refused.error().contains("単価「百円」は数値として") &&
                 refused.error().contains("日付「12/08/2026」は日付として"),
             qPrintable(refused.error()));
    local.exec(Db::Main, "DELETE FROM 商品マスタ WHERE 品名 = 'だめ'");
    local.exec(Db::Main, "UPDATE 在庫表 SET 日付 = '2026-12-07' WHERE 日付 = '12/08/2026'");
    VALUE_OK(copied, ledger::copyToServer(local, testDatabase(name)));
    QCOMPARE(copied, ledger::census(local));
    {
        Store remote;
        remote.setServer(testDatabase(name));
        QTemporaryDir work;
        remote.setWorkFolder(work.path());
        QVERIFY(remote.open(dir.path()));
        QCOMPARE(ledger::census(remote), copied);
        // The server's keys go on after the copied ones.
        remote.exec(Db::Main, "INSERT INTO 商品マスタ (品名) VALUES ('新しい商品')");
    }
    const Result<QStringList> again = ledger::copyToServer(local, testDatabase(name));
    QCOMPARE(again.status.kind, ErrorKind::Conflict);
    onTestServer("DROP DATABASE " + name + " WITH (FORCE)");
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList child = qEnvironmentVariable("STOLVA_SLOT_CHILD").split('|');
    if (child.size() == 4)
        return slotChild(child[0], child[1], child[2].toInt(), child[3]);
    const QStringList scanner = qEnvironmentVariable("STOLVA_SCAN_CHILD").split('|');
    if (scanner.size() == 5)
        return scanChild(scanner[0], scanner[1], scanner[2], scanner[3], scanner[4].toInt());
    const QStringList saver = qEnvironmentVariable("STOLVA_SHEET_CHILD").split('|');
    if (saver.size() >= 5)
        return sheetChild(saver[0], saver[1], saver[2].toInt(), saver[3], saver[4],
                          saver.value(5) == "replace");
    TestSharing tc;
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_sharing.moc"
