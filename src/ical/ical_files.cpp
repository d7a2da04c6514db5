#include "ical/ical_files.h"

#include "store/reminder_state.h"

#include "ical/ical_conversion.h"
#include "platform/clock.h"
#include "platform/database.h"
#include "platform/failure.h"
#include "state/text.h"
#include "store/plan_store.h"
#include "store/reminder_state.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <map>

namespace ical {
namespace {

// The file's name in quotes. Messages are put together by joining, never with arg() on a
// name: a "%1" in a file name would be filled in.
QString shown(const QString& path)
{
    return QStringLiteral("「") + QDir::toNativeSeparators(path) + QStringLiteral("」");
}

QByteArray readWhole(const QString& path)
{
    if (!QFileInfo(path).isFile())
        throw platform::Failure(shown(path) + QStringLiteral("というファイルはありません。"));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw platform::Failure(shown(path) + QStringLiteral("を開けません（読むことが許されていません）。"));
    const QByteArray text = file.read(kMaxFileSize + 1);
    if (text.size() > kMaxFileSize)
        throw platform::Failure(shown(path) + QStringLiteral("は大きすぎるため読み込めません（")
                                + QString::number(kMaxFileSize / (1024 * 1024)) + QStringLiteral(" MB まで）。"));
    if (file.error() != QFileDevice::NoError)
        throw platform::Failure(shown(path) + QStringLiteral("を読み終えられませんでした（装置の故障か、接続が切れました）。"));
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
    // A series goes as one event with its rule and its changed occurrences, never as its rows.
    db.forEachRow(QStringLiteral("SELECT ") + store::kRowColumns
                      + QStringLiteral(", SOURCE, P_REMIND FROM PLAN_DAT WHERE SERIES_ID IS NULL ORDER BY P_DATE, P_HOUR, P_MIN, ID"),
                  {}, [&](const platform::Row& values) {
                      const store::StoredRow row = store::storedRow(values);
                      const QByteArray source = values.at(values.size() - 2).toString().toUtf8();
                      const QVariant lead = values.back();
                      const std::optional<int> remind = lead.isNull() ? std::nullopt : std::optional(lead.toInt());
                      events += source.isEmpty() ? eventText(row.rec, row.uid, stamp, remind)
                                                 : keptEvent(source, row.rec, row.uid, stamp, zones, remind);
                      ++count;
                      return true;
                  });
    for (const store::Series& series : store::allSeries(db)) {
        std::vector<std::pair<QString, store::PLAN_REC>> exceptions;
        for (const platform::Row& values : db.query(QStringLiteral("SELECT ") + store::kRowColumns
                                                        + QStringLiteral(", RECURRENCE_ID FROM PLAN_DAT WHERE SERIES_ID = ?"
                                                                         " AND EXCEPTION = 1 ORDER BY RECURRENCE_ID"),
                                                    {series.id}))
            exceptions.emplace_back(values.back().toString(), store::storedRow(values).rec);
        events += seriesText(series, exceptions, stamp, zones);
        ++count;
    }
    QByteArray zoneText;
    for (const QByteArray& zone : std::as_const(zones))
        zoneText += zone;
    const QByteArray text = calendarText(zoneText + events);
    // QSaveFile follows a link and replaces its target, which may be in another folder; a
    // device or a pipe would be replaced by a file.
    const QFileInfo info(path);
    if (info.isSymLink())
        throw platform::Failure(shown(path) + QStringLiteral("は別の場所へのリンクのため書き出せません。\r別の名前を選んでください。"));
    if (info.exists() && !info.isFile())
        throw platform::Failure(shown(path) + QStringLiteral("は普通のファイルではないため書き出せません。\r別の名前を選んでください。"));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw platform::Failure(shown(path) + QStringLiteral("を作れません（フォルダーがないか、書き込むことが許されていません）。"));
    if (file.write(text) != text.size() || !file.commit())
        throw platform::Failure(shown(path) + QStringLiteral("に書き込めませんでした（ディスクがいっぱいか、書き込むことが許されていません）。"
                                                             "元のファイルはそのままです。"));
    return count;
}

ImportReport importFile(platform::Database& db, const QString& path, const QDate& today)
{
    return addRows(db, readFile(path, today));
}

ReadResult readFile(const QString& path, const QDate& today)
{
    return readCalendar(readWhole(path), today, true);
}

ImportReport addRows(platform::Database& db, const ReadResult& read)
{
    ImportReport report;
    report.past = read.past;
    report.later = read.later;
    report.unusable = read.unusable;
    report.refusedRules = read.refusedRules;
    report.cutSeries = read.cutSeries;
    report.notRead = read.notRead;
    report.oversized = read.oversized;
    report.unknownZone = read.unknownZone;
    report.shortened = read.shortenedSeries;
    // Rows added earlier in this import are in the table by now, so the same check finds a
    // repeated event within the file as well.
    platform::Transaction transaction(db);
    // A repeating event is one series; its changed occurrences go with it as its exceptions.
    std::map<QString, std::vector<std::pair<QString, store::PLAN_REC>>> exceptions;
    for (const store::Series& series : read.series)
        exceptions[series.uid];
    for (const ImportedRow& row : read.rows)
        if (!row.recurrenceId.isEmpty() && exceptions.count(row.uid))
            exceptions[row.uid].emplace_back(row.recurrenceId, row.rec);
    for (const store::Series& series : read.series) {
        // The same series read again (the file imported twice) is there already.
        if (!db.query(QStringLiteral("SELECT 1 FROM PLAN_SERIES WHERE UID = ?"), {series.uid}).empty()) {
            ++report.duplicates;
            continue;
        }
        store::addSeries(db, series, platform::Clock::now().date(), exceptions[series.uid]);
        ++report.added;
    }
    for (const ImportedRow& row : read.rows) {
        if (!row.recurrenceId.isEmpty() && exceptions.count(row.uid))
            continue;
        if (isStored(db, row.rec)) {
            ++report.duplicates;
            continue;
        }
        // One event, one row: it keeps the event's UID. Instances of a series each get one of their
        // own, as each goes out again as an event of its own.
        const qint64 id = store::insert(db, row.rec, row.recurring ? QString() : row.uid, row.source);
        if (row.remind)
            store::setReminderLead(db, id, row.remind);
        ++report.added;
        report.shortened += row.shortened ? 1 : 0;
    }
    transaction.commit();
    return report;
}

} // namespace ical
