#include "platform/settings_store.h"

#include "platform/failure.h"

#include <QFileInfo>
#include <QLockFile>
#include <QSettings>
#include <QStorageInfo>

#include <memory>

namespace platform {
namespace {
QString g_file;

std::unique_ptr<QSettings> open(const QString& application)
{
    if (!g_file.isEmpty())
        return std::make_unique<QSettings>(g_file, QSettings::IniFormat);
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, application);
}

QString keyPath(const QString& section, const QString& key)
{
    return section + QLatin1Char('/') + key;
}

// QSettings reports every failed write as an access error; the file system tells what it was.
QString writeFailure(const QString& fileName)
{
    const QFileInfo file(fileName);
    const QFileInfo folder(file.absolutePath());
    if (file.exists() && !file.isWritable())
        return QStringLiteral("設定ファイルが読み取り専用のため、設定を書き込めません: %1").arg(fileName);
    if (!folder.isDir())
        return QStringLiteral("設定ファイルのフォルダーがないため、設定を書き込めません: %1").arg(fileName);
    if (!folder.isWritable())
        return QStringLiteral("設定ファイルのフォルダーが読み取り専用のため、設定を書き込めません: %1").arg(fileName);
    const QStorageInfo storage(folder.absoluteFilePath());
    if (storage.isValid() && storage.bytesAvailable() < 64 * 1024)
        return QStringLiteral("ディスクがいっぱいのため、設定を書き込めません: %1").arg(fileName);
    return QStringLiteral("設定を書き込めません: %1").arg(fileName);
}
} // namespace

void SettingsStore::useFile(const QString& path)
{
    g_file = path;
}

QString SettingsStore::read(const QString& application, const QString& section, const QString& key)
{
    const auto settings = open(application);
    if (settings->status() != QSettings::NoError)
        return {};
    return settings->value(keyPath(section, key)).toString();
}

void SettingsStore::write(const QString& application, const QString& section,
                          const QList<std::pair<QString, QString>>& values)
{
    const auto settings = open(application);
    // A store that does not parse is reported before anything is written: QSettings would
    // otherwise rewrite it, mangled, and only then report the failure.
    settings->allKeys();
    if (settings->status() == QSettings::FormatError)
        throw Failure(QStringLiteral("設定ファイルの形式が正しくありません: %1").arg(settings->fileName()));
    // QSettings waits for its lock file without end (a folder in its place is never released):
    // take it once within a bound first, and let go just before QSettings takes it itself.
    {
        QLockFile lock(settings->fileName() + QStringLiteral(".lock"));
        if (!lock.tryLock(kLockWaitMs)) {
            if (lock.error() == QLockFile::LockFailedError)
                throw Failure(QStringLiteral("設定ファイルがほかのプログラムに使われているため、"
                                             "設定を書き込めません: %1").arg(settings->fileName()));
            throw Failure(writeFailure(settings->fileName()));
        }
    }
    QList<std::pair<QString, QVariant>> before;
    for (const auto& [key, text] : values) {
        before.append({keyPath(section, key), settings->value(keyPath(section, key))});
        settings->setValue(keyPath(section, key), text);
    }
    // QSettings writes lazily and reports a failed write only through its status.
    settings->sync();
    if (settings->status() != QSettings::NoError) {
        // The process keeps unwritten values in a cache that later reads would see: put back
        // what the file holds, so that the program goes on showing what is stored.
        for (const auto& [path, old] : before) {
            if (old.isValid())
                settings->setValue(path, old);
            else
                settings->remove(path);
        }
        throw Failure(writeFailure(settings->fileName()));
    }
}

} // namespace platform
