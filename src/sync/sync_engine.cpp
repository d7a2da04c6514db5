#include "sync/sync_engine.h"

#include "ical/ical_conversion.h"
#include "platform/clock.h"
#include "platform/database.h"
#include "platform/failure.h"
#include "state/text.h"
#include "store/reminder_state.h"
#include "sync/mass_deletion.h"

#include <QCryptographicHash>
#include <QUuid>

#include <algorithm>

namespace calsync {
namespace {

// Requests in flight at once: what Qt Network opens to one server in parallel.
constexpr int kParallel = 6;
// Events fetched by one calendar-multiget.
constexpr int kFetchBatch = 100;
// Results of the server's that are written to sec.mdb together: each is safe to lose (see record).
constexpr size_t kRecordBatch = 200;

// What a sync that would delete much says, and asks.
const QString kEmptied = QStringLiteral("サーバーのカレンダーが空になっています（サーバーのデータが失われたか、"
                                        "カレンダーが作り直された可能性があります）。\r");
const QString kDeletingHere = QStringLiteral("この同期で、こちらの予定 %2件のうち %1件が削除されます。");
const QString kDeletingThere = QStringLiteral("こちらで消えた予定の分、サーバーの予定 %2件のうち %1件が削除されます。");
const QString kNotAutomatically = QStringLiteral("\r自動の同期では削除しませんでした。「今すぐ同期」で確かめてください。");
const QString kAskHere = QStringLiteral("\r削除してよろしいですか？\r（「いいえ」なら何も削除せず、予定はこちらに残します。）");
const QString kAskThere = QStringLiteral("\r削除してよろしいですか？\r（「いいえ」ならサーバーの予定は消さず、"
                                         "次の同期でこちらに戻します。）");

const QString kUrlState = QStringLiteral("URL");
const QString kTokenState = QStringLiteral("TOKEN");
const QString kRowOf = store::rowColumns(QStringLiteral("p"));

using store::digest;

// An event that one row cannot stand for: a recurrence, or several events in one resource.
// Its rows are never written back to it, so the series on the server stays whole.
bool isSeries(const QByteArray& data)
{
    int events = 0;
    bool inEvent = false;
    for (const QByteArray& raw : data.split('\n')) {
        if (raw.startsWith(' ') || raw.startsWith('\t')) // a folded line goes on with its property
            continue;
        const QByteArray line = raw.trimmed().toUpper();
        if (line == "BEGIN:VEVENT") {
            inEvent = true;
            ++events;
        } else if (line == "END:VEVENT") {
            inEvent = false;
        } else if (inEvent && (line.startsWith("RRULE") || line.startsWith("RDATE") || line.startsWith("RECURRENCE-ID"))) {
            return true;
        }
    }
    return events > 1;
}

bool succeeded(const platform::HttpReply& reply)
{
    return reply.status / 100 == 2;
}

QString stateValue(platform::Database& db, const QString& name)
{
    const auto rows = db.query(QStringLiteral("SELECT VALUE FROM SYNC_STATE WHERE NAME = ?"), {name});
    return rows.empty() ? QString() : rows.front().at(0).toString();
}

void setState(platform::Database& db, const QString& name, const QString& value)
{
    db.run(QStringLiteral("INSERT OR REPLACE INTO SYNC_STATE (NAME, VALUE) VALUES (?, ?)"), {name, value});
}

void link(platform::Database& db, qint64 rowId, const QString& href, const store::PLAN_REC& rec)
{
    db.run(QStringLiteral("INSERT OR REPLACE INTO SYNC_LINK (ROW_ID, HREF, DAY, DIGEST) VALUES (?, ?, ?, ?)"),
           {rowId, href, rec.P_DATE, digest(rec)});
}

void unlink(platform::Database& db, qint64 rowId)
{
    db.run(QStringLiteral("DELETE FROM SYNC_LINK WHERE ROW_ID = ?"), {rowId});
}

void keepItem(platform::Database& db, const QString& href, const QString& uid, const QByteArray& etag, bool series)
{
    db.run(QStringLiteral("INSERT OR REPLACE INTO SYNC_ITEM (HREF, UID, ETAG, SERIES) VALUES (?, ?, ?, ?)"),
           {href, uid, QString::fromLatin1(etag), int(series)});
}

// A row here with exactly these values that stands for no event yet: the same appointment,
// made on both sides or sent before a crash let us note it.
std::optional<qint64> unlinkedTwin(platform::Database& db, const store::PLAN_REC& r)
{
    const auto rows = db.query(
        QStringLiteral("SELECT rowid FROM PLAN_DAT WHERE P_DATE = ? AND P_HOUR = ? AND P_MIN = ? AND P_DETAIL = ?"
                       " AND P_IMPORTANCE = ? AND P_PLACE = ? AND P_NOTICE = ?"
                       " AND rowid NOT IN (SELECT ROW_ID FROM SYNC_LINK) LIMIT 1"),
        {r.P_DATE, r.P_HOUR, r.P_MIN, r.P_DETAIL, int(r.P_IMPORTANCE), r.P_PLACE, r.P_NOTICE});
    return rows.empty() ? std::nullopt : std::optional<qint64>(rows.front().at(0).toLongLong());
}

// The rows linked to an event, with whether each was changed here since; rows deleted here
// are not among them.
std::vector<std::pair<store::StoredRow, bool>> linkedRows(platform::Database& db, const QString& href)
{
    std::vector<std::pair<store::StoredRow, bool>> result;
    for (const platform::Row& row : db.query(QStringLiteral("SELECT l.DIGEST, ") + kRowOf
                                                 + QStringLiteral(" FROM SYNC_LINK l JOIN PLAN_DAT p"
                                                                  " ON p.rowid = l.ROW_ID WHERE l.HREF = ?"),
                                             {href})) {
        const store::StoredRow stored = store::storedRow({row.begin() + 1, row.end()});
        result.emplace_back(stored, digest(stored.rec) != row.at(0).toString());
    }
    return result;
}

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
    t.commit();
}

bool isPrepared(platform::Database& db)
{
    return db.hasTable(QStringLiteral("SYNC_LINK"));
}

SyncEngine::SyncEngine(state::Module1& module, QObject* parent) : QObject(parent), m_module(module)
{
    // One worker is enough to keep the windows answering; results come back in order.
    m_worker.setMaxThreadCount(1);
}

bool SyncEngine::start(const Account& account, Confirm confirm)
{
    if (m_running)
        return false;
    m_running = true;
    m_account = account;
    m_confirm = std::move(confirm);
    m_emptied = false;
    m_keepRows = false;
    m_report = {};
    m_secondPass = false;
    // A sync cut short leaves nothing for the next one to take in: it asks the server again.
    m_gone.clear();
    m_fetched.clear();
    m_today = state::dateKey(platform::Clock::now().date());
    guarded([this] {
        if (!isPrepared(m_module.db()))
            throw platform::Failure(QStringLiteral("同期の準備ができていません。同期設定で保存してください"));
        request(describeCollection(m_account), [this](const platform::HttpReply& reply) { described(reply); });
    });
    return true;
}

void SyncEngine::stop()
{
    if (!m_running)
        return;
    m_http.abortAll();
    ++m_generation;
    m_queue.clear();
    m_inFlight = 0;
    m_whenDrained = {};
    try {
        flushRecords();
    } catch (...) {
        // What could not be noted is found again by the next sync.
    }
    m_records.clear();
    m_running = false;
}

void SyncEngine::request(const platform::HttpRequest& r, Handler handle)
{
    m_queue.push_back({r, std::move(handle)});
    pump();
}

void SyncEngine::afterAll(std::function<void()> next)
{
    if (m_inFlight == 0 && m_queue.empty())
        next();
    else
        m_whenDrained = std::move(next);
}

void SyncEngine::pump()
{
    while (m_running && m_inFlight < kParallel && !m_queue.empty()) {
        Job job = std::move(m_queue.front());
        m_queue.pop_front();
        ++m_inFlight;
        m_http.send(job.request, [this, handle = std::move(job.handle)](const platform::HttpReply& reply) {
            --m_inFlight;
            guarded([&] { handle(reply); });
            settle();
        });
    }
}

void SyncEngine::settle()
{
    if (!m_running)
        return;
    pump();
    if (m_inFlight == 0 && m_queue.empty() && m_whenDrained)
        guarded(std::exchange(m_whenDrained, {}));
}

// Reading a server's answer (up to the reply cap, calendar data converted with its recurrences)
// takes seconds: it runs on the worker, and what it returns runs back here. Until then it counts
// as a request in flight, so that afterAll waits for it.
void SyncEngine::offThread(std::function<std::function<void()>()> work)
{
    ++m_inFlight;
    m_worker.start([this, work = std::move(work), generation = m_generation] {
        std::function<void()> then;
        QString failure;
        try {
            then = work();
        } catch (...) {
            failure = platform::describeCurrentException();
        }
        QMetaObject::invokeMethod(
            this,
            [this, then = std::move(then), failure, generation] {
                if (generation != m_generation)
                    return;
                --m_inFlight;
                if (failure.isEmpty())
                    guarded(then);
                else
                    fail(failure);
                settle();
            },
            Qt::QueuedConnection);
    });
}

void SyncEngine::guarded(const std::function<void()>& step)
{
    try {
        step();
    } catch (...) {
        fail(platform::describeCurrentException());
    }
}

void SyncEngine::fail(const QString& description)
{
    if (!m_running)
        return;
    stop();
    QString text = description;
    if (text.endsWith(QStringLiteral("。")))
        text.chop(1);
    m_report.failure = QStringLiteral("同期できませんでした（%1）。").arg(text);
    emit finished();
}

void SyncEngine::finish()
{
    flushRecords();
    m_running = false;
    emit finished();
}

void SyncEngine::described(const platform::HttpReply& reply)
{
    if (reply.status != 207)
        return fail(problem(reply));
    offThread([this, body = reply.body, base = m_account.calendar]() -> std::function<void()> {
        auto answer = std::make_shared<const Multistatus>(readMultistatus(body, base));
        return [this, answer] { takeDescription(*answer); };
    });
}

void SyncEngine::takeDescription(const Multistatus& answer)
{
    if (answer.responses.empty() || !answer.responses.front().calendar)
        throw platform::Failure(QStringLiteral("この URL はカレンダーではありません。CalDAV のカレンダーの URL を設定してください"));
    platform::Database& db = m_module.db();
    // Another calendar: nothing that was in step with the old one says anything about it.
    if (stateValue(db, kUrlState) != m_account.calendar.toString()) {
        platform::Transaction t(db);
        for (const char* table : {"SYNC_LINK", "SYNC_ITEM", "SYNC_STATE"})
            db.run(QStringLiteral("DELETE FROM ") + QLatin1String(table));
        setState(db, kUrlState, m_account.calendar.toString());
        t.commit();
    }
    const QString token = answer.responses.front().syncToken;
    m_tokens = !token.isEmpty();
    if (m_tokens && token == stateValue(db, kTokenState))
        localPass();
    else
        listRemote();
}

void SyncEngine::listRemote()
{
    const QString token = stateValue(m_module.db(), kTokenState);
    request(m_tokens ? changesSince(m_account, token) : allEvents(m_account),
            [this](const platform::HttpReply& reply) { listed(reply); });
}

void SyncEngine::listed(const platform::HttpReply& reply)
{
    platform::Database& db = m_module.db();
    const QString token = stateValue(db, kTokenState);
    // A token the server no longer knows: start from the whole calendar.
    if (m_tokens && !token.isEmpty() && (reply.status == 403 || reply.status == 409)
        && reply.body.contains("valid-sync-token")) {
        db.run(QStringLiteral("DELETE FROM SYNC_STATE WHERE NAME = ?"), {kTokenState});
        return listRemote();
    }
    if (reply.status != 207)
        return fail(problem(reply));
    offThread([this, body = reply.body, base = m_account.calendar]() -> std::function<void()> {
        auto answer = std::make_shared<const Multistatus>(readMultistatus(body, base));
        return [this, answer] { takeListing(*answer); };
    });
}

void SyncEngine::takeListing(const Multistatus& answer)
{
    platform::Database& db = m_module.db();
    const QString token = stateValue(db, kTokenState);
    QHash<QString, QByteArray> known;
    for (const platform::Row& row : db.query(QStringLiteral("SELECT HREF, ETAG FROM SYNC_ITEM")))
        known.insert(row.at(0).toString(), row.at(1).toString().toLatin1());
    // A whole listing names every event there is: one it leaves out is gone.
    const bool whole = !m_tokens || token.isEmpty();
    QSet<QString> listed;
    QStringList wanted;
    const QString own = m_account.calendar.path(QUrl::FullyDecoded);
    for (const Response& r : answer.responses) {
        if (r.href == own || !insideCalendar(m_account, r.href))
            continue;
        listed.insert(r.href);
        if (r.status == 404)
            m_gone.insert(r.href);
        else if (r.etag.isEmpty() || !known.contains(r.href) || known.value(r.href) != r.etag)
            wanted << r.href;
    }
    m_emptied = whole && listed.isEmpty() && !known.isEmpty();
    if (whole)
        for (auto it = known.cbegin(); it != known.cend(); ++it)
            if (!listed.contains(it.key()))
                m_gone.insert(it.key());
    m_newToken = answer.syncToken;
    for (qsizetype i = 0; i < wanted.size(); i += kFetchBatch)
        request(fetch(m_account, wanted.mid(i, kFetchBatch)), [this](const platform::HttpReply& r) { fetched(r); });
    afterAll([this] { applyRemote(); });
}

void SyncEngine::fetched(const platform::HttpReply& reply)
{
    if (reply.status != 207)
        return fail(problem(reply));
    const QDate today = QDate::fromString(m_today, QStringLiteral("yyyy/MM/dd"));
    offThread([this, body = reply.body, account = m_account, today]() -> std::function<void()> {
        auto gone = std::make_shared<QStringList>();
        auto taken = std::make_shared<std::vector<std::pair<Response, std::vector<ical::ImportedRow>>>>();
        for (const Response& r : readMultistatus(body, account.calendar).responses) {
            if (!insideCalendar(account, r.href))
                continue;
            if (r.status == 404) {
                *gone << r.href;
                continue;
            }
            std::vector<ical::ImportedRow> rows;
            try {
                rows = ical::readCalendar(r.data, today).rows;
            } catch (const platform::Failure&) {
                // Not a calendar we can read: it holds no appointment for us, and is not fetched
                // again until it changes.
            }
            taken->emplace_back(r, std::move(rows));
        }
        return [this, gone, taken] {
            for (const QString& href : std::as_const(*gone))
                m_gone.insert(href);
            std::move(taken->begin(), taken->end(), std::back_inserter(m_fetched));
        };
    });
}

void SyncEngine::applyRemote()
{
    platform::Database& db = m_module.db();
    const int here = db.query(QStringLiteral("SELECT COUNT(*) FROM PLAN_DAT")).front().at(0).toInt();
    const SyncReport before = m_report;
    int deleting = 0;
    if (!takeIn(false, [&](int d) { return !massDeletion(deleting = d, here, m_emptied); })) {
        // Taken back: the server may have lost the calendar rather than the user deleted it.
        m_report = before;
        const QString what = (m_emptied ? kEmptied : QString()) + kDeletingHere.arg(deleting).arg(here);
        if (!m_confirm) {
            // Nothing is taken in, not even the token: the next sync the user starts asks.
            m_report.failure = what + kNotAutomatically;
            return finish();
        }
        const bool yes = m_confirm(what + kAskHere);
        if (!m_running)
            return;
        takeIn(!yes, [](int) { return true; });
    }
    m_gone.clear();
    m_fetched.clear();
    if (m_secondPass)
        finish();
    else
        localPass();
}

// All that the server told goes in together with its token, or nothing does and the next sync
// asks again. It goes in when acceptable agrees to the rows it deletes here; with keepRows none
// are: they stay linked to their events, so that they are neither sent again as new events nor
// doubled when the server gets the same events back.
bool SyncEngine::takeIn(bool keepRows, const std::function<bool(int deleting)>& acceptable)
{
    platform::Database& db = m_module.db();
    platform::Transaction t(db);
    m_keepRows = keepRows;
    const int deletedBefore = m_report.deleted;
    for (const QString& href : std::as_const(m_gone))
        removeItem(db, href);
    for (const auto& [item, rows] : m_fetched)
        replaceItem(db, item, rows);
    if (m_tokens)
        setState(db, kTokenState, m_newToken);
    if (!acceptable(m_report.deleted - deletedBefore))
        return false;
    t.commit();
    return true;
}

// The rows of an event are replaced as a group by the server's version: a row that matches one
// of the new rows exactly stays as it is; a row changed here since the last sync is kept apart
// (a conflict: it goes to the server as an event of its own); the others make way.
void SyncEngine::replaceItem(platform::Database& db, const Response& item, const std::vector<ical::ImportedRow>& rows)
{
    auto here = linkedRows(db, item.href);
    db.run(QStringLiteral("DELETE FROM SYNC_LINK WHERE HREF = ?"), {item.href});
    for (const ical::ImportedRow& row : rows) {
        const auto match = std::find_if(here.begin(), here.end(), [&](const auto& h) { return store::sameAppointment(h.first.rec, row.rec); });
        qint64 id = 0;
        if (match != here.end()) {
            id = match->first.id;
            here.erase(match);
        } else if (const auto twin = unlinkedTwin(db, row.rec)) {
            id = *twin;
        } else {
            // One event, one row: it keeps the event's UID and text, to be written back. An
            // instance of a series gets a UID of its own (it never goes back to the series).
            const bool single = rows.size() == 1 && !row.recurring;
            id = single ? store::insert(db, row.rec, row.uid, item.data) : store::insert(db, row.rec);
            ++m_report.received;
        }
        // The event as the server has it now, to be written back from: a change there that the
        // row does not show (an attendee more) must not be undone by the next change here.
        if (rows.size() == 1 && !row.recurring)
            db.run(QStringLiteral("UPDATE PLAN_DAT SET UID = ?, SOURCE = ? WHERE ID = ?"),
                   {row.uid, QString::fromUtf8(item.data), id});
        // An alarm the server's event has sets the reminder time; none leaves the one chosen here.
        if (row.remind)
            store::setReminderLead(db, id, row.remind);
        link(db, id, item.href, row.rec);
    }
    for (const auto& [stored, changedHere] : here) {
        if (changedHere) {
            ++m_report.conflicts;
        } else if (m_keepRows) {
            link(db, stored.id, item.href, stored.rec);
            ++m_report.spared;
        } else {
            db.run(QStringLiteral("DELETE FROM PLAN_DAT WHERE rowid = ?"), {stored.id});
            ++m_report.deleted;
        }
    }
    keepItem(db, item.href, rows.empty() ? QString() : rows.front().uid, item.etag, isSeries(item.data));
}

// An event gone from the server takes its rows here with it, except those changed here since:
// they stay, and go to the server again as events of their own.
// With m_keepRows the rows stay too, and their links with them.
void SyncEngine::removeItem(platform::Database& db, const QString& href)
{
    for (const auto& [stored, changedHere] : linkedRows(db, href)) {
        if (changedHere) {
            ++m_report.conflicts;
        } else if (m_keepRows) {
            ++m_report.spared;
        } else {
            db.run(QStringLiteral("DELETE FROM PLAN_DAT WHERE rowid = ?"), {stored.id});
            ++m_report.deleted;
        }
    }
    if (!m_keepRows)
        db.run(QStringLiteral("DELETE FROM SYNC_LINK WHERE HREF = ?"), {href});
    db.run(QStringLiteral("DELETE FROM SYNC_ITEM WHERE HREF = ?"), {href});
}

void SyncEngine::localPass()
{
    platform::Database& db = m_module.db();
    m_takenHrefs.clear();
    for (const platform::Row& row : db.query(QStringLiteral("SELECT HREF FROM SYNC_ITEM")))
        m_takenHrefs.insert(row.at(0).toString());
    struct Linked {
        store::StoredRow row;
        QString href, uid;
        QByteArray etag;
    };
    std::vector<Linked> changed, gone;
    {
        platform::Transaction t(db);
        const auto links = db.query(QStringLiteral("SELECT l.ROW_ID, l.HREF, l.DAY, l.DIGEST, i.UID, i.ETAG, i.SERIES, ")
                                    + kRowOf
                                    + QStringLiteral(" FROM SYNC_LINK l JOIN SYNC_ITEM i ON i.HREF = l.HREF"
                                                     " LEFT JOIN PLAN_DAT p ON p.rowid = l.ROW_ID"));
        for (const platform::Row& row : links) {
            const qint64 rowId = row.at(0).toLongLong();
            const bool series = row.at(6).toInt() != 0;
            Linked l{store::storedRow({row.begin() + 7, row.end()}), row.at(1).toString(), row.at(4).toString(),
                     row.at(5).toString().toLatin1()};
            if (row.at(7).isNull()) {
                // Deleted here. A row dated before today went with the purge of past rows, and an
                // instance of a series goes here only: the server keeps the event in both cases.
                if (row.at(2).toString() < m_today || series)
                    unlink(db, rowId);
                else
                    gone.push_back({{rowId, {}}, l.href, l.uid, l.etag});
            } else if (digest(l.row.rec) != row.at(3).toString()) {
                // Changed here. A changed instance of a series becomes an event of its own.
                if (series)
                    unlink(db, rowId);
                else
                    changed.push_back(l);
            }
        }
        t.commit();
    }
    if (massDeletion(int(gone.size()), int(m_takenHrefs.size()), false)) {
        const QString what = kDeletingThere.arg(gone.size()).arg(m_takenHrefs.size());
        if (!m_confirm) {
            // The links stay: the next sync the user starts asks.
            m_report.failure = what + kNotAutomatically;
            gone.clear();
        } else if (!m_confirm(what + kAskThere)) {
            if (!m_running)
                return;
            // The server's version stands: forgetting the events and the token makes the next
            // listing a whole one, which brings them back here.
            platform::Transaction t(db);
            for (const Linked& l : gone) {
                unlink(db, l.row.id);
                db.run(QStringLiteral("DELETE FROM SYNC_ITEM WHERE HREF = ?"), {l.href});
            }
            db.run(QStringLiteral("DELETE FROM SYNC_STATE WHERE NAME = ?"), {kTokenState});
            t.commit();
            m_report.sparedThere = int(gone.size());
            gone.clear();
        }
        if (!m_running)
            return;
    }
    // Rows before today are not sent: the server would hold them, and the purge would take
    // them from here.
    for (const platform::Row& row : db.query(QStringLiteral("SELECT ") + kRowOf
                                             + QStringLiteral(" FROM PLAN_DAT p WHERE p.P_DATE >= ?"
                                                              " AND p.rowid NOT IN (SELECT ROW_ID FROM SYNC_LINK)"),
                                             {m_today}))
        create(store::storedRow(row), false);
    for (const Linked& l : changed)
        change(l.row, l.href, l.uid, l.etag);
    for (const Linked& l : gone)
        remove(l.row.id, l.href, l.etag);
    afterAll([this] {
        flushRecords();
        // With sync tokens, one more listing takes in our own changes, so that the next sync
        // finds the calendar as it left it and asks for nothing.
        if (m_tokens && m_report.sent > 0 && !m_secondPass) {
            m_secondPass = true;
            listRemote();
        } else {
            finish();
        }
    });
}

std::optional<QByteArray> SyncEngine::eventBody(const store::StoredRow& row, const QString& uid)
{
    std::optional<int> remind;
    try {
        remind = store::reminderLead(m_module.db(), row.id);
    } catch (const platform::Failure&) {
        // Sent without its own alarm: the calendar's readers then remind as they would.
    }
    try {
        // An event another program wrote goes back as it was, with only what changed here replaced.
        const QByteArray source = store::sourceOf(m_module.db(), row.id);
        if (!source.isEmpty())
            return ical::keptCalendar(source, row.rec, uid, platform::Clock::now(), remind);
        return ical::calendarText(ical::eventText(row.rec, uid, platform::Clock::now(), remind));
    } catch (const platform::Failure&) {
        // A row whose date or time cannot be read stays here and is counted, not sent.
        ++m_report.unsendable;
        return std::nullopt;
    }
}

void SyncEngine::create(const store::StoredRow& row, bool freshUid)
{
    // The appointment's own UID, unless an event here has it already or the server refused it:
    // then a new one.
    QString uid = row.uid;
    if (freshUid || m_takenHrefs.contains(hrefFor(m_account, uid)))
        uid = QUuid::createUuid().toString(QUuid::WithoutBraces) + QStringLiteral("@meridocal");
    const QString href = hrefFor(m_account, uid);
    m_takenHrefs.insert(href);
    const std::optional<QByteArray> body = eventBody(row, uid);
    if (!body)
        return;
    request(put(m_account, href, *body, {}), [this, row, uid, href, freshUid](const platform::HttpReply& reply) {
        if (succeeded(reply)) {
            ++m_report.sent;
            record([=](platform::Database& db) {
                keepItem(db, href, uid, reply.etag, false);
                link(db, row.id, href, row.rec);
                // The server had its UID already: from now on it goes by the new one everywhere.
                if (uid != row.uid)
                    db.run(QStringLiteral("UPDATE PLAN_DAT SET UID = ? WHERE ID = ?"), {uid, row.id});
            });
        } else if ((reply.status == 412 || reply.status == 409) && !freshUid) {
            create(row, true);
        } else {
            fail(problem(reply));
        }
    });
}

void SyncEngine::change(const store::StoredRow& row, const QString& href, const QString& uid, const QByteArray& etag)
{
    if (!insideCalendar(m_account, href)) // noted by an older version that did not look
        return;
    const std::optional<QByteArray> body = eventBody(row, uid);
    if (!body)
        return;
    request(put(m_account, href, *body, etag), [this, row, href, body](const platform::HttpReply& reply) {
        if (succeeded(reply)) {
            ++m_report.sent;
            record([=](platform::Database& db) {
                db.run(QStringLiteral("UPDATE SYNC_ITEM SET ETAG = ? WHERE HREF = ?"), {QString::fromLatin1(reply.etag), href});
                link(db, row.id, href, row.rec);
                // What the server holds now, so the next change raises SEQUENCE again from there.
                db.run(QStringLiteral("UPDATE PLAN_DAT SET SOURCE = ? WHERE ID = ? AND SOURCE IS NOT NULL"),
                       {QString::fromUtf8(*body), row.id});
            });
        } else if (reply.status == 412 || reply.status == 404) {
            // Changed or deleted there too: the row goes its own way and is sent as a new event;
            // the server's version comes with the next listing.
            ++m_report.conflicts;
            record([id = row.id](platform::Database& db) { unlink(db, id); });
        } else {
            fail(problem(reply));
        }
    });
}

void SyncEngine::remove(qint64 rowId, const QString& href, const QByteArray& etag)
{
    if (!insideCalendar(m_account, href))
        return;
    request(calsync::remove(m_account, href, etag), [this, rowId, href](const platform::HttpReply& reply) {
        if (succeeded(reply) || reply.status == 404) {
            m_report.sent += reply.status != 404;
            record([=](platform::Database& db) {
                unlink(db, rowId);
                db.run(QStringLiteral("DELETE FROM SYNC_ITEM WHERE HREF = ?"), {href});
            });
        } else if (reply.status == 412) {
            // Changed there since: the server's version wins and comes back with the next listing.
            ++m_report.conflicts;
        } else {
            fail(problem(reply));
        }
    });
}

// A result of the server's is noted in sec.mdb a little later, with others. Losing one (a crash,
// a failed write) is safe: the next listing shows the event again, and a row here with exactly
// its values is linked to it instead of being added twice.
void SyncEngine::record(std::function<void(platform::Database&)> change)
{
    m_records.push_back(std::move(change));
    if (m_records.size() >= kRecordBatch)
        flushRecords();
}

void SyncEngine::flushRecords()
{
    if (m_records.empty())
        return;
    platform::Database& db = m_module.db();
    platform::Transaction t(db);
    for (const auto& change : m_records)
        change(db);
    t.commit();
    m_records.clear();
}

} // namespace calsync
