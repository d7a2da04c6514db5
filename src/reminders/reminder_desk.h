#pragma once

#include "reminders/reminders.h"

#include <QHash>
#include <QObject>
#include <QPointer>

class QWidget;
class ReminderListWindow;
namespace platform {
class NotificationEvents;
}
namespace state {
struct Module1;
}

// Gives the reminders to the user: as desktop notifications that stay until answered ("5分後",
// "15分後", "了解", or a click that opens the appointment), or, without a notification service,
// in the program's one list window; and hands the answers back to the reminders.
class ReminderDesk : public QObject {
    Q_OBJECT
public:
    ReminderDesk(Reminders& reminders, state::Module1& module, QWidget* window);

signals:
    // The user asked to see the appointment of this id.
    void openRequested(qint64 id);

private:
    void remind(const QList<Reminder>& reminders);
    void tellMissed(const QList<Reminder>& reminders);
    void answer(uint id, const QString& key);
    void showInList(const QList<Reminder>& reminders);

    Reminders& m_reminders;
    state::Module1& m_module;
    QWidget* m_window;
    platform::NotificationEvents* m_events;
    QHash<uint, QList<Reminder>> m_shown; // by the notification's id, until answered or gone
    QPointer<ReminderListWindow> m_list;
};
