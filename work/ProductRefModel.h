#pragma once

#include "base/ListFilter.h"
#include "store/Columns.h"
#include "store/Store.h"

#include <QAbstractTableModel>

namespace products {

// The product drop-down: products in name order, read from the ledger a page
// at a time through the name index, only those the typed text selects.
class ProductRefModel : public QAbstractTableModel, public ListFilter {
    Q_OBJECT
  public:
    static constexpr int Page = 100;
    // Rows shown above the entry a list starts at.
    static constexpr int Before = 20;

    // load: the first page read at once; a cell's editor leaves it to the
    // entry it opens at (startAt) and to what is typed (filterTo).
    ProductRefModel(Store& store, QObject* parent = nullptr, bool load = true);

    void filterTo(const QString& prefix) override;
    void startAt(const QString& entry) override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

  private:
    // A page of rows (name, id, then the columns) after the key (name, id).
    Rows page(const QVariant& name, qint64 id, bool before, int limit) const;
    Store& m_store;
    QString m_prefix;
    Rows m_rows; // 品名, id, then RefColumns
    bool m_more = false;
};

} // namespace products
