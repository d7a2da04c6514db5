#pragma once

#include <QByteArray>

#include <libical/ical.h>

#include <vector>

// What keeps a calendar from outside within bounds before libical sees it: the file cut into its
// events, so that memory follows the largest event rather than the whole file, and the rules
// checked before an iterator runs, because libical's iterator can spin inside one call for
// centuries of seconds on a rule that has no date.
namespace ical {

// One read (a file, or one resource of a server) gives at most this many appointments.
constexpr size_t kMaxRowsPerRead = 100000;
// An event, or the calendar's time zones together, larger than this is not parsed: libical
// needs some fifty times the text, and no appointment needs more than a few kilobytes.
constexpr qsizetype kMaxEventBytes = 1024 * 1024;
constexpr qsizetype kMaxZoneBytes = 1024 * 1024;
// A time-zone part with more dates than this is not a real zone.
constexpr int kMaxZoneDates = 1000;

enum class RuleVerdict {
    Usable,
    TooFine, // by the second or the minute, or by the hour with parts that can make it search for ever
    NoDate,  // no day of any year matches it (the 30th of February)
};

// Whether a rule can be followed safely. startHour is the hour of the first instance.
RuleVerdict checkRule(const icalrecurrencetype& rule, int startHour);

// Whether a VTIMEZONE's parts change by the year at most and list few dates; libical expands
// every change up to the year asked for and keeps them all.
bool zoneIsBounded(icalcomponent* zone);

// One VCALENDAR of the text: its properties and time zones as a calendar text of their own, and
// where its events are (byte ranges of the text, BEGIN:VEVENT to END:VEVENT).
struct CalendarPieces {
    QByteArray frame;
    struct Range {
        qsizetype begin;
        qsizetype end;
    };
    std::vector<Range> events;
};

// The calendars of a text, with everything but the events and the zones left out. Throws
// platform::Failure saying in plain words what is wrong, with the line where it is.
std::vector<CalendarPieces> splitCalendars(const QByteArray& text);

} // namespace ical
