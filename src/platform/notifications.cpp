#include "platform/notifications.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QTimer>
#include <QUrl>
#include <QVariantMap>

namespace platform {
namespace {
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
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    call << notification.appName << uint(0) << QString() << notification.summary << escapedBody(notification.body)
         << QStringList() << hints << int(notification.urgent ? 0 : -1);
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kNotifyTimeoutMs), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context,
                     [watcher, noService = std::move(noService)] {
                         watcher->deleteLater();
                         if (watcher->isError())
                             noService();
                     });
}

} // namespace platform
