#include "widgets/Controls.h"

#include <QStyle>

QPushButton* makeHintButton(QWidget* parent, const QString& name) {
    QPushButton* b = makeButton(parent, name, QString());
    b->setIcon(b->style()->standardIcon(QStyle::SP_MessageBoxQuestion));
    b->setToolTip(QStringLiteral("ヒント"));
    b->setFixedWidth(b->sizeHint().height() + 8);
    return b;
}
