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
// (org.freedesktop.Notifications) without waiting for it. Where no service answers (no session
// bus, nobody owning the name, a failed or unanswered call), noService runs instead, from
// context's event loop; nothing runs once context is gone.
void notify(const Notification& notification, QObject* context, std::function<void()> noService);

// How long an answer from the notification service is waited for.
inline constexpr int kNotifyTimeoutMs = 5000;

} // namespace platform
