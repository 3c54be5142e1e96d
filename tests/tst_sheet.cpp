#include "sheet/CountLedger.h"
#include "sheet/CountProgress.h"
#include "sheet/Scan.h"
#include "sheet/SheetOps.h"
#include "tests/fixtures.h"
#include "work/WorkResets.h"

using namespace sheet;

namespace {
const QDate D(2024, 1, 5);

// Writes named work lines: each entry "name|qty|category|code" (empty parts null).
void workLines(TempStore& t, const QStringList& lines, int blankTo = 500) {
    VERIFY_OK(resets::clear在庫明細(t.store(), 0));
    Transaction tx(t.store(), Db::Work);
    for (const QString& l : lines) {
        const QStringList p = l.split('|');
        auto part = [&](int i) {
            return i < p.size() && !p[i].isEmpty() ? QVariant(p[i])
                                                   : QVariant(QMetaType::fromType<QString>());
        };
        t.store().exec(
            Db::Work,
            "INSERT INTO w在庫表 (チェック, 品名, 数量, 商品区分, code, 単位, 単価, 金額) "
            "VALUES (0, ?, ?, ?, ?, ?, ?, ?)",
            {part(0), part(1), part(2), part(3), part(4), part(5), part(6)});
    }
    for (int i = int(lines.size()); i < blankTo; ++i)
        t.store().exec(Db::Work, "INSERT INTO w在庫表 (チェック) VALUES (0)");
    tx.commit();
}

QStringList stored(TempStore& t, const QDate& d, const QString& where = "1 = 1") {
    QStringList out;
    for (const Row& r : t.store().query(
             Db::Main,
             "SELECT 行番号, 品名, coalesce(商品区分, '-') FROM 在庫表 WHERE 日付 = ? AND " +
                 where + " ORDER BY 商品区分 NULLS FIRST, 行番号",
             {dateKey(d)}))
        out << QString("%1:%2:%3").arg(r[0].toString(), r[1].toString(), r[2].toString());
    return out;
}

QStringList workNames(TempStore& t) {
    QStringList out;
    for (const Row& r : t.store().query(Db::Work, "SELECT 品名 FROM w在庫表 ORDER BY seq"))
        out << (r[0].isNull() ? QString() : r[0].toString());
    return out;
}
} // namespace

class TestSheet : public QObject {
    Q_OBJECT
  private slots:
    void ledgerTakesValues();
    void rounding_data();
    void rounding();
    void amountAndChange_data();
    void amountAndChange();
    void nameEditFillsTheLine_data();
    void nameEditFillsTheLine();
    void numberEditsRecompute();
    void newUnitIsRegisteredOnce();
    void totalSumsAmounts();
    void progressSteps_data();
    void progressSteps();
    void loadOrderAndCategory();
    void loadMoreThan500KeepsEveryRow();
    void loadWithApostropheCategory();
    void saveNumbersNamedLinesAndReloads();
    void saveWithCategoryKeepsOtherCategories();
    void saveWithoutCategoryReplacesTheDate();
    void saveUpdatesProductsAndSlots();
    void everyChangeIsAnEntry_data();
    void everyChangeIsAnEntry();
    void countProgress_data();
    void countProgress();
    void saveFailureChangesNothing();
    void deleteTheDateInEveryCategory();
    void scanEntries_data();
    void scanEntries();
    void lineDelete_data();
    void lineDelete();
    void scanSession_data();
    void scanSession();
    void saveOverSavedSheets_data();
    void saveOverSavedSheets();
    void closedDateRefusesChanges();
    void masterEffectOfASave();
    void fillFromMaster();
    void printTableHoldsNamedLinesInOrder();
};

void TestSheet::rounding_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("mode");
    QTest::addColumn<qlonglong>("result");
    QTest::addColumn<double>("adjusted");
    QTest::newRow("half up 2.5") << 2.5 << "四捨五入" << 3LL << 3.0;
    QTest::newRow("half away -2.5") << -2.5 << "四捨五入" << -3LL << -3.0;
    QTest::newRow("2.4") << 2.4 << "四捨五入" << 2LL << 2.9;
    QTest::newRow("-0.4") << -0.4 << "四捨五入" << 0LL << -0.9;
    QTest::newRow("truncate 2.999") << 2.999 << "切り捨て" << 2LL << 2.99900001;
    QTest::newRow("truncate 0.99999999 nudged") << 0.99999999 << "切り捨て" << 1LL << 1.00000000;
    QTest::newRow("truncate -2.7") << -2.7 << "切り捨て" << -2LL << -2.7;
    QTest::newRow("up 5.000001 drops tiny") << 5.000001 << "切り上げ" << 5LL << 5.999991;
    QTest::newRow("up 5.1") << 5.1 << "切り上げ" << 6LL << 6.09999;
    QTest::newRow("up -5.1") << -5.1 << "" << -6LL << -6.09999;
    QTest::newRow("beyond bound") << 10000000000.0 << "四捨五入" << 0LL << 10000000000.0;
    QTest::newRow("below bound") << -9999999999.995 << "四捨五入" << 0LL << -9999999999.995;
    QTest::newRow("at bound") << 9999999999.99 << "四捨五入" << 10000000000LL << 10000000000.49;
}

void TestSheet::rounding() {
    QFETCH(double, value);
    QFETCH(QString, mode);
    QFETCH(qlonglong, result);
    QFETCH(double, adjusted);
    double v = value;
    QCOMPARE(qlonglong(Round端数(v, mode)), result);
    QVERIFY2(qAbs(v - adjusted) < 1e-6, qPrintable(QString::number(v, 'f', 8)));
}

void TestSheet::amountAndChange_data() {
    QTest::addColumn<QVariant>("qty");
    QTest::addColumn<QVariant>("price");
    QTest::addColumn<QVariant>("proper");
    QTest::addColumn<QString>("amount"); // "" = null
    QTest::addColumn<QString>("change");
    const QVariant null(QMetaType::fromType<QString>());
    QTest::newRow("3 x 1,250") << QVariant(3) << QVariant(1250) << QVariant(3) << "3750"
                               << "0";
    QTest::newRow("5 x 0.5 rounds up") << QVariant(5) << QVariant(0.5) << QVariant(0) << "3"
                                       << "5";
    QTest::newRow("-1 x 2.5") << QVariant(-1) << QVariant(2.5) << QVariant(0) << "-3"
                              << "-1";
    QTest::newRow("3 x 0.5") << QVariant(3) << QVariant(0.5) << QVariant(0) << "2"
                             << "3";
    QTest::newRow("12 against 15") << QVariant(12) << QVariant(100) << QVariant(15) << "1200"
                                   << "-3";
    QTest::newRow("no quantity") << null << QVariant(100) << QVariant(15) << ""
                                 << "";
    QTest::newRow("letters") << QVariant("abc") << QVariant(100) << QVariant(15) << ""
                             << "";
    QTest::newRow("zero counts") << QVariant(0) << QVariant(100) << QVariant(4) << "0"
                                 << "-4";
    QTest::newRow("no price") << QVariant(2) << null << QVariant(1) << ""
                              << "1";
    QTest::newRow("full-width digits") << QVariant("１２") << QVariant(10) << QVariant(2) << "120"
                                       << "10";
    QTest::newRow("0.1 x 3 no drift") << QVariant(3) << QVariant(0.1) << QVariant(0) << "0"
                                      << "3";
    // Only exact fixed point gives 15: in binary 0.145 × 100 is 14.4999….
    QTest::newRow("0.145 x 100 exact") << QVariant(100) << QVariant(0.145) << QVariant(0) << "15"
                                       << "100";
    QTest::newRow("1.15 x 10") << QVariant(10) << QVariant(1.15) << QVariant(0) << "12"
                               << "10";
    QTest::newRow("beyond bound gives 0")
        << QVariant(100000000) << QVariant(1000) << QVariant(0) << "0"
        << "100000000";
}

void TestSheet::amountAndChange() {
    QFETCH(QVariant, qty);
    QFETCH(QVariant, price);
    QFETCH(QVariant, proper);
    QFETCH(QString, amount);
    QFETCH(QString, change);
    const QVariant a = lineAmount(qty, price);
    const QVariant c = lineChange(qty, proper);
    QCOMPARE(a.isNull() ? QString() : a.toString(), amount);
    QCOMPARE(c.isNull() ? QString() : c.toString(), change);
}

void TestSheet::nameEditFillsTheLine_data() {
    QTest::addColumn<QString>("name");
    // unit|price|proper|category|code, "<null>" for null: the code is the one
    // product's of the name, none when the name is ambiguous or unknown.
    QTest::addColumn<QString>("expect");
    QTest::newRow("known") << "りんご"
                           << "個|120|10|青果|A01";
    QTest::newRow("first of two with the name") << "重複"
                                                << "箱|<null>|0|<null>|<null>";
    QTest::newRow("unknown") << "ないもの"
                             << "<null>|<null>|0|<null>|<null>";
    QTest::newRow("price 0 leaves it empty") << "ただ"
                                             << "枚|<null>|3|文具|Z";
    QTest::newRow("null proper gives 0") << "みかん"
                                         << "<null>|80|0|青果|M";
    QTest::newRow("apostrophe") << "Rock'n'Roll"
                                << "本|500|1|<null>|R";
}

void TestSheet::nameEditFillsTheLine() {
    QFETCH(QString, name);
    QFETCH(QString, expect);
    TempStore t;
    t.addProduct("A01", "りんご", "個", 120, 10, "青果");
    t.addProduct("X1", "重複", "箱", 0, QVariant(), QVariant());
    t.addProduct("X2", "重複", "袋", 99, 9, "別");
    t.addProduct("Z", "ただ", "枚", 0, 3, "文具");
    t.addProduct("M", "みかん", QVariant(), 80, QVariant(), "青果");
    t.addProduct("R", "Rock'n'Roll", "本", 500, 1, QVariant());
    workLines(t, {name + "|5"}, 1);
    const qint64 seq = t.store().scalar(Db::Work, "SELECT seq FROM w在庫表").toLongLong();
    VALUE_OK(outcome, afterCellEdit(t.store(), seq, ColName));
    const QStringList got = t.dump(Db::Work, "w在庫表").first().split('|');
    // seq|チェック|code|品名|数量|単位|適正数|増減|単価|金額|商品区分
    QCOMPARE(QStringList({got[5], got[8], got[6], got[10], got[2]}).join('|'), expect);
    QCOMPARE(outcome.ambiguous, name == "重複");
    QCOMPARE(got[9], QString("<null>")); // the amount is not written by a look-up
    QCOMPARE(t.count(Db::Main, "商品マスタ"), 6);
}

void TestSheet::numberEditsRecompute() {
    TempStore t;
    workLines(t, {"X|3"}, 1);
    Store& s = t.store();
    const qint64 seq = s.scalar(Db::Work, "SELECT seq FROM w在庫表").toLongLong();
    s.exec(Db::Work, "UPDATE w在庫表 SET 単価 = 1250, 適正数 = 5 WHERE seq = ?", {seq});
    VERIFY_OK(afterCellEdit(s, seq, ColPrice));
    QCOMPARE(s.scalar(Db::Work, "SELECT 金額 FROM w在庫表").toLongLong(), 3750LL);
    VERIFY_OK(afterCellEdit(s, seq, ColProper));
    QCOMPARE(s.scalar(Db::Work, "SELECT 増減 FROM w在庫表").toLongLong(), -2LL);
    s.exec(Db::Work, "UPDATE w在庫表 SET 数量 = NULL");
    VERIFY_OK(afterCellEdit(s, seq, ColQty));
    QVERIFY(s.scalar(Db::Work, "SELECT 金額 FROM w在庫表").isNull());
    QVERIFY(s.scalar(Db::Work, "SELECT 増減 FROM w在庫表").isNull());
    VALUE_OK(total, calc明細(s));
    QCOMPARE(total.units(), 0LL);
}

void TestSheet::newUnitIsRegisteredOnce() {
    TempStore t;
    workLines(t, {"X|1"}, 1);
    Store& s = t.store();
    const qint64 seq = s.scalar(Db::Work, "SELECT seq FROM w在庫表").toLongLong();
    s.exec(Db::Work, "UPDATE w在庫表 SET 単位 = 'ダース'");
    VALUE_OK(first, afterCellEdit(s, seq, ColUnit));
    QVERIFY(first.unitsChanged);
    QCOMPARE(t.count(Db::Work, "w単位参照", "sname = 'ダース'"), 1);
    VALUE_OK(second, afterCellEdit(s, seq, ColUnit));
    QVERIFY(!second.unitsChanged);
    QCOMPARE(t.count(Db::Main, "コードマスタ", "sname = 'ダース'"), 1);
}

void TestSheet::totalSumsAmounts() {
    TempStore t;
    workLines(t, {"A|1||||10|1000", "B|1||||1|2500.5", "C|1"});
    VALUE_OK(total, calc明細(t.store()));
    QCOMPARE(total.toString(), QString("3500.5"));
}

void TestSheet::progressSteps_data() {
    QTest::addColumn<int>("total");
    QTest::addColumn<QList<int>>("stepsAt");
    QTest::newRow("27 rows every 3") << 27 << QList<int>({0, 3, 6, 9, 12, 15, 18, 21, 24});
    QTest::newRow("4 rows every row") << 4 << QList<int>({0, 1, 2, 3});
    QTest::newRow("13 rows every row") << 13 << QList<int>({0, 1, 2, 3, 4, 5, 6, 7, 8, 9});
    QTest::newRow("14 rows every 2") << 14 << QList<int>({0, 2, 4, 6, 8, 10, 12});
}

void TestSheet::progressSteps() {
    QFETCH(int, total);
    QFETCH(QList<int>, stepsAt);
    Progress p;
    p.total = total;
    QList<int> at;
    for (int row = 0; row < total; ++row) {
        const int before = p.value;
        p.step(row);
        if (p.value != before)
            at << row;
        QVERIFY(p.value <= 100);
    }
    QCOMPARE(at, stepsAt);
    Progress zero;
    zero.total = 0;
    zero.step(0);
    QCOMPARE(zero.value, 0);
}

void TestSheet::loadOrderAndCategory() {
    TempStore t;
    workLines(t, {"a1|1|A", "a2|2|A"});
    VERIFY_OK(entry在庫表(t.store(), D, "A"));
    workLines(t, {"b1|1|B", "b2|2|B"});
    VERIFY_OK(entry在庫表(t.store(), D, "B"));
    VALUE_OK(loaded, read在庫表(t.store(), D, "B"));
    QCOMPARE(loaded, 2);
    QStringList names = workNames(t);
    QCOMPARE(names.size(), 500);
    QCOMPARE(names.mid(0, 3), QStringList({"b1", "b2", ""}));
    VERIFY_OK(read在庫表(t.store(), D, QString()));
    names = workNames(t);
    // Each category is numbered from 1: lines interleave 1, 1, 2, 2.
    QCOMPARE(QSet<QString>({names[0], names[1]}), QSet<QString>({"a1", "b1"}));
    QCOMPARE(QSet<QString>({names[2], names[3]}), QSet<QString>({"a2", "b2"}));
    QCOMPARE(
        t.store().scalar(Db::Work, "SELECT 商品区分 FROM w在庫表 WHERE 品名 = 'b2'").toString(),
        QString("B"));
    VALUE_OK(none, read在庫表(t.store(), QDate(2030, 1, 1), QString()));
    QCOMPARE(none, 0);
    QCOMPARE(t.count(Db::Work, "w在庫表", "品名 IS NULL"), 500);
}

void TestSheet::loadMoreThan500KeepsEveryRow() {
    TempStore t;
    QStringList many;
    for (int i = 0; i < 620; ++i)
        many << QString("p%1|1").arg(i);
    workLines(t, many, 0);
    VERIFY_OK(entry在庫表(t.store(), D, QString()));
    QList<int> bar;
    VALUE_OK(loaded, read在庫表(t.store(), D, QString(), [&](int v) { bar << v; }));
    QCOMPARE(loaded, 620);
    QCOMPARE(t.count(Db::Work, "w在庫表"), 620);
    // Nine steps of 10 while rows pass; the window sets 100 when the load ends.
    QCOMPARE(bar.last(), 90);
    // Saving the loaded sheet again keeps all 620 rows.
    VERIFY_OK(entry在庫表(t.store(), D, QString()));
    QCOMPARE(t.count(Db::Main, "在庫表"), 620);
}

void TestSheet::loadWithApostropheCategory() {
    TempStore t;
    workLines(t, {"x|1|Men's", "y|1|Women's"});
    VERIFY_OK(entry在庫表(t.store(), D, QString()));
    VALUE_OK(loaded, read在庫表(t.store(), D, "Men's"));
    QCOMPARE(loaded, 1);
    QCOMPARE(workNames(t).first(), QString("x"));
}

void TestSheet::saveNumbersNamedLinesAndReloads() {
    TempStore t;
    workLines(t, {"one|1", "two|2", "", "", "five|5"});
    QList<int> bar;
    VALUE_OK(saved, entry在庫表(t.store(), D, QString(), [&](int v) { bar << v; }));
    QCOMPARE(saved, 3);
    QCOMPARE(bar, QList<int>({10, 20, 30}));
    QCOMPARE(stored(t, D), QStringList({"1:one:-", "2:two:-", "3:five:-"}));
    VERIFY_OK(read在庫表(t.store(), D, QString()));
    QCOMPARE(workNames(t).mid(0, 4), QStringList({"one", "two", "five", ""}));
}

void TestSheet::saveWithCategoryKeepsOtherCategories() {
    TempStore t;
    workLines(t, {"b|1|B"});
    VERIFY_OK(entry在庫表(t.store(), D, "B"));
    workLines(t, {"a1|1|X", "a2|1"});
    VERIFY_OK(entry在庫表(t.store(), D, "A"));
    workLines(t, {"a3|1|A"});
    VERIFY_OK(entry在庫表(t.store(), D, "A"));
    // Every stored line says A; the master keeps each line's own category.
    QCOMPARE(stored(t, D), QStringList({"1:a3:A", "1:b:B"}));
    QCOMPARE(
        t.store().scalar(Db::Main, "SELECT 商品区分 FROM 商品マスタ WHERE 品名 = 'a1'").toString(),
        QString("X"));
    QVERIFY(
        t.store().scalar(Db::Main, "SELECT 商品区分 FROM 商品マスタ WHERE 品名 = 'a2'").isNull());
}

void TestSheet::saveWithoutCategoryReplacesTheDate() {
    TempStore t;
    workLines(t, {"a|1|A", "b|1|B"});
    VERIFY_OK(entry在庫表(t.store(), D, QString()));
    workLines(t, {"c|1|C", "d|1"});
    VERIFY_OK(entry在庫表(t.store(), D, QString()));
    QCOMPARE(stored(t, D), QStringList({"2:d:-", "1:c:C"}));
    workLines(t, {"e|1"});
    VERIFY_OK(entry在庫表(t.store(), D.addDays(1), QString()));
    QCOMPARE(stored(t, D).size(), 2);
}

void TestSheet::everyChangeIsAnEntry_data() {
    // Steps: "save:name|qty,…" (a sheet of category A), "add:…" (追加する),
    // "line:name" (its saved line deleted), "date" (the date's sheets deleted).
    QTest::addColumn<QString>("steps");
    // "scan:code|n" (straight into the saved count), "undo:N" (the Nth entry
    // taken back), "zero" (the uncounted recorded as 0), "close", "hold" (the
    // versions read now) and "held:…" (a save from them); "!" after a verb: refused.
    QTest::addColumn<QString>("entries"); // 種類:品名:前→後, oldest first
    QTest::addColumn<QString>("stored");  // 品名=数量 of the saved lines
    const auto row = [](const char* name, const char* steps, const char* entries,
                        const char* stored) { QTest::newRow(name) << steps << entries << stored; };
    row("a first save: each counted line", "save:a|2,b|1", "入力:a:→2 入力:b:→1", "a=2 b=1");
    row("a save again: only what changed", "save:a|2,b|1; save:a|3,b|1,c|4",
        "入力:a:→2 入力:b:→1 入力:a:2→3 入力:c:→4", "a=3 b=1 c=4");
    row("a line left out is counted gone", "save:a|2,b|1; save:a|2",
        "入力:a:→2 入力:b:→1 入力:b:1→", "a=2");
    row("one product on two lines: their sum", "save:a|2,a|3", "入力:a:→5", "a=5");
    row("counts added", "save:a|2; add:a|1,b|1", "入力:a:→2 追加:a:2→3 追加:b:→1", "a=3 b=1");
    row("a saved line deleted", "save:a|2,b|1; line:b", "入力:a:→2 入力:b:→1 行削除:b:1→", "a=2");
    row("a date deleted", "save:a|2; date", "入力:a:→2 行削除:a:2→", "");
    row("counts an import set", "import:a|2,b|1", "取込:a:→2 入力:b:→1", "a=2 b=1");
    row("a scan adds to the saved line", "save:a|2; scan:K1|3", "入力:a:→2 スキャン:a:2→5", "a=5");
    row("a scan adds the product's line", "scan:K1|1; scan:K1|1", "スキャン:a:→1 スキャン:a:1→2",
        "a=2");
    row("a scan below zero changes nothing", "scan:K1|1; scan:K1|-2", "スキャン:a:→1", "a=1");
    row("a code no product has changes nothing", "scan:X9|1", "", "");
    row("a save read before a scan is refused", "save:a|2; hold; scan:K1|1; held!:a|9",
        "入力:a:→2 スキャン:a:2→3", "a=3");
    row("an undo takes a scan back", "save:a|2; scan:K1|3; undo:2",
        "入力:a:→2 スキャン:a:2→5 取消:a:5→2", "a=2");
    row("an undo of the entry that made the line", "scan:K1|1; undo:1", "スキャン:a:→1 取消:a:1→",
        "");
    row("an undo brings a deleted line back", "save:a|2; line:a; undo:2",
        "入力:a:→2 行削除:a:2→ 取消:a:→2", "a=2");
    row("an entry is taken back once, an undo never", "scan:K1|1; undo:1; undo!:1; undo!:2",
        "スキャン:a:→1 取消:a:1→", "");
    row("an undo below zero is refused", "save:a|5; save:a|1; undo!:1", "入力:a:→5 入力:a:5→1",
        "a=1");
    row("a closed date refuses scans and undos", "scan:K1|1; close; scan!:K1|1; undo!:1",
        "スキャン:a:→1", "a=1");
    row("the uncounted recorded as 0", "save:a|2; zero", "入力:a:→2 未棚卸0:z:→0", "a=2 z=0");
}

// Every change to a saved quantity is an entry, with who made it and on
// which PC, written with the change itself.
void TestSheet::everyChangeIsAnEntry() {
    QFETCH(QString, steps);
    QFETCH(QString, entries);
    QFETCH(QString, stored);
    TempStore t;
    t.addProduct("K1", "a", "個", 10, 1, "A");
    t.store().exec(Db::Main, "UPDATE 商品マスタ SET 棚番 = 'S-1'");
    t.addProduct("K9", "z", "個", 5, 1, "A");
    t.addProduct("K8", "y", "個", 5, 1, "B"); // another category: never counted as 0 here
    LoadedFrom held;
    for (const QString& step : steps.split("; ")) {
        QString verb = step.section(':', 0, 0);
        const bool refused = verb.endsWith('!');
        if (refused)
            verb.chop(1);
        const QString what = step.section(':', 1);
        QStringList lines = step.section(':', 1).split(',', Qt::SkipEmptyParts);
        for (QString& l : lines)
            l += "|A";
        if (verb == "save" || verb == "add" || verb == "import") {
            LoadedFrom from;
            VERIFY_OK(read在庫表(t.store(), D, "A", {}, &from));
            workLines(t, lines);
            // An import set the first line's count.
            SaveMode mode{verb == "add", from.versions, {}, "山田", {}};
            if (verb == "import")
                mode.imported.insert(lines[0].section('|', 0, 0));
            VERIFY_OK(entry在庫表(t.store(), D, "A", {}, mode));
        } else if (verb == "line") {
            const qint64 id = t.store()
                                  .scalar(Db::Main, "SELECT id FROM 在庫表 WHERE 品名 = ?",
                                          {step.section(':', 1)})
                                  .toLongLong();
            VERIFY_OK(deleteSavedLine(t.store(), D, id, "山田"));
        } else if (verb == "scan") {
            const auto r = recordScan(t.store(), D, "A", what.section('|', 0, 0),
                                      what.section('|', 1).toLongLong(), "山田");
            QCOMPARE(bool(r), !refused);
        } else if (verb == "undo") {
            const QVariant id =
                t.store().scalar(Db::Main, "SELECT id FROM 棚卸記録 ORDER BY id LIMIT 1 OFFSET ?",
                                 {what.toInt() - 1});
            QCOMPARE(bool(undoEntry(t.store(), id.toLongLong(), "山田")), !refused);
        } else if (verb == "zero") {
            VERIFY_OK(recordUncountedZero(t.store(), D, "A", "山田"));
        } else if (verb == "close") {
            VERIFY_OK(close在庫表(t.store(), D));
        } else if (verb == "hold") {
            VERIFY_OK(read在庫表(t.store(), D, "A", {}, &held));
        } else if (verb == "held") {
            workLines(t, lines);
            const auto r =
                entry在庫表(t.store(), D, "A", {}, {false, held.versions, {}, "山田", {}});
            QCOMPARE(bool(r), !refused);
        } else {
            VERIFY_OK(delete在庫表(t.store(), D, "山田"));
        }
    }
    QStringList got;
    for (const Row& e : t.store().query(
             Db::Main,
             "SELECT 種類 || ':' || 品名 || ':' || coalesce(CAST(前数量 AS TEXT), '') || '→' || "
             "coalesce(CAST(後数量 AS TEXT), ''), 担当, 端末, 商品区分, 記録日時 FROM 棚卸記録 "
             "ORDER BY id")) {
        got << e[0].toString();
        QCOMPARE(e[1].toString(), QString("山田"));
        QVERIFY(!e[2].toString().isEmpty()); // the PC's host name
        QCOMPARE(e[3].toString(), QString("A"));
        QVERIFY(QDateTime::fromString(e[4].toString(), Qt::ISODate).isValid());
    }
    QCOMPARE(got.join(' '), entries);
    QStringList saved;
    for (const Row& r :
         t.store().query(Db::Main, "SELECT 品名, sum(数量) FROM 在庫表 GROUP BY 品名 "
                                   "ORDER BY 品名"))
        saved << r[0].toString() + "=" + r[1].toString();
    QCOMPARE(saved.join(' '), stored);
    // The product and its shelf as the master had them.
    QCOMPARE(t.store()
                 .scalar(Db::Main, "SELECT count(*) FROM 棚卸記録 WHERE 品名 = 'a' AND (商品 IS "
                                   "NULL OR 棚番 IS DISTINCT FROM 'S-1')")
                 .toInt(),
             0);
}

void TestSheet::countProgress_data() {
    // Steps: "scan:code" (straight into category A), "save:C:name,…" (a sheet of C).
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("category"); // shown: '' for all
    QTest::addColumn<QString>("shelves");  // 棚番:counted/products[:counters]
    QTest::addColumn<QString>("categories");
    QTest::addColumn<QString>("uncounted"); // names, in shelf order
    QTest::newRow("nothing counted yet") << ""
                                         << ""
                                         << "S1:0/2 S2:0/2 -:0/1"
                                         << "A:0/3 B:0/2"
                                         << "a b c e d";
    QTest::newRow("scans name their counter") << "scan:K1; scan:K3"
                                              << ""
                                              << "S1:1/2:山田 S2:1/2:山田 -:0/1"
                                              << "A:2/3:山田 B:0/2"
                                              << "b e d";
    QTest::newRow("saved lines count by name") << "save:A:a,b,c; save:B:e"
                                               << ""
                                               << "S1:2/2 S2:2/2 -:0/1"
                                               << "A:3/3 B:1/2"
                                               << "d";
    QTest::newRow("one category") << "scan:K1"
                                  << "B"
                                  << "S2:0/1 -:0/1"
                                  << "B:0/2"
                                  << "e d";
}

// How far a count has come, shelf by shelf and by category, and what is left
// to count in the order a counter walks the shop.
void TestSheet::countProgress() {
    QFETCH(QString, steps);
    QFETCH(QString, category);
    QFETCH(QString, shelves);
    QFETCH(QString, categories);
    QFETCH(QString, uncounted);
    TempStore t;
    for (const char* p : {"K1|a|S1|A", "K2|b|S1|A", "K3|c|S2|A", "K4|d||B", "|e|S2|B"}) {
        const QStringList f = QString(p).split('|');
        t.addProduct(f[0], f[1], "個", 10, 1, f[3]);
        t.store().exec(Db::Main, "UPDATE 商品マスタ SET 棚番 = ?, code = ? WHERE 品名 = ?",
                       {textOrNull(f[2]), textOrNull(f[0]), f[1]});
    }
    for (const QString& step : steps.split("; ", Qt::SkipEmptyParts)) {
        const QStringList f = step.split(':');
        if (f[0] == "scan") {
            VERIFY_OK(recordScan(t.store(), D, "A", f[1], 1, "山田"));
        } else {
            QStringList lines;
            for (const QString& name : f[2].split(','))
                lines << name + "|1|" + f[1];
            workLines(t, lines);
            VERIFY_OK(entry在庫表(t.store(), D, f[1]));
        }
    }
    const Result<CountProgress> p = progressOf(t.store(), D, category);
    VERIFY_OK(p);
    const auto shown = [](const QVector<ProgressRow>& rows) {
        QStringList out;
        for (const ProgressRow& r : rows)
            out << QString("%1:%2/%3%4")
                       .arg(r.group.isEmpty() ? "-" : r.group)
                       .arg(r.counted)
                       .arg(r.products)
                       .arg(r.counters.isEmpty() ? QString() : ":" + r.counters.join(','));
        return out.join(' ');
    };
    QCOMPARE(shown(p.value.shelves), shelves);
    QCOMPARE(shown(p.value.categories), categories);
    QStringList names;
    const Result<Rows> left = uncountedProducts(t.store(), D, category);
    VERIFY_OK(left);
    for (const Row& r : left.value)
        names << r[3].toString();
    QCOMPARE(names.join(' '), uncounted);
    QCOMPARE(p.value.total.uncounted(), int(left.value.size()));
}

void TestSheet::saveUpdatesProductsAndSlots() {
    TempStore t;
    t.addProduct("K1", "既存", "箱", 300, 5, "旧区分");
    // A known name keeps what is stored: nothing was typed into its line. A
    // new name becomes a product with its line's values.
    workLines(t, {"既存|2||||", "新規|1|新区分|N9|新単位|50"});
    VERIFY_OK(entry在庫表(t.store(), D, QString()));
    QCOMPARE(t.dump(Db::Main, "商品マスタ"),
             QStringList({"1|K1|既存|箱|300|5|旧区分|1|<null>|10",
                          "2|N9|新規|新単位|50|<null>|新区分|1|<null>|10"}));
    QCOMPARE(
        t.count(Db::Main, "コードマスタ", "kcode = '単位' AND sname = '新単位' AND code = '01'"),
        1);
    QCOMPARE(t.count(Db::Main, "コードマスタ", "kcode = '商品区分' AND sname = '新区分'"), 1);
    // Saving again enters nothing twice.
    workLines(t, {"新規|1|新区分|N9|新単位|50"});
    VERIFY_OK(entry在庫表(t.store(), D, QString()));
    QCOMPARE(t.count(Db::Main, "コードマスタ", "sname IS NOT NULL"), 2);
    QCOMPARE(t.count(Db::Main, "商品マスタ"), 2);
}

void TestSheet::saveFailureChangesNothing() {
    TempStore t;
    workLines(t, {"old|1|A"});
    VERIFY_OK(entry在庫表(t.store(), D, QString()));
    const QStringList sheetBefore = t.dump(Db::Main, "在庫表");
    const QStringList productsBefore = t.dump(Db::Main, "商品マスタ");
    const QStringList slotsBefore = t.dump(Db::Main, "コードマスタ");
    // The third line's product cannot be written: the whole save must go back.
    t.failWrites("INSERT", "商品マスタ", "NEW.品名 = 'BOOM'");
    workLines(t, {"n1|1|新A||新単位", "n2|2|新B", "BOOM|3"});
    const QStringList workBefore = t.dump(Db::Work, "w在庫表");
    const Status st = entry在庫表(t.store(), D, QString()).status;
    QVERIFY(!st.ok);
    QVERIFY(st.error.contains("injected"));
    QCOMPARE(t.dump(Db::Main, "在庫表"), sheetBefore);
    QCOMPARE(t.dump(Db::Main, "商品マスタ"), productsBefore);
    QCOMPARE(t.dump(Db::Main, "コードマスタ"), slotsBefore);
    QCOMPARE(t.dump(Db::Work, "w在庫表"), workBefore);
    t.stopFailing("商品マスタ");
    VERIFY_OK(entry在庫表(t.store(), D, QString()));
    QCOMPARE(stored(t, D).size(), 3);
}

void TestSheet::deleteTheDateInEveryCategory() {
    TempStore t;
    workLines(t, {"a|1|A", "b|1|B"});
    VERIFY_OK(entry在庫表(t.store(), D, QString()));
    VERIFY_OK(entry在庫表(t.store(), D.addDays(1), QString()));
    VERIFY_OK(delete在庫表(t.store(), D));
    QCOMPARE(stored(t, D).size(), 0);
    QCOMPARE(stored(t, D.addDays(1)).size(), 2);
    VERIFY_OK(delete在庫表(t.store(), QDate(2000, 1, 1)));
}

void TestSheet::scanEntries_data() {
    QTest::addColumn<QString>("raw");
    QTest::addColumn<QString>("code");
    QTest::addColumn<int>("count"); // -999: none given
    QTest::addColumn<bool>("bare");
    QTest::addColumn<bool>("checkOk");
    QTest::newRow("a JAN code") << "4901234567894"
                                << "4901234567894" << -999 << true << true;
    QTest::newRow("a wrong check digit") << "4901234567890"
                                         << "4901234567890" << -999 << true << false;
    QTest::newRow("an EAN-8 code") << "49123456"
                                   << "49123456" << -999 << true << true;
    QTest::newRow("a shop code") << "A01"
                                 << "A01" << -999 << false << true;
    QTest::newRow("a count with *") << "12*4901234567894"
                                    << "4901234567894" << 12 << false << true;
    QTest::newRow("a count with ×") << "3×A01"
                                    << "A01" << 3 << false << true;
    QTest::newRow("full-width") << "１２＊Ａ０１"
                                << "A01" << 12 << false << true;
    QTest::newRow("taking one back") << "-1*A01"
                                     << "A01" << -1 << false << true;
    QTest::newRow("a lone number") << "12"
                                   << "12" << -999 << true << true;
    QTest::newRow("spaces and control characters") << QString(" \x02"
                                                              "A01\r\n")
                                                   << "A01" << -999 << false << true;
}

void TestSheet::scanEntries() {
    QFETCH(QString, raw);
    QFETCH(QString, code);
    QFETCH(int, count);
    QFETCH(bool, bare);
    QFETCH(bool, checkOk);
    const ScanInput in = parseScan(raw);
    QCOMPARE(in.code, code);
    QCOMPARE(in.count.value_or(-999), qint64(count));
    QCOMPARE(in.bareNumber, bare);
    QCOMPARE(checkDigitOk(in.code), checkOk);
}

void TestSheet::lineDelete_data() {
    QTest::addColumn<int>("line");
    QTest::addColumn<int>("date");           // the date box: D + this many days, -1 empty
    QTest::addColumn<QStringList>("work");   // work names left, first four lines
    QTest::addColumn<QStringList>("savedD"); // saved rows of D left
    const QStringList all{"1:x1:A", "2:y:A", "3:n:A", "4:x2:B", "5:q:B", "6:n:B"};
    // Only the chosen line goes, never another with the same code or name.
    QTest::newRow("a line with a code shared by another")
        << 0 << 0 << QStringList{"y", "n", "x2", "q"}
        << QStringList{"2:y:A", "3:n:A", "4:x2:B", "5:q:B", "6:n:B"};
    QTest::newRow("code with an apostrophe")
        << 4 << 0 << QStringList{"x1", "y", "n", "x2"}
        << QStringList{"1:x1:A", "2:y:A", "3:n:A", "4:x2:B", "6:n:B"};
    QTest::newRow("the first of two lines of one name")
        << 2 << 0 << QStringList{"x1", "y", "x2", "q"}
        << QStringList{"1:x1:A", "2:y:A", "4:x2:B", "5:q:B", "6:n:B"};
    QTest::newRow("the second of two lines of one name")
        << 5 << 0 << QStringList{"x1", "y", "n", "x2"}
        << QStringList{"1:x1:A", "2:y:A", "3:n:A", "4:x2:B", "5:q:B"};
    QTest::newRow("no date: the line only") << 2 << -1 << QStringList{"x1", "y", "x2", "q"} << all;
    QTest::newRow("another date: the line only")
        << 2 << 1 << QStringList{"x1", "y", "x2", "q"} << all;
    QTest::newRow("blank line: nothing") << 7 << 0 << QStringList{"x1", "y", "n", "x2"} << all;
}

void TestSheet::lineDelete() {
    QFETCH(int, line);
    QFETCH(int, date);
    QFETCH(QStringList, work);
    QFETCH(QStringList, savedD);
    TempStore t;
    const QStringList lines{"x1|1|A|X", "y|1|A|Y", "n|1|A", "x2|1|B|X", "q|1|B|Q'1", "n|1|B"};
    workLines(t, lines);
    VERIFY_OK(entry在庫表(t.store(), D, QString()));
    VERIFY_OK(entry在庫表(t.store(), D.addDays(1), QString()));
    LoadedFrom from;
    VERIFY_OK(read在庫表(t.store(), D, QString(), {}, &from));
    const qint64 seq =
        t.store()
            .scalar(Db::Work, "SELECT seq FROM w在庫表 ORDER BY seq LIMIT 1 OFFSET ?", {line})
            .toLongLong();
    VALUE_OK(gone,
             lineDelete在庫表(t.store(), seq,
                              date < 0 ? std::nullopt : std::optional<QDate>(D.addDays(date))));
    QCOMPARE(workNames(t).mid(0, 4), work);
    QCOMPARE(stored(t, D), savedD);
    QCOMPARE(stored(t, D.addDays(1)).size(), 6);
    // A saved line that went raised its sheet's version, nothing else did.
    QCOMPARE(gone.saved, savedD.size() < 6);
    VALUE_OK(left, unloadedSheets(t.store(), D, QString(), from));
    QCOMPARE(left.size(), gone.saved ? 1 : 0);
    if (gone.saved)
        QCOMPARE(gone.version, from.versions.value(gone.category) + 1);
}

// The scanner's session rules, entry by entry, against the products A01 and
// 99999: each step "outcome:code:count" (N next count, M misread, C count, - nothing).
void TestSheet::scanSession_data() {
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QString>("steps");
    QTest::addColumn<int>("misreads");
    QTest::newRow("a lone number sets the next count, once")
        << QStringList{"3", "A01", "A01"} << "N::3 C:A01:3 C:A01:1" << 0;
    QTest::newRow("a count before the code wins over the next count")
        << QStringList{"3", "12*A01", "A01"} << "N::3 C:A01:12 C:A01:1" << 0;
    QTest::newRow("a product's code is a code, however short")
        << QStringList{"99999"} << "C:99999:1" << 0;
    QTest::newRow("six digits are a code, not a count")
        << QStringList{"123456"} << "C:123456:1" << 0;
    QTest::newRow("misreads are refused and counted")
        << QStringList{"4901234567890", "4901234567894", "49012345"}
        << "M:4901234567890:0 "
           "C:4901234567894:1 M:49012345:0"
        << 2;
    QTest::newRow("an empty entry does nothing") << QStringList{" ", "\r"} << "-::0 -::0" << 0;
}

void TestSheet::scanSession() {
    QFETCH(QStringList, entries);
    QFETCH(QString, steps);
    QFETCH(int, misreads);
    ScanSession session;
    const auto isProduct = [](const QString& c) { return c == "A01" || c == "99999"; };
    QStringList got;
    for (const QString& e : entries) {
        const ScanSession::Step st = session.enter(e, isProduct);
        got << QString("%1:%2:%3").arg(QString("-NMC")[int(st.outcome)]).arg(st.code).arg(st.count);
    }
    QCOMPARE(got.join(' '), steps);
    QCOMPARE(session.misreads(), misreads);
    // Unknown codes wait, summed, first scanned first, until they have a product.
    session.wait("Z1", 2);
    session.wait("Z2", 1);
    session.wait("Z1", 1);
    QCOMPARE(session.waiting(), QStringList({"Z1", "Z2"}));
    QCOMPARE(session.waitingCount("Z1"), 3);
    const auto known = session.takeKnown([](const QString& c) { return c == "Z2"; });
    QCOMPARE(known.size(), 1);
    QCOMPARE(known[0], (QPair<QString, qint64>("Z2", 1)));
    QCOMPARE(session.waiting(), QStringList({"Z1"}));
    session.forget();
    QVERIFY(session.waiting().isEmpty());
    QCOMPARE(session.misreads(), misreads); // the session's, not the sheet's
}

// A save over saved sheets: what is asked about, and what adding and
// replacing store. Saved lines "name|qty|category|code"; "*" loads the
// saved sheet of the save's category before typing the sheet.
void TestSheet::saveOverSavedSheets_data() {
    QTest::addColumn<QStringList>("before"); // saved with category A, then B
    QTest::addColumn<QString>("category");   // the save's category
    QTest::addColumn<bool>("loadFirst");     // the sheet was loaded first
    QTest::addColumn<QStringList>("sheet");  // the typed sheet
    QTest::addColumn<QStringList>("asked");  // categories asked about
    QTest::addColumn<bool>("add");           // adding instead of replacing
    QTest::addColumn<QStringList>("after");  // stored "name qty category", in order
    const QStringList a{"りんご|12|A|A01", "みかん|4|A"};
    const QStringList b{"ねぎ|2|B"};
    QTest::newRow("a new sheet over A, replaced")
        << a << "A" << false << QStringList{"りんご|3||A01"} << QStringList{"A"} << false
        << QStringList{"りんご 3 A", "ねぎ 2 B"};
    QTest::newRow("a new sheet over A, added: same code summed, others kept")
        << a << "A" << false << QStringList{"りんご|3||A01", "ぶどう|1"} << QStringList{"A"} << true
        << QStringList{"りんご 15 A", "みかん 4 A", "ぶどう 1 A", "ねぎ 2 B"};
    QTest::newRow("added: a name without code matches the name")
        << a << "A" << false << QStringList{"みかん|6"} << QStringList{"A"} << true
        << QStringList{"りんご 12 A", "みかん 10 A", "ねぎ 2 B"};
    QTest::newRow("added: same name, other code is another product")
        << a << "A" << false << QStringList{"りんご|1||A99"} << QStringList{"A"} << true
        << QStringList{"りんご 12 A", "みかん 4 A", "りんご 1 A", "ねぎ 2 B"};
    QTest::newRow("the sheet's own load: nothing asked")
        << a << "A" << true << QStringList{} << QStringList{} << false
        << QStringList{"りんご 12 A", "みかん 4 A", "ねぎ 2 B"};
    QTest::newRow("a new category: nothing asked")
        << a << "C" << false << QStringList{"米|1"} << QStringList{} << false
        << QStringList{"りんご 12 A", "みかん 4 A", "ねぎ 2 B", "米 1 C"};
    QTest::newRow("every category at once names each")
        << a << "" << false << QStringList{"米|1|C"} << QStringList{"A", "B"} << false
        << QStringList{"米 1 C"};
    QTest::newRow("every category added, by each line's category")
        << a << "" << false << QStringList{"ねぎ|1|B", "りんご|1|A|A01"} << QStringList{"A", "B"}
        << true << QStringList{"りんご 13 A", "みかん 4 A", "ねぎ 3 B"};
}

void TestSheet::saveOverSavedSheets() {
    QFETCH(QStringList, before);
    QFETCH(QString, category);
    QFETCH(bool, loadFirst);
    QFETCH(QStringList, sheet);
    QFETCH(QStringList, asked);
    QFETCH(bool, add);
    QFETCH(QStringList, after);
    TempStore t;
    workLines(t, before);
    VERIFY_OK(entry在庫表(t.store(), D, "A"));
    workLines(t, {"ねぎ|2"});
    VERIFY_OK(entry在庫表(t.store(), D, "B"));
    LoadedFrom from;
    if (loadFirst)
        VERIFY_OK(read在庫表(t.store(), D, category, {}, &from));
    else
        workLines(t, sheet);
    VALUE_OK(unloaded, unloadedSheets(t.store(), D, category, from));
    QStringList askedNow;
    SaveMode mode{add, from.versions, {}, {}, {}};
    for (const Unloaded& u : unloaded) {
        askedNow << u.category;
        QCOMPARE(u.lines, u.category == "B" ? 1 : 2);
        QVERIFY(!u.savedAt.isEmpty());
        (*mode.expected)[u.category] = u.version;
    }
    QCOMPARE(askedNow, asked);
    // Without the versions asked about, a save refuses and changes nothing.
    if (!asked.isEmpty()) {
        const QStringList was = t.dump(Db::Main, "在庫表");
        const Status refused =
            entry在庫表(t.store(), D, category, {}, SaveMode{add, from.versions, {}, {}, {}})
                .status;
        QCOMPARE(refused.kind, ErrorKind::Conflict);
        QVERIFY2(refused.error.contains("他で新しく保存されています") &&
                     !refused.error.contains("読み込"),
                 qPrintable(refused.error));
        QCOMPARE(t.dump(Db::Main, "在庫表"), was);
    }
    VERIFY_OK(entry在庫表(t.store(), D, category, {}, mode));
    QStringList got;
    for (const Row& r : t.store().query(Db::Main, "SELECT 品名, 数量, 商品区分, 金額 FROM 在庫表 "
                                                  "ORDER BY 商品区分, 行番号"))
        got << QString("%1 %2 %3").arg(r[0].toString(), r[1].toString(), r[2].toString());
    QCOMPARE(got, after);
    // Saved again from what was saved, nothing is asked.
    VERIFY_OK(read在庫表(t.store(), D, category, {}, &from));
    VALUE_OK(again, unloadedSheets(t.store(), D, category, from));
    QVERIFY(again.isEmpty());
}

void TestSheet::closedDateRefusesChanges() {
    TempStore t;
    QVERIFY(!close在庫表(t.store(), D)); // nothing saved: nothing to close
    workLines(t, {"りんご|1"});
    VERIFY_OK(entry在庫表(t.store(), D, QString()));
    LoadedFrom from;
    VERIFY_OK(read在庫表(t.store(), D, QString(), {}, &from));
    VERIFY_OK(close在庫表(t.store(), D));
    const QStringList was = t.dump(Db::Main, "在庫表");
    QCOMPARE(entry在庫表(t.store(), D, QString()).status.kind, ErrorKind::Closed);
    QCOMPARE(delete在庫表(t.store(), D).status.kind, ErrorKind::Closed);
    const qint64 seq = t.store().scalar(Db::Work, "SELECT min(seq) FROM w在庫表").toLongLong();
    QCOMPARE(lineDelete在庫表(t.store(), seq, D).status.kind, ErrorKind::Closed);
    QCOMPARE(t.dump(Db::Main, "在庫表"), was);
    QCOMPARE(workNames(t).first(), QString("りんご"));
    VALUE_OK(closed, isClosed(t.store(), D));
    QVERIFY(closed);
    VERIFY_OK(reopen在庫表(t.store(), D));
    VERIFY_OK(lineDelete在庫表(t.store(), seq, D));
    QVERIFY(stored(t, D).isEmpty());
}

void TestSheet::masterEffectOfASave() {
    TempStore t;
    t.addProduct("A01", "りんご", "個", 100, 5, "果物");
    t.addProduct("B01", "牛乳", "本", 200, 2, "乳製品");
    t.store().exec(Db::Main, "UPDATE 商品マスタ SET 棚番 = 'A-1'"); // a line has no shelf
    // りんご's price changes, 牛乳 is as stored (no code on the line keeps
    // the stored one), ぶどう is new and twice on the sheet.
    workLines(t, {"りんご|1|果物||個|120", "牛乳|2|乳製品||本|200", "ぶどう|1", "ぶどう|2"});
    t.store().exec(Db::Work, "UPDATE w在庫表 SET 適正数 = CASE 品名 WHEN 'りんご' THEN 5 "
                             "WHEN '牛乳' THEN 2 END WHERE 品名 IN ('りんご', '牛乳')");
    // The prices were typed on lines that hold their products as stored.
    t.store().exec(Db::Work,
                   "UPDATE w在庫表 SET 入力 = ?, 商品id = CASE 品名 WHEN 'りんご' THEN 1 "
                   "ELSE 2 END, 商品版 = 1 WHERE 品名 IN ('りんご', '牛乳')",
                   {qlonglong(typedBit(ColPrice))});
    VALUE_OK(effect, masterEffect(t.store()));
    QCOMPARE(effect.added, QStringList{"ぶどう"});
    QCOMPARE(effect.changed, QStringList{"りんご: 単価 100 → 120"});
    VALUE_OK(unknown, unknownNames(t.store()));
    QCOMPARE(unknown, QSet<QString>{"ぶどう"});
    // What it said is what the save does.
    VERIFY_OK(entry在庫表(t.store(), D, QString()));
    QCOMPARE(
        t.store()
            .scalar(Db::Main, "SELECT 単価 || ' ' || 棚番 FROM 商品マスタ WHERE 品名 = 'りんご'")
            .toString(),
        QString("120 A-1"));
    QCOMPARE(t.count(Db::Main, "商品マスタ"), 3);
    VALUE_OK(none, masterEffect(t.store()));
    QVERIFY(none.changed.isEmpty() && none.added.isEmpty());
}

void TestSheet::fillFromMaster() {
    TempStore t;
    VALUE_OK(none, read商品マスタto在庫表(t.store()));
    QCOMPARE(none, 0);
    QCOMPARE(t.count(Db::Work, "w在庫表", "品名 IS NULL"), 500);
    t.addProduct("2", "ばなな", "房", 200, 3, "果物");
    t.addProduct("1", "あんず", "個", 100, 1, "乾物");
    VERIFY_OK(read商品マスタto在庫表(t.store()));
    QCOMPARE(workNames(t).mid(0, 3), QStringList({"あんず", "ばなな", ""}));
    QCOMPARE(t.dump(Db::Work, "w在庫表").first().section('|', 1),
             QString("0|1|あんず|<null>|個|1|<null>|100|<null>|乾物|<null>|2|1|0"));
    {
        Transaction tx(t.store(), Db::Main);
        for (int i = 0; i < 499; ++i)
            t.addProduct(QString::number(i), QString("品%1").arg(i, 3, 10, QChar('0')));
        tx.commit();
    }
    VALUE_OK(filled, read商品マスタto在庫表(t.store()));
    QCOMPARE(filled, 501);
    QCOMPARE(t.count(Db::Work, "w在庫表"), 501);
    // Every product has its line; the last by name is not dropped.
    QCOMPARE(workNames(t).last(), QString("品498"));
}

void TestSheet::printTableHoldsNamedLinesInOrder() {
    TempStore t;
    workLines(t, {"first|1", "", "second|2"});
    VERIFY_OK(fillSheetPrint(t.store()));
    QStringList got;
    for (const Row& r : t.store().query(Db::Work, "SELECT 品名 FROM w在庫表印刷 ORDER BY seq"))
        got << r[0].toString();
    QCOMPARE(got, QStringList({"first", "second"}));
    workLines(t, {"only|1"});
    VERIFY_OK(fillSheetPrint(t.store()));
    QCOMPARE(t.count(Db::Work, "w在庫表印刷"), 1);
}

// The saved counts are written from values alone: a save, an added count,
// a deleted line; the work sheet on screen is neither read nor changed.
void TestSheet::ledgerTakesValues() {
    TempStore t;
    Store& s = t.store();
    workLines(t, {"画面の行|9"});
    const auto line = [](const char* name, int qty) {
        Row r(ColumnCount - ColCode);
        r[ColName - ColCode] = QString::fromUtf8(name);
        r[ColQty - ColCode] = qty;
        r[ColPrice - ColCode] = 100;
        r[ColAmount - ColCode] = qty * 100;
        return CountLine{r};
    };
    const auto saved = [&] {
        QStringList out;
        for (const CountLine& l : valueOf(readSaved(s, D, "果物")).lines)
            out << QString("%1:%2:%3:%4")
                       .arg(l.fields[ColName - ColCode].toString(),
                            l.fields[ColQty - ColCode].toString(),
                            l.fields[ColAmount - ColCode].toString(),
                            l.fields[ColCategory - ColCode].toString());
        return out.join(' ');
    };
    VALUE_OK(n, saveSheet(s, D, "果物", {line("りんご", 3), line("みかん", 2)}));
    QCOMPARE(n, 2);
    LoadedFrom after;
    SaveMode add;
    add.add = true;
    VALUE_OK(m, saveSheet(s, D, "果物", {line("りんご", 4), line("なし", 1)}, add, {}, &after));
    QCOMPARE(m, 3);
    QCOMPARE(saved(), QString("りんご:7:700:果物 みかん:2:200:果物 なし:1:100:果物"));
    QCOMPARE(after.versions.value("果物"), 2);
    // A save that expects what it read is refused once the sheet moved on.
    SaveMode stale;
    stale.expected = Versions{{"果物", 1}};
    QCOMPARE(saveSheet(s, D, "果物", {line("りんご", 1)}, stale).status.kind, ErrorKind::Conflict);
    const SavedSheet now = valueOf(readSaved(s, D, "果物"));
    VALUE_OK(gone, deleteSavedLine(s, D, now.ids[1]));
    QVERIFY(gone.saved);
    QCOMPARE(gone.version, 3);
    VALUE_OK(again, deleteSavedLine(s, D, now.ids[1]));
    QVERIFY(!again.saved);
    QCOMPARE(saved(), QString("りんご:7:700:果物 なし:1:100:果物"));
    QCOMPARE(valueOf(savedVersions(s, D, "果物")).value("果物"), 3);
    QCOMPARE(s.scalar(Db::Main, "SELECT count(*) FROM 商品マスタ").toInt(), 3);
    QCOMPARE(s.query(Db::Work, "SELECT 品名, 数量 FROM w在庫表 WHERE 品名 IS NOT NULL"),
             Rows({{"画面の行", 9}}));
}

QTEST_MAIN(TestSheet)
#include "tst_sheet.moc"
