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

QDBusMessage methodCall(const QString& method)
{
    return QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
}

QDBusMessage notifyCall(const Notification& n, const QStringList& capabilities)
{
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(uchar(n.urgent ? 2 : 1)));
    if (!n.picturePath.isEmpty())
        hints.insert(QStringLiteral("image-path"), QUrl::fromLocalFile(n.picturePath).toString());
    if (!n.desktopEntry.isEmpty())
        hints.insert(QStringLiteral("desktop-entry"), n.desktopEntry);
    // Without the hint a service may drop the notification once an action is chosen or the
    // screen is locked; only the services that say they know it get it.
    if (n.stays && capabilities.contains(QStringLiteral("resident")))
        hints.insert(QStringLiteral("resident"), true);
    QDBusMessage call = methodCall(QStringLiteral("Notify"));
    call << n.appName << uint(0) << n.appIcon << n.summary << escapedBody(n.body) << n.actions << hints
         << int(n.stays || n.urgent ? 0 : -1);
    return call;
}
} // namespace

void notify(const Notification& notification, QObject* context, std::function<void()> noService,
            std::function<void(uint)> shown)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        QTimer::singleShot(0, context, std::move(noService));
        return;
    }
    // The service is asked what it offers, then given the notification. Both answers are awaited
    // for one bounded time; past it the program's own window shows the reminder, and an answer
    // that still comes means the service showed it as well: that copy is closed again, so that
    // the reminder is there once.
    auto* wait = new QTimer(context);
    wait->setSingleShot(true);
    const auto fallBack = std::make_shared<std::function<void()>>(std::move(noService));
    QObject::connect(wait, &QTimer::timeout, context, [fallBack] { (*fallBack)(); });
    auto* asked = new QDBusPendingCallWatcher(bus.asyncCall(methodCall(QStringLiteral("GetCapabilities")), kLateAnswerMs),
                                              context);
    QObject::connect(asked, &QDBusPendingCallWatcher::finished, context, [=] {
        asked->deleteLater();
        const QDBusPendingReply<QStringList> capabilities = *asked;
        if (capabilities.isError()) {
            if (wait->isActive())
                (*fallBack)();
            wait->deleteLater();
            return;
        }
        auto* told = new QDBusPendingCallWatcher(bus.asyncCall(notifyCall(notification, capabilities.value()), kLateAnswerMs),
                                                 context);
        QObject::connect(told, &QDBusPendingCallWatcher::finished, context, [=] {
            told->deleteLater();
            wait->deleteLater();
            const bool late = !wait->isActive();
            wait->stop();
            const QDBusPendingReply<uint> reply = *told;
            if (!late && reply.isError())
                (*fallBack)();
            else if (late && reply.isValid())
                closeNotification(reply.value());
            else if (reply.isValid() && shown)
                shown(reply.value());
        });
    });
    wait->start(g_waitMs);
}

void closeNotification(uint id)
{
    QDBusConnection::sessionBus().asyncCall(methodCall(QStringLiteral("CloseNotification")) << id);
}

void setNotifyWaitForTests(int ms)
{
    g_waitMs = ms;
}

NotificationEvents::NotificationEvents(QObject* parent) : QObject(parent)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this, SLOT(onActionInvoked(uint, QString)));
    bus.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this, SLOT(onClosed(uint, uint)));
}

void NotificationEvents::onActionInvoked(uint id, const QString& key)
{
    emit actionInvoked(id, key);
}

void NotificationEvents::onClosed(uint id, uint reason)
{
    emit closed(id, reason);
}

} // namespace platform
