#pragma once

#include "platform/notifications.h"

#include <QWidget>

// The program's own reminder, where the desktop has no notification service: a small window
// with the secretary's picture and the same texts. It never blocks the program (shown, not
// executed), does not take the focus from what the user is typing, and goes away when closed.
class ReminderWindow : public QWidget {
    Q_OBJECT
public:
    ReminderWindow(const platform::Notification& notification, QWidget* parent);
};
