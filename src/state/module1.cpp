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

QString readSetting(const Setting& setting)
{
    const QString text = platform::SettingsStore::read(kApplication, kSection, setting.key);
    return text.isEmpty() ? setting.fallback : text;
}

int noticeMinutes()
{
    bool ok = false;
    const int minutes = readSetting(kNoticeMin).toInt(&ok);
    return ok ? minutes : kNoticeMin.fallback.toInt();
}

void writeSettings(const QList<std::pair<Setting, QString>>& values)
{
    QList<std::pair<QString, QString>> texts;
    for (const auto& [setting, text] : values)
        texts.append({setting.key, text});
    platform::SettingsStore::write(kApplication, kSection, texts);
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
