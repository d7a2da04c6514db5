#include "sync/series_sync.h"

#include "ical/ical_conversion.h"
#include "platform/database.h"
#include "platform/failure.h"

#include <QCryptographicHash>
#include <QSet>
#include <QTimeZone>

namespace calsync {
namespace {

std::vector<std::pair<QString, store::PLAN_REC>> exceptionsOf(platform::Database& db, qint64 seriesId)
{
    std::vector<std::pair<QString, store::PLAN_REC>> result;
    for (const platform::Row& v : db.query(QStringLiteral("SELECT ") + store::kRowColumns
                                               + QStringLiteral(", RECURRENCE_ID FROM PLAN_DAT WHERE SERIES_ID = ? AND EXCEPTION = 1"
                                                                " ORDER BY RECURRENCE_ID"),
                                           {seriesId}))
        result.emplace_back(v.back().toString(), store::storedRow(v).rec);
    return result;
}

// What was sent or taken, without the moment it was written: a change made here since shows.
QString digestOf(platform::Database& db, const store::Series& series)
{
    const QByteArray fixed = seriesResource(db, series, QDateTime(QDate(2000, 1, 1), QTime(0, 0), QTimeZone::utc()));
    return QString::fromLatin1(QCryptographicHash::hash(fixed, QCryptographicHash::Sha1).toHex());
}

} // namespace

void prepareSeriesSync(platform::Database& db)
{
    db.run(QStringLiteral("CREATE TABLE IF NOT EXISTS SYNC_SERIES (SERIES_ID INTEGER PRIMARY KEY, HREF TEXT NOT NULL UNIQUE,"
                          " ETAG TEXT NOT NULL, DIGEST TEXT NOT NULL)"));
}

QByteArray seriesResource(platform::Database& db, const store::Series& series, const QDateTime& stamp)
{
    ical::ZoneTexts zones;
    const QByteArray events = ical::seriesText(series, exceptionsOf(db, series.id), stamp, zones);
    QByteArray zoneText;
    for (const QByteArray& zone : std::as_const(zones))
        zoneText += zone;
    return ical::calendarText(zoneText + events);
}

QStringList takeSeriesOutOfListing(platform::Database& db, std::vector<Listed>& listing, bool whole)
{
    QHash<QString, QByteArray> ours;
    for (const platform::Row& v : db.query(QStringLiteral("SELECT HREF, ETAG FROM SYNC_SERIES")))
        ours.insert(v.at(0).toString(), v.at(1).toString().toLatin1());
    QStringList changed;
    QSet<QString> named;
    std::erase_if(listing, [&](const Listed& l) {
        if (!ours.contains(l.href))
            return false;
        named.insert(l.href);
        if (l.gone || l.etag != ours.value(l.href))
            changed << l.href;
        return true;
    });
    // Gone from the server (or named as gone): sent again as it is here, never deleted here by a
    // listing, which may be of a calendar that was lost.
    for (auto it = ours.cbegin(); it != ours.cend(); ++it)
        if (whole && !named.contains(it.key()))
            changed << it.key();
    return changed;
}

std::vector<SeriesPut> seriesToSend(platform::Database& db, const Account& account)
{
    QHash<qint64, std::pair<QString, std::pair<QByteArray, QString>>> sent;
    for (const platform::Row& v : db.query(QStringLiteral("SELECT SERIES_ID, HREF, ETAG, DIGEST FROM SYNC_SERIES")))
        sent.insert(v.at(0).toLongLong(), {v.at(1).toString(), {v.at(2).toString().toLatin1(), v.at(3).toString()}});
    std::vector<SeriesPut> result;
    for (const store::Series& series : store::allSeries(db)) {
        const QString digest = digestOf(db, series);
        const auto known = sent.constFind(series.id);
        if (known != sent.cend() && known->second.second == digest)
            continue;
        SeriesPut put{series.id, known != sent.cend() ? known->first : hrefFor(account, series.uid),
                      known != sent.cend() ? known->second.first : QByteArray(), {}, digest};
        put.body = seriesResource(db, series, QDateTime::currentDateTimeUtc());
        result.push_back(std::move(put));
    }
    return result;
}

void seriesSent(platform::Database& db, const SeriesPut& put, const QByteArray& etag)
{
    db.run(QStringLiteral("INSERT OR REPLACE INTO SYNC_SERIES (SERIES_ID, HREF, ETAG, DIGEST) VALUES (?, ?, ?, ?)"),
           {put.seriesId, put.href, QString::fromLatin1(etag), put.digest});
}

bool takeServerSeries(platform::Database& db, const QString& href, const QByteArray& data, const QByteArray& etag,
                      const QDate& today)
{
    const auto linked = db.query(QStringLiteral("SELECT SERIES_ID FROM SYNC_SERIES WHERE HREF = ?"), {href});
    if (linked.empty())
        return false;
    ical::ReadResult read;
    try {
        read = ical::readCalendar(data, today, true);
    } catch (const platform::Failure&) {
        return false;
    }
    if (read.series.empty())
        return false;
    store::Series series = read.series.front();
    series.id = linked.front().at(0).toLongLong();
    series.source = data;
    platform::Transaction t(db);
    store::updateSeries(db, series);
    store::remakeSeries(db, series, today);
    for (const ical::ImportedRow& row : read.rows)
        if (!row.recurrenceId.isEmpty() && row.uid == series.uid)
            store::takeException(db, series.id, row.recurrenceId, row.rec);
    db.run(QStringLiteral("UPDATE SYNC_SERIES SET ETAG = ?, DIGEST = ? WHERE SERIES_ID = ?"),
           {QString::fromLatin1(etag), digestOf(db, series), series.id});
    t.commit();
    return true;
}

bool adoptServerSeries(platform::Database& db, const QString& href, const QByteArray& data, const QByteArray& etag,
                       const QDate& today)
{
    ical::ReadResult read;
    try {
        read = ical::readCalendar(data, today, true);
    } catch (const platform::Failure&) {
        return false;
    }
    if (read.series.size() != 1)
        return false;
    store::Series series = read.series.front();
    std::vector<std::pair<QString, store::PLAN_REC>> exceptions;
    for (const ical::ImportedRow& row : read.rows) {
        if (row.recurrenceId.isEmpty() || row.uid != series.uid)
            return false; // an event of its own beside the series
        exceptions.emplace_back(row.recurrenceId, row.rec);
    }
    const auto known = db.query(QStringLiteral("SELECT ID FROM PLAN_SERIES WHERE UID = ?"), {series.uid});
    if (!known.empty()
        && !db.query(QStringLiteral("SELECT 1 FROM SYNC_SERIES WHERE SERIES_ID = ?"), {known.front().at(0)}).empty())
        return false; // already the series of another resource
    series.source = data;
    platform::Transaction t(db);
    for (const platform::Row& v : db.query(QStringLiteral("SELECT ROW_ID FROM SYNC_LINK WHERE HREF = ?"), {href}))
        store::remove(db, v.at(0).toLongLong());
    db.run(QStringLiteral("DELETE FROM SYNC_LINK WHERE HREF = ?"), {href});
    db.run(QStringLiteral("DELETE FROM SYNC_ITEM WHERE HREF = ?"), {href});
    if (known.empty()) {
        series.id = store::addSeries(db, series, today, exceptions);
    } else {
        // The same event imported from a file before: one series, not two.
        series.id = known.front().at(0).toLongLong();
        store::updateSeries(db, series);
        store::remakeSeries(db, series, today);
        for (const auto& [recurrenceId, row] : exceptions)
            store::takeException(db, series.id, recurrenceId, row);
    }
    const std::optional<store::Series> stored = store::findSeries(db, series.id);
    db.run(QStringLiteral("INSERT OR REPLACE INTO SYNC_SERIES (SERIES_ID, HREF, ETAG, DIGEST) VALUES (?, ?, ?, ?)"),
           {series.id, href, QString::fromLatin1(etag), digestOf(db, stored ? *stored : series)});
    t.commit();
    return true;
}

} // namespace calsync
