#include "ical/ical_bounds.h"

#include "platform/failure.h"

#include <QDate>
#include <QString>

#include <algorithm>
#include <numeric>

namespace ical {
namespace {

template <size_t N>
std::vector<int> valuesOf(const short (&parts)[N])
{
    std::vector<int> values;
    for (short v : parts) {
        if (v == ICAL_RECURRENCE_ARRAY_MAX)
            break;
        values.push_back(v);
    }
    return values;
}

bool contains(const std::vector<int>& values, int v)
{
    return std::find(values.begin(), values.end(), v) != values.end();
}

// Whether some day could carry an instance: a necessary condition only (BYWEEKNO, BYSETPOS and
// the position of a weekday are left out), so a rule it refuses has no date at all. Weekdays,
// month lengths and leap years all come round within 28 years.
bool someDayMatches(const icalrecurrencetype& rule)
{
    std::vector<int> months;
    for (int v : valuesOf(rule.by_month))
        months.push_back(icalrecurrencetype_month_month(short(v)));
    std::vector<int> weekdays;
    for (int v : valuesOf(rule.by_day))
        weekdays.push_back(int(icalrecurrencetype_day_day_of_week(short(v))));
    const std::vector<int> monthDays = valuesOf(rule.by_month_day);
    const std::vector<int> yearDays = valuesOf(rule.by_year_day);
    if (months.empty() && weekdays.empty() && monthDays.empty() && yearDays.empty())
        return true;
    for (QDate d(2000, 1, 1); d.year() < 2028; d = d.addDays(1)) {
        const int day = d.day();
        const int dayOfYear = d.dayOfYear();
        if ((months.empty() || contains(months, d.month()))
            // libical counts Sunday as 1, Qt counts it as 7.
            && (weekdays.empty() || contains(weekdays, d.dayOfWeek() % 7 + 1))
            && (monthDays.empty() || contains(monthDays, day) || contains(monthDays, day - d.daysInMonth() - 1))
            && (yearDays.empty() || contains(yearDays, dayOfYear) || contains(yearDays, dayOfYear - d.daysInYear() - 1)))
            return true;
    }
    return false;
}

[[noreturn]] void notCalendar(int line)
{
    throw platform::Failure(QStringLiteral("iCalendar の形式ではありません（") + QString::number(line) + QStringLiteral("行目）。"));
}

constexpr size_t kMaxDepth = 16;

bool isNameChar(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
}

} // namespace

RuleVerdict checkRule(const icalrecurrencetype& rule, int startHour)
{
    const icalrecurrencetype_frequency freq = rule.freq;
    if (freq != ICAL_YEARLY_RECURRENCE && freq != ICAL_MONTHLY_RECURRENCE && freq != ICAL_WEEKLY_RECURRENCE
        && freq != ICAL_DAILY_RECURRENCE && freq != ICAL_HOURLY_RECURRENCE)
        return RuleVerdict::TooFine;
    const bool coarse = freq == ICAL_YEARLY_RECURRENCE || freq == ICAL_MONTHLY_RECURRENCE;
    const std::vector<int> days = valuesOf(rule.by_day);
    const bool numberedWeekday =
        std::any_of(days.begin(), days.end(), [](int v) { return icalrecurrencetype_day_position(short(v)) != 0; });
    // Parts the standard allows only with coarser rules, which libical then searches for ever.
    if ((numberedWeekday && !coarse) || (!valuesOf(rule.by_week_no).empty() && freq != ICAL_YEARLY_RECURRENCE)
        || (!valuesOf(rule.by_year_day).empty() && !coarse && freq != ICAL_HOURLY_RECURRENCE)
        || (!valuesOf(rule.by_month_day).empty() && freq == ICAL_WEEKLY_RECURRENCE))
        return RuleVerdict::NoDate;
    if (freq == ICAL_HOURLY_RECURRENCE) {
        // An hour is fine enough that a search without a date takes minutes: only the parts
        // whose dates are checked here are allowed.
        if (!valuesOf(rule.by_set_pos).empty() || !valuesOf(rule.by_year_day).empty()
            || !valuesOf(rule.by_week_no).empty())
            return RuleVerdict::TooFine;
        const std::vector<int> hours = valuesOf(rule.by_hour);
        const int step = std::gcd(std::max<int>(1, rule.interval), 24);
        if (!hours.empty()
            && std::none_of(hours.begin(), hours.end(), [&](int h) { return ((h - startHour) % step + step) % step == 0; }))
            return RuleVerdict::NoDate;
    }
    return someDayMatches(rule) ? RuleVerdict::Usable : RuleVerdict::NoDate;
}

bool zoneIsBounded(icalcomponent* zone)
{
    int dates = 0;
    for (icalcomponent* part = icalcomponent_get_first_component(zone, ICAL_ANY_COMPONENT); part;
         part = icalcomponent_get_next_component(zone, ICAL_ANY_COMPONENT)) {
        if (++dates > kMaxZoneDates)
            return false;
        for (icalproperty* p = icalcomponent_get_first_property(part, ICAL_RRULE_PROPERTY); p;
             p = icalcomponent_get_next_property(part, ICAL_RRULE_PROPERTY)) {
            // A real zone changes once in a month of the year, on a day (a weekday among seven
            // days at most): a finer rule is a change every minute for centuries.
            const icalrecurrencetype rule = icalproperty_get_rrule(p);
            if (rule.freq != ICAL_YEARLY_RECURRENCE || valuesOf(rule.by_month).size() != 1
                || valuesOf(rule.by_month_day).size() > 7
                || !valuesOf(rule.by_hour).empty() || !valuesOf(rule.by_minute).empty()
                || !valuesOf(rule.by_second).empty() || !valuesOf(rule.by_year_day).empty()
                || !valuesOf(rule.by_week_no).empty() || checkRule(rule, 0) != RuleVerdict::Usable)
                return false;
        }
        for (icalproperty* p = icalcomponent_get_first_property(part, ICAL_RDATE_PROPERTY); p;
             p = icalcomponent_get_next_property(part, ICAL_RDATE_PROPERTY))
            if (++dates > kMaxZoneDates)
                return false;
    }
    return true;
}

std::vector<CalendarPieces> splitCalendars(const QByteArray& text)
{
    std::vector<CalendarPieces> calendars;
    std::vector<QByteArray> open; // the components begun and not yet ended, outermost first
    enum class Into { Frame, Event, Skipped } into = Into::Frame;
    qsizetype eventBegin = 0;
    int lineNo = 0;
    bool anyLine = false;
    qsizetype pos = text.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    while (pos < text.size()) {
        const qsizetype feed = text.indexOf('\n', pos);
        const qsizetype next = feed < 0 ? text.size() : feed + 1;
        qsizetype end = feed < 0 ? text.size() : feed;
        if (end > pos && text[end - 1] == '\r')
            --end;
        const QByteArrayView line(text.constData() + pos, end - pos);
        const qsizetype lineStart = pos;
        pos = next;
        ++lineNo;
        // libical would take a NUL for the end of the text and report a calendar cut short.
        if (line.contains('\0'))
            throw platform::Failure(QStringLiteral("ファイルに文字でないデータ（NUL）があります（")
                                    + QString::number(lineNo) + QStringLiteral("行目）。"));
        if (line.trimmed().isEmpty())
            continue;
        anyLine = true;
        const bool folded = line[0] == ' ' || line[0] == '\t';
        if (folded && open.empty())
            notCalendar(lineNo);
        qsizetype n = 0;
        while (!folded && n < line.size() && isNameChar(line[n]))
            ++n;
        if (!folded && (n == 0 || n == line.size() || (line[n] != ':' && line[n] != ';')))
            notCalendar(lineNo);
        const bool begins = !folded && line[n] == ':' && line.first(n).compare("BEGIN", Qt::CaseInsensitive) == 0;
        const bool ends = !folded && line[n] == ':' && line.first(n).compare("END", Qt::CaseInsensitive) == 0;
        const QByteArray value = begins || ends ? line.sliced(n + 1).trimmed().toByteArray().toUpper() : QByteArray();
        if (open.empty()) {
            if (!begins || value != "VCALENDAR")
                notCalendar(lineNo);
            calendars.emplace_back();
            into = Into::Frame;
        } else if (begins && open.size() == 1) {
            into = value == "VEVENT" ? Into::Event : value == "VTIMEZONE" ? Into::Frame : Into::Skipped;
            eventBegin = lineStart;
        } else if (ends && value != open.back()) {
            notCalendar(lineNo);
        }
        // Calendars nest three deep; thousands of levels would take libical's freeing of them
        // deep into the stack.
        if (begins && open.size() >= kMaxDepth)
            notCalendar(lineNo);
        if (begins)
            open.push_back(value);
        if (ends)
            open.pop_back();
        if (into == Into::Frame) {
            QByteArray& frame = calendars.back().frame;
            if (frame.size() + line.size() > kMaxZoneBytes)
                throw platform::Failure(QStringLiteral("時間帯などの定義が大きすぎるため読み込めません。"));
            frame += line;
            frame += "\r\n";
        }
        if (ends && open.size() == 1) {
            if (into == Into::Event)
                calendars.back().events.push_back({eventBegin, next});
            into = Into::Frame;
        }
    }
    if (!open.empty())
        throw platform::Failure(QStringLiteral("ファイルが途中で切れているため読み込めません。"));
    if (calendars.empty())
        throw platform::Failure(anyLine ? QStringLiteral("iCalendar の形式ではありません（予定表がありません）。")
                                        : QStringLiteral("ファイルが空のため読み込めません。"));
    return calendars;
}

} // namespace ical
