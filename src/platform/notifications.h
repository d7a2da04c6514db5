#pragma once

#include <QString>

#include <functional>

class QObject;

namespace platform {

// A desktop notification as the program gives it. The body is plain text.
struct Notification {
    QString appName;
    QString summary;
    QString body;
    QString picturePath;
    bool urgent = false; // stays until dismissed
};

// Hands the notification to the desktop's notification service on the session bus
// (org.freedesktop.Notifications) without blocking. Where no service answers in time (no session
// bus, nobody owning the name, a failed call, no answer within kNotifyTimeoutMs), noService runs
// instead, from context's event loop, and a notification the service shows after that is closed
// again: the user gets one of the two, never both. Nothing runs once context is gone.
void notify(const Notification& notification, QObject* context, std::function<void()> noService);

// How long an answer from the notification service is waited for.
inline constexpr int kNotifyTimeoutMs = 5000;
// Tests wait less.
void setNotifyWaitForTests(int ms);

} // namespace platform
