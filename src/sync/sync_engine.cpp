#include "sync/sync_engine.h"

#include "sync/series_sync.h"

#include "ical/ical_conversion.h"
#include "platform/clock.h"
#include "platform/database.h"
#include "platform/failure.h"
#include "state/text.h"
#include "store/reminder_state.h"
#include "sync/mass_deletion.h"

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
// What one event that did not go through says, once.
const QString kRefused = QStringLiteral("%1をサーバーが受け付けませんでした（%2）。次の同期でもう一度送ります。");
const QString kUnreadable = QStringLiteral("サーバーの予定「%1」を読めませんでした（%2）。こちらの予定はそのまま残しました。");

bool ignoreTokens = false; // see setIgnoreTokensForTests

bool succeeded(const platform::HttpReply& reply)
{
    return reply.status / 100 == 2;
}

// Where a refusal is noted: the row it was about.
QString rowKey(qint64 id)
{
    return QStringLiteral("row:%1").arg(id);
}

// An appointment as the user knows it: its subject and date.
QString named(const store::PLAN_REC& rec)
{
    return QStringLiteral("予定「%1」（%2）").arg(rec.P_DETAIL.left(40), rec.P_DATE);
}

// Why an event that gave no appointment could not be read; empty when it was read and simply
// has none from today on (past, cancelled).
QString unreadable(const ical::ReadResult& read)
{
    return read.refusedRules ? QStringLiteral("繰り返しの規則を読めません")
        : read.oversized     ? QStringLiteral("予定が大きすぎます")
        : read.unusable      ? QStringLiteral("件名か開始日時が読めません")
        : read.notRead       ? QStringLiteral("読み取りが時間内に終わりませんでした")
                             : QString();
}

} // namespace

void SyncEngine::setIgnoreTokensForTests(bool ignore)
{
    ignoreTokens = ignore;
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
    m_report = {};
    m_secondPass = false;
    // A sync cut short leaves nothing for the next one to take in: it asks the server again.
    m_listed = false;
    m_listing.clear();
    m_fetched.clear();
    m_today = state::dateKey(platform::Clock::now().date());
    guarded([this] {
        if (!isPrepared(m_module.db()))
            throw platform::Failure(QStringLiteral("同期の準備ができていません。同期設定で保存してください"));
        // Adds what a sec.mdb prepared by an older version lacks.
        prepareDatabase(m_module.db());
        m_refusedKeys = SyncStatus(m_module.db()).refusedKeys();
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
    SyncStatus status(m_module.db());
    status.useCalendar(m_account.calendar.toString());
    const QString token = ignoreTokens ? QString() : answer.responses.front().syncToken;
    m_tokens = !token.isEmpty();
    if (m_tokens && token == status.token())
        planned(); // nothing changed there
    else
        listRemote();
}

void SyncEngine::listRemote()
{
    const QString token = SyncStatus(m_module.db()).token();
    request(m_tokens ? changesSince(m_account, token) : allEvents(m_account),
            [this](const platform::HttpReply& reply) { listed(reply); });
}

void SyncEngine::listed(const platform::HttpReply& reply)
{
    SyncStatus status(m_module.db());
    const QString token = status.token();
    // A token the server no longer knows: start from the whole calendar. Xandikos answers
    // such a token with 500, the others as RFC 6578 says.
    if (m_tokens && !token.isEmpty()
        && (((reply.status == 403 || reply.status == 409) && reply.body.contains("valid-sync-token")) || reply.status == 500)) {
        status.forgetToken();
        return listRemote();
    }
    if (reply.status != 207)
        return fail(problem(reply));
    // A whole listing names every event there is: one it leaves out is gone.
    const bool whole = !m_tokens || token.isEmpty();
    offThread([this, body = reply.body, account = m_account, whole]() -> std::function<void()> {
        auto answer = std::make_shared<const Multistatus>(readMultistatus(body, account.calendar));
        auto listing = std::make_shared<std::vector<Listed>>();
        const QString own = account.calendar.path(QUrl::FullyDecoded);
        for (const Response& r : answer->responses)
            if (r.href != own && insideCalendar(account, r.href))
                listing->push_back({r.href, r.etag, r.status == 404});
        return [this, answer, listing, whole] {
            m_seriesChanged = takeSeriesOutOfListing(m_module.db(), *listing, whole);
            m_listed = true;
            m_whole = whole;
            m_listing = std::move(*listing);
            m_newToken = answer->syncToken;
            m_fetched.clear();
            PlanInput in;
            in.listed = true;
            in.whole = whole;
            in.listing = m_listing;
            in.remoteOnly = true;
            SyncStatus(m_module.db()).load(in, false);
            QStringList wanted;
            for (const Action& a : plan(in).actions)
                if (a.kind == Action::Fetch)
                    wanted << a.href;
            for (qsizetype i = 0; i < wanted.size(); i += kFetchBatch)
                request(fetch(m_account, wanted.mid(i, kFetchBatch)), [this](const platform::HttpReply& r) { fetched(r); });
            afterAll([this] { planned(); });
        };
    });
}

void SyncEngine::fetched(const platform::HttpReply& reply)
{
    if (reply.status != 207)
        return fail(problem(reply));
    const QDate today = QDate::fromString(m_today, QStringLiteral("yyyy/MM/dd"));
    offThread([this, body = reply.body, account = m_account, today]() -> std::function<void()> {
        auto taken = std::make_shared<std::vector<std::pair<QString, Fetched>>>();
        // Repeating events another program put there: each becomes a series of ours when it can.
        auto repeating = std::make_shared<QHash<QString, QByteArray>>();
        for (const Response& r : readMultistatus(body, account.calendar).responses) {
            if (!insideCalendar(account, r.href))
                continue;
            Fetched f;
            f.etag = r.etag;
            f.gone = r.status == 404;
            try {
                if (!f.gone) {
                    const ical::ReadResult read = ical::readCalendar(r.data, today);
                    f.rows = read.rows;
                    f.uid = f.rows.empty() ? QString() : f.rows.front().uid;
                    f.series = isSeries(r.data);
                    if (f.series)
                        repeating->insert(r.href, r.data);
                    // One event, one row: it keeps the event's UID and text, to be written back.
                    // An instance of a series never goes back to the series.
                    if (f.rows.size() == 1 && !f.rows.front().recurring)
                        f.data = r.data;
                    if (f.rows.empty())
                        f.unreadable = unreadable(read);
                }
            } catch (const platform::Failure& e) {
                f.unreadable = e.description();
            }
            taken->emplace_back(r.href, std::move(f));
        }
        return [this, taken, repeating, today] {
            for (auto& [href, f] : *taken) {
                // Out of the plan once it is a series: the series' own sync follows it from here.
                if (repeating->contains(href) && adoptServerSeries(m_module.db(), href, repeating->value(href), f.etag, today)) {
                    std::erase_if(m_listing, [&href](const Listed& l) { return l.href == href; });
                    ++m_report.received;
                    continue;
                }
                m_fetched.insert(href, std::move(f));
            }
        };
    });
}

PlanInput SyncEngine::input()
{
    PlanInput in;
    in.calendarPath = m_account.calendar.path(QUrl::FullyDecoded);
    in.today = m_today;
    in.listed = m_listed;
    in.whole = m_whole;
    in.listing = std::move(m_listing);
    in.fetched = std::move(m_fetched);
    in.fetchDone = true;
    in.remoteOnly = m_secondPass;
    SyncStatus(m_module.db()).load(in, true);
    m_listing.clear();
    m_fetched.clear();
    return in;
}

void SyncEngine::planned()
{
    PlanInput in = input();
    Plan p = plan(in);
    // The server may have lost the calendar rather than the user deleted it.
    const int deleting = p.count(Action::DeleteHere);
    const int here = int(in.rows.size());
    if (massDeletion(deleting, here, p.emptied)) {
        const QString what = (p.emptied ? kEmptied : QString()) + kDeletingHere.arg(deleting).arg(here);
        if (!m_confirm) {
            // Nothing is taken in, not even the token: the next sync the user starts asks.
            m_report.failure = what + kNotAutomatically;
            return finish();
        }
        const bool yes = m_confirm(what + kAskHere);
        if (!m_running)
            return;
        if (!yes) {
            in.keepRows = true;
            p = plan(in);
        }
    }
    takeIn(p);
    fetchSeries([this, p] {
        if (m_secondPass)
            finish();
        else
            send(p);
    });
}

void SyncEngine::fetchSeries(std::function<void()> next)
{
    const QStringList hrefs = std::exchange(m_seriesChanged, {});
    if (!hrefs.isEmpty())
        request(fetch(m_account, hrefs), [this](const platform::HttpReply& reply) {
            if (reply.status != 207)
                return fail(problem(reply));
            platform::Database& db = m_module.db();
            const QDate today = QDate::fromString(m_today, QStringLiteral("yyyy/MM/dd"));
            for (const Response& r : readMultistatus(reply.body, m_account.calendar).responses) {
                if (!insideCalendar(m_account, r.href))
                    continue;
                if (r.status != 404 && takeServerSeries(db, r.href, r.data, r.etag, today)) {
                    ++m_report.received;
                    if (m_refusedKeys.contains(r.href))
                        SyncStatus(db).accepted(r.href);
                    continue;
                }
                // A copy there this version cannot read (another program's rule by the second) is
                // told, and the series stays here as it is, linked to it.
                QString why;
                try {
                    const ical::ReadResult read = ical::readCalendar(r.data, today);
                    why = read.rows.empty() ? unreadable(read) : QString();
                } catch (const platform::Failure& e) {
                    why = e.description();
                }
                if (r.status != 404 && !why.isEmpty()) {
                    ++m_report.refused;
                    if (SyncStatus(db).refused(r.href, why))
                        m_report.told << kUnreadable.arg(r.href.section(u'/', -1).left(60), why);
                    continue;
                }
                // Gone there, or no series any more: sent again from here.
                db.run(QStringLiteral("DELETE FROM SYNC_SERIES WHERE HREF = ?"), {r.href});
            }
        });
    afterAll(std::move(next));
}

void SyncEngine::sendSeries()
{
    for (const SeriesPut& s : seriesToSend(m_module.db(), m_account)) {
        if (!insideCalendar(m_account, s.href))
            continue;
        request(put(m_account, s.href, s.body, s.etag), [this, s](const platform::HttpReply& reply) {
            if (succeeded(reply)) {
                ++m_report.sent;
                seriesSent(m_module.db(), s, reply.etag);
            } else if (reply.status == 412 || reply.status == 409) {
                // Changed there too: the server's version comes with the next listing.
                ++m_report.conflicts;
            } else if (!refusedOne(reply, s.href, s.href.section(u'/', -1))) {
                fail(problem(reply));
            }
        });
    }
}

// All that the server told goes in together with its token, or nothing does and the next sync
// asks again.
void SyncEngine::takeIn(const Plan& plan)
{
    platform::Database& db = m_module.db();
    SyncStatus status(db);
    platform::Transaction t(db);
    for (const Action& a : plan.actions) {
        switch (a.kind) {
        case Action::Forget:
            status.forget(a.href);
            if (m_refusedKeys.contains(a.href))
                status.accepted(a.href);
            break;
        case Action::Remember:
            status.remember(a.href, a.uid, a.etag, a.series);
            if (m_refusedKeys.contains(a.href))
                status.accepted(a.href);
            break;
        case Action::Link:
            if (!a.source.isEmpty())
                status.takeEvent(a.rowId, a.uid, a.source);
            // An alarm the server's event has sets the reminder time; none leaves the one chosen here.
            if (a.remind)
                store::setReminderLead(db, a.rowId, a.remind);
            status.link(a.rowId, a.href, a.rec, store::reminderLead(db, a.rowId));
            break;
        case Action::TakeIn: {
            const qint64 id = store::insert(db, a.rec, a.source.isEmpty() ? QString() : a.uid, a.source);
            status.link(id, a.href, a.rec, a.remind);
            if (a.remind)
                store::setReminderLead(db, id, a.remind);
            ++m_report.received;
            break;
        }
        case Action::DeleteHere:
            store::remove(db, a.rowId);
            ++m_report.deleted;
            break;
        case Action::KeepBoth:
            ++m_report.conflicts;
            break;
        case Action::Spare:
            status.link(a.rowId, a.href, a.rec, a.remind);
            ++m_report.spared;
            break;
        case Action::Unreadable:
            ++m_report.refused;
            if (status.refused(a.href, a.reason))
                m_report.told << kUnreadable.arg(a.href.section(u'/', -1).left(60), a.reason);
            break;
        default:
            break;
        }
    }
    if (m_tokens && m_listed)
        status.setToken(m_newToken);
    t.commit();
    m_listed = false;
}

void SyncEngine::send(const Plan& plan)
{
    platform::Database& db = m_module.db();
    SyncStatus status(db);
    std::vector<const Action*> gone;
    {
        platform::Transaction t(db);
        for (const Action& a : plan.actions) {
            if (a.kind == Action::Unlink)
                status.unlink(a.rowId);
            else if (a.kind == Action::DeleteThere && insideCalendar(m_account, a.href)) // noted by an older version that did not look
                gone.push_back(&a);
        }
        t.commit();
    }
    if (massDeletion(int(gone.size()), plan.eventsThere, false)) {
        const QString what = kDeletingThere.arg(gone.size()).arg(plan.eventsThere);
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
            for (const Action* a : gone)
                status.forget(a->href);
            status.forgetToken();
            t.commit();
            m_report.sparedThere = int(gone.size());
            gone.clear();
        }
        if (!m_running)
            return;
    }
    for (const Action& a : plan.actions) {
        if (a.kind == Action::PutNew)
            create(a, false);
        else if (a.kind == Action::PutChanged && insideCalendar(m_account, a.href))
            change(a);
    }
    for (const Action* a : gone)
        remove(*a);
    sendSeries();
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

// A refusal of the server's that is about this one event (a 4xx other than 401, or a 5xx other
// than the server or a gateway being away): noted, told once, and the sync goes on without it.
// false for one that ends the sync.
bool SyncEngine::refusedOne(const platform::HttpReply& reply, const QString& key, const QString& what)
{
    const int s = reply.status;
    if (!reply.failure.isEmpty() || s == 401 || (s / 100 != 4 && s / 100 != 5) || s == 502 || s == 503 || s == 504)
        return false;
    ++m_report.refused;
    const QString reason = problem(reply);
    if (SyncStatus(m_module.db()).refused(key, reason))
        m_report.told << kRefused.arg(what, reason);
    return true;
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

void SyncEngine::create(const Action& a, bool freshUid)
{
    // The row's own UID, unless an event there has it already or the server refused it: then
    // one of its own.
    QString uid = a.uid;
    if (freshUid || uid.isEmpty())
        uid = QUuid::createUuid().toString(QUuid::WithoutBraces) + QStringLiteral("@meridocal");
    const QString href = hrefFor(m_account, uid);
    const std::optional<QByteArray> body = eventBody({a.rowId, a.rec}, uid);
    if (!body)
        return;
    request(put(m_account, href, *body, {}), [this, a, uid, href, freshUid](const platform::HttpReply& reply) {
        const QString key = rowKey(a.rowId);
        if (succeeded(reply)) {
            ++m_report.sent;
            record([=, accepted = m_refusedKeys.contains(key)](SyncStatus& s) {
                s.remember(href, uid, reply.etag, false);
                s.link(a.rowId, href, a.rec, a.remind);
                if (uid != a.uid)
                    s.sentAs(a.rowId, uid);
                if (accepted)
                    s.accepted(key);
            });
        } else if ((reply.status == 412 || reply.status == 409 || reply.status == 403) && !freshUid) {
            // Another event has the UID (servers answer that with any of the three).
            create(a, true);
        } else if (!refusedOne(reply, key, named(a.rec))) {
            fail(problem(reply));
        }
    });
}

void SyncEngine::change(const Action& a)
{
    const std::optional<QByteArray> body = eventBody({a.rowId, a.rec}, a.uid);
    if (!body)
        return;
    request(put(m_account, a.href, *body, a.etag), [this, a, body](const platform::HttpReply& reply) {
        const QString key = rowKey(a.rowId);
        if (succeeded(reply)) {
            ++m_report.sent;
            record([=, accepted = m_refusedKeys.contains(key)](SyncStatus& s) {
                s.setEtag(a.href, reply.etag);
                s.link(a.rowId, a.href, a.rec, a.remind);
                s.sent(a.rowId, *body);
                if (accepted)
                    s.accepted(key);
            });
        } else if (reply.status == 412 || reply.status == 404) {
            // Changed or deleted there too: the row goes its own way and is sent as a new event;
            // the server's version comes with the next listing.
            ++m_report.conflicts;
            record([id = a.rowId](SyncStatus& s) { s.unlink(id); });
        } else if (!refusedOne(reply, key, named(a.rec))) {
            fail(problem(reply));
        }
    });
}

void SyncEngine::remove(const Action& a)
{
    request(calsync::remove(m_account, a.href, a.etag), [this, a](const platform::HttpReply& reply) {
        const QString key = rowKey(a.rowId);
        if (succeeded(reply) || reply.status == 404) {
            m_report.sent += reply.status != 404;
            record([=, accepted = m_refusedKeys.contains(key)](SyncStatus& s) {
                s.unlink(a.rowId);
                s.forgetItem(a.href);
                if (accepted)
                    s.accepted(key);
            });
        } else if (reply.status == 412) {
            // Changed there since: the server's version wins and comes back with the next listing.
            ++m_report.conflicts;
        } else if (!refusedOne(reply, key, QStringLiteral("%1 の予定の削除").arg(a.day))) {
            fail(problem(reply));
        }
    });
}

// A result of the server's is noted in sec.mdb a little later, with others. Losing one (a crash,
// a failed write) is safe: the next listing shows the event again, and a row here with exactly
// its values is linked to it instead of being added twice.
void SyncEngine::record(std::function<void(SyncStatus&)> change)
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
    SyncStatus status(db);
    platform::Transaction t(db);
    for (const auto& change : m_records)
        change(status);
    t.commit();
    m_records.clear();
}

} // namespace calsync
