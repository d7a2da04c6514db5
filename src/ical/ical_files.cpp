#include "ical/ical_files.h"

#include "ical/ical_conversion.h"
#include "platform/database.h"
#include "platform/failure.h"
#include "state/text.h"
#include "store/plan_store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace ical {
namespace {

QString shown(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

QByteArray readWhole(const QString& path)
{
    if (!QFileInfo(path).isFile())
        throw platform::Failure(QStringLiteral("「%1」というファイルはありません。").arg(shown(path)));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw platform::Failure(QStringLiteral("「%1」を開けません（読むことが許されていません）。").arg(shown(path)));
    const QByteArray text = file.read(kMaxFileSize + 1);
    if (text.size() > kMaxFileSize)
        throw platform::Failure(QStringLiteral("「%1」は大きすぎるため読み込めません（%2 MB まで）。")
                                    .arg(shown(path))
                                    .arg(kMaxFileSize / (1024 * 1024)));
    if (file.error() != QFileDevice::NoError)
        throw platform::Failure(QStringLiteral("「%1」を読み終えられませんでした（装置の故障か、接続が切れました）。").arg(shown(path)));
    return text;
}

// The entry form's rule (the same date, time and trimmed subject), and also the same subject as
// stored, so that a subject stored with a blank at an end is found when our export comes back.
bool isStored(platform::Database& db, const store::PLAN_REC& rec)
{
    if (store::isDuplicate(db, rec))
        return true;
    return rec.P_DETAIL != state::trimBlanks(rec.P_DETAIL)
        && !db.query(QStringLiteral("SELECT 1 FROM PLAN_DAT WHERE P_DATE = ? AND P_HOUR = ? AND P_MIN = ?"
                                    " AND P_DETAIL = ? LIMIT 1"),
                     {rec.P_DATE, rec.P_HOUR, rec.P_MIN, rec.P_DETAIL})
                .empty();
}

} // namespace

int exportFile(platform::Database& db, const QString& path, const QDateTime& now)
{
    QByteArray events;
    int count = 0;
    const QDateTime stamp = now.toUTC(); // once: each conversion from local time asks the system

    ZoneTexts zones;
    db.forEachRow(QStringLiteral("SELECT ") + store::kRowColumns
                      + QStringLiteral(", SOURCE FROM PLAN_DAT ORDER BY P_DATE, P_HOUR, P_MIN, ID"),
                  {}, [&](const platform::Row& values) {
                      const store::StoredRow row = store::storedRow(values);
                      const QByteArray source = values.back().toString().toUtf8();
                      events += source.isEmpty() ? eventText(row.rec, row.uid, stamp)
                                                 : keptEvent(source, row.rec, row.uid, stamp, zones);
                      ++count;
                      return true;
                  });
    QByteArray zoneText;
    for (const QByteArray& zone : std::as_const(zones))
        zoneText += zone;
    const QByteArray text = calendarText(zoneText + events);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw platform::Failure(
            QStringLiteral("「%1」を作れません（フォルダーがないか、書き込むことが許されていません）。").arg(shown(path)));
    if (file.write(text) != text.size() || !file.commit())
        throw platform::Failure(QStringLiteral("「%1」に書き込めませんでした（ディスクがいっぱいか、書き込むことが許されていません）。"
                                               "元のファイルはそのままです。")
                                    .arg(shown(path)));
    return count;
}

ImportReport importFile(platform::Database& db, const QString& path, const QDate& today)
{
    const ReadResult read = readCalendar(readWhole(path), today);
    ImportReport report;
    report.past = read.past;
    report.unusable = read.unusable;
    // Rows added earlier in this import are in the table by now, so the same check finds a
    // repeated event within the file as well.
    platform::Transaction transaction(db);
    for (const ImportedRow& row : read.rows) {
        if (isStored(db, row.rec)) {
            ++report.duplicates;
            continue;
        }
        // One event, one row: it keeps the event's UID. Instances of a series each get one of their
        // own, as each goes out again as an event of its own.
        store::insert(db, row.rec, row.recurring ? QString() : row.uid, row.source);
        ++report.added;
        report.shortened += row.shortened ? 1 : 0;
    }
    transaction.commit();
    return report;
}

} // namespace ical
