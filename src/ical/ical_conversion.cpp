#include "ical/ical_conversion.h"

#include "platform/database.h"
#include "platform/failure.h"
#include "state/text.h"

#include <QCryptographicHash>
#include <QHash>

#include <libical/ical.h>

#include <memory>
#include <set>

namespace ical {
namespace {

// Recurrences become appointments for this many days from today.
constexpr int kSpanDays = 366;
// A rule gives at most this many instances, so that one repeating by the second, or written to
// keep a reader busy, still ends.
constexpr int kMaxSteps = 100000;

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

// A time as this machine's local time: a time in UTC or in a zone converted, a floating time
// taken as it is, a date as 00:00 of that day. Invalid when the time cannot be read.
QDateTime localTime(const icaltimetype& t)
{
    const QDate date(t.year, t.month, t.day);
    if (t.is_date)
        return QDateTime(date, QTime(0, 0));
    if (!t.zone)
        return QDateTime(date, QTime(t.hour, t.minute, t.second));
    if (!date.isValid())
        return {};
    return QDateTime::fromSecsSinceEpoch(icaltime_as_timet_with_zone(t, t.zone));
}

// The same moment in the frame of like: its zone, floating local time, or a date.
icaltimetype inFrameOf(const QDateTime& local, const icaltimetype& like)
{
    icaltimetype t = like.zone && !like.is_date
        ? icaltime_from_timet_with_zone(local.toSecsSinceEpoch(), 0, like.zone)
        : icalTime(local.date(), like.is_date ? QTime(0, 0) : local.time(), nullptr);
    t.is_date = like.is_date;
    t.zone = like.zone;
    return t;
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
        : m_todayStart(today, QTime(0, 0)), m_windowEnd(today.addDays(kSpanDays), QTime(0, 0))
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

private:
    void expand(icalproperty* rule, const icaltimetype& start, const QDateTime& from, std::set<QDateTime>& starts);

    QDateTime m_todayStart;
    QDateTime m_windowEnd;
    QHash<QString, std::vector<QDateTime>> m_overridden;
    ReadResult m_result;
};

void Reader::expand(icalproperty* rule, const icaltimetype& start, const QDateTime& from, std::set<QDateTime>& starts)
{
    const icalrecurrencetype recurrence = icalproperty_get_rrule(rule);
    icalrecur_iterator* it = icalrecur_iterator_new(recurrence, start);
    if (!it)
        return;
    // Without COUNT the rule can start near today instead of walking from its first instance.
    if (recurrence.count == 0 && localTime(start) < from)
        icalrecur_iterator_set_start(it, inFrameOf(from, start));
    for (int step = 0; step < kMaxSteps; ++step) {
        icaltimetype t = icalrecur_iterator_next(it);
        if (icaltime_is_null_time(t))
            break;
        t.zone = start.zone;
        const QDateTime local = localTime(t);
        if (local >= m_windowEnd)
            break;
        if (local >= from)
            starts.insert(local);
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
    const QDateTime first = localTime(start);

    bool shortened = false;
    auto fit = [&shortened](const QString& text, const char* column) {
        const QString result = store::fitted(text, platform::columnSize(QLatin1String(column)));
        shortened = shortened || result.size() != text.size();
        return result;
    };
    store::PLAN_REC rec;
    rec.P_DETAIL = fit(textOf(event, ICAL_SUMMARY_PROPERTY, kExactSummary, true), "P_DETAIL");
    rec.P_PLACE = fit(textOf(event, ICAL_LOCATION_PROPERTY, kExactLocation, false), "P_PLACE");
    rec.P_NOTICE = fit(textOf(event, ICAL_DESCRIPTION_PROPERTY, kExactDescription, false), "P_NOTICE");
    rec.P_IMPORTANCE = importanceOf(event);
    if (state::trimBlanks(rec.P_DETAIL).isEmpty() || !first.isValid()) {
        ++m_result.unusable;
        return;
    }

    // Without an end a date lasts its day and a time is a moment.
    QDateTime end = start.is_date ? first.addDays(1) : first;
    if (icalproperty* p = icalcomponent_get_first_property(event, ICAL_DTEND_PROPERTY))
        end = localTime(timeOf(p, calendar));
    else if (icalproperty* p = icalcomponent_get_first_property(event, ICAL_DURATION_PROPERTY))
        end = first.addSecs(icaldurationtype_as_int(icalproperty_get_duration(p)));
    const qint64 length = end.isValid() ? std::max<qint64>(0, first.secsTo(end)) : 0;
    const QDateTime from = m_todayStart.addSecs(-length);

    std::set<QDateTime> starts{first};
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
        const QDateTime excluded = localTime(t);
        // A date excludes every instance on that day, whatever its time.
        std::erase_if(starts, [&](const QDateTime& s) { return t.is_date ? s.date() == excluded.date() : s == excluded; });
    }
    if (!icalcomponent_get_first_property(event, ICAL_RECURRENCEID_PROPERTY))
        for (const QDateTime& replaced : m_overridden.value(QString::fromUtf8(icalcomponent_get_uid(event))))
            starts.erase(replaced);

    const QString uid = QString::fromUtf8(icalcomponent_get_uid(event));
    const size_t before = m_result.rows.size();
    bool past = false;
    for (const QDateTime& s : starts) {
        if (!s.isValid() || s.date().year() > 9999 || (recurring && s >= m_windowEnd))
            continue;
        if (s < m_todayStart && s.addSecs(length) <= m_todayStart) {
            past = true;
            continue;
        }
        rec.P_DATE = state::dateKey(s.date());
        rec.P_HOUR = state::twoDigits(s.time().hour());
        // The minute stays as the calendar has it (10:20 stays 20), though the entry form offers
        // quarter hours only: a rounded time would not be the time agreed on, and a sync would
        // move the event on the server. P_MIN is two characters of text and read as text.
        rec.P_MIN = state::twoDigits(s.time().minute());
        m_result.rows.push_back({rec, uid, shortened});
    }
    if (past && m_result.rows.size() == before)
        ++m_result.past;
}

} // namespace

QString uidFor(const store::PLAN_REC& row)
{
    QCryptographicHash hash(QCryptographicHash::Sha1);
    for (const QString* text : {&row.P_DATE, &row.P_HOUR, &row.P_MIN, &row.P_DETAIL}) {
        const QByteArray utf8 = text->toUtf8();
        // The length first, so that no two different rows hash the same bytes.
        hash.addData(QByteArray::number(utf8.size()) + ':');
        hash.addData(utf8);
    }
    return QString::fromLatin1(hash.result().toHex()) + QStringLiteral("@meridocal");
}

QByteArray eventText(const store::PLAN_REC& row, const QString& uid, const QDateTime& stamp)
{
    const QDate date = QDate::fromString(row.P_DATE, QStringLiteral("yyyy/MM/dd"));
    const QTime time(row.P_HOUR.toInt(), row.P_MIN.toInt());
    if (!date.isValid() || !time.isValid() || row.P_HOUR.size() != 2 || row.P_MIN.size() != 2)
        throw platform::Failure(QStringLiteral("日付か時刻の読めない予定があります（%1 %2時%3分「%4」）。")
                                    .arg(row.P_DATE, row.P_HOUR, row.P_MIN, row.P_DETAIL));
    Component event(icalcomponent_new_vevent(), icalcomponent_free);
    icalcomponent* e = event.get();
    icalcomponent_add_property(e, icalproperty_new_uid(uid.toUtf8().constData()));
    const QDateTime utc = stamp.toUTC();
    icalcomponent_add_property(e, icalproperty_new_dtstamp(icalTime(utc.date(), utc.time(), icaltimezone_get_utc_timezone())));
    // A floating time: the appointment is at this hour wherever its reader is, as in the table.
    icalcomponent_add_property(e, icalproperty_new_dtstart(icalTime(date, time, nullptr)));
    addText(e, icalproperty_new_summary, kExactSummary, row.P_DETAIL);
    addText(e, icalproperty_new_location, kExactLocation, row.P_PLACE);
    addText(e, icalproperty_new_description, kExactDescription, row.P_NOTICE);
    icalcomponent_add_property(e, icalproperty_new_priority(row.P_IMPORTANCE == 0 ? 1 : row.P_IMPORTANCE == 1 ? 5 : 9));
    // libical folds at 75 octets, never inside a UTF-8 character, and ends lines with CRLF.
    char* text = icalcomponent_as_ical_string_r(e);
    const QByteArray result(text);
    icalmemory_free_buffer(text);
    return result;
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
    for (icalcomponent* calendar : calendars)
        for (icalcomponent* e = icalcomponent_get_first_component(calendar, ICAL_VEVENT_COMPONENT); e;
             e = icalcomponent_get_next_component(calendar, ICAL_VEVENT_COMPONENT))
            reader.read(e, calendar);
    return std::move(reader.result());
}

} // namespace ical
