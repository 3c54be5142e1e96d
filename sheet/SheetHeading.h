#pragma once

#include <QWidget>

class DateBox;
class NumberBox;
class QCheckBox;
class QComboBox;
class QLabel;

// The sheet tab's heading rows: the date and category of the sheet, the
// saved-sheet views, closing the count, and the sheet's total; below them who
// counts, whether the date stays, whether the counter sees the proper
// quantities, the count's progress and history, and a change by another counter.
class SheetHeading : public QWidget {
    Q_OBJECT
  public:
    explicit SheetHeading(QWidget* parent = nullptr);
    DateBox* date() const { return m_date; }
    QComboBox* category() const { return m_category; }
    NumberBox* total() const { return m_total; }
    QComboBox* counter() const { return m_counter; }
    QCheckBox* keepDate() const { return m_keepDate; }
    QCheckBox* hideProper() const { return m_hideProper; }
    // 確定済み shown, and 確定解除 instead of 確定, when the date is closed.
    void showClosed(bool closed);
    // 「他の担当が記録しました」 and 読み直す, while the saved count changed
    // under unsaved edits.
    void showRecordedElsewhere(bool shown);
    bool recordedElsewhereShown() const;

  signals:
    void savedSheetsRequested();
    void summaryRequested();
    void inventoryRequested();
    void comparisonRequested();
    void closeRequested();
    void reopenRequested();
    void progressRequested();
    void historyRequested();
    void phonesRequested();
    void rereadRequested();

  private:
    DateBox* m_date;
    QComboBox* m_category;
    NumberBox* m_total;
    QComboBox* m_counter;
    QCheckBox* m_keepDate;
    QCheckBox* m_hideProper;
    QLabel* m_closed;
    QWidget* m_close;
    QWidget* m_reopen;
    QWidget* m_elsewhere;
};
