#pragma once

#include "base/Truth.h"

#include <QString>
#include <QStringList>
#include <QVector>

#include <cstdint>

enum class MsgStyle { ConfirmNo, ConfirmYes, Notice, Warning };

// The kinds and cases of the message table: a misspelt one does not compile.
enum class MsgKind { 登録, 転記, 削除, 入力, 行指定, クリア, 印刷, その他 };
enum class MsgCase {
    確認,
    データ確認,
    コード指定,
    完了,
    完了2,
    チェック,
    商品未登録,
    データなし,
    確認2,
    伝票確認,
    指定確認,
    伝票完了,
    削除不可能,
    伝票完了2,
    削除不可,
    その他確認,
    上行空白,
    区分なし,
    必須入力なし,
    重複,
    範囲外,
    数字のみ,
    無効行,
    指定なし,
    余白なし,
    コピー完了,
    読込み完了,
    メッセージ,
    ファイルなし,
    エラー,
    破棄確認,
    復元確認,
    確定確認,
    確定解除確認,
    未棚卸ゼロ確認,
    取消確認,
    端数処理確認,
    再計算確認
};

// One dialog as the message table composes it.
struct MsgDialog {
    QString title;
    QString text;
    MsgStyle style = MsgStyle::Notice;
    QString informative; // beneath the text: what the action will do
    QString details;     // the details area, for long lists
    QStringList choices; // a question with buttons of its own, left to right
    int defaultChoice = -1;
};

// Shows a composed dialog and reports whether Yes was pressed. Tests replace it.
class MsgPresenter {
  public:
    virtual ~MsgPresenter() = default;
    virtual bool present(const MsgDialog& dialog) = 0;
    // A question with its own buttons: the index of the one pressed, -1 for Escape.
    virtual int choose(const MsgDialog& dialog) = 0;
};

// The real one: a modal QMessageBox over the active window.
class QMessageBoxPresenter : public MsgPresenter {
  public:
    bool present(const MsgDialog& dialog) override;
    int choose(const MsgDialog& dialog) override;
};

// Looks (kind, case) up in the message table; false when the pair is unknown.
bool composeMsg(MsgKind kind, MsgCase caseLabel, const QString& subject, MsgDialog* out);

// Sets the presenter ShowMsg uses (not owned); nullptr restores the real one.
void setMsgPresenter(MsgPresenter* presenter);

// The one way the ledger speaks to the user. True (-1) when the user agreed.
// informative and details, when given, stand beneath the table's text.
std::int16_t ShowMsg(MsgKind kind, MsgCase caseLabel, const QString& subject,
                     const QString& informative = QString(), const QString& details = QString());

// A question whose answers are its own buttons (the last is the cancel
// button); gives the index of the one chosen, the last one for Escape.
int AskChoice(const QString& title, const QString& text, const QStringList& choices,
              int defaultChoice, const QString& informative = QString(),
              const QString& details = QString());

// The failure report of every action: kind "その他", case "エラー".
void ShowError(const QString& what, const QString& detail);
