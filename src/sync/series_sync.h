#pragma once

#include "store/series_store.h"
#include "sync/caldav.h"
#include "sync/sync_planner.h"

#include <QByteArray>
#include <QDate>
#include <QHash>
#include <QString>

#include <vector>

namespace platform {
class Database;
}

// Repeating appointments on a calendar server, beside the planned sync of single events: each
// series is one resource holding its rule, its exclusions and its changed occurrences. It is
// never sent as events of its own rows, and the planner never sees its resource.
namespace calsync {

void prepareSeriesSync(platform::Database& db);

// The series of ours that the listing names, taken out of it: those whose copy changed there are
// returned (by href) to be fetched; the rest is the listing the planner gets.
QStringList takeSeriesOutOfListing(platform::Database& db, std::vector<Listed>& listing, bool whole);

// One series as one resource body, stamped as given.
QByteArray seriesResource(platform::Database& db, const store::Series& series, const QDateTime& stamp);

// What is to be sent: a series made here (no href yet), one changed here since it was sent.
struct SeriesPut {
    qint64 seriesId = 0;
    QString href;
    QByteArray etag; // empty for a new resource
    QByteArray body;
    QString digest;
};
std::vector<SeriesPut> seriesToSend(platform::Database& db, const Account& account);
void seriesSent(platform::Database& db, const SeriesPut& put, const QByteArray& etag);

// The server's copy of a series of ours (a calendar text): its rule and texts are taken, its rows
// from today made again, keeping the occurrences changed here where the rule still gives them; the
// occurrences changed there become its exceptions. False when the text holds no series.
bool takeServerSeries(platform::Database& db, const QString& href, const QByteArray& data, const QByteArray& etag,
                      const QDate& today);

// A repeating event another program put on the server, taken in as a series of ours linked to its
// resource, so that changes here go back inside it as they do for a series made here. Rows an
// older version made of it (its occurrences, each linked to the resource) make way for the
// series' own; nothing is sent for it. False, with nothing changed, when the text is not one
// series with its changed occurrences (several events keep the old way).
bool adoptServerSeries(platform::Database& db, const QString& href, const QByteArray& data, const QByteArray& etag,
                       const QDate& today);

} // namespace calsync
