#include "books/BooksReport.h"
#include "exchange/Import.h"
#include "products/ProductOps.h"
#include "sheet/SheetLedger.h"
#include "tests/fixtures.h"

#include <QStringEncoder>

using namespace books;

Q_DECLARE_METATYPE(books::Settings)

// The year-end count as the books take it: the shared settings, amounts
// converted and rounded per line, the 棚卸表 of a seeded count, the
// recount of a date and the journals byte for byte.
class TestBooks : public QObject {
    Q_OBJECT
  private slots:
    void settingsAreSharedAndChecked();
    void bookAmounts_data();
    void bookAmounts();
    void lineAmountsFollowTheRounding_data();
    void lineAmountsFollowTheRounding();
    void inventoryOfACount();
    void recomputeADate();
    void journals_data();
    void journals();
    void taxRatesOfProducts();
};

namespace {
Settings settings(const QString& accounting, const QString& priceTax, const QString& rounding) {
    Settings s;
    s.accounting = accounting;
    s.priceTax = priceTax;
    s.rounding = rounding;
    return s;
}
void saveLine(Store& s, const QString& date, const QVariant& category, int seq,
              const QVariant& code, const QString& name, const QVariant& unit, const QVariant& qty,
              const QVariant& price) {
    s.exec(Db::Main,
           "INSERT INTO 在庫表 (日付, 商品区分, 行番号, code, 品名, 単位, 数量, 単価, 金額) "
           "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)",
           {date, category, seq, code, name, unit, qty, price,
            sheet::lineAmount(qty, price, QStringLiteral("四捨五入"))});
}
} // namespace

void TestBooks::settingsAreSharedAndChecked() {
    TempStore t;
    VALUE_OK(first, readSettings(t.store()));
    QCOMPARE(first, Settings{}); // nothing stored: the defaults
    QCOMPARE(first.method, QString("最終仕入原価法"));
    const Settings s{"総平均法", "税抜経理", "税込", "切り捨て"};
    VERIFY_OK(writeSettings(t.store(), s));
    // Another PC (or the next start) reads what this one stored.
    t.reopen();
    VALUE_OK(again, readSettings(t.store()));
    QCOMPARE(again, s);
    Settings wrong = s;
    wrong.rounding = "五捨六入";
    const Status refused = writeSettings(t.store(), wrong);
    QVERIFY(!refused && refused.error.contains("五捨六入"));
    VALUE_OK(kept, readSettings(t.store()));
    QCOMPARE(kept, s);
    VERIFY_OK(writeCompany(t.store(), {"  青果のやまだ ", "東京都"}));
    VERIFY_OK(writeCompany(t.store(), {"青果のやまだ", "東京都千代田区"}));
    QCOMPARE(t.count(Db::Main, "自社情報"), 1);
    VALUE_OK(c, readCompany(t.store()));
    QCOMPARE(c.name + "|" + c.address, QString("青果のやまだ|東京都千代田区"));
}

void TestBooks::bookAmounts_data() {
    QTest::addColumn<qint64>("amount");
    QTest::addColumn<int>("rate");
    QTest::addColumn<Settings>("s");
    QTest::addColumn<qint64>("expected");
    const auto row = [](const char* name, qint64 amount, int rate, const char* accounting,
                        const char* priceTax, const char* rounding, qint64 expected) {
        QTest::newRow(name) << amount << rate << settings(accounting, priceTax, rounding)
                            << expected;
    };
    // Prices as the books keep them: nothing to convert, whatever the rounding.
    row("税込 prices, 税込 books", 1099, 10, "税込経理", "税込", "切り捨て", 1099);
    row("税抜 prices, 税抜 books", 1099, 8, "税抜経理", "税抜", "切り上げ", 1099);
    // 税込 → 税抜: 1,100 at 10 % is 1,000; 1,080 at 8 % is 1,000.
    row("1100 税込 → 税抜 10%", 1100, 10, "税抜経理", "税込", "四捨五入", 1000);
    row("1080 税込 → 税抜 8%", 1080, 8, "税抜経理", "税込", "四捨五入", 1000);
    row("1000 税込 → 税抜 10%, 909.09 rounded", 1000, 10, "税抜経理", "税込", "四捨五入", 909);
    row("1000 税込 → 税抜 10%, 909.09 up", 1000, 10, "税抜経理", "税込", "切り上げ", 910);
    row("1000 税込 → 税抜 8%, 925.93 rounded", 1000, 8, "税抜経理", "税込", "四捨五入", 926);
    row("1000 税込 → 税抜 8%, 925.93 down", 1000, 8, "税抜経理", "税込", "切り捨て", 925);
    // 税抜 → 税込: 5 at 10 % is 5.5, the half each rounding meets.
    row("5 → 5.5 四捨五入", 5, 10, "税込経理", "税抜", "四捨五入", 6);
    row("5 → 5.5 切り捨て", 5, 10, "税込経理", "税抜", "切り捨て", 5);
    row("5 → 5.5 切り上げ", 5, 10, "税込経理", "税抜", "切り上げ", 6);
    row("-5 → -5.5 四捨五入", -5, 10, "税込経理", "税抜", "四捨五入", -6);
    row("-5 → -5.5 切り捨て", -5, 10, "税込経理", "税抜", "切り捨て", -5);
    row("-5 → -5.5 切り上げ", -5, 10, "税込経理", "税抜", "切り上げ", -6);
    row("1000 税抜 → 税込 8%", 1000, 8, "税込経理", "税抜", "四捨五入", 1080);
    row("999 税抜 → 税込 8%, 1078.92 down", 999, 8, "税込経理", "税抜", "切り捨て", 1078);
    row("0 stays 0", 0, 10, "税込経理", "税抜", "切り上げ", 0);
}

void TestBooks::bookAmounts() {
    QFETCH(qint64, amount);
    QFETCH(int, rate);
    QFETCH(Settings, s);
    QFETCH(qint64, expected);
    QCOMPARE(bookAmount(amount, rate, s), expected);
}

void TestBooks::lineAmountsFollowTheRounding_data() {
    QTest::addColumn<int>("qty");
    QTest::addColumn<double>("price");
    QTest::addColumn<QString>("rounding");
    QTest::addColumn<qint64>("expected");
    const auto row = [](int qty, double price, const char* rounding, qint64 expected) {
        QTest::addRow("%d × %g %s", qty, price, rounding) << qty << price << rounding << expected;
    };
    for (const auto& [rounding, half, minusHalf, third] :
         {std::tuple{"四捨五入", 2, -2, 33}, {"切り捨て", 1, -1, 33}, {"切り上げ", 2, -2, 34}}) {
        row(3, 0.5, rounding, half);       // 1.5
        row(-3, 0.5, rounding, minusHalf); // -1.5
        row(3, 11.1111, rounding, third);  // 33.3333
        row(4, 25, rounding, 100);         // whole: no rounding
    }
}

void TestBooks::lineAmountsFollowTheRounding() {
    QFETCH(int, qty);
    QFETCH(double, price);
    QFETCH(QString, rounding);
    QFETCH(qint64, expected);
    QCOMPARE(sheet::lineAmount(qty, price, rounding).toLongLong(), expected);
    // The setting of this program: every line computed from then on.
    sheet::setAmountRounding(rounding);
    QCOMPARE(sheet::lineAmount(qty, price).toLongLong(), expected);
    sheet::setAmountRounding("四捨五入");
}

void TestBooks::inventoryOfACount() {
    TempStore t;
    Store& s = t.store();
    t.addProduct("F1", "りんご", "個", 110, 1, "果物");
    t.addProduct("F2", "米", "袋", 2160, 1, "食品");
    s.exec(Db::Main, "UPDATE 商品マスタ SET 税率 = 8 WHERE code = 'F2'");
    const QString d = "2026-12-31";
    saveLine(s, d, "果物", 1, "F1", "りんご", "個", 10, 110);           // 1,100
    saveLine(s, d, "果物", 2, QVariant(), "梨", "個", 3, 220);          // by name, no product: 10 %
    saveLine(s, d, "果物", 3, QVariant(), "柿", "個", QVariant(), 100); // not counted
    saveLine(s, d, "食品", 1, "F2", "米", "袋", 2, 2160);               // 4,320 at 8 %
    saveLine(s, d, "食品", 2, QVariant(), "塩", "袋", 0, 100);          // none left
    saveLine(s, d, QVariant(), 1, QVariant(), "袋", "枚", 7, 5);        // no category
    saveLine(s, "2026-12-30", "果物", 1, "F1", "りんご", "個", 99, 110); // another date
    for (const char* who : {"佐藤", "山田", "佐藤", ""})
        s.exec(Db::Main,
               "INSERT INTO 棚卸記録 (日付, 種類, 担当, 記録日時) VALUES (?, '入力', ?, ?)",
               {d, textOrNull(who), "2026-12-31T10:00:00"});
    VERIFY_OK(writeSettings(s, {"最終仕入原価法", "税抜経理", "税込", "四捨五入"}));
    VERIFY_OK(writeCompany(s, {"やまだ商店", "東京都"}));

    VALUE_OK(inv, inventory(s, QDate(2026, 12, 31)));
    QVERIFY(!inv.closed);
    QCOMPARE(inv.company, QString("やまだ商店"));
    QCOMPARE(inv.counters, QStringList({"佐藤", "山田"}));
    QStringList seen;
    for (const InventoryGroup& g : inv.groups) {
        for (const InventoryLine& l : g.lines)
            seen << QString("%1|%2|%3|%4|%5|%6")
                        .arg(g.category, l.name, l.unit)
                        .arg(l.quantity)
                        .arg(l.price.toString())
                        .arg(l.amount);
        seen << QString("%1 小計 %2").arg(g.category).arg(g.subtotal);
    }
    // Amounts 税抜 per line at each product's rate: 1,100 → 1,000; 660 → 600;
    // 4,320 → 4,000 (8 %); 35 → 31.82 → 32.
    QCOMPARE(seen, QStringList({"|袋|枚|7|4.55|32", " 小計 32", "果物|りんご|個|10|100|1000",
                                "果物|梨|個|3|200|600", "果物 小計 1600", "食品|米|袋|2|2000|4000",
                                "食品 小計 4000"}));
    QCOMPARE(inv.total, 5632);
    VERIFY_OK(sheet::close在庫表(s, QDate(2026, 12, 31)));
    VALUE_OK(closed, inventory(s, QDate(2026, 12, 31)));
    QVERIFY(closed.closed);
    VALUE_OK(dates, closedCounts(s, QDate(2033, 12, 31)));
    QCOMPARE(dates, QVector<QDate>({QDate(2026, 12, 31)}));
    VALUE_OK(later, closedCounts(s, QDate(2034, 1, 1)));
    QVERIFY(later.isEmpty());
    QCOMPARE(namedDates({QDate(2026, 12, 31), QDate(2025, 12, 31), QDate(2024, 12, 31)}, 2),
             QString("2026年12月31日、2025年12月31日 ほか 1 件"));
}

void TestBooks::recomputeADate() {
    TempStore t;
    Store& s = t.store();
    const QString d = "2026-12-31";
    saveLine(s, d, "果物", 1, QVariant(), "みかん", "個", 3, 0.5); // 1.5 → 2
    saveLine(s, d, "果物", 2, QVariant(), "りんご", "個", 4, 25);  // 100 either way
    saveLine(s, d, "野菜", 1, QVariant(), "大根", "本", -3, 0.5);  // -1.5 → -2
    saveLine(s, "2026-12-30", "果物", 1, QVariant(), "みかん", "個", 3, 0.5);
    s.exec(Db::Main,
           "INSERT INTO 在庫表版 (日付, 商品区分, 版) VALUES (?, '果物', 4), (?, '野菜', 1)",
           {d, d});
    VALUE_OK(changed, recompute(s, QDate(2026, 12, 31), "切り捨て"));
    QCOMPARE(changed, 2);
    const auto amounts = [&](const QString& day) {
        QStringList out;
        for (const Row& r :
             s.query(Db::Main, "SELECT 品名, 金額 FROM 在庫表 WHERE 日付 = ? ORDER BY id", {day}))
            out << r[0].toString() + "=" + QString::number(r[1].toLongLong());
        return out.join(' ');
    };
    QCOMPARE(amounts(d), QString("みかん=1 りんご=100 大根=-1"));
    QCOMPARE(amounts("2026-12-30"), QString("みかん=2")); // another date stays
    // Both sheets changed: other PCs read them again.
    QCOMPARE(s.scalar(Db::Main, "SELECT 版 FROM 在庫表版 WHERE 日付 = ? AND 商品区分 = '果物'", {d})
                 .toInt(),
             5);
    QCOMPARE(s.scalar(Db::Main, "SELECT sum(金額) FROM 在庫表集計 WHERE 日付 = ?", {d}).toInt(),
             100);
    VALUE_OK(again, recompute(s, QDate(2026, 12, 31), "切り捨て"));
    QCOMPARE(again, 0);
    VERIFY_OK(sheet::close在庫表(s, QDate(2026, 12, 31)));
    const Result<int> refused = recompute(s, QDate(2026, 12, 31), "四捨五入");
    QVERIFY(!refused);
    QCOMPARE(refused.status.kind, ErrorKind::Closed);
    QCOMPARE(amounts(d), QString("みかん=1 りんご=100 大根=-1"));
}

void TestBooks::journals_data() {
    QTest::addColumn<int>("program");
    QTest::addColumn<bool>("reverse");
    QTest::addColumn<bool>("closed");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<QString>("expected"); // the file's text, or "refused: " and a part of why
    const QString yayoi = "2000,,,2026/12/31,商品,,,対象外,1234567,0,期末商品棚卸高,,,対象外,"
                          "1234567,0,期末商品棚卸高　2026年12月31日現在,,,0,,,0,0,no\r\n";
    const QString freeeHead =
        "日付,伝票番号,決算整理仕訳,借方勘定科目,借方税区分,借方金額,借方税額,"
        "貸方勘定科目,貸方税区分,貸方金額,貸方税額,摘要\r\n";
    const QString freee = "2026/12/31,,,商品,対象外,1234567,0,期末商品棚卸,対象外,1234567,0,"
                          "期末商品棚卸　2026年12月31日現在\r\n";
    const int y = int(Program::Yayoi), f = int(Program::Freee);
    QTest::newRow("弥生") << y << false << true << qint64(1234567) << yayoi;
    QTest::newRow("弥生 with the reverse at 期首")
        << y << true << true << qint64(1234567)
        << yayoi + "2000,,,2027/01/01,期首商品棚卸高,,,対象外,1234567,0,商品,,,対象外,1234567,0,"
                   "期首商品棚卸高　2026年12月31日の棚卸,,,0,,,0,0,no\r\n";
    QTest::newRow("freee") << f << false << true << qint64(1234567) << freeeHead + freee;
    QTest::newRow("freee with the reverse at 期首")
        << f << true << true << qint64(1234567)
        << freeeHead + freee +
               "2027/01/01,,,期首商品棚卸,対象外,1234567,0,商品,対象外,1234567,0,"
               "期首商品棚卸　2026年12月31日の棚卸\r\n";
    QTest::newRow("not closed") << y << false << false << qint64(1234567)
                                << "refused: 確定されていません";
    QTest::newRow("nothing counted") << f << false << true << qint64(0) << "refused: 0 円以下";
    QTest::newRow("弥生's nine digits")
        << y << false << true << qint64(1000000000) << "refused: 9 桁";
    QTest::newRow("freee has no such limit")
        << f << false << true << qint64(1000000000)
        << freeeHead + QString(freee).replace("1234567", "1000000000");
}

void TestBooks::journals() {
    QFETCH(int, program);
    QFETCH(bool, reverse);
    QFETCH(bool, closed);
    QFETCH(qint64, total);
    QFETCH(QString, expected);
    Inventory inv;
    inv.date = QDate(2026, 12, 31);
    inv.closed = closed;
    inv.total = total;
    const Result<QByteArray> bytes = journal(inv, Program(program), reverse);
    if (expected.startsWith("refused: ")) {
        QVERIFY(!bytes);
        QVERIFY2(bytes.error().contains(expected.mid(9)), qPrintable(bytes.error()));
        return;
    }
    VERIFY_OK(bytes);
    // Shift_JIS, as both programs read it.
    QStringEncoder sjis("Shift_JIS");
    const QByteArray want = sjis.encode(expected);
    QVERIFY(!sjis.hasError());
    QCOMPARE(bytes.value, want);
}

// A product's rate through each way in: an import, the list, the panel, a
// sheet line; 10 or 8 only, empty the standard rate.
void TestBooks::taxRatesOfProducts() {
    TempStore t;
    Store& s = t.store();
    t.addProduct("A1", "りんご", "個", 100);
    const auto rates = [&] {
        QStringList out;
        for (const Row& r :
             s.query(Db::Main, "SELECT 品名, coalesce(CAST(税率 AS TEXT), '-') FROM 商品マスタ "
                               "ORDER BY id"))
            out << r[0].toString() + "=" + r[1].toString();
        return out.join(' ');
    };
    QCOMPARE(rates(), QString("りんご=10"));
    VALUE_OK(table, exchange::parseCsv("品名,税率\nりんご,8\n米,8\nパン,\n酒,5\n"));
    const Result<exchange::ProductPreview> imported = exchange::importProducts(s, table);
    VERIFY_OK(imported);
    QStringList said;
    for (const exchange::ProductLine& l : imported.value.lines)
        said << l.reason;
    QVERIFY2(said.join('|').contains("「5」は10 か 8"), qPrintable(said.join('|')));
    QCOMPARE(rates(), QString("りんご=8 米=8 パン=10"));
    // The list: a rate typed as 5 refuses the save; 10 is written.
    VERIFY_OK(products::read商品情報(s, QString()));
    s.exec(Db::Work, "UPDATE w商品マスタ SET 税率 = 5 WHERE 品名 = '米'");
    const Result<products::ListSaved> refused = products::entry商品情報(s);
    QVERIFY(!refused && refused.error().contains("10 か 8"));
    s.exec(Db::Work, "UPDATE w商品マスタ SET 税率 = NULL WHERE 品名 = '米'");
    VERIFY_OK(products::entry商品情報(s));
    QCOMPARE(rates(), QString("りんご=8 米=10 パン=10"));
    // The panel, by code.
    products::Detail d;
    d.code = "W1";
    d.name = "ワイン";
    d.rate = 10;
    VERIFY_OK(products::entry商品詳細(s, d));
    d.name = "ぶどう";
    d.rate = 8;
    VERIFY_OK(products::entry商品詳細(s, d));
    VALUE_OK(read, products::read商品詳細(s, "ぶどう"));
    QVERIFY(read.has_value());
    QCOMPARE(read->rate, 8);
    QCOMPARE(rates(), QString("りんご=8 米=10 パン=10 ぶどう=8"));
}

QTEST_GUILESS_MAIN(TestBooks)
#include "tst_books.moc"
