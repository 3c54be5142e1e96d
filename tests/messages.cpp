#include "tests/messages.h"

QStringList ScriptedMessages::titles() const {
    QStringList t;
    for (const MsgDialog& d : presenter.shown)
        t << d.title;
    return t;
}

int ScriptedPresenter::choose(const MsgDialog& d) {
    shown.append(d);
    if (!choices.isEmpty())
        return choices.takeFirst();
    return useDefaultButton ? d.defaultChoice : -1;
}

bool ScriptedPresenter::present(const MsgDialog& d) {
    shown.append(d);
    if (!answers.isEmpty())
        return answers.takeFirst();
    if (useDefaultButton)
        return d.style == MsgStyle::ConfirmYes;
    return defaultAnswer;
}
