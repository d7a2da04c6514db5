// The main window as the user sees it: start-up, the refresh, the purge, the picture warning,
// the About box, the end of the program and the secretary that stays in the tray.
#include "reminders/reminders.h"
#include "support/test_env.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QFile>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>

using platform::MsgAnswer;
using platform::MsgIcon;
using testing::box;
using testing::rec;
using testing::StartedMain;
using testing::TestEnv;

namespace {
// What a screen reader calls a control.
QString spoken(QWidget* window, const char* name)
{
    return name + ('=' + QAccessible::queryAccessibleInterface(window->findChild<QWidget*>(name))->text(QAccessible::Name));
}

void mouse(QWidget* widget, QEvent::Type type, Qt::MouseButtons buttons)
{
    QMouseEvent event(type, QPointF(30, 30), widget->mapToGlobal(QPointF(30, 30)),
                      type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}
} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty()); }

    // The names a screen reader gives the controls that show no caption of their own, in every
    // window: importance by its meaning, an empty value by its caption.
    void accessibleNames()
    {
        TestEnv env;
        env.insert(rec("2000/04/15", "10", "00", "会議", 0));
        StartedMain main;
        QStringList names{spoken(&main.window, "SEC_PICT"), spoken(&main.window, "Toolbar1")};
        const std::pair<const char*, QList<const char*>> windows[] = {
            {"mnuSche", {"HOUR_LST", "MIN_LST"}},
            {"mnuConfirm", {"DETAIL_LST", "IMPO_LABEL", "PLACE_LABEL", "NOTICE_LABEL"}},
            {"actionAllList", {"allListTable"}}};
        for (const auto& [menu, controls] : windows) {
            testing::onNextModal([&names, &controls](QWidget* window) {
                for (const char* name : controls)
                    names << spoken(window, name);
                window->hide();
            });
            main.action(menu)->trigger();
        }
        QCOMPARE(names, QStringList({"SEC_PICT=秘書", "Toolbar1=ツールバー", "HOUR_LST=時", "MIN_LST=分",
                                     "DETAIL_LST=今日の予定", "IMPO_LABEL=重要度 高", "PLACE_LABEL=場所",
                                     "NOTICE_LABEL=備考", "allListTable=予定一覧"}));
    }

    // What start-up shows for the moment it runs, the settings it finds and today's rows: past
    // rows are gone, today's counted, the ways into today's list follow, and fallbacks are never
    // written back.
    void startUp_data()
    {
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<QStringList>("stored"); // SEC_NAME, MY_NAME, SEC_PIC; a null entry is no key
        QTest::addColumn<int>("today");
        QTest::addColumn<QStringList>("shown"); // greeting, date, name, count
        QTest::addColumn<QString>("told");
        const QStringList none{QString(), QString(), QString()};
        auto at = [](int h, int m) { return QDateTime(QDate(2000, 4, 15), QTime(h, m)); };
        QTest::newRow("00:30, none today") << at(0, 30) << none << 0
            << QStringList{"おはようございます。", "2000年04月15日", "秘書：", "今日は予定がありません。"} << "";
        // A label that read stored text as markup would load /dev/zero until the program died.
        QTest::newRow("12:00, names as markup") << at(12, 0) << QStringList{"<img src=\"/dev/zero\">", "部長", QString()} << 1
            << QStringList{"こんにちわ。", "2000年04月15日", "<img src=\"/dev/zero\">：", "1件の予定が入っています。"} << "";
        QTest::newRow("16:59, empty values") << at(16, 59) << QStringList{"", "", ""} << 12
            << QStringList{"こんにちわ。", "2000年04月15日", "秘書：", "12件の予定が入っています。"} << "";
        QTest::newRow("17:00, stale picture, 32768 overflow the count")
            << at(17, 0) << QStringList{QString(), QString(), "/gone.bmp"} << 32768
            << QStringList{"こんばんわ。", "2000年04月15日", "秘書：", ""} << "オーバーフローしました。";
        QTest::newRow("22:00 on 3 January 2001") << QDateTime(QDate(2001, 1, 3), QTime(22, 0)) << none << 1
            << QStringList{"遅くまで大変ですね。", "2001年01月03日", "秘書：", "1件の予定が入っています。"} << "";
    }
    void startUp()
    {
        QFETCH(QDateTime, now);
        QFETCH(QStringList, stored);
        QFETCH(int, today);
        QFETCH(QStringList, shown);
        QFETCH(QString, told);
        TestEnv env({now});
        const QString day = state::dateKey(now.date());
        env.exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1)"
                                " INSERT INTO PLAN_DAT (P_DATE, P_HOUR, P_MIN, P_DETAIL, P_IMPORTANCE, P_PLACE, P_NOTICE) SELECT '%2', '10', '00', 'x' || i, 1, '', '' FROM n WHERE %1 > 0;"
                                " INSERT INTO PLAN_DAT (P_DATE, P_HOUR, P_MIN, P_DETAIL, P_IMPORTANCE, P_PLACE, P_NOTICE) VALUES ('%3', '23', '45', '昨日', 1, '', ''), ('%4', '09', '00', '明日', 1, '', '')")
                     .arg(today).arg(day, state::dateKey(now.date().addDays(-1)), state::dateKey(now.date().addDays(1))));
        const char* keys[] = {"SEC_NAME", "MY_NAME", "SEC_PIC"};
        for (int i = 0; i < 3; ++i)
            if (!stored[i].isNull())
                env.setSetting(keys[i], stored[i]);
        StartedMain main;
        QCOMPARE(QStringList({main.label("GREETING_LABEL"), main.label("DATE_TEXT"), main.label("NAME_LABEL"),
                              main.label("TELL_LABEL")}), shown);
        QCOMPARE(env.told(), QStringList{told}.mid(0, !told.isEmpty()));
        QCOMPARE(main.action("mnuConfirm")->isEnabled() && main.action("listen")->isEnabled(), today > 0);
        QCOMPARE(main.module.TODAY_STR, day);
        QCOMPARE(main.module.SEC_PIC_PATH, env.girlPath());
        QVERIFY(!main.picture().isNull());
        QCOMPARE(env.count(), today + 1);
        QCOMPARE(env.count("P_DATE < '" + day + "'"), 0);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(env.hasSetting(keys[i]), !stored[i].isNull());
    }

    // The purge on demand asks first; it removes what lies before the start day and says so.
    void purgeOnDemand_data()
    {
        QTest::addColumn<bool>("fromToolBar");
        QTest::addColumn<MsgAnswer>("answer");
        QTest::addColumn<int>("left");
        QTest::newRow("menu, no") << false << MsgAnswer::No << 3;
        QTest::newRow("tool bar, yes") << true << MsgAnswer::Yes << 2;
    }
    void purgeOnDemand()
    {
        QFETCH(bool, fromToolBar);
        QFETCH(MsgAnswer, answer);
        QFETCH(int, left);
        TestEnv env;
        StartedMain main;
        for (const QString& date : QStringList{"2000/04/14", "2000/04/15", "2000/04/16"})
            env.insert(rec(date, "10", "00", "用件"));
        env.answer(answer);
        fromToolBar ? main.action("delete")->trigger() : main.action("mnuData")->trigger();
        const QString question = box("昨日以前のデータを削除しますか？", "ﾃﾞｰﾀﾒﾝﾃﾅﾝｽ", MsgIcon::Question,
                                     platform::MsgButtons::YesNo);
        QCOMPARE(env.told(), QStringList({question, "削除されました"}).mid(0, left == 3 ? 1 : 2));
        QCOMPARE(env.count(), left);
    }

    // A press on the picture arms one warning, given at the next movement, by the user's name and
    // titled with the secretary's (the program's name when the secretary has none).
    void pictureWarning_data()
    {
        QTest::addColumn<QString>("secretary");
        QTest::addColumn<QString>("title");
        QTest::newRow("named") << "受付" << "受付";
        QTest::newRow("no name") << "" << "ミルドカ";
    }
    void pictureWarning()
    {
        QFETCH(QString, secretary);
        QFETCH(QString, title);
        TestEnv env;
        env.setSetting("MY_NAME", "部長");
        StartedMain main;
        main.module.SEC_NAME_STR = secretary;
        CHILD(picture, QWidget, &main.window, "SEC_PICT");
        mouse(picture, QEvent::MouseMove, Qt::NoButton);
        mouse(picture, QEvent::MouseButtonPress, Qt::LeftButton);
        mouse(picture, QEvent::MouseButtonPress, Qt::LeftButton);
        QCOMPARE(env.told(), QStringList());
        for (int i = 0; i < 3; ++i)
            mouse(picture, QEvent::MouseMove, Qt::LeftButton);
        mouse(picture, QEvent::MouseButtonRelease, Qt::NoButton);
        mouse(picture, QEvent::MouseMove, Qt::NoButton);
        QCOMPARE(env.told(), QStringList{box("部長、おやめください。", title, MsgIcon::Exclamation)});
    }

    // The About box ignores Escape and closes on OK; closing the main window releases the
    // database at once.
    void aboutAndExit()
    {
        TestEnv env;
        StartedMain main;
        QString caption;
        testing::onNextModal([&caption](QWidget* about) {
            QTest::keyClick(about, Qt::Key_Escape);
            caption = about->isVisible() ? about->windowTitle() : QString();
            about->findChild<QPushButton*>("Command1")->click();
        });
        main.action("mnuVersion")->trigger();
        QCOMPARE(caption, "ミルドカのﾊﾞｰｼﾞｮﾝ情報");
        main.action("door")->trigger();
        QVERIFY(!main.window.isVisible() && !main.module.SEC_DB);
        QVERIFY(QFile::remove(env.dbPath()));
        QCOMPARE(env.told(), QStringList());
    }

    // The close box ends the program unless the secretary stays in a tray: taken off again, the
    // choice is kept so in the settings file; without a tray it is greyed and never applies.
    void closeWithoutTray_data()
    {
        QTest::addColumn<bool>("tray");
        QTest::addColumn<QString>("kept"); // after the choice is taken: the setting, the mark, enabling and tool tip
        QTest::newRow("chosen off") << true << "0|0 1 閉じるボタンでは画面から隠れるだけになり、通知領域のアイコンからお知らせを続けます。";
        QTest::newRow("no tray: greyed") << false << "1|0 0 このデスクトップには通知領域（システムトレイ）がないため、常駐できません。";
    }
    void closeWithoutTray()
    {
        QFETCH(bool, tray);
        QFETCH(QString, kept);
        TestEnv env;
        env.setTray(tray);
        env.setSetting("RESIDENT", "1");
        StartedMain main;
        QAction* resident = main.action("mnuResident");
        resident->trigger();
        QCOMPARE(QString("%1|%2 %3 %4").arg(env.setting("RESIDENT")).arg(resident->isChecked()).arg(resident->isEnabled())
                     .arg(resident->toolTip()), kept);
        main.window.close();
        const auto* icon = main.window.findChild<QSystemTrayIcon*>("trayIcon");
        QVERIFY(main.window.isHidden() && !main.module.SEC_DB && !(icon && icon->isVisible()));
    }

    // Chosen where there is a tray (it is off at first): the choice is kept, the close box only hides the window and
    // reminders go on; from the tray "表示" brings the window back, "予定設定" opens the entry form
    // and the count follows what it saved, a command given while a window of the program is open
    // waits for it, and "終了" (the exit command of ﾒﾆｭｰ) ends the program.
    void stayInTray()
    {
        TestEnv env;
        env.setTray(true);
        env.insert(rec("2000/04/15", "10", "30", "会議"));
        StartedMain main;
        main.action("mnuResident")->trigger();
        CHILD(icon, QSystemTrayIcon, &main.window, "trayIcon");
        QVERIFY(main.action("mnuResident")->isChecked() && env.setting("RESIDENT") == "1" && icon->isVisible());
        QCOMPARE(icon->contextMenu()->actions(), (QList{main.action("trayShow"), main.action("traySche"), main.action("trayExit")}));
        QCOMPARE(main.action("trayShow")->text() + main.action("traySche")->text() + main.action("trayExit")->text(), "表示予定設定終了");
        QCOMPARE(icon->icon().availableSizes(), QList<QSize>{main.picture().size()}); // the secretary, not the 32 × 32 icon
        QSignalSpy reminded(main.window.findChild<Reminders*>(), &Reminders::due);
        main.window.close();
        env.setNow(QDateTime(QDate(2000, 4, 15), QTime(10, 20)));
        main.window.findChild<Reminders*>()->check();
        QVERIFY(main.window.isHidden() && main.module.SEC_DB && reminded.count() == 1);
        main.action("trayShow")->trigger();
        QVERIFY(main.window.isVisible() && !main.window.close() && main.window.isHidden());
        env.insert(rec("2000/04/15", "11", "00", "来客"));
        bool held = false;
        testing::onNextModal([&](QWidget* form) {
            main.action("trayExit")->trigger();
            held = form->objectName() == "PLAN_FRM" && form->isVisible() && main.module.SEC_DB;
            form->close();
        });
        main.action("traySche")->trigger();
        QCOMPARE(icon->toolTip(), "ミルドカ　今日の予定 2件");
        main.action("trayExit")->trigger();
        QVERIFY(held && main.window.isHidden() && !main.module.SEC_DB && !icon->isVisible());
    }
};

QTEST_MAIN(TestMainWindow)
#include "test_main_window.moc"
