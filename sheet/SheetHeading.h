#pragma once

#include <QWidget>

class DateBox;
class NumberBox;
class QComboBox;
class QLabel;

// The sheet tab's heading row: the date and category of the sheet, the
// saved-sheet views, closing the count, and the sheet's total.
class SheetHeading : public QWidget {
    Q_OBJECT
  public:
    explicit SheetHeading(QWidget* parent = nullptr);
    DateBox* date() const { return m_date; }
    QComboBox* category() const { return m_category; }
    NumberBox* total() const { return m_total; }
    // 確定済み shown, and 確定解除 instead of 確定, when the date is closed.
    void showClosed(bool closed);

  signals:
    void savedSheetsRequested();
    void summaryRequested();
    void comparisonRequested();
    void closeRequested();
    void reopenRequested();

  private:
    DateBox* m_date;
    QComboBox* m_category;
    NumberBox* m_total;
    QLabel* m_closed;
    QWidget* m_close;
    QWidget* m_reopen;
};
