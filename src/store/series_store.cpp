#include "store/series_store.h"

#include "platform/database.h"
#include "platform/failure.h"
#include "state/text.h"

#include <QUuid>

#include <optional>
#include <set>

namespace store {
namespace {

using recurrence::Wall;

const QString kSeriesColumns = QStringLiteral(
    "ID, UID, DTSTART, TZID, RRULE, RDATE, EXDATE, P_DETAIL, P_IMPORTANCE, P_PLACE, P_NOTICE, LENGTH, ALL_DAY, SOURCE");

Series seriesOf(const platform::Row& v)
{
    Series s;
    s.id = v.at(0).toLongLong();
    s.uid = v.at(1).toString();
    s.pattern.start = Wall::fromKey(v.at(2).toString());
    s.pattern.tzid = v.at(3).toString();
    s.pattern.rule = v.at(4).toString().toLatin1();
    s.pattern.rdates = recurrence::wallsOf(v.at(5).toString());
    s.pattern.exdates = recurrence::wallsOf(v.at(6).toString());
    s.texts.P_DETAIL = v.at(7).toString();
    s.texts.P_IMPORTANCE = qint16(v.at(8).toInt());
    s.texts.P_PLACE = v.at(9).toString();
    s.texts.P_NOTICE = v.at(10).toString();
    s.length = v.at(11).toLongLong();
    s.allDay = v.at(12).toInt() != 0;
    s.source = v.at(13).toString().toUtf8();
    return s;
}

void save(platform::Database& db, const Series& s)
{
    db.run(QStringLiteral("UPDATE PLAN_SERIES SET DTSTART = ?, TZID = ?, RRULE = ?, RDATE = ?, EXDATE = ?, P_DETAIL = ?,"
                          " P_IMPORTANCE = ?, P_PLACE = ?, P_NOTICE = ?, LENGTH = ?, ALL_DAY = ? WHERE ID = ?"),
           {s.pattern.start.key(), s.pattern.tzid, QString::fromLatin1(s.pattern.rule), recurrence::keysOf(s.pattern.rdates),
            recurrence::keysOf(s.pattern.exdates), s.texts.P_DETAIL, int(s.texts.P_IMPORTANCE), s.texts.P_PLACE,
            s.texts.P_NOTICE, s.length, int(s.allDay), s.id});
}

void insertOccurrence(platform::Database& db, const Series& s, const PLAN_REC& r, const QString& recurrenceId, bool exception)
{
    checkFits(r);
    db.run(QStringLiteral("INSERT INTO PLAN_DAT (P_DATE, P_HOUR, P_MIN, P_IMPORTANCE, P_DETAIL, P_PLACE, P_NOTICE, END_DATE,"
                          " END_HOUR, END_MIN, ALL_DAY, UID, SERIES_ID, RECURRENCE_ID, EXCEPTION)"
                          " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
           {r.P_DATE, r.P_HOUR, r.P_MIN, int(r.P_IMPORTANCE), r.P_DETAIL, r.P_PLACE, r.P_NOTICE, r.END_DATE, r.END_HOUR,
            r.END_MIN, int(r.ALL_DAY), s.uid, s.id, recurrenceId, int(exception)});
}

// Makes the occurrences from first to last that have no row yet. The series is then noted as
// made up to the day before its next occurrence (or for good when it has none), so that a day
// turn looks only at the series that have an occurrence on the day the span reaches.
int materialise(platform::Database& db, const Series& s, const QDate& first, const QDate& last)
{
    int made = 0;
    QDate horizon = last;
    if (first <= last) {
        const recurrence::Expansion expansion = recurrence::expand(s.pattern, first, last);
        for (const recurrence::Occurrence& o : expansion.occurrences)
            if (db.query(QStringLiteral("SELECT 1 FROM PLAN_DAT WHERE SERIES_ID = ? AND RECURRENCE_ID = ?"), {s.id, o.original.key()})
                    .empty()) {
                insertOccurrence(db, s, occurrenceRow(s, o.start), o.original.key(), false);
                ++made;
            }
        if (expansion.verdict != recurrence::Verdict::Refused)
            horizon = expansion.next.isValid() ? std::max(last, expansion.next.addDays(-1)) : QDate(9999, 12, 31);
    }
    db.run(QStringLiteral("UPDATE PLAN_SERIES SET HORIZON = ? WHERE ID = ?"), {state::dateKey(horizon), s.id});
    return made;
}

Series seriesOfRow(platform::Database& db, qint64 rowId, Membership& membership)
{
    const std::optional<Membership> m = membershipOf(db, rowId);
    const std::optional<Series> s = m ? findSeries(db, m->seriesId) : std::nullopt;
    if (!s)
        throw platform::Failure(QStringLiteral("この予定の繰り返しはほかのプログラムで削除されています。"));
    membership = *m;
    return *s;
}

QDateTime startOf(const PLAN_REC& r)
{
    return QDateTime(QDate::fromString(r.P_DATE, QStringLiteral("yyyy/MM/dd")),
                     r.ALL_DAY ? QTime(0, 0) : QTime(r.P_HOUR.toInt(), r.P_MIN.toInt()));
}

// The length of the row's appointment in seconds (whole days for all-day), -1 without an end.
qint64 lengthOf(const PLAN_REC& r)
{
    const QDate first = QDate::fromString(r.P_DATE, QStringLiteral("yyyy/MM/dd"));
    if (r.ALL_DAY)
        return 86400 * (r.hasEnd() ? std::max<qint64>(1, first.daysTo(QDate::fromString(r.END_DATE, QStringLiteral("yyyy/MM/dd"))) + 1) : 1);
    if (!r.hasEnd())
        return -1;
    const QDateTime end(QDate::fromString(r.END_DATE, QStringLiteral("yyyy/MM/dd")), QTime(r.END_HOUR.toInt(), r.END_MIN.toInt()));
    return std::max<qint64>(0, startOf(r).secsTo(end));
}

void removeFrom(platform::Database& db, qint64 seriesId, const QString& recurrenceId)
{
    db.run(QStringLiteral("DELETE FROM PLAN_DAT WHERE SERIES_ID = ? AND RECURRENCE_ID >= ?"), {seriesId, recurrenceId});
}

} // namespace

Series seriesFor(const PLAN_REC& first, const QByteArray& rule)
{
    Series s;
    const QDateTime start = startOf(first);
    s.pattern.start = {start.date(), first.ALL_DAY ? QTime() : start.time()};
    s.pattern.rule = rule;
    s.texts = first;
    s.allDay = first.ALL_DAY;
    s.length = lengthOf(first);
    return s;
}

PLAN_REC occurrenceRow(const Series& s, const QDateTime& start)
{
    PLAN_REC r = s.texts;
    r.P_DATE = state::dateKey(start.date());
    r.P_HOUR = state::twoDigits(s.allDay ? 0 : start.time().hour());
    r.P_MIN = state::twoDigits(s.allDay ? 0 : start.time().minute());
    r.ALL_DAY = s.allDay;
    r.END_DATE = r.END_HOUR = r.END_MIN = QString();
    if (s.allDay) {
        r.END_DATE = state::dateKey(start.date().addDays(std::max<qint64>(1, s.length / 86400) - 1));
    } else if (s.length >= 0) {
        const QDateTime end = start.addSecs(s.length);
        r.END_DATE = state::dateKey(end.date());
        r.END_HOUR = state::twoDigits(end.time().hour());
        r.END_MIN = state::twoDigits(end.time().minute());
    }
    return r;
}

qint64 addSeries(platform::Database& db, const Series& series, const QDate& today,
                 const std::vector<std::pair<QString, PLAN_REC>>& exceptions)
{
    checkFits(series.texts);
    Series s = series;
    if (s.uid.isEmpty())
        s.uid = QUuid::createUuid().toString(QUuid::WithoutBraces);
    db.run(QStringLiteral("INSERT INTO PLAN_SERIES (UID, DTSTART, P_DETAIL, P_IMPORTANCE, P_PLACE, P_NOTICE, SOURCE)"
                          " VALUES (?, ?, '', 0, '', '', ?)"),
           {s.uid, s.pattern.start.key(), s.source.isEmpty() ? QVariant() : QVariant(QString::fromUtf8(s.source))});
    s.id = db.lastInsertRowId();
    save(db, s);
    for (const auto& [recurrenceId, row] : exceptions)
        if (row.lastDay() >= state::dateKey(today))
            insertOccurrence(db, s, row, recurrenceId, true);
    materialise(db, s, today, today.addDays(kSeriesSpanDays));
    return s.id;
}

void updateSeries(platform::Database& db, const Series& series)
{
    checkFits(series.texts);
    save(db, series);
    db.run(QStringLiteral("UPDATE PLAN_SERIES SET SOURCE = ? WHERE ID = ?"),
           {series.source.isEmpty() ? QVariant() : QVariant(QString::fromUtf8(series.source)), series.id});
}

void takeException(platform::Database& db, qint64 seriesId, const QString& recurrenceId, const PLAN_REC& row)
{
    const std::optional<Series> s = findSeries(db, seriesId);
    if (!s)
        return;
    db.run(QStringLiteral("DELETE FROM PLAN_DAT WHERE SERIES_ID = ? AND RECURRENCE_ID = ?"), {seriesId, recurrenceId});
    insertOccurrence(db, *s, row, recurrenceId, true);
}

std::optional<Series> findSeries(platform::Database& db, qint64 id)
{
    const auto rows = db.query(QStringLiteral("SELECT ") + kSeriesColumns + QStringLiteral(" FROM PLAN_SERIES WHERE ID = ?"), {id});
    if (rows.empty())
        return std::nullopt;
    return seriesOf(rows.front());
}

std::vector<Series> allSeries(platform::Database& db)
{
    std::vector<Series> result;
    for (const platform::Row& v : db.query(QStringLiteral("SELECT ") + kSeriesColumns + QStringLiteral(" FROM PLAN_SERIES ORDER BY ID")))
        result.push_back(seriesOf(v));
    return result;
}

int extendSeries(platform::Database& db, const QDate& today, bool ownTransaction)
{
    const QDate last = today.addDays(kSeriesSpanDays);
    const auto behind = db.query(QStringLiteral("SELECT ") + kSeriesColumns
                                     + QStringLiteral(", HORIZON FROM PLAN_SERIES WHERE HORIZON < ?"),
                                 {state::dateKey(last.addDays(-kSeriesSlackDays))});
    if (behind.empty())
        return 0;
    int made = 0;
    std::optional<platform::Transaction> transaction;
    if (ownTransaction)
        transaction.emplace(db);
    for (const platform::Row& v : behind) {
        const QDate horizon = QDate::fromString(v.back().toString(), QStringLiteral("yyyy/MM/dd"));
        // Rows before today are not made again: the purge took them, or the user deleted them.
        made += materialise(db, seriesOf(v), horizon.isValid() ? std::max(today, horizon.addDays(1)) : today, last);
    }
    if (transaction)
        transaction->commit();
    return made;
}

void purgeEndedSeries(platform::Database& db, const QDate& today)
{
    const auto idle = db.query(QStringLiteral("SELECT ") + kSeriesColumns
                               + QStringLiteral(" FROM PLAN_SERIES s WHERE NOT EXISTS (SELECT 1 FROM PLAN_DAT p WHERE p.SERIES_ID = s.ID)"));
    for (const platform::Row& v : idle) {
        const Series s = seriesOf(v);
        const recurrence::Expansion e = recurrence::expand(s.pattern, today, today.addDays(kSeriesSpanDays));
        if (e.occurrences.empty() && e.endsBefore)
            db.run(QStringLiteral("DELETE FROM PLAN_SERIES WHERE ID = ?"), {s.id});
    }
}

std::optional<Membership> membershipOf(platform::Database& db, qint64 rowId)
{
    const auto rows = db.query(
        QStringLiteral("SELECT SERIES_ID, RECURRENCE_ID, EXCEPTION FROM PLAN_DAT WHERE ID = ? AND SERIES_ID IS NOT NULL"), {rowId});
    if (rows.empty())
        return std::nullopt;
    return Membership{rows.front().at(0).toLongLong(), rows.front().at(1).toString(), rows.front().at(2).toInt() != 0};
}

void changeOccurrence(platform::Database& db, qint64 rowId, const PLAN_REC& row, Scope scope, const QByteArray& rule,
                      const QDate& today)
{
    platform::Transaction transaction(db);
    Membership m;
    Series s = seriesOfRow(db, rowId, m);
    const std::optional<PLAN_REC> was = find(db, rowId);
    if (!was)
        throw platform::Failure(kRowGone);
    switch (scope) {
    case Scope::ThisOnly:
        replace(db, rowId, row);
        db.run(QStringLiteral("UPDATE PLAN_DAT SET EXCEPTION = 1 WHERE ID = ?"), {rowId});
        break;
    case Scope::Following: {
        s.pattern.rule = recurrence::endedBefore(s.pattern.rule, Wall::fromKey(m.recurrenceId));
        std::erase_if(s.pattern.rdates, [&](const Wall& w) { return w.key() >= m.recurrenceId; });
        save(db, s);
        removeFrom(db, s.id, m.recurrenceId);
        if (rule.isEmpty())
            insert(db, row);
        else
            addSeries(db, seriesFor(row, rule), today);
        break;
    }
    case Scope::All: {
        // The series moves as this occurrence moved: by days and to its new time of day.
        const QDateTime before = startOf(*was), after = startOf(row);
        const qint64 days = before.date().daysTo(after.date());
        const QDate startDate = s.pattern.start.date.addDays(days);
        if (!rule.isEmpty())
            s.pattern.rule = rule;
        const bool allDay = row.ALL_DAY;
        s.pattern.start = {startDate, allDay ? QTime() : after.time()};
        if (allDay != s.allDay || days != 0 || before.time() != after.time())
            s.pattern.tzid.clear(); // the new time is this machine's: the zone it was given in is left
        s.texts = row;
        s.allDay = allDay;
        s.length = lengthOf(row);
        save(db, s);
        remakeSeries(db, s, today);
        break;
    }
    }
    transaction.commit();
}

void deleteOccurrence(platform::Database& db, qint64 rowId, Scope scope, const QDate& today)
{
    Q_UNUSED(today);
    platform::Transaction transaction(db);
    Membership m;
    Series s = seriesOfRow(db, rowId, m);
    switch (scope) {
    case Scope::ThisOnly:
        s.pattern.exdates.push_back(Wall::fromKey(m.recurrenceId));
        save(db, s);
        remove(db, rowId);
        break;
    case Scope::Following:
        s.pattern.rule = recurrence::endedBefore(s.pattern.rule, Wall::fromKey(m.recurrenceId));
        std::erase_if(s.pattern.rdates, [&](const Wall& w) { return w.key() >= m.recurrenceId; });
        save(db, s);
        removeFrom(db, s.id, m.recurrenceId);
        break;
    case Scope::All:
        db.run(QStringLiteral("DELETE FROM PLAN_DAT WHERE SERIES_ID = ?"), {s.id});
        db.run(QStringLiteral("DELETE FROM PLAN_SERIES WHERE ID = ?"), {s.id});
        break;
    }
    transaction.commit();
}

void remakeSeries(platform::Database& db, const Series& s, const QDate& today)
{
    const QDate last = today.addDays(kSeriesSpanDays);
    const recurrence::Expansion e = recurrence::expand(s.pattern, today, last);
    std::set<QString> given;
    for (const recurrence::Occurrence& o : e.occurrences)
        given.insert(o.original.key());
    db.run(QStringLiteral("DELETE FROM PLAN_DAT WHERE SERIES_ID = ? AND EXCEPTION = 0 AND P_DATE >= ?"),
           {s.id, state::dateKey(today)});
    for (const platform::Row& v : db.query(QStringLiteral("SELECT ID, RECURRENCE_ID FROM PLAN_DAT WHERE SERIES_ID = ?"
                                                          " AND EXCEPTION = 1 AND P_DATE >= ?"),
                                           {s.id, state::dateKey(today)}))
        if (!given.count(v.at(1).toString()))
            remove(db, v.at(0).toLongLong());
    materialise(db, s, today, last);
}

} // namespace store
