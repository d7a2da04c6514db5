// The main window as the user sees it: start-up, the refresh, the purge, the picture warning,
// the About box and the end of the program.
#include "support/test_env.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>

using platform::MsgAnswer;
using platform::MsgIcon;
using testing::box;
using testing::rec;
using testing::StartedMain;
using testing::TestEnv;

namespace {
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

    // What start-up shows for the moment it runs and the settings it finds. Past rows are gone,
    // today's are counted, and fallbacks are never written back.
    void startUp_data()
    {
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<QStringList>("stored"); // SEC_NAME, MY_NAME, SEC_PIC; a null entry is no key
        QTest::addColumn<QString>("greeting");
        QTest::addColumn<QString>("date");
        QTest::addColumn<QString>("name");
        const QStringList none{QString(), QString(), QString()};
        auto at = [](int h, int m) { return QDateTime(QDate(2000, 4, 15), QTime(h, m)); };
        QTest::newRow("00:30") << at(0, 30) << none << "おはようございます。" << "2000年04月15日" << "秘書：";
        QTest::newRow("11:59") << at(11, 59) << none << "おはようございます。" << "2000年04月15日" << "秘書：";
        QTest::newRow("12:00, names") << at(12, 0) << QStringList{"受付", "部長", QString()} << "こんにちわ。"
                                      << "2000年04月15日" << "受付：";
        QTest::newRow("16:59, empty values") << at(16, 59) << QStringList{"", "", ""} << "こんにちわ。"
                                             << "2000年04月15日" << "秘書：";
        QTest::newRow("17:00, stale picture") << at(17, 0) << QStringList{QString(), QString(), "/gone.bmp"}
                                              << "こんばんわ。" << "2000年04月15日" << "秘書：";
        QTest::newRow("21:59") << at(21, 59) << none << "こんばんわ。" << "2000年04月15日" << "秘書：";
        QTest::newRow("22:00 on 3 January 2001") << QDateTime(QDate(2001, 1, 3), QTime(22, 0)) << none
                                                 << "遅くまで大変ですね。" << "2001年01月03日" << "秘書：";
    }
    void startUp()
    {
        QFETCH(QDateTime, now);
        QFETCH(QStringList, stored);
        QFETCH(QString, greeting);
        QFETCH(QString, date);
        QFETCH(QString, name);
        TestEnv env({now});
        const QString today = state::dateKey(now.date()), yesterday = state::dateKey(now.date().addDays(-1));
        for (const auto& r : {rec(yesterday, "23", "45", "昨日"), rec(today, "00", "00", "今日"),
                              rec(state::dateKey(now.date().addDays(1)), "09", "30", "明日")})
            env.insert(r);
        const char* keys[] = {"SEC_NAME", "MY_NAME", "SEC_PIC"};
        for (int i = 0; i < 3; ++i)
            if (!stored[i].isNull())
                env.setSetting(keys[i], stored[i]);
        StartedMain main;
        QCOMPARE(main.label("GREETING_LABEL"), greeting);
        QCOMPARE(main.label("DATE_TEXT"), date);
        QCOMPARE(main.label("NAME_LABEL"), name);
        QCOMPARE(main.label("TELL_LABEL"), "1件の予定が入っています。");
        QCOMPARE(main.module.TODAY_STR, today);
        QCOMPARE(main.module.SEC_PIC_PATH, env.girlPath());
        QVERIFY(!main.picture().isNull());
        QCOMPARE(env.table(), QStringList({today + "|00|00|今日|1||",
                                           state::dateKey(now.date().addDays(1)) + "|09|30|明日|1||"}));
        QCOMPARE(env.told(), QStringList());
        for (int i = 0; i < 3; ++i)
            QCOMPARE(env.hasSetting(keys[i]), !stored[i].isNull());
    }

    // The count and the two ways into today's list follow today's rows only.
    void countAndEnabling_data()
    {
        QTest::addColumn<int>("today");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QStringList>("told");
        QTest::newRow("none") << 0 << "今日は予定がありません。" << QStringList();
        QTest::newRow("twelve") << 12 << "12件の予定が入っています。" << QStringList();
        QTest::newRow("32768 overflow the count") << 32768 << "3件の予定が入っています。"
                                                  << QStringList("オーバーフローしました。");
    }
    void countAndEnabling()
    {
        QFETCH(int, today);
        QFETCH(QString, caption);
        QFETCH(QStringList, told);
        TestEnv env;
        env.exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1)"
                                " INSERT INTO PLAN_DAT SELECT '2000/04/15', '10', '00', 'x' || i, 1, '', '' FROM n"
                                " WHERE %1 > 0; INSERT INTO PLAN_DAT VALUES ('2000/04/16', '09', '00', '明日', 1, '', '')")
                     .arg(today));
        StartedMain main;
        QCOMPARE(main.label("TELL_LABEL"), caption);
        QCOMPARE(env.told(), told);
        QCOMPARE(main.action("mnuConfirm")->isEnabled(), today > 0);
        QCOMPARE(main.action("listen")->isEnabled(), today > 0);
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

    // The About box ignores Escape and closes on OK; the program ends from the menu, the tool bar
    // or the close box, releasing the database at once.
    void aboutAndExit_data()
    {
        QTest::addColumn<QString>("exit");
        QTest::newRow("menu") << "mnuExit";
        QTest::newRow("tool bar") << "door";
        QTest::newRow("close box") << "";
    }
    void aboutAndExit()
    {
        QFETCH(QString, exit);
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
        exit.isEmpty() ? (void)main.window.close() : main.action(qPrintable(exit))->trigger();
        QVERIFY(!main.window.isVisible());
        QVERIFY(!main.module.SEC_DB);
        QVERIFY(QFile::remove(env.dbPath()));
        QCOMPARE(env.told(), QStringList());
    }
};

QTEST_MAIN(TestMainWindow)
#include "test_main_window.moc"
