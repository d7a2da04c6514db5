#pragma once

#include <QDate>
#include <QDateTime>
#include <QObject>
#include <QTimer>

// The part of the day that decides the greeting: 0 from midnight, 1 from 12:00, 2 from 17:00,
// 3 from 22:00.
int partOfDay(int hour);

// The next moment after now at which the part of the day or the date changes.
QDateTime nextDayTurn(const QDateTime& now);

// Whether turning the day shown (invalid before the first) to today purges the days before
// today: at start-up and at the one-day step of midnight. A clock set forward by more, or set
// back, must not delete what lies between; that waits for the next start-up or the purge on
// demand, where a wrong date can still be noticed first.
bool purgesOnTurn(const QDate& shown, const QDate& today);

// Follows the clock for a window that shows the day and a greeting. One timer is armed for the
// next turn, but never for longer than a minute: QTimer runs on the monotonic clock, which
// stands still while the machine sleeps, and the wall clock can be set at any time, so the
// clock is read again at least once a minute.
class DayTurns : public QObject {
    Q_OBJECT
public:
    explicit DayTurns(QObject* parent = nullptr);

    // Starts from the date and the part of the day the clock shows now.
    void start();
    // What the timer runs: tells what changed since the last check, then arms the timer again.
    void check();
    // How long the timer waits before the next check.
    int msToNextCheck() const { return m_timer.interval(); }

    // The longest wait between two looks at the clock.
    static constexpr int kLongestWaitMs = 60 * 1000;

signals:
    // The date changed (over midnight, after a sleep or when the clock was set).
    void dayTurned();
    // The part of the day changed within the same date.
    void greetingTurned();
    // After every check, for whatever else follows the same look at the clock.
    void checked();

private:
    void arm();

    QTimer m_timer;
    QDate m_day;
    int m_part = 0;
};
