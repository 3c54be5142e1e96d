#include "widgets/NumberBox.h"

#include "store/Values.h"

#include <QLocale>
#include <cmath>

NumberBox::NumberBox(const QString& format, QWidget* parent) : QLineEdit(parent), m_format(format) {
    setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    connect(this, &QLineEdit::editingFinished, this, &NumberBox::commitText);
    showFormatted();
}

void NumberBox::setValue(const QVariant& value) {
    m_value = value;
    if (hasFocus())
        setText(value.isNull() || !value.isValid() ? QString() : value.toString());
    else
        showFormatted();
}

void NumberBox::commitText() {
    const QString t = text();
    const auto d = parseNumber(t);
    if (t.trimmed().isEmpty())
        m_value = QVariant();
    else if (d) {
        const double scale = std::pow(10.0, m_decimals);
        const double r = std::round(*d * scale) / scale;
        m_value = m_decimals == 0 ? QVariant(qlonglong(std::llround(r))) : QVariant(r);
    }
    // Text that is not a number keeps the previous value.
    if (!hasFocus())
        showFormatted();
}

void NumberBox::showFormatted() {
    setText(formatNumber(m_value, m_format));
}

void NumberBox::focusInEvent(QFocusEvent* e) {
    setText(m_value.isNull() || !m_value.isValid() ? QString() : m_value.toString());
    QLineEdit::focusInEvent(e);
    selectAll();
}

void NumberBox::focusOutEvent(QFocusEvent* e) {
    QLineEdit::focusOutEvent(e);
    commitText();
    showFormatted();
}
