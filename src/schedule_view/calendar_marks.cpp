#include "schedule_view/calendar_marks.h"

#include "holidays/japanese_holidays.h"

#include <QCalendarWidget>
#include <QTextCharFormat>

namespace schedule {
namespace {
void markMonth(QCalendarWidget* calendar, int year, int month)
{
    // The page shows a few days of the months either side as well.
    const QDate first = QDate(year, month, 1).addDays(-7);
    const QDate last = QDate(year, month, 1).addMonths(1).addDays(14);
    calendar->setDateTextFormat(QDate(), QTextCharFormat()); // forgets the page before
    for (QDate day = first; day <= last; day = day.addDays(1)) {
        const QString name = holidays::holidayName(day);
        if (name.isEmpty())
            continue;
        QTextCharFormat format;
        format.setForeground(holidayColour());
        format.setToolTip(name);
        calendar->setDateTextFormat(day, format);
    }
}
} // namespace

QColor saturdayColour()
{
    return QColor(0x1a, 0x4f, 0xc4);
}

QColor holidayColour()
{
    return QColor(0xd0, 0x1c, 0x1c);
}

QColor dayColour(const QDate& date)
{
    if (date.dayOfWeek() == Qt::Sunday || holidays::isHoliday(date))
        return holidayColour();
    if (date.dayOfWeek() == Qt::Saturday)
        return saturdayColour();
    return {};
}

void markHolidays(QCalendarWidget* calendar)
{
    QTextCharFormat saturday;
    saturday.setForeground(saturdayColour());
    QTextCharFormat sunday;
    sunday.setForeground(holidayColour());
    calendar->setWeekdayTextFormat(Qt::Saturday, saturday);
    calendar->setWeekdayTextFormat(Qt::Sunday, sunday);
    QObject::connect(calendar, &QCalendarWidget::currentPageChanged, calendar,
                     [calendar](int year, int month) { markMonth(calendar, year, month); });
    markMonth(calendar, calendar->yearShown(), calendar->monthShown());
}

} // namespace schedule
