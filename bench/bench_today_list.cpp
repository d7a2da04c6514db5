// How long today's list takes to open on the largest day it accepts, against reading the same
// rows straight from SQLite: the window should cost little more than the reading itself.
#include "platform/database.h"
#include "platform/message_box.h"
#include "platform/window_style.h"
#include "state/module1.h"
#include "store/plan_store.h"
#include "support/test_env.h"
#include "today_list/listen_frm.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <limits>

namespace {

constexpr int kRows = 32767;
constexpr int kRuns = 5;
const QString kToday = QStringLiteral("2000/04/15");

[[noreturn]] void die(const char* what, sqlite3* db = nullptr)
{
    std::fprintf(stderr, "bench_today_list: %s%s%s\n", what, db ? ": " : "", db ? sqlite3_errmsg(db) : "");
    std::exit(1);
}

void fill(const QString& path)
{
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
        die("open", db);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    if (sqlite3_prepare_v2(db, "INSERT INTO PLAN_DAT (P_DATE, P_HOUR, P_MIN, P_DETAIL, P_IMPORTANCE, P_PLACE, P_NOTICE) VALUES (?, ?, ?, ?, ?, ?, ?)", -1, &insert, nullptr) != SQLITE_OK)
        die("prepare insert", db);
    const QByteArray today = kToday.toUtf8();
    for (int i = 0; i < kRows; ++i) {
        const QByteArray hour = QByteArray::number(i % 24).rightJustified(2, '0');
        const QByteArray minute = QByteArray::number(i % 4 * 15).rightJustified(2, '0');
        const QByteArray detail = QStringLiteral("打合せ その%1").arg(i).toUtf8();
        const QByteArray place = QStringLiteral("会議室%1").arg(i % 10).toUtf8();
        const QByteArray notice = QStringLiteral("資料 %1 部").arg(i % 50).toUtf8();
        sqlite3_bind_text(insert, 1, today.constData(), int(today.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 2, hour.constData(), int(hour.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 3, minute.constData(), int(minute.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 4, detail.constData(), int(detail.size()), SQLITE_TRANSIENT);
        sqlite3_bind_int(insert, 5, i % 3);
        sqlite3_bind_text(insert, 6, place.constData(), int(place.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 7, notice.constData(), int(notice.size()), SQLITE_TRANSIENT);
        if (sqlite3_step(insert) != SQLITE_DONE)
            die("insert", db);
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    if (sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
        die("commit", db);
    sqlite3_close(db);
}

// The best of a few runs; run times what it measures itself through the timer it is given,
// so that tearing down what it built stays out of the figure.
template <class Run> double bestOf(Run run)
{
    double best = std::numeric_limits<double>::max();
    for (int i = 0; i < kRuns; ++i) {
        QElapsedTimer timer;
        best = std::min(best, double(run(timer)) / 1e6);
    }
    return best;
}

} // namespace

int main(int argc, char** argv)
{
    const auto app = testing::benchApplication(argc, argv, "bench_today_list");

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("sec.mdb"));
    testing::makeDatabase(path);
    fill(path);

    state::Module1 module;
    module.SEC_DB = platform::Database::open(path);
    module.TODAY_STR = kToday;

    const double windowMs = bestOf([&](QElapsedTimer& timer) {
        timer.start();
        LISTEN_FRM dialog(module);
        const bool opened = dialog.prepare();
        const qint64 elapsed = timer.nsecsElapsed();
        const auto* list = dialog.findChild<QListWidget*>(QStringLiteral("DETAIL_LST"));
        if (!opened || list->count() != kRows || list->currentRow() != 0
            || dialog.findChild<QLabel*>(QStringLiteral("TIME_LABEL"))->text().isEmpty())
            die("the list is not filled");
        return elapsed;
    });

    const QByteArray sql = store::listTodaySql(kToday).toUtf8();
    sqlite3* db = module.SEC_DB->handle();
    const double engineMs = bestOf([&](QElapsedTimer& timer) {
        timer.start();
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db, sql.constData(), int(sql.size()), &stmt, nullptr) != SQLITE_OK)
            die("prepare select", db);
        const int columns = sqlite3_column_count(stmt);
        qint64 rows = 0, bytes = 0;
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            ++rows;
            for (int c = 0; c < columns; ++c) {
                const unsigned char* text = sqlite3_column_text(stmt, c);
                bytes += text ? sqlite3_column_bytes(stmt, c) : 0;
            }
        }
        sqlite3_finalize(stmt);
        const qint64 elapsed = timer.nsecsElapsed();
        if (rows != kRows || bytes == 0)
            die("the engine read the wrong rows", db);
        return elapsed;
    });

    std::printf("list-%d window_ms %.2f\n", kRows, windowMs);
    std::printf("list-%d engine_ms %.2f\n", kRows, engineMs);
    std::printf("ratio list-%d %.2f\n", kRows, windowMs / engineMs);
    return 0;
}
