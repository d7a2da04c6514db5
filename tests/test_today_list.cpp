// Today's appointments as the user meets them: the list, the details of the selected line,
// the Delete key and what the main window shows afterwards.
#include "main_window/main_frm.h"
#include "support/test_env.h"
#include "today_list/listen_frm.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

using platform::MsgAnswer;
using platform::MsgIcon;

namespace {

const QString kToday = QStringLiteral("2000/04/15");
const QString T = kToday + QLatin1Char('|');
const QString kTodayOnly = QStringLiteral("P_DATE = '2000/04/15'");
const QString kNoneLeft = QStringLiteral("予定が0件になりました。");

// "date|hour|minute|subject[|importance|place|notice]"
store::PLAN_REC parse(const QString& text)
{
    const QStringList f = text.split(QLatin1Char('|'));
    return testing::rec(f[0], f[1], f[2], f[3], f.size() > 4 ? qint16(f[4].toInt()) : qint16(1), f.value(5), f.value(6));
}

// What the window should show of one appointment: line / time / marks / place / notice.
QString shownAs(const store::PLAN_REC& r)
{
    const QString marks = r.P_IMPORTANCE == 0 ? "!!!" : r.P_IMPORTANCE == 1 ? "!!" : "!";
    return QStringList{r.P_DETAIL, r.P_HOUR + "時" + r.P_MIN + "分", marks, r.P_PLACE, r.P_NOTICE}.join(" / ");
}

// Message boxes as the user meets them, each as "prompt [title] icon buttons default".
QStringList boxes(const QList<platform::MessageRequest>& shown)
{
    QStringList result;
    for (const auto& m : shown)
        result << QStringLiteral("%1 [%2] %3 %4 %5").arg(m.prompt, m.title).arg(int(m.icon)).arg(int(m.buttons))
                      .arg(int(m.defaultButton));
    return result;
}

// The window over a test folder holding the given rows, prepared and, unless that closed it,
// shown as exec() would, so that keys reach the focused control.
struct Opened {
    testing::TestEnv env;
    state::Module1 module;
    LISTEN_FRM dialog{module};
    bool prepared = false;
    bool active = false;

    explicit Opened(const QStringList& rows, const QString& setup = {})
    {
        env.exec(setup);
        for (const QString& row : rows)
            env.insert(parse(row));
        module.SEC_DB = platform::Database::open(env.dbPath());
        module.TODAY_STR = kToday;
        prepared = dialog.prepare();
        if (prepared)
            dialog.show();
        active = prepared && QTest::qWaitForWindowActive(&dialog);
    }
    template <class W> W* get(const char* name) const { return dialog.findChild<W*>(QString::fromLatin1(name)); }
    QListWidget* list() const { return get<QListWidget>("DETAIL_LST"); }
    int selected() const
    {
        const auto items = list()->selectedItems();
        return items.isEmpty() ? -1 : list()->row(items.first());
    }
    // The selected line and the frame's labels, each marked when its label is not sized to it.
    QString shown() const
    {
        QStringList parts{list()->item(selected())->text()};
        for (const char* name : {"TIME_LABEL", "IMPO_LABEL", "PLACE_LABEL", "NOTICE_LABEL"}) {
            const QLabel* l = get<QLabel>(name);
            parts << l->text() + (l->size() == l->sizeHint() ? "" : " (clipped)");
        }
        return parts.join(" / ");
    }
    void key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) const
    {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(key), modifiers);
    }
};

} // namespace

class TestTodayList : public QObject {
    Q_OBJECT
private slots:
    // The window as a user drives it. Each line of today shows its own appointment, reached by
    // click or arrow key. Delete in the list removes the picked one and its exact twins, reloads
    // and selects the first line; the last one gone, the window closes. OK takes Return; it is
    // neither the default nor the cancel button, and Delete acts in the list only. Subjects with
    // quotes are deleted as themselves with the hostile inputs.
    void browseAndDelete_data()
    {
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<int>("pick");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<MsgAnswer>("answer");
        QTest::addColumn<QString>("setup");
        QTest::addColumn<int>("removed");
        const QStringList five{T + "08|00|朝礼|0|本社|資料", T + "09|30|会議|1||", T + "11|00|来客|2|応接室|",
                               T + "13|15|外出|5||直帰", T + "17|45|報告|-1|自席|"};
        const QStringList twins{T + "10|00| 会議", T + "10|00| 会議", T + "10|00|会議", T + "11|00| 会議",
                                "2000/04/16|10|00| 会議", "2001/04/15|10|00| 会議"};
        QStringList many;
        for (int i = 0; i < 12; ++i)
            many << T + QStringLiteral("%1|15|件%2|%3|室%2|").arg(i + 8, 2, 10, QLatin1Char('0')).arg(i).arg(i % 3);
        const QString refused = "CREATE TRIGGER t BEFORE DELETE ON PLAN_DAT BEGIN SELECT RAISE(ABORT, '拒否'); END;";
        const int allModifiers = int(Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
        QTest::newRow("third of five") << five << 2 << 0 << MsgAnswer::Yes << "" << 1;
        QTest::newRow("No changes nothing") << five << 2 << 0 << MsgAnswer::No << "" << 0;
        QTest::newRow("ninth of twelve") << many << 8 << 0 << MsgAnswer::Yes << "" << 1;
        QTest::newRow("with modifiers") << five << 4 << allModifiers << MsgAnswer::Yes << "" << 1;
        QTest::newRow("same subject, two times")
            << QStringList{T + "09|30|会議|1||", T + "14|00|会議|2|B|メモ"} << 1 << 0 << MsgAnswer::Yes << "" << 1;
        QTest::newRow("identical twins go together") << twins << 0 << 0 << MsgAnswer::Yes << "" << 2;
        QTest::newRow("deletion refused") << five << 1 << 0 << MsgAnswer::Yes << refused << 0;
        QTest::newRow("the last one") << QStringList{T + "09|30|会議", "2000/04/14|09|30|会議"} << 0 << 0
                                      << MsgAnswer::Yes << "" << 1;
    }
    void browseAndDelete()
    {
        QFETCH(QStringList, rows);
        QFETCH(int, pick);
        QFETCH(int, modifiers);
        QFETCH(MsgAnswer, answer);
        QFETCH(QString, setup);
        QFETCH(int, removed);
        Opened w(rows, setup);
        QVERIFY(w.active);
        QCOMPARE(w.dialog.windowTitle(), "詳細確認");
        QCOMPARE(w.dialog.size(), QSize(501, 245));
        QCOMPARE(w.dialog.minimumSize(), w.dialog.maximumSize());
        QCOMPARE(w.get<QPushButton>("Command1")->text(), "OK");
        QVERIFY(w.get<QLabel>("IMPO_LABEL")->font().bold());
        QCOMPARE(w.get<QLabel>("IMPO_LABEL")->palette().color(QPalette::WindowText), QColor(128, 0, 0));
        QCOMPARE(QApplication::focusWidget(), w.get<QWidget>("Command1"));
        for (int key : {Qt::Key_Escape, Qt::Key_Delete, Qt::Key_Tab, Qt::Key_Enter, Qt::Key_Escape})
            w.key(key);
        QVERIFY(w.dialog.isVisible() && w.env.shown().isEmpty());
        QCOMPARE(QApplication::focusWidget(), w.list());
        QCOMPARE(w.selected(), 0);
        QStringList seen{w.shown()};
        for (int line = 1; line < w.list()->count(); ++line) {
            QListWidgetItem* item = w.list()->item(line);
            w.list()->scrollToItem(item);
            if (line % 2)
                QTest::mouseClick(w.list()->viewport(), Qt::LeftButton, {}, w.list()->visualItemRect(item).center());
            else
                w.key(Qt::Key_Down);
            QCOMPARE(w.selected(), line);
            seen << w.shown();
        }
        QList<store::PLAN_REC> today = w.env.rows(kTodayOnly);
        QCOMPARE(seen.size(), today.size());
        for (const auto& r : today)
            QVERIFY2(seen.contains(shownAs(r)), qPrintable(shownAs(r)));

        const QString target = shownAs(parse(rows[pick]));
        while (w.shown() != target && w.selected() > 0)
            w.key(Qt::Key_Up);
        const int line = w.selected();
        QCOMPARE(w.shown(), target);
        w.env.answer(answer);
        w.key(Qt::Key_Delete, Qt::KeyboardModifiers(modifiers));

        const QList<store::PLAN_REC> after = w.env.rows();
        QCOMPARE(after.size(), rows.size() - removed);
        for (const auto& r : after) // only the picked appointment and its exact twins may go
            QVERIFY(removed == 0 || r.P_DATE + '|' + shownAs(r) != rows[pick].left(11) + target);
        today = w.env.rows(kTodayOnly);
        QList<platform::MessageRequest> asked{
            {"この予定を削除しますか？", "削除確認", MsgIcon::Question, platform::MsgButtons::YesNo, MsgAnswer::Yes}};
        if (!setup.isEmpty())
            asked.append({"拒否", platform::programTitle()});
        else if (today.isEmpty())
            asked.append({kNoneLeft, "全予定ｸﾘｱ", MsgIcon::Exclamation});
        QCOMPARE(boxes(w.env.shown()), boxes(asked));
        QCOMPARE(w.dialog.isVisible(), !today.isEmpty());
        if (today.isEmpty())
            return;
        QCOMPARE(w.list()->count(), today.size());
        QCOMPARE(w.selected(), removed == 0 ? line : 0);
        QVERIFY2(removed ? seen.contains(w.shown()) && w.shown() != target : w.shown() == target, qPrintable(w.shown()));
        w.key(Qt::Key_Tab);
        w.key(Qt::Key_Return);
        QVERIFY(!w.dialog.isVisible());
    }

    // A load that fails keeps the window open with the lines read so far and nothing selected;
    // a day without appointments closes it before it is ever shown.
    void openingWithoutAList_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<int>("kept");
        QTest::addColumn<QString>("prompt");
        // Three rows 一, 二, 三 in a table without types or constraints, then one of them changed.
        const QString loose = QStringLiteral(
            "DROP TABLE PLAN_DAT; CREATE TABLE PLAN_DAT (P_DATE, P_HOUR, P_MIN, P_DETAIL, P_IMPORTANCE, P_PLACE, P_NOTICE);"
            "INSERT INTO PLAN_DAT VALUES ('2000/04/15','09','00','一',1,'',''),('2000/04/15','10','00','二',1,'',''),"
            "('2000/04/15','11','00','三',1,'',''); UPDATE PLAN_DAT SET ");
        const QString nullUse = QStringLiteral("Null の使い方が不正です。");
        QTest::newRow("NULL notice, third row") << loose + "P_NOTICE = NULL WHERE P_DETAIL = '三'" << 2 << nullUse;
        QTest::newRow("importance not a number")
            << loose + "P_IMPORTANCE = '高' WHERE P_DETAIL = '二'" << 1 << "型が一致しません。";
        QTest::newRow("32768 rows")
            << "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 32768) "
               "INSERT INTO PLAN_DAT SELECT '2000/04/15', '09', '00', 'x' || i, 1, '', '' FROM n;"
            << 0 << "オーバーフローしました。";
        QTest::newRow("no table") << "DROP TABLE PLAN_DAT;" << 0 << "no such table: PLAN_DAT";
        QTest::newRow("no rows today") << "INSERT INTO PLAN_DAT VALUES ('2000/04/14','09','30','昨日',1,'','');"
                                       << 0 << kNoneLeft;
    }
    void openingWithoutAList()
    {
        QFETCH(QString, setup);
        QFETCH(int, kept);
        QFETCH(QString, prompt);
        const bool closes = prompt == kNoneLeft;
        Opened w({}, setup);
        QCOMPARE(w.prepared, !closes);
        QCOMPARE(w.dialog.isVisible(), !closes);
        const platform::MessageRequest expected{prompt, closes ? QStringLiteral("全予定ｸﾘｱ") : platform::programTitle(),
                                                closes ? MsgIcon::Exclamation : MsgIcon::None};
        QCOMPARE(boxes(w.env.shown()), boxes({expected}));
        QCOMPARE(w.list()->count(), kept);
        QCOMPARE(w.selected(), -1);
        QCOMPARE(w.get<QLabel>("TIME_LABEL")->text(), QString());
    }

    // Opened from the main window, which shows the new count and enabling once it closes, by
    // itself or through the close box.
    void fromMainWindow_data()
    {
        QTest::addColumn<int>("appointments");
        QTest::addColumn<bool>("emptiedElsewhere");
        QTest::newRow("deleting the last") << 1 << false;
        QTest::newRow("deleting one of three") << 3 << false;
        QTest::newRow("emptied by another program") << 1 << true;
    }
    void fromMainWindow()
    {
        QFETCH(int, appointments);
        QFETCH(bool, emptiedElsewhere);
        testing::TestEnv env;
        for (int i = 0; i < appointments; ++i)
            env.insert(parse(T + QStringLiteral("1%1|00|件%1").arg(i)));
        state::Module1 module;
        MAIN_FRM main(module);
        main.startUp();
        main.show();
        auto* confirm = main.findChild<QAction*>(QStringLiteral("mnuConfirm"));
        QVERIFY(confirm->isEnabled());
        env.answer(MsgAnswer::Yes);
        if (emptiedElsewhere)
            env.exec(QStringLiteral("DELETE FROM PLAN_DAT"));
        else
            testing::onNextModal([](QWidget* modal) {
                QTest::keyClick(modal->findChild<QListWidget*>(), Qt::Key_Delete);
                if (modal->isVisible())
                    modal->close(); // the close box
            });
        main.mnuConfirm_Click();
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
        const int left = emptiedElsewhere ? 0 : appointments - 1;
        QCOMPARE(env.count(), left);
        QCOMPARE(main.findChild<QLabel*>(QStringLiteral("TELL_LABEL"))->text(),
                 left ? QStringLiteral("%1件の予定が入っています。").arg(left) : QStringLiteral("今日は予定がありません。"));
        QCOMPARE(confirm->isEnabled(), left > 0);
        QCOMPARE(env.prompts().contains(kNoneLeft), appointments == 1);
        main.close();
    }
};

QTEST_MAIN(TestTodayList)
#include "test_today_list.moc"
