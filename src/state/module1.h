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

// The settings store's address and keys, with the values used when a key is missing or empty.
inline const QString kApplication = QStringLiteral("MERIDOCAL");
inline const QString kSection = QStringLiteral("DATA");
inline const QString kKeySecName = QStringLiteral("SEC_NAME");
inline const QString kKeyMyName = QStringLiteral("MY_NAME");
inline const QString kKeySecPic = QStringLiteral("SEC_PIC");
inline const QString kDefaultSecName = QStringLiteral("秘書");
inline const QString kDefaultMyName = QStringLiteral("社長");

QString readSetting(const QString& key);
void writeSetting(const QString& key, const QString& text); // throws platform::Failure

// The program folder followed by one separator: "/opt/app/" for "/opt/app", "/" for the root.
QString folderPrefix(const QString& folder);
QString databasePath(); // program folder + "sec.mdb"
QString defaultPicturePath(); // program folder + "girl.gif"

// Today's date as the P_DATE key, from the clock.
QString todayString();

} // namespace state
