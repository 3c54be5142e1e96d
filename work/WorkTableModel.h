#pragma once

#include "base/StaleList.h"
#include "store/Columns.h"
#include "store/Store.h"

#include <QAbstractTableModel>
#include <QStringList>
#include <QVector>
#include <functional>
#include <optional>

// A grid's binding to one work table (the ledger's "data control"): all rows
// in insertion order, read by refresh(), each committed cell written at once.
class WorkTableModel : public QAbstractTableModel, public StaleList {
    Q_OBJECT
  public:
    using Kind = columns::Kind;
    using Column = columns::Column;

    WorkTableModel(Store& store, const QString& table, const QString& keyField,
                   QVector<Column> columns, QObject* parent = nullptr);
    // Over a table's column table (store/Columns.h).
    template <std::size_t N>
    WorkTableModel(Store& store, const QString& table, const QString& keyField,
                   const Column (&columns)[N], QObject* parent = nullptr)
        : WorkTableModel(store, table, keyField, QVector<Column>(columns, columns + N), parent) {}

    // Re-reads every row of the table. Returns false (and keeps the old rows)
    // when the read failed; lastError() says why.
    bool refresh();
    // Re-reads one row (after an operation changed it in the table).
    bool refreshRow(int row);
    // A list rebuilt only when it is next looked at: markStale() after its
    // source changed, ensureFresh() before showing it runs refill then refresh.
    void setRefill(std::function<Status()> refill) { m_refill = std::move(refill); }
    void markStale(bool stale = true) { m_stale = stale; }
    bool ensureFresh() override;
    QString lastError() const { return m_lastError; }

    qint64 keyAt(int row) const { return m_keys.value(row); }
    int rowOfKey(qint64 key) const { return m_keys.indexOf(key); }
    QVariant value(int row, int column) const;
    const Column& column(int c) const { return m_columns[c]; }
    QString table() const { return m_table; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // The write of one committed cell when the grid's owner makes it (the
    // cell and what follows from it, in one statement): the row as now
    // stored, or nullopt to have the cell written alone.
    std::function<std::optional<Result<QVector<QVariant>>>(int row, int column,
                                                           const QVariant& stored)>
        writeCell;
    // The row as the grid holds it.
    QVector<QVariant> rowValues(int row) const { return m_rows.value(row); }
    // Extra roles of a cell (a tint, a tooltip, the text shown) given by the
    // grid's owner; an invalid answer leaves the cell as stored.
    std::function<QVariant(int row, int column, int role)> decorate;

    // What a grid shows of a stored value in a role (text, alignment, tooltip).
    static QVariant roleData(const Column& c, const QVariant& v, int role);

    // Converts what a user typed into the value stored for a column:
    // empty text gives null; a number column that cannot read the text gives null.
    static QVariant storedValue(Kind kind, const QVariant& typed);

  signals:
    // A cell committed by the user (not by refresh or an operation).
    void cellEdited(int row, int column);
    // A cell could not be written; the message says why.
    void writeFailed(const QString& message);
    // A number cell was given text that is not a number; the cell was emptied.
    void valueRefused(int row, int column, const QString& typed);

  private:
    Store& m_store;
    QString m_table;
    QString m_keyField;
    QVector<Column> m_columns;
    QVector<qint64> m_keys;
    QVector<QVector<QVariant>> m_rows;
    QString m_lastError;
    std::function<Status()> m_refill;
    bool m_stale = false;
    QString selectSql() const;
};
