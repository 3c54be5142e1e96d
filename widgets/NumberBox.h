#pragma once

#include <QLineEdit>
#include <QVariant>

// A number box: keeps a value (or null) and shows it with a display format
// such as "#,###,###,###" while it does not have the focus.
class NumberBox : public QLineEdit {
    Q_OBJECT
  public:
    explicit NumberBox(const QString& format, QWidget* parent = nullptr);

    void setValue(const QVariant& value);
    QVariant value() const { return m_value; }
    QString format() const { return m_format; }
    // Up to `decimals` places are kept when the user types a fraction.
    void setDecimals(int decimals) { m_decimals = decimals; }

  protected:
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;

  private:
    void commitText();
    void showFormatted();
    QString m_format;
    QVariant m_value;
    int m_decimals = 0;
};
