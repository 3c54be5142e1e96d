#include "widgets/Controls.h"

#include "msg/Msg.h"
#include "work/WorkTableModel.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLineEdit>
#include <QStyle>
#include <QTimer>

void reportRefusedNumbers(WorkTableModel* model,
                          std::function<QAbstractItemView*(int row, int column)> showCell) {
    QObject::connect(model, &WorkTableModel::valueRefused, model,
                     [model, showCell](int row, int column, const QString& typed) {
                         ShowMsg(MsgKind::入力, MsgCase::数字のみ,
                                 QString::fromUtf8(model->column(column).field));
                         // After the key that ended the edit has moved the cursor on.
                         QTimer::singleShot(0, model, [model, showCell, row, column, typed] {
                             QAbstractItemView* view = showCell(row, column);
                             const QModelIndex at = model->index(row, column);
                             if (!view || !at.isValid())
                                 return;
                             view->edit(at);
                             if (auto* e = qobject_cast<QLineEdit*>(view->indexWidget(at))) {
                                 e->setText(typed);
                                 e->selectAll();
                             }
                         });
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
