#pragma once

#include "ical/ical_conversion.h"
#include "store/plan_store.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <optional>
#include <vector>

// What one sync does, decided from what sec.mdb remembers of the last one, the rows here and
// what the server listed: a pure function, so that every interleaving of changes on the two
// sides can be tried in a table without a server. The engine carries the actions out.
namespace calsync {

// An event seen on the server at the last sync (SYNC_ITEM).
struct KnownItem {
    QString uid;
    QByteArray etag;
    bool series = false; // a recurrence, or several events: its rows are never written back
};
// A row that stood for an event at the last sync (SYNC_LINK).
struct KnownLink {
    QString href;
    QString day;    // the row's last day then: a row deleted here that ended before today went with the purge
    QString digest; // its values then, to see a change made here since
};
// A row of PLAN_DAT as it is now. The engine builds the event's text from the row (and, where
// the row came from another program, from the event as that program wrote it) when it sends.
struct LocalRow {
    qint64 id = 0;
    QString uid; // the UID it goes by, made once
    store::PLAN_REC rec;
    std::optional<int> remind{}; // its own reminder time (P_REMIND): a change of it alone is sent too
};
// One member of the calendar as the server listed it.
struct Listed {
    QString href;
    QByteArray etag;
    bool gone = false; // named as deleted by a sync-collection report
};
// An event the server sent with its calendar data.
struct Fetched {
    QByteArray etag;
    QString uid;
    bool series = false;
    std::vector<ical::ImportedRow> rows;
    QString unreadable; // why its calendar data cannot be read; empty when it could
    bool gone = false;  // the server answered that it is no more
    QByteArray data{};  // the event as the server has it, when one row stands for it: written back from
};

struct PlanInput {
    QString calendarPath; // the collection's path, ending in "/"
    QString today;        // "YYYY/MM/DD"
    QHash<QString, KnownItem> items;
    QHash<qint64, KnownLink> links;
    std::vector<LocalRow> rows;
    bool listed = false; // the server was asked what changed; otherwise it said nothing changed
    bool whole = false;  // the listing names every event: one it leaves out is gone
    std::vector<Listed> listing;
    QHash<QString, Fetched> fetched;
    bool fetchDone = false;  // what was asked for has come: an event the server did not send waits
    bool keepRows = false;   // the user said no to deleting here: rows stay linked to their events
    bool remoteOnly = false; // taking in our own changes after sending them
};

struct Action {
    enum Kind {
        Fetch,       // ask for the event's calendar data
        Forget,      // the event as remembered goes: its item and its links
        Remember,    // the event as fetched: href, uid, etag, series
        Link,        // the row rowId stands for the event href with the values rec
        TakeIn,      // a row of the event is added here: rec, uid
        DeleteHere,  // the row rowId goes: its event changed or went there
        KeepBoth,    // the row rowId was changed here and its event there: it stays, unlinked
        Spare,       // the row rowId would have gone (keepRows): it stays linked to href
        Unreadable,  // the event href cannot be read: what is here stays as it is
        Unlink,      // the row rowId goes its own way; the server's event stays as it is
        PutNew,      // the row rowId is sent as the new event uid (empty: a UID of its own)
        PutChanged,  // the row rowId replaces the event href of that etag
        DeleteThere, // the event href of that etag goes: its row rowId was deleted here
    };
    Kind kind;
    QString href{};
    qint64 rowId = 0;
    QByteArray etag{};
    QString uid{};
    store::PLAN_REC rec{};
    bool series = false;
    QString day{};    // of DeleteThere: the deleted row's date, to name it
    QString reason{}; // of Unreadable: why
    QByteArray source{}; // of Link and TakeIn of an event one row stands for: the event, to write back from
    std::optional<int> remind{}; // of Link and TakeIn: the lead of the event's alarm, which sets the row's;
                                 // of Spare, PutNew and PutChanged: the row's, to note with its values
};

struct Plan {
    std::vector<Action> actions;
    bool emptied = false; // a whole listing came back empty although events were in step
    int eventsThere = 0;  // events remembered once the server's side is taken in
    int count(Action::Kind kind) const;
};

// With events listed that are new or changed and not fetched yet, the plan is only their
// Fetch actions; otherwise it is the whole sync: first what the server's side brings here (in
// one transaction), then what goes to the server.
Plan plan(const PlanInput& in);

// An event that one row cannot stand for: a recurrence, or several events in one resource.
bool isSeries(const QByteArray& data);

} // namespace calsync
