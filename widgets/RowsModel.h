#pragma once

#include <QAbstractTableModel>
#include <QColor>
#include <QStringList>
#include <QVector>

class QTableView;
class QWidget;

// A read-only list of texts as a table: what a read gave, shown as it is
// (thousands of rows without an item each), some rows greyed.
class RowsModel : public QAbstractTableModel {
  public:
    RowsModel(QStringList captions, QVector<Qt::Alignment> aligns, QObject* parent)
        : QAbstractTableModel(parent), m_captions(std::move(captions)),
          m_aligns(std::move(aligns)) {}
    void setRows(QVector<QStringList> rows, QVector<bool> grey = {}) {
        beginResetModel();
        m_rows = std::move(rows);
        m_grey = std::move(grey);
        endResetModel();
    }
    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : int(m_rows.size());
    }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : int(m_captions.size());
    }
    QVariant data(const QModelIndex& i, int role) const override {
        if (!i.isValid() || i.row() >= m_rows.size())
            return {};
        if (role == Qt::DisplayRole)
            return m_rows[i.row()].value(i.column());
        if (role == Qt::TextAlignmentRole)
            return int(m_aligns.value(i.column(), Qt::AlignLeft) | Qt::AlignVCenter);
        if (role == Qt::ForegroundRole && m_grey.value(i.row()))
            return QColor(Qt::gray);
        return {};
    }
    QVariant headerData(int section, Qt::Orientation o, int role) const override {
        if (o == Qt::Horizontal && role == Qt::DisplayRole)
            return m_captions.value(section);
        return QAbstractTableModel::headerData(section, o, role);
    }

  private:
    QStringList m_captions;
    QVector<Qt::Alignment> m_aligns;
    QVector<QStringList> m_rows;
    QVector<bool> m_grey;
};

// A list of such rows, one chosen at a time: columns `widths` twips wide,
// the stretched one taking what is left.
QTableView* rowsView(QWidget* parent, const QString& name, RowsModel* model,
                     const QVector<int>& widths, int stretched);
