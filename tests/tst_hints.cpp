#include "app/Startup.h"
#include "base/Version.h"
#include "codes/CodeTab.h"
#include "hints/HintWindow.h"
#include "products/ProductTab.h"
#include "sheet/SheetTab.h"
#include "tests/window_fixture.h"
#include "widgets/DateBox.h"
#include "widgets/Grids.h"
#include "widgets/NumberBox.h"
#include "work/ProductRefModel.h"

#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTableView>

using sheet::ColName;

// The hint window and erasing all data, through their buttons.
class TestHints : public QObject {
    Q_OBJECT
  private slots:
    void hintWindow();
    void eraseAll();
    void closingClosesTheHintWindow();
};

void TestHints::hintWindow() {
    Started s;
    s.click("cmdHint");
    HintWindow* h = s.w->hintWindow();
    QVERIFY(h && h->isVisible());
    QCOMPARE(h->windowTitle(), QString("ヒント        "));
    QCOMPARE(h->findChild<QLabel*>("lblFormName")->text(), QString("FrmStolva"));
    QCOMPARE(h->findChild<QLabel*>("lblCtlName")->text(), QString("cmdHint"));
    QCOMPARE(h->findChild<QLabel*>("lblFormTitle")->text(), QString("Stolva Ver " STOLVA_VERSION));
    auto* text = h->findChild<QPlainTextEdit*>("txtContents");
    QCOMPARE(text->toPlainText(), QString("Contents"));
    // Edit toggles by the button's colour.
    auto* edit = h->findChild<QPushButton*>("cmd編集");
    QVERIFY(text->isReadOnly());
    edit->click();
    QVERIFY(!text->isReadOnly());
    QCOMPARE(edit->palette().color(QPalette::Button), HintWindow::pinkColor());
    edit->click();
    QVERIFY(text->isReadOnly());
    QCOMPARE(edit->palette().color(QPalette::Button), HintWindow::grayColor());
    text->setPlainText("在庫表のヒント");
    s.msgs.presenter.answers = {false};
    h->findChild<QPushButton*>("cmd登録")->click();
    QCOMPARE(s.msgs.presenter.shown.size(), 1);
    QCOMPARE(s.count(Db::Work, "ClHint"), 0);
    h->findChild<QPushButton*>("cmd登録")->click();
    QCOMPARE(s.msgs.titles(), QStringList({"登録の確認", "登録の確認", "登録完了"}));
    QCOMPARE(s.msgs.presenter.shown.last().text, QString("ヒント を登録しました。"));
    // Another hint button while open keeps the labels it was opened with.
    s.click("cmdHint2");
    QCOMPARE(h->findChild<QLabel*>("lblCtlName")->text(), QString("cmdHint"));
    QCOMPARE(s.w->hintContext().ctlName, QString("cmdHint2"));
    // Clear then close keeps the stored note.
    h->findChild<QPushButton*>("cmdクリア")->click();
    h->findChild<QPushButton*>("cmd閉じる")->click();
    QTRY_VERIFY(!s.w->hintWindow());
    s.click("cmdHint");
    h = s.w->hintWindow();
    QCOMPARE(h->findChild<QPlainTextEdit*>("txtContents")->toPlainText(),
             QString("在庫表のヒント"));
    s.msgs.presenter.shown.clear();
    s.msgs.presenter.answers = {true};
    h->findChild<QPushButton*>("cmd削除")->click();
    QCOMPARE(s.msgs.titles(), QStringList({"削除の確認", "削除の完了"}));
    QCOMPARE(s.msgs.presenter.shown.last().text, QString("データ ヒント を削除しました。"));
    QCOMPARE(h->findChild<QPlainTextEdit*>("txtContents")->toPlainText(), QString());
    QCOMPARE(s.count(Db::Work, "ClHint"), 0);
}

void TestHints::eraseAll() {
    Started s;
    s.store().exec(Db::Main, "INSERT INTO 商品マスタ (code, 品名) VALUES ('1', 'あ')");
    s.store().exec(
        Db::Main,
        "UPDATE コードマスタ SET sname = '青果' WHERE kcode = '商品区分' AND code = '01'");
    s.click("cmdクリア");
    QCOMPARE(s.w->findChild<QComboBox*>("cmb商品区分在庫")->count(), 1);
    s.click("cmd一括削除"); // Enter answers No
    QCOMPARE(s.msgs.presenter.shown.last().text,
             QString("すべてのデータ を削除します。よろしいですか"));
    QCOMPARE(s.count(Db::Main, "商品マスタ"), 1);
    s.msgs.presenter.answers = {true};
    s.click("cmd一括削除");
    QCOMPARE(s.count(Db::Main, "商品マスタ"), 0);
    QCOMPARE(s.w->findChild<QComboBox*>("cmb商品区分在庫")->count(), 0);
    QCOMPARE(s.w->findChild<QComboBox*>("cmb商品区分選択")->count(), 0);
    QCOMPARE(products::ProductRefModel(s.store()).rowCount(), 0);
    QCOMPARE(s.w->codeTab()->model()->rowCount(), 30);
    QCOMPARE(s.msgs.presenter.shown.size(), 2);
}

void TestHints::closingClosesTheHintWindow() {
    Started s;
    s.click("cmdHint3");
    QPointer<HintWindow> h = s.w->hintWindow();
    QVERIFY(h);
    s.click("cmd履歴閉じる");
    QVERIFY(!s.w->isVisible());
    QTRY_VERIFY(!h);
    QVERIFY(s.msgs.presenter.shown.isEmpty());
    QVERIFY(!s.store().isOpen());
}

STOLVA_WINDOW_TEST_MAIN(TestHints)
#include "tst_hints.moc"
