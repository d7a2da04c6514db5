// What repeating appointments cost the user: start-up and a day turn of the main window on a
// table of 1,000 weekly series (a year of rows each), against the same rows typed one by one.
// Run by hand; prints figures and the ratios.
#include "day_turns/day_turns.h"
#include "platform/clock.h"
#include "platform/database.h"
#include "store/series_store.h"
#include "support/test_env.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

constexpr int kSeries = 1000;
constexpr int kRuns = 7;
const QDate kToday(2000, 4, 15);

double since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> v)
{
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
}

struct Figures {
    std::vector<double> startUp, dayTurn;
};

// One start of the program on a copy of the file, then the turn to the next day.
void run(const QString& file, Figures& figures)
{
    testing::TestEnv env({QDateTime(kToday, QTime(23, 59))});
    QFile::remove(env.dbPath());
    QFile::copy(file, env.dbPath());
    auto start = std::chrono::steady_clock::now();
    testing::StartedMain main;
    figures.startUp.push_back(since(start));
    platform::Clock::setFixed(QDateTime(kToday.addDays(1), QTime(0, 0, 5)));
    start = std::chrono::steady_clock::now();
    main.window.findChild<DayTurns*>()->check();
    figures.dayTurn.push_back(since(start));
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const QString series = dir.filePath("series.mdb"), plain = dir.filePath("plain.mdb");
    testing::makeDatabase(series);
    {
        auto db = platform::Database::open(series);
        platform::Transaction t(*db);
        for (int i = 0; i < kSeries; ++i)
            store::addSeries(*db, store::seriesFor(testing::rec(kToday.addDays(i % 7).toString("yyyy/MM/dd"), "10", "00",
                                                                QString("定例 %1").arg(i)),
                                                   "FREQ=WEEKLY"),
                             kToday);
        t.commit();
    }
    QFile::copy(series, plain);
    {
        auto db = platform::Database::open(plain);
        db->run("UPDATE PLAN_DAT SET SERIES_ID = NULL, RECURRENCE_ID = ''");
        db->run("DELETE FROM PLAN_SERIES");
        const auto rows = db->query("SELECT count(*) FROM PLAN_DAT");
        std::printf("%d weekly series, %lld rows in each table\n", kSeries, rows.at(0).at(0).toLongLong());
    }
    Figures withSeries, withoutSeries;
    for (int i = 0; i < kRuns; ++i) {
        run(series, withSeries);
        run(plain, withoutSeries);
    }
    std::printf("start-up  %8.1f ms with series, %8.1f ms without\n", median(withSeries.startUp), median(withoutSeries.startUp));
    std::printf("day turn  %8.1f ms with series, %8.1f ms without\n", median(withSeries.dayTurn), median(withoutSeries.dayTurn));
    std::printf("ratio start-up %.2f\n", median(withSeries.startUp) / median(withoutSeries.startUp));
    std::printf("ratio day-turn %.2f\n", median(withSeries.dayTurn) / median(withoutSeries.dayTurn));
    return 0;
}
