// How long the iCalendar commands take on 100,000 appointments: the export of a full table, the
// import of that file into an empty table, and the import of it again, where every event is a
// duplicate. Run by hand; prints rows per second and the seconds as ratio lines (each should
// stay under 5). First, what a hostile file of 60 MB of tiny properties costs: the peak memory
// as a multiple of the file (should stay under 4) and the seconds (under 10).
#include "ical/ical_files.h"
#include "platform/database.h"
#include "state/text.h"
#include "store/plan_store.h"
#include "support/test_env.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <ctime>
#include <stdexcept>

#include <sys/resource.h>

namespace {

constexpr int kRows = 100000;
const QDate kToday(2000, 4, 15);

// Appointments from today on, a few every day, with texts of the lengths people type, some long
// and with characters the file has to escape or fold.
void fill(platform::Database& db)
{
    platform::Transaction transaction(db);
    for (int i = 0; i < kRows; ++i) {
        const store::PLAN_REC rec{state::dateKey(kToday.addDays(i / 8)), state::twoDigits(8 + i % 8),
                                  state::twoDigits(i % 4 * 15),
                                  QStringLiteral("打ち合わせ %1（営業部, 予算; 第2四半期）").arg(i),
                                  qint16(i % 3),
                                  i % 2 ? QStringLiteral("本社 3階 第%1会議室").arg(i % 10) : QString(),
                                  i % 5 ? QString() : QStringLiteral("資料を持参すること。\n").repeated(10)};
        store::insert(db, rec);
    }
    transaction.commit();
}

// Wall time, and the processor time beside it: on a machine shared with other work the wall
// time grows with the load, the processor time much less.
struct Clocks {
    QElapsedTimer wall;
    std::clock_t cpu = std::clock();
    Clocks() { wall.start(); }
    double seconds() const { return wall.elapsed() / 1000.0; }
    double cpuSeconds() const { return double(std::clock() - cpu) / CLOCKS_PER_SEC; }
};

double report(const char* what, const Clocks& clocks)
{
    const double s = clocks.seconds();
    std::printf("%-28s %6.2f s (processor %5.2f s)  %7.0f rows/s\n", what, s, clocks.cpuSeconds(), kRows / qMax(s, 0.001));
    return s;
}

double peakMegabytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

// Events of hundreds of one-character properties up to 60 MB, then one event of 10 MB.
void hostile(const QTemporaryDir& dir)
{
    const QString dbPath = dir.filePath(QStringLiteral("hostile.mdb"));
    const QString file = dir.filePath(QStringLiteral("tiny.ics"));
    testing::makeDatabase(dbPath);
    auto db = platform::Database::open(dbPath);
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly))
        throw std::runtime_error("cannot write the hostile file");
    const QByteArray tiny = QByteArray("X-A:1\r\n").repeated(200);
    out.write("BEGIN:VCALENDAR\r\nVERSION:2.0\r\n");
    for (int i = 0; out.size() < 60 * 1000 * 1000; ++i)
        out.write("BEGIN:VEVENT\r\nUID:" + QByteArray::number(i) + "\r\nDTSTART:19990420T090000\r\nSUMMARY:s\r\n" + tiny
                  + "END:VEVENT\r\n");
    out.write("END:VCALENDAR\r\n");
    const double megabytes = out.size() / (1024.0 * 1024.0);
    out.close();
    const double before = peakMegabytes();
    const Clocks importing;
    const ical::ImportReport result = ical::importFile(*db, file, kToday);
    const double seconds = importing.seconds();
    const double growth = peakMegabytes() - before;
    std::printf("tiny properties: %.0f MB file, %d events read (past), %d left unread, peak grew by %.0f MB in %.2f s\n",
                megabytes, result.past, result.notRead, growth, seconds);
    std::printf("ratio ical-tiny-60mb-memory-multiple %.2f\n", growth / megabytes);
    std::printf("ratio ical-tiny-60mb-seconds %.2f\n", seconds);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    try {
        if (!dir.isValid())
            throw std::runtime_error("no temporary folder");
        const QString fullPath = dir.filePath(QStringLiteral("full.mdb"));
        const QString emptyPath = dir.filePath(QStringLiteral("empty.mdb"));
        const QString file = dir.filePath(QStringLiteral("appointments.ics"));
        testing::makeDatabase(fullPath);
        testing::makeDatabase(emptyPath);
        // Opened as the program opens them: every commit synced.
        auto full = platform::Database::open(fullPath);
        auto empty = platform::Database::open(emptyPath);
        fill(*full);

        hostile(dir);
        std::printf("%d appointments\n", kRows);
        const Clocks exporting;
        if (ical::exportFile(*full, file, QDateTime(kToday, QTime(10, 0))) != kRows)
            throw std::runtime_error("the export missed rows");
        const double exportSeconds = report("export", exporting);
        const Clocks importing;
        if (ical::importFile(*empty, file, kToday).added != kRows)
            throw std::runtime_error("the import did not add every row");
        const double importSeconds = report("import into an empty table", importing);
        const Clocks reimporting;
        if (ical::importFile(*empty, file, kToday).duplicates != kRows)
            throw std::runtime_error("the second import did not find every row");
        const double reimportSeconds = report("import again (duplicates)", reimporting);
        std::printf("file of %.1f MB\n", QFileInfo(file).size() / 1e6);
        std::printf("ratio ical-export-100k-seconds %.2f\n", exportSeconds);
        std::printf("ratio ical-import-100k-seconds %.2f\n", importSeconds);
        std::printf("ratio ical-reimport-100k-seconds %.2f\n", reimportSeconds);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_ical: %s\n", e.what());
        return 1;
    }
    return 0;
}
