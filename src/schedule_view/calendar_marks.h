#pragma once

#include <QColor>
#include <QDate>

class QCalendarWidget;

namespace schedule {

// The colours of the days, as every calendar of the program shows them.
QColor saturdayColour();
QColor holidayColour(); // Sundays and national holidays
// The colour of a day's number: the holiday colour, Saturday's, or none for a working day.
QColor dayColour(const QDate& date);

// Shows Saturdays in blue and Sundays and national holidays in red in a calendar, the holiday's
// name as the day's tool tip, on whichever month the calendar is turned to.
void markHolidays(QCalendarWidget* calendar);

} // namespace schedule
