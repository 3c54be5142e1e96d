#include "widgets/Controls.h"

#include "msg/Msg.h"
#include "work/WorkTableModel.h"

#include <QComboBox>
#include <QStyle>

void reportRefusedNumbers(WorkTableModel* model) {
    QObject::connect(model, &WorkTableModel::valueRefused, model,
                     [model](int, int column, const QString&) {
                         ShowMsg(MsgKind::入力, MsgCase::数字のみ,
                                 QString::fromUtf8(model->column(column).field));
                     });
}

QPushButton* makeHintButton(QWidget* parent, const QString& name) {
    QPushButton* b = makeButton(parent, name, QString());
    b->setIcon(b->style()->standardIcon(QStyle::SP_MessageBoxQuestion));
    b->setToolTip(QStringLiteral("ヒント"));
    b->setFixedWidth(b->sizeHint().height() + 8);
    return b;
}

void fillNames(QComboBox* box, const QStringList& names, bool keepChoice) {
    const QString chosen = box->currentText();
    box->clear();
    box->addItems(names);
    box->setCurrentIndex(keepChoice ? box->findText(chosen) : -1);
    if (keepChoice && box->isEditable())
        box->setEditText(chosen);
}
