#pragma once

#include <QCalendarWidget>
#include <QDateEdit>

class QLabel;

// The month calendar of the date box: Japanese weekday names, the month titled
// "yyyy年MM月", the fixed holidays marked.
class JapaneseCalendar : public QCalendarWidget {
    Q_OBJECT
  public:
    explicit JapaneseCalendar(QWidget* parent = nullptr);
    QString title() const;
    static bool isFixedHoliday(const QDate& d);
    // Dates shown in bold on a tinted ground (the dates with saved sheets).
    void setMarkedDates(const QVector<QDate>& dates);
    // Room for our own title bar above the month.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void showEvent(QShowEvent* e) override;

  private:
    void markHolidays(int year);
    void applyMarks();
    QVector<QDate> m_marked;
    QWidget* m_bar;
    QLabel* m_title;
};

// A date box that may be empty: its text is then empty and its value null.
// Shows "yyyy年MM月dd日"; Delete empties it; typing into an empty box starts at today.
class DateBox : public QDateEdit {
    Q_OBJECT
  public:
    explicit DateBox(QWidget* parent = nullptr);

    bool isNull() const { return date() == minimumDate(); }
    void setNull();
    void setValue(const QDate& d);
    // Null when empty.
    QDate value() const { return isNull() ? QDate() : date(); }
    // The date as the box shows it; empty when the box is empty.
    QString shownText() const;
    // Marks the dates with saved sheets in the calendar.
    void setMarkedDates(const QVector<QDate>& dates);
    // The month calendar, made when first needed.
    JapaneseCalendar* calendar();

  protected:
    bool event(QEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

  private:
    JapaneseCalendar* m_calendar = nullptr;
    QVector<QDate> m_marked;
};
