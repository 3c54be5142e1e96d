#pragma once

#include "base/Truth.h"

#include <QString>
#include <QStringList>
#include <QVector>

#include <cstdint>

enum class MsgStyle { ConfirmNo, ConfirmYes, Notice, Warning };

// One dialog as the message table composes it.
struct MsgDialog {
    QString title;
    QString text;
    MsgStyle style = MsgStyle::Notice;
};

// Shows a composed dialog and reports whether Yes was pressed. Tests replace it.
class MsgPresenter {
  public:
    virtual ~MsgPresenter() = default;
    virtual bool present(const MsgDialog& dialog) = 0;
};

// The real one: a modal QMessageBox over the active window.
class QMessageBoxPresenter : public MsgPresenter {
  public:
    bool present(const MsgDialog& dialog) override;
};

// Looks (kind, case) up in the message table; false when the pair is unknown.
bool composeMsg(const QString& kind, const QString& caseLabel, const QString& subject,
                MsgDialog* out);

// Sets the presenter ShowMsg uses (not owned); nullptr restores the real one.
void setMsgPresenter(MsgPresenter* presenter);

// The one way the ledger speaks to the user. True (-1) when the user agreed.
std::int16_t ShowMsg(const QString& kind, const QString& caseLabel, const QString& subject);

// The failure report of every action: kind "その他", case "エラー".
void ShowError(const QString& what, const QString& detail);
