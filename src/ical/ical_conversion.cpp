#include "ical/ical_conversion.h"

#include "platform/database.h"
#include "platform/failure.h"
#include "state/text.h"

#include <QCryptographicHash>
#include <QHash>
#include <QRegularExpression>
#include <QStringList>

#include <libical/ical.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <optional>
#include <set>

namespace ical {
namespace {

// Recurrences become appointments for this many days from today.
constexpr int kSpanDays = 366;
// A rule is followed for at most this many steps, so that one repeating by the second, or
// written to keep a reader busy, still ends; and it gives at most this many appointments (one an
// hour for the whole span is 8,784).
constexpr int kMaxSteps = 100000;
constexpr size_t kMaxInstances = 10000;

using Component = std::unique_ptr<icalcomponent, decltype(&icalcomponent_free)>;

// Our own copies of the three texts, for what the standard properties cannot carry (see carried).
constexpr char kExactSummary[] = "X-MERIDOCAL-SUMMARY";
constexpr char kExactLocation[] = "X-MERIDOCAL-LOCATION";
constexpr char kExactDescription[] = "X-MERIDOCAL-DESCRIPTION";

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
    if (asRead(plain) == text)
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

// The zone a TZID names: the calendar's own VTIMEZONE, else the system's zone of that name.
// A name known to neither leaves the time as local time.
const icaltimezone* zoneNamed(const char* tzid, icalcomponent* calendar)
{
    if (icaltimezone* zone = icalcomponent_get_timezone(calendar, tzid))
        return zone;
    if (icaltimezone* zone = icaltimezone_get_builtin_timezone(tzid))
        return zone;
    return icaltimezone_get_builtin_timezone_from_tzid(tzid);
}

// A property's date or time with the zone of its TZID; the start of a period.
icaltimetype timeOf(icalproperty* property, icalcomponent* calendar)
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

QString unreadable(const QByteArray& text)
{
    // libical gives neither a calendar nor a reason when one is cut short or is none at all.
    if (text.contains("BEGIN:VCALENDAR") || text.contains("begin:vcalendar"))
        return QStringLiteral("iCalendar のファイルが途中で切れているため読み込めません（END:VCALENDAR で終わっていません）。");
    return QStringLiteral("iCalendar のファイルではありません（BEGIN:VCALENDAR で始まる予定表がありません）。");
}

class Reader {
public:
    explicit Reader(const QDate& today)
        : m_todayStart(local(today, QTime(0, 0))), m_windowEnd(m_todayStart + kSpanDays * kDay)
    {
    }

    // The instances that events with a RECURRENCE-ID replace, by UID: read before the events
    // whose instances they replace.
    void noteOverride(icalcomponent* event, icalcomponent* calendar)
    {
        if (icalproperty* id = icalcomponent_get_first_property(event, ICAL_RECURRENCEID_PROPERTY))
            m_overridden[QString::fromUtf8(icalcomponent_get_uid(event))].push_back(localTime(timeOf(id, calendar)));
    }

    void read(icalcomponent* event, icalcomponent* calendar);
    ReadResult& result() { return m_result; }
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
    void expand(icalproperty* rule, const icaltimetype& start, Local from, std::set<Local>& starts);
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
    bool m_keepSources = false;
    QByteArray m_zoneTexts;
    QHash<QString, std::vector<Local>> m_overridden;
    QHash<Local, QString> m_dateTexts;
    QStringList m_numberTexts;
    ReadResult m_result;
};

void Reader::expand(icalproperty* rule, const icaltimetype& start, Local from, std::set<Local>& starts)
{
    const icalrecurrencetype recurrence = icalproperty_get_rrule(rule);
    icalrecur_iterator* it = icalrecur_iterator_new(recurrence, start);
    if (!it)
        return;
    // Without COUNT the rule can start near today instead of walking from its first instance.
    if (recurrence.count == 0 && localTime(start) < from)
        icalrecur_iterator_set_start(it, inFrameOf(from, start));
    for (int step = 0; step < kMaxSteps && starts.size() < kMaxInstances; ++step) {
        icaltimetype t = icalrecur_iterator_next(it);
        if (icaltime_is_null_time(t))
            break;
        t.zone = start.zone;
        const Local instance = localTime(t);
        if (instance >= m_windowEnd)
            break;
        if (instance >= from)
            starts.insert(instance);
    }
    icalrecur_iterator_free(it);
}

void Reader::read(icalcomponent* event, icalcomponent* calendar)
{
    if (icalcomponent_get_status(event) == ICAL_STATUS_CANCELLED) {
        ++m_result.cancelled;
        return;
    }
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

    std::set<Local> starts{first};
    bool recurring = false;
    for (icalproperty* p = icalcomponent_get_first_property(event, ICAL_RRULE_PROPERTY); p;
         p = icalcomponent_get_next_property(event, ICAL_RRULE_PROPERTY)) {
        recurring = true;
        expand(p, start, from, starts);
    }
    for (icalproperty* p = icalcomponent_get_first_property(event, ICAL_RDATE_PROPERTY); p;
         p = icalcomponent_get_next_property(event, ICAL_RDATE_PROPERTY)) {
        recurring = true;
        starts.insert(localTime(timeOf(p, calendar)));
    }
    for (icalproperty* p = icalcomponent_get_first_property(event, ICAL_EXDATE_PROPERTY); p;
         p = icalcomponent_get_next_property(event, ICAL_EXDATE_PROPERTY)) {
        const icaltimetype t = timeOf(p, calendar);
        const Local excluded = localTime(t);
        // A date excludes every instance on that day, whatever its time.
        std::erase_if(starts, [&](Local s) { return t.is_date ? s / kDay == excluded / kDay : s == excluded; });
    }
    if (!icalcomponent_get_first_property(event, ICAL_RECURRENCEID_PROPERTY))
        for (Local replaced : m_overridden.value(QString::fromUtf8(icalcomponent_get_uid(event))))
            starts.erase(replaced);

    const QString uid = QString::fromUtf8(icalcomponent_get_uid(event));
    const size_t before = m_result.rows.size();
    bool past = false;
    for (Local s : starts) {
        if (s == kNoTime || dateOf(s).year() > 9999 || (recurring && s >= m_windowEnd))
            continue;
        if (s < m_todayStart && s + length <= m_todayStart) {
            past = true;
            continue;
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
        m_result.rows.push_back({rec, uid, shortened, recurring, {}});
    }
    if (!recurring && m_keepSources && m_result.rows.size() == before + 1)
        m_result.rows.back().source = QByteArrayLiteral("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:") + kProductId
            + QByteArrayLiteral("\r\n") + m_zoneTexts + componentText(event) + QByteArrayLiteral("END:VCALENDAR\r\n");
    if (past && m_result.rows.size() == before)
        ++m_result.past;
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
void moveTo(icalproperty* property, icalcomponent* calendar, Local t)
{
    const icaltimetype was = timeOf(property, calendar);
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
std::optional<Parsed> rewritten(const QByteArray& source, const store::PLAN_REC& row, const QString& uid, const QDateTime& stamp)
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
    Reader reader(QDate(1, 1, 1));
    reader.read(e, calendar);
    if (reader.result().rows.empty())
        return std::nullopt;
    const store::PLAN_REC was = reader.result().rows.front().rec;
    const Span now = spanOf(row);
    if (now.start == kNoTime)
        unreadableRow(row);
    bool changed = false;
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
            moveTo(start, calendar, localTime(timeOf(start, calendar)) + moved);
        icalproperty* end = icalcomponent_get_first_property(e, ICAL_DTEND_PROPERTY);
        if (!endChanged && end) {
            moveTo(end, calendar, localTime(timeOf(end, calendar)) + moved);
        } else if (endChanged) {
            removeAll(e, ICAL_DTEND_PROPERTY);
            removeAll(e, ICAL_DURATION_PROPERTY);
            if (now.end != kNoTime) {
                // In the start's frame, with its TZID.
                icalproperty* newEnd = icalproperty_new_dtend(icaltime_null_time());
                if (icalparameter* tzid = icalproperty_get_first_parameter(start, ICAL_TZID_PARAMETER))
                    icalproperty_add_parameter(newEnd, icalparameter_new_clone(tzid));
                icalproperty_set_value(newEnd, icalvalue_new_datetimedate(timeOf(start, calendar)));
                icalcomponent_add_property(e, newEnd);
                moveTo(newEnd, calendar, now.end);
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

QByteArray eventText(const store::PLAN_REC& row, const QString& uid, const QDateTime& stamp)
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
    // libical folds at 75 octets, never inside a UTF-8 character, and ends lines with CRLF.
    return componentText(e);
}

QByteArray keptEvent(const QByteArray& source, const store::PLAN_REC& row, const QString& uid, const QDateTime& stamp,
                     ZoneTexts& zones)
{
    const std::optional<Parsed> parsed = rewritten(source, row, uid, stamp);
    if (!parsed)
        return eventText(row, uid, stamp);
    static const QRegularExpression tzid(QStringLiteral("(?:^|\\n)TZID[^:\\r\\n]*:([^\\r\\n]*)"));
    for (const auto& [begin, end] : rawBlocks(source, "VTIMEZONE")) {
        QByteArray zone = source.mid(begin, end - begin);
        if (!zone.endsWith('\n'))
            zone += "\r\n";
        zones.insert(tzid.match(QString::fromUtf8(zone)).captured(1), zone);
    }
    return componentText(parsed->event);
}

QByteArray keptCalendar(const QByteArray& source, const store::PLAN_REC& row, const QString& uid, const QDateTime& stamp)
{
    const std::optional<Parsed> parsed = rewritten(source, row, uid, stamp);
    const auto events = rawBlocks(source, "VEVENT");
    if (!parsed || events.size() != 1)
        return calendarText(eventText(row, uid, stamp));
    // Only the event is written again; the calendar around it stays byte for byte.
    return source.left(events[0].first) + componentText(parsed->event) + source.mid(events[0].second);
}

QByteArray calendarText(const QByteArray& events)
{
    return QByteArrayLiteral("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:") + kProductId + QByteArrayLiteral("\r\n") + events
        + QByteArrayLiteral("END:VCALENDAR\r\n");
}

ReadResult readCalendar(const QByteArray& text, const QDate& today)
{
    Component root(icalparser_parse_string(text.constData()), icalcomponent_free);
    if (!root)
        throw platform::Failure(unreadable(text));
    // Several calendars in one file come under one XROOT.
    std::vector<icalcomponent*> calendars;
    if (icalcomponent_isa(root.get()) == ICAL_VCALENDAR_COMPONENT)
        calendars.push_back(root.get());
    for (icalcomponent* c = icalcomponent_get_first_component(root.get(), ICAL_VCALENDAR_COMPONENT); c;
         c = icalcomponent_get_next_component(root.get(), ICAL_VCALENDAR_COMPONENT))
        calendars.push_back(c);
    if (calendars.empty())
        throw platform::Failure(unreadable({}));

    Reader reader(today);
    for (icalcomponent* calendar : calendars)
        for (icalcomponent* e = icalcomponent_get_first_component(calendar, ICAL_VEVENT_COMPONENT); e;
             e = icalcomponent_get_next_component(calendar, ICAL_VEVENT_COMPONENT))
            reader.noteOverride(e, calendar);
    for (icalcomponent* calendar : calendars) {
        reader.enter(calendar);
        for (icalcomponent* e = icalcomponent_get_first_component(calendar, ICAL_VEVENT_COMPONENT); e;
             e = icalcomponent_get_next_component(calendar, ICAL_VEVENT_COMPONENT))
            reader.read(e, calendar);
    }
    return std::move(reader.result());
}

} // namespace ical
