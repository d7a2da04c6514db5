#pragma once

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QTime>
#include <QTimeZone>

#include <vector>

// Repeating appointments as RFC 5545 rules: the choices the entry form offers, and the dates a
// rule gives in a span of days. No widgets, no database: the store, the entry form and the
// iCalendar conversion share it.
namespace recurrence {

// The entry form's choices, in the order it lists them.
enum class Repeat { None, Daily, Weekdays, Weekly, Biweekly, MonthlyByDate, MonthlyByWeekday, Yearly };
enum class Ending { Never, Count, Until };
constexpr int kRepeatChoices = 8;

// The captions of the choices for a series that begins on first: "毎週（水曜日）",
// "毎月（第2水曜日）", "毎月（31日）", "毎年（12月7日）"...
QStringList repeatCaptions(const QDate& first);
inline const QStringList kEndingCaptions{QStringLiteral("なし"), QStringLiteral("回数"), QStringLiteral("日付")};

// The RRULE of a choice for a series that begins on first, without "RRULE:"; empty for None.
// A day a month or a year lacks (the 31st, a fifth Wednesday, the 29th of February) is skipped,
// as RFC 5545 has it. until is the last day an occurrence may fall on.
QByteArray ruleFor(Repeat repeat, const QDate& first, Ending ending = Ending::Never, int count = 0,
                   const QDate& until = {});
// The choice a rule is, when it is one of the form's for that first day; None otherwise.
Repeat repeatOf(const QByteArray& rule, const QDate& first);

// A time on the series' own clock: the wall-clock time in its zone (or floating local time), or
// a date alone (time invalid) for whole days. Stored as "YYYYMMDDTHHMMSS" or "YYYYMMDD".
struct Wall {
    QDate date;
    QTime time;
    QString key() const;
    static Wall fromKey(const QString& key);
    friend bool operator==(const Wall&, const Wall&) = default;
};
// A comma list of keys, as the series keeps its RDATEs and EXDATEs.
std::vector<Wall> wallsOf(const QString& keys);
QString keysOf(const std::vector<Wall>& walls);

// What a series repeats by.
struct Pattern {
    Wall start;
    QString tzid;    // empty: floating, this machine's local time
    QByteArray rule; // RRULE value; empty for a series of RDATEs only
    std::vector<Wall> rdates;
    std::vector<Wall> exdates;
};

struct Occurrence {
    Wall original;   // its RECURRENCE-ID
    QDateTime start; // as this machine's local time
};

enum class Verdict {
    Usable,
    Refused, // by the second, minute or hour, or a rule that never gives a date
    Capped,  // more occurrences than a series may have: the first kMaxOccurrences count
};
// A series gives at most this many occurrences from its start, and the walk at most so many steps.
constexpr int kMaxOccurrences = 10000;

struct Expansion {
    Verdict verdict = Verdict::Usable;
    std::vector<Occurrence> occurrences; // in the span, by start, EXDATEs left out
    bool endsBefore = false;             // the rule gives nothing after the span's last day
    QDate next;                          // the day of the first occurrence after the span, when the walk saw it
};
// The occurrences whose local start falls on a day from first to last (both included).
Expansion expand(const Pattern& pattern, const QDate& first, const QDate& last);

// The zone a series' TZID names, also a fixed offset written "UTC+09:00"; invalid for none.
QTimeZone zoneOf(const QString& tzid);
// A wall-clock time of the series as this machine's local time.
QDateTime localStart(const Wall& wall, const QString& tzid);

// The rule with UNTIL set so that it gives nothing from before on (COUNT dropped): the end of
// a series that a later one takes over.
QByteArray endedBefore(const QByteArray& rule, const Wall& before);

} // namespace recurrence
