// The secretary while it runs: the day and the greeting follow the clock, reminders reach a real
// notification service on a private session bus (or the program's own window) and its answers come
// back as a daemon sends them, one secretary per sec.mdb between real processes, and the start at
// login as a real autostart file.
#include "day_turns/day_turns.h"
#include "ical/ical_conversion.h"
#include "platform/autostart.h"
#include "platform/clock.h"
#include "platform/database.h"
#include "platform/notifications.h"
#include "plan_entry/plan_frm.h"
#include "platform/picture.h"
#include "reminders/reminders.h"
#include "store/reminder_state.h"
#include "store/series_store.h"
#include "support/test_env.h"

#include <QTest>
#include <QtDBus>
#include <QtWidgets>

using namespace testing;

namespace {
QDateTime at(int h, int m, int s = 0, int day = 15) { return {QDate(2000, 4, day), QTime(h, m, s)}; }
const QString kPath = "/org/freedesktop/Notifications", kInterface = "org.freedesktop.Notifications";

// The desktop's notification service, keeping every call it receives as it came over the bus,
// answering after delayMs; it offers actions and the resident hint, and answers as a daemon does.
struct NotificationService : QDBusVirtualObject {
    QList<QVariantList> calls;
    int delayMs = 0;
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& call, const QDBusConnection& bus) override
    {
        if (call.member() == "GetCapabilities")
            return QDBusConnection(bus).send(call.createReply(QStringList{"actions", "body", "resident"}));
        calls << QVariantList{call.interface() + '.' + call.member()} + call.arguments();
        if (call.member() == "Notify")
            calls.last()[7] = qdbus_cast<QVariantMap>(calls.last()[7]);
        call.setDelayedReply(true);
        QTimer::singleShot(delayMs, [bus, reply = call.createReply(uint(calls.size()))] { QDBusConnection(bus).send(reply); });
        return true;
    }
    // The user's answer to the last notification: an action, or "dismissed" (closed by the user).
    void answer(const QString& key) const
    {
        const uint id = uint(calls.size());
        QDBusConnection bus("service");
        if (key == "dismissed")
            bus.send(QDBusMessage::createSignal(kPath, kInterface, "NotificationClosed") << id << 2u);
        else
            bus.send(QDBusMessage::createSignal(kPath, kInterface, "ActionInvoked") << id << key);
    }
    QStringList members() const
    {
        QStringList names;
        for (const QVariantList& c : calls)
            names << c[0].toString().section('.', -1);
        return names;
    }
};

// The main window as the program starts it, keeping the subjects it reminded of, in order.
struct Watched : StartedMain {
    QStringList reminded;
    QMetaObject::Connection listening = QObject::connect(window.findChild<Reminders*>(), &Reminders::due,
        [this](const QList<Reminder>& due) { for (const auto& r : due) reminded << r.rec.P_DETAIL; });
    DayTurns* turns = window.findChild<DayTurns*>();
    // A look at the clock at the given moment, as its timer takes one; tells what was reminded of so far.
    QString look(const QDateTime& now) { platform::Clock::setFixed(now), turns->check(); return reminded.join(','); }
};

// What sec.mdb keeps of the reminders: id, start, end of the snooze, acknowledged.
QString states(const TestEnv& env)
{
    QStringList rows;
    for (const auto& v : platform::Database::open(env.dbPath())->query("SELECT * FROM REMINDER_STATE ORDER BY 1, 2"))
        rows << QString("%1 %2 %3 %4").arg(v[0].toString(), v[1].toString(), v[2].toString(), v[3].toString());
    return rows.join(',');
}
} // namespace

class TestReminders : public QObject {
    Q_OBJECT
    QTemporaryDir m_folder;
    const QString m_config = m_folder.filePath("config"); // the tests' XDG_CONFIG_HOME, never the user's
    QProcess m_daemon;
    NotificationService m_service;
    QDBusConnection bus() const { return QDBusConnection("service"); }

private slots:
    // A session bus of the tests' own, so that nothing reaches the desktop of whoever runs them, and
    // with no services to start, so that a name nobody owns stays unowned. The notification service
    // is there unless a test takes it away.
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
        QDBusConnection service = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "service");
        QVERIFY(service.registerVirtualObject(kPath, &m_service) && service.registerService(kInterface));
    }
    void cleanupTestCase() { QDBusConnection::disconnectFromBus("service"), m_daemon.kill(), m_daemon.waitForFinished(); }
    void init() { m_service.calls.clear(), m_service.delayMs = 0, platform::setNotifyWaitForTests(platform::kNotifyTimeoutMs); }
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
        // Woken after 昼食's time: never reminded of it (told as missed instead).
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

    // A weekly series never runs out: two years on, whether the clock was looked at every month or
    // jumped there at once, this week's occurrence is shown and reminded of, and rows reach a year
    // ahead again.
    void seriesNeverRunOut_data()
    {
        QTest::addColumn<int>("stepDays");
        QTest::newRow("a look each month") << 30;
        QTest::newRow("one jump") << 728;
    }
    void seriesNeverRunOut()
    {
        QFETCH(int, stepDays);
        TestEnv env({at(9, 0)});
        store::addSeries(*platform::Database::open(env.dbPath()),
                         store::seriesFor(rec("2000/04/15", "10", "30", "定例"), "FREQ=WEEKLY;BYDAY=SA"), QDate(2000, 4, 15));
        Watched main;
        for (int day = stepDays; day < 728; day += stepDays)
            main.look({QDate(2000, 4, 15).addDays(day), QTime(9, 0)});
        const QDate later(2002, 4, 13);
        main.look({later, QTime(9, 0)});
        const QString told = main.label("TELL_LABEL");
        QCOMPARE(main.look({later, QTime(10, 30)}).split(',').last(), "定例");
        QCOMPARE(told, "1件の予定が入っています。");
        // The rows reach a year ahead, made again once they fall a week short of it.
        QVERIFY(env.count("P_DATE >= '2002/04/13'") >= 52);
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

    // When each reminder comes: the appointment's own lead or the settings', across midnight and
    // days; after what the user did with it; what began unreminded is missed at start-up only.
    void planning_data()
    {
        QTest::addColumn<QString>("start");  // "YYYY/MM/DD HH:MM"
        QTest::addColumn<int>("lead");       // the appointment's own; -2 for none
        QTest::addColumn<QString>("state");  // "snoozed HH:MM", "acked", "shown" or ""
        QTest::addColumn<bool>("startingUp");
        QTest::addColumn<QString>("planned"); // at 2000/04/15 10:00 with 10 minutes in the settings
        QTest::newRow("settings' lead") << "2000/04/15 10:30" << -2 << "" << false << "2000/04/15 10:20";
        QTest::newRow("own lead") << "2000/04/15 11:00" << 60 << "" << false << "2000/04/15 10:00";
        QTest::newRow("at the time") << "2000/04/15 10:30" << 0 << "" << false << "2000/04/15 10:30";
        QTest::newRow("never") << "2000/04/15 10:30" << -1 << "" << false << "";
        QTest::newRow("00:05 at 23:55") << "2000/04/16 00:05" << -2 << "" << false << "2000/04/15 23:55";
        QTest::newRow("day before") << "2000/04/16 10:30" << 1440 << "" << false << "2000/04/15 10:30";
        QTest::newRow("day before, passed") << "2000/04/16 09:30" << 1440 << "" << false << "2000/04/15 09:30";
        QTest::newRow("two days ahead") << "2000/04/17 09:00" << 1440 << "" << false << "2000/04/16 09:00";
        QTest::newRow("passed, not begun") << "2000/04/15 10:05" << -2 << "" << false << "2000/04/15 09:55";
        QTest::newRow("begun, starting up") << "2000/04/15 09:30" << -2 << "" << true << "missed";
        QTest::newRow("begun, running") << "2000/04/15 09:30" << -2 << "" << false << "";
        QTest::newRow("snoozed") << "2000/04/15 09:30" << -2 << "snoozed 10:05" << true << "2000/04/15 10:05";
        QTest::newRow("acknowledged") << "2000/04/15 10:30" << -2 << "acked" << true << "";
        QTest::newRow("shown") << "2000/04/15 10:05" << -2 << "shown" << true << "";
        QTest::newRow("all day") << "2000/04/16 00:00" << -2 << "" << false << "";
        QTest::newRow("all day, own lead") << "2000/04/16 00:00" << 1440 << "" << false << "2000/04/15 00:00";
        QTest::newRow("shown before a move") << "2000/04/15 10:45" << -2 << "shown" << true << "2000/04/15 10:35";
    }
    void planning()
    {
        QFETCH(QString, start);
        QFETCH(int, lead);
        QFETCH(QString, state);
        QFETCH(bool, startingUp);
        const QStringList date = start.split(QRegularExpression("[ :]"));
        PlannedRow row{{7, rec(date[0], date[1], date[2], "会議")}, lead == -2 ? std::nullopt : std::optional(lead)};
        row.row.rec.ALL_DAY = QTest::currentDataTag() == QString("all day") || QTest::currentDataTag() == QString("all day, own lead");
        // A state of the moved appointment is kept by its old start, so it does not hold.
        const QString occurrence = QTest::currentDataTag() == QString("shown before a move") ? "2000/04/15 10:05" : start;
        std::vector<store::ReminderState> states;
        if (!state.isEmpty())
            states.push_back({7, occurrence, state.startsWith("snoozed") ? at(10, 5) : QDateTime(), state == "acked"});
        const ReminderPlan plan = planReminders({row}, states, at(10, 0), 10, startingUp);
        const QString planned = plan.missed.isEmpty()
            ? (plan.pending.empty() ? "" : plan.pending.front().remindAt.toString("yyyy/MM/dd HH:mm")) : "missed";
        QTEST(planned, "planned");
    }

    // The reminder's texts: one each with place and notice, more than three as one (urgent if any
    // is, here the last), and the missed ones as one list.
    void texts_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("texts"); // "!" before an urgent one
        QTest::newRow("three") << 3 << "社長、10時30分から「x1」です。\n場所：本社\n備考：資料|社長、10時30分から「x2」です。\n場所：本社\n備考：資料"
                                       "|!社長、10時30分から「x3」です。\n場所：本社\n備考：資料|!10時30分　x1\n10時30分　x2\n10時30分　x3";
        QTest::newRow("12") << 12 << "!社長、12件の予定があります。\n10時30分から「x1」\n10時30分から「x2」\n10時30分から「x3」\n他9件"
                                     "|!10時30分　x1\n10時30分　x2\n10時30分　x3\n10時30分　x4\n10時30分　x5\n10時30分　x6\n"
                                     "10時30分　x7\n10時30分　x8\n10時30分　x9\n10時30分　x10\n他2件";
    }
    void texts()
    {
        QFETCH(int, count);
        QList<store::PLAN_REC> due;
        for (int i = 1; i <= count; ++i)
            due << rec("2000/04/15", "10", "30", QString("x%1").arg(i), qint16(i < count), "本社", "資料");
        QStringList texts;
        const QList<ReminderText> made = reminderTexts(due, "社長") << missedText(due);
        for (const ReminderText& text : made)
            texts << (text.urgent ? "!" : "") + text.body;
        QTEST(texts.join('|'), "texts");
    }

    // The notification as the service receives it: it stays until answered, names our desktop entry
    // and icon, offers the answers and the click on its body, its body escaped for services that read
    // markup, urgent for an important appointment. One the service answers late is closed again, the
    // program's own window showing it instead.
    void notification()
    {
        TestEnv env({at(10, 25)});
        env.setSetting("SEC_NAME", "受付");
        env.insert(rec("2000/04/15", "10", "30", "<b>A&B</b>", 0, "本社", "a<b"));
        Watched main;
        const QVariantMap hints{{"urgency", QVariant::fromValue(uchar(2))}, {"image-path", "file://" + env.girlPath()},
                                {"desktop-entry", "io.github.meridocal.Meridocal"}, {"resident", true}};
        const QStringList actions{"default", "開く", "snooze5", "5分後", "snooze15", "15分後", "acknowledge", "了解"};
        QTRY_COMPARE(m_service.calls, (QList<QVariantList>{{"org.freedesktop.Notifications.Notify", "ミルドカ", 0u,
            "io.github.meridocal.Meridocal", "受付", "社長、10時30分から「&lt;b&gt;A&amp;B&lt;/b&gt;」です。\n場所：本社\n備考：a&lt;b",
            actions, hints, 0}}));
        QCOMPARE(m_service.calls[0][7].toMap()["urgency"].typeId(), int(QMetaType::UChar)); // a byte, or servers ignore it
        m_service.delayMs = 1000, platform::setNotifyWaitForTests(300);
        env.insert(rec("2000/04/15", "10", "45", "遅い"));
        main.action("notice10")->trigger(); // plans anew
        main.look(at(10, 35));
        QWidget* list = nullptr;
        QTRY_VERIFY((list = main.window.findChild<QWidget*>("reminderList")));
        QTRY_COMPARE(m_service.calls.value(2), (QVariantList{"org.freedesktop.Notifications.CloseNotification", 2u}));
        list->close();
    }

    // Each answer the daemon sends, the program ended and started again right after it: a snooze
    // comes again at its end, also after the restart; 了解 and a dismissal end the reminder; a
    // click on the body opens the appointment in the change form; with no answer it stays shown.
    void answers_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("kept"); // in sec.mdb right after the answer
        // The form it opened; reminded of at 10:24, 10:25 and 10:35 after the restart; kept then; calls.
        QTest::addColumn<QString>("seen");
        const QString shown = "1 2000/04/15 10:30  0", acked = "1 2000/04/15 10:30  1";
        QTest::newRow("5分後") << "snooze5" << "1 2000/04/15 10:30 2000/04/15 10:25:00 0"
                               << "||会議||" + shown + "|Notify,CloseNotification,Notify";
        QTest::newRow("15分後") << "snooze15" << "1 2000/04/15 10:30 2000/04/15 10:35:00 0"
                                << "|||会議|" + shown + "|Notify,CloseNotification,Notify";
        QTest::newRow("了解") << "acknowledge" << acked << "||||" + acked + "|Notify,CloseNotification";
        QTest::newRow("dismissed") << "dismissed" << acked << "||||" + acked + "|Notify";
        QTest::newRow("body") << "default" << acked << "予定変更 会議||||" + acked + "|Notify,CloseNotification";
        QTest::newRow("none") << "" << shown << "||||" + shown + "|Notify";
    }
    void answers()
    {
        QFETCH(QString, answer);
        QFETCH(QString, kept);
        QFETCH(QString, seen);
        TestEnv env({at(10, 20)});
        env.insert(rec("2000/04/15", "10", "30", "会議"));
        QString opened;
        {
            Watched main;
            QTRY_COMPARE(m_service.calls.size(), 1);
            QTest::qWait(100); // the service's answer with the notification's id comes first
            onNextModal([&opened](QWidget* form) {
                opened = form->windowTitle() + ' ' + form->findChild<QLineEdit*>("DETAIL_TEXT")->text();
                form->close();
            });
            m_service.answer(answer);
            QTRY_COMPARE(states(env), kept);
            QTRY_COMPARE(opened.isEmpty(), answer != "default");
        }
        Watched main;
        QStringList shown{opened};
        for (const QDateTime& moment : {at(10, 24), at(10, 25), at(10, 35)})
            shown << main.look(moment), main.reminded.clear();
        QTRY_COMPARE(m_service.members().join(','), seen.section('|', -1));
        QCOMPARE((shown << states(env) << m_service.members().join(',')).join('|'), seen);
    }

    // Appointments that began while the program was not running are told once, together; the next
    // start tells them no more. One that has not begun is reminded of at once.
    void missedAtStartUp()
    {
        TestEnv env({at(10, 0)});
        env.insert(rec("2000/04/15", "09", "00", "朝礼"));
        env.insert(rec("2000/04/15", "09", "30", "来客", 0));
        env.insert(rec("2000/04/15", "10", "05", "会議"));
        env.insert(rec("2000/04/14", "23", "00", "昨日"));
        { Watched main; QTRY_COMPARE(m_service.calls.size(), 2); }
        Watched again;
        QTest::qWait(200);
        QCOMPARE(m_service.calls.size(), 2);
        QCOMPARE((QStringList{m_service.calls[0][4].toString(), m_service.calls[0][5].toString(), m_service.calls[1][4].toString(),
                              m_service.calls[1][5].toString()}),
                 (QStringList{"秘書", "社長、10時05分から「会議」です。", "お知らせできなかった予定", "09時00分　朝礼\n09時30分　来客"}));
    }

    // Without a notification service one window lists every reminder; each answer takes its row
    // away, a snoozed one comes back into it; the last answer closes it.
    void fallbackList()
    {
        QVERIFY(bus().unregisterService(kInterface));
        TestEnv env({at(10, 20)});
        env.insert(rec("2000/04/15", "10", "30", "会議", 0, "本社"));
        env.insert(rec("2000/04/15", "10", "30", "来客"));
        env.insert(rec("2000/04/16", "00", "05", "夜間作業", 1, "工場"));
        Watched main;
        const auto rows = [&main] {
            QStringList texts;
            for (QWidget* row : main.window.findChildren<QWidget*>("reminderRow"))
                if (row->isVisibleTo(row->parentWidget()))
                    texts << QStringList{row->findChild<QLabel*>("time")->text(), row->findChild<QLabel*>("importance")->text(),
                                         row->findChild<QLabel*>("subject")->text(), row->findChild<QLabel*>("place")->text()}.join(' ');
            return texts.join(',');
        };
        const auto press = [&main](int row, const char* button) {
            main.window.findChildren<QWidget*>("reminderRow")[row]->findChild<QPushButton*>(button)->click();
        };
        QTRY_COMPARE(rows(), "4/15 10:30 高 会議 本社,4/15 10:30  来客 ");
        main.look(at(23, 55));
        QTRY_COMPARE(rows(), "4/15 10:30 高 会議 本社,4/15 10:30  来客 ,4/16 00:05  夜間作業 工場");
        QCOMPARE(main.window.findChild<QWidget*>("reminderList")->windowTitle(), "お知らせ");
        press(2, "snoozeButton");
        press(0, "ackButton");
        QTRY_COMPARE(rows(), "4/15 10:30  来客 ");
        main.look(at(0, 0, 0, 16));
        QTRY_COMPARE(rows(), "4/15 10:30  来客 ,4/16 00:05  夜間作業 工場");
        press(1, "ackButton");
        press(0, "ackButton");
        QTRY_VERIFY(!main.window.findChild<QWidget*>("reminderList"));
        QVERIFY(bus().registerService(kInterface));
    }

    // The entry form's own reminder time is kept per appointment and shown again when changed;
    // iCalendar carries it as an alarm, and reads the first alarm before the start of another's.
    void ownReminderTime()
    {
        TestEnv env({at(10, 0)});
        state::Module1 module;
        module.SEC_DB = platform::Database::open(env.dbPath());
        const auto lists = [&module](const store::StoredRow* row, int choose) {
            PLAN_FRM form(module);
            const bool opened = row ? form.prepareChange(*row) : form.prepare();
            auto* remind = form.findChild<QComboBox*>("REMIND_LST");
            QStringList items;
            for (int i = 0; i < remind->count(); ++i)
                items << remind->itemText(i);
            const QString current = remind->currentText();
            remind->setCurrentIndex(choose);
            form.findChild<QLineEdit*>("DETAIL_TEXT")->setText("会議");
            form.OK_BTN_Click();
            return QString::number(opened) + ':' + current + ':' + items.join(',');
        };
        QCOMPARE(lists(nullptr, 8), "1:既定（10分前）:既定（10分前）,しない,時刻ちょうど,5分前,10分前,15分前,30分前,1時間前,前日（同じ時刻）");
        const store::StoredRow row{1, env.rows().front()};
        QCOMPARE(lists(&row, 1).section(':', 0, 1), "1:前日（同じ時刻）");
        QCOMPARE(store::reminderLead(*module.SEC_DB, 1), std::optional(-1));
        const QByteArray event = ical::eventText(row.rec, "u", at(10, 0), 1440) + ical::eventText(row.rec, "v", at(10, 0), 10);
        QCOMPARE(event.count("BEGIN:VALARM\r\nACTION:DISPLAY\r\n"), 2);
        QVERIFY(event.contains("TRIGGER:-P1D\r\n") && event.contains("TRIGGER:-PT10M\r\n"));
        const QByteArray foreign = "BEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\nUID:f\r\nDTSTART:20000416T100000\r\nSUMMARY:x\r\n"
                                   "BEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER;RELATED=END:-PT5M\r\nEND:VALARM\r\n"
                                   "BEGIN:VALARM\r\nACTION:AUDIO\r\nTRIGGER:-PT45M\r\nEND:VALARM\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
        QCOMPARE(ical::readCalendar(foreign, QDate(2000, 4, 15)).rows.at(0).remind, std::optional(45));
        // Written back, the foreign event keeps its alarms; a lead changed here replaces the one it was read from.
        ical::ZoneTexts zones;
        const store::PLAN_REC x = rec("2000/04/16", "10", "00", "x");
        QCOMPARE(ical::keptEvent(foreign, x, "f", at(10, 0), zones, 45).count("TRIGGER"), 2);
        const QByteArray changed = ical::keptEvent(foreign, x, "f", at(10, 0), zones, 10);
        QVERIFY(changed.contains("TRIGGER;RELATED=END:-PT5M") && changed.contains("TRIGGER:-PT10M") && !changed.contains("PT45M"));
        QCOMPARE(ical::readCalendar(ical::calendarText(event), QDate(2000, 4, 15)).rows.at(0).remind, std::optional(1440));
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
