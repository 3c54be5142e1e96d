#include "widgets/RowsModel.h"

#include "widgets/Grids.h"

#include <QHeaderView>
#include <QTableView>

QTableView* rowsView(QWidget* parent, const QString& name, RowsModel* model,
                     const QVector<int>& widths, int stretched) {
    auto* v = new QTableView(parent);
    v->setObjectName(name);
    v->setModel(model);
    v->setSelectionBehavior(QAbstractItemView::SelectRows);
    v->setSelectionMode(QAbstractItemView::SingleSelection);
    v->setEditTriggers(QAbstractItemView::NoEditTriggers);
    v->verticalHeader()->setDefaultSectionSize(v->fontMetrics().height() + 6);
    v->verticalHeader()->hide();
    for (int c = 0; c < widths.size(); ++c)
        v->setColumnWidth(c, twips(v, widths[c]));
    v->horizontalHeader()->setSectionResizeMode(stretched, QHeaderView::Stretch);
    return v;
}
