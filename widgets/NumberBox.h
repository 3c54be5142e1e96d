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
    // 0: whole numbers only; 4: prices with up to four decimals.
    void setDecimals(int decimals) { m_decimals = decimals; }

  signals:
    // Typed text that is not a number of the box's kind; the value stays.
    void refused(const QString& typed);

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
