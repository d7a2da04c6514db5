#include "recurrence/recurrence.h"

#include "ical/ical_bounds.h"

#include <QRegularExpression>
#include <QTimeZone>

#include <libical/ical.h>

#include <algorithm>
#include <set>

namespace recurrence {
namespace {

const QStringList kDayNames{QStringLiteral("月"), QStringLiteral("火"), QStringLiteral("水"), QStringLiteral("木"),
                            QStringLiteral("金"), QStringLiteral("土"), QStringLiteral("日")};
const QByteArrayList kDayCodes{"MO", "TU", "WE", "TH", "FR", "SA", "SU"};
// The walk gives up after so many steps of the iterator, whatever the rule.
constexpr int kMaxSteps = 100000;

int weekOfMonth(const QDate& day)
{
    return (day.day() - 1) / 7 + 1;
}

// The parts of a rule other than its end.
QByteArrayList unendedParts(const QByteArray& rule)
{
    QByteArrayList parts;
    for (const QByteArray& part : rule.split(';'))
        if (!part.isEmpty() && !part.toUpper().startsWith("COUNT=") && !part.toUpper().startsWith("UNTIL="))
            parts << part;
    return parts;
}

icaltimetype icalWall(const Wall& wall)
{
    icaltimetype t = icaltime_null_time();
    t.year = wall.date.year();
    t.month = wall.date.month();
    t.day = wall.date.day();
    t.is_date = !wall.time.isValid();
    if (wall.time.isValid()) {
        t.hour = wall.time.hour();
        t.minute = wall.time.minute();
        t.second = wall.time.second();
    }
    return t;
}

Wall wallOf(const icaltimetype& t, bool isDate)
{
    return {QDate(t.year, t.month, t.day), isDate ? QTime() : QTime(t.hour, t.minute, t.second)};
}

} // namespace

QTimeZone zoneOf(const QString& tzid)
{
    // "UTC+09:00": a fixed offset, for a zone no database names.
    static const QRegularExpression offset(QStringLiteral("^UTC([+-])(\\d\\d):(\\d\\d)$"));
    if (const QRegularExpressionMatch m = offset.match(tzid); m.hasMatch())
        return QTimeZone((m.captured(1) == QLatin1String("-") ? -1 : 1) * (m.captured(2).toInt() * 3600 + m.captured(3).toInt() * 60));
    return tzid.isEmpty() || !QTimeZone::isTimeZoneIdAvailable(tzid.toUtf8()) ? QTimeZone() : QTimeZone(tzid.toUtf8());
}

QStringList repeatCaptions(const QDate& first)
{
    const QString day = kDayNames.value(first.dayOfWeek() - 1) + QStringLiteral("曜日");
    return {QStringLiteral("しない"),
            QStringLiteral("毎日"),
            QStringLiteral("平日（月〜金）"),
            QStringLiteral("毎週（%1）").arg(day),
            QStringLiteral("隔週（%1）").arg(day),
            QStringLiteral("毎月（%1日）").arg(first.day()),
            QStringLiteral("毎月（第%1%2）").arg(weekOfMonth(first)).arg(day),
            QStringLiteral("毎年（%1月%2日）").arg(first.month()).arg(first.day())};
}

QByteArray ruleFor(Repeat repeat, const QDate& first, Ending ending, int count, const QDate& until)
{
    const QByteArray day = kDayCodes.value(first.dayOfWeek() - 1);
    QByteArray rule;
    switch (repeat) {
    case Repeat::None: return {};
    case Repeat::Daily: rule = "FREQ=DAILY"; break;
    case Repeat::Weekdays: rule = "FREQ=WEEKLY;BYDAY=MO,TU,WE,TH,FR"; break;
    case Repeat::Weekly: rule = "FREQ=WEEKLY;BYDAY=" + day; break;
    case Repeat::Biweekly: rule = "FREQ=WEEKLY;INTERVAL=2;BYDAY=" + day; break;
    case Repeat::MonthlyByDate: rule = "FREQ=MONTHLY;BYMONTHDAY=" + QByteArray::number(first.day()); break;
    case Repeat::MonthlyByWeekday: rule = "FREQ=MONTHLY;BYDAY=" + QByteArray::number(weekOfMonth(first)) + day; break;
    case Repeat::Yearly:
        rule = "FREQ=YEARLY;BYMONTH=" + QByteArray::number(first.month()) + ";BYMONTHDAY=" + QByteArray::number(first.day());
        break;
    }
    if (ending == Ending::Count)
        rule += ";COUNT=" + QByteArray::number(std::max(1, count));
    else if (ending == Ending::Until && until.isValid())
        rule += ";UNTIL=" + until.toString(QStringLiteral("yyyyMMdd")).toLatin1() + "T235959";
    return rule;
}

Repeat repeatOf(const QByteArray& rule, const QDate& first)
{
    const QByteArrayList parts = unendedParts(rule);
    for (Repeat r : {Repeat::Daily, Repeat::Weekdays, Repeat::Weekly, Repeat::Biweekly, Repeat::MonthlyByDate,
                     Repeat::MonthlyByWeekday, Repeat::Yearly})
        if (ruleFor(r, first).split(';') == parts)
            return r;
    return Repeat::None;
}

QString Wall::key() const
{
    const QString day = date.toString(QStringLiteral("yyyyMMdd"));
    return time.isValid() ? day + QLatin1Char('T') + time.toString(QStringLiteral("HHmmss")) : day;
}

Wall Wall::fromKey(const QString& key)
{
    const QDate day = QDate::fromString(key.left(8), QStringLiteral("yyyyMMdd"));
    return {day, key.size() >= 15 ? QTime::fromString(key.mid(9, 6), QStringLiteral("HHmmss")) : QTime()};
}

std::vector<Wall> wallsOf(const QString& keys)
{
    std::vector<Wall> walls;
    for (const QString& key : keys.split(QLatin1Char(','), Qt::SkipEmptyParts))
        if (const Wall wall = Wall::fromKey(key); wall.date.isValid())
            walls.push_back(wall);
    return walls;
}

QString keysOf(const std::vector<Wall>& walls)
{
    QStringList keys;
    for (const Wall& wall : walls)
        keys << wall.key();
    return keys.join(QLatin1Char(','));
}

QDateTime localStart(const Wall& wall, const QString& tzid)
{
    if (!wall.time.isValid())
        return QDateTime(wall.date, QTime(0, 0));
    if (!tzid.isEmpty())
        if (const QTimeZone zone = zoneOf(tzid); zone.isValid())
            return QDateTime(wall.date, wall.time, zone).toLocalTime();
    return QDateTime(wall.date, wall.time);
}

Expansion expand(const Pattern& pattern, const QDate& first, const QDate& last)
{
    Expansion result;
    const bool isDate = !pattern.start.time.isValid();
    const QTimeZone zone = isDate ? QTimeZone() : zoneOf(pattern.tzid);
    const auto local = [&](const Wall& wall) {
        return zone.isValid() ? QDateTime(wall.date, wall.time, zone).toLocalTime()
                              : QDateTime(wall.date, isDate ? QTime(0, 0) : wall.time);
    };
    std::set<QString> excluded;
    for (const Wall& wall : pattern.exdates)
        excluded.insert(wall.key());
    std::set<QString> taken;
    const auto add = [&](const Wall& wall) {
        const QDateTime start = local(wall);
        if (start.date() >= first && start.date() <= last && !excluded.count(wall.key()) && taken.insert(wall.key()).second)
            result.occurrences.push_back({wall, start});
    };

    result.endsBefore = true;
    if (!pattern.rule.isEmpty()) {
        icalrecurrencetype rule = icalrecurrencetype_from_string(pattern.rule.constData());
        icalerror_clear_errno();
        // By the hour or finer a series would make thousands of rows a year: refused with the rules
        // that never give a date, which libical could search for ever.
        if (rule.freq == ICAL_NO_RECURRENCE || rule.freq < ICAL_DAILY_RECURRENCE
            || ical::checkRule(rule, isDate ? 0 : pattern.start.time.hour()) != ical::RuleVerdict::Usable) {
            result.verdict = Verdict::Refused;
            return result;
        }
        if (rule.count > kMaxOccurrences) {
            rule.count = kMaxOccurrences;
            result.verdict = Verdict::Capped;
        }
        const icaltimetype dtstart = icalWall(pattern.start);
        icalrecur_iterator* it = icalrecur_iterator_new(rule, dtstart);
        if (!it) {
            result.verdict = Verdict::Refused;
            return result;
        }
        // Without COUNT the walk can begin near the span instead of at the first occurrence; two
        // days early, for any zone's offset from this machine's.
        const QDate near = first.addDays(-2);
        if (rule.count == 0 && pattern.start.date < near)
            icalrecur_iterator_set_start(it, icalWall({near, isDate ? QTime() : QTime(0, 0)}));
        int produced = 0;
        bool ended = false;
        for (int step = 0; step < kMaxSteps && produced < kMaxOccurrences; ++step) {
            const icaltimetype t = icalrecur_iterator_next(it);
            if (icaltime_is_null_time(t)) {
                ended = true;
                break;
            }
            ++produced;
            const Wall wall = wallOf(t, isDate);
            if (const QDate day = local(wall).date(); day > last) {
                result.next = day;
                break;
            }
            add(wall);
        }
        icalrecur_iterator_free(it);
        // Cut short by the number of occurrences: the series ends there.
        result.endsBefore = ended || produced >= kMaxOccurrences;
        if (produced >= kMaxOccurrences && rule.count == 0)
            result.verdict = Verdict::Capped;
    } else {
        add(pattern.start);
    }
    for (const Wall& wall : pattern.rdates) {
        add(wall);
        if (const QDate day = local(wall).date(); day > last) {
            result.endsBefore = false;
            result.next = result.next.isValid() ? std::min(result.next, day) : day;
        }
    }
    // A walk cut short by its steps has not seen what comes next: the next span looks again.
    if (!result.endsBefore && !result.next.isValid())
        result.next = last.addDays(1);
    std::sort(result.occurrences.begin(), result.occurrences.end(),
              [](const Occurrence& a, const Occurrence& b) { return a.start < b.start; });
    return result;
}

QByteArray endedBefore(const QByteArray& rule, const Wall& before)
{
    QByteArrayList parts = unendedParts(rule);
    const Wall last = before.time.isValid()
        ? Wall{QDateTime(before.date, before.time).addSecs(-1).date(), QDateTime(before.date, before.time).addSecs(-1).time()}
        : Wall{before.date.addDays(-1), QTime()};
    parts << "UNTIL=" + last.key().toLatin1();
    return parts.join(';');
}

} // namespace recurrence
