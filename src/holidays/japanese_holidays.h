#pragma once

#include <QDate>
#include <QString>

namespace holidays {

// The name of the national holiday on date as the calendar prints it ("元日", "振替休日",
// "国民の休日"…), or the empty text on an ordinary day. Follows the national holiday law as it
// stood on that date, the separate laws that added or moved single days included, from the law's
// first holiday in 1948. Equinox days come from the usual astronomical formula, which the
// Cabinet Office's announcement has matched every year it covers (1900 to 2150).
QString holidayName(const QDate& date);

// Whether date is a national holiday of any kind.
inline bool isHoliday(const QDate& date)
{
    return !holidayName(date).isEmpty();
}

// The day in March and in September of the equinox holidays of year.
int vernalEquinoxDay(int year);
int autumnalEquinoxDay(int year);

} // namespace holidays
