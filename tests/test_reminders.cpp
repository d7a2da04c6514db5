// The secretary while it runs: the day and the greeting follow the clock, reminders reach a real
// notification service on a private session bus (or the program's own window), one secretary per
// sec.mdb between real processes, and the start at login as a real autostart file.
#include "day_turns/day_turns.h"
#include "platform/autostart.h"
#include "platform/database.h"
#include "platform/picture.h"
#include "reminders/reminders.h"
#include "support/test_env.h"

#include <QAction>
#include <QApplication>
#include <QDBusConnection>
#include <QDir>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTest>

using namespace testing;

namespace {
const QDate kDay(2000, 4, 15);
QString g_config; // the tests' XDG_CONFIG_HOME, never the user's

// The desktop's notification service as freedesktop defines it, keeping every call it receives.
class NotificationService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QList<QVariantList> calls;
public slots:
    uint Notify(const QString& app, uint replaces, const QString& icon, const QString& summary, const QString& body,
                const QStringList& actions, const QVariantMap& hints, int timeout)
    {
        calls << QVariantList{app, replaces, icon, summary, body, actions, hints, timeout};
        return uint(calls.size());
    }
};

DayTurns* turns(StartedMain& main) { return main.window.findChild<DayTurns*>(); }

// The subjects reminded of, in order.
std::shared_ptr<QStringList> remindedOf(StartedMain& main)
{
    auto given = std::make_shared<QStringList>();
    QObject::connect(main.window.findChild<Reminders*>(), &Reminders::due, &main.window,
                     [given](const store::PLAN_REC& row) { *given << row.P_DETAIL; });
    return given;
}

void insertAppointments(const TestEnv& env)
{
    env.insert(rec("2000/04/15", "09", "00", "朝礼"));
    env.insert(rec("2000/04/15", "10", "30", "会議", 1, "本社"));
    env.insert(rec("2000/04/15", "12", "00", "昼食"));
    env.insert(rec("2000/04/16", "10", "30", "明日の会議"));
}

// A copy of the real program in a folder of its own, with a fresh sec.mdb.
void install(const QString& folder)
{
    QFile::copy(MERIDOCAL_APP, folder + "/meridocal");
    QFile::copy(MERIDOCAL_GIRL_GIF, folder + "/girl.gif");
    makeDatabase(folder + "/sec.mdb");
}

// The rows before 2000 in the sec.mdb of a copy of the program, after adding as many.
int pastRows(const QString& folder, int add = 0)
{
    const auto db = platform::Database::open(folder + "/sec.mdb");
    for (int i = 0; i < add; ++i)
        db->run("INSERT INTO PLAN_DAT VALUES ('1999/12/31', '10', '00', '昔', 1, '', '')");
    return int(db->query("SELECT 1 FROM PLAN_DAT WHERE P_DATE < '2000/01/01'").size());
}
} // namespace

class TestReminders : public QObject {
    Q_OBJECT
    NotificationService m_service;
    QDBusConnection m_bus = QDBusConnection::connectToBus(qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"), "service");

private slots:
    void initTestCase()
    {
        QVERIFY2(m_bus.registerObject("/org/freedesktop/Notifications", &m_service, QDBusConnection::ExportAllSlots),
                 "the notification service on the private session bus");
    }
    void cleanup()
    {
        m_bus.unregisterService("org.freedesktop.Notifications");
        QDir(g_config).removeRecursively();
        QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
    }

    void dayAndGreetingFollowTheClock_data()
    {
        QTest::addColumn<QDateTime>("from");
        QTest::addColumn<QDateTime>("to");
        QTest::addColumn<int>("armedMs");
        QTest::addColumn<QStringList>("shown"); // greeting, date, TODAY_STR, count, rows kept
        const QStringList today{"2000年04月15日", "2000/04/15", "3件の予定が入っています。", "4"};
        const QStringList tomorrow{"2000年04月16日", "2000/04/16", "1件の予定が入っています。", "1"};
        const QDate next(2000, 4, 16);
        QTest::newRow("noon") << QDateTime(kDay, QTime(11, 59, 30)) << QDateTime(kDay, QTime(12, 0)) << 30000
                              << QStringList{"こんにちわ。"} + today;
        QTest::newRow("17:00") << QDateTime(kDay, QTime(16, 59)) << QDateTime(kDay, QTime(17, 0)) << 60000
                               << QStringList{"こんばんわ。"} + today;
        QTest::newRow("22:00") << QDateTime(kDay, QTime(21, 59, 58)) << QDateTime(kDay, QTime(22, 0)) << 2000
                               << QStringList{"遅くまで大変ですね。"} + today;
        QTest::newRow("midnight") << QDateTime(kDay, QTime(23, 59, 30)) << QDateTime(next, QTime(0, 0)) << 30000
                                  << QStringList{"おはようございます。"} + tomorrow;
        QTest::newRow("woken after midnight") << QDateTime(kDay, QTime(22, 30)) << QDateTime(next, QTime(14, 10)) << 60000
                                              << QStringList{"こんにちわ。"} + tomorrow;
    }
    void dayAndGreetingFollowTheClock()
    {
        QFETCH(QDateTime, from);
        QFETCH(QDateTime, to);
        QFETCH(int, armedMs);
        QFETCH(QStringList, shown);
        TestEnv env({from});
        insertAppointments(env);
        StartedMain main;
        QCOMPARE(turns(main)->msToNextCheck(), armedMs);
        env.setNow(to);
        turns(main)->check();
        QCOMPARE((QStringList{main.label("GREETING_LABEL"), main.label("DATE_TEXT"), main.module.TODAY_STR,
                              main.label("TELL_LABEL"), QString::number(env.count())}), shown);
    }

    // The day turns when the window open at midnight closes, and the reminders then follow what
    // was saved and deleted meanwhile, without reminding twice.
    void dialogOpenAtMidnightDefersTheTurn()
    {
        TestEnv env({QDateTime(kDay, QTime(23, 50))});
        env.insert(rec("2000/04/15", "23", "55", "夜勤"));
        env.insert(rec("2000/04/16", "00", "30", "明日"));
        env.insert(rec("2000/04/16", "00", "40", "取消"));
        StartedMain main;
        const auto reminded = remindedOf(main);
        turns(main)->check();
        QStringList during;
        onNextModal([&](QWidget* dialog) {
            env.setNow(QDateTime(kDay.addDays(1), QTime(0, 0, 5)));
            turns(main)->check();
            during << main.module.TODAY_STR << main.label("DATE_TEXT") << main.label("TELL_LABEL");
            env.insert(rec("2000/04/16", "00", "15", "来客"));
            env.exec("DELETE FROM PLAN_DAT WHERE P_DETAIL = '取消'");
            dialog->close();
        });
        main.window.mnuVersion_Click();
        QCOMPARE(during, (QStringList{"2000/04/15", "2000年04月15日", "1件の予定が入っています。"}));
        QCOMPARE((QStringList{main.module.TODAY_STR, main.label("DATE_TEXT"), main.label("TELL_LABEL")}),
                 (QStringList{"2000/04/16", "2000年04月16日", "2件の予定が入っています。"}));
        for (const QTime& time : {QTime(0, 5), QTime(0, 20), QTime(0, 30)}) {
            env.setNow(QDateTime(kDay.addDays(1), time));
            turns(main)->check();
        }
        QCOMPARE(*reminded, (QStringList{"夜勤", "来客", "明日"}));
    }

    void remindersComeOnceAtTheirTime_data()
    {
        QTest::addColumn<QString>("notice");
        QTest::addColumn<QList<QTime>>("times"); // start, then each look at the clock
        QTest::addColumn<QStringList>("given");  // after each of them
        QTest::newRow("10 minutes by default") << "" << QList<QTime>{{10, 0}, {10, 19, 59}, {10, 20}, {10, 25}, {11, 50}}
                                               << QStringList{"", "", "会議", "会議", "会議,昼食"};
        QTest::newRow("started late") << "10" << QList<QTime>{{10, 25}, {10, 26}} << QStringList{"会議", "会議"};
        QTest::newRow("at the very time, fired late") << "0" << QList<QTime>{{10, 0}, {10, 29, 59}, {10, 30, 59}, {12, 0}}
                                                      << QStringList{"", "", "会議", "会議,昼食"};
        QTest::newRow("off") << "-1" << QList<QTime>{{10, 25}, {10, 30}, {12, 0}} << QStringList{"", "", ""};
        QTest::newRow("woken after the appointment") << "10" << QList<QTime>{{10, 0}, {10, 31}, {11, 55}}
                                                     << QStringList{"", "", "昼食"};
    }
    void remindersComeOnceAtTheirTime()
    {
        QFETCH(QString, notice);
        QFETCH(QList<QTime>, times);
        QFETCH(QStringList, given);
        TestEnv env({QDateTime(kDay, times.first())});
        env.setSetting("NOTICE_MIN", notice);
        insertAppointments(env);
        StartedMain main;
        const auto reminded = remindedOf(main);
        QStringList seen;
        for (const QTime& time : times) {
            env.setNow(QDateTime(kDay, time));
            turns(main)->check();
            seen << reminded->join(',');
        }
        QCOMPARE(seen, given);
    }

    void noticeChoiceIsStoredAndFollowed()
    {
        TestEnv env({QDateTime(kDay, QTime(10, 5))});
        QDir(env.folder()).mkdir("settings.ini"); // a folder in place of the settings file: no write goes through
        insertAppointments(env);
        StartedMain main;
        const auto reminded = remindedOf(main);
        QAction* thirty = main.action("notice30");
        QAction* off = main.action("noticeOff");
        QVERIFY2(thirty && off && main.action("notice10"), "notice choices");
        thirty->trigger();
        turns(main)->check();
        QVERIFY(env.shown().size() == 1 && env.shown()[0].title == "Internal Error"
                && env.shown()[0].icon == platform::MsgIcon::Critical);
        QVERIFY(main.action("notice10")->isChecked() && reminded->isEmpty());
        QDir(env.folder()).rmdir("settings.ini");
        thirty->trigger();
        turns(main)->check();
        QCOMPARE(env.setting("NOTICE_MIN"), QStringLiteral("30"));
        off->trigger();
        QVERIFY(env.setting("NOTICE_MIN") == "-1" && off->isChecked() && !thirty->isChecked());
        thirty->trigger(); // planned anew, and still reminded once
        turns(main)->check();
        QCOMPARE(*reminded, QStringList{"会議"}); // at once: its reminder time under the new lead had passed
    }

    void notificationReachesTheDesktopService()
    {
        QVERIFY(m_bus.registerService("org.freedesktop.Notifications"));
        TestEnv env({QDateTime(kDay, QTime(10, 25))});
        env.setSetting("SEC_NAME", "受付");
        env.insert(rec("2000/04/15", "10", "30", "会議", 1, "本社"));
        env.insert(rec("2000/04/15", "10", "31", "<b>A&B</b>", 0));
        StartedMain main; // both reminded at once, from the reminders' own timer
        const auto call = [&env](const QString& body, uchar urgency, int timeout) {
            const QVariantMap hints{{"urgency", QVariant::fromValue(urgency)}, {"image-path", "file://" + env.girlPath()}};
            return QVariantList{"ミルドカ", 0u, "", "受付", body, QStringList(), hints, timeout};
        };
        QTRY_COMPARE(m_service.calls, (QList<QVariantList>{call("社長、10時30分から「会議」です。\n場所：本社", 1, -1),
                                                           call("社長、10時31分から「&lt;b&gt;A&amp;B&lt;/b&gt;」です。", 2, 0)}));
        QCOMPARE(m_service.calls[1][6].toMap()["urgency"].typeId(), int(QMetaType::UChar)); // a byte, or servers ignore it
    }

    void ownWindowWhereNoServiceAnswers()
    {
        TestEnv env({QDateTime(kDay, QTime(10, 25))});
        env.insert(rec("2000/04/15", "10", "30", "<b>A&B</b>", 0, "本社"));
        StartedMain main;
        QWidget* window = nullptr;
        QTRY_VERIFY((window = main.window.findChild<QWidget*>("reminderWindow")));
        QVERIFY(window->isVisible() && !window->isModal() && !QApplication::activeModalWidget());
        const auto* summary = window->findChild<QLabel*>("summary");
        const auto* body = window->findChild<QLabel*>("body");
        const auto* picture = window->findChild<platform::PictureBox*>("picture");
        auto* close = window->findChild<QPushButton*>("closeButton");
        QVERIFY2(summary && body && picture && close, "the reminder window's controls");
        QCOMPARE((QStringList{summary->text(), body->text(), close->text()}),
                 (QStringList{"秘書", "社長、10時30分から「<b>A&B</b>」です。\n場所：本社", "閉じる"}));
        QVERIFY(body->textFormat() == Qt::PlainText && !picture->picture().isNull());
        close->click();
        QTRY_VERIFY(!main.window.findChild<QWidget*>("reminderWindow"));
    }

    // Whatever characters the program's path holds, the entry starts that program.
    void autostartEntry()
    {
        const QString program = R"(/home/a b/100%/"q" $y\w/meridocal)";
        platform::setStartAtLogin(program, true);
        const QString path = platform::autostartEntryPath(program);
        QFile entry(path);
        QVERIFY(entry.open(QIODevice::ReadOnly));
        QVERIFY(QString::fromUtf8(entry.readAll()).split('\n').contains(R"(Exec="/home/a b/100%%/\\"q\\" \\$y\\\\w/meridocal")"));
        QCOMPARE(QProcess::execute("desktop-file-validate", {path}), 0); // what it finds shows in the log
    }

    void startAtLoginFromTheMenu()
    {
        const QString program = QCoreApplication::applicationFilePath();
        TestEnv env;
        StartedMain main;
        QAction* item = main.action("mnuStartAtLogin");
        QVERIFY2(item, "mnuStartAtLogin");
        item->trigger();
        QVERIFY(item->isChecked() && platform::startsAtLogin(program));
        item->trigger();
        QVERIFY(!item->isChecked() && !platform::startsAtLogin(program));
        QDir(g_config + "/autostart").removeRecursively();
        QFile(g_config + "/autostart").open(QIODevice::WriteOnly); // a file in place of the folder
        item->trigger();
        QVERIFY(!item->isChecked());
        QCOMPARE(env.prompts(), QStringList{QStringLiteral("ログイン時に起動する設定を書き込めません。\r%1/autostart はフォルダーではありません。").arg(g_config)});
    }

    void oneSecretaryPerDatabase()
    {
        QTemporaryDir here, there;
        QProcess first, second, other;
        for (const QTemporaryDir* folder : {&here, &there})
            install(folder->path());
        // Started with one past row, which its start-up purges; the session bus is the tests' own.
        const auto start = [](QProcess& process, const QString& folder) {
            pastRows(folder, 1);
            process.start("env", {"QT_QPA_PLATFORM=offscreen", folder + "/meridocal"});
        };
        start(first, here.path());
        QTRY_COMPARE_WITH_TIMEOUT(pastRows(here.path()), 0, 20000);
        start(second, here.path());
        QVERIFY(second.waitForFinished(20000) && second.exitStatus() == QProcess::NormalExit && second.exitCode() == 0);
        QCOMPARE(pastRows(here.path()), 1); // it never started up
        start(other, there.path());
        QTRY_COMPARE_WITH_TIMEOUT(pastRows(there.path()), 0, 20000);
        QVERIFY(first.state() == QProcess::Running && other.state() == QProcess::Running);
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    // A session bus of the tests' own, so that nothing reaches the desktop of whoever runs them, and
    // with no services to start, so that a name nobody owns stays unowned.
    QTemporaryDir folder;
    QFile config(folder.filePath("bus.conf"));
    config.open(QIODevice::WriteOnly);
    config.write("<busconfig><type>session</type><listen>unix:tmpdir=" + folder.path().toUtf8() + "</listen>"
                 "<auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\"/>"
                 "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>");
    config.close();
    QProcess daemon;
    daemon.start("dbus-daemon", {"--nofork", "--print-address", "--config-file=" + config.fileName()});
    daemon.waitForReadyRead(10000);
    qputenv("DBUS_SESSION_BUS_ADDRESS", daemon.readLine().trimmed());
    qputenv("XDG_CONFIG_HOME", (g_config = folder.filePath("config")).toUtf8());
    TestReminders test;
    const int failed = QTest::qExec(&test, argc, argv);
    daemon.kill();
    daemon.waitForFinished();
    return failed;
}

#include "test_reminders.moc"
