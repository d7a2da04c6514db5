#include "platform/settings_store.h"

#include "platform/failure.h"

#include <QSettings>

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

void SettingsStore::write(const QString& application, const QString& section, const QString& key,
                          const QString& text)
{
    const auto settings = open(application);
    // A store that does not parse is reported before anything is written: QSettings would
    // otherwise rewrite it, mangled, and only then report the failure.
    settings->allKeys();
    if (settings->status() == QSettings::NoError) {
        settings->setValue(keyPath(section, key), text);
        // QSettings writes lazily and reports a failed write only through its status.
        settings->sync();
    }
    switch (settings->status()) {
    case QSettings::NoError:
        return;
    case QSettings::AccessError:
        throw Failure(QStringLiteral("設定を書き込めません（アクセスが拒否されました）: %1").arg(settings->fileName()));
    case QSettings::FormatError:
        throw Failure(QStringLiteral("設定ファイルの形式が正しくありません: %1").arg(settings->fileName()));
    }
}

} // namespace platform
