#include "app/FrmStolva.h"
#include "app/Startup.h"
#include "books/BooksReport.h"
#include "products/ProductReport.h"
#include "products/ProductTab.h"
#include "report/Paint.h"
#include "sheet/SheetOps.h"
#include "sheet/SheetReport.h"
#include "sheet/SheetTab.h"
#include "tests/window_fixture.h"
#include "widgets/DateBox.h"
#include "widgets/Grids.h"
#include "widgets/NumberBox.h"
#include "work/WorkRows.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFontMetricsF>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QPrintPreviewDialog>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolBar>

Q_DECLARE_METATYPE(sheet::Form)

using report::Page;

namespace {
// The text of the first placed item with that name on a page ("" if absent).
QString textOf(const Page& p, const QString& name, int nth = 0) {
    for (const report::Placed& it : p.items)
        if (it.name == name && nth-- == 0)
            return it.text;
    return QStringLiteral("<absent>");
}
int countOf(const Page& p, const QString& name) {
    int n = 0;
    for (const report::Placed& it : p.items)
        n += it.name == name;
    return n;
}
QVector<report::RowValues> lines(int n) {
    QVector<report::RowValues> rows;
    for (int i = 1; i <= n; ++i)
        rows.append({{"code", QString("C%1").arg(i)},
                     {"品名", QString("品%1").arg(i)},
                     {"数量", i},
                     {"適正数", 5},
                     {"増減", i - 5},
                     {"単位", "個"},
                     {"単価", 1200},
                     {"金額", i * 1200}});
    return rows;
}
} // namespace

class TestReport : public QObject {
    Q_OBJECT
  private slots:
    void headingTexts();
    void fieldFormats_data();
    void fieldFormats();
    void paginationKeepsBlocksWhole();
    void everyItemWithinThePaper();
    void longTextEndsInAnEllipsis();
    void breaksPrintAsSpaces();
    void productReportHeading();
    void printFromTheWindow();
    void pdfIsWritten();
    void realPreviewOpensWithPdfAction();
    void inventoryForTheBooks_data();
    void inventoryForTheBooks();
    void formsToCountOnByHand_data();
    void formsToCountOnByHand();
    void countFormsShelfByShelf_data();
    void countFormsShelfByShelf();
    void rowsOfDifferentFields();
};

void TestReport::headingTexts() {
    Page p = report::layout(sheet::sheetReport({"2024年01月05日", "", ""}), {}).first();
    QCOMPARE(textOf(p, "txt日付"), QString("2024年01月05日"));
    QCOMPARE(textOf(p, "Lbl商品区分"), QString("<absent>"));
    QCOMPARE(textOf(p, "txt商品区分"), QString());
    QCOMPARE(textOf(p, "Label6"), QString("　　商品コード　　　　品　　　　　　名"));
    QCOMPARE(textOf(p, "Label13"), QString("Page"));
    QCOMPARE(textOf(p, "Field2"), QString("1"));
    p = report::layout(sheet::sheetReport({"", "青果", "12,345"}), {}).first();
    QCOMPARE(textOf(p, "Lbl商品区分"), QString("商品区分"));
    QCOMPARE(textOf(p, "txt商品区分"), QString("青果"));
    QCOMPARE(textOf(p, "txt合計金額"), QString("12,345"));
    // Positions in twips from the paper corner: left margin 100, top 500.
    for (const report::Placed& it : p.items)
        if (it.name == "Label1")
            QCOMPARE(it.rect, QRect(100 + 280, 500 + 50, 1347, 354));
}

void TestReport::longTextEndsInAnEllipsis() {
    QFont f;
    f.setPointSize(10);
    const QFontMetricsF fm(f);
    const QString name = QString(60, QChar(0x5728)) + "X";
    const QString shown = report::fittedText(name, fm, 200);
    QVERIFY(shown.endsWith(QChar(0x2026)));
    QVERIFY(fm.horizontalAdvance(shown) <= 200);
    QCOMPARE(report::fittedText("りんご", fm, 200), QString("りんご"));
}

// A name holding a line break or a tab prints on its one line, as spaces.
void TestReport::breaksPrintAsSpaces() {
    const auto painted = [](const QString& text) {
        QImage img(600, 80, QImage::Format_RGB32);
        img.fill(Qt::white);
        QPainter p(&img);
        report::Page page;
        page.items << report::Placed{
            "t", report::ItemKind::Label, QRect(0, 0, 9000, 900), text, Qt::AlignLeft, 10, false};
        report::paint(page, p, 600 / 9000.0);
        return img;
    };
    const QImage spaced = painted("りんご 青森 産");
    QCOMPARE(painted("りんご\n青森\t産"), spaced);
    QVERIFY(painted("りんご") != spaced);
}

void TestReport::fieldFormats_data() {
    QTest::addColumn<QString>("field");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("shown");
    QTest::newRow("quantity 0 prints 0") << "txt数量" << QVariant(0) << "0";
    QTest::newRow("amount 0 prints nothing") << "txt金額" << QVariant(0) << "";
    QTest::newRow("negative change") << "txt増減" << QVariant(-1234) << "-1,234";
    QTest::newRow("price grouped") << "txt単価" << QVariant(1250) << "1,250";
    QTest::newRow("six digits, no separator first") << "txt増減" << QVariant(-123456) << "-123,456";
    QTest::newRow("a trillion") << "txt金額" << QVariant(1234567890123LL) << "1,234,567,890,123";
    // A price with a fraction is printed as stored, beside its amount.
    QTest::newRow("price with decimals") << "txt単価" << QVariant(1250.4) << "1,250.4";
    QTest::newRow("price of four decimals") << "txt単価" << QVariant(98.1255) << "98.1255";
    QTest::newRow("null quantity") << "txt数量" << QVariant() << "";
    QTest::newRow("name as stored") << "txt品名" << QVariant(" りんご 'A' ") << " りんご 'A' ";
}

void TestReport::fieldFormats() {
    QFETCH(QString, field);
    QFETCH(QVariant, value);
    QFETCH(QString, shown);
    const report::Definition d = sheet::sheetReport({});
    QString bound;
    for (const report::Item& it : d.detail.items)
        if (it.name == field)
            bound = it.field;
    QVERIFY(!bound.isEmpty());
    const Page p = report::layout(d, {{{bound, value}}}).first();
    QCOMPARE(textOf(p, field), shown);
}

void TestReport::paginationKeepsBlocksWhole() {
    const report::Definition d = sheet::sheetReport({"2024年01月05日", "", "48,000"});
    const QVector<Page> pages = report::layout(d, lines(40));
    QCOMPARE(pages.size(), 2);
    const int perPage = (16838 - 500 - 800 - 1060) / 660;
    QCOMPARE(countOf(pages[0], "txtcode"), perPage);
    QCOMPARE(countOf(pages[1], "txtcode"), 40 - perPage);
    for (int i = 0; i < pages.size(); ++i) {
        QCOMPARE(textOf(pages[i], "Field2"), QString::number(i + 1));
        QCOMPARE(textOf(pages[i], "txt日付"), QString("2024年01月05日"));
        QCOMPARE(countOf(pages[i], "Line1"), countOf(pages[i], "txtcode"));
    }
    QCOMPARE(textOf(pages[1], "txtcode"), QString("C%1").arg(perPage + 1));
    // An empty sheet prints the header only.
    const QVector<Page> empty = report::layout(d, {});
    QCOMPARE(empty.size(), 1);
    QCOMPARE(countOf(empty[0], "txtcode"), 0);
}

void TestReport::everyItemWithinThePaper() {
    for (const report::Definition& d :
         {sheet::sheetReport({"x", "y", "z"}), products::productReport("y", QDate(2007, 4, 4))}) {
        for (const Page& p : report::layout(d, lines(50))) {
            for (const report::Placed& it : p.items) {
                QVERIFY2(it.rect.left() >= d.marginLeft, qPrintable(it.name));
                QVERIFY2(it.rect.left() + it.rect.width() <= d.paperWidth - d.marginRight,
                         qPrintable(it.name));
                QVERIFY2(it.rect.top() + it.rect.height() <= d.paperHeight - d.marginBottom,
                         qPrintable(it.name));
            }
        }
    }
}

void TestReport::productReportHeading() {
    const Page p =
        report::layout(products::productReport("青果", QDate(2007, 4, 4)),
                       {{{"code", "A1"}, {"品名", "りんご"}, {"単価", 0}, {"適正数", 12}}})
            .first();
    QCOMPARE(textOf(p, "Label1"), QString("商品情報"));
    QCOMPARE(textOf(p, "txt日付"), QString("2007年04月04日"));
    QCOMPARE(textOf(p, "txt商品区分"), QString("青果"));
    QCOMPARE(textOf(p, "Label6"), QString("　　商品コード　　　　　品　　　　　　　　名"));
    QCOMPARE(textOf(p, "Label12"), QString("商品区分"));
    QCOMPARE(textOf(p, "txt単価"), QString());
    QCOMPARE(textOf(p, "txt適正数"), QString("12"));
}

void TestReport::printFromTheWindow() {
    Started started;
    FrmStolva& w = *started.w;
    ScriptedMessages& msgs = started.msgs;
    QVector<Page> shown;
    QString title;
    w.previewPages = [&](const QVector<Page>& pages, const QString& t) {
        shown = pages;
        title = t;
    };
    WorkTableModel* m = w.sheetTab()->model();
    m->setData(m->index(0, sheet::ColName), "一");
    m->setData(m->index(3, sheet::ColName), "二");
    m->setData(m->index(3, sheet::ColPrice), "12345");
    m->setData(m->index(3, sheet::ColQty), "1");
    w.findChild<DateBox*>("dt日付")->setValue(QDate(2024, 1, 5));
    w.findChild<QPushButton*>("Cmd印刷")->click();
    QCOMPARE(title, QString("在庫表"));
    QCOMPARE(shown.size(), 1);
    QCOMPARE(textOf(shown[0], "txt品名", 0), QString("一"));
    QCOMPARE(textOf(shown[0], "txt品名", 1), QString("二"));
    QCOMPARE(countOf(shown[0], "txt品名"), 2);
    QCOMPARE(textOf(shown[0], "txt日付"), QString("2024年01月05日"));
    QCOMPARE(textOf(shown[0], "txt合計金額"), QString("12,345"));
    QCOMPARE(textOf(shown[0], "Lbl商品区分"), QString("<absent>"));
    QCOMPARE(w.sheetTab()->PrintDate, QString("2024年01月05日"));
    // Each print refills its table; an empty date prints an empty heading.
    m->setData(m->index(0, sheet::ColName), "");
    w.findChild<DateBox*>("dt日付")->setNull();
    w.findChild<QPushButton*>("Cmd印刷")->click();
    QCOMPARE(countOf(shown[0], "txt品名"), 1);
    QCOMPARE(textOf(shown[0], "txt日付"), QString());
    QCOMPARE(w.store().scalar(Db::Work, "SELECT count(*) FROM w在庫表印刷").toInt(), 1);
    // The product list prints its unregistered edits, headed by the panel's category.
    w.store().exec(Db::Main, "INSERT INTO 商品マスタ (code, 品名) VALUES ('A1', 'りんご')");
    w.productTab()->Read商品情報();
    w.productTab()->model()->setData(w.productTab()->model()->index(0, 2), "ふじ");
    w.findChild<QComboBox*>("cmb商品区分")->setEditText("果物");
    w.findChild<QPushButton*>("cmd商品印刷")->click();
    QCOMPARE(title, QString("商品情報"));
    QCOMPARE(textOf(shown[0], "txt品名"), QString("ふじ"));
    QCOMPARE(textOf(shown[0], "txt商品区分"), QString("果物"));
    QCOMPARE(textOf(shown[0], "txt日付"), QDate::currentDate().toString("yyyy年MM月dd日"));
    QCOMPARE(w.store().scalar(Db::Work, "SELECT 品名 FROM w商品マスタ印刷").toString(),
             QString("ふじ"));
    QVERIFY(msgs.presenter.shown.isEmpty());
}

// Writes a three-page sheet and a product list as PDF; with STOLVA_REPORT_DIR
// set they are kept there (the screenshot script turns them into pictures).
void TestReport::pdfIsWritten() {
    QTemporaryDir tmp;
    QString out = qEnvironmentVariable("STOLVA_REPORT_DIR");
    if (out.isEmpty())
        out = tmp.path();
    QDir().mkpath(out);
    QVector<report::RowValues> rows = lines(50);
    rows[2].insert("数量", 0);
    rows[2].insert("金額", 0);
    const QVector<Page> sheetPages =
        report::layout(sheet::sheetReport({"2024年01月05日", "青果", "1,530,000"}), rows);
    QCOMPARE(sheetPages.size(), 3);
    QVERIFY(report::writePdf(sheetPages, out + "/sheet-report.pdf", "在庫表"));
    QVector<report::RowValues> products;
    for (int i = 1; i <= 30; ++i)
        products.append({{"code", QString("A%1").arg(i, 3, 10, QChar('0'))},
                         {"品名", QString("商品 %1").arg(i)},
                         {"単位", "個"},
                         {"単価", i * 110},
                         {"適正数", i % 7},
                         {"商品区分", "青果"}});
    QVERIFY(report::writePdf(
        report::layout(products::productReport("青果", QDate::currentDate()), products),
        out + "/product-report.pdf", "商品情報"));
    QFile f(out + "/sheet-report.pdf");
    QVERIFY(f.open(QIODevice::ReadOnly));
    QVERIFY(f.read(5) == "%PDF-");
    QVERIFY(f.size() > 5000);
    // The text layer holds the real characters (日, 月, 金), not the look-alike
    // radicals the font draws with the same glyphs: the PDF can be searched.
    if (QStandardPaths::findExecutable("pdftotext").isEmpty())
        QSKIP("pdftotext (poppler-utils) is not installed");
    QProcess extract;
    extract.start("pdftotext", {out + "/sheet-report.pdf", "-"});
    QVERIFY(extract.waitForFinished(10000));
    const QString text = QString::fromUtf8(extract.readAllStandardOutput());
    for (const char* word : {"日付", "2024年01月05日", "金額", "青果"})
        QVERIFY2(text.contains(QString::fromUtf8(word)), word);
    for (const char16_t radical : {u'\u2F47', u'\u2F49', u'\u2FA6', u'\u2ED8'})
        QVERIFY(!text.contains(QChar(radical)));
}

void TestReport::inventoryForTheBooks_data() {
    QTest::addColumn<bool>("closed");
    QTest::addColumn<QStringList>("found");
    QTest::addColumn<QStringList>("absent");
    const QStringList both{
        "棚卸表",   "2026年12月31日現在",   "やまだ商店",     "東京都千代田区", "最終仕入原価法",
        "税抜経理", "種類・品質・型",       "小計　果物",     "小計　食品",     "合　計",
        "5,632",    "棚卸担当　佐藤、山田", "責任者（署名）", "1 / 2",          "2 / 2",
        "品 40"};
    QTest::newRow("closed") << true << both << QStringList{"未確定"};
    QTest::newRow("not closed") << false << (both + QStringList{"未確定"}) << QStringList{};
}

// The 棚卸表 of a seeded count, as the PDF's text layer reads.
void TestReport::inventoryForTheBooks() {
    QFETCH(bool, closed);
    QFETCH(QStringList, found);
    QFETCH(QStringList, absent);
    if (QStandardPaths::findExecutable("pdftotext").isEmpty())
        QSKIP("pdftotext (poppler-utils) is not installed");
    books::Inventory inv;
    inv.date = QDate(2026, 12, 31);
    inv.closed = closed;
    inv.company = "やまだ商店";
    inv.address = "東京都千代田区";
    inv.settings.accounting = "税抜経理";
    inv.counters = QStringList{"佐藤", "山田"};
    books::InventoryGroup fruit{"果物", {}, 0}, food{"食品", {}, 0};
    for (int i = 1; i <= 40; ++i)
        fruit.lines << books::InventoryLine{QString("品 %1").arg(i), "個", 1,
                                            Currency::fromWhole(40), 40,   10};
    fruit.subtotal = 1600;
    food.lines << books::InventoryLine{"米", "袋", 2, Currency::fromWhole(2016), 4032, 8};
    food.subtotal = 4032;
    inv.groups = {fruit, food};
    inv.total = 5632;
    const QVector<Page> pages = books::inventoryPages(inv);
    QCOMPARE(pages.size(), 2);
    QTemporaryDir tmp;
    const QString pdf = tmp.path() + "/棚卸表.pdf";
    QVERIFY(report::writePdf(pages, pdf, "棚卸表"));
    if (const QString keep = qEnvironmentVariable("STOLVA_REPORT_DIR"); !keep.isEmpty())
        QFile::copy(pdf, keep + (closed ? "/inventory-report.pdf" : "/inventory-open.pdf"));
    QProcess extract;
    extract.start("pdftotext", {"-layout", pdf, "-"});
    QVERIFY(extract.waitForFinished(10000));
    const QString text = QString::fromUtf8(extract.readAllStandardOutput());
    // The layout keeps a page's columns apart; spaces within a text may go.
    const auto squeeze = [](QString t) { return t.remove(' ').remove(QChar(0x3000)); };
    for (const QString& word : found)
        QVERIFY2(squeeze(text).contains(squeeze(word)), qPrintable(word));
    for (const QString& word : absent)
        QVERIFY2(!squeeze(text).contains(word), qPrintable(word));
    // Every page is headed: the date and the columns stand on the second page too.
    const QString second = squeeze(text.section(QChar('\f'), 1));
    QVERIFY(second.contains("2026年12月31日現在") && second.contains("金額"));
}

// The print preview itself: it opens over the window, paints the pages on
// the printer and offers saving as PDF.
void TestReport::realPreviewOpensWithPdfAction() {
    Started started;
    FrmStolva& w = *started.w;
    ScriptedMessages& msgs = started.msgs;
    w.sheetTab()->model()->setData(w.sheetTab()->model()->index(0, sheet::ColName), "一");
    w.findChild<DateBox*>("dt日付")->setValue(QDate(2026, 12, 31));
    w.findChild<QComboBox*>("cmb商品区分在庫")->setEditText("果物");
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    QDir().mkpath(documents);
    QTemporaryDir dir;
    QString offered;
    bool sawPreview = false, sawPdf = false;
    QTimer::singleShot(0, [&] {
        auto* dlg = qobject_cast<QPrintPreviewDialog*>(QApplication::activeModalWidget());
        sawPreview = dlg != nullptr;
        if (dlg) {
            sawPdf = dlg->findChild<QAction*>("pdfSave") != nullptr;
            auto* forms = dlg->findChild<QComboBox*>("cmb印刷様式");
            sawPdf = sawPdf && forms && forms->count() == 3 &&
                     forms->itemText(1) == QString("記入用（数量なし）");
            // Both stand in a row of their own, shown whatever the width.
            dlg->resize(640, 480);
            QCoreApplication::processEvents();
            auto* bar = dlg->findChild<QToolBar*>("bar印刷");
            sawPdf = sawPdf && bar && forms->isVisible() &&
                     bar->widgetForAction(dlg->findChild<QAction*>("pdfSave"))->isVisible();
            // Saved as PDF under the sheet's date and category, offered in the documents.
            user::whenShown("dlgPDF保存", [&](QWidget* d) {
                auto* files = qobject_cast<QFileDialog*>(d);
                offered = files->directory().absolutePath() + "/" +
                          d->findChild<QLineEdit*>("fileNameEdit")->text();
                user::click(d->findChild<QLineEdit*>("fileNameEdit"));
                user::key(Qt::Key_A, Qt::ControlModifier);
                user::keys(dir.filePath("sheet.pdf"));
                user::key(Qt::Key_Return);
            });
            user::click(bar->widgetForAction(dlg->findChild<QAction*>("pdfSave")));
            dlg->reject();
        }
    });
    w.findChild<QPushButton*>("Cmd印刷")->click();
    QVERIFY(sawPreview);
    QVERIFY(sawPdf);
    QVERIFY(msgs.presenter.shown.isEmpty());
    QCOMPARE(offered, documents + "/在庫表_2026-12-31_果物.pdf");
    QFile pdf(dir.filePath("sheet.pdf"));
    QVERIFY(pdf.open(QIODevice::ReadOnly));
    QVERIFY(pdf.read(5) == "%PDF-");
}

void TestReport::formsToCountOnByHand_data() {
    QTest::addColumn<sheet::Form>("form");
    QTest::addColumn<QString>("texts"); // the texts of one line, in layout order
    QTest::addColumn<int>("boxes");
    QTest::newRow("counted") << sheet::Form::Counted << "A01|りんご|7|10|-3|個|120|840" << 0;
    QTest::newRow("blank") << sheet::Form::Blank << "A01|りんご|10|個|120" << 3;
    QTest::newRow("blind") << sheet::Form::Blind << "A01|りんご|個|120" << 3;
}

void TestReport::formsToCountOnByHand() {
    QFETCH(sheet::Form, form);
    QFETCH(QString, texts);
    QFETCH(int, boxes);
    const report::RowValues row{{"code", "A01"}, {"品名", "りんご"}, {"数量", 7},   {"適正数", 10},
                                {"増減", -3},    {"単位", "個"},     {"単価", 120}, {"金額", 840}};
    const auto pages =
        report::layout(sheet::sheetReport({"2026年12月08日", "果物", "840"}, form), {row});
    QStringList shown;
    int boxCount = 0;
    bool total = false;
    for (const report::Placed& p : pages[0].items) {
        if (p.name.startsWith("txt") && p.kind == report::ItemKind::Field && p.name != "txt棚番")
            shown << p.text;
        boxCount += p.kind == report::ItemKind::Box;
        total = total || p.text == "840";
    }
    QCOMPARE(shown.join('|'), texts);
    QCOMPARE(boxCount, boxes);
    QCOMPARE(total, form == sheet::Form::Counted); // neither the amount nor the total
    // A form to write on is titled as one.
    const bool titled = std::any_of(pages[0].items.begin(), pages[0].items.end(),
                                    [](const report::Placed& p) { return p.text == "棚卸記入表"; });
    QCOMPARE(titled, form != sheet::Form::Counted);
}

void TestReport::countFormsShelfByShelf_data() {
    QTest::addColumn<QString>("lines");   // the sheet's names, in its order
    QTest::addColumn<QString>("printed"); // shelf headings (棚:) and names, in print order
    QTest::newRow("each shelf under its heading, no shelf last")
        << "x,牛乳,りんご,みかん"
        << "棚:A-1|りんご|みかん|棚:B-2|牛乳|棚:棚番なし|x";
    QTest::newRow("a shelf split on the sheet is printed whole")
        << "りんご,牛乳,みかん"
        << "棚:A-1|りんご|みかん|棚:B-2|牛乳";
    QTest::newRow("a line typed by code finds its shelf") << "A01"
                                                          << "棚:A-1|りんご";
    QTest::newRow("a code of no product, its name's shelf") << "A09"
                                                            << "棚:A-1|りんご";
}

// The forms to count on by hand follow the shop: the sheet's lines shelf by
// shelf (the products' shelves), each shelf under a heading.
void TestReport::countFormsShelfByShelf() {
    QFETCH(QString, lines);
    QFETCH(QString, printed);
    TempStore t;
    t.addProduct("A01", "りんご", "個", 100, 5, "果物");
    t.addProduct("B01", "牛乳", "本", 200, 2, "乳製品");
    t.addProduct("A02", "みかん", "袋", 150, 3, "果物");
    t.store().exec(Db::Main, "UPDATE 商品マスタ SET 棚番 = CASE code WHEN 'B01' THEN 'B-2' ELSE "
                             "'A-1' END");
    for (const QString& l : lines.split(','))
        t.store().exec(Db::Work, "INSERT INTO w在庫表 (チェック, code, 品名) VALUES (0, ?, ?)",
                       {l.startsWith('A') ? QVariant(l) : QVariant(),
                        l.startsWith('A') ? QVariant("りんご") : QVariant(l)});
    VERIFY_OK(sheet::fillSheetPrint(t.store()));
    const report::Definition def = sheet::sheetReport({}, sheet::Form::Blank);
    VALUE_OK(rows, work::readFields(t.store(), "w在庫表印刷", report::boundFields(def)));
    QStringList got;
    const QVector<report::Page> pages = report::layout(def, sheet::byShelf(rows));
    for (const report::Placed& p : pages[0].items)
        if (p.name == "txt棚番" || p.name == "txt品名")
            got << (p.name == "txt棚番" ? "棚:" + p.text : p.text);
    QCOMPARE(got.join('|'), printed);
}

// Rows read together share their fields' names; a row given a field of its
// own, or built alone, still shows its own values and no other row's.
void TestReport::rowsOfDifferentFields() {
    const auto names = std::make_shared<const QStringList>(QStringList{"品名", "数量"});
    QVector<report::RowValues> rows{
        {names, {"りんご", 7}}, {names, {"みかん", 3}}, {names, {"なし", 2}}, {{"数量", 1500}}};
    rows[1].insert("単位", "袋");
    report::Definition d;
    d.detail.height = 300;
    for (const QString f : {"品名", "数量", "単位"})
        d.detail.items << report::field("txt" + f, f, f == "数量" ? "#,##0" : "", 0, 0, 900, 300,
                                        Qt::AlignLeft);
    QStringList got;
    const QVector<report::Page> pages = report::layout(d, rows);
    for (const report::Placed& p : pages[0].items)
        got << p.text;
    QCOMPARE(got.join('|'), "りんご|7||みかん|3|袋|なし|2|||1,500|");
    QCOMPARE(*rows[0].fields(), (QStringList{"品名", "数量"}));
}

STOLVA_WINDOW_TEST_MAIN(TestReport)
#include "tst_report.moc"
