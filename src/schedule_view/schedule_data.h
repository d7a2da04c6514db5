#pragma once

#include "store/plan_store.h"

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QTime>

#include <optional>
#include <vector>

namespace platform {
class Database;
}

namespace schedule {

// One appointment as the week and month views draw it.
struct Appointment {
    qint64 id = 0;
    QDate date;
    QTime start;
    // When it ends; none when the appointment has no end, and the views then draw a short block.
    std::optional<QDateTime> end;
    // A day without a time: drawn in the band above the hours.
    bool allDay = false;
    QString subject;
    QString place;
    qint16 importance = 1;
    bool repeating = false; // an occurrence of a repeating appointment
};

// How long a block without an end is drawn, in minutes.
constexpr int kShortMinutes = 30;
// The importance that the views mark (0: 高).
constexpr qint16 kHighImportance = 0;

// The appointments on the days first to last, both included, one entry for each day an appointment
// covers, in the order of date and time. Reads along the date indexes, so the length of the whole
// table does not count.
std::vector<Appointment> loadRange(platform::Database& db, const QDate& first, const QDate& last);
// One stored row by its id, for the change form; none when it is gone.
std::optional<store::StoredRow> loadRow(platform::Database& db, qint64 id);

// The weekday as one character, "月" for Monday to "日" for Sunday.
QString weekdayName(const QDate& date);
// The minutes of the day at which an appointment ends on its own day (24:00 at most), never less
// than a short block's.
int endMinute(const Appointment& appointment);

// What a screen reader says for a day: "2027年1月11日（月）成人の日 2件".
QString dayName(const QDate& date, int count);
// ...and for an appointment: "12月8日（火）10時00分〜11時00分 会議 本社", marked when its importance
// is high.
QString appointmentName(const Appointment& appointment);

} // namespace schedule
