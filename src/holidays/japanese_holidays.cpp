#include "holidays/japanese_holidays.h"

namespace holidays {
namespace {

// The law's first day in force; no day before it has a holiday of this law.
const QDate kLawStart(1948, 7, 20);
// From this day a holiday on a Sunday gives the next Monday off...
const QDate kSubstituteStart(1973, 4, 12);
// ...and from this year the next day that is not itself a holiday.
constexpr int kSubstituteChainYear = 2007;
// From this day a day between two holidays is a day off as well.
const QDate kBetweenStart(1985, 12, 27);

int nthMonday(int year, int month, int n)
{
    const int firstDow = QDate(year, month, 1).dayOfWeek(); // 1 Monday … 7 Sunday
    return 1 + (8 - firstDow) % 7 + 7 * (n - 1);
}

// The equinox by the formula of the National Astronomical Observatory's tables: a mean year
// from 1980 with one day dropped every four years. Truncation is meant (years before 1983 give
// a negative quarter that rounds toward zero).
int equinox(int year, double before1980, double until2099, double after2099)
{
    const int offset = year - 1980;
    if (year <= 1979)
        return int(before1980 + 0.242194 * offset - (year - 1983) / 4);
    return int((year <= 2099 ? until2099 : after2099) + 0.242194 * offset - offset / 4);
}

// The days named by the law itself or by a separate law for one year, before any day off that
// follows from them (振替休日, 国民の休日).
QString namedHoliday(const QDate& date)
{
    if (date < kLawStart)
        return {};
    const int y = date.year();
    const int m = date.month();
    const int d = date.day();
    switch (m) {
    case 1:
        if (d == 1)
            return QStringLiteral("元日");
        if (y >= 1949 && d == (y <= 1999 ? 15 : nthMonday(y, 1, 2)))
            return QStringLiteral("成人の日");
        break;
    case 2:
        if (y >= 1967 && d == 11)
            return QStringLiteral("建国記念の日");
        if (y >= 2020 && d == 23)
            return QStringLiteral("天皇誕生日");
        if (y == 1989 && d == 24)
            return QStringLiteral("昭和天皇の大喪の礼");
        break;
    case 3:
        if (y >= 1949 && d == vernalEquinoxDay(y))
            return QStringLiteral("春分の日");
        break;
    case 4:
        if (d == 29)
            return y <= 1988 ? QStringLiteral("天皇誕生日") : y <= 2006 ? QStringLiteral("みどりの日") : QStringLiteral("昭和の日");
        if (y == 1959 && d == 10)
            return QStringLiteral("皇太子明仁親王の結婚の儀");
        break;
    case 5:
        if (d == 3)
            return QStringLiteral("憲法記念日");
        if (y >= 2007 && d == 4)
            return QStringLiteral("みどりの日");
        if (d == 5)
            return QStringLiteral("こどもの日");
        if (y == 2019 && d == 1)
            return QStringLiteral("休日（即位の日）");
        break;
    case 6:
        if (y == 1993 && d == 9)
            return QStringLiteral("皇太子徳仁親王の結婚の儀");
        break;
    case 7:
        // The Olympic years moved three holidays to the days around the opening ceremony.
        if (y == 2020)
            return d == 23 ? QStringLiteral("海の日") : d == 24 ? QStringLiteral("スポーツの日") : QString();
        if (y == 2021)
            return d == 22 ? QStringLiteral("海の日") : d == 23 ? QStringLiteral("スポーツの日") : QString();
        if ((y >= 1996 && y <= 2002 && d == 20) || (y >= 2003 && d == nthMonday(y, 7, 3)))
            return QStringLiteral("海の日");
        break;
    case 8:
        if (y >= 2016 && d == (y == 2020 ? 10 : y == 2021 ? 8 : 11))
            return QStringLiteral("山の日");
        break;
    case 9:
        if ((y >= 1966 && y <= 2002 && d == 15) || (y >= 2003 && d == nthMonday(y, 9, 3)))
            return QStringLiteral("敬老の日");
        if (d == autumnalEquinoxDay(y))
            return QStringLiteral("秋分の日");
        break;
    case 10:
        if (y >= 1966 && y <= 1999 && d == 10)
            return QStringLiteral("体育の日");
        if (y >= 2000 && y <= 2019 && d == nthMonday(y, 10, 2))
            return QStringLiteral("体育の日");
        if (y >= 2022 && d == nthMonday(y, 10, 2))
            return QStringLiteral("スポーツの日");
        if (y == 2019 && d == 22)
            return QStringLiteral("即位礼正殿の儀");
        break;
    case 11:
        if (d == 3)
            return QStringLiteral("文化の日");
        if (d == 23)
            return QStringLiteral("勤労感謝の日");
        if (y == 1990 && d == 12)
            return QStringLiteral("即位礼正殿の儀");
        break;
    case 12:
        if (y >= 1989 && y <= 2018 && d == 23)
            return QStringLiteral("天皇誕生日");
        break;
    }
    return {};
}

bool isNamed(const QDate& date)
{
    return !namedHoliday(date).isEmpty();
}

bool isSubstitute(const QDate& date)
{
    if (date < kSubstituteStart)
        return false;
    if (date.year() < kSubstituteChainYear)
        return date.dayOfWeek() == Qt::Monday && isNamed(date.addDays(-1));
    // The day off moves on past the holidays that follow the Sunday, as in a Golden Week whose
    // 3 May is a Sunday. A chain of holidays is never longer than a week.
    for (QDate day = date.addDays(-1); isNamed(day); day = day.addDays(-1)) {
        if (day.dayOfWeek() == Qt::Sunday)
            return true;
    }
    return false;
}

} // namespace

int vernalEquinoxDay(int year)
{
    return equinox(year, 20.8357, 20.8431, 21.8510);
}

int autumnalEquinoxDay(int year)
{
    return equinox(year, 23.2588, 23.2488, 24.2488);
}

QString holidayName(const QDate& date)
{
    if (!date.isValid())
        return {};
    QString name = namedHoliday(date);
    if (!name.isEmpty())
        return name;
    if (isSubstitute(date))
        return QStringLiteral("振替休日");
    // Until 2007 a Sunday between two holidays stayed a plain Sunday.
    const bool sundayExcluded = date.year() < kSubstituteChainYear && date.dayOfWeek() == Qt::Sunday;
    if (date >= kBetweenStart && !sundayExcluded && isNamed(date.addDays(-1)) && isNamed(date.addDays(1)))
        return QStringLiteral("国民の休日");
    return {};
}

} // namespace holidays
