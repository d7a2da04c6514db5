// How long the list of all appointments takes to open and draw its first screen on a million
// rows against ten, to jump to the middle and the end of the million, and to apply a search that
// finds 20 of them: the list reads only what it shows, so the size of the table should barely
// count.
#include "all_list/all_list_window.h"
#include "platform/database.h"
#include "platform/message_box.h"
#include "platform/settings_store.h"
#include "platform/window_style.h"
#include "state/module1.h"
#include "store/search_index.h"
#include "support/test_env.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <limits>

namespace {

constexpr int kSmall = 10;
constexpr int kBig = 1000000;
constexpr int kRuns = 5;
// Every 50,000th row is at the head office: 20 of the million. The full-text index answers from
// three characters on; one or two pass over its folded copy of the texts.
const QString kSearch = QStringLiteral("本社ビル");
const QString kShortSearch = QStringLiteral("本社");
const QString kFound = QStringLiteral("20件");

[[noreturn]] void die(const char* what)
{
    std::fprintf(stderr, "bench_all_list: %s\n", what);
    std::exit(1);
}

// A sec.mdb of n appointments spread over the years from 2000, in the order they were entered.
QString makeFile(const QTemporaryDir& dir, int n)
{
    const QString path = dir.filePath(QStringLiteral("sec-%1.mdb").arg(n));
    testing::makeDatabase(path);
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
        die("open");
    const QByteArray fill =
        QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < %1)"
                       " INSERT INTO PLAN_DAT (P_DATE, P_HOUR, P_MIN, P_DETAIL, P_IMPORTANCE, P_PLACE, P_NOTICE) SELECT printf('%04d/%02d/%02d', 2000 + i / 10000, i / 800 % 12 + 1,"
                       " i / 30 % 28 + 1), printf('%02d', i % 24), printf('%02d', i % 4 * 15), '打合せ その' || i, i % 3,"
                       " CASE WHEN i % 50000 = 7 THEN '本社ビル' ELSE '会議室' || (i % 10) END, '資料 ' || (i % 50) || ' 部'"
                       " FROM n")
            .arg(n - 1)
            .toUtf8();
    if (sqlite3_exec(db, fill.constData(), nullptr, nullptr, nullptr) != SQLITE_OK)
        die(sqlite3_errmsg(db));
    sqlite3_close(db);
    return path;
}

// The best of a few runs, each timing itself through the timer it is given.
template <class Run> double bestOf(Run run)
{
    double best = std::numeric_limits<double>::max();
    for (int i = 0; i < kRuns; ++i) {
        QElapsedTimer timer;
        best = std::min(best, double(run(timer)) / 1e6);
    }
    return best;
}

QString countShown(const AllListWindow& window)
{
    return window.findChild<QLabel*>(QStringLiteral("countLabel"))->text();
}

QTableView* table(const AllListWindow& window)
{
    return window.findChild<QTableView*>(QStringLiteral("allListTable"));
}

// Opening as the main window opens it, up to the first screen drawn or, with counted, up to the
// number of rows shown below it as well.
double openMs(state::Module1& module, int rows, bool counted)
{
    return bestOf([&](QElapsedTimer& timer) {
        timer.start();
        AllListWindow window(module);
        if (!window.prepare())
            die("the list did not open");
        window.show();
        window.grab();
        while (counted && countShown(window) != QStringLiteral("%1件").arg(rows))
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        const qint64 elapsed = timer.nsecsElapsed();
        if (table(window)->model()->index(0, 3).data().toString().isEmpty())
            die("the first screen is not filled");
        return elapsed;
    });
}

// A drag of the scroll bar to a fraction of the list, up to the screen drawn there.
double jumpMs(state::Module1& module, double fraction)
{
    return bestOf([&](QElapsedTimer& timer) {
        AllListWindow window(module);
        window.prepare();
        window.show();
        window.grab();
        while (countShown(window) != QStringLiteral("%1件").arg(kBig))
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        QCoreApplication::processEvents(); // the scroll bar takes the new length
        QScrollBar* bar = table(window)->verticalScrollBar();
        timer.start();
        bar->setValue(int(bar->maximum() * fraction));
        window.grab();
        const qint64 elapsed = timer.nsecsElapsed();
        const QModelIndex shown = table(window)->indexAt(QPoint(1, 1));
        if (shown.row() < (kBig - 100) * fraction || shown.siblingAtColumn(3).data().toString().isEmpty())
            die("the screen after the jump is not filled");
        return elapsed;
    });
}

// The search typed, then Enter, up to the matches drawn.
double searchMs(state::Module1& module, const QString& search)
{
    return bestOf([&](QElapsedTimer& timer) {
        AllListWindow window(module);
        window.prepare();
        window.show();
        window.grab();
        auto* field = window.findChild<QLineEdit*>(QStringLiteral("searchField"));
        field->setText(search);
        timer.start();
        QTest::keyClick(field, Qt::Key_Return);
        window.grab();
        const qint64 elapsed = timer.nsecsElapsed();
        if (countShown(window) != kFound)
            die("the search found other rows");
        return elapsed;
    });
}

} // namespace

int main(int argc, char** argv)
{
    const auto app = testing::benchApplication(argc, argv, "bench_all_list");

    QTemporaryDir dir;
    platform::SettingsStore::useFile(dir.filePath(QStringLiteral("settings.ini")));
    state::Module1 small, big;
    small.SEC_DB = platform::Database::open(makeFile(dir, kSmall));
    big.SEC_DB = platform::Database::open(makeFile(dir, kBig));
    small.TODAY_STR = big.TODAY_STR = QStringLiteral("2000/04/15");

    const double smallMs = openMs(small, kSmall, true);
    const double bigMs = openMs(big, kBig, false);
    const double countedMs = openMs(big, kBig, true);
    const double middleMs = jumpMs(big, 0.5);
    const double endMs = jumpMs(big, 1.0);
    QElapsedTimer indexing;
    indexing.start();
    if (!store::ensureSearchIndex(big.db()))
        die("the search index was not made");
    const double indexMs = double(indexing.nsecsElapsed()) / 1e6;
    const double foundMs = searchMs(big, kSearch);
    const double shortMs = searchMs(big, kShortSearch);

    std::printf("all-list-%d open_ms %.2f\n", kSmall, smallMs);
    std::printf("all-list-%d open_ms %.2f\n", kBig, bigMs);
    std::printf("all-list-%d counted_ms %.2f\n", kBig, countedMs);
    std::printf("all-list-%d jump_middle_ms %.2f\n", kBig, middleMs);
    std::printf("all-list-%d jump_end_ms %.2f\n", kBig, endMs);
    std::printf("all-list-%d index_ms %.2f\n", kBig, indexMs);
    std::printf("all-list-%d search_ms %.2f\n", kBig, foundMs);
    std::printf("all-list-%d short_search_ms %.2f\n", kBig, shortMs);
    std::printf("ratio all-list-1M %.2f\n", bigMs / smallMs);
    std::printf("ratio search-1M %.2f\n", foundMs);
    return 0;
}
