#include "day_turns/day_turns.h"

#include "platform/clock.h"

#include <algorithm>

namespace {
// The first hour of each part of the day after the first.
constexpr int kTurnHours[] = {12, 17, 22};
} // namespace

int partOfDay(int hour)
{
    return int(std::upper_bound(std::begin(kTurnHours), std::end(kTurnHours), hour) - std::begin(kTurnHours));
}

QDateTime nextDayTurn(const QDateTime& now)
{
    for (int hour : kTurnHours) {
        if (now.time().hour() < hour)
            return QDateTime(now.date(), QTime(hour, 0));
    }
    return QDateTime(now.date().addDays(1), QTime(0, 0));
}

bool purgesOnTurn(const QDate& shown, const QDate& today)
{
    return !shown.isValid() || shown.addDays(1) == today;
}

DayTurns::DayTurns(QObject* parent) : QObject(parent), m_timer(this)
{
    m_timer.setSingleShot(true);
    // A precise timer never fires early, so a turn is never looked for a moment before it comes.
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &DayTurns::check);
}

void DayTurns::start()
{
    const QDateTime now = platform::Clock::now();
    m_day = now.date();
    m_part = partOfDay(now.time().hour());
    arm();
}

void DayTurns::check()
{
    const QDateTime now = platform::Clock::now();
    const int part = partOfDay(now.time().hour());
    const bool newDay = now.date() != m_day;
    const bool newPart = part != m_part;
    m_day = now.date();
    m_part = part;
    // Armed before anyone hears of the turn: a handler may show a box and wait in it.
    arm();
    if (newDay)
        emit dayTurned();
    else if (newPart)
        emit greetingTurned();
    emit checked();
}

void DayTurns::arm()
{
    const QDateTime now = platform::Clock::now();
    // At least a second, so that a turn that does not come as computed (a time that a change to
    // summer time skips) cannot make the timer spin.
    m_timer.start(int(std::clamp<qint64>(now.msecsTo(nextDayTurn(now)), 1000, kLongestWaitMs)));
}
