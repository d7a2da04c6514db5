#include "store/storage.h"

#include "platform/database.h"
#include "platform/failure.h"
#include "store/plan_store.h"

#include <QFile>

#include <functional>

namespace store {
namespace {

const QString kNewerNotice = QStringLiteral(
    "このデータベースは新しい版のミルドカで作られたため、読むことだけができます。予定の登録・変更・削除はできません。");
const QString kNewerRefusal = QStringLiteral(
    "このデータベースは新しい版のミルドカで作られたため、変更できません（読むことだけができます）。");
const QString kReadOnlyOldRefusal = QStringLiteral(
    "データベースに書き込めません（ファイルまたはフォルダーが読み取り専用です）。"
    "古い版のファイルのため、読むことだけができます。");

// Version 2: an id that is never given again, a UID made once, an end, all-day, and the event as
// another calendar wrote it. Every row keeps its seven values and its rowid as its id, so the
// sync's links stay with their rows; its UID is the one a server already knows it by, else the
// one our export has given it so far, so no calendar that saw it before gets it twice.
void toVersion2(platform::Database& db)
{
    db.run(QStringLiteral(
        "CREATE TABLE PLAN_DAT_2 ("
        " P_DATE TEXT NOT NULL CONSTRAINT P_DATE_SIZE CHECK (length(P_DATE) <= 10),"
        " P_HOUR TEXT NOT NULL CONSTRAINT P_HOUR_SIZE CHECK (length(P_HOUR) <= 2),"
        " P_MIN TEXT NOT NULL CONSTRAINT P_MIN_SIZE CHECK (length(P_MIN) <= 2),"
        " P_DETAIL TEXT NOT NULL CONSTRAINT P_DETAIL_SIZE CHECK (length(P_DETAIL) <= 255),"
        " P_IMPORTANCE INTEGER NOT NULL CONSTRAINT P_IMPORTANCE_SIZE CHECK (P_IMPORTANCE BETWEEN -32768 AND 32767),"
        " P_PLACE TEXT NOT NULL CONSTRAINT P_PLACE_SIZE CHECK (length(P_PLACE) <= 255),"
        " P_NOTICE TEXT NOT NULL CONSTRAINT P_NOTICE_SIZE CHECK (length(P_NOTICE) <= 255),"
        " ID INTEGER PRIMARY KEY AUTOINCREMENT,"
        " UID TEXT NOT NULL DEFAULT (lower(hex(randomblob(4)) || '-' || hex(randomblob(2)) || '-4'"
        " || substr(hex(randomblob(2)), 2) || '-' || substr('89ab', 1 + abs(random() % 4), 1)"
        " || substr(hex(randomblob(2)), 2) || '-' || hex(randomblob(6)))),"
        " END_DATE TEXT NOT NULL DEFAULT '' CONSTRAINT END_DATE_SIZE CHECK (length(END_DATE) <= 10),"
        " END_HOUR TEXT NOT NULL DEFAULT '' CONSTRAINT END_HOUR_SIZE CHECK (length(END_HOUR) <= 2),"
        " END_MIN TEXT NOT NULL DEFAULT '' CONSTRAINT END_MIN_SIZE CHECK (length(END_MIN) <= 2),"
        " ALL_DAY INTEGER NOT NULL DEFAULT 0 CONSTRAINT ALL_DAY_FLAG CHECK (ALL_DAY IN (0, 1)),"
        " SOURCE TEXT"
        ") STRICT"));
    const bool synced = db.hasTable(QStringLiteral("SYNC_LINK")) && db.hasTable(QStringLiteral("SYNC_ITEM"));
    db.forEachRow(QStringLiteral("SELECT rowid, P_DATE, P_HOUR, P_MIN, P_DETAIL, P_IMPORTANCE, P_PLACE, P_NOTICE FROM PLAN_DAT"),
                  {}, [&db](const platform::Row& v) {
                      const PLAN_REC rec{v.at(1).toString(), v.at(2).toString(), v.at(3).toString(), v.at(4).toString(),
                                         qint16(v.at(5).toInt()), v.at(6).toString(), v.at(7).toString()};
                      db.run(QStringLiteral("INSERT INTO PLAN_DAT_2 (ID, P_DATE, P_HOUR, P_MIN, P_DETAIL, P_IMPORTANCE,"
                                            " P_PLACE, P_NOTICE, UID) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"),
                             {v.at(0), rec.P_DATE, rec.P_HOUR, rec.P_MIN, rec.P_DETAIL, v.at(5), rec.P_PLACE, rec.P_NOTICE,
                              firstUid(rec)});
                      return true;
                  });
    // An instance of a repeating event shares the series' UID; it keeps one of its own.
    if (synced)
        db.run(QStringLiteral("UPDATE PLAN_DAT_2 SET UID = (SELECT i.UID FROM SYNC_LINK l JOIN SYNC_ITEM i"
                              " ON i.HREF = l.HREF WHERE l.ROW_ID = PLAN_DAT_2.ID)"
                              " WHERE ID IN (SELECT l.ROW_ID FROM SYNC_LINK l JOIN SYNC_ITEM i ON i.HREF = l.HREF"
                              " WHERE i.SERIES = 0 AND i.UID <> '')"));
    db.run(QStringLiteral("DROP TABLE PLAN_DAT"));
    db.run(QStringLiteral("ALTER TABLE PLAN_DAT_2 RENAME TO PLAN_DAT"));
    db.run(QStringLiteral("CREATE INDEX PLAN_DAT_KEY ON PLAN_DAT (P_DATE, P_HOUR, P_MIN, P_DETAIL)"));
    db.run(QStringLiteral("CREATE INDEX PLAN_DAT_UNTIL ON PLAN_DAT (END_DATE) WHERE END_DATE > P_DATE"));
}

// Version 3: each appointment's own reminder time (none: the settings' lead holds, as before),
// and what the user did with each reminder, so a snooze or an acknowledgement outlives the program.
void toVersion3(platform::Database& db)
{
    db.run(QStringLiteral("ALTER TABLE PLAN_DAT ADD COLUMN P_REMIND INTEGER"
                          " CONSTRAINT P_REMIND_RANGE CHECK (P_REMIND BETWEEN -1 AND 10080)"));
    db.run(QStringLiteral("CREATE TABLE IF NOT EXISTS REMINDER_STATE (ID INTEGER NOT NULL, OCCURRENCE TEXT NOT NULL, SNOOZED_UNTIL TEXT,"
                          " ACKED INTEGER NOT NULL DEFAULT 0, PRIMARY KEY (ID, OCCURRENCE)) STRICT"));
}

// Version 4: repeating appointments kept as rules, their occurrences linked to them.
void toVersion4(platform::Database& db)
{
    for (const char* column : {"SERIES_ID INTEGER", "RECURRENCE_ID TEXT NOT NULL DEFAULT ''",
                               "EXCEPTION INTEGER NOT NULL DEFAULT 0 CONSTRAINT EXCEPTION_FLAG CHECK (EXCEPTION IN (0, 1))"})
        db.run(QStringLiteral("ALTER TABLE PLAN_DAT ADD COLUMN ") + QLatin1String(column));
    db.run(QStringLiteral("CREATE INDEX PLAN_DAT_SERIES ON PLAN_DAT (SERIES_ID, RECURRENCE_ID) WHERE SERIES_ID IS NOT NULL"));
    db.run(QStringLiteral(
        "CREATE TABLE PLAN_SERIES (ID INTEGER PRIMARY KEY AUTOINCREMENT, UID TEXT NOT NULL, DTSTART TEXT NOT NULL,"
        " TZID TEXT NOT NULL DEFAULT '', RRULE TEXT NOT NULL DEFAULT '', RDATE TEXT NOT NULL DEFAULT '',"
        " EXDATE TEXT NOT NULL DEFAULT '', P_DETAIL TEXT NOT NULL, P_IMPORTANCE INTEGER NOT NULL, P_PLACE TEXT NOT NULL,"
        " P_NOTICE TEXT NOT NULL, LENGTH INTEGER NOT NULL DEFAULT -1, ALL_DAY INTEGER NOT NULL DEFAULT 0,"
        " HORIZON TEXT NOT NULL DEFAULT '', SOURCE TEXT) STRICT"));
}

// Each step brings a file from the version before it to its own. A later version is one more
// entry here (and the same change in resources/schema.sql, which makes new files).
struct Step {
    int version;
    void (*apply)(platform::Database&);
};
constexpr Step kSteps[] = {{2, toVersion2}, {3, toVersion3}, {4, toVersion4}};
static_assert(std::size(kSteps) > 0 && kSteps[std::size(kSteps) - 1].version == kSchemaVersion);

// Every step, and then beforeChange, inside one transaction: all or nothing.
void migrateWith(platform::Database& db, const std::function<void()>& beforeChange)
{
    platform::Transaction transaction(db);
    if (beforeChange)
        beforeChange();
    const int from = schemaVersion(db);
    for (const Step& step : kSteps)
        if (step.version > from)
            step.apply(db);
    db.run(QStringLiteral("PRAGMA user_version = %1").arg(kSchemaVersion));
    transaction.commit();
}

} // namespace

int schemaVersion(platform::Database& db)
{
    return db.query(QStringLiteral("PRAGMA user_version")).front().at(0).toInt();
}

void migrate(platform::Database& db)
{
    migrateWith(db, {});
}

Opened openAppointments(const QString& path)
{
    Opened result{platform::Database::open(path), {}};
    platform::Database& db = *result.db;
    // A file that is no database of ours (no PLAN_DAT) is left as it is, to be named as such
    // where it is first used; so is one that another program holds locked now: each command
    // says so, as with any file, and the next start migrates it.
    int version = kSchemaVersion;
    try {
        version = schemaVersion(db);
        if (version != kSchemaVersion && !db.hasTable(kTable))
            version = kSchemaVersion;
    } catch (const platform::Failure&) {
    }
    if (version == kSchemaVersion)
        return result;
    if (version > kSchemaVersion) {
        result.db = platform::Database::open(path, true);
        result.db->refuseWrites(kNewerRefusal);
        result.notice = kNewerNotice;
        return result;
    }
    // Read as it is into memory and brought forward there: the file is never changed.
    const auto readOnlyCopy = [&db] {
        std::unique_ptr<platform::Database> copy = platform::Database::copyInMemory(db);
        migrate(*copy);
        copy->refuseWrites(kReadOnlyOldRefusal);
        return copy;
    };
    if (!db.writable()) {
        result.db = readOnlyCopy();
        return result;
    }
    try {
        // The copy is taken under the write lock of the migration, so no other program changes
        // the file in between.
        migrateWith(db, [&path] {
            const QString backup = path + QStringLiteral(".bak");
            if (!QFile::exists(backup) && !QFile::copy(path, backup))
                throw platform::Failure(QStringLiteral("古い版のデータベースの控え「%1」を作れないため、新しい版に移せません"
                                                       "（ディスクがいっぱいか、フォルダーに書き込めません）。")
                                            .arg(backup));
        });
    } catch (const platform::Failure& failure) {
        // Left as it was (a folder that cannot be written, a full disk): the appointments are
        // still shown, and the user learns once why nothing can be changed.
        result.db = readOnlyCopy();
        result.notice = failure.description();
    }
    return result;
}

} // namespace store
