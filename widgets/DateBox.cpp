#include "widgets/DateBox.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTextCharFormat>
#include <QToolButton>
#include <QVBoxLayout>

namespace {
const int Holidays[][2] = {{1, 1},  {1, 15}, {2, 11},  {4, 29}, {5, 3},   {5, 4},  {5, 5},
                           {7, 20}, {9, 15}, {10, 10}, {11, 3}, {11, 23}, {12, 23}};
const QDate NullDate(1900, 1, 1);
} // namespace

JapaneseCalendar::JapaneseCalendar(QWidget* parent) : QCalendarWidget(parent) {
    setObjectName("dt日付カレンダー");
    setLocale(QLocale(QLocale::Japanese, QLocale::Japan));
    setFirstDayOfWeek(Qt::Sunday);
    setHorizontalHeaderFormat(QCalendarWidget::ShortDayNames);
    setVerticalHeaderFormat(QCalendarWidget::NoVerticalHeader);
    setGridVisible(true);
    // Our own title bar: the month as "yyyy年MM月" between the two arrows.
    setNavigationBarVisible(false);
    auto* bar = m_bar = new QWidget(this);
    auto* h = new QHBoxLayout(bar);
    h->setContentsMargins(4, 2, 4, 2);
    auto* prev = new QToolButton(bar);
    prev->setText("◀");
    prev->setAutoRaise(true);
    auto* next = new QToolButton(bar);
    next->setText("▶");
    next->setAutoRaise(true);
    m_title = new QLabel(bar);
    m_title->setAlignment(Qt::AlignCenter);
    h->addWidget(prev);
    h->addWidget(m_title, 1);
    h->addWidget(next);
    if (auto* v = qobject_cast<QVBoxLayout*>(layout()))
        v->insertWidget(0, bar);
    connect(prev, &QToolButton::clicked, this, &QCalendarWidget::showPreviousMonth);
    connect(next, &QToolButton::clicked, this, &QCalendarWidget::showNextMonth);
    connect(this, &QCalendarWidget::currentPageChanged, this, [this](int y, int m) {
        m_title->setText(QString("%1年%2月").arg(y).arg(m, 2, 10, QChar('0')));
        markHolidays(y);
    });
    const QDate today = QDate::currentDate();
    m_title->setText(QString("%1年%2月").arg(today.year()).arg(today.month(), 2, 10, QChar('0')));
    markHolidays(today.year());
    QTextCharFormat sunday;
    sunday.setForeground(Qt::red);
    setWeekdayTextFormat(Qt::Sunday, sunday);
    QTextCharFormat saturday;
    saturday.setForeground(Qt::blue);
    setWeekdayTextFormat(Qt::Saturday, saturday);
}

QString JapaneseCalendar::title() const {
    return m_title->text();
}

void JapaneseCalendar::showEvent(QShowEvent* e) {
    // An empty date box opens its calendar at today's month.
    if (selectedDate() <= minimumDate()) {
        const QDate today = QDate::currentDate();
        setCurrentPage(today.year(), today.month());
    }
    QCalendarWidget::showEvent(e);
}

QSize JapaneseCalendar::sizeHint() const {
    return QCalendarWidget::sizeHint() + QSize(0, m_bar->sizeHint().height());
}

QSize JapaneseCalendar::minimumSizeHint() const {
    return QCalendarWidget::minimumSizeHint() + QSize(0, m_bar->sizeHint().height());
}

bool JapaneseCalendar::isFixedHoliday(const QDate& d) {
    for (const auto& h : Holidays)
        if (d.month() == h[0] && d.day() == h[1])
            return true;
    return false;
}

void JapaneseCalendar::markHolidays(int year) {
    QTextCharFormat f;
    f.setForeground(Qt::red);
    f.setFontWeight(QFont::Bold);
    for (int y = year - 1; y <= year + 1; ++y)
        for (const auto& h : Holidays)
            setDateTextFormat(QDate(y, h[0], h[1]), f);
    applyMarks(); // a holiday with a saved sheet stays marked
}

void JapaneseCalendar::setMarkedDates(const QVector<QDate>& dates) {
    for (const QDate& d : m_marked)
        setDateTextFormat(d, QTextCharFormat());
    for (const QDate& d : m_marked)
        if (isFixedHoliday(d))
            markHolidays(d.year());
    m_marked = dates;
    applyMarks();
}

void JapaneseCalendar::applyMarks() {
    for (const QDate& d : m_marked) {
        QTextCharFormat f = dateTextFormat(d);
        f.setFontWeight(QFont::Bold);
        f.setBackground(QColor(0xd6, 0xec, 0xe6));
        setDateTextFormat(d, f);
    }
}

void DateBox::setMarkedDates(const QVector<QDate>& dates) {
    m_marked = dates;
    if (m_calendar)
        m_calendar->setMarkedDates(dates);
}

JapaneseCalendar* DateBox::calendar() {
    if (!m_calendar) {
        m_calendar = new JapaneseCalendar(this);
        m_calendar->setMarkedDates(m_marked);
        setCalendarWidget(m_calendar);
    }
    return m_calendar;
}

bool DateBox::event(QEvent* e) {
    // A press may open the month: it is ours before the box handles it.
    if (e->type() == QEvent::MouseButtonPress || e->type() == QEvent::KeyPress)
        calendar();
    return QDateEdit::event(e);
}

DateBox::DateBox(QWidget* parent) : QDateEdit(parent) {
    setDisplayFormat("yyyy年MM月dd日");
    setMinimumDate(NullDate);
    setMaximumDate(QDate(9999, 12, 31));
    // The minimum stands for "no date"; one space keeps the box blank.
    setSpecialValueText(" ");
    // The month is made when first opened: most boxes never open it, and a
    // window of seven boxes starts sooner without them.
    setCalendarPopup(true);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    setValue(QDate::currentDate());
}

void DateBox::setNull() {
    setDate(minimumDate());
}

void DateBox::setValue(const QDate& d) {
    if (d.isValid())
        setDate(d);
    else
        setNull();
}

QString DateBox::shownText() const {
    return isNull() ? QString() : date().toString(displayFormat());
}

void DateBox::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Delete ||
        (e->key() == Qt::Key_Backspace && lineEdit()->selectedText() == lineEdit()->text())) {
        setNull();
        e->accept();
        return;
    }
    if (isNull()) {
        // Up or Down on an empty box shows today, not a step away from it.
        if (e->key() == Qt::Key_Up || e->key() == Qt::Key_Down) {
            setDate(QDate::currentDate());
            setSelectedSection(YearSection);
            e->accept();
            return;
        }
        // A typed digit starts the year; the sections follow as they fill
        // (2 0 2 4 0 1 0 5 gives 2024年01月05日). Other characters are ignored.
        const QString t = e->text();
        if (!t.isEmpty() && t.at(0).isPrint()) {
            if (!t.at(0).isDigit()) {
                e->accept();
                return;
            }
            setDate(QDate::currentDate());
            setSelectedSection(YearSection);
        }
    }
    QDateEdit::keyPressEvent(e);
}
