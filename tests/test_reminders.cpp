// The secretary while it runs: the day and the greeting follow the clock, reminders reach a real
// notification service on a private session bus (or the program's own window), one secretary per
// sec.mdb between real processes, and the start at login as a real autostart file.
#include "day_turns/day_turns.h"
#include "platform/autostart.h"
#include "platform/clock.h"
#include "platform/notifications.h"
#include "platform/picture.h"
#include "reminders/reminders.h"
#include "support/test_env.h"

#include <QTest>
#include <QtDBus>
#include <QtWidgets>

using namespace testing;

namespace {
QDateTime at(int h, int m, int s = 0, int day = 15) { return {QDate(2000, 4, day), QTime(h, m, s)}; }

// The desktop's notification service, keeping every call it receives as it came over the bus,
// answering after delayMs.
struct NotificationService : QDBusVirtualObject {
    QList<QVariantList> calls;
    int delayMs = 0;
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& call, const QDBusConnection& bus) override
    {
        calls << QVariantList{call.interface() + '.' + call.member()} + call.arguments();
        if (call.member() == "Notify")
            calls.last()[7] = qdbus_cast<QVariantMap>(calls.last()[7]);
        call.setDelayedReply(true);
        QTimer::singleShot(delayMs, [bus, reply = call.createReply(uint(calls.size()))] { QDBusConnection(bus).send(reply); });
        return true;
    }
};

// The main window as the program starts it, keeping the subjects it reminded of, in order.
struct Watched : StartedMain {
    QStringList reminded;
    QMetaObject::Connection listening = QObject::connect(window.findChild<Reminders*>(), &Reminders::due,
        [this](const QList<store::PLAN_REC>& rows) { for (const auto& row : rows) reminded << row.P_DETAIL; });
    DayTurns* turns = window.findChild<DayTurns*>();
    // A look at the clock at the given moment, as its timer takes one; tells what was reminded of so far.
    QString look(const QDateTime& now) { platform::Clock::setFixed(now), turns->check(); return reminded.join(','); }
};
} // namespace

class TestReminders : public QObject {
    Q_OBJECT
    QTemporaryDir m_folder;
    const QString m_config = m_folder.filePath("config"); // the tests' XDG_CONFIG_HOME, never the user's
    QProcess m_daemon;
    NotificationService m_service;

private slots:
    // A session bus of the tests' own, so that nothing reaches the desktop of whoever runs them, and
    // with no services to start, so that a name nobody owns stays unowned.
    void initTestCase()
    {
        const QString config = m_folder.filePath("bus.conf");
        QVERIFY(writeBytes(config, R"(<busconfig><listen>unix:tmpdir=/tmp</listen><policy context="default"><allow own="*"/>)"
                                   R"(<allow send_destination="*"/><allow eavesdrop="true"/></policy></busconfig>)"));
        // The file must name an address; the one given here, in the tests' folder, wins.
        m_daemon.start("dbus-daemon", {"--print-address", "--config-file=" + config, "--address=unix:tmpdir=" + m_folder.path()});
        QVERIFY(m_daemon.waitForReadyRead(10000));
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_daemon.readLine().trimmed());
        qputenv("XDG_CONFIG_HOME", m_config.toUtf8());
    }
    void cleanupTestCase() { m_daemon.kill(), m_daemon.waitForFinished(); }
    void cleanup() { QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty()); }

    // Started at the first moment, the window looks at the clock at each of them.
    void followsTheClock_data()
    {
        QTest::addColumn<QList<QDateTime>>("moments");
        // The wait armed at start, what was reminded of after each moment, then the greeting, date,
        // count, rows kept and the wait armed at the end.
        QTest::addColumn<QString>("seen");
        const QString today = "2000年04月15日|3件の予定が入っています。|4|60000";
        const QString tomorrow = "2000年04月16日|1件の予定が入っています。|1|60000";
        QTest::newRow("noon") << QList{at(11, 59, 30), at(12, 0)} << "30000|昼食|昼食|こんにちわ。|" + today;
        QTest::newRow("17:00") << QList{at(16, 59, 50), at(17, 0)} << "10000|||こんばんわ。|" + today;
        QTest::newRow("22:00") << QList{at(21, 59, 58), at(22, 0)} << "2000|||遅くまで大変ですね。|" + today;
        QTest::newRow("midnight") << QList{at(23, 59, 30), at(0, 0, 0, 16)} << "30000|||おはようございます。|" + tomorrow;
        QTest::newRow("woken after midnight") << QList{at(22, 30), at(14, 10, 0, 16)} << "60000|||こんにちわ。|" + tomorrow;
        // A clock set forward by more than a day, or back, purges nothing while the program runs.
        QTest::newRow("clock a year ahead") << QList{at(10, 0), QDateTime({2001, 4, 15}, {10, 0})}
                                            << "60000|||おはようございます。|2001年04月15日|今日は予定がありません。|4|60000";
        QTest::newRow("clock a day back") << QList{at(10, 0), at(10, 0, 0, 14)}
                                          << "60000|||おはようございます。|2000年04月14日|今日は予定がありません。|4|60000";
        // Woken after 昼食's time: never reminded of it.
        QTest::newRow("10 minutes before") << QList{at(10, 0), at(10, 19, 59), at(10, 20), at(10, 25), at(12, 1)}
                                           << "60000|||会議|会議|会議|こんにちわ。|" + today;
        // A look late in the appointment's own minute still reminds of it.
        QTest::newRow("fired late") << QList{at(10, 0), at(10, 30, 59), at(12, 0)} << "60000||会議|会議,昼食|こんにちわ。|" + today;
    }
    void followsTheClock()
    {
        QFETCH(QList<QDateTime>, moments);
        QFETCH(QString, seen);
        TestEnv env({moments.first()});
        env.exec("INSERT INTO PLAN_DAT (P_DATE, P_HOUR, P_MIN, P_DETAIL, P_IMPORTANCE, P_PLACE, P_NOTICE) VALUES ('2000/04/15','09','00','朝礼',1,'',''), ('2000/04/15','10','30','会議',1,'',''),"
                 " ('2000/04/15','12','00','昼食',1,'',''), ('2000/04/16','10','30','明日の会議',1,'','')");
        Watched main;
        QStringList shown{QString::number(main.turns->msToNextCheck())};
        for (const QDateTime& moment : moments)
            shown << main.look(moment);
        QCOMPARE((shown << main.label("GREETING_LABEL") << main.label("DATE_TEXT") << main.label("TELL_LABEL")
                        << QString::number(env.count()) << QString::number(main.turns->msToNextCheck())).join('|'), seen);
    }

    // What is saved and deleted while a window of the program is open is reminded of when it
    // closes; the day that turns while one is open turns when it closes.
    void dialogsReplanAndDeferTheDayTurn()
    {
        TestEnv env({at(23, 40)});
        env.exec("INSERT INTO PLAN_DAT (P_DATE, P_HOUR, P_MIN, P_DETAIL, P_IMPORTANCE, P_PLACE, P_NOTICE) VALUES ('2000/04/15','23','55','取消',1,'',''), ('2000/04/16','00','30','明日',1,'','')");
        Watched main;
        onNextModal([&env](QWidget* about) {
            env.insert(rec("2000/04/15", "23", "50", "来客"));
            env.exec("DELETE FROM PLAN_DAT WHERE P_DETAIL = '取消'");
            about->close();
        });
        main.window.mnuVersion_Click();
        main.look(at(23, 45));
        QString during;
        onNextModal([&](QWidget* about) { main.look(at(0, 0, 5, 16)), during = main.label("DATE_TEXT"), about->close(); });
        main.window.mnuVersion_Click();
        QCOMPARE((QStringList{during, main.label("DATE_TEXT"), main.label("TELL_LABEL")}),
                 (QStringList{"2000年04月15日", "2000年04月16日", "1件の予定が入っています。"}));
        QCOMPARE(main.look(at(0, 20, 0, 16)), QStringLiteral("来客,明日"));
    }

    // Where no notification service answers, the program's own window, its text never read as markup;
    // where one does, the notification, its body escaped for services that read markup, urgent for an
    // important appointment; many at once as one, a late one once. The only test with a service:
    // the others find none.
    void reminderReachesTheUser()
    {
        TestEnv env({at(10, 25)});
        env.setSetting("SEC_NAME", "受付");
        env.exec("INSERT INTO PLAN_DAT (P_DATE, P_HOUR, P_MIN, P_DETAIL, P_IMPORTANCE, P_PLACE, P_NOTICE) VALUES ('2000/04/15','10','30','<b>A&B</b>',0,'本社',''),"
                 " ('2000/04/15','11','00','会議',1,'本社',''), ('2000/04/15','11','01','<b>A&B</b> %1',0,'','')");
        Watched main; // reminded of the first at once, from the reminders' own timer
        QWidget* window = nullptr;
        QTRY_VERIFY((window = main.window.findChild<QWidget*>("reminderWindow")));
        CHILD(summary, QLabel, window, "summary");
        CHILD(body, QLabel, window, "body");
        CHILD(picture, platform::PictureBox, window, "picture");
        CHILD(close, QPushButton, window, "closeButton");
        QCOMPARE((QStringList{summary->text(), body->text(), close->text()}),
                 (QStringList{"受付", "社長、10時30分から「<b>A&B</b>」です。\n場所：本社", "閉じる"}));
        QVERIFY(window->isVisible() && !window->isModal() && body->textFormat() == Qt::PlainText
                && !picture->picture().isNull());
        close->click();
        QTRY_VERIFY(!main.window.findChild<QWidget*>("reminderWindow"));
        QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "service");
        QVERIFY(bus.registerVirtualObject("/org/freedesktop/Notifications", &m_service)
                && bus.registerService("org.freedesktop.Notifications"));
        main.look(at(10, 51));
        const auto call = [&env](QString body, uchar urgency, int expire) {
            const QVariantMap hints{{"urgency", QVariant::fromValue(urgency)}, {"image-path", "file://" + env.girlPath()}};
            return QVariantList{"org.freedesktop.Notifications.Notify", "ミルドカ", 0u, "", "受付", body, QStringList{}, hints, expire};
        };
        QTRY_COMPARE(m_service.calls, (QList<QVariantList>{call("社長、11時00分から「会議」です。\n場所：本社", 1, -1),
                                                           call("社長、11時01分から「&lt;b&gt;A&amp;B&lt;/b&gt; %1」です。", 2, 0)}));
        QCOMPARE(m_service.calls[1][7].toMap()["urgency"].typeId(), int(QMetaType::UChar)); // a byte, or servers ignore it
        // 505 of one minute make one notification; one the service answers late is closed again,
        // the program's own window showing it instead.
        env.exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 505)"
                 " INSERT INTO PLAN_DAT (P_DATE, P_HOUR, P_MIN, P_DETAIL, P_IMPORTANCE, P_PLACE, P_NOTICE)"
                 " SELECT '2000/04/15', '12', '00', 'x' || i, 1, '', '' FROM n");
        main.action("notice10")->trigger(); // plans anew
        main.look(at(11, 50));
        QTRY_COMPARE(m_service.calls.size(), 3);
        QCOMPARE(m_service.calls[2][5].toString().section('\n', -1), "他502件");
        m_service.delayMs = 1000, platform::setNotifyWaitForTests(300);
        env.insert(rec("2000/04/15", "12", "10", "遅い"));
        main.action("notice10")->trigger();
        main.look(at(12, 0));
        QTRY_VERIFY(main.window.findChild<QWidget*>("reminderWindow"));
        QTRY_COMPARE(m_service.calls.value(4), (QVariantList{"org.freedesktop.Notifications.CloseNotification", 4u}));
        QDBusConnection::disconnectFromBus("service");
    }

    // Up to three appointments that come together are reminded of one by one; more, in one
    // reminder that lists three and counts the rest, urgent if any is (here the last).
    void groupedReminders_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("texts"); // "!" before an urgent one
        QTest::newRow("three") << 3 << "社長、10時30分から「x1」です。|社長、10時30分から「x2」です。|!社長、10時30分から「x3」です。";
        QTest::newRow("505") << 505 << "!社長、505件の予定があります。\n10時30分から「x1」\n10時30分から「x2」\n10時30分から「x3」\n他502件";
    }
    void groupedReminders()
    {
        QFETCH(int, count);
        QList<store::PLAN_REC> due;
        for (int i = 1; i <= count; ++i)
            due << rec("2000/04/15", "10", "30", QString("x%1").arg(i), qint16(i < count));
        QStringList texts;
        for (const ReminderText& text : reminderTexts(due, "社長"))
            texts << (text.urgent ? "!" : "") + text.body;
        QTEST(texts.join('|'), "texts");
    }

    // The Tools menu's choices are kept and followed at once; one that cannot be kept says why and
    // leaves the mark of the one before. No lead time reminds twice of the same appointment; the
    // mark of the start at login is whether the entry of this program is there.
    void toolsMenuChoices()
    {
        TestEnv env({at(10, 5)});
        env.insert(rec("2000/04/15", "10", "30", "会議"));
        QDir(env.folder()).mkdir("settings.ini"); // a folder in place of the settings file: no write goes through
        Watched main;
        main.action("notice30")->trigger();
        QVERIFY(main.action("notice10")->isChecked() && main.look(at(10, 5)).isEmpty());
        QVERIFY(QDir(env.folder()).rmdir("settings.ini"));
        // What is kept after each choice, and what was reminded of at the given minute past ten.
        const auto choose = [&](const char* choice, int minute = 30) {
            main.action(choice)->trigger();
            return env.setting("NOTICE_MIN") + ':' + main.look(at(10, minute));
        };
        QCOMPARE((QStringList{choose("noticeAtTime", 29), choose("noticeOff"), choose("notice30"), choose("notice60")}),
                 (QStringList{"0:", "-1:", "30:会議", "60:会議"}));
        // The mark and whether the entry is there after each turn of the start at login.
        const auto toggle = [login = main.action("mnuStartAtLogin")] {
            login->trigger();
            return QString("%1 %2").arg(login->isChecked()).arg(platform::startsAtLogin(QCoreApplication::applicationFilePath()));
        };
        QStringList marks{toggle(), toggle()};
        QVERIFY(QDir(m_config + "/autostart").removeRecursively() && writeBytes(m_config + "/autostart", {})); // not a folder
        QCOMPARE(marks << toggle(), (QStringList{"1 1", "0 0", "0 0"}));
        QCOMPARE(env.told(), (QStringList{box("設定を書き込めません: " + env.settingsPath(), "Internal Error", platform::MsgIcon::Critical),
                                          box("ログイン時に起動する設定を書き込めません。\r" + m_config + "/autostart はフォルダーではありません。",
                                              platform::programTitle(), platform::MsgIcon::Exclamation)}));
    }

    // The entry written for a program in a folder of each name is valid and starts it when GLib
    // reads it, as the desktop does at login; a name that is not UTF-8 is refused with the reason.
    void autostartStartsTheProgram_data()
    {
        QTest::addColumn<QByteArray>("folder");
        QTest::addColumn<QString>("told"); // then whether the entry is valid and the program ran
        QTest::newRow("percent and field codes") << QByteArray("100% %f %%") << "|0 1";
        QTest::newRow("quotes, dollar, backslash, backtick") << QByteArray(R"("q" 's' $y\w `b`)") << "|0 1";
        QTest::newRow("not UTF-8") << QByteArray("\xff") << "ログイン時に起動する設定を書き込めません。\rプログラムのフォルダーの"
                                                            "名前に UTF-8 でない文字があるため、起動の設定に書けません。UTF-8 の名前のフォルダーに移してください。|1 0";
    }
    void autostartStartsTheProgram()
    {
        QFETCH(QByteArray, folder);
        QFETCH(QString, told);
        TestEnv env;
        QFile::remove(m_config + "/autostart"); // the menu's test leaves a file in the folder's place
        const QString program = QFile::decodeName(QFile::encodeName(m_folder.path()) + "/programs/" + folder + "/meridocal");
        QVERIFY(writeBytes(program, "#!/bin/sh\ntouch \"$0.ran\"\n") && QFile::setPermissions(program, QFile::ExeOwner | QFile::ReadOwner));
        platform::reported(nullptr, [&] { platform::setStartAtLogin(program, true); });
        const QString entry = platform::autostartEntryPath(program);
        const QString seen = env.told().join("") + QString("|%1 ").arg(QProcess::execute("desktop-file-validate", {entry}));
        QProcess::execute("gio", {"launch", entry});
        QTRY_COMPARE(seen + QString::number(QFile::exists(program + ".ran")), told);
    }

    // Each start finds a row of the past in its sec.mdb, which its start-up purges.
    void oneSecretaryPerDatabase()
    {
        TestEnv here, there;
        QProcess first, second, other;
        const auto start = [](QProcess& process, const TestEnv& env) {
            QFile::copy(MERIDOCAL_APP, env.path("meridocal"));
            env.insert(rec("1999/12/31", "10", "00", "昔"));
            process.start("env", {"QT_QPA_PLATFORM=offscreen", env.path("meridocal")});
        };
        start(first, here);
        QTRY_COMPARE_WITH_TIMEOUT(here.count(), 0, 20000);
        start(second, here);
        QVERIFY(second.waitForFinished(20000) && second.exitStatus() == QProcess::NormalExit && second.exitCode() == 0);
        QCOMPARE(here.count(), 1); // it never started up
        start(other, there);
        QTRY_COMPARE_WITH_TIMEOUT(there.count(), 0, 20000);
        QVERIFY(first.state() == QProcess::Running && other.state() == QProcess::Running);
    }
};

QTEST_MAIN(TestReminders)
#include "test_reminders.moc"
