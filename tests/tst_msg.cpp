#include "app/Startup.h"
#include "tests/fixtures.h"
#include "tests/messages.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

Q_DECLARE_METATYPE(MsgKind)
Q_DECLARE_METATYPE(MsgCase)

class TestMsg : public QObject {
    Q_OBJECT
  private slots:
    void table_data();
    void table();
    void defaultsAndResults_data();
    void defaultsAndResults();
    void unknownShowsNothing_data();
    void unknownShowsNothing();
    void realBoxDefaultButtonAndJapaneseCaptions();
};

void TestMsg::table_data() {
    QTest::addColumn<MsgKind>("kind");
    QTest::addColumn<MsgCase>("caseLabel");
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("style");
    const int No = int(MsgStyle::ConfirmNo), Yes = int(MsgStyle::ConfirmYes),
              Notice = int(MsgStyle::Notice), Warn = int(MsgStyle::Warning);
    QTest::newRow("save confirm") << MsgKind::登録 << MsgCase::確認 << "2024年01月05日の在庫表"
                                  << "登録の確認"
                                  << "2024年01月05日の在庫表 を登録します。よろしいですか" << Yes;
    QTest::newRow("save done2 two spaces") << MsgKind::登録 << MsgCase::完了2 << "X"
                                           << "登録完了"
                                           << "データ  X を登録しました。" << Notice;
    QTest::newRow("save data none") << MsgKind::登録 << MsgCase::データなし << ""
                                    << "入力項目のチェック"
                                    << "登録がデータがありません。" << Notice;
    QTest::newRow("post confirm") << MsgKind::転記 << MsgCase::確認 << "A"
                                  << "登録の確認"
                                  << "A に転記します。よろしいですか" << No;
    QTest::newRow("delete confirm empty subject") << MsgKind::削除 << MsgCase::確認 << ""
                                                  << "削除の確認"
                                                  << " を削除します。よろしいですか" << No;
    QTest::newRow("delete all") << MsgKind::削除 << MsgCase::確認2 << "ignored"
                                << "削除の確認"
                                << "すべてのデータを削除します。よろしいですか" << No;
    QTest::newRow("delete done has データ") << MsgKind::削除 << MsgCase::完了 << "ヒント"
                                            << "削除の完了"
                                            << "データ ヒント を削除しました。" << Notice;
    QTest::newRow("delete refused") << MsgKind::削除 << MsgCase::削除不可能 << "X"
                                    << "削除の拒否"
                                    << "X削除できません。" << Notice;
    QTest::newRow("input duplicate splices") << MsgKind::入力 << MsgCase::重複 << "コード"
                                             << "入力注意"
                                             << "コードが重複しています。確認してください" << Warn;
    QTest::newRow("row duplicate does not")
        << MsgKind::行指定 << MsgCase::重複 << "コード"
        << "入力注意"
        << "指定行は１回に１行です。行指定をやり直してください。" << Warn;
    QTest::newRow("clear") << MsgKind::クリア << MsgCase::確認 << "x"
                           << "画面クリアの確認"
                           << "画面をクリアします。よろしいですか" << No;
    QTest::newRow("print no space") << MsgKind::印刷 << MsgCase::確認 << "在庫表"
                                    << "印刷の確認"
                                    << "在庫表を印刷します。よろしいですか" << No;
    QTest::newRow("other message")
        << MsgKind::その他 << MsgCase::メッセージ << "日付を記入してください。"
        << "日付を記入してください。"
        << "日付を記入してください。" << Notice;
    QTest::newRow("other confirm comma")
        << MsgKind::その他 << MsgCase::確認 << "商品情報を読み込みします。"
        << "確認"
        << "商品情報を読み込みします。、よろしいですか" << Yes;
    QTest::newRow("read done without み") << MsgKind::その他 << MsgCase::読込み完了 << "A"
                                          << "読込完了"
                                          << "A読込みしました。" << Notice;
    QTest::newRow("file missing") << MsgKind::その他 << MsgCase::ファイルなし << "Stolva.mdb"
                                  << "ファイルの確認"
                                  << "Stolva.mdbがありません。確認してください。" << Notice;
    QTest::newRow("error") << MsgKind::その他 << MsgCase::エラー << "保存できませんでした。"
                           << "エラー"
                           << "保存できませんでした。" << Warn;
}

void TestMsg::table() {
    QFETCH(MsgKind, kind);
    QFETCH(MsgCase, caseLabel);
    QFETCH(QString, subject);
    QFETCH(QString, title);
    QFETCH(QString, text);
    QFETCH(int, style);
    MsgDialog d;
    QVERIFY(composeMsg(kind, caseLabel, subject, &d));
    QCOMPARE(d.title, title);
    QCOMPARE(d.text, text);
    QCOMPARE(int(d.style), style);
}

void TestMsg::defaultsAndResults_data() {
    QTest::addColumn<MsgKind>("kind");
    QTest::addColumn<MsgCase>("caseLabel");
    QTest::addColumn<int>("pressEnter");
    QTest::addColumn<int>("pressYes");
    QTest::newRow("登録 確認 defaults Yes")
        << MsgKind::登録 << MsgCase::確認 << int(True) << int(True);
    QTest::newRow("その他 確認 defaults Yes")
        << MsgKind::その他 << MsgCase::確認 << int(True) << int(True);
    QTest::newRow("削除 確認 defaults No")
        << MsgKind::削除 << MsgCase::確認 << int(False) << int(True);
    QTest::newRow("転記 確認 defaults No")
        << MsgKind::転記 << MsgCase::確認 << int(False) << int(True);
    QTest::newRow("notice is never consent")
        << MsgKind::登録 << MsgCase::完了 << int(False) << int(False);
    QTest::newRow("warning is never consent")
        << MsgKind::入力 << MsgCase::範囲外 << int(False) << int(False);
}

void TestMsg::defaultsAndResults() {
    QFETCH(MsgKind, kind);
    QFETCH(MsgCase, caseLabel);
    QFETCH(int, pressEnter);
    QFETCH(int, pressYes);
    ScriptedMessages m;
    QCOMPARE(int(ShowMsg(kind, caseLabel, "S")), pressEnter);
    m.presenter.answers = {true};
    QCOMPARE(int(ShowMsg(kind, caseLabel, "S")), pressYes);
    QCOMPARE(m.presenter.shown.size(), 2);
}

void TestMsg::unknownShowsNothing_data() {
    QTest::addColumn<MsgKind>("kind");
    QTest::addColumn<MsgCase>("caseLabel");
    QTest::newRow("a case of another kind") << MsgKind::削除 << MsgCase::上行空白;
    QTest::newRow("case from another kind") << MsgKind::印刷 << MsgCase::完了;
}

void TestMsg::unknownShowsNothing() {
    QFETCH(MsgKind, kind);
    QFETCH(MsgCase, caseLabel);
    ScriptedMessages m;
    m.presenter.answers = {true};
    QCOMPARE(ShowMsg(kind, caseLabel, "x"), False);
    QVERIFY(m.presenter.shown.isEmpty());
}

// The real dialog: No is the default of a deletion question, the buttons read
// in Japanese, and Enter answers with the default.
void TestMsg::realBoxDefaultButtonAndJapaneseCaptions() {
    QStringList buttons;
    bool defaultIsNo = false;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(box);
        for (QAbstractButton* b : box->buttons())
            buttons << b->text();
        defaultIsNo = box->defaultButton() == box->button(QMessageBox::No);
        QTest::keyClick(box, Qt::Key_Return);
    });
    QCOMPARE(ShowMsg(MsgKind::削除, MsgCase::確認, "指定された行"), False);
    QVERIFY(defaultIsNo);
    QCOMPARE(buttons.size(), 2);
    QVERIFY2(buttons.join(' ').contains(QStringLiteral("はい")), qPrintable(buttons.join(' ')));
}

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    setupApplication(app);
    TestMsg t;
    return QTest::qExec(&t, argc, argv);
}
#include "tst_msg.moc"
