#pragma once

#include "store/plan_store.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QSet>
#include <QTimer>

#include <vector>

namespace platform {
class Database;
}

// What one reminder says: the body in the secretary's voice, and whether it must stay until
// dismissed (an appointment of importance 高).
struct ReminderText {
    QString body;
    bool urgent = false;

    friend bool operator==(const ReminderText&, const ReminderText&) = default;
};

// The reminders for the appointments that came together, myName being how the secretary
// addresses the user: one each, but more than kSeparateReminders as one that lists the first of
// them and counts the rest, so that a crowded minute does not bury the desktop.
QList<ReminderText> reminderTexts(const QList<store::PLAN_REC>& due, const QString& myName);
inline constexpr int kSeparateReminders = 3;

// Reminds of each of today's appointments once, a lead time before it. Never shows anything
// itself: it tells the window through due(). Its timer runs on the monotonic clock, which stands
// still while the machine sleeps; whoever looks at the wall clock regularly (DayTurns::checked)
// calls check() too, so a reminder that came during a sleep is given within that look.
class Reminders : public QObject {
    Q_OBJECT
public:
    explicit Reminders(QObject* parent = nullptr);

    // Plans the reminders of the rows dated today ("YYYY/MM/DD") anew, leadMinutes before each
    // appointment (a negative lead: none). An appointment whose reminder time has passed but whose
    // own minute has not yet is reminded at once; one already reminded is not reminded again.
    // Throws platform::Failure when the rows cannot be read; the plan is then empty.
    void plan(platform::Database& db, const QString& today, int leadMinutes);
    // What the timer runs: tells every reminder whose time has come, then arms the timer again.
    void check();

signals:
    // Every appointment whose reminder came at one look at the clock, in the order of their times.
    void due(const QList<store::PLAN_REC>& appointments);

private:
    struct Pending {
        QString key;
        QDateTime remindAt;
        QDateTime startsAt;
        store::PLAN_REC appointment;
    };
    void arm();

    QTimer m_timer;
    std::vector<Pending> m_pending; // by reminder time
    QSet<QString> m_given;          // today's appointments already reminded of
};
