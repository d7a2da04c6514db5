#include "state/module1.h"

#include "platform/clock.h"
#include "platform/failure.h"
#include "platform/files.h"
#include "platform/settings_store.h"
#include "platform/user_data.h"
#include "state/text.h"

#include <QFileInfo>

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

QString databaseLocation()
{
    const QString beside = folderPrefix(platform::programFolder()) + QStringLiteral("sec.mdb");
    const QFileInfo besideInfo(beside);
    if (besideInfo.exists() || besideInfo.isSymLink() || !platform::isOrdinaryFile(templatePath()))
        return beside;
    const QString folder = platform::userDataFolder();
    return folder.isEmpty() ? QString() : folder + QStringLiteral("/meridocal/sec.mdb");
}

QString databasePath()
{
    const QString location = databaseLocation();
    if (location.isEmpty())
        throw platform::Failure(QStringLiteral("予定を保存するフォルダーが決まりません"
                                               "（環境変数 HOME が絶対パスでなく、ユーザーのホームフォルダーも分かりません）。"));
    if (location != folderPrefix(platform::programFolder()) + QStringLiteral("sec.mdb"))
        platform::copyOnFirstStart(templatePath(), location);
    return location;
}

QString templatePath()
{
    // The build gives the way from the program's folder to the data folder under the same
    // prefix, so the installed tree works wherever it is put or unpacked.
    return folderPrefix(platform::programFolder()) + QStringLiteral(MERIDOCAL_TEMPLATE_FROM_PROGRAM);
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
