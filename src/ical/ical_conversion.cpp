#include "ical/ical_conversion.h"

#include "ical/ical_bounds.h"
#include "platform/database.h"
#include "platform/failure.h"
#include "recurrence/recurrence.h"
#include "state/text.h"
#include "store/reminder_state.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QStringList>
#include <QTimeZone>

#include <libical/ical.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

namespace ical {
namespace {

// Recurrences become appointments for this many days from today.
constexpr int kSpanDays = 366;
// A rule is followed for at most this many steps, so that one repeating by the second, or
// written to keep a reader busy, still ends; and it gives at most this many appointments (one an
// hour for the whole span is 8,784).
constexpr int kMaxSteps = 100000;
constexpr size_t kMaxInstances = 10000;
// A read stops taking new events after this time, and is given up when it has not ended after
// the deadline (libical spinning inside one step of a rule that got past the checks).
constexpr qint64 kReadBudgetMs = 8000;
constexpr std::chrono::seconds kReadDeadline{15};

using Component = std::unique_ptr<icalcomponent, decltype(&icalcomponent_free)>;

// Our own copies of the three texts, for what the standard properties cannot carry (see carried).
constexpr char kExactSummary[] = "X-MERIDOCAL-SUMMARY";
constexpr char kExactLocation[] = "X-MERIDOCAL-LOCATION";
constexpr char kExactDescription[] = "X-MERIDOCAL-DESCRIPTION";
// "No reminder" chosen here: no alarm says it, and an event without one follows the settings.
constexpr char kNoAlarm[] = "X-MERIDOCAL-NO-ALARM";

// What a TEXT value can hold: a line break is a line feed there (written "\n"), and the other
// control characters, carriage return included, are not allowed at all.
QString carried(const QString& text)
{
    QString result;
    result.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c == u'\r') {
            result += u'\n';
            if (i + 1 < text.size() && text[i + 1] == u'\n')
                ++i;
        } else if (c == u'\n' || c == u'\t' || (c >= 0x20 && c != 0x7f)) {
            result += text[i];
        }
    }
    return result;
}

// libical reads a value without the spaces and tabs at its two ends.
QString asRead(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && (text[begin] == u' ' || text[begin] == u'\t'))
        ++begin;
    while (end > begin && (text[end - 1] == u' ' || text[end - 1] == u'\t'))
        --end;
    return text.mid(begin, end - begin);
}

// A text that the standard property would not give back as it is (a carriage return, a blank at
// an end, a NUL) also goes as our own base64 copy, so our own export reads back exactly and is
// found as a duplicate; other programs read the standard property.
void addText(icalcomponent* event, icalproperty* (*make)(const char*), const char* exactName, const QString& text)
{
    if (text.isEmpty())
        return;
    const QString plain = carried(text);
    icalcomponent_add_property(event, make(plain.toUtf8().constData()));
    // An ideographic space at an end survives libical but not our own trimming on the way in.
    if (asRead(plain) == text && state::trimBlanks(text) == text)
        return;
    icalproperty* exact = icalproperty_new_x(text.toUtf8().toBase64().constData());
    icalproperty_set_x_name(exact, exactName);
    icalcomponent_add_property(event, exact);
}

// The event's text: our own copy when there is one and the standard property still reads as
// that copy would (an edit in another program wins); otherwise the standard property, trimmed
// of blanks when trim is set.
QString textOf(icalcomponent* event, icalproperty_kind kind, const char* exactName, bool trim)
{
    icalproperty* property = icalcomponent_get_first_property(event, kind);
    icalvalue* value = property ? icalproperty_get_value(property) : nullptr;
    const char* utf8 = value ? icalvalue_get_text(value) : nullptr;
    const QString standard = QString::fromUtf8(utf8 ? utf8 : "");
    for (icalproperty* x = icalcomponent_get_first_property(event, ICAL_X_PROPERTY); x;
         x = icalcomponent_get_next_property(event, ICAL_X_PROPERTY)) {
        const char* name = icalproperty_get_x_name(x);
        const char* data = icalproperty_get_x(x);
        if (!name || !data || qstrcmp(name, exactName) != 0)
            continue;
        const QString exact = QString::fromUtf8(QByteArray::fromBase64(data));
        if (asRead(carried(exact)) == standard)
            return exact;
    }
    return trim ? state::trimBlanks(standard) : standard;
}

// The appointment's own reminder as the alarm calendars share: shown (DISPLAY) so many minutes
// before the start; the day before is a day, for readers that show it so.
void addAlarm(icalcomponent* event, int minutes, const QString& text)
{
    icalcomponent* alarm = icalcomponent_new_valarm();
    icalcomponent_add_property(alarm, icalproperty_new_action(ICAL_ACTION_DISPLAY));
    icaltriggertype trigger{};
    trigger.time = icaltime_null_time();
    trigger.duration = minutes == store::kRemindDayBefore ? icaldurationtype_from_int(-24 * 3600)
                                                          : icaldurationtype_from_int(-60 * minutes);
    icalcomponent_add_property(alarm, icalproperty_new_trigger(trigger));
    icalcomponent_add_property(alarm, icalproperty_new_description(carried(text).toUtf8().constData()));
    icalcomponent_add_component(event, alarm);
}

// The event's first alarm that is shown or sounded before its start: the one that stands for the
// appointment's own reminder time. Alarms at a fixed moment or after the start have no place in
// the table. Its lead in minutes goes to leadMinutes.
icalcomponent* leadAlarm(icalcomponent* event, int* leadMinutes)
{
    for (icalcomponent* alarm = icalcomponent_get_first_component(event, ICAL_VALARM_COMPONENT); alarm;
         alarm = icalcomponent_get_next_component(event, ICAL_VALARM_COMPONENT)) {
        icalproperty* action = icalcomponent_get_first_property(alarm, ICAL_ACTION_PROPERTY);
        icalproperty* trigger = icalcomponent_get_first_property(alarm, ICAL_TRIGGER_PROPERTY);
        if (!action || !trigger)
            continue;
        const icalproperty_action kind = icalproperty_get_action(action);
        if (kind != ICAL_ACTION_DISPLAY && kind != ICAL_ACTION_AUDIO)
            continue;
        icalparameter* related = icalproperty_get_first_parameter(trigger, ICAL_RELATED_PARAMETER);
        const icaltriggertype t = icalproperty_get_trigger(trigger);
        if (!icaltime_is_null_time(t.time) || (related && icalparameter_get_related(related) == ICAL_RELATED_END))
            continue;
        const int seconds = icaldurationtype_as_int(t.duration);
        if (seconds > 0)
            continue;
        *leadMinutes = std::min(-seconds / 60, store::kRemindLongest);
        return alarm;
    }
    return nullptr;
}

icalproperty* noAlarmMark(icalcomponent* event)
{
    for (icalproperty* x = icalcomponent_get_first_property(event, ICAL_X_PROPERTY); x;
         x = icalcomponent_get_next_property(event, ICAL_X_PROPERTY))
        if (qstrcmp(icalproperty_get_x_name(x), kNoAlarm) == 0)
            return x;
    return nullptr;
}

void markNoAlarm(icalcomponent* event)
{
    icalproperty* mark = icalproperty_new_x("TRUE");
    icalproperty_set_x_name(mark, kNoAlarm);
    icalcomponent_add_property(event, mark);
}

// The lead of that alarm; "no reminder" when the event has none and says so; none when the
// event just has no such alarm (then the settings' lead holds). An alarm added by another
// program wins over the mark.
std::optional<int> alarmLead(icalcomponent* event)
{
    int minutes = 0;
    if (leadAlarm(event, &minutes))
        return minutes;
    return noAlarmMark(event) ? std::optional(store::kRemindNever) : std::nullopt;
}

// Puts the appointment's own reminder in place of the alarm that stood for it; the event's other
// alarms stay as their program wrote them. Following the settings (none) takes away only our mark.
void replaceAlarm(icalcomponent* event, std::optional<int> minutes, const QString& text)
{
    while (icalproperty* mark = noAlarmMark(event)) {
        icalcomponent_remove_property(event, mark);
        icalproperty_free(mark);
    }
    if (!minutes)
        return;
    int was = 0;
    if (icalcomponent* alarm = leadAlarm(event, &was)) {
        icalcomponent_remove_component(event, alarm);
        icalcomponent_free(alarm);
    }
    if (*minutes >= 0)
        addAlarm(event, *minutes, text);
    else
        markNoAlarm(event);
}

icaltimetype icalTime(const QDate& date, const QTime& time, const icaltimezone* zone)
{
    icaltimetype t = icaltime_null_time();
    t.year = date.year();
    t.month = date.month();
    t.day = date.day();
    t.hour = time.hour();
    t.minute = time.minute();
    t.second = time.second();
    t.zone = zone;
    return t;
}

// Times are compared as local wall-clock seconds (a day's number times 86400 plus the time of
// day): only a time in a zone needs converting, once, and the rest is arithmetic. A difference
// of a daylight-saving hour at most in a length does not matter to what it decides.
using Local = qint64;
constexpr Local kNoTime = std::numeric_limits<Local>::min();
constexpr Local kDay = 86400;

Local local(const QDate& date, const QTime& time)
{
    return date.isValid() && time.isValid() ? date.toJulianDay() * kDay + time.msecsSinceStartOfDay() / 1000 : kNoTime;
}

QDate dateOf(Local t)
{
    return QDate::fromJulianDay(t / kDay);
}

// A time as this machine's local time: a time in UTC or in a zone converted, a floating time
// taken as it is, a date as 00:00 of that day. kNoTime when the time cannot be read.
Local localTime(const icaltimetype& t)
{
    const QDate date(t.year, t.month, t.day);
    if (t.is_date)
        return local(date, QTime(0, 0));
    if (!t.zone || !date.isValid())
        return local(date, QTime(t.hour, t.minute, t.second));
    const QDateTime converted = QDateTime::fromSecsSinceEpoch(icaltime_as_timet_with_zone(t, t.zone));
    return local(converted.date(), converted.time());
}

// The same moment in the frame of like: its zone, floating local time, or a date.
icaltimetype inFrameOf(Local t, const icaltimetype& like)
{
    const QDate date = dateOf(t);
    const QTime time = QTime::fromMSecsSinceStartOfDay(int(t % kDay) * 1000);
    icaltimetype result = like.zone && !like.is_date
        ? icaltime_from_timet_with_zone(QDateTime(date, time).toSecsSinceEpoch(), 0, like.zone)
        : icalTime(date, like.is_date ? QTime(0, 0) : time, nullptr);
    result.is_date = like.is_date;
    result.zone = like.zone;
    return result;
}

// The zone a TZID names in the system's database, also by an old name ("US/Eastern", which some
// programs write "US-Eastern") or a Windows name ("Tokyo Standard Time"): libical knows only
// the current names, the database links the old ones to them and Qt maps the Windows ones.
const icaltimezone* systemZone(const QByteArray& tzid)
{
    if (icaltimezone* zone = icaltimezone_get_builtin_timezone(tzid.constData()))
        return zone;
    if (icaltimezone* zone = icaltimezone_get_builtin_timezone_from_tzid(tzid.constData()))
        return zone;
    QByteArrayList names{tzid};
    if (!tzid.contains('/') && tzid.contains('-'))
        names << QByteArray(tzid).replace('-', '/');
    const QString zoneinfo = QStringLiteral("/usr/share/zoneinfo/");
    for (const QByteArray& name : std::as_const(names)) {
        QByteArrayList current{QTimeZone::windowsIdToDefaultIanaId(name)};
        if (!name.contains("..")) {
            const QString linked = QFileInfo(zoneinfo + QString::fromUtf8(name)).canonicalFilePath();
            if (linked.startsWith(zoneinfo))
                current << linked.mid(zoneinfo.size()).toUtf8();
        }
        if (QTimeZone(name).isValid())
            current << QTimeZone::windowsIdToDefaultIanaId(QTimeZone::ianaIdToWindowsId(name));
        for (const QByteArray& id : std::as_const(current))
            if (!id.isEmpty())
                if (icaltimezone* zone = icaltimezone_get_builtin_timezone(id.constData()))
                    return zone;
    }
    return nullptr;
}

// PRIORITY 1-4 is high, 6-9 low, anything else (0, 5, none) medium.
qint16 importanceOf(icalcomponent* event)
{
    icalproperty* property = icalcomponent_get_first_property(event, ICAL_PRIORITY_PROPERTY);
    const int priority = property ? icalproperty_get_priority(property) : 0;
    return priority >= 1 && priority <= 4 ? 0 : priority >= 6 && priority <= 9 ? 2 : 1;
}

QByteArray componentText(icalcomponent* component)
{
    char* text = icalcomponent_as_ical_string_r(component);
    const QByteArray result(text);
    icalmemory_free_buffer(text);
    return result;
}

// A time as the series' clock has it: its own fields, whatever its zone.
QString wallKey(const icaltimetype& t)
{
    const QDate day(t.year, t.month, t.day);
    return recurrence::Wall{day, t.is_date ? QTime() : QTime(t.hour, t.minute, t.second)}.key();
}

// The zone name Qt knows a time's zone by: its TZID, the location libical gives it, or a
// Windows name's IANA one; empty when none is known.
QString zoneName(icalproperty* property, const icaltimetype& t)
{
    if (t.is_date)
        return {};
    if (icaltime_is_utc(t))
        return QStringLiteral("UTC");
    QByteArrayList names;
    if (icalparameter* tzid = property ? icalproperty_get_first_parameter(property, ICAL_TZID_PARAMETER) : nullptr)
        names << QByteArray(icalparameter_get_tzid(tzid));
    if (t.zone)
        if (const char* location = icaltimezone_get_location(const_cast<icaltimezone*>(t.zone)))
            names << QByteArray(location);
    // Qt reads an unknown name as a POSIX zone rule ("Eastern" would be UTC): only names the
    // database has are taken.
    for (const QByteArray& name : std::as_const(names)) {
        if (QTimeZone::isTimeZoneIdAvailable(name))
            return QString::fromUtf8(name);
        if (const QByteArray iana = QTimeZone::windowsIdToDefaultIanaId(name); !iana.isEmpty())
            return QString::fromUtf8(iana);
    }
    // A zone of the calendar's own that no database names: its offset at the start, so the
    // days stay those of the series (a change of daylight-saving time there is not followed).
    if (t.zone) {
        const QDateTime wall(QDate(t.year, t.month, t.day), QTime(t.hour, t.minute, t.second), QTimeZone::utc());
        const qint64 offset = wall.toSecsSinceEpoch() - qint64(icaltime_as_timet_with_zone(t, t.zone));
        return QStringLiteral("UTC%1%2:%3").arg(offset < 0 ? QStringLiteral("-") : QStringLiteral("+")).arg(qAbs(offset) / 3600, 2, 10, QLatin1Char('0'))
            .arg(qAbs(offset) / 60 % 60, 2, 10, QLatin1Char('0'));
    }
    return {};
}

class Reader {
public:
    Reader(const QDate& today, const std::atomic<bool>& abandoned)
        : m_todayStart(local(today, QTime(0, 0))), m_windowEnd(m_todayStart + kSpanDays * kDay), m_abandoned(abandoned)
    {
        m_today = today;
        m_clock.start();
    }

    // Whether another event may be read: the read is within its rows and its time, and someone
    // still waits for it.
    bool open() const { return m_result.rows.size() + m_seriesRows < kMaxRowsPerRead && !overTime(); }

    // The instances that events with a RECURRENCE-ID replace, by UID: read before the events
    // whose instances they replace.
    void noteOverride(icalcomponent* event, icalcomponent* calendar)
    {
        if (icalproperty* id = icalcomponent_get_first_property(event, ICAL_RECURRENCEID_PROPERTY))
            m_overridden[QString::fromUtf8(icalcomponent_get_uid(event))].push_back(localTime(timeOf(id, calendar)));
    }

    void read(icalcomponent* event, icalcomponent* calendar);
    ReadResult& result() { return m_result; }
    void keepSeries(bool keep) { m_keepSeries = keep; }
    // The time of a date or time property in its own zone, as the reader resolves zones.
    icaltimetype timeOf(icalproperty* property, icalcomponent* calendar);
    // Whether events of calendar keep their text, and its time zones as text: what another
    // program wrote is kept to be written back; our own export has nothing more than the row.
    void enter(icalcomponent* calendar)
    {
        icalproperty* product = icalcomponent_get_first_property(calendar, ICAL_PRODID_PROPERTY);
        m_keepSources = !product || QByteArray(icalproperty_get_prodid(product)) != kProductId;
        m_zoneTexts.clear();
        for (icalcomponent* z = icalcomponent_get_first_component(calendar, ICAL_VTIMEZONE_COMPONENT); m_keepSources && z;
             z = icalcomponent_get_next_component(calendar, ICAL_VTIMEZONE_COMPONENT))
            m_zoneTexts += componentText(z);
    }

private:
    // The repeating event as one series; false when it is not kept (counted as the rows would be).
    bool readSeries(icalcomponent* event, icalcomponent* calendar, const icaltimetype& start, const store::PLAN_REC& rec,
                    Local length, bool hasEnd, bool shortened);
    QString calendarSource(icalcomponent* event) const
    {
        return QString::fromUtf8(QByteArrayLiteral("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:") + kProductId + QByteArrayLiteral("\r\n")
                                 + m_zoneTexts + componentText(event) + QByteArrayLiteral("END:VCALENDAR\r\n"));
    }
    bool overTime() const { return m_abandoned || m_clock.elapsed() > kReadBudgetMs; }
    const icaltimezone* zoneNamed(const char* tzid, icalcomponent* calendar);
    enum class Walk { Ended, Beyond, Cut };
    Walk expand(const icalrecurrencetype& recurrence, const icaltimetype& start, Local from, std::set<Local>& starts);
    // The texts of a day and of the numbers 0 to 59, made once: formatting them for every row
    // cost a tenth of an import.
    const QString& dateText(Local day)
    {
        auto it = m_dateTexts.find(day);
        return it != m_dateTexts.end() ? *it : *m_dateTexts.insert(day, state::dateKey(QDate::fromJulianDay(day)));
    }
    const QString& numberText(int n)
    {
        if (m_numberTexts.isEmpty())
            for (int i = 0; i < 60; ++i)
                m_numberTexts << state::twoDigits(i);
        return m_numberTexts[n];
    }

    Local m_todayStart;
    Local m_windowEnd;
    const std::atomic<bool>& m_abandoned;
    QElapsedTimer m_clock;
    bool m_keepSources = false;
    bool m_keepSeries = false;
    size_t m_seriesRows = 0; // the rows the series read so far make in the coming year
    QDate m_today;
    QByteArray m_zoneTexts;
    QHash<QString, std::vector<Local>> m_overridden;
    QHash<QByteArray, const icaltimezone*> m_systemZones; // looked up once a read: the database is slow to ask
    bool m_zoneUnknown = false;                            // a time of the event being read names a zone nobody knows
    QHash<Local, QString> m_dateTexts;
    QStringList m_numberTexts;
    ReadResult m_result;
};

// The zone a TZID names: the calendar's own VTIMEZONE, else the system's zone of that name.
// A name known to neither leaves the time as local time, and the event is counted.
const icaltimezone* Reader::zoneNamed(const char* tzid, icalcomponent* calendar)
{
    if (!tzid)
        return nullptr;
    if (icaltimezone* zone = icalcomponent_get_timezone(calendar, tzid))
        return zone;
    const QByteArray name(tzid);
    auto it = m_systemZones.find(name);
    if (it == m_systemZones.end())
        it = m_systemZones.insert(name, systemZone(name));
    m_zoneUnknown = m_zoneUnknown || !*it;
    return *it;
}

icaltimetype Reader::timeOf(icalproperty* property, icalcomponent* calendar)
{
    icaltimetype t = icaltime_null_time();
    if (icalproperty_isa(property) == ICAL_RDATE_PROPERTY) {
        const icaldatetimeperiodtype rdate = icalproperty_get_rdate(property);
        t = icaltime_is_null_time(rdate.time) ? rdate.period.start : rdate.time;
    } else if (icalvalue* value = icalproperty_get_value(property)) {
        t = icalvalue_get_datetime(value);
    }
    if (t.is_date || icaltime_is_utc(t))
        return t;
    if (icalparameter* tzid = icalproperty_get_first_parameter(property, ICAL_TZID_PARAMETER))
        t.zone = zoneNamed(icalparameter_get_tzid(tzid), calendar);
    return t;
}

// Follows one rule within the span, and says how it stopped: at the series' own end, beyond the
// span, or cut short by its number of instances, its steps or the time of the read.
Reader::Walk Reader::expand(const icalrecurrencetype& recurrence, const icaltimetype& start, Local from, std::set<Local>& starts)
{
    icalrecur_iterator* it = icalrecur_iterator_new(recurrence, start);
    if (!it)
        return Walk::Ended;
    // Without COUNT the rule can start near today instead of walking from its first instance.
    if (recurrence.count == 0 && localTime(start) < from)
        icalrecur_iterator_set_start(it, inFrameOf(from, start));
    Walk walk = Walk::Cut;
    for (int step = 0; step < kMaxSteps && starts.size() < kMaxInstances && !overTime(); ++step) {
        icaltimetype t = icalrecur_iterator_next(it);
        if (icaltime_is_null_time(t)) {
            walk = Walk::Ended;
            break;
        }
        t.zone = start.zone;
        const Local instance = localTime(t);
        if (instance >= m_windowEnd) {
            walk = Walk::Beyond;
            break;
        }
        if (instance >= from)
            starts.insert(instance);
    }
    icalrecur_iterator_free(it);
    return walk;
}

bool Reader::readSeries(icalcomponent* event, icalcomponent* calendar, const icaltimetype& start, const store::PLAN_REC& rec,
                        Local length, bool hasEnd, bool shortened)
{
    store::Series s;
    s.uid = QString::fromUtf8(icalcomponent_get_uid(event));
    s.texts = rec;
    s.allDay = start.is_date;
    s.length = start.is_date ? std::max(length, kDay) / kDay * kDay : hasEnd ? length : -1;
    icalproperty* startProperty = icalcomponent_get_first_property(event, ICAL_DTSTART_PROPERTY);
    s.pattern.tzid = zoneName(startProperty, start);
    s.pattern.start = recurrence::Wall::fromKey(wallKey(start));
    if (icalproperty* p = icalcomponent_get_first_property(event, ICAL_RRULE_PROPERTY)) {
        const icalrecurrencetype rule = icalproperty_get_rrule(p);
        char* text = icalrecurrencetype_as_string_r(const_cast<icalrecurrencetype*>(&rule));
        s.pattern.rule = QByteArray(text);
        icalmemory_free_buffer(text);
    }
    // Dates in another frame than the start (UTC beside a zone) are brought to the start's clock.
    const QTimeZone zone = recurrence::zoneOf(s.pattern.tzid);
    const auto wallOf = [&](icalproperty* p) {
        const icaltimetype t = timeOf(p, calendar);
        if (t.is_date || zoneName(p, t) == s.pattern.tzid || !zone.isValid())
            return recurrence::Wall::fromKey(wallKey(t));
        const Local l = localTime(t);
        const QDateTime there = QDateTime(dateOf(l), QTime::fromMSecsSinceStartOfDay(int(l % kDay) * 1000)).toTimeZone(zone);
        return recurrence::Wall{there.date(), there.time()};
    };
    bool cut = false;
    for (icalproperty* p = icalcomponent_get_first_property(event, ICAL_RDATE_PROPERTY); p;
         p = icalcomponent_get_next_property(event, ICAL_RDATE_PROPERTY)) {
        cut = cut || s.pattern.rdates.size() >= size_t(recurrence::kMaxOccurrences);
        if (!cut)
            s.pattern.rdates.push_back(wallOf(p));
    }
    for (icalproperty* p = icalcomponent_get_first_property(event, ICAL_EXDATE_PROPERTY); p;
         p = icalcomponent_get_next_property(event, ICAL_EXDATE_PROPERTY))
        if (s.pattern.exdates.size() < size_t(recurrence::kMaxOccurrences))
            s.pattern.exdates.push_back(wallOf(p));
    const recurrence::Expansion e = recurrence::expand(s.pattern, m_today, m_today.addDays(kSpanDays - 1));
    if (e.verdict == recurrence::Verdict::Refused) {
        ++m_result.refusedRules;
        return false;
    }
    if (e.occurrences.empty()) {
        ++(e.endsBefore ? m_result.past : m_result.later);
        return false;
    }
    if (cut || e.verdict == recurrence::Verdict::Capped)
        ++m_result.cutSeries;
    m_seriesRows += e.occurrences.size();
    m_result.shortenedSeries += shortened ? 1 : 0;
    if (m_keepSources)
        s.source = calendarSource(event).toUtf8();
    m_result.series.push_back(std::move(s));
    return true;
}

void Reader::read(icalcomponent* event, icalcomponent* calendar)
{
    if (icalcomponent_get_status(event) == ICAL_STATUS_CANCELLED) {
        ++m_result.cancelled;
        return;
    }
    m_zoneUnknown = false;
    icalproperty* startProperty = icalcomponent_get_first_property(event, ICAL_DTSTART_PROPERTY);
    const icaltimetype start = startProperty ? timeOf(startProperty, calendar) : icaltime_null_time();
    const Local first = localTime(start);

    bool shortened = false;
    auto fit = [&shortened](const QString& text, const char* column) {
        const QString result = store::fitted(text, store::columnSize(QLatin1String(column)));
        shortened = shortened || result.size() != text.size();
        return result;
    };
    store::PLAN_REC rec;
    rec.P_DETAIL = fit(textOf(event, ICAL_SUMMARY_PROPERTY, kExactSummary, true), "P_DETAIL");
    rec.P_PLACE = fit(textOf(event, ICAL_LOCATION_PROPERTY, kExactLocation, false), "P_PLACE");
    rec.P_NOTICE = fit(textOf(event, ICAL_DESCRIPTION_PROPERTY, kExactDescription, false), "P_NOTICE");
    rec.P_IMPORTANCE = importanceOf(event);
    if (state::trimBlanks(rec.P_DETAIL).isEmpty() || first == kNoTime) {
        ++m_result.unusable;
        return;
    }

    // Every rule is checked before any is followed: libical may search for ever inside one step.
    std::vector<icalrecurrencetype> rules;
    for (icalproperty* p = icalcomponent_get_first_property(event, ICAL_RRULE_PROPERTY); p;
         p = icalcomponent_get_next_property(event, ICAL_RRULE_PROPERTY)) {
        rules.push_back(icalproperty_get_rrule(p));
        if (checkRule(rules.back(), start.is_date ? 0 : start.hour) != RuleVerdict::Usable) {
            ++m_result.refusedRules;
            return;
        }
    }

    // Without an end a date lasts its day and a time is a moment.
    Local end = start.is_date ? first + kDay : first;
    bool hasEnd = start.is_date;
    if (icalproperty* p = icalcomponent_get_first_property(event, ICAL_DTEND_PROPERTY)) {
        end = localTime(timeOf(p, calendar));
        hasEnd = end != kNoTime;
    } else if (icalproperty* p = icalcomponent_get_first_property(event, ICAL_DURATION_PROPERTY)) {
        end = first + icaldurationtype_as_int(icalproperty_get_duration(p));
        hasEnd = true;
    }
    const Local length = end == kNoTime ? 0 : std::max<Local>(0, end - first);
    rec.ALL_DAY = start.is_date;
    const Local from = m_todayStart - length;

    if (m_keepSeries && (!rules.empty() || icalcomponent_get_first_property(event, ICAL_RDATE_PROPERTY))
        && !icalcomponent_get_first_property(event, ICAL_RECURRENCEID_PROPERTY)) {
        readSeries(event, calendar, start, rec, length, hasEnd, shortened);
        return;
    }

    std::set<Local> starts{first};
    bool recurring = !rules.empty();
    bool cut = false;
    bool beyond = false;
    for (const icalrecurrencetype& rule : rules) {
        const Walk walk = expand(rule, start, from, starts);
        cut = cut || walk == Walk::Cut;
        beyond = beyond || walk == Walk::Beyond;
    }
    for (icalproperty* p = icalcomponent_get_first_property(event, ICAL_RDATE_PROPERTY); p;
         p = icalcomponent_get_next_property(event, ICAL_RDATE_PROPERTY)) {
        recurring = true;
        if (starts.size() >= kMaxInstances) {
            cut = true;
            break;
        }
        starts.insert(localTime(timeOf(p, calendar)));
    }
    // A date excludes every instance on that day, whatever its time. Gathered first, so that an
    // event of many thousand EXDATEs costs one pass over its instances, not one for each.
    std::set<Local> excludedTimes;
    std::set<Local> excludedDays;
    for (icalproperty* p = icalcomponent_get_first_property(event, ICAL_EXDATE_PROPERTY); p;
         p = icalcomponent_get_next_property(event, ICAL_EXDATE_PROPERTY)) {
        const icaltimetype t = timeOf(p, calendar);
        const Local excluded = localTime(t);
        if (t.is_date)
            excludedDays.insert(excluded / kDay);
        else
            excludedTimes.insert(excluded);
    }
    std::erase_if(starts, [&](Local s) { return excludedTimes.count(s) > 0 || excludedDays.count(s / kDay) > 0; });
    if (!icalcomponent_get_first_property(event, ICAL_RECURRENCEID_PROPERTY))
        for (Local replaced : m_overridden.value(QString::fromUtf8(icalcomponent_get_uid(event))))
            starts.erase(replaced);

    const QString uid = QString::fromUtf8(icalcomponent_get_uid(event));
    const std::optional<int> remind = alarmLead(event);
    const size_t before = m_result.rows.size();
    bool past = false;
    bool full = false;
    for (Local s : starts) {
        if (s == kNoTime || dateOf(s).year() > 9999 || (recurring && s >= m_windowEnd))
            continue;
        if (s < m_todayStart && s + length <= m_todayStart) {
            past = true;
            continue;
        }
        if (m_result.rows.size() >= kMaxRowsPerRead) {
            full = true;
            break;
        }
        rec.P_DATE = dateText(s / kDay);
        rec.P_HOUR = numberText(int(s % kDay / 3600));
        // The minute stays as the calendar has it (10:20 stays 20), though the entry form offers
        // quarter hours only: a rounded time would not be the time agreed on, and a sync would
        // move the event on the server. P_MIN is two characters of text and read as text.
        rec.P_MIN = numberText(int(s % kDay / 60 % 60));
        if (start.is_date) {
            // Dates end on the day after the last one: the row keeps the last day itself.
            rec.END_DATE = dateText((s + std::max(length, kDay) - 1) / kDay);
        } else if (hasEnd) {
            const Local e = s + length;
            rec.END_DATE = dateText(e / kDay);
            rec.END_HOUR = numberText(int(e % kDay / 3600));
            rec.END_MIN = numberText(int(e % kDay / 60 % 60));
        }
        m_result.rows.push_back({rec, uid, shortened, recurring, {}, remind});
        if (icalproperty* id = icalcomponent_get_first_property(event, ICAL_RECURRENCEID_PROPERTY); id && m_keepSeries)
            m_result.rows.back().recurrenceId = wallKey(icalproperty_get_recurrenceid(id));
    }
    const bool added = m_result.rows.size() > before;
    if (!recurring && m_keepSources && m_result.rows.size() == before + 1)
        m_result.rows.back().source = QByteArrayLiteral("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:") + kProductId
            + QByteArrayLiteral("\r\n") + m_zoneTexts + componentText(event) + QByteArrayLiteral("END:VCALENDAR\r\n");
    // A series cut short, or one whose next instance is beyond the span, still runs: it is not
    // one that has ended.
    if (full && !added)
        ++m_result.notRead;
    else if (full || cut)
        ++m_result.cutSeries;
    else if (beyond && !added)
        ++m_result.later;
    else if (past && !added)
        ++m_result.past;
    if (m_zoneUnknown && added)
        ++m_result.unknownZone;
}

} // namespace

namespace {

// "YYYY/MM/DD" read by hand: QDate::fromString's format parser costs more than the rest of an event.
QDate dateFromKey(const QString& text)
{
    const QStringView key(text);
    return key.size() == 10 && key[4] == u'/' && key[7] == u'/'
        ? QDate(key.left(4).toInt(), key.mid(5, 2).toInt(), key.right(2).toInt())
        : QDate();
}

// The start and the end of a row as local times; the end is kNoTime when it has none. An all-day
// row starts at 00:00 of its first day and ends at 00:00 after its last.
struct Span {
    Local start = kNoTime;
    Local end = kNoTime;
};

Span spanOf(const store::PLAN_REC& row)
{
    const QDate date = dateFromKey(row.P_DATE);
    const QTime time = row.ALL_DAY ? QTime(0, 0) : QTime(row.P_HOUR.toInt(), row.P_MIN.toInt());
    const bool timeRead = row.ALL_DAY || (row.P_HOUR.size() == 2 && row.P_MIN.size() == 2);
    Span span{timeRead ? local(date, time) : kNoTime, kNoTime};
    if (row.ALL_DAY)
        span.end = local(dateFromKey(row.lastDay()).addDays(1), QTime(0, 0));
    else if (row.hasEnd())
        span.end = local(dateFromKey(row.END_DATE), QTime(row.END_HOUR.toInt(), row.END_MIN.toInt()));
    return span;
}

[[noreturn]] void unreadableRow(const store::PLAN_REC& row)
{
    throw platform::Failure(QStringLiteral("日付か時刻の読めない予定があります（%1 %2時%3分「%4」）。")
                                .arg(row.P_DATE, row.P_HOUR, row.P_MIN, row.P_DETAIL));
}

icaltimetype frameTime(Local t, bool date)
{
    icaltimetype result = icalTime(dateOf(t), date ? QTime(0, 0) : QTime::fromMSecsSinceStartOfDay(int(t % kDay) * 1000), nullptr);
    result.is_date = date;
    return result;
}

// The start and end as this program writes them: floating times, or dates for a whole day.
void addSpan(icalcomponent* e, const store::PLAN_REC& row, const Span& span)
{
    icalcomponent_add_property(e, icalproperty_new_dtstart(frameTime(span.start, row.ALL_DAY)));
    if (span.end != kNoTime && span.end >= span.start)
        icalcomponent_add_property(e, icalproperty_new_dtend(frameTime(span.end, row.ALL_DAY)));
}

int priorityOf(qint16 importance)
{
    return importance == 0 ? 1 : importance == 1 ? 5 : 9;
}

void removeAll(icalcomponent* e, icalproperty_kind kind, const char* xName = nullptr)
{
    std::vector<icalproperty*> gone;
    for (icalproperty* p = icalcomponent_get_first_property(e, kind); p; p = icalcomponent_get_next_property(e, kind))
        if (!xName || qstrcmp(icalproperty_get_x_name(p), xName) == 0)
            gone.push_back(p);
    for (icalproperty* p : gone) {
        icalcomponent_remove_property(e, p);
        icalproperty_free(p);
    }
}

// A date or time property moved to the local time t, in its own frame: its zone (the TZID stays),
// UTC, floating, or a date.
void moveTo(Reader& reader, icalproperty* property, icalcomponent* calendar, Local t)
{
    const icaltimetype was = reader.timeOf(property, calendar);
    icaltimetype now = inFrameOf(t, was);
    if (!was.is_date && icaltime_is_utc(was))
        now = icaltime_convert_to_zone(now, icaltimezone_get_utc_timezone());
    else if (!was.is_date)
        now.zone = nullptr; // written as a local time of the TZID that stays on the property
    icalproperty_set_value(property, was.is_date ? icalvalue_new_date(now) : icalvalue_new_datetime(now));
}

struct Parsed {
    Component root{nullptr, icalcomponent_free};
    icalcomponent* calendar = nullptr;
    icalcomponent* event = nullptr;
};

// The row's event in source with what changed replaced; see keptEvent. None when source holds
// no event that can be read: the row is then written as this program writes any other.
std::optional<Parsed> rewritten(const QByteArray& source, const store::PLAN_REC& row, const QString& uid, const QDateTime& stamp,
                                std::optional<int> remind)
{
    Parsed parsed;
    parsed.root.reset(icalparser_parse_string(source.constData()));
    icalcomponent* root = parsed.root.get();
    parsed.calendar = root && icalcomponent_isa(root) == ICAL_VCALENDAR_COMPONENT
        ? root
        : root ? icalcomponent_get_first_component(root, ICAL_VCALENDAR_COMPONENT) : nullptr;
    parsed.event = parsed.calendar ? icalcomponent_get_first_component(parsed.calendar, ICAL_VEVENT_COMPONENT) : nullptr;
    if (!parsed.event)
        return std::nullopt;
    icalcomponent* e = parsed.event;
    icalcomponent* calendar = parsed.calendar;
    // What the event said when it came: only what differs from it was changed here.
    static const std::atomic<bool> kWaitedFor{false};
    Reader reader(QDate(1, 1, 1), kWaitedFor);
    reader.read(e, calendar);
    if (reader.result().rows.empty())
        return std::nullopt;
    const store::PLAN_REC was = reader.result().rows.front().rec;
    const Span now = spanOf(row);
    if (now.start == kNoTime)
        unreadableRow(row);
    bool changed = false;
    // A lead chosen here that the event's alarm does not say replaces that alarm alone; following
    // the settings again takes back our "no reminder" alone.
    const std::optional<int> wasLead = reader.result().rows.front().remind;
    if (remind != wasLead && (remind || wasLead == store::kRemindNever)) {
        replaceAlarm(e, remind, row.P_DETAIL);
        changed = true;
    }
    auto text = [&](const QString& before, const QString& after, icalproperty_kind kind,
                    icalproperty* (*make)(const char*), const char* exactName) {
        if (before == after)
            return;
        removeAll(e, kind);
        removeAll(e, ICAL_X_PROPERTY, exactName);
        addText(e, make, exactName, after);
        changed = true;
    };
    text(was.P_DETAIL, row.P_DETAIL, ICAL_SUMMARY_PROPERTY, icalproperty_new_summary, kExactSummary);
    text(was.P_PLACE, row.P_PLACE, ICAL_LOCATION_PROPERTY, icalproperty_new_location, kExactLocation);
    text(was.P_NOTICE, row.P_NOTICE, ICAL_DESCRIPTION_PROPERTY, icalproperty_new_description, kExactDescription);
    if (was.P_IMPORTANCE != row.P_IMPORTANCE) {
        removeAll(e, ICAL_PRIORITY_PROPERTY);
        icalcomponent_add_property(e, icalproperty_new_priority(priorityOf(row.P_IMPORTANCE)));
        changed = true;
    }
    const Span before = spanOf(was);
    const Local moved = now.start - before.start;
    const bool endChanged = (now.end == kNoTime) != (before.end == kNoTime)
        || (now.end != kNoTime && now.end - now.start != before.end - before.start);
    if (was.ALL_DAY != row.ALL_DAY) {
        // From a time to whole days or back: written afresh, as this program writes a span.
        removeAll(e, ICAL_DTSTART_PROPERTY);
        removeAll(e, ICAL_DTEND_PROPERTY);
        removeAll(e, ICAL_DURATION_PROPERTY);
        addSpan(e, row, now);
        changed = true;
    } else if (moved != 0 || endChanged) {
        icalproperty* start = icalcomponent_get_first_property(e, ICAL_DTSTART_PROPERTY);
        if (moved != 0)
            moveTo(reader, start, calendar, localTime(reader.timeOf(start, calendar)) + moved);
        icalproperty* end = icalcomponent_get_first_property(e, ICAL_DTEND_PROPERTY);
        if (!endChanged && end) {
            moveTo(reader, end, calendar, localTime(reader.timeOf(end, calendar)) + moved);
        } else if (endChanged) {
            removeAll(e, ICAL_DTEND_PROPERTY);
            removeAll(e, ICAL_DURATION_PROPERTY);
            if (now.end != kNoTime) {
                // In the start's frame, with its TZID.
                icalproperty* newEnd = icalproperty_new_dtend(icaltime_null_time());
                if (icalparameter* tzid = icalproperty_get_first_parameter(start, ICAL_TZID_PARAMETER))
                    icalproperty_add_parameter(newEnd, icalparameter_new_clone(tzid));
                icalproperty_set_value(newEnd, icalvalue_new_datetimedate(reader.timeOf(start, calendar)));
                icalcomponent_add_property(e, newEnd);
                moveTo(reader, newEnd, calendar, now.end);
            }
        }
        changed = true;
    }
    if (QString::fromUtf8(icalcomponent_get_uid(e)) != uid)
        icalcomponent_set_uid(e, uid.toUtf8().constData());
    if (changed) {
        icalcomponent_set_sequence(e, icalcomponent_get_sequence(e) + 1);
        const QDateTime utc = stamp.toUTC();
        const icaltimetype stampTime = icalTime(utc.date(), utc.time(), icaltimezone_get_utc_timezone());
        removeAll(e, ICAL_DTSTAMP_PROPERTY);
        removeAll(e, ICAL_LASTMODIFIED_PROPERTY);
        icalcomponent_add_property(e, icalproperty_new_dtstamp(stampTime));
        icalcomponent_add_property(e, icalproperty_new_lastmodified(stampTime));
    }
    return parsed;
}

// The components of this name as the text has them, byte for byte, each with its span: what we
// did not change goes back exactly as it came, not as libical would write it again.
std::vector<std::pair<qsizetype, qsizetype>> rawBlocks(const QByteArray& text, const QByteArray& name)
{
    std::vector<std::pair<qsizetype, qsizetype>> result;
    const QByteArray begin = "BEGIN:" + name, end = "END:" + name;
    for (qsizetype at = 0; (at = text.indexOf(begin, at)) >= 0;) {
        if (at > 0 && text[at - 1] != '\n') {
            at += begin.size();
            continue;
        }
        qsizetype stop = text.indexOf(end, at);
        if (stop < 0)
            break;
        stop = text.indexOf('\n', stop);
        stop = stop < 0 ? text.size() : stop + 1;
        result.emplace_back(at, stop);
        at = stop;
    }
    return result;
}

} // namespace

QByteArray eventText(const store::PLAN_REC& row, const QString& uid, const QDateTime& stamp, std::optional<int> remind)
{
    const Span span = spanOf(row);
    if (span.start == kNoTime)
        unreadableRow(row);
    Component event(icalcomponent_new_vevent(), icalcomponent_free);
    icalcomponent* e = event.get();
    icalcomponent_add_property(e, icalproperty_new_uid(uid.toUtf8().constData()));
    const QDateTime utc = stamp.toUTC();
    icalcomponent_add_property(e, icalproperty_new_dtstamp(icalTime(utc.date(), utc.time(), icaltimezone_get_utc_timezone())));
    // A floating time: the appointment is at this hour wherever its reader is, as in the table.
    addSpan(e, row, span);
    addText(e, icalproperty_new_summary, kExactSummary, row.P_DETAIL);
    addText(e, icalproperty_new_location, kExactLocation, row.P_PLACE);
    addText(e, icalproperty_new_description, kExactDescription, row.P_NOTICE);
    icalcomponent_add_property(e, icalproperty_new_priority(priorityOf(row.P_IMPORTANCE)));
    if (remind && *remind >= 0)
        addAlarm(e, *remind, row.P_DETAIL);
    else if (remind)
        markNoAlarm(e);
    // libical folds at 75 octets, never inside a UTF-8 character, and ends lines with CRLF.
    return componentText(e);
}

QByteArray keptEvent(const QByteArray& source, const store::PLAN_REC& row, const QString& uid, const QDateTime& stamp,
                     ZoneTexts& zones, std::optional<int> remind)
{
    const std::optional<Parsed> parsed = rewritten(source, row, uid, stamp, remind);
    if (!parsed)
        return eventText(row, uid, stamp, remind);
    static const QRegularExpression tzid(QStringLiteral("(?:^|\\n)TZID[^:\\r\\n]*:([^\\r\\n]*)"));
    for (const auto& [begin, end] : rawBlocks(source, "VTIMEZONE")) {
        QByteArray zone = source.mid(begin, end - begin);
        if (!zone.endsWith('\n'))
            zone += "\r\n";
        zones.insert(tzid.match(QString::fromUtf8(zone)).captured(1), zone);
    }
    return componentText(parsed->event);
}

QByteArray keptCalendar(const QByteArray& source, const store::PLAN_REC& row, const QString& uid, const QDateTime& stamp,
                        std::optional<int> remind)
{
    const std::optional<Parsed> parsed = rewritten(source, row, uid, stamp, remind);
    const auto events = rawBlocks(source, "VEVENT");
    if (!parsed || events.size() != 1)
        return calendarText(eventText(row, uid, stamp, remind));
    // Only the event is written again; the calendar around it stays byte for byte.
    return source.left(events[0].first) + componentText(parsed->event) + source.mid(events[0].second);
}

namespace {

// A time of a series as a property's parameters and value: a date, a floating time, UTC, or a
// time in its zone (whose VTIMEZONE the calendar then needs). A fixed offset goes as UTC.
QByteArray timeValue(const recurrence::Wall& wall, const QString& tzid, QString& zoneNeeded)
{
    if (!wall.time.isValid())
        return ";VALUE=DATE:" + wall.key().toLatin1();
    if (tzid.isEmpty())
        return ":" + wall.key().toLatin1();
    if (tzid.startsWith(QLatin1String("UTC"))) {
        const QDateTime utc = QDateTime(wall.date, wall.time, recurrence::zoneOf(tzid)).toUTC();
        return ":" + recurrence::Wall{utc.date(), utc.time()}.key().toLatin1() + "Z";
    }
    zoneNeeded = tzid;
    return ";TZID=" + tzid.toUtf8() + ":" + wall.key().toLatin1();
}

void addTime(icalcomponent* e, const char* name, const recurrence::Wall& wall, const QString& tzid, QString& zoneNeeded)
{
    if (icalproperty* p = icalproperty_new_from_string((QByteArray(name) + timeValue(wall, tzid, zoneNeeded)).constData()))
        icalcomponent_add_property(e, p);
}

// The VTIMEZONE of a zone for a file: the one the series came with, else the time-zone database's.
QByteArray zoneText(const QString& tzid, const QByteArray& source)
{
    static const QRegularExpression named(QStringLiteral("(?:^|\\n)TZID[^:\\r\\n]*:([^\\r\\n]*)"));
    for (const auto& [begin, end] : rawBlocks(source, "VTIMEZONE")) {
        QByteArray zone = source.mid(begin, end - begin);
        if (named.match(QString::fromUtf8(zone)).captured(1).trimmed() == tzid)
            return zone.endsWith('\n') ? zone : zone + "\r\n";
    }
    icaltimezone* builtin = icaltimezone_get_builtin_timezone(tzid.toUtf8().constData());
    icalcomponent* component = builtin ? icaltimezone_get_component(builtin) : nullptr;
    if (!component)
        return {};
    Component copy(icalcomponent_new_clone(component), icalcomponent_free);
    // Named as the events name it, not by libical's own prefixed name.
    if (icalproperty* name = icalcomponent_get_first_property(copy.get(), ICAL_TZID_PROPERTY))
        icalproperty_set_tzid(name, tzid.toUtf8().constData());
    return componentText(copy.get());
}

} // namespace

QByteArray seriesText(const store::Series& series, const std::vector<std::pair<QString, store::PLAN_REC>>& exceptions,
                      const QDateTime& stamp, ZoneTexts& zones)
{
    const QString& tzid = series.pattern.tzid;
    const store::PLAN_REC first = store::occurrenceRow(series, recurrence::localStart(series.pattern.start, tzid));
    Component root(nullptr, icalcomponent_free);
    icalcomponent* master = nullptr;
    if (!series.source.isEmpty()) {
        root.reset(icalparser_parse_string(series.source.constData()));
        icalcomponent* calendar = root && icalcomponent_isa(root.get()) == ICAL_VCALENDAR_COMPONENT ? root.get() : nullptr;
        for (icalcomponent* e = calendar ? icalcomponent_get_first_component(calendar, ICAL_VEVENT_COMPONENT) : nullptr; e && !master;
             e = icalcomponent_get_next_component(calendar, ICAL_VEVENT_COMPONENT))
            if (!icalcomponent_get_first_property(e, ICAL_RECURRENCEID_PROPERTY))
                master = e;
    }
    if (!master) {
        root.reset(icalparser_parse_string(eventText(first, series.uid, stamp).constData()));
        master = root.get();
    } else {
        // What another program wrote stays; the texts are the series' own.
        for (icalproperty_kind kind : {ICAL_SUMMARY_PROPERTY, ICAL_LOCATION_PROPERTY, ICAL_DESCRIPTION_PROPERTY, ICAL_PRIORITY_PROPERTY})
            removeAll(master, kind);
        for (const char* exact : {kExactSummary, kExactLocation, kExactDescription})
            removeAll(master, ICAL_X_PROPERTY, exact);
        addText(master, icalproperty_new_summary, kExactSummary, series.texts.P_DETAIL);
        addText(master, icalproperty_new_location, kExactLocation, series.texts.P_PLACE);
        addText(master, icalproperty_new_description, kExactDescription, series.texts.P_NOTICE);
        icalcomponent_add_property(master, icalproperty_new_priority(priorityOf(series.texts.P_IMPORTANCE)));
        icalcomponent_set_uid(master, series.uid.toUtf8().constData());
    }
    for (icalproperty_kind kind : {ICAL_DTSTART_PROPERTY, ICAL_DTEND_PROPERTY, ICAL_DURATION_PROPERTY, ICAL_RRULE_PROPERTY,
                                   ICAL_RDATE_PROPERTY, ICAL_EXDATE_PROPERTY})
        removeAll(master, kind);
    QString zoneNeeded;
    addTime(master, "DTSTART", series.pattern.start, tzid, zoneNeeded);
    if (series.length >= 0)
        icalcomponent_add_property(master, icalproperty_new_duration(icaldurationtype_from_int(int(series.length))));
    if (!series.pattern.rule.isEmpty())
        if (icalproperty* rule = icalproperty_new_from_string(("RRULE:" + series.pattern.rule).constData()))
            icalcomponent_add_property(master, rule);
    for (const recurrence::Wall& wall : series.pattern.rdates)
        addTime(master, "RDATE", wall, tzid, zoneNeeded);
    for (const recurrence::Wall& wall : series.pattern.exdates)
        addTime(master, "EXDATE", wall, tzid, zoneNeeded);
    QByteArray text = componentText(master);
    for (const auto& [recurrenceId, row] : exceptions) {
        Component changed(icalparser_parse_string(eventText(row, series.uid, stamp).constData()), icalcomponent_free);
        addTime(changed.get(), "RECURRENCE-ID", recurrence::Wall::fromKey(recurrenceId), tzid, zoneNeeded);
        text += componentText(changed.get());
    }
    if (!zoneNeeded.isEmpty() && !zones.contains(zoneNeeded))
        if (const QByteArray zone = zoneText(zoneNeeded, series.source); !zone.isEmpty())
            zones.insert(zoneNeeded, zone);
    return text;
}

QByteArray calendarText(const QByteArray& events)
{
    return QByteArrayLiteral("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:") + kProductId + QByteArrayLiteral("\r\n") + events
        + QByteArrayLiteral("END:VCALENDAR\r\n");
}

namespace {

Component parsed(const QByteArray& text)
{
    return Component(icalparser_parse_string(text.constData()), icalcomponent_free);
}

ReadResult readNow(const QByteArray& text, const QDate& today, const std::atomic<bool>& abandoned, bool keepSeries)
{
    const std::vector<CalendarPieces> calendars = splitCalendars(text);
    // Each calendar's properties and zones, without its events: the events are parsed one at a
    // time, so that memory follows the largest event and not the whole file.
    std::vector<Component> frames;
    for (const CalendarPieces& pieces : calendars) {
        Component frame = parsed(pieces.frame);
        if (!frame || icalcomponent_isa(frame.get()) != ICAL_VCALENDAR_COMPONENT)
            frame = Component(icalcomponent_new_vcalendar(), icalcomponent_free);
        // A zone whose rules would keep libical busy for ever or fill the memory is left out:
        // its times are read in the system's zone of that name, or as local time.
        std::vector<icalcomponent*> unbounded;
        for (icalcomponent* zone = icalcomponent_get_first_component(frame.get(), ICAL_VTIMEZONE_COMPONENT); zone;
             zone = icalcomponent_get_next_component(frame.get(), ICAL_VTIMEZONE_COMPONENT))
            if (!zoneIsBounded(zone))
                unbounded.push_back(zone);
        for (icalcomponent* zone : unbounded) {
            icalcomponent_remove_component(frame.get(), zone);
            icalcomponent_free(zone);
        }
        frames.push_back(std::move(frame));
    }

    Reader reader(today, abandoned);
    reader.keepSeries(keepSeries);
    const auto pieceOf = [&text](const CalendarPieces::Range& range) { return text.mid(range.begin, range.end - range.begin); };
    for (size_t c = 0; c < calendars.size(); ++c)
        for (const CalendarPieces::Range& range : calendars[c].events) {
            const QByteArray piece = pieceOf(range);
            if (piece.size() > kMaxEventBytes
                || !QLatin1String(piece.constData(), piece.size()).contains(QLatin1String("RECURRENCE-ID"), Qt::CaseInsensitive))
                continue;
            if (Component event = parsed(piece); event && icalcomponent_isa(event.get()) == ICAL_VEVENT_COMPONENT)
                reader.noteOverride(event.get(), frames[c].get());
        }
    ReadResult& result = reader.result();
    for (size_t c = 0; c < calendars.size(); ++c) {
        reader.enter(frames[c].get());
        for (const CalendarPieces::Range& range : calendars[c].events) {
            if (!reader.open()) {
                ++result.notRead;
                continue;
            }
            if (range.end - range.begin > kMaxEventBytes) {
                ++result.oversized;
                continue;
            }
            const Component event = parsed(pieceOf(range));
            if (event && icalcomponent_isa(event.get()) == ICAL_VEVENT_COMPONENT)
                reader.read(event.get(), frames[c].get());
            else
                ++result.unusable;
        }
    }
    return std::move(result);
}

// One read, waited for with a deadline: should libical still spin inside one step on something
// the checks let through, the caller gets an answer and the reader stops at its next step.
struct ReadJob {
    QByteArray text;
    QDate today;
    bool keepSeries = false;
    std::atomic<bool> abandoned{false};
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    ReadResult result;
    std::exception_ptr failure;
};

} // namespace

ReadResult readCalendar(const QByteArray& text, const QDate& today, bool keepSeries)
{
    auto job = std::make_shared<ReadJob>();
    job->text = text;
    job->today = today;
    job->keepSeries = keepSeries;
    std::thread reader([job] {
        try {
            job->result = readNow(job->text, job->today, job->abandoned, job->keepSeries);
        } catch (...) {
            job->failure = std::current_exception();
        }
        const std::lock_guard lock(job->mutex);
        job->done = true;
        job->ended.notify_all();
    });
    std::unique_lock lock(job->mutex);
    if (!job->ended.wait_for(lock, kReadDeadline, [&job] { return job->done; })) {
        // The reader keeps what it needs and ends by itself once libical returns.
        job->abandoned = true;
        reader.detach();
        throw platform::Failure(QStringLiteral("予定表を読むのに時間がかかりすぎるため、読み込みをやめました。"));
    }
    lock.unlock();
    reader.join();
    if (job->failure)
        std::rethrow_exception(job->failure);
    return std::move(job->result);
}

} // namespace ical
