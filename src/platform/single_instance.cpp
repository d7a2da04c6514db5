#include "platform/single_instance.h"

#include <QCryptographicHash>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFile>
#include <QFileInfo>

namespace platform {
namespace {
const QString kPath = QStringLiteral("/org/meridocal/Secretary");
const QString kInterface = QStringLiteral("org.meridocal.Secretary");

// The same file reached through a link or another spelling of its path gives the same name.
QString serviceName(const QString& databasePath)
{
    const QFileInfo file(databasePath);
    QString canonical = file.canonicalFilePath();
    if (canonical.isEmpty()) {
        const QString folder = QFileInfo(file.absolutePath()).canonicalFilePath();
        canonical = folder.isEmpty() ? file.absoluteFilePath() : folder + QLatin1Char('/') + file.fileName();
    }
    const QByteArray hash = QCryptographicHash::hash(QFile::encodeName(canonical), QCryptographicHash::Sha256);
    return QStringLiteral("org.meridocal.Secretary.db_") + QString::fromLatin1(hash.toHex().left(32));
}
} // namespace

bool SingleInstance::claim(const QString& databasePath)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return true;
    const QString name = serviceName(databasePath);
    // Twice: the owner may end between our request for the name and our call to it.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (bus.registerService(name)) {
            bus.registerObject(kPath, this, QDBusConnection::ExportScriptableSlots);
            return true;
        }
        const QDBusMessage reply =
            bus.call(QDBusMessage::createMethodCall(name, kPath, kInterface, QStringLiteral("Activate")), QDBus::Block,
                     5000);
        if (reply.type() == QDBusMessage::ReplyMessage)
            return false;
        if (reply.errorName() != QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown")
            && reply.errorName() != QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner"))
            return false;
    }
    return true;
}

void SingleInstance::Activate()
{
    emit activationRequested();
}

} // namespace platform
