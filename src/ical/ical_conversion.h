#pragma once

#include "store/plan_store.h"
#include "store/series_store.h"

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QMap>
#include <QString>

#include <optional>
#include <vector>

// Appointments as iCalendar (RFC 5545) text and back, through libical. No widgets and no files:
// the export and import commands and the calendar server sync share it.
namespace ical {

inline const QByteArray kProductId = QByteArrayLiteral("-//ミルドカ//MERIDOCAL 2.00//JA");

// One VEVENT for the row, from BEGIN:VEVENT to END:VEVENT, with CRLF line ends and lines folded
// at 75 octets: a floating start, a floating DTEND when it has an end, and dates (VALUE=DATE, the
// end the day after its last) when it lasts whole days. stamp is the DTSTAMP, written in UTC.
// An appointment's own reminder (remind minutes before it) is a VALARM; "no reminder" is our own
// X-MERIDOCAL-NO-ALARM:TRUE, so that it reads back as such; one that follows the settings has neither. Throws platform::Failure when the row's date or time cannot be read.
QByteArray eventText(const store::PLAN_REC& row, const QString& uid, const QDateTime& stamp,
                     std::optional<int> remind = std::nullopt);

// VTIMEZONE texts by their TZID, gathered for one file.
using ZoneTexts = QMap<QString, QByteArray>;
// The event of source (a calendar as another program wrote it) with only what the row changed
// since replaced: SUMMARY, LOCATION, DESCRIPTION and PRIORITY as typed; DTSTART moved in its own
// zone (UTC stays UTC) and DTEND with it unless the end itself changed; all-day kept as dates.
// The alarm that stands for the reminder time (the first shown or sounded before the start) is
// replaced when remind, the appointment's own lead, says otherwise; everything else (other
// alarms, attendees, the organizer, categories, X- properties...) stays as it is. A change raises
// SEQUENCE and renews DTSTAMP and LAST-MODIFIED; the UID becomes uid. The text of the VEVENT
// alone; the VTIMEZONEs it may need are added to zones.
QByteArray keptEvent(const QByteArray& source, const store::PLAN_REC& row, const QString& uid, const QDateTime& stamp,
                     ZoneTexts& zones, std::optional<int> remind = std::nullopt);
// The same event in its whole calendar, VTIMEZONEs included: a resource of a server.
QByteArray keptCalendar(const QByteArray& source, const store::PLAN_REC& row, const QString& uid, const QDateTime& stamp,
                        std::optional<int> remind = std::nullopt);

// A VCALENDAR around VEVENT texts: a whole file, or with one event one resource of a server.
QByteArray calendarText(const QByteArray& events);

// One appointment a calendar yields.
struct ImportedRow {
    store::PLAN_REC rec;
    QString uid;            // of the event it comes from; every instance of a recurrence shares it
    bool shortened = false; // a text was cut to fit its column
    bool recurring = false; // an instance of a repeating event
    // The calendar the event came in (its VTIMEZONEs and the VEVENT as written), for one that is
    // not a recurrence and was written by another program; empty otherwise.
    QByteArray source{};
    std::optional<int> remind{}; // the lead of its first alarm before the start, in minutes; -1: "no reminder"
    // For a changed occurrence of a series (an event with a RECURRENCE-ID), the start it replaces
    // on the series' clock ("YYYYMMDDTHHMMSS"); empty otherwise.
    QString recurrenceId{};
};

// What a calendar yields from a given day on; the counts are of events, not instances.
struct ReadResult {
    std::vector<ImportedRow> rows;
    // Repeating events kept whole, when asked for: their rule, dates and texts; their changed
    // occurrences are among the rows, with a recurrenceId.
    std::vector<store::Series> series;
    int shortenedSeries = 0; // of those, with a text cut to fit its column
    int past = 0;      // ended before the day
    int later = 0;     // a series that goes on, with no instance in the span
    int cancelled = 0; // STATUS:CANCELLED
    int unusable = 0;  // no subject, or no start that can be read
    // What the bounds left out or changed (see ical_bounds.h), so that a box or a sync report
    // can say so.
    int refusedRules = 0; // a rule by the second or minute, or one without any date
    int cutSeries = 0;    // a series that gave more instances than one event may have, or took too long
    int notRead = 0;      // not read at all: the read had reached its number of rows or its time
    int oversized = 0;    // larger than an event may be
    int unknownZone = 0;  // a zone neither the calendar nor the time-zone database knows: taken as local time
};

// The appointments of a calendar text (a whole file or one resource of a server) from today on:
// times in this machine's local time, recurrences expanded for 366 days from today, texts
// fitted to their columns. Throws platform::Failure when the text is not a calendar, or when
// reading it does not end within its time. Safe to call from any thread.
// With keepSeries a repeating event comes as one series instead of its occurrences' rows.
ReadResult readCalendar(const QByteArray& text, const QDate& today, bool keepSeries = false);

// One repeating appointment as events: the series' VEVENT with its RRULE, RDATEs and EXDATEs,
// then one VEVENT with a RECURRENCE-ID for each occurrence changed here (exceptions: the
// occurrence's RECURRENCE-ID key and its row). Written from the series' source when it has one,
// so that what another program wrote stays. The VTIMEZONE it needs is added to zones.
QByteArray seriesText(const store::Series& series, const std::vector<std::pair<QString, store::PLAN_REC>>& exceptions,
                      const QDateTime& stamp, ZoneTexts& zones);

} // namespace ical
