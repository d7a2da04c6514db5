#pragma once

#include "ical/ical_conversion.h"

#include <QDate>
#include <QDateTime>
#include <QString>

namespace platform {
class Database;
}

// The iCalendar file commands without their windows: the table to a file and a file to the table.
// Failures throw platform::Failure with a description the user can read.
namespace ical {

// Files above this size are refused rather than read into memory: no calendar of appointments
// comes near it (100,000 appointments are about 30 MB).
constexpr qint64 kMaxFileSize = 64 * 1024 * 1024;

// Writes every appointment to path as one calendar and returns how many. The file is written
// under a temporary name and renamed, so a failure leaves any earlier file at path as it was.
// A link or anything but an ordinary file at path is refused: the file would land elsewhere.
int exportFile(platform::Database& db, const QString& path, const QDateTime& now);

struct ImportReport {
    int added = 0;
    int duplicates = 0; // already in the table, or earlier in the same file
    int past = 0;       // events that ended before today
    int later = 0;      // series that go on but have no date in the coming 366 days
    int shortened = 0;  // added with a text cut to fit its column
    int unusable = 0;   // events without a subject or a readable start
    int refusedRules = 0; // what the bounds of a read left out or changed (see ReadResult)
    int cutSeries = 0;
    int notRead = 0;
    int oversized = 0;
    int unknownZone = 0;
};

// Adds the appointments of the calendar file at path from today on, all in one transaction:
// on any failure the table is as it was.
ImportReport importFile(platform::Database& db, const QString& path, const QDate& today);

// The two halves of importFile: reading touches no table and may run on any thread; adding
// writes what was read.
ReadResult readFile(const QString& path, const QDate& today);
ImportReport addRows(platform::Database& db, const ReadResult& read);

} // namespace ical
