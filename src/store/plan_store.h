#pragma once

#include <QString>

#include <optional>

#include <vector>

namespace platform {
class Database;
}

namespace store {

// One appointment as stored in PLAN_DAT; the list window keeps its rows in this form. The
// first seven are the original columns; the end is optional (empty texts: none).
struct PLAN_REC {
    QString P_DATE;
    QString P_HOUR;
    QString P_MIN;
    QString P_DETAIL;
    qint16 P_IMPORTANCE = 0;
    QString P_PLACE;
    QString P_NOTICE;
    QString END_DATE{}; // "YYYY/MM/DD", the day it ends; an all-day appointment's last day
    QString END_HOUR{};
    QString END_MIN{};
    bool ALL_DAY = false;

    bool hasEnd() const { return !END_DATE.isEmpty(); }
    // The day it ends, its own day when it has no end.
    QString lastDay() const { return END_DATE.isEmpty() ? P_DATE : END_DATE; }
};

// The one equality of two appointments: every value the user sees.
bool sameAppointment(const PLAN_REC& a, const PLAN_REC& b);
// A digest of those values, to notice a change made since it was taken. An appointment without
// an end hashes as it did before the end existed, so digests kept by an earlier version still hold.
QString digest(const PLAN_REC& row);
// The same with the appointment's own reminder time, so that a change of it alone is noticed; one
// that follows the settings hashes as above, as digests kept before the reminder time existed.
QString digest(const PLAN_REC& row, std::optional<int> remind);
// The UID the iCalendar export gave an appointment before each kept one of its own (from its
// date, time and subject): an older row takes it, so a calendar that read it once keeps one copy.
QString firstUid(const PLAN_REC& row);

// The time as the lists show it: "10時00分", "10時00分〜11時30分", with the end's date when it
// ends on a later day ("10時00分〜2000/04/16 11時30分"), or "終日".
QString timeSpanCaption(const PLAN_REC& row);

// A row together with its identity: the id the engine never gives again and the UID made once,
// for the windows and services that must find the same row again whatever its texts.
struct StoredRow {
    qint64 id = 0;
    PLAN_REC rec;
    QString uid{};
    qint64 seriesId = 0; // the repeating appointment it is an occurrence of; 0 for none
};

// The mark the lists put after the time of an occurrence of a repeating appointment.
inline const QString kSeriesMark = QStringLiteral("（繰り返し）");

// Why a change of a row cannot be made: another program deleted it meanwhile.
inline const QString kRowGone = QStringLiteral("この予定はほかのプログラムで削除されたため、変更できません。");
inline const QString kTable = QStringLiteral("PLAN_DAT");

// The statements issued against PLAN_DAT. Every value stands between single quotes with each
// of its quotes doubled, so a typed text is always a text and never part of the statement.
// Today's rows are those of today and those of earlier days that go on today; the purges take
// only the rows that ended before today.
QString countTodaySql(const QString& today);                       // today's rows, for the count
QString purgeAtStartSql(const QString& today);                     // rows ended before today, at start-up
QString purgeOnDemandSql(const QString& today);                    // rows ended before today, on request
QString listTodaySql(const QString& today);                        // today's rows, for the list
QString duplicateSql(const QString& date, const QString& trimmedDetail, const QString& hour,
                     const QString& minute);                       // the same appointment, if stored

// The number of characters of a text as the engine counts them (code points), NUL included.
qsizetype characters(const QString& text);
// The text cut to at most size characters, never inside a character.
QString fitted(const QString& text, int size);
// The size of a text column of PLAN_DAT in characters, and the description of a text refused
// for exceeding it.
int columnSize(const QString& column);
QString tooLongDescription(const QString& column);
// Throws Failure naming the first text of row that does not fit its column. The schema checks
// the same sizes, but its count stops at a NUL.
void checkFits(const PLAN_REC& row);

// Statements with bound values for the windows and services that came after the ones above.
// The columns of a StoredRow, the id first, in its order.
inline const QString kRowColumns = QStringLiteral(
    "ID, P_DATE, P_HOUR, P_MIN, P_DETAIL, P_IMPORTANCE, P_PLACE, P_NOTICE, END_DATE, END_HOUR, END_MIN, ALL_DAY, UID, SERIES_ID");
// The same with a table's alias before each.
QString rowColumns(const QString& alias);
StoredRow storedRow(const std::vector<QVariant>& values); // from a row of kRowColumns

// Whether another row than exceptId has this date, time and trimmed subject: the entry form's
// duplicate rule.
bool isDuplicate(platform::Database& db, const PLAN_REC& row, qint64 exceptId = 0);
// Adds the row after checkFits; returns its id. With a uid (a calendar's) the row keeps it,
// otherwise it gets a new one; source is the calendar text it came in, if any.
qint64 insert(platform::Database& db, const PLAN_REC& row, const QString& uid = {}, const QByteArray& source = {});
// Sets the row of this id to row after checkFits; false when no row has the id any more. The
// UID and the source text stay: the source is rewritten from them when the row is sent.
bool replace(platform::Database& db, qint64 id, const PLAN_REC& row);
// The row of this id as it is stored now; none when no row has the id any more.
std::optional<PLAN_REC> find(platform::Database& db, qint64 id);
// Deletes the row of this id alone, whatever rows share its texts.
void remove(platform::Database& db, qint64 id);
// The calendar text the row of this id came in; empty for one typed here.
QByteArray sourceOf(platform::Database& db, qint64 id);

} // namespace store
