#include "work/WorkTableModel.h"

#include "base/Values.h"

#include <QSqlRecord>

WorkTableModel::WorkTableModel(Store& store, const QString& table, const QString& keyField,
                               QVector<Column> columns, QObject* parent)
    : QAbstractTableModel(parent), m_store(store), m_table(table), m_keyField(keyField),
      m_columns(std::move(columns)) {}

QString WorkTableModel::selectSql() const {
    QStringList fields{m_keyField};
    for (const Column& c : m_columns)
        fields << QString::fromUtf8(c.field);
    return QString("SELECT %1 FROM %2").arg(fields.join(", "), m_table);
}

bool WorkTableModel::refresh() {
    QVector<qint64> keys;
    QVector<QVector<QVariant>> rows;
    const Status st = guarded([&] {
        QSqlQuery q = m_store.prepare(Db::Work, selectSql() + " ORDER BY " + m_keyField);
        m_store.run(q, {});
        const int n = int(m_columns.size());
        while (q.next()) {
            keys.append(q.value(0).toLongLong());
            QVector<QVariant> r(n);
            for (int i = 0; i < n; ++i)
                r[i] = q.value(i + 1);
            rows.append(r);
        }
    });
    if (!st) {
        m_lastError = st.error;
        qWarning("refresh of %s failed: %s", qPrintable(m_table), qPrintable(st.error));
        return false;
    }
    beginResetModel();
    m_keys = std::move(keys);
    m_rows = std::move(rows);
    endResetModel();
    return true;
}

bool WorkTableModel::ensureFresh() {
    if (!m_stale)
        return true;
    if (m_refill) {
        if (Status s = m_refill(); !s) {
            m_lastError = s.error;
            qWarning("rebuilding %s failed: %s", qPrintable(m_table), qPrintable(s.error));
            return false;
        }
    }
    m_stale = false;
    return refresh();
}

bool WorkTableModel::refreshRow(int row) {
    if (row < 0 || row >= m_rows.size())
        return false;
    Rows got;
    const Status st = guarded([&] {
        got = m_store.query(Db::Work, selectSql() + " WHERE " + m_keyField + " = ?", {m_keys[row]});
    });
    if (!st || got.isEmpty()) {
        m_lastError = st.error;
        return false;
    }
    m_rows[row] = got.first().mid(1);
    emit dataChanged(index(row, 0), index(row, columnCount() - 1));
    return true;
}

QVariant WorkTableModel::value(int row, int column) const {
    if (row < 0 || row >= m_rows.size() || column < 0 || column >= m_columns.size())
        return QVariant();
    return m_rows[row][column];
}

int WorkTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_rows.size());
}

int WorkTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_columns.size());
}

QVariant WorkTableModel::roleData(const Column& c, const QVariant& v, int role) {
    switch (role) {
    case Qt::DisplayRole:
        if (c.checkBox)
            return QVariant();
        if (c.kind == Kind::Whole || c.kind == Kind::Money)
            return *c.format == '\0' ? (v.isNull() ? QString() : v.toString())
                                     : formatNumber(v, QString::fromUtf8(c.format));
        return v.isNull() ? QString() : v.toString();
    case Qt::EditRole:
        if (c.kind == Kind::Money) {
            const auto m = Currency::fromVariant(v);
            return m ? m->toString() : QString();
        }
        return v.isNull() ? QString() : v.toString();
    case Qt::CheckStateRole:
        if (c.checkBox)
            return v.toInt() != 0 ? Qt::Checked : Qt::Unchecked;
        return QVariant();
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(Qt::Alignment(c.align) | Qt::AlignVCenter);
    case Qt::ToolTipRole:
        // A long code or name, elided in its cell, reads whole on hover.
        return c.kind == Kind::Text && !v.isNull() ? QVariant(v.toString()) : QVariant();
    default:
        return QVariant();
    }
}

QVariant WorkTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= m_rows.size() || index.column() >= m_columns.size())
        return QVariant();
    if (decorate && role != Qt::EditRole && role != Qt::CheckStateRole &&
        role != Qt::TextAlignmentRole)
        if (QVariant d = decorate(index.row(), index.column(), role); d.isValid())
            return d;
    return roleData(m_columns[index.column()], m_rows[index.row()][index.column()], role);
}

QVariant WorkTableModel::storedValue(Kind kind, const QVariant& typed) {
    const QVariant null(QMetaType::fromType<QString>());
    if (isEmptyValue(typed))
        return kind == Kind::Flag ? QVariant(0) : null;
    switch (kind) {
    case Kind::Text:
        return typed.toString();
    case Kind::Whole: {
        if (typed.typeId() != QMetaType::QString)
            return QVariant(typed.toLongLong());
        const auto n = parseWholeNumber(typed.toString());
        return n ? QVariant(qlonglong(*n)) : null;
    }
    case Kind::Money: {
        const auto m = typed.typeId() == QMetaType::QString ? parseCurrency(typed.toString())
                                                            : Currency::fromVariant(typed);
        return m ? m->toVariant() : null;
    }
    case Kind::Flag:
        return QVariant(typed.toInt() != 0 ? 1 : 0);
    }
    return null;
}

bool WorkTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || index.row() >= m_rows.size())
        return false;
    const Column& c = m_columns[index.column()];
    QVariant typed = value;
    if (role == Qt::CheckStateRole && c.checkBox)
        typed = value.toInt() == Qt::Checked ? 1 : 0;
    else if (role != Qt::EditRole)
        return false;
    const QVariant stored = storedValue(c.kind, typed);
    const int row = index.row();
    const auto written = writeCell ? writeCell(row, index.column(), stored) : std::nullopt;
    Status st = written ? written->status : Status();
    if (!written)
        st = guarded([&] {
            m_store.exec(Db::Work,
                         QString("UPDATE %1 SET %2 = ? WHERE %3 = ?")
                             .arg(m_table, QString::fromUtf8(c.field), m_keyField),
                         {stored, m_keys[row]});
        });
    if (!st) {
        emit writeFailed(st.error);
        return false;
    }
    if (written) { // the whole line as now stored
        m_rows[row] = written->value;
        emit dataChanged(this->index(row, 0), this->index(row, columnCount() - 1));
    } else {
        m_rows[row][index.column()] = stored;
        emit dataChanged(index, index);
    }
    if (stored.isNull() && !isEmptyValue(typed) && (c.kind == Kind::Whole || c.kind == Kind::Money))
        emit valueRefused(row, index.column(), typed.toString());
    emit cellEdited(row, index.column());
    return true;
}

QVariant WorkTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && section >= 0 && section < m_columns.size()) {
        if (role == Qt::DisplayRole)
            return QString::fromUtf8(m_columns[section].caption);
        if (role == Qt::TextAlignmentRole)
            return int(Qt::AlignCenter);
    }
    if (orientation == Qt::Vertical && role == Qt::DisplayRole)
        return section + 1;
    return QVariant();
}

Qt::ItemFlags WorkTableModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    const Column& c = m_columns[index.column()];
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (c.checkBox)
        f |= Qt::ItemIsUserCheckable;
    else if (c.editable)
        f |= Qt::ItemIsEditable;
    return f;
}
