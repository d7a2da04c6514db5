#include "reminders/reminders.h"

#include "platform/clock.h"
#include "platform/database.h"
#include "state/text.h"

#include <algorithm>
#include <limits>

namespace {
// The reminder in the secretary's voice: the user's name, the hour and minute as stored, the subject.
const QString kReminder = QStringLiteral("%1、%2時%3分から「%4」です。");
const QString kReminderPlace = QStringLiteral("場所：");
const QString kGrouped = QStringLiteral("%1、%2件の予定があります。");
const QString kGroupedLine = QStringLiteral("%1時%2分から「%3」");
const QString kOthers = QStringLiteral("他%1件");

// An appointment is past once its own minute has gone by: a reminder at the very time of the
// appointment is still given when the timer fires a moment late.
QDateTime endOfMinute(const QDateTime& startsAt)
{
    return startsAt.addSecs(60);
}
} // namespace

QList<ReminderText> reminderTexts(const QList<store::PLAN_REC>& due, const QString& myName)
{
    const auto urgent = [](const store::PLAN_REC& a) { return a.P_IMPORTANCE == 0; };
    QList<ReminderText> texts;
    if (due.size() <= kSeparateReminders) {
        for (const store::PLAN_REC& a : due) {
            QString body = kReminder.arg(myName, a.P_HOUR, a.P_MIN, a.P_DETAIL);
            if (!state::trimBlanks(a.P_PLACE).isEmpty())
                body += QLatin1Char('\n') + kReminderPlace + a.P_PLACE;
            texts.push_back({body, urgent(a)});
        }
        return texts;
    }
    QStringList lines{kGrouped.arg(myName, QString::number(due.size()))};
    for (const store::PLAN_REC& a : due.first(kSeparateReminders))
        lines << kGroupedLine.arg(a.P_HOUR, a.P_MIN, a.P_DETAIL);
    lines << kOthers.arg(due.size() - kSeparateReminders);
    texts.push_back({lines.join(QLatin1Char('\n')), std::ranges::any_of(due, urgent)});
    return texts;
}

Reminders::Reminders(QObject* parent) : QObject(parent), m_timer(this)
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &Reminders::check);
}

void Reminders::plan(platform::Database& db, const QString& today, int leadMinutes)
{
    m_pending.clear();
    m_timer.stop();
    // The reminders given on another day can never come again.
    m_given.removeIf([&today](const QString& key) { return !key.startsWith(today); });
    const QDate day = QDate::fromString(today, QStringLiteral("yyyy/MM/dd"));
    if (leadMinutes < 0 || !day.isValid())
        return;
    const QDateTime now = platform::Clock::now();
    const auto rows = db.query(QStringLiteral("SELECT ") + store::kRowColumns + QStringLiteral(" FROM PLAN_DAT WHERE P_DATE = ?"),
                               {today});
    for (const auto& values : rows) {
        const store::StoredRow row = store::storedRow(values);
        bool hourOk = false;
        bool minuteOk = false;
        const QTime time(row.rec.P_HOUR.toInt(&hourOk), row.rec.P_MIN.toInt(&minuteOk));
        const QString key = QStringLiteral("%1 %2 %3").arg(today).arg(row.id).arg(time.toString(QStringLiteral("HH:mm")));
        const QDateTime startsAt(day, time);
        if (!hourOk || !minuteOk || !time.isValid() || m_given.contains(key) || endOfMinute(startsAt) <= now)
            continue;
        m_pending.push_back({key, startsAt.addSecs(-60LL * leadMinutes), startsAt, row.rec});
    }
    std::stable_sort(m_pending.begin(), m_pending.end(),
                     [](const Pending& a, const Pending& b) { return a.remindAt < b.remindAt; });
    arm();
}

void Reminders::check()
{
    const QDateTime now = platform::Clock::now();
    QList<store::PLAN_REC> come;
    while (!m_pending.empty() && m_pending.front().remindAt <= now) {
        const Pending& first = m_pending.front();
        m_given.insert(first.key);
        // A reminder that came while the machine slept is given only if its appointment has
        // not gone by meanwhile.
        if (now < endOfMinute(first.startsAt))
            come.push_back(first.appointment);
        m_pending.erase(m_pending.begin());
    }
    arm();
    // Told after the plan is settled: a handler may wait in a box, or plan anew.
    if (!come.isEmpty())
        emit due(come);
}

void Reminders::arm()
{
    if (m_pending.empty()) {
        m_timer.stop();
        return;
    }
    const qint64 wait = platform::Clock::now().msecsTo(m_pending.front().remindAt);
    m_timer.start(int(std::clamp<qint64>(wait, 0, std::numeric_limits<int>::max())));
}
