#include "reminders/reminders.h"

#include "platform/clock.h"
#include "platform/database.h"
#include "platform/failure.h"
#include "state/module1.h"
#include "state/text.h"

#include <algorithm>
#include <limits>

namespace {
// The reminder in the secretary's voice: the user's name, the hour and minute as stored, the subject.
const QString kReminder = QStringLiteral("%1、%2時%3分から「%4」です。");
const QString kReminderPlace = QStringLiteral("場所：");
const QString kReminderNotice = QStringLiteral("備考：");
const QString kGrouped = QStringLiteral("%1、%2件の予定があります。");
const QString kGroupedLine = QStringLiteral("%1時%2分から「%3」");
const QString kMissedLine = QStringLiteral("%1時%2分　%3");
const QString kOthers = QStringLiteral("他%1件");
// Rows this many days ahead are read: the longest lead reaches that far.
constexpr int kDaysAhead = store::kRemindLongest / (24 * 60) + 1;

// An appointment is past once its own minute has gone by: a reminder at the very time of the
// appointment is still given when the timer fires a moment late.
QDateTime endOfMinute(const QDateTime& startsAt)
{
    return startsAt.addSecs(60);
}

bool urgent(const store::PLAN_REC& a)
{
    return a.P_IMPORTANCE == 0;
}
} // namespace

QList<ReminderText> reminderTexts(const QList<store::PLAN_REC>& due, const QString& myName)
{
    QList<ReminderText> texts;
    if (due.size() <= kSeparateReminders) {
        for (const store::PLAN_REC& a : due) {
            QString body = kReminder.arg(myName, a.P_HOUR, a.P_MIN, a.P_DETAIL);
            if (!state::trimBlanks(a.P_PLACE).isEmpty())
                body += QLatin1Char('\n') + kReminderPlace + a.P_PLACE;
            if (!state::trimBlanks(a.P_NOTICE).isEmpty())
                body += QLatin1Char('\n') + kReminderNotice + a.P_NOTICE;
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

ReminderText missedText(const QList<store::PLAN_REC>& missed)
{
    QStringList lines;
    for (const store::PLAN_REC& a : missed.first(std::min<qsizetype>(missed.size(), kMissedLines)))
        lines << kMissedLine.arg(a.P_HOUR, a.P_MIN, a.P_DETAIL);
    if (missed.size() > kMissedLines)
        lines << kOthers.arg(missed.size() - kMissedLines);
    return {lines.join(QLatin1Char('\n')), std::ranges::any_of(missed, urgent)};
}

QDateTime reminderTime(const QDateTime& startsAt, std::optional<int> ownLead, int defaultLead)
{
    const int lead = ownLead.value_or(defaultLead);
    if (lead < 0 || !startsAt.isValid())
        return {};
    return startsAt.addSecs(-60LL * std::min(lead, store::kRemindLongest));
}

ReminderPlan planReminders(const std::vector<PlannedRow>& rows, const std::vector<store::ReminderState>& states,
                           const QDateTime& now, int defaultLead, bool startingUp)
{
    ReminderPlan plan;
    for (const PlannedRow& planned : rows) {
        const store::PLAN_REC& a = planned.row.rec;
        bool hourOk = false;
        bool minuteOk = false;
        const QTime time(a.P_HOUR.toInt(&hourOk), a.P_MIN.toInt(&minuteOk));
        const QDate day = QDate::fromString(a.P_DATE, QStringLiteral("yyyy/MM/dd"));
        // A whole day has no moment to come before by the settings' minutes: it is reminded of
        // only with a lead of its own (the day before, say).
        if (!hourOk || !minuteOk || !time.isValid() || !day.isValid() || (a.ALL_DAY && !planned.lead))
            continue;
        Reminder r{planned.row.id, {}, {}, QDateTime(day, time), a};
        r.occurrence = store::occurrenceKey(r.startsAt);
        const auto state = std::ranges::find_if(
            states, [&r](const store::ReminderState& s) { return s.id == r.id && s.occurrence == r.occurrence; });
        if (state != states.end()) {
            if (!state->acked && state->snoozedUntil.isValid()) {
                r.remindAt = state->snoozedUntil;
                r.snoozed = true;
                plan.pending.push_back(r);
            }
            continue;
        }
        r.remindAt = reminderTime(r.startsAt, planned.lead, defaultLead);
        if (!r.remindAt.isValid())
            continue;
        if (r.remindAt > now || now < endOfMinute(r.startsAt))
            plan.pending.push_back(r);
        else if (startingUp && day == now.date())
            plan.missed.push_back(r);
    }
    std::ranges::stable_sort(plan.pending, [](const Reminder& a, const Reminder& b) { return a.remindAt < b.remindAt; });
    std::ranges::stable_sort(plan.missed, [](const Reminder& a, const Reminder& b) { return a.startsAt < b.startsAt; });
    return plan;
}

Reminders::Reminders(state::Module1& module, QObject* parent) : QObject(parent), m_module(module), m_timer(this)
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &Reminders::check);
}

void Reminders::plan(int defaultLead)
{
    m_pending.clear();
    m_timer.stop();
    platform::Database& db = m_module.db();
    const QDateTime now = platform::Clock::now();
    const QDate today = now.date();
    std::vector<PlannedRow> rows;
    db.forEachRow(QStringLiteral("SELECT ") + store::kRowColumns
                      + QStringLiteral(", P_REMIND FROM PLAN_DAT WHERE P_DATE BETWEEN ? AND ?"),
                  {state::dateKey(today), state::dateKey(today.addDays(kDaysAhead))}, [&rows](const platform::Row& v) {
                      rows.push_back({store::storedRow(v), v.back().isNull() ? std::nullopt : std::optional(v.back().toInt())});
                      return true;
                  });
    std::vector<store::ReminderState> states;
    try {
        states = store::reminderStates(db, state::dateKey(today.addDays(-1)));
    } catch (const platform::Failure&) {
        // A file without the table (one that could not be given it) reminds as before.
    }
    ReminderPlan plan = planReminders(rows, states, now, defaultLead, m_startingUp);
    m_startingUp = false;
    m_pending = std::move(plan.pending);
    m_missed << plan.missed;
    arm();
}

void Reminders::check()
{
    const QDateTime now = platform::Clock::now();
    QList<Reminder> come;
    while (!m_pending.empty() && m_pending.front().remindAt <= now) {
        const Reminder& first = m_pending.front();
        // A reminder that came while the machine slept is given only if its appointment has
        // not begun meanwhile; otherwise it is told as missed.
        if (first.snoozed || now < endOfMinute(first.startsAt))
            come.push_back(first);
        else
            m_missed.push_back(first);
        m_pending.erase(m_pending.begin());
    }
    const QList<Reminder> missed = std::exchange(m_missed, {});
    arm();
    if (come.isEmpty() && missed.isEmpty())
        return; // the look at the clock of every minute touches no file
    record([&](platform::Database& db) {
        for (const Reminder& r : come)
            store::markShown(db, r.id, r.occurrence);
        // Told once: the next start does not tell them again.
        for (const Reminder& r : missed)
            store::acknowledgeReminder(db, r.id, r.occurrence);
    });
    // Told after the plan is settled: a handler may wait in a box, or plan anew.
    if (!come.isEmpty())
        emit due(come);
    if (!missed.isEmpty())
        emit this->missed(missed);
}

void Reminders::snooze(const QList<Reminder>& reminders, int minutes)
{
    const QDateTime until = platform::Clock::now().addSecs(60LL * minutes);
    record([&](platform::Database& db) {
        for (const Reminder& r : reminders)
            store::snoozeReminder(db, r.id, r.occurrence, until);
    });
    for (Reminder r : reminders) {
        r.remindAt = until;
        r.snoozed = true;
        m_pending.insert(std::ranges::upper_bound(m_pending, until, {}, &Reminder::remindAt), r);
    }
    arm();
}

void Reminders::acknowledge(const QList<Reminder>& reminders)
{
    record([&](platform::Database& db) {
        for (const Reminder& r : reminders)
            store::acknowledgeReminder(db, r.id, r.occurrence);
    });
}

void Reminders::record(const std::function<void(platform::Database&)>& write)
{
    // The reminder itself matters more than its record: one that cannot be written (a file
    // made read-only, a lock held too long) is given as usual, and only a restart may repeat it.
    try {
        platform::Database& db = m_module.db();
        platform::Transaction transaction(db);
        write(db);
        transaction.commit();
    } catch (const platform::Failure&) {
    }
}

void Reminders::arm()
{
    if (m_pending.empty() && m_missed.isEmpty()) {
        m_timer.stop();
        return;
    }
    const qint64 wait = m_pending.empty() ? 0 : platform::Clock::now().msecsTo(m_pending.front().remindAt);
    m_timer.start(int(std::clamp<qint64>(m_missed.isEmpty() ? wait : 0, 0, std::numeric_limits<int>::max())));
}
