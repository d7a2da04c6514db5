#pragma once

#include "sync/sync_planner.h"

#include <QSet>
#include <QString>

namespace platform {
class Database;
}

// What sec.mdb remembers of the last sync, beside PLAN_DAT: each event seen there (SYNC_ITEM:
// href, UID, ETag, whether it is a series), each row that stands for one (SYNC_LINK: the row's
// id, href, its date and a digest of its seven values), the calendar's URL and the server's sync
// token (SYNC_STATE), and what the server refused or could not be read, told once (SYNC_REFUSED).
// All of their SQL is here, and what a sync notes in PLAN_DAT about a row's event.
namespace calsync {

// Makes the tables when they are missing; PLAN_DAT is not touched. A database without them
// works as before, with no sync.
void prepareDatabase(platform::Database& db);
bool isPrepared(platform::Database& db);

class SyncStatus {
public:
    explicit SyncStatus(platform::Database& db) : m_db(db) {}

    // What the planner starts from: the status tables, and the rows here when withRows.
    void load(PlanInput& in, bool withRows);
    int rowCount();

    QString token();
    void setToken(const QString& token);
    void forgetToken();
    // Another calendar than the one remembered: nothing that was in step with the old one says
    // anything about this one, so it all goes.
    void useCalendar(const QString& url);

    // remind: the row's own reminder time as the event now says it.
    void link(qint64 rowId, const QString& href, const store::PLAN_REC& rec, std::optional<int> remind);
    void unlink(qint64 rowId);
    void remember(const QString& href, const QString& uid, const QByteArray& etag, bool series);
    void setEtag(const QString& href, const QByteArray& etag);
    void forget(const QString& href); // the event and its links
    void forgetItem(const QString& href); // the event alone: its rows stay linked to it

    // The row stands for the event source alone, of that UID: it is written back from it.
    void takeEvent(qint64 rowId, const QString& uid, const QByteArray& source);
    // The server had the row's UID already: from now on it goes by the one it was sent under.
    void sentAs(qint64 rowId, const QString& uid);
    // What the server holds now of a row that came from another program's event, so that the
    // next change raises SEQUENCE again from there.
    void sent(qint64 rowId, const QByteArray& event);

    QSet<QString> refusedKeys();
    // Notes that the server refused something (a row's "row:ID", an event's href) for reason;
    // true when that was not noted already, so that it is told once.
    bool refused(const QString& key, const QString& reason);
    // It went through: a later refusal is told again.
    void accepted(const QString& key);

private:
    QString state(const QString& name);
    void setState(const QString& name, const QString& value);

    platform::Database& m_db;
};

} // namespace calsync
