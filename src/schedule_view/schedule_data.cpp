#include "schedule_view/schedule_data.h"

#include "holidays/japanese_holidays.h"
#include "platform/database.h"
#include "state/text.h"

#include <algorithm>

namespace schedule {
namespace {
const QString kWeekdays = QStringLiteral("月火水木金土日");

// A stored hour or minute text as a number within its range; a text that is no number (another
// program's) counts as 0, so the appointment still shows.
int clockPart(const QString& text, int last)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    return ok ? std::clamp(value, 0, last) : 0;
}

QString timeText(const QTime& time)
{
    return state::timeCaption(state::twoDigits(time.hour()), state::twoDigits(time.minute()));
}
} // namespace

namespace {
// One appointment as each day of first to last that it covers shows it: an appointment that goes
// on past its day is drawn on every day it lasts, from midnight on the days after its first.
void addDays(std::vector<Appointment>& out, const store::PLAN_REC& rec, qint64 id, const QDate& first, const QDate& last,
             bool repeating)
{
    Appointment appointment;
    appointment.id = id;
    appointment.repeating = repeating;
    appointment.date = QDate::fromString(rec.P_DATE, QStringLiteral("yyyy/MM/dd"));
    // A date that is no date (another program's text) falls in no day of a view.
    if (!appointment.date.isValid())
        return;
    appointment.start = rec.ALL_DAY ? QTime(0, 0) : QTime(clockPart(rec.P_HOUR, 23), clockPart(rec.P_MIN, 59));
    appointment.allDay = rec.ALL_DAY;
    appointment.subject = rec.P_DETAIL;
    appointment.place = rec.P_PLACE;
    appointment.importance = rec.P_IMPORTANCE;
    QDate lastDay = appointment.date;
    if (rec.hasEnd()) {
        const QDate endDate = QDate::fromString(rec.END_DATE, QStringLiteral("yyyy/MM/dd"));
        if (endDate.isValid() && endDate >= appointment.date) {
            const QTime endTime = rec.ALL_DAY ? QTime(0, 0) : QTime(clockPart(rec.END_HOUR, 23), clockPart(rec.END_MIN, 59));
            appointment.end = QDateTime(rec.ALL_DAY ? endDate.addDays(1) : endDate, endTime);
            // An end at midnight closes the day before.
            lastDay = rec.ALL_DAY || endTime != QTime(0, 0) || endDate == appointment.date ? endDate : endDate.addDays(-1);
        }
    }
    for (QDate day = std::max(appointment.date, first); day <= std::min(lastDay, last); day = day.addDays(1)) {
        Appointment part = appointment;
        part.date = day;
        if (day != appointment.date)
            part.start = QTime(0, 0);
        out.push_back(std::move(part));
    }
}
} // namespace

std::vector<Appointment> loadRange(platform::Database& db, const QDate& first, const QDate& last)
{
    std::vector<Appointment> result;
    // Those begun before the range that still go on in it: few, found along their own index (the
    // "+" keeps the engine from walking every past row of the date index instead).
    db.forEachRow(QStringLiteral("SELECT ") + store::kRowColumns
                      + QStringLiteral(" FROM PLAN_DAT WHERE END_DATE > P_DATE AND END_DATE >= ? AND +P_DATE < ?"),
                  {state::dateKey(first), state::dateKey(first)}, [&](const platform::Row& values) {
                      const store::StoredRow row = store::storedRow(values);
                      addDays(result, row.rec, row.id, first, last, row.seriesId != 0);
                      return true;
                  });
    // The statement names the range on the date alone, so the engine walks PLAN_DAT_KEY from the
    // first day to the last and reads nothing else; the index also gives the order.
    db.forEachRow(QStringLiteral("SELECT ") + store::kRowColumns
                      + QStringLiteral(" FROM PLAN_DAT WHERE P_DATE BETWEEN ? AND ?"
                                       " ORDER BY P_DATE, P_HOUR, P_MIN, P_DETAIL"),
                  {state::dateKey(first), state::dateKey(last)}, [&](const platform::Row& values) {
                      const store::StoredRow row = store::storedRow(values);
                      addDays(result, row.rec, row.id, first, last, row.seriesId != 0);
                      return true;
                  });
    // Each day's appointments in the order of their time on that day.
    std::stable_sort(result.begin(), result.end(), [](const Appointment& a, const Appointment& b) {
        return std::pair(a.date, a.start) < std::pair(b.date, b.start);
    });
    return result;
}

std::optional<store::StoredRow> loadRow(platform::Database& db, qint64 id)
{
    const std::vector<platform::Row> rows = db.query(
        QStringLiteral("SELECT ") + store::kRowColumns + QStringLiteral(" FROM PLAN_DAT WHERE rowid = ?"), {id});
    if (rows.empty())
        return std::nullopt;
    return store::storedRow(rows.front());
}

QString weekdayName(const QDate& date)
{
    return date.isValid() ? QString(kWeekdays[date.dayOfWeek() - 1]) : QString();
}

int endMinute(const Appointment& appointment)
{
    const int start = appointment.start.hour() * 60 + appointment.start.minute();
    int end = start + kShortMinutes;
    if (appointment.end) {
        const qint64 days = appointment.date.daysTo(appointment.end->date());
        end = days > 0 ? 24 * 60 : appointment.end->time().hour() * 60 + appointment.end->time().minute();
    }
    return std::clamp(end, start + kShortMinutes, 24 * 60);
}

QString dayName(const QDate& date, int count)
{
    return QStringLiteral("%1年%2月%3日（%4）%5 %6件")
        .arg(date.year())
        .arg(date.month())
        .arg(date.day())
        .arg(weekdayName(date), holidays::holidayName(date))
        .arg(count);
}

QString appointmentName(const Appointment& a)
{
    QString when;
    if (a.allDay)
        when = QStringLiteral("終日");
    else if (a.end)
        when = timeText(a.start) + QStringLiteral("〜")
               + (a.end->date() == a.date ? QString() : QStringLiteral("%1月%2日").arg(a.end->date().month()).arg(a.end->date().day()))
               + timeText(a.end->time());
    else
        when = timeText(a.start);
    if (a.repeating)
        when += store::kSeriesMark;
    QString name = QStringLiteral("%1月%2日（%3）%4 %5").arg(a.date.month()).arg(a.date.day()).arg(weekdayName(a.date), when, a.subject);
    if (!a.place.isEmpty())
        name += QLatin1Char(' ') + a.place;
    if (a.importance == kHighImportance)
        name += QStringLiteral(" 重要度高");
    return name;
}

} // namespace schedule
