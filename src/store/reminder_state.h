#pragma once

#include <QDateTime>
#include <QString>

#include <optional>
#include <vector>

namespace platform {
class Database;
}

// Each appointment's own reminder time (P_REMIND) and what the user did with its reminders
// (REMINDER_STATE), both in sec.mdb so that they outlive the program (version 3 of its tables).
namespace store {

// The lead of an appointment in minutes before it; none (std::nullopt) follows the settings.
inline constexpr int kRemindNever = -1;
inline constexpr int kRemindDayBefore = 24 * 60;
// The longest lead a calendar file may bring (a week): longer ones are cut to it.
inline constexpr int kRemindLongest = 7 * 24 * 60;

std::optional<int> reminderLead(platform::Database& db, qint64 id);
void setReminderLead(platform::Database& db, qint64 id, std::optional<int> minutes);

// What was done with the reminder of one occurrence of an appointment.
struct ReminderState {
    qint64 id = 0;
    QString occurrence;     // its start, "YYYY/MM/DD HH:MM"
    QDateTime snoozedUntil; // invalid unless snoozed
    bool acked = false;

    friend bool operator==(const ReminderState&, const ReminderState&) = default;
};
QString occurrenceKey(const QDateTime& startsAt);

// The states of occurrences from the day given ("YYYY/MM/DD") on; older ones are deleted.
std::vector<ReminderState> reminderStates(platform::Database& db, const QString& fromDay);
void markShown(platform::Database& db, qint64 id, const QString& occurrence);
void snoozeReminder(platform::Database& db, qint64 id, const QString& occurrence, const QDateTime& until);
void acknowledgeReminder(platform::Database& db, qint64 id, const QString& occurrence);

} // namespace store
