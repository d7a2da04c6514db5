// Today's appointments as the user meets them: the lines, the details of the selected one, the
// Delete key, and what the main window shows afterwards.
#include "support/test_env.h"
#include "today_list/listen_frm.h"

#include <QtTest>
#include <QtWidgets>

using platform::MsgAnswer;
using platform::MsgIcon;
using testing::box;

namespace {
const QString T = QStringLiteral("2000/04/15|");

// "date|hour|minute|subject|importance|place|notice", then an end as testing::until takes it
store::PLAN_REC parse(const QString& text)
{
    const QStringList f = text.split('|');
    const store::PLAN_REC r = testing::rec(f[0], f[1], f[2], f[3], qint16(f.value(4, "1").toInt()), f.value(5), f.value(6));
    return f.size() > 7 ? testing::until(r, f.mid(7).join('|')) : r;
}
} // namespace

class TestTodayList : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty()); }

    // Browsing by keys shows each line's own time, marks, place and notice, as text whatever it
    // holds; Delete in the list removes the picked line's appointment and its exact twins,
    // reloads and selects the first line; with nothing left the window closes.
    void browseAndDelete_data()
    {
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<int>("pick");
        QTest::addColumn<MsgAnswer>("answer");
        QTest::addColumn<QString>("shown"); // the picked line and its details
        QTest::addColumn<int>("left");
        QTest::addColumn<bool>("byMenu"); // deleted through the list's context menu, not the Delete key
        const QStringList five{T + "08|00|朝礼|0|本社|資料", T + "09|30|会議|1||", T + "11|00|来客|2|応接室|",
                               T + "13|15|外出|5||直帰", "2000/04/16|09|00|明日|1||"};
        QTest::newRow("third of four") << five << 2 << MsgAnswer::Yes << "来客 11時00分 ! 応接室 " << 4 << true;
        QTest::newRow("No changes nothing") << five << 3 << MsgAnswer::No << "外出 13時15分 !  直帰" << 5 << false;
        QTest::newRow("markup stays text")
            << QStringList{T + "09|00|<h1>会議</h1>|0|<b>本社</b>|<img src=\"/dev/zero\">", T + "10|00|x"} << 0
            << MsgAnswer::Yes << "<h1>会議</h1> 09時00分 !!! <b>本社</b> <img src=\"/dev/zero\">" << 1 << false;
        QTest::newRow("identical twins: the picked one alone")
            << QStringList{T + "10|00| 会議", T + "10|00| 会議", T + "10|00|会議"} << 1 << MsgAnswer::Yes
            << " 会議 10時00分 !!  " << 2 << true;
        // Appointments that began before today and go on today come first.
        const QStringList spans{T + "10|00|会議|1|||2000/04/15|11|30", "2000/04/13|00|00|旅行|1|||2000/04/16",
                                "2000/04/14|22|00|夜勤|1|||2000/04/15|06|00", "2000/04/14|10|00|昨日|1|||2000/04/14|11|00"};
        QTest::newRow("an end") << spans << 2 << MsgAnswer::Yes << "会議 10時00分〜11時30分 !!  " << 3 << false;
        QTest::newRow("whole days, begun before") << spans << 0 << MsgAnswer::Yes << "旅行 終日〜2000/04/16 !!  " << 3 << false;
        QTest::newRow("overnight") << spans << 1 << MsgAnswer::Yes << "夜勤 22時00分〜2000/04/15 06時00分 !!  " << 3 << false;
        QTest::newRow("the last one closes the window") << QStringList{T + "09|30|会議"} << 0 << MsgAnswer::Yes
                                                        << "会議 09時30分 !!  " << 0 << false;
    }
    void browseAndDelete()
    {
        QFETCH(QStringList, rows);
        QFETCH(int, pick);
        QFETCH(MsgAnswer, answer);
        QFETCH(QString, shown);
        QFETCH(int, left);
        QFETCH(bool, byMenu);
        testing::TestEnv env;
        for (const QString& row : rows)
            env.insert(parse(row));
        state::Module1 module;
        module.SEC_DB = platform::Database::open(env.dbPath());
        module.TODAY_STR = "2000/04/15";
        LISTEN_FRM dialog(module);
        QVERIFY(dialog.prepare());
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        CHILD(list, QListWidget, &dialog, "DETAIL_LST");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Delete); // on OK: nothing
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        for (int i = 0; i < pick; ++i)
            QTest::keyClick(list, Qt::Key_Down);
        QStringList seen{list->currentItem()->text()};
        for (const char* name : {"TIME_LABEL", "IMPO_LABEL", "PLACE_LABEL", "NOTICE_LABEL"})
            seen << dialog.findChild<QLabel*>(name)->text();
        QCOMPARE(seen.join(' '), shown);
        env.answer(answer);
        QCOMPARE(list->contextMenuPolicy() == Qt::ActionsContextMenu ? list->actions().value(0)->text() : "", "削除");
        byMenu ? list->actions().value(0)->trigger() : QTest::keyClick(list, Qt::Key_Delete);
        QCOMPARE(env.count(), left);
        const QString asked = box("この予定を削除しますか？", "削除確認", MsgIcon::Question, platform::MsgButtons::YesNo);
        QCOMPARE(env.told(), QStringList({asked, box("予定が0件になりました。", "全予定ｸﾘｱ", MsgIcon::Exclamation)})
                                 .mid(0, left == 0 ? 2 : 1));
        QCOMPARE(dialog.isVisible(), left > 0);
        QCOMPARE(list->currentRow(), left == 0 ? -1 : answer == MsgAnswer::Yes ? 0 : pick);
    }

    // A Ctrl+click on the selected line keeps it selected, so Delete removes what is shown.
    void selectionStays()
    {
        testing::TestEnv env;
        env.insert(parse(T + "09|00|朝礼"));
        env.insert(parse(T + "10|00|会議"));
        testing::StartedMain main;
        testing::onNextModal([&env](QWidget* dialog) {
            auto* list = dialog->findChild<QListWidget*>("DETAIL_LST");
            const QPoint second = list->visualItemRect(list->item(1)).center();
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, second);
            QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier, second);
            env.answer(MsgAnswer::Yes);
            QTest::keyClick(list, Qt::Key_Delete);
            dialog->close();
        });
        main.action("mnuConfirm")->trigger();
        QCOMPARE(env.table(), QStringList{T + "09|00|朝礼|1||"});
        QCOMPARE(main.label("TELL_LABEL"), "1件の予定が入っています。");
    }
};

QTEST_MAIN(TestTodayList)
#include "test_today_list.moc"
