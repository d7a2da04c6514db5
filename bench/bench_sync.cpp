// How long a sync takes with many appointments: 10,000 rows (or the count given) sent to an empty
// calendar of a real Radicale, then a sync with nothing new. Run by hand; prints both times and
// their ratio. Radicale runs as Debian ships it, writing each event to disk before it answers.
//
// For timing side by side with another sync tool against the same server:
//   bench_sync --send URL COUNT   makes the calendar URL and sends COUNT rows to it with one sync
//   bench_sync --write DIR COUNT  writes the same rows as the same events, one .ics file each
#include "ical/ical_conversion.h"
#include "platform/clock.h"
#include "platform/http.h"
#include "support/test_env.h"
#include "sync/sync_engine.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <chrono>
#include <cstdio>

namespace {

double seconds(const std::function<void()>& step)
{
    const auto start = std::chrono::steady_clock::now();
    step();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

calsync::SyncReport sync(state::Module1& module, const calsync::Account& account)
{
    calsync::SyncEngine engine(module);
    QEventLoop loop;
    QObject::connect(&engine, &calsync::SyncEngine::finished, &loop, &QEventLoop::quit);
    engine.start(account);
    if (engine.isRunning())
        loop.exec();
    return engine.report();
}

bool makeCalendar(const calsync::Account& account)
{
    platform::Http http;
    QEventLoop loop;
    int status = 0;
    http.send({"MKCALENDAR", account.calendar,
               {{"Authorization", "Basic " + (account.user + ':' + account.password).toUtf8().toBase64()}}, {}},
              [&](const platform::HttpReply& reply) { status = reply.status, loop.quit(); });
    loop.exec();
    return status == 201;
}

// The rows of the benchmark: a year of appointments from 2000/04/15, the day of the test clock.
std::vector<store::PLAN_REC> rows(int count)
{
    std::vector<store::PLAN_REC> result;
    const QDate today(2000, 4, 15);
    for (int i = 0; i < count; ++i)
        result.push_back(testing::rec(state::dateKey(today.addDays(i % 366)), state::twoDigits(i % 24),
                                      state::twoDigits(i % 4 * 15), QString("予定 %1").arg(i), qint16(i % 3),
                                      QString("会議室 %1").arg(i % 10), QString("備考")));
    return result;
}

void fill(platform::Database& db, int count)
{
    calsync::prepareDatabase(db);
    platform::Transaction t(db);
    for (const store::PLAN_REC& r : rows(count))
        store::insert(db, r);
    t.commit();
}

int sendOnly(const QUrl& url, int count)
{
    testing::TestEnv env;
    state::Module1 module;
    module.SEC_DB = platform::Database::open(env.dbPath());
    fill(*module.SEC_DB, count);
    const calsync::Account account{url, "alice", "secret"};
    if (!makeCalendar(account))
        return 1;
    const calsync::SyncReport report = sync(module, account);
    std::printf("sent %d%s\n", report.sent, qPrintable(report.failure));
    return report.sent == count ? 0 : 1;
}

int writeEvents(const QString& folder, int count)
{
    testing::TestEnv env;
    QDir().mkpath(folder);
    for (const store::PLAN_REC& r : rows(count)) {
        const QString uid = store::firstUid(r);
        QFile file(folder + '/' + uid + ".ics");
        if (!file.open(QIODevice::WriteOnly) || file.write(ical::calendarText(ical::eventText(r, uid, platform::Clock::now()))) < 0)
            return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 4 && args[1] == "--send")
        return sendOnly(QUrl(args[2]), args[3].toInt());
    if (args.size() == 4 && args[1] == "--write")
        return writeEvents(args[2], args[3].toInt());
    const int count = argc > 1 ? QByteArray(argv[1]).toInt() : 10000;
    testing::TestEnv env;

    QFile users(env.path("users"));
    if (!users.open(QIODevice::WriteOnly) || users.write("alice:secret\n") < 0)
        return 1;
    users.close();
    QTcpServer probe;
    const quint16 port = probe.listen(QHostAddress::LocalHost) ? probe.serverPort() : 0;
    probe.close();
    QProcess radicale;
    radicale.start("radicale", {"--config", "", "--server-hosts", QString("127.0.0.1:%1").arg(port),
                                "--storage-filesystem-folder", env.path("storage"), "--auth-type", "htpasswd",
                                "--auth-htpasswd-filename", env.path("users"), "--auth-htpasswd-encryption", "plain",
                                "--auth-delay", "0"});
    const bool up = QTest::qWaitFor([port] {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        return socket.waitForConnected(200);
    }, 20000);
    if (!up) {
        std::fprintf(stderr, "radicale did not start\n");
        return 1;
    }
    const calsync::Account account{QUrl(QString("http://127.0.0.1:%1/alice/bench/").arg(port)), "alice", "secret"};
    if (!makeCalendar(account))
        return 1;
    state::Module1 module;
    module.SEC_DB = platform::Database::open(env.dbPath());
    fill(*module.SEC_DB, count);

    calsync::SyncReport first, again;
    const double firstSeconds = seconds([&] { first = sync(module, account); });
    const double againSeconds = seconds([&] { again = sync(module, account); });
    std::printf("appointments %d\n", count);
    std::printf("first sync: %.2f s, %d sent%s\n", firstSeconds, first.sent, qPrintable(first.failure));
    std::printf("no-change sync: %.3f s, %d sent, %d received%s\n", againSeconds, again.sent, again.received,
                qPrintable(again.failure));
    std::printf("ratio sync-nochange/first %.5f\n", againSeconds / firstSeconds);
    radicale.terminate();
    radicale.waitForFinished(10000);
    return first.failure.isEmpty() && again.failure.isEmpty() && first.sent == count ? 0 : 1;
}
