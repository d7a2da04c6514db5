// What the main window costs while nobody uses it, with 500 appointments over today and tomorrow
// and the real clock: it should look at the clock about once a minute (plus a reminder's moment,
// when one falls in the measured time) and otherwise neither wake up nor use the processor.
//   bench_idle [seconds]   (60 when not given)
#include "platform/clock.h"
#include "platform/message_box.h"
#include "state/module1.h"
#include "support/test_env.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kAppointments = 500;

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Counts the timer events the program handles, except those of the timer that ends the run.
class WakeUps : public QObject {
public:
    explicit WakeUps(const QObject* ignored) : m_ignored(ignored) {}
    int count = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Timer && watched != m_ignored)
            ++count;
        return false;
    }

private:
    const QObject* m_ignored;
};

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Reminders due while it runs go to the program's own window, not to the desktop of whoever
    // runs the benchmark.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;

    testing::TestEnv env;
    platform::Clock::useSystem();
    testing::stopAtAnyBox("bench_idle");
    // Appointments on the quarter-hour grid of today and tomorrow, about five at each quarter of
    // the two days, every seventh with a lead of its own (the day before among them).
    const QDate today = QDate::currentDate();
    env.exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < ")
             + QString::number(kAppointments - 1)
             + QStringLiteral(") INSERT INTO PLAN_DAT (P_DATE, P_HOUR, P_MIN, P_DETAIL, P_IMPORTANCE, P_PLACE, P_NOTICE,"
                              " P_REMIND) SELECT CASE i % 2 WHEN 0 THEN '")
             + state::dateKey(today) + QStringLiteral("' ELSE '") + state::dateKey(today.addDays(1))
             + QStringLiteral("' END, printf('%02d', i / 8 % 24), printf('%02d', i / 2 % 4 * 15), '打合せ ' || i, i % 3,"
                              " '会議室', '', CASE i % 7 WHEN 0 THEN 1440 WHEN 1 THEN 30 ELSE NULL END FROM n"));

    testing::StartedMain main;
    // Let start-up and the reminders due at once settle before measuring.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 1000)
        app.processEvents(QEventLoop::AllEvents, 100);

    QTimer end;
    end.setSingleShot(true);
    end.setTimerType(Qt::PreciseTimer);
    QObject::connect(&end, &QTimer::timeout, &app, &QCoreApplication::quit);
    WakeUps wakeUps(&end);
    app.installEventFilter(&wakeUps);
    const double cpuBefore = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    end.start(seconds * 1000);
    app.exec();
    const double wallSeconds = double(wall.nsecsElapsed()) / 1e9;
    const double cpu = cpuSeconds() - cpuBefore;
    app.removeEventFilter(&wakeUps);

    std::printf("idle-seconds %.1f\n", wallSeconds);
    std::printf("idle-cpu-seconds %.4f\n", cpu);
    std::printf("idle-wakeups-per-minute %.1f\n", wakeUps.count * 60.0 / wallSeconds);
    std::printf("ratio idle-cpu %.6f\n", cpu / wallSeconds);
    return env.count() == kAppointments ? 0 : 1;
}
