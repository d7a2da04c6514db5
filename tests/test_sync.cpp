// Two-way sync with a real CalDAV server: Radicale on 127.0.0.1 with a calendar of its own for
// each test, driven through the sync engine, and once through the main window.
#include "support/test_env.h"

#include "ical/ical_conversion.h"
#include "platform/keyring.h"
#include "sync/sync_engine.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkReply>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <ctime>

using testing::rec;
using testing::TestEnv;

namespace {

// Radicale 3 as Debian ships it, reading no configuration but its arguments: users from a plain
// htpasswd file, storage in a temporary folder, on a port that was free.
class Radicale {
public:
    Radicale()
    {
        QFile users(m_dir.filePath("users"));
        users.open(QIODevice::WriteOnly) && users.write("alice:secret\n");
        QTcpServer probe;
        m_port = probe.listen(QHostAddress::LocalHost) ? probe.serverPort() : 0;
    }
    ~Radicale() { stop(); }
    bool start()
    {
        m_process.start("radicale", {"--config", "", "--server-hosts", QString("127.0.0.1:%1").arg(m_port),
                                     "--storage-filesystem-folder", m_dir.filePath("storage"), "--auth-type",
                                     "htpasswd", "--auth-htpasswd-filename", m_dir.filePath("users"),
                                     "--auth-htpasswd-encryption", "plain", "--auth-delay", "0"});
        return QTest::qWaitFor([this] {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, m_port);
            return socket.waitForConnected(200);
        }, 20000);
    }
    void stop()
    {
        m_process.terminate();
        m_process.waitForFinished(10000);
    }
    QUrl url(const QString& path) const { return QUrl(QString("http://127.0.0.1:%1%2").arg(m_port).arg(path)); }
    // A request of the test's own, straight through Qt Network; the status, then the body.
    std::pair<int, QByteArray> send(const QByteArray& method, const QString& path, const QByteArray& body = {})
    {
        QNetworkRequest request(url(path));
        request.setRawHeader("Authorization", "Basic " + QByteArray("alice:secret").toBase64());
        std::unique_ptr<QNetworkReply> reply(m_net.sendCustomRequest(request, method, body));
        QSignalSpy(reply.get(), &QNetworkReply::finished).wait(20000);
        return {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll()};
    }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
    QNetworkAccessManager m_net;
};

// One event as another calendar program would put it on the server.
QByteArray ics(const QString& uid, const QByteArray& start, const QString& summary, const QByteArray& more = {})
{
    return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//test//EN\r\n" + more + "BEGIN:VEVENT\r\nUID:" + uid.toUtf8()
        + "\r\nDTSTAMP:20000101T000000Z\r\nDTSTART" + start + "\r\nSUMMARY:" + summary.toUtf8()
        + "\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
}

// A sec.mdb as one copy of the program has it, made ready for sync.
struct Side {
    state::Module1 module;
    explicit Side(const QString& path)
    {
        if (!QFile::exists(path))
            testing::makeDatabase(path);
        module.SEC_DB = platform::Database::open(path);
        calsync::prepareDatabase(*module.SEC_DB);
    }
    platform::Database& db() { return *module.SEC_DB; }
    void add(std::initializer_list<store::PLAN_REC> rows)
    {
        for (const auto& r : rows)
            store::insert(db(), r);
    }
    QStringList rows()
    {
        QStringList result;
        for (const auto& row : db().query("SELECT " + store::kRowColumns + " FROM PLAN_DAT"))
            result << testing::line(store::storedRow(row).rec);
        result.sort();
        return result;
    }
};

} // namespace

class TestSync : public QObject {
    Q_OBJECT
    Radicale m_server;
    std::optional<TestEnv> m_env;
    QString m_calendar;
    int m_calendars = 0;

    calsync::Account account(const QString& password = "secret") const { return {m_server.url(m_calendar), "alice", password}; }
    // One sync, its counts and failure as one line.
    QString sync(Side& side, const std::optional<calsync::Account>& to = {})
    {
        calsync::SyncEngine engine(side.module);
        QSignalSpy done(&engine, &calsync::SyncEngine::finished);
        engine.start(to.value_or(account()));
        const bool ended = QTest::qWaitFor([&] { return !done.isEmpty(); }, 120000);
        const calsync::SyncReport& r = engine.report();
        return QString("sent %1 received %2 deleted %3 conflicts %4%5").arg(r.sent).arg(r.received).arg(r.deleted)
            .arg(r.conflicts).arg(ended ? r.failure : "did not end");
    }
    // The summaries of every event on the server, sorted.
    QStringList summaries()
    {
        QStringList result;
        for (const auto& m : QRegularExpression("\nSUMMARY:([^\r\n]*)").globalMatch(QString::fromUtf8(calendar())))
            result << m.captured(1);
        result.sort();
        return result;
    }
    QByteArray calendar() { return m_server.send("GET", m_calendar).second; }
    QString href(const store::PLAN_REC& r) const { return m_calendar + ical::uidFor(r) + ".ics"; }
    // Another program changes the event of one of our appointments.
    void change(const store::PLAN_REC& ours, const QByteArray& start, const QString& summary)
    {
        QCOMPARE(m_server.send("PUT", href(ours), ics(ical::uidFor(ours), start, summary)).first / 100, 2);
    }

private slots:
    void initTestCase()
    {
        qputenv("TZ", "Asia/Tokyo");
        tzset();
        QVERIFY(m_server.start());
    }
    void init()
    {
        m_calendar = QString("/alice/calendar%1/").arg(++m_calendars);
        QCOMPARE(m_server.send("MKCALENDAR", m_calendar).first, 201);
        m_env.emplace();
    }
    void cleanup()
    {
        platform::setHttpRecorder({});
        platform::setKeyringHandler({});
        QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
        m_env.reset();
    }

    // The first sync sends what is here and takes what is there from today on; texts cross
    // whole; a sync with nothing new asks the server one question; another sec.mdb gets all.
    void firstSync()
    {
        Side a(m_env->dbPath());
        a.add({rec("2000/04/15", "09", "00", "会議"), rec("2000/04/16", "10", "30", " 出張, 大阪; \\ 😀", 0, "本社\n3階", "資料;持参\r\n")});
        m_server.send("PUT", m_calendar + "s.ics", ics("s", ":20000416T141500", "サーバー"));
        m_server.send("PUT", m_calendar + "p.ics", ics("p", ":19990101T090000Z", "過去"));
        QCOMPARE(sync(a), "sent 2 received 1 deleted 0 conflicts 0");
        const QStringList all{"2000/04/15|09|00|会議|1||", "2000/04/16|10|30| 出張, 大阪; \\\\ 😀|0|本社\n3階|資料;持参\r\n",
                              "2000/04/16|14|15|サーバー|1||"};
        QCOMPARE(a.rows(), all);
        QCOMPARE(summaries(), QStringList({" 出張\\, 大阪\\; \\\\ 😀", "サーバー", "会議", "過去"}));
        QList<QByteArray> asked;
        platform::setHttpRecorder([&](const platform::HttpRequest& r) { asked << r.method; });
        QCOMPARE(sync(a), "sent 0 received 0 deleted 0 conflicts 0");
        QCOMPARE(asked, QList<QByteArray>{"PROPFIND"});
        Side b(m_env->path("b.mdb"));
        QCOMPARE(sync(b), "sent 0 received 3 deleted 0 conflicts 0");
        QCOMPARE(b.rows(), all);
    }

    // A change and a deletion on each side go to the other. Changed on both sides, the server's
    // version takes the row, and the one typed here stays beside it and goes to the server as an
    // event of its own. The purge of past rows leaves the server's events alone.
    void changesAndDeletions()
    {
        Side a(m_env->dbPath());
        a.add({rec("2000/04/16", "09", "00", "消す"), rec("2000/04/16", "09", "00", "消される"),
               rec("2000/04/16", "09", "00", "変えられる"), rec("2000/04/15", "11", "00", "今日"),
               rec("2000/04/17", "12", "00", "変える"), rec("2000/04/20", "15", "00", "打合せ")});
        QCOMPARE(sync(a), "sent 6 received 0 deleted 0 conflicts 0");
        a.db().run("DELETE FROM PLAN_DAT WHERE P_DETAIL = '消す'");
        a.db().run("UPDATE PLAN_DAT SET P_DETAIL = '変えた', P_HOUR = '13' WHERE P_DETAIL = '変える'");
        a.db().run("UPDATE PLAN_DAT SET P_NOTICE = 'こちらで書いた' WHERE P_DETAIL = '打合せ'");
        QCOMPARE(m_server.send("DELETE", href(rec("2000/04/16", "09", "00", "消される"))).first, 200);
        change(rec("2000/04/16", "09", "00", "変えられる"), ":20000418T080000", "変えられた");
        change(rec("2000/04/20", "15", "00", "打合せ"), ":20000420T160000", "打合せ（移動）");
        // A token the server has forgotten: the sync starts from the whole calendar.
        a.db().run("UPDATE SYNC_STATE SET VALUE = 'http://radicale.org/ns/sync/0' WHERE NAME = 'TOKEN'");
        QCOMPARE(sync(a), "sent 3 received 2 deleted 2 conflicts 1");
        const QStringList after{"2000/04/15|11|00|今日|1||", "2000/04/17|13|00|変えた|1||",
                                "2000/04/18|08|00|変えられた|1||", "2000/04/20|15|00|打合せ|1||こちらで書いた",
                                "2000/04/20|16|00|打合せ（移動）|1||"};
        QCOMPARE(a.rows(), after);
        QCOMPARE(summaries(), QStringList({"今日", "変えた", "変えられた", "打合せ", "打合せ（移動）"}));
        m_env->setNow(QDateTime(QDate(2000, 4, 16), QTime(9, 0)));
        a.db().execute(store::purgeAtStartSql("2000/04/16"));
        QCOMPARE(sync(a), "sent 0 received 0 deleted 0 conflicts 0");
        QCOMPARE(summaries(), QStringList({"今日", "変えた", "変えられた", "打合せ", "打合せ（移動）"}));
    }

    // Two copies of the program on two sec.mdb files end with the same appointments, none twice,
    // whichever side changed what.
    void twoDatabasesConverge()
    {
        Side a(m_env->dbPath()), b(m_env->path("b.mdb"));
        a.add({rec("2000/04/20", "10", "00", "A"), rec("2000/04/21", "10", "00", "両方")});
        b.add({rec("2000/04/21", "10", "00", "両方"), rec("2000/04/22", "10", "00", "B")});
        QCOMPARE(sync(a), "sent 2 received 0 deleted 0 conflicts 0");
        QCOMPARE(sync(b), "sent 1 received 1 deleted 0 conflicts 0");
        QCOMPARE(sync(a), "sent 0 received 1 deleted 0 conflicts 0");
        QCOMPARE(a.rows(), b.rows());
        b.db().run("DELETE FROM PLAN_DAT WHERE P_DETAIL = 'A'");
        a.add({rec("2000/04/23", "10", "00", "C")});
        QCOMPARE(sync(b), "sent 1 received 0 deleted 0 conflicts 0");
        QCOMPARE(sync(a), "sent 1 received 0 deleted 1 conflicts 0");
        QCOMPARE(sync(b), "sent 0 received 1 deleted 0 conflicts 0");
        QCOMPARE(a.rows(), QStringList({"2000/04/21|10|00|両方|1||", "2000/04/22|10|00|B|1||", "2000/04/23|10|00|C|1||"}));
        QCOMPARE(b.rows(), a.rows());
        QCOMPARE(summaries(), QStringList({"B", "C", "両方"}));
    }

    // A wrong password ends the sync in the server's words and changes nothing.
    void wrongPassword()
    {
        Side a(m_env->dbPath());
        a.add({rec("2000/04/20", "15", "00", "残る")});
        QCOMPARE(sync(a, account("wrong")), "sent 0 received 0 deleted 0 conflicts 0同期できませんでした（"
                                            "サーバーの応答 401 Unauthorized：ユーザー名またはパスワードが違います）。");
        QCOMPARE(a.rows(), QStringList("2000/04/20|15|00|残る|1||"));
        QCOMPARE(summaries(), QStringList());
    }

    // The server stops in the middle of sending or of fetching: the sync reports it, sec.mdb
    // holds nothing half-taken, and the next sync completes with every appointment once.
    void serverStops_data()
    {
        QTest::addColumn<QByteArray>("stopAt"); // at the request's method or body
        QTest::addColumn<int>("nth");
        QTest::newRow("sending") << QByteArray("PUT") << 3;
        QTest::newRow("fetching") << QByteArray("calendar-multiget") << 1;
    }
    void serverStops()
    {
        QFETCH(QByteArray, stopAt);
        QFETCH(int, nth);
        Side a(m_env->dbPath());
        QStringList here, there;
        for (int i = 10; i < 40; ++i) {
            a.add({rec("2000/04/20", "10", "00", QString("ここ%1").arg(i))});
            m_server.send("PUT", m_calendar + QString("%1.ics").arg(i), ics(QString::number(i), ":20000421T100000", QString("そこ%1").arg(i)));
            here << QString("2000/04/20|10|00|ここ%1|1||").arg(i);
            there << QString("2000/04/21|10|00|そこ%1|1||").arg(i);
        }
        int seen = 0;
        platform::setHttpRecorder([&](const platform::HttpRequest& r) {
            seen += r.method == stopAt || r.body.contains(stopAt);
            seen == nth ? m_server.stop() : void();
        });
        const QString failure = sync(a);
        QVERIFY2(failure.contains(" 0同期できませんでした（サーバー"), qPrintable(failure));
        QCOMPARE(a.rows(), stopAt == "PUT" ? here + there : here);
        platform::setHttpRecorder({});
        QVERIFY(m_server.start());
        QVERIFY(sync(a).endsWith("conflicts 0"));
        QCOMPARE(a.rows(), (here + there));
        QCOMPARE(summaries().size(), 60);
        QCOMPARE(sync(a), "sent 0 received 0 deleted 0 conflicts 0");
    }

    // A weekly event in Berlin time from another program comes as an appointment per instance
    // at the local time (Tokyo); deleting one here leaves the series on the server, and the
    // series' rows are replaced together when it changes there.
    void recurrenceInAZone()
    {
        Side a(m_env->dbPath());
        const QByteArray berlin = "BEGIN:VTIMEZONE\r\nTZID:Europe/Berlin\r\nBEGIN:DAYLIGHT\r\nTZOFFSETFROM:+0100\r\n"
                                  "TZOFFSETTO:+0200\r\nTZNAME:CEST\r\nDTSTART:19700329T020000\r\n"
                                  "RRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=-1SU\r\nEND:DAYLIGHT\r\nBEGIN:STANDARD\r\n"
                                  "TZOFFSETFROM:+0200\r\nTZOFFSETTO:+0100\r\nTZNAME:CET\r\nDTSTART:19701025T030000\r\n"
                                  "RRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU\r\nEND:STANDARD\r\nEND:VTIMEZONE\r\n";
        auto weekly = [&](const QString& summary) {
            QByteArray text = ics("weekly", ";TZID=Europe/Berlin:20000410T100000", summary, berlin);
            return text.replace("SUMMARY", "RRULE:FREQ=WEEKLY;COUNT=4\r\nEXDATE;TZID=Europe/Berlin:20000424T100000\r\nSUMMARY");
        };
        QCOMPARE(m_server.send("PUT", m_calendar + "weekly.ics", weekly("週例")).first, 201);
        QCOMPARE(sync(a), "sent 0 received 2 deleted 0 conflicts 0");
        QCOMPARE(a.rows(), QStringList({"2000/04/17|17|00|週例|1||", "2000/05/01|17|00|週例|1||"}));
        a.db().run("DELETE FROM PLAN_DAT WHERE P_DATE = '2000/04/17'");
        a.db().run("UPDATE PLAN_DAT SET P_NOTICE = '資料'");
        QCOMPARE(sync(a), "sent 1 received 0 deleted 0 conflicts 0");
        QVERIFY(calendar().contains("RRULE:FREQ=WEEKLY;COUNT=4"));
        QCOMPARE(summaries(), QStringList({"週例", "週例"}));
        m_server.send("PUT", m_calendar + "weekly.ics", weekly("週例（変更）"));
        QCOMPARE(sync(a), "sent 0 received 2 deleted 0 conflicts 0");
        QCOMPARE(a.rows(), QStringList({"2000/04/17|17|00|週例（変更）|1||", "2000/05/01|17|00|週例|1||資料",
                                        "2000/05/01|17|00|週例（変更）|1||"}));
    }

    // Through the windows, on a desktop without a keyring: 「同期設定」 refuses a URL that is not
    // http(s), checks the connection and saves; the password lives in this run's memory only;
    // an automatic sync follows silently, and 「今すぐ同期」 tells what it did.
    void throughTheWindows()
    {
        TestEnv& env = *m_env;
        platform::setKeyringHandler([](const platform::KeyringRequest&) { return platform::KeyringAnswer{false, {}, false}; });
        env.insert(rec("2000/04/15", "09", "00", "窓から"));
        testing::StartedMain main;
        QVERIFY(!main.action("mnuSyncNow")->isEnabled());
        const QString url = m_server.url(m_calendar).toString();
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
            urlEdit->setText("ftp://127.0.0.1/calendar/");
            save->click();
            QCOMPARE(env.told(), QStringList("カレンダーの URL は https:// か http:// で始めてください。 [同期設定, icon 2]"));
            env.clearShown();
            urlEdit->setText(url);
            userEdit->setText("alice");
            passwordEdit->setText("secret");
            autoCheck->setChecked(true);
            checkButton->click();
            QTRY_COMPARE(checkLabel->text(), "接続できました。このカレンダーと同期できます。");
            save->click();
        });
        main.action("mnuSyncSettings")->trigger();
        QCOMPARE(QStringList({env.setting("SYNC_URL"), env.setting("SYNC_USER"), env.setting("SYNC_AUTO")}),
                 QStringList({url, "alice", "1"}));
        QFile settings(env.settingsPath());
        QVERIFY(settings.open(QIODevice::ReadOnly) && !settings.readAll().contains("secret"));
        QTRY_COMPARE_WITH_TIMEOUT(summaries(), QStringList("窓から"), 10000);
        QTRY_VERIFY(main.action("mnuSyncNow")->isEnabled());
        m_server.send("PUT", m_calendar + "s.ics", ics("s", ":20000415T180000", "サーバーから"));
        main.action("mnuSyncNow")->trigger();
        QVERIFY(!main.action("mnuSyncNow")->isEnabled());
        QTRY_COMPARE(env.told(), QStringList("同期しました（送信 0件、受信 1件、削除 0件）。 [同期, icon 4]"));
        QCOMPARE(main.label("TELL_LABEL"), "2件の予定が入っています。");
    }
};

QTEST_MAIN(TestSync)
#include "test_sync.moc"
