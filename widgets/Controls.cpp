#include "widgets/Controls.h"

#include "msg/Msg.h"
#include "work/WorkTableModel.h"

#include <QStyle>

void reportRefusedNumbers(WorkTableModel* model) {
    QObject::connect(model, &WorkTableModel::valueRefused, model,
                     [model](int, int column, const QString&) {
                         ShowMsg(QStringLiteral("入力"), QStringLiteral("数字のみ"),
                                 model->column(column).field);
                     });
}

QPushButton* makeHintButton(QWidget* parent, const QString& name) {
    QPushButton* b = makeButton(parent, name, QString());
    b->setIcon(b->style()->standardIcon(QStyle::SP_MessageBoxQuestion));
    b->setToolTip(QStringLiteral("ヒント"));
    b->setFixedWidth(b->sizeHint().height() + 8);
    return b;
}
