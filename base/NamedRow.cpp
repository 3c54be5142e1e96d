#include "base/NamedRow.h"

NamedRow::NamedRow(std::initializer_list<std::pair<QString, QVariant>> values) {
    for (const auto& [field, value] : values)
        insert(field, value);
}

NamedRow::NamedRow(Fields fields, QVariantList values)
    : m_fields(std::move(fields)), m_values(std::move(values)) {
    m_values.resize(m_fields ? m_fields->size() : 0);
}

int NamedRow::indexOf(const QString& field) const {
    return m_fields ? int(m_fields->indexOf(field)) : -1;
}

QVariant NamedRow::value(const QString& field) const {
    const int i = indexOf(field);
    return i < 0 ? QVariant() : m_values[i];
}

void NamedRow::insert(const QString& field, const QVariant& value) {
    if (const int i = indexOf(field); i >= 0) {
        m_values[i] = value;
        return;
    }
    // A field of this row alone: the names the other rows share stay as they are.
    auto fields = std::make_shared<QStringList>(m_fields ? *m_fields : QStringList());
    fields->append(field);
    m_fields = std::move(fields);
    m_values.append(value);
}
