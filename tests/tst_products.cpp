#include "backup/Erase.h"
#include "base/Version.h"
#include "hints/HintOps.h"
#include "products/ProductOps.h"
#include "tests/fixtures.h"
#include "work/ProductRefModel.h"

#include <QFile>

using namespace products;

namespace {
QStringList listNames(TempStore& t) {
    QStringList out;
    for (const Row& r :
         t.store().query(Db::Work, "SELECT code, 品名 FROM w商品マスタ ORDER BY seq"))
        out << r[0].toString() + ":" + r[1].toString();
    return out;
}
} // namespace

class TestProducts : public QObject {
    Q_OBJECT
  private slots:
    void productsWrittenFromValues();
    void readListAllOrOneCategory();
    void registerMatchesByName();
    void registerEntersUnitsAndCategoriesOnce();
    void registerFailureKeepsTheMaster();
    void lineDeleteRetiresTheProduct();
    void detailLookupAndRegisterByCode();
    void detailEmptyCategoryTakesNoSlot();
    void dropDownReadsWhatItsFilterShows();
    void hintsOneRowPerButton();
    void eraseAllKeepsSlotsAndHintsAndBacksUp();
};

void TestProducts::readListAllOrOneCategory() {
    TempStore t;
    t.addProduct("B2", "ばなな", "房", 200, 3, "果物");
    t.addProduct("A1", "あんず", "個", 100, 1, "乾物");
    t.addProduct("C3", "ちくわ", "本", 90, 2, "果物");
    VERIFY_OK(read商品情報(t.store(), QString()));
    QCOMPARE(listNames(t), QStringList({"A1:あんず", "B2:ばなな", "C3:ちくわ"}));
    VERIFY_OK(read商品情報(t.store(), "果物"));
    QCOMPARE(listNames(t), QStringList({"B2:ばなな", "C3:ちくわ"}));
    QCOMPARE(t.count(Db::Work, "w商品マスタ", "チェック = 0"), 2);
}

void TestProducts::registerMatchesByName() {
    TempStore t;
    t.addProduct("A1", "りんご", "個", 100, 1, "青果");
    t.addProduct("A2", "みかん", "個", 50, 1, "青果");
    VERIFY_OK(read商品情報(t.store(), QString()));
    Store& s = t.store();
    s.exec(Db::Work, "UPDATE w商品マスタ SET 品名 = 'ふじりんご', 単価 = 130 WHERE code = 'A1'");
    s.exec(Db::Work, "UPDATE w商品マスタ SET 単価 = 55 WHERE code = 'A2'");
    VERIFY_OK(entry商品情報(s));
    // Renamed: the product the row was read from takes the new name; matched:
    // overwritten.
    QCOMPARE(t.dump(Db::Main, "商品マスタ").first(),
             QString("1|A1|ふじりんご|個|130|1|青果|2|<null>|10"));
    QCOMPARE(t.count(Db::Main, "商品マスタ"), 2);
    QCOMPARE(s.scalar(Db::Main, "SELECT 単価 FROM 商品マスタ WHERE 品名 = 'みかん'").toInt(), 55);
    // A row whose name was emptied adds no nameless product.
    s.exec(Db::Work, "UPDATE w商品マスタ SET 品名 = NULL WHERE code = 'A2'");
    VERIFY_OK(entry商品情報(s));
    QCOMPARE(t.count(Db::Main, "商品マスタ", "品名 IS NULL"), 0);
}

void TestProducts::registerEntersUnitsAndCategoriesOnce() {
    TempStore t;
    t.addProduct("A1", "りんご", "個", 100, 1, "青果");
    VERIFY_OK(read商品情報(t.store(), QString()));
    t.store().exec(Db::Work, "UPDATE w商品マスタ SET 単位 = 'ケース', 商品区分 = '贈答'");
    VERIFY_OK(entry商品情報(t.store()));
    VERIFY_OK(entry商品情報(t.store()));
    QCOMPARE(t.count(Db::Main, "コードマスタ", "kcode = '単位' AND sname = 'ケース'"), 1);
    QCOMPARE(t.count(Db::Main, "コードマスタ", "kcode = '商品区分' AND sname = '贈答'"), 1);
}

void TestProducts::registerFailureKeepsTheMaster() {
    TempStore t;
    t.addProduct("A1", "りんご", "個", 100, 1, "青果");
    t.addProduct("A2", "だめ", "個", 100, 1, "青果");
    VERIFY_OK(read商品情報(t.store(), QString()));
    const QStringList before = t.dump(Db::Main, "商品マスタ");
    t.store().exec(Db::Work, "UPDATE w商品マスタ SET 単価 = 999, 単位 = '新'");
    t.failWrites("UPDATE", "商品マスタ", "NEW.品名 = 'だめ'");
    QVERIFY(!entry商品情報(t.store()));
    QCOMPARE(t.dump(Db::Main, "商品マスタ"), before);
    QCOMPARE(t.count(Db::Main, "コードマスタ", "sname IS NOT NULL"), 0);
    QCOMPARE(t.count(Db::Work, "w商品マスタ", "単価 = 999"), 2);
}

void TestProducts::lineDeleteRetiresTheProduct() {
    TempStore t;
    t.addProduct("A1", "りんご");
    t.addProduct(QString(), "名だけ");
    t.addProduct("A1", "別名");
    VERIFY_OK(read商品情報(t.store(), QString()));
    const qint64 apple = t.store()
                             .scalar(Db::Work, "SELECT seq FROM w商品マスタ WHERE 品名 = 'りんご'")
                             .toLongLong();
    VERIFY_OK(lineDelete商品情報(t.store(), apple));
    QCOMPARE(t.count(Db::Main, "商品マスタ"), 2);
    QCOMPARE(t.count(Db::Work, "w商品マスタ"), 2);
    const qint64 nameOnly =
        t.store()
            .scalar(Db::Work, "SELECT seq FROM w商品マスタ WHERE 品名 = '名だけ'")
            .toLongLong();
    VERIFY_OK(lineDelete商品情報(t.store(), nameOnly));
    QCOMPARE(t.count(Db::Main, "商品マスタ"), 1);
    VERIFY_OK(lineDelete商品情報(t.store(), 123456));
    QCOMPARE(t.count(Db::Main, "商品マスタ"), 1);
}

void TestProducts::detailLookupAndRegisterByCode() {
    TempStore t;
    t.addProduct("A01", "りんご", "個", 120.5, 10, "青果");
    const auto found = read商品詳細(t.store(), "りんご");
    VERIFY_OK(found);
    QVERIFY(found.value);
    QCOMPARE(found.value->unit, QString("個"));
    QCOMPARE(found.value->price.toString(), QString("120.5"));
    QCOMPARE(found.value->proper, 10LL);
    const auto missing = read商品詳細(t.store(), "ないもの");
    VERIFY_OK(missing);
    QVERIFY(!missing.value);
    // An existing code with another name updates that product.
    Detail d;
    d.code = "A01";
    d.name = "ふじ";
    d.unit = "箱";
    d.price = Currency::fromWhole(300);
    d.proper = 2;
    d.category = "贈答";
    VERIFY_OK(entry商品詳細(t.store(), d));
    QCOMPARE(t.dump(Db::Main, "商品マスタ"), QStringList({"1|A01|ふじ|箱|300|2|贈答|2|<null>|10"}));
    QCOMPARE(t.count(Db::Main, "コードマスタ", "kcode = '商品区分' AND sname = '贈答'"), 1);
    d.code = "A'02";
    VERIFY_OK(entry商品詳細(t.store(), d));
    QCOMPARE(t.count(Db::Main, "商品マスタ"), 2);
}

void TestProducts::dropDownReadsWhatItsFilterShows() {
    TempStore t;
    Rows many;
    for (int i = 0; i < 250; ++i)
        many.append(Row{QString("P%1").arg(i), QString("品%1").arg(i, 3, 10, QChar('0'))});
    many.append(Row{"R1", "りんご"});
    many.append(Row{"R2", "りんご飴"});
    many.append(Row{"N0", QVariant()});
    insertRows(t.store(), Db::Main, "商品マスタ", "code, 品名", many);
    ProductRefModel m(t.store());
    const auto names = [&] {
        QStringList out;
        for (int r = 0; r < m.rowCount(); ++r)
            out << m.index(r, RefName).data().toString();
        return out;
    };
    // A page at a time, in name order, as the view scrolls; nameless never.
    QCOMPARE(m.rowCount(), ProductRefModel::Page);
    QCOMPARE(names().first(), QString("りんご"));
    for (int fetched : {200, 252, 252}) {
        m.fetchMore(QModelIndex());
        QCOMPARE(m.rowCount(), fetched);
    }
    QVERIFY(!m.canFetchMore(QModelIndex()));
    QCOMPARE(names().last(), QString("品249"));
    const QVector<QPair<QString, QStringList>> filters{
        {"りん", {"りんご", "りんご飴"}},
        {"品24",
         {"品240", "品241", "品242", "品243", "品244", "品245", "品246", "品247", "品248",
          "品249"}},
        {"ない", {}},
        {"%", {}},
        {"_", {}}};
    for (const auto& [prefix, expected] : filters) {
        m.filterTo(prefix);
        QCOMPARE(names(), expected);
    }
    // Opened on a cell's entry: a few rows above it, then on from it.
    m.startAt("品100");
    QCOMPARE(m.index(ProductRefModel::Before, RefName).data().toString(), QString("品100"));
    QCOMPARE(m.index(ProductRefModel::Before, RefCode).data().toString(), QString("P100"));
    QVERIFY(m.canFetchMore(QModelIndex()));
}

void TestProducts::detailEmptyCategoryTakesNoSlot() {
    TempStore t;
    Detail d;
    d.code = "A01";
    d.name = "りんご";
    VERIFY_OK(entry商品詳細(t.store(), d));
    VERIFY_OK(entry商品詳細(t.store(), d));
    QCOMPARE(t.count(Db::Main, "コードマスタ", "sname IS NOT NULL"), 0);
    QVERIFY(t.store().scalar(Db::Main, "SELECT 商品区分 FROM 商品マスタ").isNull());
}

void TestProducts::hintsOneRowPerButton() {
    TempStore t;
    Store& s = t.store();
    auto text = hints::readHint(s, "FrmStolva", "cmdHint");
    VERIFY_OK(text);
    QVERIFY(!text.value);
    VERIFY_OK(hints::entryHint(s, "FrmStolva", "cmdHint", "Stolva Ver " STOLVA_VERSION, "一回目"));
    VERIFY_OK(hints::entryHint(s, "FrmStolva", "cmdHint", "Stolva Ver " STOLVA_VERSION,
                               "二回目 'quote'"));
    VERIFY_OK(hints::entryHint(s, "FrmStolva", "cmdHint2", "Stolva Ver " STOLVA_VERSION, ""));
    QCOMPARE(t.count(Db::Work, "ClHint", "CtlName = 'cmdHint'"), 1);
    text = hints::readHint(s, "FrmStolva", "cmdHint");
    VERIFY_OK(text);
    QCOMPARE(text.value.value_or(QString()), QString("二回目 'quote'"));
    QCOMPARE(
        s.scalar(Db::Work, "SELECT Contents FROM ClHint WHERE CtlName = 'cmdHint2'").toString(),
        QString(""));
    QVERIFY(!s.scalar(Db::Work, "SELECT Contents FROM ClHint WHERE CtlName = 'cmdHint2'").isNull());
    VERIFY_OK(hints::deleteHint(s, "FrmStolva", "cmdHint"));
    VERIFY_OK(hints::deleteHint(s, "FrmStolva", "cmdHint"));
    QCOMPARE(t.count(Db::Work, "ClHint"), 1);
}

void TestProducts::eraseAllKeepsSlotsAndHintsAndBacksUp() {
    TempStore t;
    Store& s = t.store();
    t.addProduct("A1", "りんご", "個", 100, 1, "青果");
    t.nameSlot("商品区分", "01", "青果");
    s.exec(Db::Main, "INSERT INTO 在庫表 (日付, 行番号, 品名) VALUES ('2024-01-05', 1, 'りんご')");
    s.exec(Db::Main, "INSERT INTO 自社情報 (会社名) VALUES ('ストルバ商店')");
    VERIFY_OK(hints::entryHint(s, "FrmStolva", "cmdHint", "t", "残る"));
    const Result<QString> erased = allDelete(s);
    VERIFY_OK(erased);
    const QString backup = erased.value;
    QCOMPARE(t.count(Db::Main, "在庫表"), 0);
    QCOMPARE(t.count(Db::Main, "商品マスタ"), 0);
    QCOMPARE(t.count(Db::Main, "自社情報"), 0);
    QCOMPARE(t.count(Db::Main, "コードマスタ"), 60);
    QCOMPARE(t.count(Db::Main, "コードマスタ", "sname IS NOT NULL"), 0);
    QCOMPARE(t.count(Db::Work, "ClHint"), 1);
    QVERIFY2(
        backup.contains(QRegularExpression("/backup/Stolva-\\d{8}-\\d{6}-erase(-\\d+)?\\.mdb$")),
        qPrintable(backup));
    {
        QSqlDatabase b = QSqlDatabase::addDatabase("QSQLITE", "backup");
        b.setDatabaseName(backup);
        QVERIFY(b.open());
        QSqlQuery q(b);
        QVERIFY(q.exec("SELECT count(*) FROM 商品マスタ") && q.next());
        QCOMPARE(q.value(0).toInt(), 1);
        QVERIFY(q.exec("PRAGMA integrity_check") && q.next());
        QCOMPARE(q.value(0).toString(), QString("ok"));
        b.close();
    }
    QSqlDatabase::removeDatabase("backup");
    // Erasing an empty ledger succeeds too, with a backup of its own.
    const Result<QString> again = allDelete(s);
    VERIFY_OK(again);
    const QString second = again.value;
    QVERIFY(second != backup);
    QVERIFY(QFile::exists(second));
}

// Products written from values alone: a product read at its version is
// renamed in place, one changed since is a conflict, a new name is added;
// the product list on screen is neither read nor changed.
void TestProducts::productsWrittenFromValues() {
    TempStore t;
    Store& s = t.store();
    s.exec(Db::Main,
           "INSERT INTO 商品マスタ (code, 品名, 単位, 単価) VALUES ('A01', 'りんご', '個', "
           "100), ('A02', 'みかん', '袋', 80)");
    VERIFY_OK(read商品情報(s, QString()));
    const QStringList list = listNames(t);
    const auto idOf = [&](const char* name) {
        return s.scalar(Db::Main, "SELECT id FROM 商品マスタ WHERE 品名 = ?", {QString(name)})
            .toLongLong();
    };
    const auto fields = [](const char* code, const char* name, const char* unit) {
        return Row{code, QString::fromUtf8(name), QString::fromUtf8(unit), 120, 3, "果物"};
    };
    QVector<NameMatchedWriter::Written> written;
    VALUE_OK(saved, saveProducts(s,
                                 {{fields("A01", "ふじ", "箱"), idOf("りんご"), 1, 7},
                                  {fields("A02", "みかん", "袋"), idOf("みかん"), 5, 8},
                                  {fields("B01", "なし", "個"), 0, 0, 9}},
                                 &written));
    QCOMPARE(saved.updated + saved.added, 2);
    QCOMPARE(saved.written, (QVector<qint64>{7, 9}));
    QCOMPARE(saved.conflicts.size(), 1);
    QCOMPARE(saved.conflicts[0].seq, 8);
    QCOMPARE(written.size(), 2);
    QCOMPARE(
        s.query(Db::Main, "SELECT code, 品名, 単位, 版 FROM 商品マスタ ORDER BY code"),
        Rows({{"A01", "ふじ", "箱", 2}, {"A02", "みかん", "袋", 1}, {"B01", "なし", "個", 1}}));
    QCOMPARE(s.scalar(Db::Main, "SELECT count(*) FROM コードマスタ WHERE kcode = '単位' AND "
                                "sname = '箱'")
                 .toInt(),
             1);
    QCOMPARE(listNames(t), list);
}

QTEST_MAIN(TestProducts)
#include "tst_products.moc"
