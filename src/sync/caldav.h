#pragma once

#include "platform/http.h"
#include "state/module1.h"

#include <QStringList>

#include <vector>

// The few CalDAV (RFC 4791) and WebDAV sync (RFC 6578) requests the sync needs, and the
// reading of the servers' multistatus answers. No state: the engine keeps that.
namespace calsync {

// The settings of the sync. The password is never among them: it is in the keyring.
inline const state::Setting kSyncUrl{QStringLiteral("SYNC_URL"), QString()};
inline const state::Setting kSyncUser{QStringLiteral("SYNC_USER"), QString()};
inline const state::Setting kSyncAuto{QStringLiteral("SYNC_AUTO"), QStringLiteral("0")};

// Where a calendar is and who reads it.
struct Account {
    QUrl calendar; // the collection, ending in "/"
    QString user;
    QString password;
};

// The calendar's URL as typed, made a collection's (ending in "/"); invalid when it is not an
// http:// or https:// URL with a server name.
QUrl calendarUrl(const QString& typed);
// Why a typed URL cannot be used, in words for the user; empty when it can.
QString urlProblem(const QString& typed);
// The name under which the password is kept in the keyring.
QString keyringKey(const QString& user, const QUrl& calendar);

// One answer of a multistatus: a member of the collection, or the collection itself.
struct Response {
    QString href;       // the path, decoded
    int status = 0;     // of the member itself, when the server gives one (404: gone)
    QByteArray etag;
    QByteArray data;    // calendar-data
    bool calendar = false;
    QString syncToken;  // the collection's, in a PROPFIND
    QString name;       // displayname
};
struct Multistatus {
    std::vector<Response> responses;
    QString syncToken; // after a sync-collection report
};
// Throws platform::Failure when the body is not a multistatus that can be read, or declares
// entities (a DTD): nothing a CalDAV server needs, and a way to blow a few bytes up into many.
Multistatus readMultistatus(const QByteArray& body, const QUrl& base);

// The requests.
platform::HttpRequest describeCollection(const Account& account);               // PROPFIND, Depth 0
platform::HttpRequest changesSince(const Account& account, const QString& token); // sync-collection
platform::HttpRequest allEvents(const Account& account);                        // calendar-query of ETags
platform::HttpRequest fetch(const Account& account, const QStringList& hrefs);  // calendar-multiget
// A PUT that creates (etag empty: If-None-Match: *) or replaces that very version (If-Match).
platform::HttpRequest put(const Account& account, const QString& href, const QByteArray& body, const QByteArray& etag);
platform::HttpRequest remove(const Account& account, const QString& href, const QByteArray& etag);
QString hrefFor(const Account& account, const QString& uid); // the calendar's path + uid + ".ics"
// Whether an href a server named is a member of the calendar: only those are fetched, changed
// or deleted, whatever else a server lists.
bool insideCalendar(const Account& account, const QString& href);

// The server's status and text with what they mean, or why no answer came, in words for the user.
QString problem(const platform::HttpReply& reply);

} // namespace calsync
