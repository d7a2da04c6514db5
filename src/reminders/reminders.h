#pragma once

#include "store/plan_store.h"
#include "store/reminder_state.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QTimer>

#include <functional>
#include <optional>
#include <vector>

namespace state {
struct Module1;
}

// One reminder: which occurrence of which appointment, and when it is given.
struct Reminder {
    qint64 id = 0;
    QString occurrence; // the appointment's start, as REMINDER_STATE keeps it
    QDateTime remindAt;
    QDateTime startsAt;
    store::PLAN_REC rec;
    bool snoozed = false; // back from a snooze: given even once the appointment has begun
};

// What one reminder says: the body in the secretary's voice, and whether it must stay until
// dismissed (an appointment of importance 高).
struct ReminderText {
    QString body;
    bool urgent = false;

    friend bool operator==(const ReminderText&, const ReminderText&) = default;
};

// The reminders for the appointments that came together, myName being how the secretary
// addresses the user: one each, with the place and the notice as further lines, but more than
// kSeparateReminders as one that lists the first of them and counts the rest, so that a crowded
// minute does not bury the desktop.
QList<ReminderText> reminderTexts(const QList<store::PLAN_REC>& due, const QString& myName);
inline constexpr int kSeparateReminders = 3;
// The one text that tells the appointments that began without their reminder: time and subject
// of each, the first kMissedLines of them and a count of the rest.
ReminderText missedText(const QList<store::PLAN_REC>& missed);
inline constexpr int kMissedLines = 10;

// When the reminder of an appointment starting at startsAt is given: ownLead minutes before it,
// the settings' defaultLead when it has none of its own. Invalid for none (a negative lead).
QDateTime reminderTime(const QDateTime& startsAt, std::optional<int> ownLead, int defaultLead);

// An appointment as the planning reads it: the row and its own lead.
struct PlannedRow {
    store::StoredRow row;
    std::optional<int> lead;
};
struct ReminderPlan {
    std::vector<Reminder> pending; // by reminder time; those of the past are due at once
    QList<Reminder> missed;        // began today without a reminder, told together
};
// Which reminders are given from now on, after what the user did with each (states). An
// appointment whose reminder time has passed but which has not begun is reminded of at once;
// one that began is told as missed when the program is just starting (startingUp) and it is
// today's, otherwise never. An acknowledged one never comes again, a snoozed one comes at the
// end of its snooze, one already shown not again.
ReminderPlan planReminders(const std::vector<PlannedRow>& rows, const std::vector<store::ReminderState>& states,
                           const QDateTime& now, int defaultLead, bool startingUp);

// Reminds of each appointment once, at its reminder time, for every appointment whose reminder
// falls in the coming days, and remembers in sec.mdb what the user did with it. Never shows
// anything itself: it tells through due() and missed(). Its timer runs on the monotonic clock,
// which stands still while the machine sleeps; whoever looks at the wall clock regularly
// (DayTurns::checked) calls check() too, so a reminder that came during a sleep is given within
// that look.
class Reminders : public QObject {
    Q_OBJECT
public:
    explicit Reminders(state::Module1& module, QObject* parent = nullptr);

    // Plans the reminders anew from the table, defaultLead minutes before each appointment that
    // has no lead of its own (a negative lead: none). Throws platform::Failure when the rows
    // cannot be read; the plan is then empty.
    void plan(int defaultLead);
    // What the timer runs: tells every reminder whose time has come, then arms the timer again.
    void check();
    // The user's answers to a reminder: again in so many minutes, or never again.
    void snooze(const QList<Reminder>& reminders, int minutes);
    void acknowledge(const QList<Reminder>& reminders);

signals:
    // Every reminder that came at one look at the clock, in the order of their times.
    void due(const QList<Reminder>& reminders);
    // Appointments that began while no reminder could be given (the program was not running, or
    // the machine slept through their reminder).
    void missed(const QList<Reminder>& reminders);

private:
    void arm();
    void record(const std::function<void(platform::Database&)>& write);

    state::Module1& m_module;
    QTimer m_timer;
    std::vector<Reminder> m_pending; // by reminder time
    QList<Reminder> m_missed;        // found by the plan, told at the next check
    bool m_startingUp = true;
};
