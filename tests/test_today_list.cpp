// Today's appointments as the user meets them: the list, the details of the selected line,
// the Delete key and what the main window shows afterwards.
#include "main_window/main_frm.h"
#include "platform/message_box.h"
#include "state/module1.h"
#include "support/test_env.h"
#include "today_list/listen_frm.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include <sqlite3.h>

#include <algorithm>

using platform::MsgAnswer;
using platform::MsgButtons;
using platform::MsgIcon;
using testing::TestEnv;

namespace {

const QString kToday = QStringLiteral("2000/04/15");
const QString T = kToday + QLatin1Char('|');

// "date|hour|minute|subject[|importance|place|notice]"
store::PLAN_REC parse(const QString& text)
{
    const QStringList f = text.split(QLatin1Char('|'));
    return testing::rec(f[0], f[1], f[2], f[3], f.size() > 4 ? qint16(f[4].toInt()) : qint16(1), f.value(5), f.value(6));
}

// What the window shows of one appointment, and what it should show.
QString shownAs(const store::PLAN_REC& r)
{
    return r.P_DETAIL + QStringLiteral(" / ") + r.P_HOUR + QStringLiteral("時") + r.P_MIN + QStringLiteral("分 / ")
        + r.P_PLACE + QStringLiteral(" / ") + r.P_NOTICE;
}

// The window over a test folder holding the given rows.
struct Opened {
    TestEnv env;
    state::Module1 module;
    std::unique_ptr<LISTEN_FRM> dialog;
    bool prepared = false;

    explicit Opened(const QStringList& rows, const QString& setup = {}, bool writable = true)
    {
        if (!setup.isEmpty())
            env.exec(setup);
        for (const QString& row : rows)
            env.insert(parse(row));
        if (!writable)
            QFile::setPermissions(env.dbPath(), QFile::ReadOwner | QFile::ReadGroup);
        module.SEC_DB = platform::Database::open(env.dbPath());
        module.TODAY_STR = kToday;
        dialog = std::make_unique<LISTEN_FRM>(module);
        prepared = dialog->prepare();
    }
    // Shows the window as exec() would, so that keys reach the focused control.
    bool show()
    {
        dialog->show();
        return QTest::qWaitForWindowActive(dialog.get());
    }
    template <class W> W* get(const char* name) const { return dialog->findChild<W*>(QString::fromLatin1(name)); }
    QListWidget* list() const { return get<QListWidget>("DETAIL_LST"); }
    QString label(const char* name) const { return get<QLabel>(name)->text(); }
    QStringList lines() const
    {
        QStringList result;
        for (int i = 0; i < list()->count(); ++i)
            result << list()->item(i)->text();
        return result;
    }
    int selected() const
    {
        const auto items = list()->selectedItems();
        return items.isEmpty() ? -1 : list()->row(items.first());
    }
    QString shown() const
    {
        return list()->item(selected())->text() + QStringLiteral(" / ") + label("TIME_LABEL") + QStringLiteral(" / ")
            + label("PLACE_LABEL") + QStringLiteral(" / ") + label("NOTICE_LABEL");
    }
    void key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) const
    {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(key), modifiers);
    }
    // Moves down the list with the arrow key until the given appointment is shown.
    bool pick(const store::PLAN_REC& target) const
    {
        for (int step = 0; step < list()->count(); ++step, key(Qt::Key_Down))
            if (shown() == shownAs(target))
                return true;
        return false;
    }
};

QStringList expectedLines(const QList<store::PLAN_REC>& rows)
{
    QStringList shown;
    for (const auto& r : rows)
        shown << shownAs(r);
    shown.sort();
    return shown;
}

} // namespace

class TestTodayList : public QObject {
    Q_OBJECT
private slots:
    void cleanup()
    {
        for (QWidget* w : QApplication::topLevelWidgets())
            QVERIFY2(!w->isVisible(), qPrintable(w->objectName() + " left open"));
    }

    void layout_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QRect>("geometry"); // a width of 0: sized to its text
        QTest::newRow("Label13") << "Label13" << "今日の予定：" << QRect(8, 8, 0, 0);
        QTest::newRow("DETAIL_LST") << "DETAIL_LST" << "" << QRect(8, 24, 481, 76);
        QTest::newRow("Label2") << "Label2" << "重要度　：" << QRect(400, 120, 0, 0);
        QTest::newRow("IMPO_LABEL") << "IMPO_LABEL" << "!!!" << QRect(464, 118, 0, 0);
        QTest::newRow("Frame3") << "Frame3" << "詳細" << QRect(8, 136, 481, 73);
        QTest::newRow("Label1") << "Label1" << "時間　：" << QRect(16, 24, 0, 0);
        QTest::newRow("TIME_LABEL") << "TIME_LABEL" << "07時45分" << QRect(64, 24, 0, 0);
        QTest::newRow("Label6") << "Label6" << "場所　：" << QRect(192, 24, 41, 17);
        QTest::newRow("PLACE_LABEL") << "PLACE_LABEL" << "本社" << QRect(240, 24, 0, 0);
        QTest::newRow("Label8") << "Label8" << "備考　：" << QRect(16, 48, 41, 17);
        QTest::newRow("NOTICE_LABEL") << "NOTICE_LABEL" << "資料持参" << QRect(64, 48, 0, 0);
        QTest::newRow("Command1") << "Command1" << "OK" << QRect(376, 216, 113, 25);
    }
    void layout()
    {
        QFETCH(QString, name);
        QFETCH(QString, text);
        QFETCH(QRect, geometry);
        Opened w({T + "07|45|朝礼|0|本社|資料持参"});
        QVERIFY(w.prepared);
        QCOMPARE(w.dialog->windowTitle(), "詳細確認");
        QCOMPARE(w.dialog->size(), QSize(501, 245));
        QCOMPARE(w.dialog->minimumSize(), w.dialog->maximumSize());
        auto* widget = w.dialog->findChild<QWidget*>(name);
        QVERIFY(widget);
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            QCOMPARE(label->text(), text);
            if (geometry.width() == 0)
                QCOMPARE(label->size(), label->sizeHint());
        } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
            QCOMPARE(button->text(), text);
            QVERIFY(!button->isDefault());
        } else if (auto* frame = qobject_cast<QGroupBox*>(widget)) {
            QCOMPARE(frame->title(), text);
        }
        QCOMPARE(widget->pos(), geometry.topLeft());
        if (geometry.width() != 0)
            QCOMPARE(widget->size(), geometry.size());
    }

    // Every appointment of today appears once, the first is selected and shown, and each line
    // shows its own appointment however it is reached.
    void browse_data()
    {
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<bool>("byMouse");
        QTest::newRow("one") << QStringList{T + "09|30|会議|0|本社|資料"} << true;
        QTest::newRow("same subject, two times")
            << QStringList{T + "09|30|会議|1|A|", T + "14|00|会議|2|B|メモ"} << false;
        QStringList many;
        for (int i = 0; i < 12; ++i)
            many << T + QStringLiteral("%1|15|件%2|%3|室%2|").arg(i + 8, 2, 10, QLatin1Char('0')).arg(i).arg(i % 3);
        QTest::newRow("many, by keys") << many << false;
        QTest::newRow("many, by mouse") << many << true;
        QTest::newRow("other dates never listed")
            << QStringList{"2000/04/14|09|30|昨日", T + "10|00|今日", "2000/04/16|10|00|今日",
                           "2000/04/16|11|00|明日", "2001/04/15|10|00|来年"}
            << true;
    }
    void browse()
    {
        QFETCH(QStringList, rows);
        QFETCH(bool, byMouse);
        Opened w(rows);
        QVERIFY(w.prepared);
        const QList<store::PLAN_REC> today = w.env.rows(QStringLiteral("P_DATE = '%1'").arg(kToday));
        QCOMPARE(w.list()->count(), today.size());
        QCOMPARE(w.selected(), 0);
        QVERIFY(w.show());
        QCOMPARE(QApplication::focusWidget(), w.get<QWidget>("Command1"));
        w.key(Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), w.list());

        QStringList seen{w.shown()};
        for (int line = 1; line < w.list()->count(); ++line) {
            if (byMouse) {
                QListWidgetItem* item = w.list()->item(line);
                w.list()->scrollToItem(item);
                QTest::mouseClick(w.list()->viewport(), Qt::LeftButton, {}, w.list()->visualItemRect(item).center());
            } else {
                w.key(Qt::Key_Down);
            }
            QCOMPARE(w.selected(), line);
            seen << w.shown();
        }
        seen.sort();
        QCOMPARE(seen, expectedLines(today));
        QVERIFY(w.env.shown().isEmpty());
        w.dialog->close();
    }

    void details_data()
    {
        QTest::addColumn<QString>("row");
        QTest::addColumn<QString>("time");
        QTest::addColumn<QString>("marks");
        QTest::addColumn<QString>("place");
        QTest::addColumn<QString>("notice");
        QTest::newRow("medium, no place or notice") << T + "00|00|昼寝|1||" << "00時00分" << "!!" << "" << "";
        QTest::newRow("low") << T + "23|45|電話|2|自宅|" << "23時45分" << "!" << "自宅" << "";
        QTest::newRow("odd value 5") << T + "12|15|謎|5||x" << "12時15分" << "!" << "" << "x";
        QTest::newRow("negative value") << T + "12|15|謎|-1||" << "12時15分" << "!" << "" << "";
    }
    void details()
    {
        QFETCH(QString, row);
        QFETCH(QString, time);
        QFETCH(QString, marks);
        QFETCH(QString, place);
        QFETCH(QString, notice);
        Opened w({row});
        QVERIFY(w.prepared);
        QCOMPARE(w.label("TIME_LABEL"), time);
        QCOMPARE(w.label("IMPO_LABEL"), marks);
        QCOMPARE(w.label("PLACE_LABEL"), place);
        QCOMPARE(w.label("NOTICE_LABEL"), notice);
        const std::pair<const char*, double> sizes[] = {
            {"TIME_LABEL", 9.75}, {"IMPO_LABEL", 11.25}, {"PLACE_LABEL", 9.75}, {"NOTICE_LABEL", 9.75}};
        for (const auto& [name, points] : sizes) {
            QCOMPARE(w.get<QLabel>(name)->size(), w.get<QLabel>(name)->sizeHint());
            QCOMPARE(w.get<QLabel>(name)->font().pointSizeF(), points);
        }
        QVERIFY(w.get<QLabel>("IMPO_LABEL")->font().bold());
        QCOMPARE(w.get<QLabel>("IMPO_LABEL")->palette().color(QPalette::WindowText), QColor(128, 0, 0));
    }

    // OK has the focus and takes Enter and Space; it is neither the default nor the cancel
    // button, and Delete acts in the list only.
    void keysOnOpen_data()
    {
        QTest::addColumn<bool>("inList");
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("closes");
        QTest::newRow("Return on OK") << false << int(Qt::Key_Return) << true;
        QTest::newRow("keypad Enter on OK") << false << int(Qt::Key_Enter) << true;
        QTest::newRow("Space on OK") << false << int(Qt::Key_Space) << true;
        QTest::newRow("Escape") << false << int(Qt::Key_Escape) << false;
        QTest::newRow("Delete on OK") << false << int(Qt::Key_Delete) << false;
        QTest::newRow("Return in the list") << true << int(Qt::Key_Return) << false;
        QTest::newRow("Escape in the list") << true << int(Qt::Key_Escape) << false;
    }
    void keysOnOpen()
    {
        QFETCH(bool, inList);
        QFETCH(int, key);
        QFETCH(bool, closes);
        Opened w({T + "09|30|会議", T + "10|00|来客"});
        QVERIFY(w.prepared && w.show());
        if (inList)
            w.key(Qt::Key_Tab);
        w.key(key);
        QCOMPARE(w.dialog->isVisible(), !closes);
        QVERIFY(w.env.shown().isEmpty());
        QCOMPARE(w.env.count(), 2);
        w.dialog->close();
        QVERIFY(!w.dialog->isVisible());
    }

    void deletion_data()
    {
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<int>("pick");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<MsgAnswer>("answer");
        QTest::addColumn<bool>("writable");
        QTest::addColumn<int>("removed");
        const QStringList five{T + "08|00|朝礼", T + "09|30|会議", T + "11|00|来客", T + "13|15|外出", T + "17|45|報告"};
        const QStringList twins{T + "10|00| 会議", T + "10|00| 会議", T + "10|00|会議", T + "11|00| 会議",
                                "2000/04/16|10|00| 会議"};
        QTest::newRow("third of five") << five << 2 << 0 << MsgAnswer::Yes << true << 1;
        QTest::newRow("No changes nothing") << five << 2 << 0 << MsgAnswer::No << true << 0;
        QTest::newRow("with Shift") << five << 4 << int(Qt::ShiftModifier) << MsgAnswer::Yes << true << 1;
        QTest::newRow("with Ctrl+Alt") << five << 0 << int(Qt::ControlModifier | Qt::AltModifier) << MsgAnswer::Yes
                                       << true << 1;
        QTest::newRow("quote in the subject")
            << QStringList{T + "09|30|it's", T + "09|30|it", T + "09|30|s", T + "09|30|it''s"} << 0 << 0
            << MsgAnswer::Yes << true << 1;
        QTest::newRow("identical twins go together") << twins << 0 << 0 << MsgAnswer::Yes << true << 2;
        QTest::newRow("same time, other subject stays") << twins << 2 << 0 << MsgAnswer::Yes << true << 1;
        QTest::newRow("read-only file") << five << 1 << 0 << MsgAnswer::Yes << false << 0;
        QTest::newRow("the last one") << QStringList{T + "09|30|会議"} << 0 << 0 << MsgAnswer::Yes << true << 1;
    }
    void deletion()
    {
        QFETCH(QStringList, rows);
        QFETCH(int, pick);
        QFETCH(int, modifiers);
        QFETCH(MsgAnswer, answer);
        QFETCH(bool, writable);
        QFETCH(int, removed);
        auto w = std::make_unique<Opened>(rows, QString(), writable);
        TestEnv* env = &w->env;
        QVERIFY(w->prepared);
        QVERIFY(w->show());
        w->key(Qt::Key_Tab);
        const store::PLAN_REC target = parse(rows[pick]);
        QVERIFY(w->pick(target));
        const int line = w->selected();
        const QString before = w->shown();
        const QStringList linesBefore = w->lines();
        const QList<store::PLAN_REC> all = env->rows();

        env->answer(answer);
        w->key(Qt::Key_Delete, Qt::KeyboardModifiers(modifiers));

        // Only the picked appointment and its exact twins may go.
        const QList<store::PLAN_REC> after = env->rows();
        QCOMPARE(after.size(), all.size() - removed);
        for (const auto& r : after)
            QVERIFY(removed == 0 || r.P_DATE + shownAs(r) != target.P_DATE + shownAs(target));
        const QList<store::PLAN_REC> today = env->rows(QStringLiteral("P_DATE = '%1'").arg(kToday));

        QStringList prompts{"この予定を削除しますか？"};
        if (!writable)
            prompts << QString::fromUtf8(sqlite3_errstr(SQLITE_READONLY));
        else if (today.isEmpty())
            prompts << "予定が0件になりました。";
        QCOMPARE(env->prompts(), prompts);
        const auto& question = env->shown().first();
        QCOMPARE(question.title, "削除確認");
        QCOMPARE(question.icon, MsgIcon::Question);
        QCOMPARE(question.buttons, MsgButtons::YesNo);
        QCOMPARE(question.defaultButton, MsgAnswer::Yes);
        QCOMPARE(env->shown().last().title, !writable ? platform::programTitle()
                                            : today.isEmpty() ? QStringLiteral("全予定ｸﾘｱ") : question.title);

        QCOMPARE(w->dialog->isVisible(), !today.isEmpty());
        if (today.isEmpty())
            return;
        QCOMPARE(w->list()->count(), today.size());
        if (removed == 0) {
            QCOMPARE(w->lines(), linesBefore);
            QCOMPARE(w->selected(), line);
            QCOMPARE(w->shown(), before);
        } else {
            QCOMPARE(w->selected(), 0);
            QVERIFY2(expectedLines(today).contains(w->shown()), qPrintable(w->shown()));
        }
        w->dialog->close();
    }

    // A load that fails keeps the window open with the lines read so far and nothing selected;
    // a day without appointments closes it before it is ever shown.
    void openingWithoutAList_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("prompt");
        QTest::addColumn<bool>("closes");
        const QString loose = QStringLiteral(
            "DROP TABLE PLAN_DAT; CREATE TABLE PLAN_DAT (P_DATE, P_HOUR, P_MIN, P_DETAIL, P_IMPORTANCE, P_PLACE, P_NOTICE);"
            "INSERT INTO PLAN_DAT VALUES ('2000/04/15','09','00','一',1,'',''),('2000/04/15','10','00','二',1,'','');");
        const QString nullUse = QStringLiteral("Null の使い方が不正です。");
        QTest::newRow("NULL notice on the third row")
            << loose + "INSERT INTO PLAN_DAT VALUES ('2000/04/15','11','00','三',1,'',NULL);" << QStringList{"一", "二"}
            << nullUse << false;
        QTest::newRow("NULL subject on the first row")
            << loose + "UPDATE PLAN_DAT SET P_DETAIL = NULL WHERE P_DETAIL = '一';" << QStringList{} << nullUse << false;
        QTest::newRow("NULL hour on the second row")
            << loose + "UPDATE PLAN_DAT SET P_HOUR = NULL WHERE P_DETAIL = '二';" << QStringList{"一"} << nullUse << false;
        QTest::newRow("NULL importance")
            << loose + "UPDATE PLAN_DAT SET P_IMPORTANCE = NULL WHERE P_DETAIL = '二';" << QStringList{"一"} << nullUse
            << false;
        QTest::newRow("importance not a number")
            << loose + "UPDATE PLAN_DAT SET P_IMPORTANCE = '高' WHERE P_DETAIL = '二';" << QStringList{"一"}
            << "型が一致しません。" << false;
        QTest::newRow("importance beyond 16 bits")
            << loose + "UPDATE PLAN_DAT SET P_IMPORTANCE = 40000 WHERE P_DETAIL = '一';" << QStringList{}
            << "オーバーフローしました。" << false;
        QTest::newRow("32768 rows")
            << "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 32768) "
               "INSERT INTO PLAN_DAT SELECT '2000/04/15', '09', '00', 'x' || i, 1, '', '' FROM n;"
            << QStringList{} << "オーバーフローしました。" << false;
        QTest::newRow("no table") << "DROP TABLE PLAN_DAT;" << QStringList{} << "no such table: PLAN_DAT" << false;
        QTest::newRow("no rows") << "" << QStringList{} << "予定が0件になりました。" << true;
        QTest::newRow("other dates only")
            << "INSERT INTO PLAN_DAT VALUES ('2000/04/14','09','30','昨日',1,'',''),('2000/04/16','09','30','明日',1,'','');"
            << QStringList{} << "予定が0件になりました。" << true;
    }
    void openingWithoutAList()
    {
        QFETCH(QString, setup);
        QFETCH(QStringList, lines);
        QFETCH(QString, prompt);
        QFETCH(bool, closes);
        Opened w({}, setup);
        QCOMPARE(w.prepared, !closes);
        QCOMPARE(w.env.prompts(), QStringList{prompt});
        const platform::MessageRequest& box = w.env.shown()[0];
        QCOMPARE(box.title, closes ? QStringLiteral("全予定ｸﾘｱ") : platform::programTitle());
        QCOMPARE(box.icon, closes ? MsgIcon::Exclamation : MsgIcon::None);
        QCOMPARE(box.buttons, MsgButtons::Ok);
        QCOMPARE(w.lines(), lines);
        QCOMPARE(w.selected(), -1);
        QCOMPARE(w.label("TIME_LABEL"), QString());
        QVERIFY(!w.dialog->isVisible());
    }

    // Opened from the main window, which shows the new count and enabling once it closes.
    void fromMainWindow_data()
    {
        QTest::addColumn<int>("appointments");
        QTest::addColumn<bool>("emptiedElsewhere");
        QTest::addColumn<QString>("tell");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("deleting the last") << 1 << false << "今日は予定がありません。" << false;
        QTest::newRow("deleting one of three") << 3 << false << "2件の予定が入っています。" << true;
        QTest::newRow("emptied by another program") << 1 << true << "今日は予定がありません。" << false;
    }
    void fromMainWindow()
    {
        QFETCH(int, appointments);
        QFETCH(bool, emptiedElsewhere);
        QFETCH(QString, tell);
        QFETCH(bool, enabled);
        TestEnv env;
        for (int i = 0; i < appointments; ++i)
            env.insert(testing::rec(kToday, QStringLiteral("1%1").arg(i), QStringLiteral("00"), QStringLiteral("件%1").arg(i)));
        state::Module1 module;
        MAIN_FRM main(module);
        main.startUp();
        main.show();
        main.refresh();
        auto* confirm = main.findChild<QAction*>(QStringLiteral("mnuConfirm"));
        QVERIFY(confirm->isEnabled());
        if (emptiedElsewhere) {
            env.exec(QStringLiteral("DELETE FROM PLAN_DAT"));
        } else {
            env.answer(MsgAnswer::Yes);
            testing::onNextModal([](QWidget* modal) {
                auto* list = modal->findChild<QListWidget*>(QStringLiteral("DETAIL_LST"));
                list->setFocus();
                QTest::keyClick(list, Qt::Key_Delete);
                if (modal->isVisible())
                    QTest::keyClick(modal->findChild<QPushButton*>(QStringLiteral("Command1")), Qt::Key_Return);
            });
        }
        main.mnuConfirm_Click();
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
        QCOMPARE(env.count(), emptiedElsewhere ? 0 : appointments - 1);
        QCOMPARE(main.findChild<QLabel*>(QStringLiteral("TELL_LABEL"))->text(), tell);
        QCOMPARE(confirm->isEnabled(), enabled);
        QCOMPARE(env.prompts().contains("予定が0件になりました。"), appointments == 1);
        main.close();
    }
};

QTEST_MAIN(TestTodayList)
#include "test_today_list.moc"
