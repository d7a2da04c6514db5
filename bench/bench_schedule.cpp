// How long the week and the month take to open and draw on a million appointments against ten:
// both show the same ten, and the views read only their own days along the date index, so the
// size of the table should barely count. The days just outside the views are full (40 a day), so
// a statement that strayed from the index would show at once.
#include "platform/clock.h"
#include "platform/database.h"
#include "platform/message_box.h"
#include "platform/settings_store.h"
#include "platform/window_style.h"
#include "schedule_view/period_views.h"
#include "schedule_view/schedule_tiles.h"
#include "schedule_view/schedule_window.h"
#include "state/module1.h"
#include "support/test_env.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <limits>

namespace {

constexpr int kSmall = 10;
constexpr int kBig = 1000000;
constexpr int kRuns = 15;
const QDateTime kNow(QDate(2027, 1, 13), QTime(10, 0));

[[noreturn]] void die(const char* what)
{
    std::fprintf(stderr, "bench_schedule: %s\n", what);
    std::exit(1);
}

void run(sqlite3* db, const QString& sql)
{
    if (sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, nullptr) != SQLITE_OK)
        die(sqlite3_errmsg(db));
}

// The ten of the week of 11 January 2027, and for the big file 40 a day from 2000 on around the
// six weeks that the month of January shows (28 December to 7 February).
QString makeFile(const QTemporaryDir& dir, int n)
{
    const QString path = dir.filePath(QStringLiteral("sec-%1.mdb").arg(n));
    testing::makeDatabase(path);
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
        die("open");
    run(db, QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 9)"
                           " INSERT INTO PLAN_DAT (P_DATE, P_HOUR, P_MIN, P_DETAIL, P_IMPORTANCE, P_PLACE, P_NOTICE) SELECT printf('2027/01/%02d', 11 + i % 7), printf('%02d', 9 + i),"
                           " '00', '会議 その' || i, i % 3, '本社', '' FROM n"));
    run(db, QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < %1),"
                           " d(i, j) AS (SELECT i, julianday('2000-01-01') + i / 40 FROM n)"
                           " INSERT INTO PLAN_DAT (P_DATE, P_HOUR, P_MIN, P_DETAIL, P_IMPORTANCE, P_PLACE, P_NOTICE) SELECT replace(date(j + CASE WHEN j >= julianday('2026-12-28') THEN 42 ELSE 0 END),"
                           " '-', '/'), printf('%02d', i % 24), printf('%02d', i % 4 * 15), '打合せ その' || i, i % 3,"
                           " '会議室' || (i % 10), '' FROM d")
                .arg(n - kSmall - 1));
    sqlite3_close(db);
    return path;
}

// The best of a few openings, each up to the first picture of the window.
double openMs(state::Module1& module, const QString& view)
{
    state::writeSettings({{state::kScheduleView, view}});
    double best = std::numeric_limits<double>::max();
    for (int i = 0; i < kRuns; ++i) {
        QElapsedTimer timer;
        timer.start();
        ScheduleWindow window(module);
        window.show();
        window.grab();
        best = std::min(best, timer.nsecsElapsed() / 1e6);
        int blocks = 0;
        for (const auto* tile : window.findChild<schedule::PeriodView*>(view + QStringLiteral("View"))->tiles())
            blocks += tile->accessibleName().contains(QStringLiteral("会議 その"));
        if (blocks != kSmall)
            die("the view does not show the ten");
        window.close();
    }
    return best;
}

} // namespace

int main(int argc, char** argv)
{
    const auto app = testing::benchApplication(argc, argv, "bench_schedule");
    platform::Clock::setFixed(kNow);

    QTemporaryDir dir;
    platform::SettingsStore::useFile(dir.filePath(QStringLiteral("settings.ini")));
    state::Module1 small, big;
    small.SEC_DB = platform::Database::open(makeFile(dir, kSmall));
    big.SEC_DB = platform::Database::open(makeFile(dir, kBig));
    if (big.SEC_DB->query(QStringLiteral("SELECT count(*) FROM PLAN_DAT")).front().front().toInt() != kBig)
        die("the big table is not full");

    for (const QString& view : {QStringLiteral("month"), QStringLiteral("week")}) {
        const double smallMs = openMs(small, view);
        const double bigMs = openMs(big, view);
        std::printf("%s-%d open_ms %.2f\n", qPrintable(view), kSmall, smallMs);
        std::printf("%s-%d open_ms %.2f\n", qPrintable(view), kBig, bigMs);
        std::printf("ratio %s-1M %.2f\n", qPrintable(view), bigMs / smallMs);
    }
    return 0;
}
