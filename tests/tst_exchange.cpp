#include "codes/CodeOps.h"
#include "exchange/Csv.h"
#include "exchange/Export.h"
#include "exchange/Import.h"
#include "exchange/Workbook.h"
#include "products/ProductOps.h"
#include "tests/fixtures.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <optional>

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
    void cp932WritesWhatWindowsWrites();
    void excelUnicodeTextIsRead();
    void badInputIsRefused_data();
    void badInputIsRefused();
    void exportsPlainNumbers();
    void importProducts_data();
    void importProducts();
    void productRoundTripThroughExcel();
    void importShelves_data();
    void importShelves();
    void importCounts_data();
    void importCounts();
    void matchingNeverLandsOnAnotherProduct_data();
    void matchingNeverLandsOnAnotherProduct();
    void cancelledImportsWriteNothing();
    void workbookRoundTrip();
    void workbooksOfOtherWriters_data();
    void workbooksOfOtherWriters();
    void numberFormatsOfOtherWriters_data();
    void numberFormatsOfOtherWriters();
    void workbookRefused_data();
    void workbookRefused();
    void farCellsCostWhatTheyHold();
    void chosenColumns_data();
    void chosenColumns();
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
    QTest::newRow("UTF-8") << Encoding::Utf8
                           << (Hostile + QStringList{"'=x", "''y", "'z", "'", "\t=1+1", "\r=1+1"});
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
    if (encoding == Encoding::Utf8)
        QVERIFY(bytes.contains("'\t=1+1") && bytes.contains("'\r=1+1"));
    VALUE_OK(table, parseCsv(bytes));
    QCOMPARE(table.encoding, encoding);
    const QVector<QStringList> read = table.all();
    QCOMPARE(table.size(), texts.size() + 1);
    QCOMPARE(read.size(), texts.size() + 1);
    for (int i = 0; i < texts.size(); ++i)
        QCOMPARE(read[i + 1], QStringList({texts[i], texts[i]}));
}

void TestExchange::cp932CannotHoldEveryCharacter() {
    const auto r = encodeCsv({{"品名"}, {"りんご"}, {"🍎 りんご"}}, Encoding::Cp932);
    QVERIFY(!r);
    QVERIFY2(r.error().contains(QStringLiteral("3 行目")) && r.error().contains("🍎"),
             qPrintable(r.error()));
}

void TestExchange::excelUnicodeTextIsRead() {
    // 「Unicode テキスト」: UTF-16 (either order) with its mark, tabs between fields.
    const QString text = "品名\t単価\r\nみかん\t\"1,250\"\r\n";
    for (QStringConverter::Encoding e : {QStringConverter::Utf16LE, QStringConverter::Utf16BE}) {
        QStringEncoder enc(e, QStringConverter::Flag::WriteBom);
        const QByteArray bytes = enc.encode(text);
        VALUE_OK(t, parseCsv(bytes));
        QCOMPARE(t.encoding, Encoding::Utf16);
        QCOMPARE(t.all(), QVector<QStringList>({{"品名", "単価"}, {"みかん", "1,250"}}));
    }
}

void TestExchange::cp932WritesWhatWindowsWrites() {
    VALUE_OK(bytes, encodeCsv({{"〜−—‖¢£¬"}}, Encoding::Cp932));
    QStringDecoder cp932("CP932");
    const QString back = cp932.decode(bytes);
    QCOMPARE(back, QString("～－―∥￠￡￢\r\n"));
}

void TestExchange::badInputIsRefused_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<qint64>("limit");
    QTest::addColumn<QString>("says");
    QTest::newRow("empty") << QByteArray() << MaxFileBytes << "空";
    QTest::newRow("only line ends") << QByteArray("\r\n\r\n") << MaxFileBytes << "空";
    QTest::newRow("binary") << QByteArray("\x7F"
                                          "ELF\x02\x01\x00\x00",
                                          8)
                            << MaxFileBytes << "CSV ではありません";
    QTest::newRow("zip, no workbook")
        << QByteArray("PK\x03\x04\x00\x00", 6) << MaxFileBytes << "Excel ブックとして読めません";
    QTest::newRow("no known encoding")
        << QByteArray("\x80\xFF\xFE,\xFD") << MaxFileBytes << "文字コード";
    QTest::newRow("a quote left open") << QByteArray("a,\"b\r\nc") << MaxFileBytes << "行目";
    QTest::newRow("too large") << QByteArray("a,b\r\n") << qint64(3) << "大きすぎます";
    QTest::newRow("a quote left open far down") << QByteArray("a\r\n").repeated(70000) + "\"b\r\n"
                                                << MaxFileBytes << "70001 行目付近";
    QTest::newRow("more records than a ledger holds")
        << QByteArray("a\n").repeated(MaxRecords + 1) << MaxFileBytes
        << "取り込めるのは 1000000 行まで";
    QTest::newRow("UTF-16 cut in a character")
        << QByteArray("\xFF\xFE"
                      "a\0b",
                      5)
        << MaxFileBytes << "UTF-16 のテキストとして読めません";
    QTest::newRow("a folder") << QByteArray("folder") << MaxFileBytes
                              << "通常のファイルではありません";
    QTest::newRow("a pipe") << QByteArray("fifo") << MaxFileBytes << "通常のファイルではありません";
    QTest::newRow("a device without end")
        << QByteArray("/dev/zero") << MaxFileBytes << "通常のファイルではありません";
    QTest::newRow("no file") << QByteArray("missing") << MaxFileBytes << "ファイルがありません";
}

void TestExchange::badInputIsRefused() {
    QFETCH(QByteArray, bytes);
    QFETCH(qint64, limit);
    QFETCH(QString, says);
    QTemporaryDir dir;
    QString path = dir.path() + "/in.csv";
    if (bytes == "folder") {
        QVERIFY(QDir().mkpath(path));
    } else if (bytes == "fifo") {
        QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
    } else if (bytes == "/dev/zero") {
        QVERIFY(QFile::link("/dev/zero", path));
    } else if (bytes != "missing") {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    const auto r = readCsvFile(path, limit);
    QVERIFY(!r);
    QVERIFY2(r.error().startsWith("in.csv") && r.error().contains(says), qPrintable(r.error()));
}

void TestExchange::exportsPlainNumbers() {
    TempStore t;
    t.store().exec(Db::Work, "INSERT INTO w商品マスタ (チェック, code, 品名, 単位, 単価, 適正数, "
                             "商品区分) VALUES (0, 'A01', '=1+1', '個', 1250.5, 1200, NULL)");
    VALUE_OK(products, productRecords(t.store()));
    QCOMPARE(products.rows[0],
             QStringList({"コード", "品名", "単位", "単価", "適正数", "商品区分", "棚番", "税率"}));
    QCOMPARE(products.rows[1], QStringList({"A01", "'=1+1", "個", "1250.5", "1200", "", "", ""}));
    t.store().exec(Db::Work, "INSERT INTO w在庫表 (チェック, code, 品名, 数量, 単価, 金額) VALUES "
                             "(0, NULL, 'x', 3, 1000, 3000), (0, NULL, NULL, NULL, NULL, NULL)");
    VALUE_OK(sheet, sheetRecords(t.store()));
    QCOMPARE(sheet.rows.size(), 2);
    QCOMPARE(sheet.rows[0].join(','),
             QString("コード,品名,数量,適正数,増減,単位,単価,金額,商品区分"));
    QCOMPARE(sheet.rows[1], QStringList({"", "x", "3", "", "", "", "1000", "3000", ""}));
    QCOMPARE(sheet.total.join(','), QString("合計,,,,,,,3000,"));
}

namespace {
Table table(const QString& text) {
    const auto r = parseCsv(text.toUtf8());
    return r.value;
}
// A preview's actions in record order: N new, U update, = unchanged, E error.
template <typename Preview> QString actions(const Preview& p) {
    QString out;
    for (const auto& l : p.lines)
        out += QString("NU=EC")[int(l.action)];
    return out;
}
template <typename Preview> QStringList reasons(const Preview& p) {
    QStringList out;
    for (const auto& l : p.lines)
        if (l.action == RowAction::Error)
            out << l.reason;
    return out;
}
void seedMaster(TempStore& t) {
    t.addProduct("A01", "りんご", "個", 100, 10, "果物");
    t.addProduct(QString(), "牛乳", "本", 200, QVariant(), "飲料");
    t.nameSlot("単位", "01", "個");
    t.nameSlot("単位", "02", "本");
    t.nameSlot("商品区分", "01", "果物");
    t.nameSlot("商品区分", "02", "飲料");
}
} // namespace

void TestExchange::importProducts_data() {
    QTest::addColumn<QString>("csv");
    // Category slots named before the import; over 30: all, 果物 renamed out of them.
    QTest::addColumn<int>("namedSlots");
    QTest::addColumn<QString>("actions");
    QTest::addColumn<QStringList>("says");
    QTest::addColumn<QString>("master"); // code:name:price of every product afterwards
    const QString before = "A01:りんご:100 :牛乳:200";
    QTest::newRow("by code, new") << "コード,品名,単価\nA01,りんご,120\nC03,みかん,50" << 2 << "UN"
                                  << QStringList() << "A01:りんご:120 :牛乳:200 C03:みかん:50";
    QTest::newRow("by name, unchanged, columns in any order")
        << "単価,メモ,品 名\n200,x,牛乳\n100,,りんご" << 2 << "==" << QStringList() << before;
    QTest::newRow("a code given to a product kept by name: asked, not written")
        << "code,品名\nB02,牛乳" << 2 << "C" << QStringList() << before;
    QTest::newRow("bad records are not written")
        << "コード,品名,単価,適正数\nX1,,1,1\nX2,a,abc,1\nX3,b,1,1.5\nX4,c,1\n"
           "X5,d,1,1\nX5,e,1,1\n,りんご,100,10\n,f,\"1,000\",\n,りんご,1,1\n\n,,,\n"
        << 2 << "EEEENE=NE" << QStringList{"品名が空",
                                           "3 列目「単価」: 「abc」は金額",
                                           "4 列目「適正数」: 「1.5」は整数",
                                           "列の数が 3",
                                           "コード「X5」が 6 行目にも",
                                           "8 行目と同じ商品"}
        << before + " X5:d:1 :f:1000";
    QTest::newRow("prices as Excel users write them")
        << "品名,単価\nみかん,\"¥1,250\"\nぶどう,￥１，０５０\nもも,\"\\1,250\"\nなし,¥" << 2
        << "NNNE" << QStringList{"2 列目「単価」: 「¥」は金額"}
        << before + " :みかん:1250 :ぶどう:1050 :もも:1250";
    QTest::newRow("a title above the header")
        << "商品一覧 2026年12月,,\n,,\n単価,品名,メモ\n80,みかん,x" << 2 << "N" << QStringList()
        << before + " :みかん:80";
    QTest::newRow("no name column")
        << "コード,単価\nA01,1" << 2 << "" << QStringList{"「品名」の列がありません"} << before;
    QTest::newRow("a column twice") << "品名,単価,単 価\na,1,2" << 2 << ""
                                    << QStringList{"3 列目: 列「単価」が 2 回"} << before;
    const QString n255(255, QChar(0x3042)), n256(256, QChar(0x3042));
    QTest::newRow("texts up to 255 characters")
        << "品名,単位\n" + n255 + ",箱\n" + n256 + ",箱\nx," + n256 << 2 << "NEE"
        << QStringList{"1 列目「品名」: 256 文字あります（255 文字まで）",
                       "2 列目「単位」: 256 文字あります"}
        << before + " :" + n255 + ":";
    QTest::newRow("categories beyond the slots")
        << "品名,商品区分\na,新1\nb,新2\nc,新1\nd,果物" << 29 << "NENN"
        << QStringList{"「新2」は単位・商品区分の 30 件の枠に入りません"}
        << before + " :a: :c: :d:";
    QTest::newRow("a stored category since taken out of the slots is kept")
        << "コード,品名,単価,商品区分\nA01,りんご,120,果物" << 31 << "U" << QStringList()
        << "A01:りんご:120 :牛乳:200";
}

void TestExchange::importProducts() {
    QFETCH(QString, csv);
    QFETCH(int, namedSlots);
    QFETCH(QString, actions);
    QFETCH(QStringList, says);
    QFETCH(QString, master);
    TempStore t;
    seedMaster(t);
    for (int i = 3; i <= std::min(namedSlots, 30); ++i)
        t.nameSlot("商品区分", codes::slotCode(i), QString("区分%1").arg(i));
    if (namedSlots > 30)
        t.nameSlot("商品区分", codes::slotCode(1), "区分1");
    const auto r = exchange::importProducts(t.store(), table(csv));
    if (actions.isEmpty()) {
        QVERIFY(!r);
        QVERIFY2(r.error().contains(says[0]), qPrintable(r.error()));
    } else {
        VERIFY_OK(r);
        QCOMPARE(::actions(r.value), actions);
        const QStringList got = reasons(r.value);
        QCOMPARE(got.size(), says.size());
        for (int i = 0; i < says.size(); ++i)
            QVERIFY2(got[i].contains(says[i]), qPrintable(got[i]));
    }
    QStringList products;
    for (const Row& p :
         t.store().query(Db::Main, "SELECT code, 品名, 単価 FROM 商品マスタ ORDER BY id"))
        products << QString("%1:%2:%3").arg(p[0].toString(), p[1].toString(), p[2].toString());
    QCOMPARE(products.join(' '), master);
    // Importing the same file again changes nothing.
    const QStringList tables = t.dump(Db::Main, "商品マスタ") + t.dump(Db::Main, "コードマスタ");
    const auto again = exchange::previewProducts(t.store(), table(csv));
    if (again)
        QVERIFY(!::actions(again.value).contains('N') && !::actions(again.value).contains('U'));
    (void)exchange::importProducts(t.store(), table(csv));
    QCOMPARE(t.dump(Db::Main, "商品マスタ") + t.dump(Db::Main, "コードマスタ"), tables);
}

void TestExchange::importShelves_data() {
    QTest::addColumn<QString>("csv");
    QTest::addColumn<QString>("shelves"); // name:棚番 of every product afterwards
    QTest::newRow("a file without 棚番 keeps the shelf") << "コード,品名,単価\nA01,りんご,120"
                                                         << "りんご:S-1 牛乳:";
    QTest::newRow("a 棚番 column sets it") << "コード,品名,棚番\nA01,りんご,B-2\n,牛乳,B-3"
                                           << "りんご:B-2 牛乳:B-3";
    QTest::newRow("an empty 棚番 clears it") << "コード,品名,棚番\nA01,りんご,"
                                             << "りんご: 牛乳:";
    QTest::newRow("a new product with its shelf") << "品名,棚 番\nぶどう,C-1"
                                                  << "りんご:S-1 牛乳: ぶどう:C-1";
}

// A shelf travels with the product: an import matches it like the other
// fields, and a file without the column changes no shelf.
void TestExchange::importShelves() {
    QFETCH(QString, csv);
    QFETCH(QString, shelves);
    TempStore t;
    seedMaster(t);
    t.store().exec(Db::Main, "UPDATE 商品マスタ SET 棚番 = 'S-1' WHERE code = 'A01'");
    VERIFY_OK(exchange::importProducts(t.store(), table(csv)));
    QStringList got;
    for (const Row& p : t.store().query(Db::Main, "SELECT 品名, 棚番 FROM 商品マスタ ORDER BY id"))
        got << p[0].toString() + ":" + p[1].toString();
    QCOMPARE(got.join(' '), shelves);
}

void TestExchange::productRoundTripThroughExcel() {
    TempStore from, to;
    int n = 0;
    for (const auto& [name, text] :
         hostileTexts() +
             QVector<QPair<const char*, QString>>{
                 {"formula", "=HYPERLINK(\"http://x\")"}, {"comma", "a, b"}, {"crlf", "a\r\nb"}}) {
        const QString code = n % 2 ? QString("-%1").arg(n) : QString();
        from.addProduct(code, text, text.left(20), n * 1.25, n, QString("区分%1").arg(n % 3));
        ++n;
    }
    QTemporaryDir dir;
    // Both CSV encodings, then a workbook.
    for (const std::optional<Encoding> e :
         {std::optional(Encoding::Utf8Bom), std::optional(Encoding::Cp932),
          std::optional<Encoding>()}) {
        VERIFY_OK(products::read商品情報(from.store(), QString()));
        VALUE_OK(records, productRecords(from.store()));
        Result<Table> read;
        if (e) {
            const auto bytes = encodeCsv(records.rows, *e);
            if (!bytes) // CP932 has no emoji: refused, not written
                continue;
            read = parseCsv(bytes.value);
        } else {
            VERIFY_OK(writeWorkbookFile(dir.path() + "/p.xlsx", records));
            read = readTableFile(dir.path() + "/p.xlsx");
        }
        VALUE_OK(file, read);
        VALUE_OK(done, exchange::importProducts(to.store(), file));
        QCOMPARE(done.count(RowAction::Error), 0);
        const auto rows = [](TempStore& s) {
            return s.store().query(Db::Main, "SELECT code, 品名, 単位, 単価, 適正数, 商品区分 "
                                             "FROM 商品マスタ ORDER BY 適正数");
        };
        QCOMPARE(rows(to), rows(from));
    }
}

void TestExchange::importCounts_data() {
    QTest::addColumn<QString>("csv");
    QTest::addColumn<bool>("addUnknown");
    QTest::addColumn<QString>("actions");
    QTest::addColumn<QString>("sheet"); // name:quantity:amount:change of every named line
    QTest::newRow("set, not added; a new line from the master")
        << "コード,数量\nA01,7\nB02,3" << false << "UN"
        << "りんご:7:700:-3 牛乳:3:600:";
    QTest::newRow("by name; a code finds a line typed by name")
        << "品名,数量\n牛乳,2\nりんご,1" << false << "NU"
        << "りんご:1:100:-9 牛乳:2:400:";
    QTest::newRow("unknown: left out") << "品名,数量\nなし,4" << false << "N"
                                       << "りんご:5:500:-5";
    QTest::newRow("unknown: added by name") << "コード,品名,数量\nZ9,なし,4\nZ8,,1" << true << "NN"
                                            << "りんご:5:500:-5 なし:4::";
    QTest::newRow("more new lines than blank ones: the sheet grows")
        << "コード,品名,数量\nZ9,なし,4\nZ8,ない,1\nZ7,ぬ,2" << true << "NNN"
        << "りんご:5:500:-5 なし:4:: ない:1:: ぬ:2::";
    QTest::newRow("errors") << "コード,品名,数量\nA01,,x\n,,1\nA01,,2\n,りんご,3\nB02,,1,9" << false
                            << "EEUEE"
                            << "りんご:2:200:-8";
    QTest::newRow("a count never below zero; a name too long")
        << "品名,数量\nりんご,-3\n" + QString(256, 'x') + ",1\n牛乳,0" << false << "EEN"
        << "りんご:5:500:-5 牛乳:0:0:";
    QTest::newRow("exported sheet reads back") << "コード,品名,数量,適正数,増減,単位,単価,金額,"
                                                  "商品区分\nA01,りんご,6,10,-4,個,100,600,果物"
                                               << false << "U"
                                               << "りんご:6:600:-4";
}

void TestExchange::importCounts() {
    QFETCH(QString, csv);
    QFETCH(bool, addUnknown);
    QFETCH(QString, actions);
    QFETCH(QString, sheet);
    TempStore t;
    seedMaster(t);
    t.store().exec(Db::Main, "UPDATE 商品マスタ SET code = 'B02' WHERE 品名 = '牛乳'");
    // The sheet holds りんご (typed by name, counted 5) and blank lines.
    t.store().exec(Db::Work, "INSERT INTO w在庫表 (チェック, 品名, 数量, 適正数, 単価, 金額, 増減) "
                             "VALUES (0, 'りんご', 5, 10, 100, 500, -5), (0, NULL, NULL, NULL, "
                             "NULL, NULL, NULL), (0, NULL, NULL, NULL, NULL, NULL, NULL)");
    VALUE_OK(preview, exchange::previewCounts(t.store(), table(csv)));
    QCOMPARE(::actions(preview), actions);
    VERIFY_OK(exchange::importCounts(t.store(), preview, addUnknown));
    QStringList lines;
    for (const Row& l : t.store().query(Db::Work, "SELECT 品名, 数量, 金額, 増減 FROM w在庫表 "
                                                  "WHERE 品名 IS NOT NULL ORDER BY seq"))
        lines << QString("%1:%2:%3:%4")
                     .arg(l[0].toString(), l[1].toString(), l[2].toString(), l[3].toString());
    QCOMPARE(lines.join(' '), sheet);
}

void TestExchange::matchingNeverLandsOnAnotherProduct_data() {
    QTest::addColumn<bool>("counts"); // a count file, else a product file
    QTest::addColumn<QString>("csv");
    QTest::addColumn<QString>("actions");
    QTest::addColumn<QString>("says"); // the first error's reason contains it
    const QString twice = "同じ品名の商品が 2 件あります。コードで指定してください";
    const QString excel = "Excel が数値に変えたコードです（";
    const auto row = [](const char* name, bool counts, const QString& csv, const QString& a,
                        const QString& says = QString()) {
        QTest::newRow(name) << counts << csv << a << says;
    };
    row("a code matches its product only", false, "コード,品名,単価\nP002,ボールペン,130", "U");
    row("a name two products have", false, "品名,単価\nボールペン,130", "E", twice);
    row("a new code with a shared name is new", false, "コード,品名\nP003,ボールペン", "N");
    row("never another code of the same name", false, "コード,品名\nE02,鉛筆", "N");
    row("a code for the one product without", false, "コード,品名\nB02,牛乳", "C");
    row("leading zeros lost", false, "コード,品名\n12,消しゴム", "E", excel + "0012 ?）");
    row("scientific notation", false, "コード,品名\n4.90123E+12,何か", "E",
        excel + "4.90123E+12 ?）");
    row("the code as stored", false, "コード,品名\n0012,消しゴム", "=");
    row("counts: a code never takes another's line", true, "コード,数量\nP002,5", "N");
    row("counts: each code its own line", true, "コード,数量\nP001,5\nP002,3", "UN");
    row("counts: a name two products have", true, "品名,数量\nボールペン,5", "E", twice);
    row("counts: a code finds the line typed by its name", true, "コード,数量\nE01,4", "U");
    row("counts: an unknown code is unknown", true, "コード,品名,数量\nE02,鉛筆,4", "N");
    row("counts: leading zeros lost", true, "コード,数量\n12,1", "E", excel + "0012 ?）");
}

void TestExchange::matchingNeverLandsOnAnotherProduct() {
    QFETCH(bool, counts);
    QFETCH(QString, csv);
    QFETCH(QString, actions);
    QFETCH(QString, says);
    TempStore t;
    t.addProduct("P001", "ボールペン", "本", 100);
    t.addProduct("P002", "ボールペン", "本", 120);
    t.addProduct("0012", "消しゴム", "個", 50);
    t.addProduct(QString(), "牛乳", "本", 200);
    t.addProduct("E01", "鉛筆", "本", 80);
    // The sheet: P001's line, and 鉛筆 typed by name.
    t.store().exec(Db::Work, "INSERT INTO w在庫表 (チェック, code, 品名, 数量) VALUES "
                             "(0, 'P001', 'ボールペン', 1), (0, NULL, '鉛筆', 2)");
    QStringList got;
    if (counts) {
        VALUE_OK(p, exchange::previewCounts(t.store(), table(csv)));
        QCOMPARE(::actions(p), actions);
        got = reasons(p);
        if (actions == "N" && csv.contains("E02"))
            QVERIFY(!p.lines[0].known);
        if (actions.startsWith('U')) { // its own line, and the preview says what changes
            QCOMPARE(p.lines[0].seq, csv.contains("E01") ? 2 : 1);
            QCOMPARE(p.lines[0].reason, QString(csv.contains("E01") ? "数量 2 → 4" : "数量 1 → 5"));
        }
    } else {
        VALUE_OK(p, exchange::previewProducts(t.store(), table(csv)));
        QCOMPARE(::actions(p), actions);
        got = reasons(p);
        if (actions == "U") { // P002 itself, never P001; the preview says what changes
            QCOMPARE(p.lines[0].id, 2);
            QCOMPARE(exchange::changeReason(p.lines[0]), QString("単価 120 → 130"));
        }
    }
    QCOMPARE(got.isEmpty(), says.isEmpty());
    if (!says.isEmpty())
        QVERIFY2(got[0].contains(says), qPrintable(got[0]));
}

namespace {
// The parts of a workbook as Excel writes them (shared strings with their
// reading aids, built-in date formats, formulas with their results), the
// cells of each sheet given as XML; `big` pads the first sheet to that many
// bytes unpacked.
QString excelLike(const QStringList& sheets, const QString& strings = QString(), qint64 big = 0) {
    const QString py = uR"(import sys, zipfile
sheets = [%1]
strings = '%2'
ns = 'xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"'
rel = 'http://schemas.openxmlformats.org/officeDocument/2006/relationships/'
z = zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED)
z.writestr('[Content_Types].xml', '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"/>')
z.writestr('_rels/.rels', '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="' + rel + 'officeDocument" Target="xl/workbook.xml"/></Relationships>')
z.writestr('xl/workbook.xml', '<workbook ' + ns + '><sheets>' + ''.join('<sheet name="S%d" sheetId="%d" r:id="rId%d"/>' % (i + 1, i + 1, i + 10) for i in range(len(sheets))) + '</sheets></workbook>')
z.writestr('xl/_rels/workbook.xml.rels', '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="' + rel + 'sharedStrings" Target="sharedStrings.xml"/><Relationship Id="rId2" Type="' + rel + 'styles" Target="styles.xml"/>' + ''.join('<Relationship Id="rId%d" Type="' % (i + 10) + rel + 'worksheet" Target="worksheets/sheet%d.xml"/>' % (i + 1) for i in range(len(sheets))) + '</Relationships>')
z.writestr('xl/sharedStrings.xml', '<sst ' + ns + '>' + strings + '</sst>')
z.writestr('xl/styles.xml', '<styleSheet ' + ns + '><numFmts count="2"><numFmt numFmtId="176" formatCode="yyyy&quot;年&quot;m&quot;月&quot;d&quot;日&quot;"/><numFmt numFmtId="177" formatCode="#,##0_ ;[Red]\-#,##0\ "/></numFmts><cellXfs count="5"><xf numFmtId="0"/><xf numFmtId="14" applyNumberFormat="1"/><xf numFmtId="176"/><xf numFmtId="177"/><xf numFmtId="20"/></cellXfs></styleSheet>')
for i, cells in enumerate(sheets):
    pad = ' ' * (%3 if i == 0 else 0)
    z.writestr('xl/worksheets/sheet%d.xml' % (i + 1), '<worksheet ' + ns + '><sheetData>' + cells + '</sheetData>' + pad + '</worksheet>')
z.close()
)"_qs;
    QStringList quoted;
    for (const QString& s : sheets)
        quoted << "'" + s + "'";
    return py.arg(quoted.join(','), strings).arg(big);
}

QString joined(const Table& t) {
    QStringList out;
    for (const QStringList& r : t.all())
        out << r.join(',');
    return out.join('|');
}
} // namespace

// What Stolva writes reads back as the same table: texts as typed (formula
// signs, apostrophes, codes of digits with leading zeros), numbers as
// numbers, the total as the last row; the imports take it back unchanged.
void TestExchange::workbookRoundTrip() {
    QTemporaryDir dir;
    Records r;
    r.kinds = {CellKind::Text, CellKind::Text, CellKind::Whole, CellKind::Money};
    r.rows << QStringList{"コード", "品名", "数量", "単価"};
    QVector<QStringList> expected{r.rows[0]};
    int n = 0;
    for (const auto& [name, text] :
         hostileTexts() + QVector<QPair<const char*, QString>>{{"zeros", "0012"},
                                                               {"jan", "4901234567894"},
                                                               {"typed apostrophe", "'=x"},
                                                               {"formula", "=1+1"},
                                                               {"escape-like", "_x0041_"}}) {
        (void)name;
        const QString price = n % 3 == 0 ? "1250.5" : n % 3 == 1 ? "-3" : "";
        r.rows << QStringList{guardFormula(text.left(30)), guardFormula(text),
                              QString::number(n * 1000), price};
        expected << QStringList{text.left(30), text, QString::number(n * 1000), price};
        ++n;
    }
    r.total = QStringList{"合計", "", "", "99.25"};
    expected << r.total;
    r.title = "2026-12-08 果物/野菜";
    const QString path = dir.path() + "/book.xlsx";
    VERIFY_OK(writeWorkbookFile(path, r));
    VALUE_OK(back, readTableFile(path));
    QCOMPARE(back.sheets, QStringList{"2026-12-08 果物_野菜"});
    QCOMPARE(back.all(), expected);

    // Another reader sees text cells for codes, numbers with #,##0 and the
    // header bold, frozen and filtered.
    QProcess p;
    p.start("/usr/bin/python3",
            {"-c",
             "import sys, openpyxl\n"
             "ws = openpyxl.load_workbook(sys.argv[1]).active\n"
             "print(ws.title, ws.freeze_panes, ws.auto_filter.ref, ws['A1'].font.b,\n"
             "      type(ws['A' + str(ws.max_row - 1)].value).__name__,\n"
             "      type(ws['C2'].value).__name__, ws['C3'].number_format,\n"
             "      ws['D2'].number_format, ws['D2'].value)",
             path});
    QVERIFY(p.waitForFinished(60000));
    QCOMPARE(QString::fromUtf8(p.readAllStandardOutput()).trimmed(),
             QString("2026-12-08 果物_野菜 A2 A1:D%1 True str int #,##0 #,##0.0 1250.5")
                 .arg(expected.size() - 1));
}

void TestExchange::workbooksOfOtherWriters_data() {
    QTest::addColumn<QString>("script");
    QTest::addColumn<int>("sheet");
    QTest::addColumn<QString>("table"); // records joined by | and cells by ,
    QTest::newRow("openpyxl: inline strings, parts named from the root")
        << QString("import sys, datetime, openpyxl\n"
                   "wb = openpyxl.Workbook(); ws = wb.active; ws.title = '商品'\n"
                   "ws.append(['コード', '品名', '単価', '日付', '有無'])\n"
                   "ws.append(['0012', 'りんご', 1250.5, datetime.date(2026, 12, 8), True])\n"
                   "ws.append(['4901234567894', \"'=x\", 12, None, None])\n"
                   "ws.append([None, None, 0.1 + 0.2, None, None])\n"
                   "wb.create_sheet('二枚目')['B2'] = 'あ'\n"
                   "wb.save(sys.argv[1])\n")
        << 0
        << "コード,品名,単価,日付,有無|0012,りんご,1250.5,2026/12/08,TRUE|"
           "4901234567894,'=x,12,,|,,0.3,,";
    QTest::newRow("openpyxl: the second sheet")
        << QString("import sys, openpyxl\n"
                   "wb = openpyxl.Workbook(); wb.active['A1'] = 'x'\n"
                   "ws = wb.create_sheet('二枚目'); ws['B2'] = 'あ'; ws['C3'] = 3\n"
                   "wb.save(sys.argv[1])\n")
        << 1 << ",,|,あ,|,,3";
    QTest::newRow("a cell whose start is damaged is left out")
        << excelLike({"<row r=\"1\"><c r=\"B1\"><v>1</v></c></row>"
                      "<row r=\"2\">2596=\"A2\"><v>5</v></c><c r=\"B2\"><v>2</v></c></row>"})
        << 0 << ",1|,2";
    QTest::newRow("openpyxl: an empty first sheet of two")
        << QString("import sys, openpyxl\n"
                   "wb = openpyxl.Workbook(); wb.create_sheet('二枚目')['A1'] = 'x'\n"
                   "wb.save(sys.argv[1])\n")
        << 0 << "";
    const QString strings =
        "<si><t>品名</t></si><si><t>数量</t></si>"
        "<si><r><t>りん</t></r><r><t>ご</t></r><rPh sb=\"0\" eb=\"3\"><t>リンゴ</t></rPh></si>"
        "<si><t xml:space=\"preserve\"> 空白 </t></si>";
    QTest::newRow("Excel: shared strings, readings, dates, formulas")
        << excelLike(
               {"<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\" t=\"s\"><v>1</v></c>"
                "<c r=\"C1\" t=\"s\"><v>3</v></c></row>"
                "<row r=\"3\"><c r=\"A3\" t=\"s\"><v>2</v></c><c r=\"B3\" s=\"3\"><v>1200</v></c>"
                "<c r=\"C3\" s=\"1\"><v>46364</v></c><c r=\"D3\" s=\"2\"><v>46364</v></c>"
                "<c r=\"E3\" s=\"4\"><v>0.5</v></c></row>"
                "<row r=\"4\"><c r=\"A4\" t=\"str\"><f>A3&amp;\"x\"</f><v>りんごx</v></c>"
                "<c r=\"B4\"><f>B3*2</f><v>2400</v></c><c r=\"C4\" t=\"e\"><v>#N/A</v></c>"
                "<c r=\"D4\" t=\"b\"><v>0</v></c><c r=\"F4\"><v>1E+20</v></c></row>"},
               strings)
        << 0
        << "品名,数量, 空白 ,,,|,,,,,|りんご,1200,2026/12/08,2026/12/08,12:00,|"
           "りんごx,2400,#N/A,FALSE,,100000000000000000000";
}

// Workbooks other programs write: openpyxl's inline strings and part names
// from the package root, Excel's shared strings (the reading aids left out),
// date formats shown as dates, a formula's stored result, a chosen sheet.
void TestExchange::workbooksOfOtherWriters() {
    QFETCH(QString, script);
    QFETCH(int, sheet);
    QFETCH(QString, table);
    const QByteArray bytes = pythonBook(script);
    QVERIFY(!bytes.isEmpty());
    VALUE_OK(t, parseWorkbook(bytes, sheet));
    QCOMPARE(t.sheet, sheet);
    QCOMPARE(joined(t), table);
    if (table.isEmpty()) { // the preview says the sheet is empty and offers the others
        TempStore store;
        const auto p = previewProducts(store.store(), t);
        QVERIFY(!p && p.value.header.problem && t.sheets.size() == 2);
        QVERIFY2(p.error().contains("シート「Sheet」は空です"), qPrintable(p.error()));
    }
}

namespace {
// The number formats Excel (Japanese and English), LibreOffice and openpyxl
// write, each on a value: label, format code, the value in Python, as read.
struct FormatRow {
    const char *label, *code, *value, *read;
    const char* readFromLibreOffice = nullptr; // where LibreOffice saves it otherwise
};
const FormatRow Formats[] = {
    {"General", "General", "1250", "1250"},
    // Read from their digits, or through a double where General shows otherwise.
    {"fifteen digits", "General", "123456789012345", "123456789012345"},
    {"sixteen digits", "General", "1234567890123456", "1234567890123456", "1234567890123460"},
    {"negative zero", "General", "-0.0", "0"},
    {"zero", "General", "0", "0"},
    {"general, a fraction", "general", "98.5", "98.5"},
    {"G/標準", "G/標準", "42", "42"},
    {"text", "@", "'0012'", "0012"},
    {"thousands", "#,##0_ ", "1200", "1200"},
    {"negative in red", "#,##0;[Red]-#,##0", "-3", "-3"},
    {"yen", "\"¥\"#,##0", "98", "98"},
    {"exponent", "0.00E+00", "1250", "1250"},
    {"elapsed hours", "[h]:mm", "1.5", "1.5"},
    // LibreOffice outside Japan saves the era format as General.
    {"Japanese era", "[$-ja-JP]ggge年m月d日", "datetime.date(2026, 12, 8)", "2026/12/08", "46364"},
    {"year/month/day", "yyyy/m/d", "datetime.date(2026, 12, 8)", "2026/12/08"},
    {"年月日", "yyyy\"年\"m\"月\"d\"日\"", "datetime.date(2026, 12, 8)", "2026/12/08"},
    {"a time", "h:mm", "datetime.time(12, 0)", "12:00"},
    {"a date with its time", "yyyy/m/d h:mm", "datetime.datetime(2026, 12, 8, 9, 30)",
     "2026/12/08 9:30"},
};

// One workbook with every format, as openpyxl writes it, and the same saved
// again by LibreOffice (empty when it is not installed); label -> value read.
QHash<QString, QString> formatsRead(const QString& writer) {
    static QHash<QString, QHash<QString, QString>> books;
    if (books.contains(writer))
        return books[writer];
    QString script = "import sys, datetime, openpyxl\nwb = openpyxl.Workbook(); ws = wb.active\n";
    for (const FormatRow& f : Formats)
        script += QString("ws.append([%1, %2]); ws.cell(ws.max_row, 2).number_format = %3\n")
                      .arg("'" + QString::fromUtf8(f.label) + "'", QString::fromUtf8(f.value),
                           "'" + QString::fromUtf8(f.code).replace("\\", "\\\\") + "'");
    QByteArray bytes = pythonBook(script + "wb.save(sys.argv[1])\n");
    if (writer == "LibreOffice") {
        QTemporaryDir dir;
        QFile in(dir.filePath("in.xlsx"));
        in.open(QIODevice::WriteOnly);
        in.write(bytes);
        in.close();
        QDir().mkpath(dir.filePath("out"));
        QProcess p;
        p.start("soffice", {"-env:UserInstallation=file://" + dir.filePath("profile"), "--headless",
                            "--convert-to", "xlsx:Calc MS Excel 2007 XML", "--outdir",
                            dir.filePath("out"), in.fileName()});
        p.waitForFinished(120000);
        QFile out(dir.filePath("out/in.xlsx"));
        bytes = out.open(QIODevice::ReadOnly) ? out.readAll() : QByteArray();
    }
    QHash<QString, QString> read;
    if (const auto t = parseWorkbook(bytes, 0); t)
        for (const QStringList& r : t.value.all())
            read.insert(r.value(0), r.value(1));
    return books[writer] = read;
}
} // namespace

void TestExchange::numberFormatsOfOtherWriters_data() {
    QTest::addColumn<QString>("writer");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("read");
    for (const char* writer : {"openpyxl", "LibreOffice"})
        for (const FormatRow& f : Formats)
            QTest::newRow(qPrintable(QString("%1: %2").arg(writer, f.label)))
                << writer << QString::fromUtf8(f.label)
                << QString::fromUtf8(QByteArray(writer) == "LibreOffice" && f.readFromLibreOffice
                                         ? f.readFromLibreOffice
                                         : f.read);
}

// A number is a date only where its format shows one: LibreOffice's General
// is no date although it holds an e.
void TestExchange::numberFormatsOfOtherWriters() {
    QFETCH(QString, writer);
    QFETCH(QString, label);
    QFETCH(QString, read);
    if (writer == "LibreOffice" && QStandardPaths::findExecutable("soffice").isEmpty())
        QSKIP("LibreOffice (libreoffice-calc-nogui) is not installed");
    const QHash<QString, QString> book = formatsRead(writer);
    QVERIFY2(!book.isEmpty(), qPrintable(writer + " wrote no workbook"));
    QCOMPARE(book.value(label), read);
}

void TestExchange::workbookRefused_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("sheet");
    QTest::addColumn<QString>("says");
    const QByteArray book = pythonBook("import sys, openpyxl\nwb = openpyxl.Workbook(); "
                                       "wb.active['A1'] = 'x'\nwb.save(sys.argv[1])\n");
    QTest::newRow("cut short") << book.left(book.size() / 2) << 0 << "読めません";
    QTest::newRow("no such sheet") << book << 1 << "2 枚目のシートはありません";
    QTest::newRow("a zip of something else")
        << pythonBook("import sys, zipfile\nz = zipfile.ZipFile(sys.argv[1], 'w')\n"
                      "z.writestr('a.txt', 'x'); z.close()\n")
        << 0 << "Excel ブック（.xlsx）ではありません";
    QTest::newRow("a sheet that unpacks to 130 MB")
        << pythonBook(excelLike({"<row><c><v>1</v></c></row>"}, QString(), 130 << 20)) << 0
        << "読めません";
    QTest::newRow("a part claiming 4 GB packed")
        << pythonBook(
               "import sys, openpyxl, struct\nwb = openpyxl.Workbook(); wb.save(sys.argv[1])\n"
               "b = bytearray(open(sys.argv[1], 'rb').read())\n"
               "at = b.find(b'PK\\x01\\x02')\n"
               "b[at + 20:at + 24] = struct.pack('<I', 0xFFFFF000)\n"
               "open(sys.argv[1], 'wb').write(b)\n")
        << 0 << "読めません";
    QTest::newRow("a cell far to the right")
        << pythonBook(excelLike({"<row r=\"1\"><c r=\"XFD1\"><v>1</v></c></row>"})) << 0
        << "列が多すぎます";
    QTest::newRow("a row past the last a sheet may have")
        << pythonBook(excelLike({"<row r=\"1048576\"><c r=\"A1048576\"><v>1</v></c></row>"})) << 0
        << "取り込めるのは 1000000 行まで";
    QTest::newRow("a character past U+10FFFF")
        << pythonBook(excelLike({"<row><c t=\"inlineStr\"><is><t>&#x110000;</t></is></c></row>"}))
        << 0 << "読めません";
    QTest::newRow("a negative character")
        << pythonBook(excelLike({"<row><c t=\"inlineStr\"><is><t>&#-5;</t></is></c></row>"})) << 0
        << "読めません";
    QTest::newRow("40,000 rows, each with a cell at IV")
        << pythonBook(excelLike({"' + ''.join('<row><c r=\"IV%d\"><v>1</v></c></row>' % i "
                                 "for i in range(1, 40001)) + '"}))
        << 0 << "シートのデータが多すぎて読み込めません";
    QTest::newRow("XML cut short")
        << pythonBook(excelLike({"<row><c><v>1</v></c></row><"})) << 0 << "読めません";
    // The parser would read past the end of a part that ends inside a value,
    // a tag, a comment or an entity.
    for (const char* cut : {"<Relationships><Relationship Type=\"x", "<Relationships><Rel",
                            "<Relationships><!-- x", "<Relationships>&amp"})
        QTest::newRow(qPrintable(QString("package relations ending in: %1").arg(cut)))
            << pythonBook(QString("import sys, zipfile\nz = zipfile.ZipFile(sys.argv[1], 'w')\n"
                                  "z.writestr('_rels/.rels', '%1'); z.close()\n")
                              .arg(cut))
            << 0 << "読めません";
    // A hundred rows written by openpyxl, the sheet's part then cut or its size overstated.
    const QString hundred = uR"(import sys, io, zipfile, struct, openpyxl
wb = openpyxl.Workbook(); ws = wb.active
ws.append(['コード', '品名', '数量'])
for i in range(100): ws.append(['C%d' % i, '品%d' % i, i])
mem = io.BytesIO(); wb.save(mem)
src = zipfile.ZipFile(mem); sheet = b'xl/worksheets/sheet1.xml'
z = zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED)
for n in src.namelist():
    d = src.read(n)
    if n == sheet.decode() and %1:
        at = 0
        for _ in range(50): at = d.index(b'</row>', at) + 6
        d = d[:at]
    z.writestr(n, d)
z.close()
b = bytearray(open(sys.argv[1], 'rb').read())
for sig, size_at, name_at in ((b'PK\x03\x04', 22, 30), (b'PK\x01\x02', 24, 46)):
    at = b.find(sig)
    while %2 and at >= 0:
        if b[at + name_at:at + name_at + len(sheet)] == sheet:
            b[at + size_at:at + size_at + 4] = struct.pack('<I', struct.unpack('<I', b[at + size_at:at + size_at + 4])[0] + 100)
        at = b.find(sig, at + 4)
open(sys.argv[1], 'wb').write(b)
)"_qs;
    QVERIFY(parseWorkbook(pythonBook(hundred.arg("False", "False")))); // whole, it reads
    QTest::newRow("a sheet cut at a row boundary")
        << pythonBook(hundred.arg("True", "False")) << 0 << "壊れています";
    QTest::newRow("a sheet shorter than its declared size")
        << pythonBook(hundred.arg("False", "True")) << 0 << "壊れています";
}

// Damaged or hostile workbooks are refused with a message, never read in part.
void TestExchange::workbookRefused() {
    QFETCH(QByteArray, bytes);
    QFETCH(int, sheet);
    QFETCH(QString, says);
    QVERIFY(!bytes.isEmpty());
    const auto r = parseWorkbook(bytes, sheet);
    QVERIFY(!r);
    QVERIFY2(r.error().contains(says), qPrintable(r.error()));
}

namespace {
// The largest the process has been since the last reset, and a reset.
qint64 peakBytes(bool reset) {
    if (reset) {
        QFile clear("/proc/self/clear_refs");
        if (clear.open(QIODevice::WriteOnly))
            clear.write("5");
    }
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong() * 1024;
    return -1;
}
} // namespace

// A workbook of 1.5 KB with a cell at IV1 and one at A1000000 is previewed
// as the one record it holds, within the memory a preview may use.
void TestExchange::farCellsCostWhatTheyHold() {
    const QByteArray bytes = pythonBook(excelLike(
        {"<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>品名</t></is></c>"
         "<c r=\"IV1\" t=\"inlineStr\"><is><t>備考</t></is></c></row>"
         "<row r=\"1000000\"><c r=\"A1000000\" t=\"inlineStr\"><is><t>りんご</t></is></c></row>"}));
    QVERIFY(!bytes.isEmpty() && bytes.size() < 4096);
    const qint64 before = peakBytes(true);
    VALUE_OK(t, parseWorkbook(bytes));
    QCOMPARE(t.size(), qsizetype(1000000));
    int visited = 0;
    t.forEach([&](qsizetype i, const QStringList& rec) {
        const bool holds = i == 0 || i == 999999;
        if (rec.size() != 256 || (holds != !rec.join(QString()).isEmpty()))
            return false;
        ++visited;
        return true;
    });
    QCOMPARE(visited, 1000000);
    TempStore store;
    VALUE_OK(p, previewProducts(store.store(), t));
    QCOMPARE(p.count(RowAction::New), 1);
    if (before > 0)
        QVERIFY2(peakBytes(false) - before < 300ll << 20,
                 qPrintable(QString("%1 MB").arg((peakBytes(false) - before) >> 20)));
}

void TestExchange::chosenColumns_data() {
    QTest::addColumn<QString>("csv");
    QTest::addColumn<QString>("chosen"); // field=column,…
    QTest::addColumn<QString>("actions");
    QTest::addColumn<QString>("master");
    const QString before = "A01:りんご:100 :牛乳:200";
    QTest::newRow("names of another program") << "商品名,売価\nみかん,80\nりんご,100"
                                              << "品名=0,単価=1"
                                              << "N=" << before + " :みかん:80";
    QTest::newRow("a column left out is not read") << "商品名,売価\nりんご,120"
                                                   << "品名=0"
                                                   << "=" << before;
    QTest::newRow("a column chosen twice counts once") << "品名,単価\nりんご,130"
                                                       << "品名=0,単価=0"
                                                       << "=" << before;
    QTest::newRow("no name chosen") << "商品名,売価\nみかん,80"
                                    << "単価=1"
                                    << "" << before;
}

// Columns whose names differ from ours, read as the user chose them.
void TestExchange::chosenColumns() {
    QFETCH(QString, csv);
    QFETCH(QString, chosen);
    QFETCH(QString, actions);
    QFETCH(QString, master);
    TempStore t;
    seedMaster(t);
    Table file = table(csv);
    for (const QString& pair : chosen.split(','))
        file.chosen.insert(pair.section('=', 0, 0), pair.section('=', 1).toInt());
    const auto r = exchange::importProducts(t.store(), file);
    if (actions.isEmpty()) {
        QVERIFY(!r && r.value.header.problem);
        QCOMPARE(r.value.header.cells, QStringList({"商品名", "売価"}));
    } else {
        VERIFY_OK(r);
        QCOMPARE(::actions(r.value), actions);
    }
    QStringList products;
    for (const Row& p :
         t.store().query(Db::Main, "SELECT code, 品名, 単価 FROM 商品マスタ ORDER BY id"))
        products << QString("%1:%2:%3").arg(p[0].toString(), p[1].toString(), p[2].toString());
    QCOMPARE(products.join(' '), master);
}

QTEST_GUILESS_MAIN(TestExchange)
// キャンセル during a long preview or write leaves the master and the sheet as
// they were.
void TestExchange::cancelledImportsWriteNothing() {
    TempStore t;
    seedMaster(t);
    exchange::Table file;
    file.records << QStringList{"コード", "品名", "数量"};
    for (int i = 0; i < 3 * exchange::ProgressStep; ++i)
        file.records << QStringList{QString("N%1").arg(i), QString("新%1").arg(i), "1"};
    const exchange::Progress stopAtOnce = [](qint64, qint64) { return false; };
    int calls = 0;
    const exchange::Progress stopLater = [&](qint64 done, qint64 total) {
        ++calls;
        return done < total / 2;
    };
    QVERIFY(!exchange::previewProducts(t.store(), file, stopAtOnce));
    // A file of errors keeps the first ones to show and counts the rest.
    exchange::Table errors;
    errors.records << QStringList{"品名", "単価"};
    for (int i = 0; i < exchange::MaxShownErrors + 5; ++i)
        errors.records << QStringList{"x", "?"};
    VALUE_OK(bad, exchange::previewProducts(t.store(), errors));
    QCOMPARE(bad.lines.size(), exchange::MaxShownErrors);
    QCOMPARE(bad.count(exchange::RowAction::Error), exchange::MaxShownErrors + 5);
    VALUE_OK(products, exchange::previewProducts(t.store(), file));
    const QStringList master = t.dump(Db::Main, "商品マスタ");
    const Status s = exchange::importProducts(t.store(), products, stopLater);
    QVERIFY(!s);
    QVERIFY2(s.error.contains("取り消しました"), qPrintable(s.error));
    QVERIFY(calls > 1);
    QCOMPARE(t.dump(Db::Main, "商品マスタ"), master);
    VERIFY_OK(exchange::importProducts(t.store(), products));
    VALUE_OK(counts, exchange::previewCounts(t.store(), file));
    const QStringList sheet = t.dump(Db::Work, "w在庫表");
    QVERIFY(!exchange::importCounts(t.store(), counts, false, stopLater));
    QCOMPARE(t.dump(Db::Work, "w在庫表"), sheet);
    // Done, every product is a line of its own: the blank lines first, then more.
    VALUE_OK(done, exchange::importCounts(t.store(), counts, false));
    QCOMPARE(done.filled, 3 * exchange::ProgressStep);
    QCOMPARE(t.count(Db::Work, "w在庫表", "数量 = 1"), 3 * exchange::ProgressStep);
}

#include "tst_exchange.moc"
