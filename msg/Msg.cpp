#include "msg/Msg.h"

#include <QApplication>
#include <QMessageBox>

namespace {
struct Entry {
    const char* kind;
    const char* caseLabel;
    const char* title; // nullptr: the subject is the title
    const char* before;
    bool withSubject;
    const char* after;
    MsgStyle style;
};

// Rows are tested in this order within a kind; the first match wins.
const Entry Table[] = {
    {"登録", "確認", "登録の確認", "", true, " を登録します。よろしいですか", MsgStyle::ConfirmYes},
    {"登録", "データ確認", "登録の確認", "データ ", true, " を登録します。よろしいですか",
     MsgStyle::ConfirmYes},
    {"登録", "コード指定", "登録注意", "コードが指定されていません。コードを指定してください。",
     false, "", MsgStyle::Notice},
    {"登録", "完了", "登録完了", "", true, " を登録しました。", MsgStyle::Notice},
    {"登録", "完了2", "登録完了", "データ  ", true, " を登録しました。", MsgStyle::Notice},
    {"登録", "チェック", "入力項目のチェック", "入力必須項目が空白です。", false, "",
     MsgStyle::Notice},
    {"登録", "商品未登録", "入力項目のチェック", "登録商品データがありません。", false, "",
     MsgStyle::Notice},
    {"登録", "データなし", "入力項目のチェック", "登録がデータがありません。", false, "",
     MsgStyle::Notice},

    {"転記", "確認", "登録の確認", "", true, " に転記します。よろしいですか", MsgStyle::ConfirmNo},

    {"削除", "確認2", "削除の確認", "すべてのデータを削除します。よろしいですか", false, "",
     MsgStyle::ConfirmNo},
    {"削除", "伝票確認", "削除の確認", "伝票 ", true, " を削除します。よろしいですか",
     MsgStyle::ConfirmNo},
    {"削除", "確認", "削除の確認", "", true, " を削除します。よろしいですか", MsgStyle::ConfirmNo},
    {"削除", "データ確認", "削除の確認", "データ ", true, " を削除します。よろしいですか",
     MsgStyle::ConfirmNo},
    {"削除", "指定確認", "削除の確認", "指定された ", true, " を削除します。よろしいですか",
     MsgStyle::ConfirmNo},
    {"削除", "伝票完了", "削除の完了", "伝票 ", true, " を削除しました。", MsgStyle::Notice},
    {"削除", "削除不可能", "削除の拒否", "", true, "削除できません。", MsgStyle::Notice},
    {"削除", "伝票完了2", "削除の完了", "", true, " を削除しました。", MsgStyle::Notice},
    {"削除", "完了", "削除の完了", "データ ", true, " を削除しました。", MsgStyle::Notice},
    {"削除", "削除不可", "削除不可", "", true,
     " にデータがあるため削除できません。メンテナンス機能で削除してください。", MsgStyle::Notice},
    {"削除", "その他確認", "削除の確認", "", true, " よろしいですか", MsgStyle::ConfirmNo},

    {"入力", "上行空白", "入力注意", "上の行が空白です。データは連続して指定してください。", false,
     "", MsgStyle::Notice},
    {"入力", "区分なし", "入力注意", "区分が指定されていません。区分を指定してください", false, "",
     MsgStyle::Warning},
    {"入力", "必須入力なし", "入力注意", "", true, "指定されていません。確認してください",
     MsgStyle::Warning},
    {"入力", "重複", "入力注意", "", true, "が重複しています。確認してください", MsgStyle::Warning},
    {"入力", "範囲外", "入力注意", "", true, "が指定範囲外です。確認してください",
     MsgStyle::Warning},
    {"入力", "数字のみ", "入力注意", "", true, "には数字以外使用できません", MsgStyle::Warning},

    {"行指定", "無効行", "入力注意", "無効な行が指定されています。行指定をやり直してください。",
     false, "", MsgStyle::Warning},
    {"行指定", "指定なし", "入力注意", "行が指定されていません。行指定してください。", false, "",
     MsgStyle::Warning},
    {"行指定", "重複", "入力注意", "指定行は１回に１行です。行指定をやり直してください。", false,
     "", MsgStyle::Warning},
    {"行指定", "余白なし", "行挿入注意", "行挿入する余白はありません。", false, "",
     MsgStyle::Warning},

    {"クリア", "確認", "画面クリアの確認", "画面をクリアします。よろしいですか", false, "",
     MsgStyle::ConfirmNo},

    {"印刷", "確認", "印刷の確認", "", true, "を印刷します。よろしいですか", MsgStyle::ConfirmNo},

    {"その他", "コピー完了", "コピー完了", "", true, "コピーしました。", MsgStyle::Notice},
    {"その他", "読込み完了", "読込完了", "", true, "読込みしました。", MsgStyle::Notice},
    {"その他", "メッセージ", nullptr, "", true, "", MsgStyle::Notice},
    {"その他", "確認", "確認", "", true, "、よろしいですか", MsgStyle::ConfirmYes},
    {"その他", "ファイルなし", "ファイルの確認", "", true, "がありません。確認してください。",
     MsgStyle::Notice},
    {"その他", "エラー", "エラー", "", true, "", MsgStyle::Warning},
    {"その他", "破棄確認", "変更の破棄", "保存されていない変更があります。破棄してよろしいですか",
     false, "", MsgStyle::ConfirmNo},
};

QMessageBoxPresenter realPresenter;
MsgPresenter* currentPresenter = nullptr;

MsgPresenter& presenter() {
    return currentPresenter ? *currentPresenter : realPresenter;
}
} // namespace

bool composeMsg(const QString& kind, const QString& caseLabel, const QString& subject,
                MsgDialog* out) {
    for (const Entry& e : Table) {
        if (kind != QString::fromUtf8(e.kind) || caseLabel != QString::fromUtf8(e.caseLabel))
            continue;
        out->title = e.title ? QString::fromUtf8(e.title) : subject;
        out->text = QString::fromUtf8(e.before) + (e.withSubject ? subject : QString()) +
                    QString::fromUtf8(e.after);
        out->style = e.style;
        return true;
    }
    return false;
}

void setMsgPresenter(MsgPresenter* p) {
    currentPresenter = p;
}

std::int16_t ShowMsg(const QString& kind, const QString& caseLabel, const QString& subject) {
    MsgDialog d;
    if (!composeMsg(kind, caseLabel, subject, &d))
        return False;
    const bool yes = presenter().present(d);
    const bool confirm = d.style == MsgStyle::ConfirmNo || d.style == MsgStyle::ConfirmYes;
    return confirm && yes ? True : False;
}

void ShowError(const QString& what, const QString& detail) {
    QString text = what;
    if (!detail.isEmpty())
        text += QStringLiteral("\n\n詳細: ") + detail;
    ShowMsg(QStringLiteral("その他"), QStringLiteral("エラー"), text);
}

bool QMessageBoxPresenter::present(const MsgDialog& d) {
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(d.title);
    box.setText(d.text);
    switch (d.style) {
    case MsgStyle::ConfirmNo:
    case MsgStyle::ConfirmYes:
        box.setIcon(QMessageBox::Question);
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(d.style == MsgStyle::ConfirmYes ? QMessageBox::Yes : QMessageBox::No);
        box.setEscapeButton(QMessageBox::No);
        break;
    case MsgStyle::Notice:
        box.setIcon(QMessageBox::Information);
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case MsgStyle::Warning:
        box.setIcon(QMessageBox::Warning);
        box.setStandardButtons(QMessageBox::Ok);
        break;
    }
    return box.exec() == QMessageBox::Yes;
}
