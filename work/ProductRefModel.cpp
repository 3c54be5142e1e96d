#include "work/ProductRefModel.h"

#include "work/WorkTableModel.h"

#include <algorithm>

namespace products {

namespace {
// The first text after every text that begins with prefix, in the ledger's
// byte order of names.
QString pastPrefix(const QString& prefix) {
    return prefix + QString::fromUcs4(U"\U0010FFFF");
}
} // namespace

ProductRefModel::ProductRefModel(Store& store, QObject* parent, bool load)
    : QAbstractTableModel(parent), m_store(store) {
    if (load)
        filterTo(QString());
}

Rows ProductRefModel::page(const QVariant& name, qint64 id, bool before, int limit) const {
    QString where = "品名 IS NOT NULL";
    QVariantList params;
    if (!m_prefix.isEmpty()) {
        where += " AND 品名 >= ? AND 品名 < ?";
        params << m_prefix << pastPrefix(m_prefix);
    }
    if (name.isValid()) {
        where += before ? " AND (品名 < ? OR (品名 = ? AND id < ?))"
                        : " AND (品名 > ? OR (品名 = ? AND id > ?))";
        params << name << name << id;
    }
    const QString order = before ? "品名 DESC, id DESC" : "品名, id";
    Rows rows;
    const Status s = guarded([&] {
        rows = m_store.query(Db::Main,
                             "SELECT 品名, id, " + columns::list(RefColumns) +
                                 " FROM 商品マスタ WHERE " + where + " ORDER BY " + order +
                                 " LIMIT " + QString::number(limit),
                             params);
    });
    if (!s)
        qWarning("product drop-down: %s", qPrintable(s.error));
    if (before)
        std::reverse(rows.begin(), rows.end());
    return rows;
}

void ProductRefModel::filterTo(const QString& prefix) {
    beginResetModel();
    m_prefix = prefix;
    m_rows = page(QVariant(), 0, false, Page + 1);
    m_more = m_rows.size() > Page;
    if (m_more)
        m_rows.removeLast();
    endResetModel();
}

void ProductRefModel::startAt(const QString& entry) {
    beginResetModel();
    m_prefix.clear();
    Rows after = page(entry.isEmpty() ? QVariant() : QVariant(entry), -1, false, Page + 1);
    m_more = after.size() > Page;
    if (m_more)
        after.removeLast();
    m_rows = entry.isEmpty() ? after : page(entry, 0, true, Before) + after;
    endResetModel();
}

bool ProductRefModel::canFetchMore(const QModelIndex& parent) const {
    return !parent.isValid() && m_more;
}

void ProductRefModel::fetchMore(const QModelIndex& parent) {
    if (parent.isValid() || !m_more || m_rows.isEmpty())
        return;
    Rows more = page(m_rows.last()[0], m_rows.last()[1].toLongLong(), false, Page + 1);
    m_more = more.size() > Page;
    if (m_more)
        more.removeLast();
    if (more.isEmpty())
        return;
    beginInsertRows(QModelIndex(), int(m_rows.size()), int(m_rows.size() + more.size()) - 1);
    m_rows += more;
    endInsertRows();
}

int ProductRefModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_rows.size());
}

int ProductRefModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : RefColumnCount;
}

QVariant ProductRefModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= m_rows.size() || index.column() >= RefColumnCount)
        return QVariant();
    return WorkTableModel::roleData(RefColumns[index.column()],
                                    m_rows[index.row()][2 + index.column()], role);
}

QVariant ProductRefModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < RefColumnCount)
        return QString::fromUtf8(RefColumns[section].caption);
    return QAbstractTableModel::headerData(section, orientation, role);
}

} // namespace products
