#include "msg/Msg.h"

#include "base/Values.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

namespace {
struct Entry {
    MsgKind kind;
    MsgCase caseLabel;
    const char* title; // nullptr: the subject is the title
    const char* before;
    bool withSubject;
    const char* after;
    MsgStyle style;
};

// Rows are tested in this order within a kind; the first match wins.
const Entry Table[] = {
    {MsgKind::登録, MsgCase::確認, "登録の確認", "", true, " を登録します。よろしいですか",
     MsgStyle::ConfirmYes},
    {MsgKind::登録, MsgCase::データ確認, "登録の確認", "データ ", true,
     " を登録します。よろしいですか", MsgStyle::ConfirmYes},
    {MsgKind::登録, MsgCase::コード指定, "登録注意",
     "コードが指定されていません。コードを指定してください。", false, "", MsgStyle::Notice},
    {MsgKind::登録, MsgCase::完了, "登録完了", "", true, " を登録しました。", MsgStyle::Notice},
    {MsgKind::登録, MsgCase::完了2, "登録完了", "データ  ", true, " を登録しました。",
     MsgStyle::Notice},
    {MsgKind::登録, MsgCase::チェック, "入力項目のチェック", "入力必須項目が空白です。", false, "",
     MsgStyle::Notice},
    {MsgKind::登録, MsgCase::商品未登録, "入力項目のチェック", "登録商品データがありません。",
     false, "", MsgStyle::Notice},
    {MsgKind::登録, MsgCase::データなし, "入力項目のチェック", "登録がデータがありません。", false,
     "", MsgStyle::Notice},

    {MsgKind::転記, MsgCase::確認, "登録の確認", "", true, " に転記します。よろしいですか",
     MsgStyle::ConfirmNo},

    {MsgKind::削除, MsgCase::確認2, "削除の確認", "すべてのデータを削除します。よろしいですか",
     false, "", MsgStyle::ConfirmNo},
    {MsgKind::削除, MsgCase::伝票確認, "削除の確認", "伝票 ", true, " を削除します。よろしいですか",
     MsgStyle::ConfirmNo},
    {MsgKind::削除, MsgCase::確認, "削除の確認", "", true, " を削除します。よろしいですか",
     MsgStyle::ConfirmNo},
    {MsgKind::削除, MsgCase::データ確認, "削除の確認", "データ ", true,
     " を削除します。よろしいですか", MsgStyle::ConfirmNo},
    {MsgKind::削除, MsgCase::指定確認, "削除の確認", "指定された ", true,
     " を削除します。よろしいですか", MsgStyle::ConfirmNo},
    {MsgKind::削除, MsgCase::伝票完了, "削除の完了", "伝票 ", true, " を削除しました。",
     MsgStyle::Notice},
    {MsgKind::削除, MsgCase::削除不可能, "削除の拒否", "", true, "削除できません。",
     MsgStyle::Notice},
    {MsgKind::削除, MsgCase::伝票完了2, "削除の完了", "", true, " を削除しました。",
     MsgStyle::Notice},
    {MsgKind::削除, MsgCase::完了, "削除の完了", "データ ", true, " を削除しました。",
     MsgStyle::Notice},
    {MsgKind::削除, MsgCase::削除不可, "削除不可", "", true,
     " にデータがあるため削除できません。メンテナンス機能で削除してください。", MsgStyle::Notice},
    {MsgKind::削除, MsgCase::その他確認, "削除の確認", "", true, " よろしいですか",
     MsgStyle::ConfirmNo},

    {MsgKind::入力, MsgCase::上行空白, "入力注意",
     "上の行が空白です。データは連続して指定してください。", false, "", MsgStyle::Notice},
    {MsgKind::入力, MsgCase::区分なし, "入力注意",
     "区分が指定されていません。区分を指定してください", false, "", MsgStyle::Warning},
    {MsgKind::入力, MsgCase::必須入力なし, "入力注意", "", true,
     "指定されていません。確認してください", MsgStyle::Warning},
    {MsgKind::入力, MsgCase::重複, "入力注意", "", true, "が重複しています。確認してください",
     MsgStyle::Warning},
    {MsgKind::入力, MsgCase::範囲外, "入力注意", "", true, "が指定範囲外です。確認してください",
     MsgStyle::Warning},
    {MsgKind::入力, MsgCase::数字のみ, "入力注意", "", true, "には数字以外使用できません",
     MsgStyle::Warning},

    {MsgKind::行指定, MsgCase::無効行, "入力注意",
     "無効な行が指定されています。行指定をやり直してください。", false, "", MsgStyle::Warning},
    {MsgKind::行指定, MsgCase::指定なし, "入力注意", "行が指定されていません。行指定してください。",
     false, "", MsgStyle::Warning},
    {MsgKind::行指定, MsgCase::重複, "入力注意",
     "指定行は１回に１行です。行指定をやり直してください。", false, "", MsgStyle::Warning},
    {MsgKind::行指定, MsgCase::余白なし, "行挿入注意", "行挿入する余白はありません。", false, "",
     MsgStyle::Warning},

    {MsgKind::クリア, MsgCase::確認, "画面クリアの確認", "画面をクリアします。よろしいですか",
     false, "", MsgStyle::ConfirmNo},

    {MsgKind::印刷, MsgCase::確認, "印刷の確認", "", true, "を印刷します。よろしいですか",
     MsgStyle::ConfirmNo},

    {MsgKind::その他, MsgCase::コピー完了, "コピー完了", "", true, "コピーしました。",
     MsgStyle::Notice},
    {MsgKind::その他, MsgCase::読込み完了, "読込完了", "", true, "読込みしました。",
     MsgStyle::Notice},
    {MsgKind::その他, MsgCase::メッセージ, nullptr, "", true, "", MsgStyle::Notice},
    {MsgKind::その他, MsgCase::確認, "確認", "", true, "、よろしいですか", MsgStyle::ConfirmYes},
    {MsgKind::その他, MsgCase::ファイルなし, "ファイルの確認", "", true,
     "がありません。確認してください。", MsgStyle::Notice},
    {MsgKind::その他, MsgCase::エラー, "エラー", "", true, "", MsgStyle::Warning},
    {MsgKind::その他, MsgCase::破棄確認, "変更の破棄",
     "保存されていない変更があります。破棄してよろしいですか", false, "", MsgStyle::ConfirmNo},
    {MsgKind::その他, MsgCase::復元確認, "復元の確認", "今のデータを ", true,
     " のバックアップで置き換えます。今のデータもバックアップに残ります。よろしいですか",
     MsgStyle::ConfirmNo},
    {MsgKind::その他, MsgCase::確定確認, "確定の確認", "", true,
     " の在庫表を確定します。確定すると登録・削除はできません。よろしいですか",
     MsgStyle::ConfirmNo},
    {MsgKind::その他, MsgCase::確定解除確認, "確定解除の確認", "", true,
     " の在庫表の確定を解除します。よろしいですか", MsgStyle::ConfirmNo},
    {MsgKind::その他, MsgCase::未棚卸ゼロ確認, "未棚卸の記録", "", true,
     " を数量 0 として記録します。よろしいですか", MsgStyle::ConfirmNo},
    {MsgKind::その他, MsgCase::取消確認, "記録の取消", "", true, " を取り消します。よろしいですか",
     MsgStyle::ConfirmNo},
    {MsgKind::その他, MsgCase::端数処理確認, "端数処理の変更", "金額の端数処理を「", true,
     "」にします。これから計算する金額に使い、保存済みの金額は変えません（棚卸表の"
     "「この日付を再計算」で計算し直せます）。よろしいですか",
     MsgStyle::ConfirmNo},
    {MsgKind::その他, MsgCase::再計算確認, "再計算の確認", "", true,
     " の保存済みの金額を、数量 × 単価で計算し直します。よろしいですか", MsgStyle::ConfirmNo},
};

QMessageBoxPresenter realPresenter;
MsgPresenter* currentPresenter = nullptr;

MsgPresenter& presenter() {
    return currentPresenter ? *currentPresenter : realPresenter;
}
} // namespace

bool composeMsg(MsgKind kind, MsgCase caseLabel, const QString& subject, MsgDialog* out) {
    for (const Entry& e : Table) {
        if (kind != e.kind || caseLabel != e.caseLabel)
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

std::int16_t ShowMsg(MsgKind kind, MsgCase caseLabel, const QString& subject,
                     const QString& informative, const QString& details) {
    MsgDialog d;
    if (!composeMsg(kind, caseLabel, subject, &d))
        return False;
    d.informative = informative;
    d.details = details;
    const bool yes = presenter().present(d);
    const bool confirm = d.style == MsgStyle::ConfirmNo || d.style == MsgStyle::ConfirmYes;
    return confirm && yes ? True : False;
}

void ShowError(const QString& what, const QString& detail) {
    QString text = what;
    if (!detail.isEmpty())
        text += QStringLiteral("\n\n詳細: ") + reasonOf(detail);
    // The database's own words, often English, only in the details.
    ShowMsg(MsgKind::その他, MsgCase::エラー, text, QString(), originalOf(detail));
}

int AskChoice(const QString& title, const QString& text, const QStringList& choices,
              int defaultChoice, const QString& informative, const QString& details) {
    MsgDialog d;
    d.title = title;
    d.text = text;
    d.style = MsgStyle::ConfirmNo;
    d.informative = informative;
    d.details = details;
    d.choices = choices;
    d.defaultChoice = defaultChoice;
    const int chosen = presenter().choose(d);
    return chosen < 0 || chosen >= choices.size() ? int(choices.size()) - 1 : chosen;
}

namespace {
// The texts of a dialog in a box over the active window.
void fill(QMessageBox& box, const MsgDialog& d) {
    box.setWindowTitle(d.title);
    box.setText(d.text);
    box.setInformativeText(d.informative);
    box.setDetailedText(d.details);
}
} // namespace

int QMessageBoxPresenter::choose(const MsgDialog& d) {
    QMessageBox box(QApplication::activeWindow());
    fill(box, d);
    box.setIcon(QMessageBox::Question);
    QVector<QAbstractButton*> buttons;
    for (int i = 0; i < d.choices.size(); ++i)
        buttons << box.addButton(d.choices[i], i + 1 == d.choices.size() ? QMessageBox::RejectRole
                                                                         : QMessageBox::AcceptRole);
    if (d.defaultChoice >= 0 && d.defaultChoice < buttons.size())
        box.setDefaultButton(static_cast<QPushButton*>(buttons[d.defaultChoice]));
    if (!buttons.isEmpty())
        box.setEscapeButton(buttons.last());
    box.exec();
    return int(buttons.indexOf(box.clickedButton()));
}

bool QMessageBoxPresenter::present(const MsgDialog& d) {
    QMessageBox box(QApplication::activeWindow());
    fill(box, d);
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
