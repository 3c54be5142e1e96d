#pragma once

#include "msg/Msg.h"

#include <QStringList>
#include <QVector>

// Scripted answers to the message dialogs, with a record of every dialog shown.
class ScriptedPresenter : public MsgPresenter {
  public:
    bool present(const MsgDialog& dialog) override;
    int choose(const MsgDialog& dialog) override;
    QVector<MsgDialog> shown;
    QVector<int> choices;         // buttons pressed in questions with their own, in order
    QVector<bool> answers;        // consumed in order; when exhausted, defaultAnswer
    bool useDefaultButton = true; // answer as Enter would: the default button
    bool defaultAnswer = true;
};

// Routes ShowMsg to a scripted presenter for the lifetime of the object.
class ScriptedMessages {
  public:
    ScriptedMessages() { setMsgPresenter(&presenter); }
    ~ScriptedMessages() { setMsgPresenter(nullptr); }
    ScriptedPresenter presenter;
    QStringList titles() const;
};
