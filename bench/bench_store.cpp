// How the three statements a user waits for scale with the size of the table: today's count,
// the duplicate check and a durable one-row insert, on a table of 10 other rows and on one of
// 1,000,000, each with 20 rows of today. Run by hand; prints figures and the ratios.
#include "platform/database.h"
#include "store/plan_store.h"
#include "support/test_env.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

const QString kToday = QStringLiteral("2000/04/15");
constexpr int kTodayRows = 20;
constexpr int kRuns = 50;

void check(sqlite3* db, int rc)
{
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW)
        throw std::runtime_error(sqlite3_errmsg(db));
}

// Fills the table through a connection of its own, fast: one transaction, no syncing. The
// other rows spread over many days before and after today, never on it.
void fill(const QString& path, int otherRows)
{
    testing::makeDatabase(path);
    sqlite3* db = nullptr;
    check(db, sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr));
    check(db, sqlite3_exec(db, "PRAGMA synchronous = OFF; BEGIN", nullptr, nullptr, nullptr));
    sqlite3_stmt* insert = nullptr;
    check(db, sqlite3_prepare_v2(db, "INSERT INTO PLAN_DAT (P_DATE, P_HOUR, P_MIN, P_DETAIL, P_IMPORTANCE, P_PLACE, P_NOTICE) VALUES (?, ?, ?, ?, ?, '', '')", -1, &insert, nullptr));
    auto add = [&](const QByteArray& date, int hour, int minute, const QByteArray& detail) {
        const QByteArray hh = QByteArray::number(hour).rightJustified(2, '0');
        const QByteArray mm = QByteArray::number(minute).rightJustified(2, '0');
        sqlite3_bind_text(insert, 1, date.constData(), int(date.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 2, hh.constData(), int(hh.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 3, mm.constData(), int(mm.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 4, detail.constData(), int(detail.size()), SQLITE_TRANSIENT);
        sqlite3_bind_int(insert, 5, 1);
        check(db, sqlite3_step(insert));
        sqlite3_reset(insert);
    };
    const QDate first(1990, 1, 1);
    const QDate today = QDate::fromString(kToday, QStringLiteral("yyyy/MM/dd"));
    for (int i = 0; i < otherRows; ++i) {
        QDate date = first.addDays(i % 14600);
        if (date == today)
            date = date.addDays(1);
        add(date.toString(QStringLiteral("yyyy/MM/dd")).toUtf8(), i % 24, (i % 4) * 15,
            QStringLiteral("用件 %1").arg(i).toUtf8());
    }
    for (int i = 0; i < kTodayRows; ++i)
        add(kToday.toUtf8(), 8 + i % 10, (i % 4) * 15, QStringLiteral("今日の用件 %1").arg(i).toUtf8());
    sqlite3_finalize(insert);
    check(db, sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr));
    sqlite3_close(db);
    // A user's file is on the disk already; left unsynced, the fill's hundred megabytes would
    // be written out by the first timed commit and counted against the big table.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    if (fd < 0 || ::fsync(fd) != 0)
        throw std::runtime_error("cannot sync the filled table");
    ::close(fd);
}

struct Figures {
    double small = 0;
    double big = 0;
};

// The medians of kRuns timings of one operation on each table, in microseconds. The two tables
// take turns, so that whatever else the machine does at the moment weighs on both alike.
Figures measure(platform::Database& small, platform::Database& big,
                const std::function<void(platform::Database&, int)>& run)
{
    std::vector<double> times[2];
    platform::Database* tables[2] = {&small, &big};
    for (int t = 0; t < 2; ++t)
        run(*tables[t], -1); // warm the page cache, as a user's second command would find it
    for (int i = 0; i < kRuns; ++i) {
        for (int t = 0; t < 2; ++t) {
            const auto start = std::chrono::steady_clock::now();
            run(*tables[t], i);
            times[t].push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
        }
    }
    for (auto& list : times)
        std::nth_element(list.begin(), list.begin() + kRuns / 2, list.end());
    return {times[0][kRuns / 2], times[1][kRuns / 2]};
}

void report(const char* what, const Figures& f)
{
    std::printf("%-9s %10.1f us with 10 other rows, %10.1f us with 1000000\n", what, f.small, f.big);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    try {
        std::printf("medians of %d runs, %d rows of today in each table, files in %s\n", kRuns, kTodayRows,
                    qPrintable(dir.path()));
        const QString smallPath = dir.filePath(QStringLiteral("small.mdb"));
        const QString bigPath = dir.filePath(QStringLiteral("big.mdb"));
        fill(smallPath, 10);
        fill(bigPath, 1000000);
        // Opened as the program opens them: every commit synced.
        auto small = platform::Database::open(smallPath);
        auto big = platform::Database::open(bigPath);

        const Figures count = measure(*small, *big, [](platform::Database& db, int) {
            platform::Recordset rs = db.openRecordset(store::countTodaySql(kToday));
            if (rs.eof())
                throw std::runtime_error("today's rows are missing");
            rs.moveLast();
            if (rs.recordCount() != kTodayRows)
                throw std::runtime_error("wrong count of today's rows");
        });
        report("count", count);
        const Figures duplicate = measure(*small, *big, [](platform::Database& db, int i) {
            platform::Recordset rs
                = db.openRecordset(store::duplicateSql(kToday, QStringLiteral("新しい用件 %1").arg(i), "12", "00"));
            if (!rs.eof())
                throw std::runtime_error("a duplicate where none can be");
        });
        report("duplicate", duplicate);
        const Figures insert = measure(*small, *big, [](platform::Database& db, int i) {
            const QString detail = QStringLiteral("追加 %1").arg(i);
            platform::Recordset rs = db.openRecordset(store::duplicateSql(kToday, detail, "12", "00"), store::kTable);
            if (!rs.eof())
                throw std::runtime_error("a duplicate where none can be");
            rs.addNew();
            rs.setField(QStringLiteral("P_DATE"), kToday);
            rs.setField(QStringLiteral("P_HOUR"), QStringLiteral("12"));
            rs.setField(QStringLiteral("P_MIN"), QStringLiteral("00"));
            rs.setField(QStringLiteral("P_DETAIL"), detail);
            rs.setField(QStringLiteral("P_IMPORTANCE"), qint16(1));
            rs.setField(QStringLiteral("P_PLACE"), QString());
            rs.setField(QStringLiteral("P_NOTICE"), QString());
            rs.update();
        });
        report("insert", insert);

        std::printf("ratio count %.2f\n", count.big / count.small);
        std::printf("ratio duplicate %.2f\n", duplicate.big / duplicate.small);
        std::printf("ratio insert %.2f\n", insert.big / insert.small);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_store: %s\n", e.what());
        return 1;
    }
    return 0;
}
