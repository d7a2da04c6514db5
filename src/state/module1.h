#pragma once

#include "platform/database.h"

#include <QString>

#include <memory>

namespace state {

// The values that every window shares, filled by the main window's start-up and living for
// the whole run. Only the settings window changes the names and the picture path.
struct Module1 {
    std::unique_ptr<platform::Database> SEC_DB; // none until opened, and after the main window unloads
    QString TODAY_STR;                           // fixed at start-up, "YYYY/MM/DD"
    QString SEC_NAME_STR;
    QString MY_NAME_STR;
    QString SEC_PIC_PATH;

    // The open database, or a Failure for a handler's error trap when there is none.
    platform::Database& db() const;
};

// The settings store's address, and each key with the value used when the key is missing or
// empty. The fallback is never written back.
inline const QString kApplication = QStringLiteral("MERIDOCAL");
inline const QString kSection = QStringLiteral("DATA");
struct Setting {
    QString key;
    QString fallback;
};
inline const Setting kSecName{QStringLiteral("SEC_NAME"), QStringLiteral("秘書")};
inline const Setting kMyName{QStringLiteral("MY_NAME"), QStringLiteral("社長")};
// The fallback is the default picture path, which depends on where the program runs.
inline const Setting kSecPic{QStringLiteral("SEC_PIC"), QString()};
// Minutes between a reminder and its appointment; -1 for no reminders.
inline const Setting kNoticeMin{QStringLiteral("NOTICE_MIN"), QStringLiteral("10")};
// "1": closing the main window only hides it while a system tray shows the secretary.
inline const Setting kResident{QStringLiteral("RESIDENT"), QStringLiteral("0")};
// The list of all appointments' size and place (saveGeometry in base64); none until first closed.
inline const Setting kAllListGeometry{QStringLiteral("ALL_LIST_GEOMETRY"), QString()};
// The week and month window's size and place (as above), its view ("week" or "month") and the
// first day of its weeks ("monday" or "sunday").
inline const Setting kScheduleGeometry{QStringLiteral("SCHEDULE_GEOMETRY"), QString()};
inline const Setting kScheduleView{QStringLiteral("SCHEDULE_VIEW"), QStringLiteral("week")};
inline const Setting kScheduleWeekStart{QStringLiteral("SCHEDULE_WEEK_START"), QStringLiteral("monday")};

// The stored text, or the setting's fallback when it is missing or empty.
QString readSetting(const Setting& setting);
// The stored lead time of reminders in minutes (negative: none); a text that is not a whole
// number counts as the fallback.
int noticeMinutes();
// Writes the values together: all or, with a platform::Failure, none.
void writeSettings(const QList<std::pair<Setting, QString>>& values);

// The program folder followed by one separator: "/opt/app/" for "/opt/app", "/" for the root.
QString folderPrefix(const QString& folder);
// Where the appointments are: "sec.mdb" beside the program when there is one there (the build
// folder, an unpacked folder) or when the program is not installed. An installed program has
// only the empty template under its prefix: each user then keeps their own copy in their data
// folder, made from the template on their first start (a platform::Failure when that fails).
QString databasePath();
// The same place, without making anything: for telling two copies of the program apart. Empty
// when the user's data folder cannot be found.
QString databaseLocation();
// The empty table an installed program brings, found from the program folder.
QString templatePath();
QString defaultPicturePath(); // program folder + "girl.gif"

// Today's date as the P_DATE key, from the clock.
QString todayString();

} // namespace state
