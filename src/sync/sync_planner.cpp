#include "sync/sync_planner.h"

#include <QSet>

#include <algorithm>

namespace calsync {
namespace {

using store::digest;

// The status as the plan goes: what the actions planned so far leave in sec.mdb and PLAN_DAT.
class Planner {
public:
    explicit Planner(const PlanInput& in) : m_in(in), m_items(in.items), m_links(in.links)
    {
        for (const LocalRow& row : in.rows) {
            m_rows.insert(row.id, &row);
            if (!m_links.contains(row.id))
                m_twins[digest(row.rec)].push_back(&row);
        }
        QList<qint64> ids = m_links.keys();
        std::sort(ids.begin(), ids.end()); // the order of a hash is not the same from one run to the next
        for (const qint64 id : std::as_const(ids))
            m_linked[m_links.value(id).href].push_back(id);
    }

    Plan run()
    {
        QStringList changed, gone;
        if (m_in.listed)
            list(changed, gone);
        for (const QString& href : std::as_const(changed))
            if (!m_in.fetched.contains(href) && !m_in.fetchDone)
                add({Action::Fetch, href});
        if (!m_plan.actions.empty())
            return std::move(m_plan);
        for (const QString& href : std::as_const(gone))
            takeIn(href, nullptr);
        for (const QString& href : std::as_const(changed))
            if (const auto f = m_in.fetched.constFind(href); f != m_in.fetched.cend())
                takeIn(href, f->gone ? nullptr : &*f);
        m_plan.eventsThere = int(m_items.size());
        if (!m_in.remoteOnly)
            send();
        return std::move(m_plan);
    }

private:
    void add(Action a) { m_plan.actions.push_back(std::move(a)); }

    // Which events changed there and which went.
    void list(QStringList& changed, QStringList& gone)
    {
        QSet<QString> listed;
        for (const Listed& l : m_in.listing) {
            listed.insert(l.href);
            const auto known = m_in.items.constFind(l.href);
            if (l.gone) {
                if (known != m_in.items.cend())
                    gone << l.href;
            } else if (l.etag.isEmpty() || known == m_in.items.cend() || known->etag != l.etag) {
                changed << l.href;
            }
        }
        m_plan.emptied = m_in.whole && listed.isEmpty() && !m_in.items.isEmpty();
        if (m_in.whole)
            for (auto it = m_in.items.cbegin(); it != m_in.items.cend(); ++it)
                if (!listed.contains(it.key()))
                    gone << it.key();
        gone.sort(); // the order of a hash is not the same from one run to the next
    }

    // The rows of an event are replaced as a group by the server's version (none when it went):
    // a row that matches one of the new rows exactly stays as it is, and so does a row here that
    // stands for no event yet and has exactly its values (made on both sides, or sent before a
    // crash let us note it); a row changed here since the last sync is kept apart (a conflict:
    // it goes to the server as an event of its own); the others make way.
    void takeIn(const QString& href, const Fetched* event)
    {
        if (event && !event->unreadable.isEmpty()) {
            // What cannot be read says nothing about the rows here: they stay linked, and the
            // ETag remembered stays the old one, so a change here meets the server's version.
            Action a{Action::Unreadable, href};
            a.reason = event->unreadable;
            add(std::move(a));
            return;
        }
        std::vector<std::pair<const LocalRow*, bool>> here; // with whether it was changed here
        for (const qint64 id : m_linked.take(href)) {
            const KnownLink link = m_links.take(id);
            if (const LocalRow* row = m_rows.value(id))
                here.emplace_back(row, digest(row->rec, leadOf(row)) != link.digest);
        }
        add({Action::Forget, href});
        m_items.remove(href);
        for (const ical::ImportedRow& row : event ? event->rows : std::vector<ical::ImportedRow>{}) {
            const auto match = std::find_if(here.begin(), here.end(), [&](const auto& h) { return store::sameAppointment(h.first->rec, row.rec); });
            QList<const LocalRow*>& twins = m_twins[digest(row.rec)];
            if (match != here.end()) {
                link(*match->first, href, row, event->data);
                here.erase(match);
            } else if (!twins.isEmpty()) {
                link(*twins.takeFirst(), href, row, event->data);
            } else {
                Action a{Action::TakeIn, href, 0, {}, row.uid, row.rec};
                a.source = event->data;
                a.remind = row.remind;
                add(std::move(a));
            }
        }
        for (const auto& [row, changedHere] : here) {
            if (changedHere) {
                add({Action::KeepBoth, href, row->id});
            } else if (m_in.keepRows) {
                Action a{Action::Spare, href, row->id, {}, {}, row->rec};
                a.remind = leadOf(row);
                add(std::move(a));
                m_links.insert(row->id, {href, row->rec.lastDay(), digest(row->rec, leadOf(row))});
            } else {
                add({Action::DeleteHere, href, row->id});
                m_rows.remove(row->id);
            }
        }
        if (event) {
            add({Action::Remember, href, 0, event->etag, event->uid, {}, event->series});
            m_items.insert(href, {event->uid, event->etag, event->series});
        }
    }

    // With source (the event when one row stands for it) the row takes the event's UID and
    // text, so that a change there the row does not show (an attendee more) is not undone by
    // the next change here.
    // The event's alarm sets the row's reminder time; an event without one leaves the row's.
    void link(const LocalRow& here, const QString& href, const ical::ImportedRow& row, const QByteArray& source)
    {
        Action a{Action::Link, href, here.id, {}, row.uid, row.rec};
        a.source = source;
        a.remind = row.remind;
        add(std::move(a));
        if (row.remind)
            m_leads.insert(here.id, row.remind);
        m_links.insert(here.id, {href, row.rec.lastDay(), digest(row.rec, leadOf(&here))});
    }

    // The row's reminder time once what the server brings is taken in.
    std::optional<int> leadOf(const LocalRow* row) const { return m_leads.value(row->id, row->remind); }

    // What changed here goes to the server: a deleted row's event goes, a changed row replaces
    // its event, a row that stands for none is sent as a new one.
    void send()
    {
        QList<qint64> ids = m_links.keys();
        std::sort(ids.begin(), ids.end());
        QSet<QString> hrefs(m_items.keyBegin(), m_items.keyEnd());
        for (const qint64 id : std::as_const(ids)) {
            const KnownLink link = m_links.value(id);
            const auto item = m_items.constFind(link.href);
            if (item == m_items.cend())
                continue; // a row kept for an event that went: it waits for the event to come back
            const LocalRow* row = m_rows.value(id);
            if (!row) {
                // Deleted here. A row that ended before today went with the purge of past rows, and an
                // instance of a series goes here only: the server keeps the event in both cases.
                if (link.day < m_in.today || item->series)
                    add({Action::Unlink, link.href, id});
                else
                    add({Action::DeleteThere, link.href, id, item->etag, item->uid, {}, false, link.day});
                m_links.remove(id);
            } else if (digest(row->rec, leadOf(row)) != link.digest) {
                // Changed here. A changed instance of a series becomes an event of its own.
                if (item->series) {
                    add({Action::Unlink, link.href, id});
                    m_links.remove(id);
                } else {
                    Action a{Action::PutChanged, link.href, id, item->etag, item->uid, row->rec};
                    a.remind = leadOf(row);
                    add(std::move(a));
                }
            }
        }
        // Rows that ended before today are not sent: the server would hold them, and the purge
        // would take them from here.
        for (const LocalRow& row : m_in.rows) {
            if (m_links.contains(row.id) || !m_rows.contains(row.id) || row.rec.lastDay() < m_in.today)
                continue;
            // The row's own UID, unless an event there has it already: then one of its own.
            const QString href = m_in.calendarPath + row.uid + QStringLiteral(".ics");
            const bool taken = row.uid.isEmpty() || hrefs.contains(href);
            hrefs.insert(href);
            Action a{Action::PutNew, taken ? QString() : href, row.id, {}, taken ? QString() : row.uid, row.rec};
            a.remind = leadOf(&row);
            add(std::move(a));
        }
    }

    const PlanInput& m_in;
    Plan m_plan;
    QHash<QString, KnownItem> m_items;
    QHash<qint64, KnownLink> m_links;
    QHash<QString, QList<qint64>> m_linked;
    QHash<qint64, const LocalRow*> m_rows; // those still here
    QHash<QString, QList<const LocalRow*>> m_twins; // by digest: rows that stand for no event yet
    QHash<qint64, std::optional<int>> m_leads; // reminder times set by the server's alarms
};

} // namespace

int Plan::count(Action::Kind kind) const
{
    return int(std::count_if(actions.begin(), actions.end(), [kind](const Action& a) { return a.kind == kind; }));
}

Plan plan(const PlanInput& in)
{
    return Planner(in).run();
}

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

} // namespace calsync
