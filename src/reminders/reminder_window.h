#pragma once

#include "platform/notifications.h"
#include "reminders/reminders.h"

#include <QWidget>

class QVBoxLayout;

// The program's own reminder, where the desktop has no notification service: a small window
// with the secretary's picture and the same texts. It never blocks the program (shown, not
// executed), does not take the focus from what the user is typing, and goes away when closed.
class ReminderWindow : public QWidget {
    Q_OBJECT
public:
    ReminderWindow(const platform::Notification& notification, QWidget* parent);
};

// Where the desktop has no notification service, every reminder that comes is listed in this one
// window "お知らせ": time, subject, place and 高 for an important one, each with "5分後" and "了解".
// An answered reminder leaves the list; the window goes when the list is empty or it is closed.
class ReminderListWindow : public QWidget {
    Q_OBJECT
public:
    explicit ReminderListWindow(QWidget* parent);
    void add(const QList<Reminder>& reminders);

signals:
    void snoozed(const QList<Reminder>& reminders, int minutes);
    void acknowledged(const QList<Reminder>& reminders);

private:
    void answered(QWidget* row);

    QVBoxLayout* m_rows = nullptr;
};
