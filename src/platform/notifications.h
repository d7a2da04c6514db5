#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

namespace platform {

// A desktop notification as the program gives it. The body is plain text.
struct Notification {
    QString appName;
    QString appIcon;      // an icon name of the theme, or empty
    QString desktopEntry; // the desktop entry's id without ".desktop", or empty
    QString summary;
    QString body;
    QString picturePath;
    QStringList actions; // key, label, key, label, …; the key "default" is a click on the body
    bool urgent = false; // critical urgency
    bool stays = false;  // stays until the user reacts (never expires; resident where offered)
};

// Hands the notification to the desktop's notification service on the session bus
// (org.freedesktop.Notifications) without blocking. Where no service answers in time (no session
// bus, nobody owning the name, a failed call, no answer within kNotifyTimeoutMs), noService runs
// instead, from context's event loop, and a notification the service shows after that is closed
// again: the user gets one of the two, never both. shown gets the service's id of a notification
// it showed in time. Nothing runs once context is gone.
void notify(const Notification& notification, QObject* context, std::function<void()> noService,
            std::function<void(uint)> shown = {});
// Takes a notification the service shows off the screen.
void closeNotification(uint id);

// How long an answer from the notification service is waited for.
inline constexpr int kNotifyTimeoutMs = 5000;
// Tests wait less.
void setNotifyWaitForTests(int ms);

// What the notification service tells about the notifications it shows: an action the user
// chose (ActionInvoked) and a notification gone (NotificationClosed; reason 2 is the user's).
class NotificationEvents : public QObject {
    Q_OBJECT
public:
    explicit NotificationEvents(QObject* parent = nullptr);
    static constexpr uint kDismissedByUser = 2;

signals:
    void actionInvoked(uint id, const QString& key);
    void closed(uint id, uint reason);

private slots:
    // Qt D-Bus delivers signals only to slots named by their signature.
    void onActionInvoked(uint id, const QString& key);
    void onClosed(uint id, uint reason);
};

} // namespace platform
