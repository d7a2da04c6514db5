// Two-way sync with a real CalDAV server: one Radicale on 127.0.0.1 for the whole program, with
// a calendar of its own for each test, driven through the sync engine, and once through the windows.
#include "support/test_env.h"

#include "ical/ical_conversion.h"
#include "platform/keyring.h"
#include "store/series_store.h"
#include "sync/mass_deletion.h"
#include "sync/sync_engine.h"
#include "sync_settings/sync_control.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkReply>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QXmlStreamReader>
#include <QTest>

#include <csignal>
#include <ctime>
#include <sys/prctl.h>

using testing::rec;

namespace {

// One event as another calendar program would put it on the server.
QByteArray ics(const QString& uid, const QString& start, const QString& summary, const QByteArray& more = {})
{
    return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//test//EN\r\n" + more + "BEGIN:VEVENT\r\nUID:" + uid.toUtf8()
        + "\r\nDTSTAMP:20000101T000000Z\r\nDTSTART" + start.toUtf8() + "\r\nSUMMARY:" + summary.toUtf8()
        + "\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
}

// The sec.mdb of one copy of the program, made ready for sync.
struct Side {
    state::Module1 module;
    explicit Side(const QString& path)
    {
        testing::makeDatabase(path);
        module.SEC_DB = platform::Database::open(path);
        calsync::prepareDatabase(*module.SEC_DB);
    }
    platform::Database& db() { return *module.SEC_DB; }
    void add(std::initializer_list<store::PLAN_REC> rows) { for (const auto& r : rows) store::insert(db(), r); }
    QStringList rows()
    {
        QStringList result;
        for (const auto& row : db().query("SELECT " + store::kRowColumns + " FROM PLAN_DAT"))
            result << testing::line(store::storedRow(row).rec);
        result.sort();
        return result;
    }
};

// The size of a whole HTTP message at the start of bytes; 0 while it is incomplete.
qsizetype wholeMessage(const QByteArray& bytes)
{
    const qsizetype head = bytes.indexOf("\r\n\r\n") + 4;
    const qsizetype size = head + QRegularExpression("(?i)content-length: *(\\d+)").match(QString::fromLatin1(bytes.left(head))).captured(1).toLongLong();
    return head < 4 || bytes.size() < size ? 0 : size;
}

// A server of the test's own on 127.0.0.1, for what Radicale never does: it records each request
// and answers it with reply(request); with a drip, the body goes a byte at a time.
struct Peer {
    QTcpServer server;
    QList<QByteArray> requests;
    std::function<QByteArray(const QByteArray&)> reply;
    int dripMs = 0;
    Peer()
    {
        server.listen(QHostAddress::LocalHost);
        QObject::connect(&server, &QTcpServer::newConnection, [this] {
            QTcpSocket* socket = server.nextPendingConnection();
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { read(socket); });
        });
    }
    QString url(const QString& path) const { return QString("http://127.0.0.1:%1%2").arg(server.serverPort()).arg(path); }
    void read(QTcpSocket* socket)
    {
        const QByteArray in = socket->property("in").toByteArray() + socket->readAll();
        const qsizetype size = wholeMessage(in);
        socket->setProperty("in", in.mid(size));
        if (!size)
            return;
        requests << in.left(size);
        const QByteArray answer = reply(requests.last());
        const qsizetype at = dripMs ? answer.indexOf("\r\n\r\n") + 4 : answer.size();
        socket->write(answer.left(at));
        for (qsizetype i = at; i < answer.size(); ++i)
            QTimer::singleShot(dripMs * (i - at + 1), socket, [socket, byte = answer.mid(i, 1)] { socket->write(byte); });
        if (at == answer.size() && answer.contains("Connection: close"))
            socket->disconnectFromHost();
    }
};

// A multistatus of the given responses, each an href and the properties found for it.
QByteArray multistatus(const QList<std::pair<QString, QString>>& responses, const QString& prolog = {})
{
    QString xml = "<?xml version=\"1.0\"?>" + prolog + "<d:multistatus xmlns:d=\"DAV:\" xmlns:c=\"urn:ietf:params:xml:ns:caldav\">";
    for (const auto& [href, props] : responses)
        xml += "<d:response><d:href>" + href + "</d:href><d:propstat><d:prop>" + props
            + "</d:prop><d:status>HTTP/1.1 200 OK</d:status></d:propstat></d:response>";
    const QByteArray body = (xml + "</d:multistatus>").toUtf8();
    return "HTTP/1.1 207 Multi-Status\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

} // namespace

class TestSync : public QObject {
    Q_OBJECT
    // Radicale 3 as Debian ships it, reading no configuration but its arguments: users from a
    // plain htpasswd file, storage in a temporary folder (in memory where there is one: Radicale
    // syncs every file it writes to the disk), on a port that was free, over TLS with a
    // certificate that only this program's connections trust.
    QTemporaryDir m_dir{(QFileInfo("/dev/shm").isWritable() ? "/dev/shm" : QDir::tempPath()) + "/test_sync-XXXXXX"};
    QProcess m_radicale;
    quint16 m_port = 0;
    // Xandikos as Debian ships it: no users (it takes any), plain http, its own storage folder.
    QProcess m_xandikos;
    quint16 m_xport = 0;
    bool m_onXandikos = false; // the calendar of the test is on Xandikos
    QNetworkAccessManager m_net;
    const QSslConfiguration m_system = QSslConfiguration::defaultConfiguration();
    QSslConfiguration m_trusting = m_system;
    std::optional<testing::TestEnv> m_env;
    QString m_calendar;
    int m_calendars = 0;

    bool startServer()
    {
        m_radicale.start("radicale", {"--config", "", "--server-hosts", QString("127.0.0.1:%1").arg(m_port),
                                      "--storage-filesystem-folder", m_dir.filePath("storage"), "--auth-type",
                                      "htpasswd", "--auth-htpasswd-filename", m_dir.filePath("users"),
                                      "--auth-htpasswd-encryption", "plain", "--auth-delay", "0", "--server-ssl", "True",
                                      "--server-certificate", m_dir.filePath("cert.pem"), "--server-key", m_dir.filePath("key.pem")});
        return QTest::qWaitFor([this] { return send("OPTIONS", "/").first != 0; }, 20000);
    }
    // A loaded machine may keep Radicale finishing its open connections past a polite request:
    // the requests after the stop must find no server, so it is killed when it lingers.
    void stopServer()
    {
        m_radicale.terminate();
        if (!m_radicale.waitForFinished(3000))
            m_radicale.kill(), m_radicale.waitForFinished(10000);
    }
    QUrl url(const QString& path) const { return QUrl(QString(m_onXandikos ? "http://127.0.0.1:%1%2" : "https://127.0.0.1:%1%2").arg(m_onXandikos ? m_xport : m_port).arg(path)); }
    // The test's calendar made on the server named.
    void useServer(const QString& server)
    {
        m_onXandikos = server == "xandikos";
        m_calendar = QString(m_onXandikos ? "/user/calendars/calendar%1/" : "/alice/calendar%1/").arg(++m_calendars);
        QCOMPARE(send("MKCALENDAR", m_calendar).first, 201);
    }
    // A request handed on to the test's server as it came, and its answer whole: what a proxy
    // of the test's own does with what it does not answer itself.
    QByteArray forward(const QByteArray& request)
    {
        QSslSocket socket;
        m_onXandikos ? socket.connectToHost("127.0.0.1", m_xport) : socket.connectToHostEncrypted("127.0.0.1", m_port);
        QByteArray answer;
        socket.write(request);
        while (!wholeMessage(answer) && socket.waitForReadyRead(10000))
            answer += socket.readAll();
        return answer;
    }
    // A request of the test's own, straight through Qt Network; the status, then the body.
    std::pair<int, QByteArray> send(const QByteArray& method, const QString& path, const QByteArray& body = {})
    {
        QNetworkRequest request(url(path));
        request.setRawHeader("Authorization", "Basic " + QByteArray("alice:secret").toBase64());
        if (!body.isEmpty())
            request.setRawHeader("Content-Type", method == "PUT" ? "text/calendar" : "application/xml");
        request.setRawHeader("Depth", "1");
        std::unique_ptr<QNetworkReply> reply(m_net.sendCustomRequest(request, method, body));
        QSignalSpy(reply.get(), &QNetworkReply::finished).wait(20000);
        return {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll()};
    }
    // One sync, its counts and failure as one line. An automatic one (answer -1) asks nothing;
    // one the user started answers a question about deleting with yes (1) or no (0).
    QString sync(Side& side, const QString& password = "secret", int answer = -1, const QString& calendar = {})
    {
        calsync::SyncEngine engine(side.module);
        QSignalSpy done(&engine, &calsync::SyncEngine::finished);
        calsync::SyncEngine::Confirm confirm;
        if (answer >= 0)
            confirm = [answer](const QString&) { return answer == 1; };
        engine.start({calendar.isEmpty() ? url(m_calendar) : QUrl(calendar), "alice", password}, confirm);
        const bool ended = done.wait(120000);
        const calsync::SyncReport& r = engine.report();
        const QString spared = r.spared || r.sparedThere ? QString(" spared %1/%2").arg(r.spared).arg(r.sparedThere) : "";
        const QString refused = r.refused ? QString(" refused %1").arg(r.refused) : "";
        return QString("sent %1 received %2 deleted %3 conflicts %4%5%6").arg(r.sent).arg(r.received).arg(r.deleted)
            .arg(r.conflicts).arg(spared + refused, ended ? r.failure + r.told.join('|') : "did not end");
    }
    // The summaries of every event on the server, sorted.
    QStringList summaries()
    {
        QStringList result;
        const QByteArray query = "<?xml version=\"1.0\"?><c:calendar-query xmlns:d=\"DAV:\" xmlns:c=\"urn:ietf:params:xml:ns:caldav\">"
                                 "<d:prop><c:calendar-data/></d:prop><c:filter><c:comp-filter name=\"VCALENDAR\"/></c:filter></c:calendar-query>";
        QXmlStreamReader xml(send("REPORT", m_calendar, query).second);
        QString events;
        while (!xml.atEnd())
            if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == QLatin1String("calendar-data"))
                events += xml.readElementText();
        for (const auto& m : QRegularExpression("\nSUMMARY:([^\r\n]*)").globalMatch(events))
            result << m.captured(1);
        result.sort();
        return result;
    }
    // The calendar lost and made again, as a server whose storage was wiped gives it.
    void emptyCalendar() { send("DELETE", m_calendar), send("MKCALENDAR", m_calendar); }
    // The UID of the row with this subject, as the sync sends it.
    static QString uidOf(Side& side, const QString& subject)
    {
        return side.db().query("SELECT UID FROM PLAN_DAT WHERE P_DETAIL = ?", {subject}).at(0).at(0).toString();
    }

private slots:
    void initTestCase()
    {
        qputenv("TZ", "Asia/Tokyo");
        tzset();
        QFile users(m_dir.filePath("users"));
        QVERIFY(users.open(QIODevice::WriteOnly) && users.write("alice:secret\n") && users.flush());
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        m_port = probe.serverPort();
        probe.close();
        QProcess openssl;
        openssl.start("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=127.0.0.1",
                                  "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", m_dir.filePath("key.pem"),
                                  "-out", m_dir.filePath("cert.pem")});
        QVERIFY(openssl.waitForFinished(30000) && openssl.exitCode() == 0);
        m_trusting.addCaCertificates(QSslCertificate::fromPath(m_dir.filePath("cert.pem")));
        QSslConfiguration::setDefaultConfiguration(m_trusting);
        // The server goes with this program, however it ends.
        m_radicale.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
        QVERIFY(startServer());
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        m_xport = probe.serverPort();
        probe.close();
        m_xandikos.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
        m_xandikos.start("xandikos", {"--defaults", "-d", m_dir.filePath("xandikos"), "-l", "127.0.0.1", "-p",
                                      QString::number(m_xport)});
        m_onXandikos = true;
        QVERIFY(QTest::qWaitFor([this] { return send("OPTIONS", "/").first != 0; }, 20000));
        m_onXandikos = false;
    }
    void cleanupTestCase() { stopServer(), m_xandikos.terminate(), m_xandikos.waitForFinished(10000); }
    void init()
    {
        useServer("radicale");
        m_env.emplace();
    }
    void cleanup()
    {
        calsync::SyncEngine::setIgnoreTokensForTests(false);
        platform::Http::setLimitsForTests(platform::Http::kDeadlineMs, platform::Http::kMaxReplyBytes);
        platform::setHttpRecorder({});
        platform::setKeyringHandler({});
        platform::setPasswordHandler({});
        QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
        m_env.reset();
    }

    // Two copies of the program on two sec.mdb files, and another calendar program. The first
    // sync sends what is here and takes what is there from today on, texts, ends and whole days intact; one with
    // nothing new asks the server one question. A change and a deletion on each side go to the
    // other; changed on both sides, the server's version takes the row and the one typed here
    // stays beside it. Both end with the same appointments, none twice, and the purge of past
    // rows leaves the server's events alone.
    void twoCopiesConverge_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<bool>("tokens"); // sync-collection; otherwise calendar-query, for servers without tokens
        QTest::addColumn<QByteArrayList>("asked"); // by a sync with nothing new
        for (const char* server : {"radicale", "xandikos"}) {
            QTest::addRow("%s", server) << server << true << QByteArrayList{"PROPFIND"};
            QTest::addRow("%s, no tokens", server) << server << false << QByteArrayList{"PROPFIND", "REPORT"};
        }
    }
    void twoCopiesConverge()
    {
        QFETCH(QString, server);
        QFETCH(bool, tokens);
        QFETCH(QByteArrayList, asked);
        useServer(server);
        calsync::SyncEngine::setIgnoreTokensForTests(!tokens);
        Side a(m_env->path("a.mdb")), b(m_env->path("b.mdb"));
        a.add({rec("2000/04/15", "09", "00", "会議"), rec("2000/04/16", "10", "30", " 出張, 大阪; \\ 😀", 0, "本社\n3階", "資料;持参\r\n"),
               rec("2000/04/16", "09", "00", "消す"), rec("2000/04/17", "12", "00", "変える"),
               rec("2000/04/20", "15", "00", "打合せ"), rec("2000/04/21", "10", "00", "両方"),
               testing::until(rec("2000/04/23", "10", "00", "終わり"), "2000/04/23|11|30"),
               testing::until(rec("2000/04/24", "00", "00", "連休"), "2000/04/26")});
        b.add({rec("2000/04/21", "10", "00", "両方"), rec("2000/04/22", "10", "00", "B")});
        send("PUT", m_calendar + "s.ics", ics("s", ":20000416T141500", "サーバー"));
        send("PUT", m_calendar + "p.ics", ics("p", ":19990101T090000Z", "過去"));
        QCOMPARE(sync(a), "sent 8 received 1 deleted 0 conflicts 0");
        QByteArrayList methods;
        platform::setHttpRecorder([&](const platform::HttpRequest& r) { methods << r.method; });
        QCOMPARE(sync(a), "sent 0 received 0 deleted 0 conflicts 0");
        QCOMPARE(methods, asked);
        QCOMPARE(sync(b), "sent 1 received 8 deleted 0 conflicts 0");
        QCOMPARE(sync(a), "sent 0 received 1 deleted 0 conflicts 0");
        QCOMPARE(b.rows(), a.rows());
        a.db().run("DELETE FROM PLAN_DAT WHERE P_DETAIL = '消す'");
        a.db().run("UPDATE PLAN_DAT SET P_DETAIL = '変えた', P_HOUR = '13' WHERE P_DETAIL = '変える'");
        a.db().run("UPDATE PLAN_DAT SET P_NOTICE = 'こちらで書いた' WHERE P_DETAIL = '打合せ'");
        b.db().run("DELETE FROM PLAN_DAT WHERE P_DETAIL = '両方'");
        b.db().run("UPDATE PLAN_DAT SET P_HOUR = '16' WHERE P_DETAIL IN ('B', '打合せ')");
        QCOMPARE(sync(b), "sent 3 received 0 deleted 0 conflicts 0");
        // A token the server has forgotten: the sync starts from the whole calendar (Xandikos
        // answers such a token with 500).
        a.db().run("UPDATE SYNC_STATE SET VALUE = 'http://radicale.org/ns/sync/0' WHERE NAME = 'TOKEN'");
        QCOMPARE(sync(a), "sent 3 received 2 deleted 2 conflicts 1");
        QCOMPARE(sync(b), "sent 0 received 2 deleted 2 conflicts 0");
        QCOMPARE(a.rows(), QStringList({"2000/04/15|09|00|会議|1||", "2000/04/16|10|30| 出張, 大阪; \\\\ 😀|0|本社\n3階|資料;持参\r\n",
                                        "2000/04/16|14|15|サーバー|1||", "2000/04/17|13|00|変えた|1||",
                                        "2000/04/20|15|00|打合せ|1||こちらで書いた", "2000/04/20|16|00|打合せ|1||",
                                        "2000/04/22|16|00|B|1||", "2000/04/23|10|00|終わり|1|||2000/04/23|11|30|0",
                                        "2000/04/24|00|00|連休|1|||2000/04/26|||1"}));
        QCOMPARE(b.rows(), a.rows());
        m_env->setNow(QDateTime(QDate(2000, 4, 16), QTime(9, 0)));
        a.db().execute(store::purgeAtStartSql("2000/04/16"));
        QCOMPARE(sync(a), "sent 0 received 0 deleted 0 conflicts 0");
        QCOMPARE(summaries(), QStringList({" 出張\\, 大阪\\; \\\\ 😀", "B", "サーバー", "会議", "変えた", "打合せ", "打合せ", "終わり", "連休", "過去"}));
    }

    // The row with the highest id, synced yesterday and purged today: a new appointment never
    // takes its id, so it goes to the server as an event of its own and yesterday's stays as it was.
    void purgedHighestRow()
    {
        Side a(m_env->path("a.mdb"));
        a.add({rec("2000/04/15", "09", "00", "今日"), rec("2000/04/15", "18", "00", "昨日になる")});
        QCOMPARE(sync(a), "sent 2 received 0 deleted 0 conflicts 0");
        const QString yesterday = m_calendar + uidOf(a, "昨日になる") + ".ics";
        const QByteArray kept = send("GET", yesterday).second;
        m_env->setNow(QDateTime(QDate(2000, 4, 16), QTime(9, 0)));
        a.db().execute(store::purgeAtStartSql("2000/04/16"));
        a.add({rec("2000/04/16", "10", "00", "新規")});
        QCOMPARE(sync(a), "sent 1 received 0 deleted 0 conflicts 0");
        QCOMPARE(send("GET", yesterday).second, kept);
        QCOMPARE(summaries(), QStringList({"今日", "新規", "昨日になる"}));
    }

    // An event another program made, changed here, goes back as it was with only that change:
    // its zone and VTIMEZONE, end, alarm, organizer, attendees, categories and X- properties stay;
    // a moved start stays in its zone (UTC in UTC) with its end moved along; whole days stay dates.
    // SEQUENCE goes up.
    void foreignEventKept_data()
    {
        QTest::addColumn<QByteArray>("event");
        QTest::addColumn<QString>("change");
        QTest::addColumn<QStringList>("removed");
        QTest::addColumn<QStringList>("added");
        const QByteArray zoned =
            "BEGIN:VTIMEZONE\r\nTZID:America/New_York\r\nBEGIN:DAYLIGHT\r\nTZOFFSETFROM:-0500\r\nTZOFFSETTO:-0400\r\n"
            "DTSTART:19700405T020000\r\nRRULE:FREQ=YEARLY;BYMONTH=4;BYDAY=1SU\r\nEND:DAYLIGHT\r\nBEGIN:STANDARD\r\n"
            "TZOFFSETFROM:-0400\r\nTZOFFSETTO:-0500\r\nDTSTART:19701025T020000\r\nRRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU\r\n"
            "END:STANDARD\r\nEND:VTIMEZONE\r\nBEGIN:VEVENT\r\nUID:z\r\nDTSTAMP:20000101T000000Z\r\n"
            "DTSTART;TZID=America/New_York:20000420T090000\r\nDTEND;TZID=America/New_York:20000420T100000\r\n"
            "SUMMARY:会議\r\nORGANIZER:mailto:boss@example.com\r\nATTENDEE;CN=A:mailto:a@example.com\r\n"
            "ATTENDEE;CN=B:mailto:b@example.com\r\nCATEGORIES:仕事\r\nX-OTHER:keep\r\nBEGIN:VALARM\r\nACTION:DISPLAY\r\n"
            "DESCRIPTION:r\r\nTRIGGER:-PT15M\r\nEND:VALARM\r\nEND:VEVENT\r\n";
        QTest::newRow("zone, end, alarm, attendees: subject") << zoned << "P_DETAIL = '変更'"
                                                              << QStringList{"SUMMARY:会議"} << QStringList{"SUMMARY:変更"};
        QTest::newRow("zone, end, alarm, attendees: reminder time alone") << zoned << "P_REMIND = 30"
            << QStringList{"DESCRIPTION:r", "TRIGGER:-PT15M"} << QStringList{"DESCRIPTION:会議", "TRIGGER:-PT30M"};
        QTest::newRow("zone, end, alarm, attendees: an hour later")
            << zoned << "P_HOUR = '23', END_DATE = '2000/04/21', END_HOUR = '00'"
            << QStringList{"DTSTART;TZID=America/New_York:20000420T090000", "DTEND;TZID=America/New_York:20000420T100000"}
            << QStringList{"DTSTART;TZID=America/New_York:20000420T100000", "DTEND;TZID=America/New_York:20000420T110000"};
        QTest::newRow("UTC with a duration: place, an hour later")
            << QByteArray("BEGIN:VEVENT\r\nUID:u\r\nDTSTAMP:20000101T000000Z\r\nDTSTART:20000420T010000Z\r\nDURATION:PT1H\r\n"
                          "SUMMARY:朝会\r\nEND:VEVENT\r\n")
            << "P_HOUR = '11', END_HOUR = '12', P_PLACE = '本社'" << QStringList{"DTSTART:20000420T010000Z"}
            << QStringList{"DTSTART:20000420T020000Z", "LOCATION:本社"};
        QTest::newRow("all day: subject")
            << QByteArray("BEGIN:VEVENT\r\nUID:d\r\nDTSTAMP:20000101T000000Z\r\nDTSTART;VALUE=DATE:20000420\r\n"
                          "DTEND;VALUE=DATE:20000421\r\nSUMMARY:休暇\r\nTRANSP:TRANSPARENT\r\nEND:VEVENT\r\n")
            << "P_DETAIL = '夏休み'" << QStringList{"SUMMARY:休暇"} << QStringList{"SUMMARY:夏休み"};
    }
    void foreignEventKept()
    {
        QFETCH(QByteArray, event);
        QFETCH(QString, change);
        QFETCH(QStringList, removed);
        QFETCH(QStringList, added);
        Side a(m_env->path("a.mdb"));
        const QByteArray original = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//other//EN\r\n" + event + "END:VCALENDAR\r\n";
        QCOMPARE(send("PUT", m_calendar + "f.ics", original).first, 201);
        QCOMPARE(sync(a), "sent 0 received 1 deleted 0 conflicts 0");
        a.db().run("UPDATE PLAN_DAT SET " + change);
        QCOMPARE(sync(a), "sent 1 received 0 deleted 0 conflicts 0");
        const auto lines = [](const QByteArray& text) {
            QStringList result = QString::fromUtf8(text).replace("\r\n ", "").split("\r\n", Qt::SkipEmptyParts);
            return QSet<QString>(result.begin(), result.end());
        };
        const QSet<QString> before = lines(original), after = lines(send("GET", m_calendar + "f.ics").second);
        QStringList gone = (before - after).values(), come = (after - before).values();
        gone.sort();
        come = come.filter(QRegularExpression("^(?!DTSTAMP:|LAST-MODIFIED:)"));
        come.sort();
        removed << "DTSTAMP:20000101T000000Z";
        added << "SEQUENCE:1";
        removed.sort();
        added.sort();
        QCOMPARE(gone.join('\n'), removed.join('\n'));
        QCOMPARE(come.join('\n'), added.join('\n'));
    }

    // "しない" goes to the server as our mark; a reminder time changed there comes back here, and
    // is not sent back again.
    void reminderTimeFromServer()
    {
        Side a(m_env->path("a.mdb"));
        a.add({rec("2000/04/20", "10", "00", "会議")});
        a.db().run("UPDATE PLAN_DAT SET P_REMIND = -1");
        QCOMPARE(sync(a), "sent 1 received 0 deleted 0 conflicts 0");
        const QString href = m_calendar + uidOf(a, "会議") + ".ics";
        QByteArray event = send("GET", href).second;
        QVERIFY2(event.contains("\nX-MERIDOCAL-NO-ALARM:TRUE\r\n") && !event.contains("VALARM"), event.constData());
        event.replace("X-MERIDOCAL-NO-ALARM:TRUE\r\n", "BEGIN:VALARM\r\nACTION:AUDIO\r\nTRIGGER:-PT30M\r\nEND:VALARM\r\n");
        QCOMPARE(send("PUT", href, event).first, 201);
        QCOMPARE(sync(a), "sent 0 received 0 deleted 0 conflicts 0");
        QCOMPARE(a.db().query("SELECT P_REMIND FROM PLAN_DAT").at(0).at(0).toInt(), 30);
    }

    // Another program writes our events between our look and our write: the change, the deletion
    // and the new row here each yield to it instead of overwriting it, and both texts stay.
    void anotherProgramMeanwhile()
    {
        Side a(m_env->path("a.mdb"));
        const QList<store::PLAN_REC> ours{rec("2000/04/20", "10", "00", "変える"), rec("2000/04/20", "11", "00", "消す"),
                                          rec("2000/04/20", "12", "00", "足す")};
        a.add({ours[0], ours[1]});
        QCOMPARE(sync(a), "sent 2 received 0 deleted 0 conflicts 0");
        a.add({ours[2]});
        QStringList uids;
        for (const auto& r : ours)
            uids << uidOf(a, r.P_DETAIL);
        a.db().run("UPDATE PLAN_DAT SET P_NOTICE = 'こちら' WHERE P_DETAIL = '変える'");
        a.db().run("DELETE FROM PLAN_DAT WHERE P_DETAIL = '消す'");
        platform::setHttpRecorder([&](const platform::HttpRequest& r) {
            for (int i = 0; i < 3; ++i)
                if (r.url.path() == m_calendar + uids[i] + ".ics")
                    send("PUT", m_calendar + uids[i] + ".ics", ics(uids[i], QString(":20000420T%1").arg(170000 + 10000 * i), "よそ"));
        });
        QCOMPARE(sync(a), "sent 1 received 3 deleted 0 conflicts 2");
        QCOMPARE(sync(a), "sent 1 received 0 deleted 0 conflicts 0");
        QCOMPARE(a.rows(), QStringList({"2000/04/20|10|00|変える|1||こちら", "2000/04/20|12|00|足す|1||", "2000/04/20|17|00|よそ|1||",
                                        "2000/04/20|18|00|よそ|1||", "2000/04/20|19|00|よそ|1||"}));
        QCOMPARE(summaries(), QStringList({"よそ", "よそ", "よそ", "変える", "足す"}));
    }

    // A sync that fails (a certificate nobody vouches for; a wrong password; the server stopping
    // while we send or while we fetch) says why and leaves nothing half-taken; the next sync
    // completes with every appointment once.
    void failedSyncRetried_data()
    {
        QTest::addColumn<bool>("trusted");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QByteArray>("stopAt"); // the request's method, or what its body holds
        QTest::addColumn<int>("nth");
        QTest::addColumn<int>("events");
        QTest::addColumn<bool>("taken"); // the server's events were taken before the failure
        QTest::addColumn<QString>("failure");
        QTest::newRow("untrusted certificate") << false << "secret" << QByteArray() << -1 << 20 << false
                                               << "同期できませんでした（安全な接続ができません：サーバーの証明書を確かめられません（";
        QTest::newRow("wrong password") << true << "wrong" << QByteArray() << -1 << 20 << false
                                        << "同期できませんでした（サーバーの応答 401 Unauthorized：ユーザー名またはパスワードが違います）。";
        QTest::newRow("sending") << true << "secret" << QByteArray("PUT") << 3 << 20 << true << "同期できませんでした（サーバー";
        // Six fetches of a hundred events at once: the seventh goes when one has been answered.
        QTest::newRow("fetching") << true << "secret" << QByteArray("calendar-multiget") << 7 << 610 << false << "同期できませんでした（サーバー";
    }
    void failedSyncRetried()
    {
        QFETCH(bool, trusted);
        QFETCH(QString, password);
        QFETCH(QByteArray, stopAt);
        QFETCH(int, nth);
        QFETCH(int, events);
        QFETCH(bool, taken);
        QFETCH(QString, failure);
        Side a(m_env->path("a.mdb"));
        QStringList here, there;
        for (int i = 0; i < 10; ++i) {
            a.add({rec("2000/04/20", "10", "00", QString("ここ%1").arg(i))});
            here << QString("2000/04/20|10|00|ここ%1|1||").arg(i);
        }
        // Put straight into the server's storage: Radicale takes many events this way in no time.
        for (int i = 0; i < events; ++i) {
            QFile file(m_dir.filePath("storage/collection-root" + m_calendar + QString("%1.ics").arg(i)));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(ics(QString::number(i), ":20000421T100000", QString("そこ%1").arg(i))));
            there << QString("2000/04/21|10|00|そこ%1|1||").arg(i);
        }
        there.sort();
        int seen = 0;
        platform::setHttpRecorder([&](const platform::HttpRequest& r) {
            seen += r.method == stopAt || r.body.contains(stopAt);
            seen == nth ? stopServer() : void();
        });
        QSslConfiguration::setDefaultConfiguration(trusted ? m_trusting : m_system);
        const QString result = sync(a, password);
        QSslConfiguration::setDefaultConfiguration(m_trusting);
        QVERIFY2(result.contains("conflicts 0" + failure), qPrintable(result));
        QCOMPARE(a.rows(), taken ? here + there : here);
        platform::setHttpRecorder({});
        stopServer();
        QVERIFY(startServer());
        QVERIFY(sync(a).endsWith("conflicts 0"));
        QCOMPARE(a.rows(), here + there);
        QCOMPARE(summaries().size(), events + 10);
        QCOMPARE(sync(a), "sent 0 received 0 deleted 0 conflicts 0");
    }

    // A series made here goes as one resource with its rule; an occurrence changed here goes in
    // it as an exception, one deleted here as an EXDATE; a change of the series on the server makes
    // its rows again and keeps the exception made here; an emptied calendar gets it whole again.
    // Checked on the server's own copy.
    void seriesGoWhole()
    {
        Side a(m_env->path("a.mdb"));
        const QDate today(2000, 4, 15);
        store::addSeries(a.db(), store::seriesFor(rec("2000/04/15", "10", "30", "定例"), "FREQ=WEEKLY;BYDAY=SA"), today);
        QCOMPARE(sync(a), "sent 1 received 0 deleted 0 conflicts 0");
        const auto idOn = [&](const QString& day) { return a.db().query("SELECT ID FROM PLAN_DAT WHERE P_DATE = ?", {day}).at(0).at(0).toLongLong(); };
        store::changeOccurrence(a.db(), idOn("2000/04/22"), rec("2000/04/22", "11", "00", "定例!"), store::Scope::ThisOnly, {}, today);
        store::deleteOccurrence(a.db(), idOn("2000/04/29"), store::Scope::ThisOnly, today);
        QCOMPARE(sync(a), "sent 1 received 0 deleted 0 conflicts 0");
        const QString uid = a.db().query("SELECT UID FROM PLAN_SERIES").at(0).at(0).toString();
        const auto [status, copy] = send("GET", m_calendar + uid + ".ics");
        QCOMPARE(status, 200);
        const QStringList lines = QString::fromUtf8(copy).split("\r\n");
        QCOMPARE(lines.filter("BEGIN:VEVENT").size(), 2);
        QCOMPARE(lines.filter("RRULE:").join(','), "RRULE:FREQ=WEEKLY;BYDAY=SA");
        QVERIFY(lines.contains("EXDATE:20000429T103000") && lines.contains("RECURRENCE-ID:20000422T103000"));
        QCOMPARE(summaries(), QStringList({"定例", "定例!"}));
        QCOMPARE(send("PUT", m_calendar + uid + ".ics", QByteArray(copy).replace("SUMMARY:定例\r\n", "SUMMARY:定例（改）\r\n")).first / 100, 2);
        QCOMPARE(sync(a), "sent 0 received 1 deleted 0 conflicts 0");
        QCOMPARE(a.rows().mid(0, 3), QStringList({"2000/04/15|10|30|定例（改）|1||", "2000/04/22|11|00|定例!|1||",
                                                  "2000/05/06|10|30|定例（改）|1||"}));
        QCOMPARE(sync(a), "sent 0 received 0 deleted 0 conflicts 0");
        emptyCalendar();
        QCOMPARE(sync(a), "sent 1 received 0 deleted 0 conflicts 0");
        QCOMPARE(summaries(), QStringList({"定例!", "定例（改）"}));
    }

    // A weekly event another program put there is taken as one series of ours, also where an
    // older version had made rows of it: an occurrence changed here and one deleted here go back
    // inside its one resource, and what that program wrote stays.
    void foreignSeriesGoWhole()
    {
        Side a(m_env->path("a.mdb"));
        const QDate today(2000, 4, 15);
        const QString href = m_calendar + "w.ics";
        QCOMPARE(send("PUT", href, ics("w", ":20000415T103000", "定例").replace("SUMMARY", "RRULE:FREQ=WEEKLY;BYDAY=SA\r\n"
                                                 "X-OTHER:残す\r\nSUMMARY")).first, 201);
        calsync::SyncStatus status(a.db());
        status.useCalendar(url(m_calendar).toString());
        // As an older version left it: each occurrence a row linked to the event.
        for (const QString day : {"2000/04/15", "2000/04/22"})
            status.link(store::insert(a.db(), rec(day, "10", "30", "定例")), href, rec(day, "10", "30", "定例"), {});
        status.remember(href, "w", "\"old\"", true);
        QCOMPARE(sync(a), "sent 0 received 1 deleted 0 conflicts 0");
        QCOMPARE(a.db().query("SELECT COUNT(*) FROM PLAN_DAT WHERE P_DATE = '2000/04/22' AND SERIES_ID IS NOT NULL").at(0).at(0).toInt(), 1);
        const auto idOn = [&](const QString& day) { return a.db().query("SELECT ID FROM PLAN_DAT WHERE P_DATE = ?", {day}).at(0).at(0).toLongLong(); };
        store::changeOccurrence(a.db(), idOn("2000/04/22"), rec("2000/04/22", "11", "00", "定例!"), store::Scope::ThisOnly, {}, today);
        store::deleteOccurrence(a.db(), idOn("2000/04/29"), store::Scope::ThisOnly, today);
        QCOMPARE(sync(a), "sent 1 received 0 deleted 0 conflicts 0");
        const QStringList lines = QString::fromUtf8(send("GET", href).second).split("\r\n");
        QCOMPARE(lines.filter("RRULE:").join(','), "RRULE:FREQ=WEEKLY;BYDAY=SA");
        QVERIFY(lines.contains("EXDATE:20000429T103000") && lines.contains("RECURRENCE-ID:20000422T103000") && lines.contains("X-OTHER:残す"));
        QCOMPARE(summaries(), QStringList({"定例", "定例!"}));
        QCOMPARE(sync(a), "sent 0 received 0 deleted 0 conflicts 0");
    }

    // Through the windows, on a desktop without a keyring: 「同期設定」 refuses a URL that is not
    // http(s), or has a space or a port out of range, each for its own fault; it checks the
    // connection and saves; the password lives in this run's memory only; an automatic sync
    // follows silently, and 「今すぐ同期」 tells what it did.
    void throughTheWindows()
    {
        testing::TestEnv& env = *m_env;
        platform::setKeyringHandler([](const platform::KeyringRequest&) { return platform::KeyringAnswer{false, {}, false}; });
        env.insert(rec("2000/04/15", "09", "00", "窓から"));
        testing::StartedMain main;
        const QString calendar = url(m_calendar).toString();
        testing::onNextModal([&](QWidget* dialog) {
            CHILD(urlEdit, QLineEdit, dialog, "m_urlEdit");
            CHILD(userEdit, QLineEdit, dialog, "m_userEdit");
            CHILD(passwordEdit, QLineEdit, dialog, "m_passwordEdit");
            CHILD(autoCheck, QCheckBox, dialog, "m_autoCheck");
            CHILD(checkButton, QPushButton, dialog, "m_checkButton");
            CHILD(checkLabel, QLabel, dialog, "m_checkLabel");
            CHILD(keyringLabel, QLabel, dialog, "m_keyringLabel");
            CHILD(save, QPushButton, dialog, "m_saveButton");
            QTRY_VERIFY(keyringLabel->isVisible());
            QCOMPARE(passwordEdit->echoMode(), QLineEdit::Password);
            for (const char* typed : {"ftp://127.0.0.1/calendar/", "https://127.0.0.1/my calendar/", "https://127.0.0.1:99999/"})
                urlEdit->setText(typed), save->click();
            QCOMPARE(env.told(), QStringList({"カレンダーの URL は https:// か http:// で始めてください。 [同期設定, icon 2]",
                                              "カレンダーの URL に空白が入っています。空白は %20 と書いてください。 [同期設定, icon 2]",
                                              "カレンダーの URL のポート番号「99999」は使えません。1～65535 の数を指定してください。 [同期設定, icon 2]"}));
            env.clearShown();
            urlEdit->setText(calendar);
            userEdit->setText("alice");
            passwordEdit->setText("secret");
            autoCheck->setChecked(true);
            checkButton->click();
            QTRY_COMPARE(checkLabel->text(), "接続できました。このカレンダーと同期できます。");
            save->click();
        });
        main.action("mnuSyncSettings")->trigger();
        QFile settings(env.settingsPath());
        QVERIFY(settings.open(QIODevice::ReadOnly) && !settings.readAll().contains("secret"));
        QTRY_COMPARE_WITH_TIMEOUT(summaries(), QStringList("窓から"), 10000);
        QTRY_VERIFY(main.action("mnuSyncNow")->isEnabled());
        send("PUT", m_calendar + "s.ics", ics("s", ":20000415T180000", "サーバーから"));
        main.action("mnuSyncNow")->trigger();
        QTRY_COMPARE(env.told(), QStringList("同期しました（送信 0件、受信 1件、削除 0件）。 [同期, icon 4]"));
        QCOMPARE(main.label("TELL_LABEL"), "2件の予定が入っています。");
        // Once the password is forgotten, each 「今すぐ同期」 asks for it; cancelled, nothing is sent.
        platform::setKeyringHandler([](const platform::KeyringRequest&) { return platform::KeyringAnswer{false, {}, false}; });
        env.clearShown();
        QStringList answers{"", "secret"};
        platform::setPasswordHandler([&](const QString&) {
            const QString answer = answers.takeFirst();
            return answer.isEmpty() ? std::nullopt : std::optional<QString>(answer);
        });
        main.action("mnuSyncNow")->trigger();
        QTRY_VERIFY(main.action("mnuSyncNow")->isEnabled());
        QVERIFY(env.told().isEmpty());
        main.action("mnuSyncNow")->trigger();
        QTRY_COMPARE(env.told(), QStringList("同期しました（送信 0件、受信 0件、削除 0件）。 [同期, icon 4]"));
        QVERIFY(answers.isEmpty());
    }

    // One event the server refuses (413, or 403 for a UID it will not take, after a fresh UID)
    // is told by its subject and date with the server's reason and skipped: the others arrive
    // in the same sync. Automatic syncs try it again without telling it again, and it goes
    // when the server takes it. A proxy of the test's own refuses it on the way to each server.
    void oneEventRefused_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("puts");
        QTest::addColumn<QString>("reason");
        QTest::newRow("413, Radicale") << "radicale" << 413 << 1 << "予定が大きすぎてサーバーが受け付けません";
        QTest::newRow("413, Xandikos") << "xandikos" << 413 << 1 << "予定が大きすぎてサーバーが受け付けません";
        QTest::newRow("403, Radicale") << "radicale" << 403 << 2 << "このカレンダーを使う権限がありません";
        QTest::newRow("500, Xandikos") << "xandikos" << 500 << 1 << "サーバーで障害が起きています（しばらくしてからやり直してください）";
    }
    void oneEventRefused()
    {
        QFETCH(QString, server);
        QFETCH(int, status);
        QFETCH(int, puts);
        QFETCH(QString, reason);
        useServer(server);
        Peer proxy;
        bool refusing = true;
        int refused = 0;
        proxy.reply = [&](const QByteArray& request) {
            const bool refuse = refusing && request.startsWith("PUT") && request.contains("大きい") && ++refused;
            return refuse ? QString("HTTP/1.1 %1 Refused\r\nContent-Length: 0\r\n\r\n").arg(status).toLatin1() : forward(request);
        };
        Side a(m_env->path("a.mdb"));
        a.add({rec("2000/04/20", "10", "00", "前"), rec("2000/04/20", "11", "00", "大きい"), rec("2000/04/21", "12", "00", "後")});
        const QString calendar = proxy.url(m_calendar);
        QCOMPARE(sync(a, "secret", -1, calendar), QString("sent 2 received 0 deleted 0 conflicts 0 refused 1予定「大きい」（2000/04/20）をサーバーが受け付けませんでした（サーバーの応答 %1 Refused：%2）。次の同期でもう一度送ります。").arg(status).arg(reason));
        QCOMPARE(refused, puts);
        QCOMPARE(summaries(), QStringList({"前", "後"}));
        QCOMPARE(sync(a, "secret", -1, calendar), "sent 0 received 0 deleted 0 conflicts 0 refused 1");
        refusing = false;
        QCOMPARE(sync(a, "secret", -1, calendar), "sent 1 received 0 deleted 0 conflicts 0");
        QCOMPARE(summaries(), QStringList({"前", "大きい", "後"}));
    }

    // A weekly event from another program comes as a row per instance; an instance changed here
    // goes as an event of its own and leaves the series whole. The series changed there into
    // one we cannot read (a rule by the second) keeps its rows here and is told once; the
    // listing without tokens brings it at each sync.
    void unreadableEventKept_data()
    {
        QTest::addColumn<QString>("server");
        QTest::newRow("Radicale") << "radicale";
        QTest::newRow("Xandikos") << "xandikos";
    }
    void unreadableEventKept()
    {
        QFETCH(QString, server);
        useServer(server);
        calsync::SyncEngine::setIgnoreTokensForTests(true);
        Side a(m_env->path("a.mdb"));
        auto weekly = [&](const QString& summary, const QByteArray& rule) {
            send("PUT", m_calendar + "x.ics", ics("x", ":20000420T100000", summary).replace("SUMMARY", "RRULE:" + rule + "\r\nSUMMARY"));
        };
        weekly("週例", "FREQ=WEEKLY;COUNT=2");
        QCOMPARE(sync(a), "sent 0 received 1 deleted 0 conflicts 0");
        weekly("読めない", "FREQ=SECONDLY;COUNT=3");
        QCOMPARE(sync(a), "sent 0 received 0 deleted 0 conflicts 0 refused 1サーバーの予定「x.ics」を読めませんでした（繰り返しの規則を読めません）。こちらの予定はそのまま残しました。");
        QCOMPARE(sync(a), "sent 0 received 0 deleted 0 conflicts 0 refused 1");
        QCOMPARE(a.rows(), QStringList({"2000/04/20|10|00|週例|1||", "2000/04/27|10|00|週例|1||"}));
        QCOMPARE(summaries(), QStringList({"読めない"}));
    }

    // Automatic syncs through the main window: a server that is away is told once, not at each
    // sync, until one goes through; an event it refuses is told once too.
    void automaticSyncToldOnce()
    {
        testing::TestEnv& env = *m_env;
        Peer server;
        QByteArray mode = "away";
        server.reply = [&](const QByteArray& request) {
            return mode == "away" ? QByteArray("HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\n\r\n")
                : request.startsWith("PUT") ? QByteArray("HTTP/1.1 413 Payload Too Large\r\nContent-Length: 0\r\n\r\n")
                : request.startsWith("PROPFIND") ? multistatus({{"/cal/", "<d:resourcetype><c:calendar/></d:resourcetype>"}})
                                                 : multistatus({});
        };
        for (const auto& [key, value] : {std::pair{"SYNC_URL", server.url("/cal/")}, {"SYNC_USER", "alice"}, {"SYNC_AUTO", "1"}})
            env.setSetting(key, value);
        env.insert(rec("2000/04/20", "10", "00", "大きい"));
        calsync::prepareDatabase(*platform::Database::open(env.dbPath()));
        platform::setKeyringHandler([](const platform::KeyringRequest&) { return platform::KeyringAnswer{true, "secret"}; });
        testing::StartedMain main;
        CHILD(control, SyncControl, &main.window, "");
        const QString away = "同期できませんでした（サーバーの応答 503 Service Unavailable：サーバーで障害が起きています（しばらくしてからやり直してください））。 [同期, icon 2]";
        const QString refused = "予定「大きい」（2000/04/20）をサーバーが受け付けませんでした（サーバーの応答 413 Payload Too Large：予定が大きすぎてサーバーが受け付けません）。次の同期でもう一度送ります。 [同期, icon 2]";
        for (const QByteArray next : {"away", "away", "up", "up", "away", "away"}) {
            const qsizetype asked = server.requests.size();
            mode = next;
            control->changed();
            QTRY_VERIFY_WITH_TIMEOUT(server.requests.size() > asked && main.action("mnuSyncNow")->isEnabled(), 10000);
        }
        QCOMPARE(env.told(), QStringList({away, refused, away}));
    }

    // A server of a stranger's, or one that misbehaves, ends the sync with a reason, and the
    // password never leaves the configured server: a redirect elsewhere is not followed (the
    // stranger sees no request), one to the same server is, but not for ever. A reply over the
    // cap, announced or not, is cut; one that drips ends by the deadline; a multistatus that
    // declares entities is not read.
    void hostileServer_data()
    {
        QTest::addColumn<QByteArray>("answer"); // PORT: the stranger's port
        QTest::addColumn<int>("dripMs");
        QTest::addColumn<QString>("failure");
        const QString elsewhere = "サーバーが別の接続先（%1://127.0.0.1:PORT）へ転送しようとしました。パスワードを渡さないよう、転送先には接続していません";
        const QString tooBig = "サーバーの応答が大きすぎます（上限 1 MB）。受け取りを中止しました";
        const QByteArray big(2000000, 'x');
        QTest::newRow("307 elsewhere") << QByteArray("HTTP/1.1 307 Temporary Redirect\r\nLocation: http://127.0.0.1:PORT/c/\r\nContent-Length: 0\r\n\r\n") << 0 << elsewhere.arg("http");
        QTest::newRow("301 to https") << QByteArray("HTTP/1.1 301 Moved Permanently\r\nLocation: https://127.0.0.1:PORT/c/\r\nContent-Length: 0\r\n\r\n") << 0 << elsewhere.arg("https");
        QTest::newRow("308 to itself") << QByteArray("HTTP/1.1 308 Permanent Redirect\r\nLocation: /cal/\r\nContent-Length: 0\r\n\r\n") << 0 << "サーバーが転送を繰り返しました";
        QTest::newRow("too big, announced") << "HTTP/1.1 207 Multi-Status\r\nContent-Length: 2000000\r\n\r\n" + big << 0 << tooBig;
        QTest::newRow("too big, unannounced") << "HTTP/1.1 207 Multi-Status\r\nConnection: close\r\n\r\n" + big << 0 << tooBig;
        QTest::newRow("dripping") << "HTTP/1.1 207 Multi-Status\r\nContent-Length: 100\r\n\r\n" + QByteArray(100, ' ') << 100
                                  << "サーバーの応答が1秒以内に終わりませんでした";
        QTest::newRow("entities") << multistatus({{"/cal/", "<d:displayname>&a;</d:displayname>"}}, "<!DOCTYPE d:multistatus [<!ENTITY a \"aaaa\">]>")
                                  << 0 << "サーバーの応答に実体の宣言（DTD）があるため、読みませんでした";
    }
    void hostileServer()
    {
        QFETCH(QByteArray, answer);
        QFETCH(int, dripMs);
        QFETCH(QString, failure);
        platform::Http::setLimitsForTests(1000, 1024 * 1024);
        Peer server, stranger;
        const QByteArray port = QByteArray::number(stranger.server.serverPort());
        server.reply = [&](const QByteArray&) { return QByteArray(answer).replace("PORT", port); };
        server.dripMs = dripMs;
        Side a(m_env->path("a.mdb"));
        const QString result = sync(a, "secret", 1, server.url("/cal/"));
        QCOMPARE(stranger.requests, QList<QByteArray>());
        QCOMPARE(result, "sent 0 received 0 deleted 0 conflicts 0同期できませんでした（" + failure.replace("PORT", port) + "）。");
        QVERIFY(server.requests.first().contains("Authorization: Basic " + QByteArray("alice:secret").toBase64()));
    }

    // A server naming events outside the calendar (another folder, one reached by "..") gets no
    // request for them: neither a fetch nor the deletion of one an older version noted.
    void hrefsOutsideTheCalendar()
    {
        Peer server;
        Side a(m_env->path("a.mdb"));
        a.db().run("INSERT INTO SYNC_STATE VALUES ('URL', ?)", {server.url("/cal/")});
        a.db().run("INSERT INTO SYNC_ITEM VALUES ('/other/old.ics', 'old', '\"2\"', 0)");
        a.db().run("INSERT INTO SYNC_LINK VALUES (999, '/other/old.ics', '2000/04/20', 'x')");
        const QString etag = "<d:getetag>\"%1\"</d:getetag>", data = "<c:calendar-data>%1</c:calendar-data>";
        server.reply = [&](const QByteArray& request) {
            return request.startsWith("PROPFIND") ? multistatus({{"/cal/", "<d:resourcetype><c:calendar/></d:resourcetype>"}})
                : request.contains("calendar-query")
                ? multistatus({{"/cal/in.ics", etag.arg(1)}, {"/other/old.ics", etag.arg(2)}, {"/cal/../other/x.ics", etag.arg(3)}})
                : multistatus({{"/cal/in.ics", etag.arg(1) + data.arg(ics("in", ":20000420T100000", "中"))},
                               {"/other/x.ics", etag.arg(3) + data.arg(ics("x", ":20000420T110000", "外"))}});
        };
        QCOMPARE(sync(a, "secret", 1, server.url("/cal/")), "sent 0 received 1 deleted 0 conflicts 0");
        QCOMPARE(a.rows(), QStringList("2000/04/20|10|00|中|1||"));
        QVERIFY2(!server.requests.join().contains("/other/"), server.requests.join().constData());
    }

    // Deleting most of one side at once is held back: the server's calendar recreated empty, or
    // the rows here gone. An automatic sync deletes nothing and says why; the user who started
    // one is asked: yes deletes, no keeps everything, and the next sync neither deletes it nor
    // sends it twice (gone here: the server's events come back).
    void massDeletionGuarded_data()
    {
        QTest::addColumn<bool>("serverEmptied");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("result");
        QTest::addColumn<QString>("next");
        QTest::addColumn<int>("rowsHere");
        QTest::addColumn<int>("eventsThere");
        const QString zero = "sent 0 received 0 deleted 0 conflicts 0", automatic = "\r自動の同期では削除しませんでした。「今すぐ同期」で確かめてください。";
        const QString emptied = zero + "サーバーのカレンダーが空になっています（サーバーのデータが失われたか、カレンダーが作り直された"
            "可能性があります）。\rこの同期で、こちらの予定 8件のうち 8件が削除されます。" + automatic;
        const QString goneHere = zero + "こちらで消えた予定の分、サーバーの予定 8件のうち 8件が削除されます。" + automatic;
        QTest::newRow("emptied, automatic") << true << -1 << emptied << emptied << 8 << 0;
        QTest::newRow("emptied, no") << true << 0 << zero + " spared 8/0" << zero << 8 << 0;
        QTest::newRow("emptied, yes") << true << 1 << "sent 0 received 0 deleted 8 conflicts 0" << zero << 0 << 0;
        QTest::newRow("gone here, automatic") << false << -1 << goneHere << goneHere << 0 << 8;
        QTest::newRow("gone here, no") << false << 0 << zero + " spared 0/8" << "sent 0 received 8 deleted 0 conflicts 0" << 8 << 8;
    }
    void massDeletionGuarded()
    {
        QFETCH(bool, serverEmptied);
        QFETCH(int, answer);
        QFETCH(QString, result);
        QFETCH(QString, next);
        QFETCH(int, rowsHere);
        QFETCH(int, eventsThere);
        Side a(m_env->path("a.mdb"));
        for (int i = 0; i < 8; ++i)
            a.add({rec("2000/04/20", "10", QString("%1").arg(i, 2, 10, QChar('0')), "予定")});
        QCOMPARE(sync(a), "sent 8 received 0 deleted 0 conflicts 0");
        serverEmptied ? emptyCalendar() : void(a.db().run("DELETE FROM PLAN_DAT"));
        QCOMPARE(sync(a, "secret", answer), result);
        QCOMPARE(sync(a, "secret", answer), next);
        QCOMPARE(a.rows().size(), rowsHere);
        QCOMPARE(summaries().size(), eventsThere);
    }

    void massDeletionPolicy_data()
    {
        QTest::addColumn<int>("deleting");
        QTest::addColumn<int>("total");
        QTest::addColumn<bool>("otherSideEmptied");
        QTest::addColumn<bool>("held");
        QTest::newRow("a handful of all") << 5 << 5 << false << false;
        QTest::newRow("six of all") << 6 << 6 << false << true;
        QTest::newRow("six of twelve") << 6 << 12 << false << false;
        QTest::newRow("seven of twelve") << 7 << 12 << false << true;
        QTest::newRow("one, other side emptied") << 1 << 1 << true << true;
    }
    void massDeletionPolicy()
    {
        QFETCH(int, deleting);
        QFETCH(int, total);
        QFETCH(bool, otherSideEmptied);
        QFETCH(bool, held);
        QCOMPARE(calsync::massDeletion(deleting, total, otherSideEmptied), held);
    }
};

QTEST_MAIN(TestSync)
#include "test_sync.moc"
