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

std::vector<Appointment> loadRange(platform::Database& db, const QDate& first, const QDate& last)
{
    std::vector<Appointment> result;
    // The statement names the range on the date alone, so the engine walks PLAN_DAT_KEY from the
    // first day to the last and reads nothing else; the index also gives the order.
    db.forEachRow(QStringLiteral("SELECT ") + store::kRowColumns
                      + QStringLiteral(" FROM PLAN_DAT WHERE P_DATE BETWEEN ? AND ?"
                                       " ORDER BY P_DATE, P_HOUR, P_MIN, P_DETAIL"),
                  {state::dateKey(first), state::dateKey(last)}, [&result](const platform::Row& values) {
                      const store::StoredRow row = store::storedRow(values);
                      Appointment appointment;
                      appointment.id = row.id;
                      appointment.date = QDate::fromString(row.rec.P_DATE, QStringLiteral("yyyy/MM/dd"));
                      appointment.start = QTime(clockPart(row.rec.P_HOUR, 23), clockPart(row.rec.P_MIN, 59));
                      appointment.subject = row.rec.P_DETAIL;
                      appointment.place = row.rec.P_PLACE;
                      appointment.importance = row.rec.P_IMPORTANCE;
                      // A date that is no date (another program's text) falls in no day of a view.
                      if (appointment.date.isValid())
                          result.push_back(std::move(appointment));
                      return true;
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
    QString name = QStringLiteral("%1月%2日（%3）%4 %5").arg(a.date.month()).arg(a.date.day()).arg(weekdayName(a.date), when, a.subject);
    if (!a.place.isEmpty())
        name += QLatin1Char(' ') + a.place;
    if (a.importance == kHighImportance)
        name += QStringLiteral(" 重要度高");
    return name;
}

} // namespace schedule
