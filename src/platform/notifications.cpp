#include "platform/notifications.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QTimer>
#include <QUrl>
#include <QVariantMap>

#include <memory>

namespace platform {
namespace {
const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
// How long an answer is still listened for after the wait, to close a copy shown late.
constexpr int kLateAnswerMs = 120 * 1000;
int g_waitMs = kNotifyTimeoutMs;

// Notification services may read the body as markup: what is shown must stay the text itself.
QString escapedBody(QString text)
{
    text.replace(QLatin1Char('&'), QLatin1String("&amp;"));
    text.replace(QLatin1Char('<'), QLatin1String("&lt;"));
    text.replace(QLatin1Char('>'), QLatin1String("&gt;"));
    return text;
}
} // namespace

void notify(const Notification& notification, QObject* context, std::function<void()> noService)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        QTimer::singleShot(0, context, std::move(noService));
        return;
    }
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(uchar(notification.urgent ? 2 : 1)));
    if (!notification.picturePath.isEmpty())
        hints.insert(QStringLiteral("image-path"), QUrl::fromLocalFile(notification.picturePath).toString());
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    call << notification.appName << uint(0) << QString() << notification.summary << escapedBody(notification.body)
         << QStringList() << hints << int(notification.urgent ? 0 : -1);
    // The answer is awaited for a bounded time; past it the program's own window shows the
    // reminder, and an answer that still comes means the service showed it as well: that copy is
    // closed again, so that the reminder is there once.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kLateAnswerMs), context);
    auto* wait = new QTimer(watcher);
    wait->setSingleShot(true);
    const auto fallBack = std::make_shared<std::function<void()>>(std::move(noService));
    QObject::connect(wait, &QTimer::timeout, context, [fallBack] { (*fallBack)(); });
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context, [watcher, wait, fallBack, bus] {
        watcher->deleteLater();
        const bool late = !wait->isActive();
        wait->stop();
        const QDBusPendingReply<uint> reply = *watcher;
        if (!late && reply.isError())
            (*fallBack)();
        else if (late && reply.isValid())
            bus.asyncCall(QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("CloseNotification"))
                          << reply.value());
    });
    wait->start(g_waitMs);
}

void setNotifyWaitForTests(int ms)
{
    g_waitMs = ms;
}

} // namespace platform
