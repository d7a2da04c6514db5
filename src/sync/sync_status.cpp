#include "sync/sync_status.h"

#include "sync/series_sync.h"

#include "platform/database.h"

namespace calsync {
namespace {

const QString kUrlState = QStringLiteral("URL");
const QString kTokenState = QStringLiteral("TOKEN");

} // namespace

void prepareDatabase(platform::Database& db)
{
    platform::Transaction t(db);
    db.run(QStringLiteral("CREATE TABLE IF NOT EXISTS SYNC_ITEM (HREF TEXT PRIMARY KEY, UID TEXT NOT NULL,"
                          " ETAG TEXT NOT NULL, SERIES INTEGER NOT NULL)"));
    db.run(QStringLiteral("CREATE TABLE IF NOT EXISTS SYNC_LINK (ROW_ID INTEGER PRIMARY KEY, HREF TEXT NOT NULL,"
                          " DAY TEXT NOT NULL, DIGEST TEXT NOT NULL)"));
    db.run(QStringLiteral("CREATE INDEX IF NOT EXISTS SYNC_LINK_HREF ON SYNC_LINK (HREF)"));
    db.run(QStringLiteral("CREATE TABLE IF NOT EXISTS SYNC_STATE (NAME TEXT PRIMARY KEY, VALUE TEXT NOT NULL)"));
    db.run(QStringLiteral("CREATE TABLE IF NOT EXISTS SYNC_REFUSED (KEY TEXT PRIMARY KEY, REASON TEXT NOT NULL)"));
    prepareSeriesSync(db);
    t.commit();
}

bool isPrepared(platform::Database& db)
{
    return db.hasTable(QStringLiteral("SYNC_LINK"));
}

void SyncStatus::load(PlanInput& in, bool withRows)
{
    for (const platform::Row& row : m_db.query(QStringLiteral("SELECT HREF, UID, ETAG, SERIES FROM SYNC_ITEM")))
        in.items.insert(row.at(0).toString(),
                        {row.at(1).toString(), row.at(2).toString().toLatin1(), row.at(3).toInt() != 0});
    for (const platform::Row& row : m_db.query(QStringLiteral("SELECT ROW_ID, HREF, DAY, DIGEST FROM SYNC_LINK")))
        in.links.insert(row.at(0).toLongLong(), {row.at(1).toString(), row.at(2).toString(), row.at(3).toString()});
    if (!withRows)
        return;
    for (const platform::Row& row : m_db.query(QStringLiteral("SELECT ") + store::kRowColumns
                                               // An occurrence of a series is never an event of its own.
                                               + QStringLiteral(", P_REMIND FROM PLAN_DAT WHERE SERIES_ID IS NULL ORDER BY ID"))) {
        store::StoredRow stored = store::storedRow(row);
        const QVariant& lead = row.back();
        in.rows.push_back({stored.id, std::move(stored.uid), std::move(stored.rec),
                           lead.isNull() ? std::nullopt : std::optional(lead.toInt())});
    }
}

int SyncStatus::rowCount()
{
    return m_db.query(QStringLiteral("SELECT COUNT(*) FROM PLAN_DAT")).front().at(0).toInt();
}

QString SyncStatus::state(const QString& name)
{
    const auto rows = m_db.query(QStringLiteral("SELECT VALUE FROM SYNC_STATE WHERE NAME = ?"), {name});
    return rows.empty() ? QString() : rows.front().at(0).toString();
}

void SyncStatus::setState(const QString& name, const QString& value)
{
    m_db.run(QStringLiteral("INSERT OR REPLACE INTO SYNC_STATE (NAME, VALUE) VALUES (?, ?)"), {name, value});
}

QString SyncStatus::token()
{
    return state(kTokenState);
}

void SyncStatus::setToken(const QString& token)
{
    setState(kTokenState, token);
}

void SyncStatus::forgetToken()
{
    m_db.run(QStringLiteral("DELETE FROM SYNC_STATE WHERE NAME = ?"), {kTokenState});
}

void SyncStatus::useCalendar(const QString& url)
{
    if (state(kUrlState) == url)
        return;
    platform::Transaction t(m_db);
    for (const char* table : {"SYNC_LINK", "SYNC_ITEM", "SYNC_STATE", "SYNC_REFUSED", "SYNC_SERIES"})
        m_db.run(QStringLiteral("DELETE FROM ") + QLatin1String(table));
    setState(kUrlState, url);
    t.commit();
}

void SyncStatus::link(qint64 rowId, const QString& href, const store::PLAN_REC& rec, std::optional<int> remind)
{
    m_db.run(QStringLiteral("INSERT OR REPLACE INTO SYNC_LINK (ROW_ID, HREF, DAY, DIGEST) VALUES (?, ?, ?, ?)"),
             {rowId, href, rec.lastDay(), store::digest(rec, remind)});
}

void SyncStatus::unlink(qint64 rowId)
{
    m_db.run(QStringLiteral("DELETE FROM SYNC_LINK WHERE ROW_ID = ?"), {rowId});
}

void SyncStatus::remember(const QString& href, const QString& uid, const QByteArray& etag, bool series)
{
    m_db.run(QStringLiteral("INSERT OR REPLACE INTO SYNC_ITEM (HREF, UID, ETAG, SERIES) VALUES (?, ?, ?, ?)"),
             {href, uid, QString::fromLatin1(etag), int(series)});
}

void SyncStatus::setEtag(const QString& href, const QByteArray& etag)
{
    m_db.run(QStringLiteral("UPDATE SYNC_ITEM SET ETAG = ? WHERE HREF = ?"), {QString::fromLatin1(etag), href});
}

void SyncStatus::forget(const QString& href)
{
    m_db.run(QStringLiteral("DELETE FROM SYNC_LINK WHERE HREF = ?"), {href});
    forgetItem(href);
}

void SyncStatus::forgetItem(const QString& href)
{
    m_db.run(QStringLiteral("DELETE FROM SYNC_ITEM WHERE HREF = ?"), {href});
}

void SyncStatus::takeEvent(qint64 rowId, const QString& uid, const QByteArray& source)
{
    m_db.run(QStringLiteral("UPDATE PLAN_DAT SET UID = ?, SOURCE = ? WHERE ID = ?"), {uid, QString::fromUtf8(source), rowId});
}

void SyncStatus::sentAs(qint64 rowId, const QString& uid)
{
    m_db.run(QStringLiteral("UPDATE PLAN_DAT SET UID = ? WHERE ID = ?"), {uid, rowId});
}

void SyncStatus::sent(qint64 rowId, const QByteArray& event)
{
    m_db.run(QStringLiteral("UPDATE PLAN_DAT SET SOURCE = ? WHERE ID = ? AND SOURCE IS NOT NULL"),
             {QString::fromUtf8(event), rowId});
}

QSet<QString> SyncStatus::refusedKeys()
{
    QSet<QString> keys;
    for (const platform::Row& row : m_db.query(QStringLiteral("SELECT KEY FROM SYNC_REFUSED")))
        keys.insert(row.at(0).toString());
    return keys;
}

bool SyncStatus::refused(const QString& key, const QString& reason)
{
    const bool known = !m_db.query(QStringLiteral("SELECT 1 FROM SYNC_REFUSED WHERE KEY = ?"), {key}).empty();
    m_db.run(QStringLiteral("INSERT OR REPLACE INTO SYNC_REFUSED (KEY, REASON) VALUES (?, ?)"), {key, reason});
    return !known;
}

void SyncStatus::accepted(const QString& key)
{
    m_db.run(QStringLiteral("DELETE FROM SYNC_REFUSED WHERE KEY = ?"), {key});
}

} // namespace calsync
