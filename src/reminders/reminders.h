#pragma once

#include "store/plan_store.h"

#include <QDateTime>
#include <QObject>
#include <QSet>
#include <QTimer>

#include <vector>

namespace platform {
class Database;
}

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
    void due(const store::PLAN_REC& appointment);

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
