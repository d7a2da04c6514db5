// The main window as the user sees it: start-up, the refresh, the commands and the picture warning.
#include "main_window/main_frm.h"
#include "platform/files.h"
#include "platform/picture.h"
#include "state/module1.h"
#include "support/test_env.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <QToolBar>


#include <memory>

using platform::MsgAnswer;
using platform::MsgButtons;
using platform::MsgIcon;
using testing::rec;
using testing::StartedMain;
using testing::TestEnv;

namespace {

void sendMouse(QWidget* widget, QEvent::Type type, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    const QPointF pos(30, 30);
    QMouseEvent event(type, pos, widget->mapToGlobal(pos), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    void greetingByHour_data()
    {
        QTest::addColumn<QTime>("time");
        QTest::addColumn<QString>("greeting");
        QTest::newRow("00:30") << QTime(0, 30) << "おはようございます。";
        QTest::newRow("11:59") << QTime(11, 59) << "おはようございます。";
        QTest::newRow("12:00") << QTime(12, 0) << "こんにちわ。";
        QTest::newRow("16:59") << QTime(16, 59) << "こんにちわ。";
        QTest::newRow("17:00") << QTime(17, 0) << "こんばんわ。";
        QTest::newRow("21:59") << QTime(21, 59) << "こんばんわ。";
        QTest::newRow("22:00") << QTime(22, 0) << "遅くまで大変ですね。";
        QTest::newRow("23:59") << QTime(23, 59) << "遅くまで大変ですね。";
    }
    void greetingByHour()
    {
        QFETCH(QTime, time);
        QFETCH(QString, greeting);
        TestEnv env({QDateTime(QDate(2000, 4, 15), time)});
        StartedMain main;
        QCOMPARE(main.label("GREETING_LABEL"), greeting);
    }

    void startUpFillsDateNamesAndCount()
    {
        TestEnv env({QDateTime(QDate(2001, 1, 3), QTime(9, 0))});
        StartedMain main;
        QCOMPARE(main.module.TODAY_STR, QStringLiteral("2001/01/03"));
        QCOMPARE(main.label("DATE_TEXT"), QStringLiteral("2001年01月03日"));
        QVERIFY(env.shown().isEmpty());
        QCOMPARE(main.window.windowTitle(), QStringLiteral("ミルドカ Ver. 2.00"));
        QCOMPARE(main.window.centralWidget()->size(), QSize(341, 144));
    }

    void settingsAtStartUp_data()
    {
        QTest::addColumn<QStringList>("stored"); // SEC_NAME, MY_NAME, SEC_PIC; a null entry is no key
        QTest::addColumn<QString>("nameLabel");
        QTest::addColumn<QString>("myName");
        QTest::newRow("no keys") << QStringList{QString(), QString(), QString()} << "秘書：" << "社長";
        QTest::newRow("empty values") << QStringList{"", "", ""} << "秘書：" << "社長";
        QTest::newRow("stored names") << QStringList{"受付", "部長", QString()} << "受付：" << "部長";
        QTest::newRow("stale picture path") << QStringList{QString(), QString(), "gone.bmp"} << "秘書：" << "社長";
    }
    void settingsAtStartUp()
    {
        QFETCH(QStringList, stored);
        QFETCH(QString, nameLabel);
        QFETCH(QString, myName);
        TestEnv env;
        if (stored[2] == "gone.bmp")
            stored[2] = env.path("gone.bmp");
        const char* keys[] = {"SEC_NAME", "MY_NAME", "SEC_PIC"};
        for (int i = 0; i < 3; ++i)
            if (!stored[i].isNull())
                env.setSetting(keys[i], stored[i]);
        StartedMain main;
        QCOMPARE(main.label("NAME_LABEL"), nameLabel);
        QCOMPARE(main.module.MY_NAME_STR, myName);
        QCOMPARE(main.module.SEC_PIC_PATH, env.girlPath());
        QVERIFY(!main.picture().isNull());
        QVERIFY(env.shown().isEmpty());
        // The fallbacks are not written back: the store keeps what it held.
        for (int i = 0; i < 3; ++i)
            QCOMPARE(env.hasSetting(keys[i]), !stored[i].isNull());
        QCOMPARE(env.setting("SEC_PIC"), stored[2].isNull() ? QString() : stored[2]);
    }

    void purgeAtStartKeepsTodayAndLater()
    {
        TestEnv env;
        env.insert(rec("1999/12/31", "10", "00", "old"));
        env.insert(rec("2000/04/14", "23", "45", "yesterday"));
        env.insert(rec("2000/04/15", "00", "00", "today"));
        env.insert(rec("2000/04/16", "09", "30", "tomorrow"));
        env.insert(rec("2001/01/01", "12", "15", "next year"));
        StartedMain main;
        QStringList left;
        for (const auto& row : env.rows())
            left << row.P_DETAIL;
        QCOMPARE(left, QStringList({"today", "tomorrow", "next year"}));
        QVERIFY(env.shown().isEmpty());
    }

    void countAndEnabling_data()
    {
        QTest::addColumn<int>("today");
        QTest::addColumn<QString>("caption");
        QTest::newRow("none") << 0 << "今日は予定がありません。";
        QTest::newRow("one") << 1 << "1件の予定が入っています。";
        QTest::newRow("twelve") << 12 << "12件の予定が入っています。";
    }
    void countAndEnabling()
    {
        QFETCH(int, today);
        QFETCH(QString, caption);
        TestEnv env;
        for (int i = 0; i < today; ++i)
            env.insert(rec("2000/04/15", QStringLiteral("%1").arg(i % 24, 2, 10, QLatin1Char('0')), "00",
                           QStringLiteral("用件%1").arg(i)));
        env.insert(rec("2000/04/16", "09", "00", "tomorrow does not count"));
        StartedMain main;
        QCOMPARE(main.label("TELL_LABEL"), caption);
        QCOMPARE(main.action("mnuConfirm")->isEnabled(), today > 0);
        QCOMPARE(main.action("listen")->isEnabled(), today > 0);
        for (const char* always : {"plan", "sec", "delete", "door"})
            QVERIFY(main.action(always)->isEnabled());
    }

    void countAbove16BitsTakesTheFailurePath()
    {
        TestEnv env;
        env.insert(rec("2000/04/15", "09", "00", "one"));
        env.exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 32767)"
                 " INSERT INTO PLAN_DAT SELECT '2000/04/15', '10', '00', 'x' || i, 1, '', '' FROM n");
        StartedMain main;
        QCOMPARE(env.prompts(), QStringList{"オーバーフローしました。"});
        // The count keeps what the window showed before.
        QCOMPARE(main.label("TELL_LABEL"), QStringLiteral("3件の予定が入っています。"));
    }

    void missingDatabaseIsReportedAndNotCreated()
    {
        TestEnv env({QDateTime(QDate(2000, 4, 15), QTime(10, 0)), /*database=*/false});
        StartedMain main;
        QVERIFY(!QFile::exists(env.dbPath()));
        QCOMPARE(env.shown().size(), 2); // one at start-up, one at the refresh
        for (const auto& box : env.shown()) {
            QVERIFY(!box.prompt.isEmpty());
            QCOMPARE(box.title, QStringLiteral("ミルドカ"));
            QCOMPARE(box.buttons, MsgButtons::Ok);
        }
        QVERIFY(!main.module.SEC_DB);
        QVERIFY(main.module.TODAY_STR.isEmpty());
        QVERIFY(main.module.SEC_NAME_STR.isEmpty());
        QCOMPARE(main.label("DATE_TEXT"), QStringLiteral("1999年3月18日（木）"));
        QCOMPARE(main.label("GREETING_LABEL"), QStringLiteral("おはようございます。"));
        QCOMPARE(main.label("NAME_LABEL"), QStringLiteral("："));
        QVERIFY(!!main.picture().isNull());

        // The purge on demand reports the missing database instead of claiming success.
        env.clearShown();
        env.answer(MsgAnswer::Yes);
        main.window.mnuData_Click();
        QCOMPARE(env.shown().size(), 2);
        QVERIFY(env.shown().last().prompt != QStringLiteral("削除されました"));
    }

    void missingPicturesAreReportedAndStartUpGoesOn()
    {
        TestEnv env({QDateTime(QDate(2000, 4, 15), QTime(10, 0)), true, /*girl=*/false});
        env.insert(rec("2000/04/14", "10", "00", "yesterday"));
        env.insert(rec("2000/04/15", "10", "00", "today"));
        StartedMain main;
        QCOMPARE(env.shown().size(), 2); // start-up and refresh each report the picture
        QCOMPARE(main.module.TODAY_STR, QStringLiteral("2000/04/15"));
        QCOMPARE(main.label("DATE_TEXT"), QStringLiteral("2000年04月15日"));
        QCOMPARE(env.count(), 1);
        QCOMPARE(main.label("TELL_LABEL"), QStringLiteral("1件の予定が入っています。"));
        QCOMPARE(main.label("NAME_LABEL"), QStringLiteral("秘書："));
    }

    void purgeOnDemand_data()
    {
        QTest::addColumn<bool>("fromToolBar");
        QTest::addColumn<MsgAnswer>("answer");
        QTest::newRow("menu, no") << false << MsgAnswer::No;
        QTest::newRow("menu, yes") << false << MsgAnswer::Yes;
        QTest::newRow("tool bar, yes") << true << MsgAnswer::Yes;
    }
    void purgeOnDemand()
    {
        QFETCH(bool, fromToolBar);
        QFETCH(MsgAnswer, answer);
        TestEnv env;
        StartedMain main;
        // Rows dated before the start day, as if entered after start-up.
        env.insert(rec("2000/04/14", "10", "00", "yesterday"));
        env.insert(rec("2000/04/15", "10", "00", "today"));
        env.insert(rec("2000/04/16", "10", "00", "tomorrow"));
        env.answer(answer);
        if (fromToolBar)
            main.action("delete")->trigger();
        else
            main.window.mnuData_Click();

        const auto& question = env.shown().first();
        QCOMPARE(question.prompt, QStringLiteral("昨日以前のデータを削除しますか？"));
        QCOMPARE(question.title, QStringLiteral("ﾃﾞｰﾀﾒﾝﾃﾅﾝｽ"));
        QCOMPARE(question.icon, MsgIcon::Question);
        QCOMPARE(question.buttons, MsgButtons::YesNo);
        if (answer == MsgAnswer::No) {
            QCOMPARE(env.shown().size(), 1);
            QCOMPARE(env.count(), 3);
            return;
        }
        QCOMPARE(env.shown().size(), 2);
        QCOMPARE(env.shown()[1].prompt, QStringLiteral("削除されました"));
        QCOMPARE(env.shown()[1].title, QStringLiteral("ミルドカ"));
        QCOMPARE(env.count(), 2);
        QCOMPARE(env.count("P_DATE < '2000/04/15'"), 0);
    }

    void purgeUsesTheStartDayAfterMidnight()
    {
        TestEnv env({QDateTime(QDate(2000, 4, 15), QTime(23, 59))});
        StartedMain main;
        env.setNow(QDateTime(QDate(2000, 4, 16), QTime(0, 10)));
        env.insert(rec("2000/04/15", "10", "00", "start day"));
        env.answer(MsgAnswer::Yes);
        main.window.mnuData_Click();
        QCOMPARE(env.count(), 1);
        main.window.refresh();
        QCOMPARE(main.label("TELL_LABEL"), QStringLiteral("1件の予定が入っています。"));
    }

    void pictureWarningOncePerPress()
    {
        TestEnv env;
        env.setSetting("SEC_NAME", "受付");
        env.setSetting("MY_NAME", "部長");
        StartedMain main;
        QWidget* picture = main.window.findChild<QWidget*>("SEC_PICT");

        sendMouse(picture, QEvent::MouseMove, Qt::NoButton, Qt::NoButton);
        QVERIFY(env.shown().isEmpty()); // movement without a press

        sendMouse(picture, QEvent::MouseButtonPress, Qt::RightButton, Qt::RightButton);
        sendMouse(picture, QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton | Qt::RightButton);
        QVERIFY(env.shown().isEmpty()); // a press alone shows nothing
        sendMouse(picture, QEvent::MouseMove, Qt::NoButton, Qt::LeftButton);
        sendMouse(picture, QEvent::MouseMove, Qt::NoButton, Qt::LeftButton);
        QCOMPARE(env.shown().size(), 1); // two presses, one warning, once per press
        const auto& warning = env.shown().first();
        QCOMPARE(warning.prompt, QStringLiteral("部長、おやめください。"));
        QCOMPARE(warning.title, QStringLiteral("受付"));
        QCOMPARE(warning.icon, MsgIcon::Exclamation);
        QCOMPARE(warning.buttons, MsgButtons::Ok);

        // A release neither warns nor disarms; the next movement after a click warns.
        sendMouse(picture, QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton);
        sendMouse(picture, QEvent::MouseButtonRelease, Qt::LeftButton, Qt::NoButton);
        QCOMPARE(env.shown().size(), 1);
        QVERIFY(main.window.pictureWarningArmed());
        sendMouse(picture, QEvent::MouseMove, Qt::NoButton, Qt::NoButton);
        QCOMPARE(env.shown().size(), 2);
        QVERIFY(!main.window.pictureWarningArmed());
    }

    void disabledWayIntoTodaysListOpensNothing()
    {
        TestEnv env;
        StartedMain main;
        QVERIFY(!main.action("mnuConfirm")->isEnabled());
        main.window.activateWindow();
        QTest::keyClick(&main.window, Qt::Key_K, Qt::ControlModifier);
        main.action("listen")->trigger();
        main.window.Toolbar1_ButtonClick("listen");
        QVERIFY(env.shown().isEmpty());
        QVERIFY(!QApplication::activeModalWidget());
    }

    void aboutBoxOpensAndCloses()
    {
        TestEnv env;
        StartedMain main;
        QString caption;
        testing::onNextModal([&caption](QWidget* box) {
            caption = box->windowTitle();
            QCOMPARE(box->size(), QSize(267, 111));
            box->findChild<QPushButton*>("Command1")->click();
        });
        main.window.mnuVersion_Click();
        QCOMPARE(caption, QStringLiteral("ミルドカのﾊﾞｰｼﾞｮﾝ情報"));
        QVERIFY(!QApplication::activeModalWidget());
        QVERIFY(env.shown().isEmpty());
    }

    void exitReleasesTheDatabase_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("menu") << "menu";
        QTest::newRow("door") << "door";
        QTest::newRow("close box") << "close";
    }
    void exitReleasesTheDatabase()
    {
        QFETCH(QString, how);
        TestEnv env;
        StartedMain main;
        QVERIFY(main.module.SEC_DB);
        if (how == "menu")
            main.window.mnuExit_Click();
        else if (how == "door")
            main.action("door")->trigger();
        else
            main.window.close();
        QVERIFY(!main.window.isVisible());
        QVERIFY(!main.module.SEC_DB);
        QVERIFY(env.shown().isEmpty());
        // Closed means closed: the file can be removed and replaced at once.
        QVERIFY(QFile::remove(env.dbPath()));
    }

    void programFolderAtTheRoot()
    {
        platform::setProgramFolder("/");
        QCOMPARE(state::databasePath(), QStringLiteral("/sec.mdb"));
        QCOMPARE(state::defaultPicturePath(), QStringLiteral("/girl.gif"));
        platform::setProgramFolder({});
    }
};

QTEST_MAIN(TestMainWindow)
#include "test_main_window.moc"
