#include "exchange/Csv.h"
#include "exchange/Export.h"
#include "tests/fixtures.h"

#include <QFile>

using namespace exchange;

Q_DECLARE_METATYPE(exchange::Encoding)

// CSV for Excel: what is written reads back the same, in both encodings, and
// what cannot be read is refused with a message.
class TestExchange : public QObject {
    Q_OBJECT
  private slots:
    void roundTrip_data();
    void roundTrip();
    void cp932CannotHoldEveryCharacter();
    void badInputIsRefused_data();
    void badInputIsRefused();
    void exportsPlainNumbers();
};

namespace {
const QStringList Hostile{"O'Reilly",
                          "\"quoted\"",
                          "comma, inside",
                          "line\nbreak",
                          "crlf\r\nbreak",
                          "100%_off",
                          "'; DROP TABLE 在庫表; --",
                          "back\\slash",
                          "  spaces around  ",
                          "\ttab",
                          "=HYPERLINK(\"http://x\")",
                          "+1",
                          "-3",
                          "@sum",
                          "ｶﾀｶﾅ　全角",
                          "りんご"};
} // namespace

void TestExchange::roundTrip_data() {
    QTest::addColumn<Encoding>("encoding");
    QTest::addColumn<QStringList>("texts");
    QTest::newRow("UTF-8 with BOM") << Encoding::Utf8Bom << (Hostile + QStringList{"🍎 éà"});
    QTest::newRow("UTF-8") << Encoding::Utf8 << Hostile;
    QTest::newRow("CP932") << Encoding::Cp932 << Hostile;
}

void TestExchange::roundTrip() {
    QFETCH(Encoding, encoding);
    QFETCH(QStringList, texts);
    QVector<QStringList> records{{"コード", "品名"}};
    for (const QString& t : texts)
        records << QStringList{guardFormula(t), guardFormula(t)};
    VALUE_OK(bytes, encodeCsv(records, encoding));
    QCOMPARE(bytes.startsWith("\xEF\xBB\xBF"), encoding == Encoding::Utf8Bom);
    QVERIFY(bytes.endsWith("\r\n"));
    // A formula-looking text reaches Excel as text.
    if (encoding != Encoding::Cp932)
        QVERIFY(bytes.contains("'=HYPERLINK"));
    VALUE_OK(table, parseCsv(bytes));
    QCOMPARE(table.encoding, encoding);
    QCOMPARE(table.records.size(), texts.size() + 1);
    for (int i = 0; i < texts.size(); ++i)
        QCOMPARE(table.records[i + 1], QStringList({texts[i], texts[i]}));
}

void TestExchange::cp932CannotHoldEveryCharacter() {
    const auto r = encodeCsv({{"品名"}, {"りんご"}, {"🍎 りんご"}}, Encoding::Cp932);
    QVERIFY(!r);
    QVERIFY2(r.error().contains(QStringLiteral("3 行目")) && r.error().contains("🍎"),
             qPrintable(r.error()));
}

void TestExchange::badInputIsRefused_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<qint64>("limit");
    QTest::addColumn<QString>("says");
    QTest::newRow("empty") << QByteArray() << MaxFileBytes << "空";
    QTest::newRow("only line ends") << QByteArray("\r\n\r\n") << MaxFileBytes << "空";
    QTest::newRow("binary") << QByteArray("PK\x03\x04\x00\x00", 6) << MaxFileBytes
                            << "CSV ではありません";
    QTest::newRow("no known encoding")
        << QByteArray("\x80\xFF\xFE,\xFD") << MaxFileBytes << "文字コード";
    QTest::newRow("a quote left open") << QByteArray("a,\"b\r\nc") << MaxFileBytes << "行目";
    QTest::newRow("too large") << QByteArray("a,b\r\n") << qint64(3) << "大きすぎます";
}

void TestExchange::badInputIsRefused() {
    QFETCH(QByteArray, bytes);
    QFETCH(qint64, limit);
    QFETCH(QString, says);
    QTemporaryDir dir;
    const QString path = dir.path() + "/in.csv";
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    f.close();
    const auto r = readCsvFile(path, limit);
    QVERIFY(!r);
    QVERIFY2(r.error().startsWith("in.csv") && r.error().contains(says), qPrintable(r.error()));
}

void TestExchange::exportsPlainNumbers() {
    TempStore t;
    t.store().exec(Db::Work, "INSERT INTO w商品マスタ (チェック, code, 品名, 単位, 単価, 適正数, "
                             "商品区分) VALUES (0, 'A01', '=1+1', '個', 1250.5, 1200, NULL)");
    VALUE_OK(products, productRecords(t.store()));
    QCOMPARE(products[0], QStringList({"コード", "品名", "単位", "単価", "適正数", "商品区分"}));
    QCOMPARE(products[1], QStringList({"A01", "'=1+1", "個", "1250.5", "1200", ""}));
    t.store().exec(Db::Work, "INSERT INTO w在庫表 (チェック, code, 品名, 数量, 単価, 金額) VALUES "
                             "(0, NULL, 'x', 3, 1000, 3000), (0, NULL, NULL, NULL, NULL, NULL)");
    VALUE_OK(sheet, sheetRecords(t.store()));
    QCOMPARE(sheet.size(), 2);
    QCOMPARE(sheet[0].join(','), QString("コード,品名,数量,適正数,増減,単位,単価,金額,商品区分"));
    QCOMPARE(sheet[1], QStringList({"", "x", "3", "", "", "", "1000", "3000", ""}));
}

QTEST_GUILESS_MAIN(TestExchange)
#include "tst_exchange.moc"
