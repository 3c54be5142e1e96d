#include "app/FrmStolva.h"
#include "app/Startup.h"
#include "hints/HintOps.h"
#include "products/ProductOps.h"
#include "products/ProductTab.h"
#include "sheet/SheetTab.h"
#include "tests/window_fixture.h"
#include "widgets/DateBox.h"
#include "widgets/Grids.h"
#include "widgets/NumberBox.h"

#include <QApplication>
#include <QComboBox>
#include <QTableView>

using namespace sheet;

// Hostile text and numbers through every field that reaches the database:
// each is stored and read back exactly, or refused with a clear message, and
// no table is harmed.
class TestHostile : public QObject {
    Q_OBJECT
  private slots:
    void textRoundTrips_data();
    void textRoundTrips();
    void numbers_data();
    void numbers();
    void dateBoxTakesOnlyDates();
};

namespace {
const QStringList Tables{"在庫表", "商品マスタ", "コードマスタ", "自社情報"};
}

void TestHostile::textRoundTrips_data() {
    QTest::addColumn<QString>("text");
    for (const auto& [name, text] : hostileTexts())
        QTest::newRow(name) << text;
}

void TestHostile::textRoundTrips() {
    QFETCH(QString, text);
    Started started;
    FrmStolva& w = *started.w;
    ScriptedMessages& msgs = started.msgs;
    Store& s = w.store();
    // Through the sheet: name, code, unit and category of a line, and the
    // sheet's category; saved, then read back.
    WorkTableModel* m = w.sheetTab()->model();
    s.exec(Db::Work, "UPDATE w在庫表 SET code = ? WHERE seq = ?", {text, m->keyAt(0)});
    m->refresh();
    m->setData(m->index(0, ColName), text);
    m->setData(m->index(0, ColUnit), text);
    m->setData(m->index(0, ColCategory), text);
    m->setData(m->index(0, ColQty), "2");
    w.findChild<DateBox*>("dt日付")->setValue(QDate(2024, 1, 5));
    w.findChild<QComboBox*>("cmb商品区分在庫")->setEditText(text);
    w.sheetTab()->Entry在庫表();
    QCOMPARE(s.scalar(Db::Main,
                      "SELECT count(*) FROM 在庫表 WHERE 品名 = ? AND code = ? AND 単位 = ? "
                      "AND 商品区分 = ?",
                      {text, text, text, text})
                 .toInt(),
             1);
    QCOMPARE(s.scalar(Db::Main, "SELECT count(*) FROM 商品マスタ WHERE 品名 = ? AND code = ?",
                      {text, text})
                 .toInt(),
             1);
    QCOMPARE(
        s.scalar(Db::Main, "SELECT count(*) FROM コードマスタ WHERE sname = ?", {text}).toInt(), 2);
    w.findChild<DateBox*>("dt日付")->setValue(QDate(2024, 1, 5));
    w.findChild<QComboBox*>("cmb商品区分在庫")->setEditText(text);
    w.sheetTab()->Read在庫表();
    QCOMPARE(m->value(0, ColName).toString(), text);
    QCOMPARE(m->value(0, ColCode).toString(), text);
    QCOMPARE(m->value(0, ColUnit).toString(), text);
    // A line deletion by that code removes exactly its own rows.
    s.exec(Db::Main,
           "INSERT INTO 在庫表 (日付, 行番号, code, 品名) VALUES ('2024-01-05', 9, 'other', 'o')");
    w.findChild<TwoPaneGrid*>("Grid在庫表")->setCurrent(0, 0, ColCode);
    msgs.presenter.answers = {true};
    w.sheetTab()->LineDelete在庫表();
    QCOMPARE(s.scalar(Db::Main, "SELECT count(*) FROM 在庫表").toInt(), 1);
    // Through the product detail panel and the list filter.
    products::Detail d;
    d.code = text + "#2";
    d.name = text + "#2";
    d.unit = text;
    d.category = text;
    VERIFY_OK(products::entry商品詳細(s, d));
    VERIFY_OK(products::read商品情報(s, text));
    QCOMPARE(w.productTab()->model()->refresh(), true);
    // The sheet's product and the panel's, both of that category.
    QCOMPARE(w.productTab()->model()->rowCount(), 2);
    QCOMPARE(w.productTab()->model()->value(0, 2).toString(), text);
    QCOMPARE(w.productTab()->model()->value(1, 2).toString(), text + "#2");
    const auto found = products::read商品詳細(s, text + "#2");
    VERIFY_OK(found);
    QVERIFY(found.value && found.value->code == text + "#2");
    // Through a hint.
    VERIFY_OK(hints::entryHint(s, "FrmStolva", "cmdHint", text, text));
    const auto back = hints::readHint(s, "FrmStolva", "cmdHint");
    VERIFY_OK(back);
    QCOMPARE(back.value.value_or(QString()), text);
    // No table was harmed.
    for (const QString& t : Tables)
        QCOMPARE(
            s.scalar(Db::Main, "SELECT count(*) FROM sqlite_master WHERE name = ?", {t}).toInt(),
            1);
    QCOMPARE(s.scalar(Db::Main, "PRAGMA integrity_check").toString(), QString("ok"));
}

void TestHostile::numbers_data() {
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("stored"); // "" = refused with a message
    QTest::newRow("quantity plain") << int(ColQty) << "12"
                                    << "12";
    QTest::newRow("quantity grouped") << int(ColQty) << "1,234"
                                      << "1234";
    QTest::newRow("quantity negative") << int(ColQty) << "-7"
                                       << "-7";
    QTest::newRow("quantity full-width") << int(ColQty) << "１２３"
                                         << "123";
    QTest::newRow("quantity full-width minus") << int(ColQty) << "－５"
                                               << "-5";
    QTest::newRow("quantity with spaces") << int(ColQty) << " 8 "
                                          << "8";
    QTest::newRow("quantity decimal comma") << int(ColQty) << "1,5"
                                            << "";
    QTest::newRow("quantity fraction") << int(ColQty) << "1.5"
                                       << "";
    QTest::newRow("quantity huge") << int(ColQty) << "99999999999999999999"
                                   << "";
    QTest::newRow("quantity letters") << int(ColQty) << "abc"
                                      << "";
    QTest::newRow("quantity sql") << int(ColQty) << "1; drop table 在庫表"
                                  << "";
    QTest::newRow("price decimals") << int(ColPrice) << "0.5"
                                    << "0.5";
    QTest::newRow("price four decimals") << int(ColPrice) << "12.3456"
                                         << "12.3456";
    QTest::newRow("price five decimals") << int(ColPrice) << "12.34567"
                                         << "";
    QTest::newRow("price full-width") << int(ColPrice) << "１，２５０"
                                      << "1250";
    QTest::newRow("price huge") << int(ColPrice) << "1e300"
                                << "";
    QTest::newRow("proper negative") << int(ColProper) << "-3"
                                     << "-3";
}

void TestHostile::numbers() {
    QFETCH(int, column);
    QFETCH(QString, typed);
    QFETCH(QString, stored);
    Started started;
    FrmStolva& w = *started.w;
    ScriptedMessages& msgs = started.msgs;
    WorkTableModel* m = w.sheetTab()->model();
    m->setData(m->index(0, ColName), "x");
    m->setData(m->index(0, column), typed);
    const QVariant v = m->value(0, column);
    if (stored.isEmpty()) {
        QVERIFY(v.isNull());
        QCOMPARE(msgs.presenter.shown.size(), 1);
        QCOMPARE(msgs.presenter.shown[0].title, QString("入力注意"));
        QVERIFY(msgs.presenter.shown[0].text.endsWith("には数字以外使用できません"));
        QVERIFY(m->value(0, ColAmount).isNull());
    } else {
        QVERIFY(msgs.presenter.shown.isEmpty());
        QCOMPARE(Currency::fromVariant(v)->toString(), stored);
        // Saved and loaded, the value comes back the same.
        w.findChild<DateBox*>("dt日付")->setValue(QDate(2024, 1, 5));
        w.sheetTab()->Entry在庫表();
        w.findChild<DateBox*>("dt日付")->setValue(QDate(2024, 1, 5));
        w.sheetTab()->Read在庫表();
        QCOMPARE(Currency::fromVariant(m->value(0, column))->toString(), stored);
    }
}

void TestHostile::dateBoxTakesOnlyDates() {
    Started started;
    FrmStolva& w = *started.w;
    ScriptedMessages& msgs = started.msgs;
    DateBox* date = w.findChild<DateBox*>("dt日付");
    date->setFocus();
    QTest::keyClick(date, Qt::Key_Delete);
    QVERIFY(date->isNull());
    QCOMPARE(date->shownText(), QString());
    QTest::keyClicks(date, "'; drop table x; --");
    // Text that holds no digit leaves the emptied box empty.
    QVERIFY(date->isNull());
    QCOMPARE(date->shownText(), QString());
    w.sheetTab()->model()->setData(w.sheetTab()->model()->index(0, ColName), "x");
    date->setNull();
    w.sheetTab()->Entry在庫表();
    QCOMPARE(msgs.presenter.shown.last().title, QString("日付を記入してください。"));
    QCOMPARE(w.store()
                 .scalar(Db::Main, "SELECT count(*) FROM sqlite_master WHERE name = '在庫表'")
                 .toInt(),
             1);
}

STOLVA_WINDOW_TEST_MAIN(TestHostile)
#include "tst_hostile.moc"
