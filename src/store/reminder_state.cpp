#include "store/reminder_state.h"

#include "platform/database.h"
#include "platform/failure.h"

namespace store {
namespace {
const QString kMoment = QStringLiteral("yyyy/MM/dd HH:mm:ss");
}

std::optional<int> reminderLead(platform::Database& db, qint64 id)
{
    const auto rows = db.query(QStringLiteral("SELECT P_REMIND FROM PLAN_DAT WHERE ID = ?"), {id});
    if (rows.empty() || rows.front().at(0).isNull())
        return std::nullopt;
    return rows.front().at(0).toInt();
}

void setReminderLead(platform::Database& db, qint64 id, std::optional<int> minutes)
{
    db.run(QStringLiteral("UPDATE PLAN_DAT SET P_REMIND = ? WHERE ID = ?"), {minutes ? QVariant(*minutes) : QVariant(), id});
}

QString occurrenceKey(const QDateTime& startsAt)
{
    return startsAt.toString(QStringLiteral("yyyy/MM/dd HH:mm"));
}

std::vector<ReminderState> reminderStates(platform::Database& db, const QString& fromDay)
{
    try {
        db.run(QStringLiteral("DELETE FROM REMINDER_STATE WHERE OCCURRENCE < ?"), {fromDay});
    } catch (const platform::Failure&) {
        // A file that cannot be written keeps them; they are not read.
    }
    std::vector<ReminderState> states;
    for (const platform::Row& v : db.query(QStringLiteral("SELECT ID, OCCURRENCE, SNOOZED_UNTIL, ACKED FROM REMINDER_STATE"
                                                          " WHERE OCCURRENCE >= ?"), {fromDay}))
        states.push_back({v.at(0).toLongLong(), v.at(1).toString(), QDateTime::fromString(v.at(2).toString(), kMoment),
                          v.at(3).toInt() != 0});
    return states;
}

void markShown(platform::Database& db, qint64 id, const QString& occurrence)
{
    db.run(QStringLiteral("INSERT INTO REMINDER_STATE (ID, OCCURRENCE) VALUES (?, ?)"
                          " ON CONFLICT (ID, OCCURRENCE) DO UPDATE SET SNOOZED_UNTIL = NULL"),
           {id, occurrence});
}

void snoozeReminder(platform::Database& db, qint64 id, const QString& occurrence, const QDateTime& until)
{
    db.run(QStringLiteral("INSERT INTO REMINDER_STATE (ID, OCCURRENCE, SNOOZED_UNTIL) VALUES (?, ?, ?)"
                          " ON CONFLICT (ID, OCCURRENCE) DO UPDATE SET SNOOZED_UNTIL = excluded.SNOOZED_UNTIL"),
           {id, occurrence, until.toString(kMoment)});
}

void acknowledgeReminder(platform::Database& db, qint64 id, const QString& occurrence)
{
    db.run(QStringLiteral("INSERT INTO REMINDER_STATE (ID, OCCURRENCE, ACKED) VALUES (?, ?, 1)"
                          " ON CONFLICT (ID, OCCURRENCE) DO UPDATE SET ACKED = 1, SNOOZED_UNTIL = NULL"),
           {id, occurrence});
}

} // namespace store
