#pragma once

#include <QString>

#include <optional>

#include <vector>

namespace platform {
class Database;
}

namespace store {

// One appointment as stored in PLAN_DAT; the list window keeps its rows in this form.
struct PLAN_REC {
    QString P_DATE;
    QString P_HOUR;
    QString P_MIN;
    QString P_DETAIL;
    qint16 P_IMPORTANCE = 0;
    QString P_PLACE;
    QString P_NOTICE;

    friend bool operator==(const PLAN_REC&, const PLAN_REC&) = default;
};

// A row together with the identity the engine gives it (its rowid), for the windows and services
// that must find the same row again whatever its texts: two rows may share all their texts.
struct StoredRow {
    qint64 id = 0;
    PLAN_REC rec;
};

inline const QString kTable = QStringLiteral("PLAN_DAT");

// The statements issued against PLAN_DAT. Every value stands between single quotes with each
// of its quotes doubled, so a typed text is always a text and never part of the statement.
QString countTodaySql(const QString& today);                       // today's rows, for the count
QString purgeAtStartSql(const QString& today);                     // rows before today, at start-up
QString purgeOnDemandSql(const QString& today);                    // rows before today, on request
QString listTodaySql(const QString& today);                        // today's rows, for the list
QString deleteSql(const PLAN_REC& row);                            // one appointment and its twins
QString duplicateSql(const QString& date, const QString& trimmedDetail, const QString& hour,
                     const QString& minute);                       // the same appointment, if stored

// The number of characters of a text as the engine counts them (code points), NUL included.
qsizetype characters(const QString& text);
// The text cut to at most size characters, never inside a character.
QString fitted(const QString& text, int size);
// Throws Failure naming the first text of row that does not fit its column. The schema checks
// the same sizes, but its count stops at a NUL.
void checkFits(const PLAN_REC& row);

// Statements with bound values for the windows and services that came after the ones above.
// The seven columns, the rowid first, in the order of StoredRow.
inline const QString kRowColumns =
    QStringLiteral("rowid, P_DATE, P_HOUR, P_MIN, P_DETAIL, P_IMPORTANCE, P_PLACE, P_NOTICE");
StoredRow storedRow(const std::vector<QVariant>& values); // from a row of kRowColumns

// Whether another row than exceptId has this date, time and trimmed subject: the entry form's
// duplicate rule.
bool isDuplicate(platform::Database& db, const PLAN_REC& row, qint64 exceptId = 0);
// Adds the row after checkFits; returns its id.
qint64 insert(platform::Database& db, const PLAN_REC& row);
// Sets the row of this id to row after checkFits; false when no row has the id any more.
bool replace(platform::Database& db, qint64 id, const PLAN_REC& row);
// The row of this id as it is stored now; none when no row has the id any more.
std::optional<PLAN_REC> find(platform::Database& db, qint64 id);
// Deletes the row of this id alone, whatever rows share its texts.
void remove(platform::Database& db, qint64 id);

} // namespace store
