#pragma once

#include "recurrence/recurrence.h"
#include "store/plan_store.h"

#include <QByteArray>
#include <QDate>

#include <optional>
#include <vector>

namespace platform {
class Database;
}

// Repeating appointments: one PLAN_SERIES record each, with its rule, and its occurrences as
// ordinary PLAN_DAT rows from today to a year ahead, so that today's list, the count, the
// reminders and the purges work on them as on any row. The span moves on at each start and day
// turn, so a series that never ends never runs out of rows.
namespace store {

// Days after today up to which occurrences are made.
constexpr int kSeriesSpanDays = 365;
// How far a series' rows may fall short of that year before they are made again: the rows of a
// week are written together, so most day turns write nothing and wait for no disk.
constexpr int kSeriesSlackDays = 7;

struct Series {
    qint64 id = 0;
    QString uid;
    recurrence::Pattern pattern;
    PLAN_REC texts;      // subject, importance, place and notice of every occurrence
    qint64 length = -1;  // seconds from a start to its end; -1: no end. Whole days: days * 86400
    bool allDay = false;
    QByteArray source{}; // the calendar it came in, for one from another program
};

// A series beginning with the typed row, repeating by rule.
Series seriesFor(const PLAN_REC& first, const QByteArray& rule);
// The row an occurrence of the series is, starting at start (local time).
PLAN_REC occurrenceRow(const Series& series, const QDateTime& start);

// Adds the series and makes its occurrences from today on; returns its id. An exception of it
// (a changed occurrence from a calendar) is given with its RECURRENCE-ID key.
qint64 addSeries(platform::Database& db, const Series& series, const QDate& today,
                 const std::vector<std::pair<QString, PLAN_REC>>& exceptions = {});
std::optional<Series> findSeries(platform::Database& db, qint64 id);
// Sets the stored series of series.id to series: its rule, dates, texts and source.
void updateSeries(platform::Database& db, const Series& series);
// The occurrence of recurrenceId as a calendar changed it: an exception of the series.
void takeException(platform::Database& db, qint64 seriesId, const QString& recurrenceId, const PLAN_REC& row);
std::vector<Series> allSeries(platform::Database& db);

// Makes the occurrences of every series up to a year from today once its rows reach less than a
// week short of that: at start-up and at each day turn. Returns the number of rows made. Within a transaction of the caller's (one commit for the
// purge and the new rows, which is most of a day turn's time) unless ownTransaction.
int extendSeries(platform::Database& db, const QDate& today, bool ownTransaction = true);
// Deletes the series that have no row left and give none from today on.
void purgeEndedSeries(platform::Database& db, const QDate& today);

// Which series a row is an occurrence of.
struct Membership {
    qint64 seriesId = 0;
    QString recurrenceId;
    bool exception = false;
};
std::optional<Membership> membershipOf(platform::Database& db, qint64 rowId);

// The three ways to change or delete an occurrence.
enum class Scope { ThisOnly, Following, All };
// The row of rowId changed to row: this one alone (an exception of the series), this and the later
// ones (the series ends before it and a new one begins with row, repeating by rule; no rule: row
// stays single), or the whole series (its texts, its times moved as this one moved, and its rule
// when one is given).
void changeOccurrence(platform::Database& db, qint64 rowId, const PLAN_REC& row, Scope scope, const QByteArray& rule,
                      const QDate& today);
// Deletes the occurrence of rowId alone (an EXDATE), with the later ones, or the whole series.
void deleteOccurrence(platform::Database& db, qint64 rowId, Scope scope, const QDate& today);

// The rows made of a series changed elsewhere (a file, a server): its future rows made again,
// exceptions made here kept where the rule still gives their date.
void remakeSeries(platform::Database& db, const Series& series, const QDate& today);

} // namespace store
