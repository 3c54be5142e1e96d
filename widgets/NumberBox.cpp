#include "widgets/NumberBox.h"

#include "base/Values.h"

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
    if (t.trimmed().isEmpty()) {
        m_value = QVariant();
    } else if (m_decimals == 0) {
        if (const auto n = parseWholeNumber(t))
            m_value = qlonglong(*n);
        else
            emit refused(t);
    } else {
        if (const auto c = parseCurrency(t))
            m_value = c->toVariant();
        else
            emit refused(t);
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
    // The base class reports a changed text (editingFinished), which commits it.
    QLineEdit::focusOutEvent(e);
    showFormatted();
}
