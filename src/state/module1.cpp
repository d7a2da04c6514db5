#include "state/module1.h"

#include "platform/clock.h"
#include "platform/failure.h"
#include "platform/files.h"
#include "platform/settings_store.h"
#include "state/text.h"

namespace state {

platform::Database& Module1::db() const
{
    if (!SEC_DB)
        throw platform::Failure(QStringLiteral("データベースが開かれていません。"));
    return *SEC_DB;
}

QString readSetting(const QString& key)
{
    return platform::SettingsStore::read(kApplication, kSection, key);
}

void writeSetting(const QString& key, const QString& text)
{
    platform::SettingsStore::write(kApplication, kSection, key, text);
}

QString folderPrefix(const QString& folder)
{
    if (folder.endsWith(QLatin1Char('/')) || folder.endsWith(QLatin1Char('\\')))
        return folder;
    return folder + QLatin1Char('/');
}

QString databasePath()
{
    return folderPrefix(platform::programFolder()) + QStringLiteral("sec.mdb");
}

QString defaultPicturePath()
{
    return folderPrefix(platform::programFolder()) + QStringLiteral("girl.gif");
}

QString todayString()
{
    return dateKey(platform::Clock::now().date());
}

} // namespace state
