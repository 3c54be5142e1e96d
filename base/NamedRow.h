#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <initializer_list>
#include <memory>
#include <utility>

// One row's values by field name. Rows read from one table share their
// fields' names, so a report finds each field's place once for all of them.
class NamedRow {
  public:
    using Fields = std::shared_ptr<const QStringList>;
    NamedRow() = default;
    NamedRow(std::initializer_list<std::pair<QString, QVariant>> values);
    NamedRow(Fields fields, QVariantList values);
    // The field's value; null when the row has no such field.
    QVariant value(const QString& field) const;
    void insert(const QString& field, const QVariant& value);
    // The field's place among the row's values, -1 when it has none.
    int indexOf(const QString& field) const;
    const QVariant& at(int i) const { return m_values[i]; }
    const Fields& fields() const { return m_fields; }

  private:
    Fields m_fields;
    QVariantList m_values;
};
