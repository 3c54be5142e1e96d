#include "codes/CodeOps.h"
#include "tests/fixtures.h"

namespace {
QStringList names(TempStore& t, const QString& kind) {
    QStringList out;
    for (const Row& r : t.store().query(
             Db::Main, "SELECT code, sname FROM コードマスタ WHERE kcode = ? ORDER BY code",
             {kind}))
        out << r[0].toString() + "=" + (r[1].isNull() ? QString("-") : r[1].toString());
    return out;
}
QStringList editorNames(TempStore& t) {
    QStringList out;
    for (const Row& r :
         t.store().query(Db::Work, "SELECT code, sname FROM wコードマスタ ORDER BY 行番号"))
        out << r[0].toString() + "=" + (r[1].isNull() ? QString("-") : r[1].toString());
    return out;
}
} // namespace

class TestCodes : public QObject {
    Q_OBJECT
  private slots:
    void autoEntry_data();
    void autoEntry();
    void fullKindRefusesAndChangesNothing();
    void kindWithoutRowsWritesNothing();
    void emptyNameNeverTakesASlot();
    void readShowsSlotsByCodeIgnoringStrangers();
    void registerWritesThirtySlotsOfTheKindOnly();
    void unitsReadThenRegisteredAsCategories();
    void clearedSlotIsStoredAsNull();
    void editorRowNumbersOnlyIncrease();
};

void TestCodes::autoEntry_data() {
    QTest::addColumn<QStringList>("named"); // "code=name" pre-named category slots
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("slot"); // where the name is afterwards ("" = nowhere new)
    QTest::newRow("empty list takes 01") << QStringList() << "青果" << int(True) << "01";
    QTest::newRow("gap 02 is reused") << QStringList({"01=A", "03=C"}) << "B" << int(True) << "02";
    QTest::newRow("held by 17 writes nothing")
        << QStringList({"17=果物"}) << "果物" << int(False) << "17";
    QTest::newRow("full-width differs") << QStringList({"01=ABC"}) << "ＡＢＣ" << int(True) << "02";
    QTest::newRow("case differs") << QStringList({"01=abc"}) << "ABC" << int(True) << "02";
    QTest::newRow("trailing space differs")
        << QStringList({"01=青果"}) << "青果 " << int(True) << "02";
    QTest::newRow("apostrophe is data") << QStringList() << "O'Neil's" << int(True) << "01";
}

void TestCodes::autoEntry() {
    QFETCH(QStringList, named);
    QFETCH(QString, name);
    QFETCH(int, result);
    QFETCH(QString, slot);
    TempStore t;
    for (const QString& n : named)
        t.nameSlot("商品区分", n.section('=', 0, 0), n.section('=', 1));
    const QStringList unitsBefore = names(t, "単位");
    QCOMPARE(int(codes::AutoEntryコードマスタ(t.store(), "商品区分", name)), result);
    QCOMPARE(t.count(Db::Main, "コードマスタ", "kcode = '商品区分' AND sname = ?", {name}), 1);
    QCOMPARE(t.store()
                 .scalar(Db::Main,
                         "SELECT code FROM コードマスタ WHERE kcode = '商品区分' AND sname = ?",
                         {name})
                 .toString(),
             slot);
    QCOMPARE(names(t, "単位"), unitsBefore);
}

void TestCodes::fullKindRefusesAndChangesNothing() {
    TempStore t;
    for (int i = 1; i <= 30; ++i)
        t.nameSlot("単位", codes::slotCode(i), QString("u%1").arg(i));
    const QStringList before = names(t, "単位");
    QCOMPARE(codes::AutoEntryコードマスタ(t.store(), "単位", "31番目"), False);
    QCOMPARE(names(t, "単位"), before);
}

void TestCodes::kindWithoutRowsWritesNothing() {
    TempStore t;
    t.store().exec(Db::Main, "DELETE FROM コードマスタ WHERE kcode = '単位'");
    QCOMPARE(codes::AutoEntryコードマスタ(t.store(), "単位", "個"), False);
    QCOMPARE(t.count(Db::Main, "コードマスタ", "kcode = '単位'"), 0);
}

void TestCodes::emptyNameNeverTakesASlot() {
    TempStore t;
    const Result<bool> r = codes::autoEntry(t.store(), "商品区分", "");
    QVERIFY(r && !r.value);
    QCOMPARE(t.count(Db::Main, "コードマスタ", "sname IS NOT NULL"), 0);
}

void TestCodes::readShowsSlotsByCodeIgnoringStrangers() {
    TempStore t;
    t.nameSlot("商品区分", "01", "青果");
    t.store().exec(Db::Main,
                   "INSERT INTO コードマスタ (kcode, code, sname) VALUES ('商品区分', '31', 'X')");
    VERIFY_OK(codes::readCodeTable(t.store(), "商品区分"));
    const QStringList e = editorNames(t);
    QCOMPARE(e.size(), 30);
    QCOMPARE(e[0], QString("01=青果"));
    QCOMPARE(e[1], QString("02=-"));
    QCOMPARE(e[2], QString("03=-"));
    QCOMPARE(e.last(), QString("30=-"));
    // The next register drops the stranger: only the thirty slots are written.
    VERIFY_OK(codes::entryCodes(t.store(), "商品区分"));
    QCOMPARE(t.count(Db::Main, "コードマスタ", "kcode = '商品区分'"), 30);
    QCOMPARE(t.count(Db::Main, "コードマスタ", "code = '31'"), 0);
}

void TestCodes::registerWritesThirtySlotsOfTheKindOnly() {
    TempStore t;
    t.nameSlot("単位", "05", "箱");
    const QStringList unitsBefore = names(t, "単位");
    VERIFY_OK(codes::clearCodeTable(t.store()));
    t.store().exec(Db::Work, "UPDATE wコードマスタ SET sname = '青果' WHERE code = '02'");
    VERIFY_OK(codes::entryCodes(t.store(), "商品区分"));
    const QStringList cats = names(t, "商品区分");
    QCOMPARE(cats.size(), 30);
    QCOMPARE(cats[0], QString("01=-"));
    QCOMPARE(cats[1], QString("02=青果"));
    QCOMPARE(names(t, "単位"), unitsBefore);
}

void TestCodes::unitsReadThenRegisteredAsCategories() {
    TempStore t;
    t.nameSlot("単位", "01", "個");
    t.nameSlot("商品区分", "01", "青果");
    VERIFY_OK(codes::readCodeTable(t.store(), "単位"));
    VERIFY_OK(codes::entryCodes(t.store(), "商品区分"));
    QCOMPARE(names(t, "商品区分")[0], QString("01=個"));
}

void TestCodes::clearedSlotIsStoredAsNull() {
    TempStore t;
    t.nameSlot("商品区分", "01", "青果");
    VERIFY_OK(codes::readCodeTable(t.store(), "商品区分"));
    t.store().exec(Db::Work, "UPDATE wコードマスタ SET sname = '' WHERE code = '01'");
    VERIFY_OK(codes::entryCodes(t.store(), "商品区分"));
    QCOMPARE(t.count(Db::Main, "コードマスタ", "kcode = '商品区分' AND sname IS NULL"), 30);
}

void TestCodes::editorRowNumbersOnlyIncrease() {
    TempStore t;
    VERIFY_OK(codes::clearCodeTable(t.store()));
    const qint64 first =
        t.store().scalar(Db::Work, "SELECT max(行番号) FROM wコードマスタ").toLongLong();
    VERIFY_OK(codes::clearCodeTable(t.store()));
    const qint64 next =
        t.store().scalar(Db::Work, "SELECT min(行番号) FROM wコードマスタ").toLongLong();
    QVERIFY(next > first);
}

QTEST_MAIN(TestCodes)
#include "tst_codes.moc"
