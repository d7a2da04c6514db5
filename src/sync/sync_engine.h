#pragma once

#include "ical/ical_conversion.h"
#include "sync/caldav.h"
#include "store/plan_store.h"
#include "sync/sync_status.h"

#include <QObject>
#include <QSet>
#include <QThreadPool>

#include <deque>
#include <functional>
#include <optional>
#include <vector>

// Two-way sync of PLAN_DAT with a CalDAV calendar. What sec.mdb remembers of the last sync
// (sync_status.h) and what each side holds now make a plan (sync_planner.h); the engine carries
// it out over the network, so that a sync cut short at any point, by a crash or a dropped
// connection, neither loses nor doubles an appointment: the next one finds where it stopped.
namespace calsync {

struct SyncReport {
    int sent = 0;      // events created, changed or deleted on the server
    int received = 0;  // appointments added here from the server
    int deleted = 0;   // appointments deleted here because the server's event changed or went
    int conflicts = 0; // changed on both sides: both versions kept
    int unsendable = 0; // rows whose date or time cannot be read, left here
    int spared = 0;      // appointments here the server would have taken all at once: kept
    int sparedThere = 0; // events on the server whose rows went here all at once: kept there
    int refused = 0;     // events the server refused or we cannot read: tried again next time
    QStringList told;    // of those, the ones not told before, each by its subject and date and why
    QString failure;   // why the sync ended early, in words for the user; empty when it went through
};

class SyncEngine : public QObject {
    Q_OBJECT
public:
    explicit SyncEngine(state::Module1& module, QObject* parent = nullptr);

    // Asks the user whether a sync may delete that much (see massDeletion); true deletes.
    using Confirm = std::function<bool(const QString& question)>;

    // Starts a sync and reports its end with finished(); false when one is running already.
    // Without confirm (an automatic sync) a mass deletion is never made, and the report says so.
    bool start(const Account& account, Confirm confirm = {});
    // Ends a running sync at once, keeping what the server has confirmed; finished() does not come.
    void stop();
    bool isRunning() const { return m_running; }
    // The listing without sync tokens (calendar-query), also where the server offers them: for
    // the tests, which have no server without them.
    static void setIgnoreTokensForTests(bool ignore);
    const SyncReport& report() const { return m_report; }

signals:
    void finished();

private:
    using Handler = std::function<void(const platform::HttpReply&)>;
    struct Job {
        platform::HttpRequest request;
        Handler handle;
    };

    void request(const platform::HttpRequest& r, Handler handle);
    void afterAll(std::function<void()> next);
    void pump();
    void settle();
    void offThread(std::function<std::function<void()>()> work);
    void guarded(const std::function<void()>& step);
    void fail(const QString& description);
    void finish();

    void described(const platform::HttpReply& reply);
    void takeDescription(const Multistatus& answer);
    void listRemote();
    void listed(const platform::HttpReply& reply);
    void fetched(const platform::HttpReply& reply);
    void planned();
    PlanInput input();
    void takeIn(const Plan& plan);
    // Repeating appointments, each one resource beside the planned events (see series_sync.h).
    void fetchSeries(std::function<void()> next);
    void sendSeries();
    void send(const Plan& plan);
    void create(const Action& a, bool freshUid);
    void change(const Action& a);
    void remove(const Action& a);
    bool refusedOne(const platform::HttpReply& reply, const QString& key, const QString& what);
    std::optional<QByteArray> eventBody(const store::StoredRow& row, const QString& uid);
    void record(std::function<void(SyncStatus&)> change);
    void flushRecords();

    state::Module1& m_module;
    platform::Http m_http;
    Account m_account;
    Confirm m_confirm;
    SyncReport m_report;
    bool m_running = false;
    QString m_today;
    bool m_tokens = false;     // the server keeps sync tokens
    bool m_secondPass = false; // listing again to take in our own changes
    bool m_listed = false;     // the server was asked what changed
    bool m_whole = false;
    QString m_newToken;
    std::vector<Listed> m_listing;
    QHash<QString, Fetched> m_fetched;
    QStringList m_seriesChanged; // series of ours whose copy on the server changed or went
    QSet<QString> m_refusedKeys; // noted as refused before this sync
    std::deque<Job> m_queue;
    int m_inFlight = 0;
    std::function<void()> m_whenDrained;
    std::vector<std::function<void(SyncStatus&)>> m_records;
    int m_generation = 0; // a stopped sync's work still in the worker is dropped when it ends
    // Last, so that it is gone first: its destructor waits for the work in flight.
    QThreadPool m_worker;
};

} // namespace calsync
