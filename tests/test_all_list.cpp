// The list of every appointment as the user meets it: order and columns, the search, a change
// in the entry form, the Delete key, and the main window once it closes.
#include "all_list/all_list_window.h"
#include "support/test_env.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>

using platform::MsgAnswer;

namespace {

const QString kValues = QStringLiteral("INSERT INTO PLAN_DAT (P_DATE, P_HOUR, P_MIN, P_DETAIL, P_IMPORTANCE, P_PLACE, P_NOTICE) VALUES ");

// The table as the user sees it: the headers of the given columns, each row's cells joined by "|"
// (the selected row starting with ">", a greyed one with "*"), and the count below.
QStringList shown(const QWidget* window, const QList<int>& columns = {0, 1, 2, 3, 4, 5})
{
    const auto* table = window->findChild<QTableView*>("allListTable");
    const auto* count = window->findChild<QLabel*>("countLabel");
    if (!table || !count)
        return {"no allListTable or countLabel"};
    QStringList result;
    for (int row = -1; row < table->model()->rowCount(); ++row) { // -1: the headers
        QStringList cells;
        for (int column : columns)
            cells << (row < 0 ? table->model()->headerData(column, Qt::Horizontal) : table->model()->index(row, column).data())
                         .toString();
        result << QString(table->selectionModel()->isRowSelected(row) ? ">" : "")
                      + (table->model()->index(row, 0).data(Qt::ForegroundRole).isValid() ? "*" : "") + cells.join('|');
    }
    return result << count->text();
}

// The window over a test folder whose table the given statements fill, opened as the main window
// opens it, but without the main window's start, which would purge the past days.
struct Opened {
    testing::TestEnv env;
    state::Module1 module;
    std::unique_ptr<AllListWindow> window;

    explicit Opened(const QString& fill)
    {
        env.exec(fill);
        module.SEC_DB = platform::Database::open(env.dbPath());
        module.TODAY_STR = QStringLiteral("2000/04/15");
        QVERIFY((window = std::make_unique<AllListWindow>(module))->prepare());
        window->show();
    }
};

} // namespace

class TestAllList : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty()); }

    // Every row, past days greyed, in the order of date, time and subject, the weekday counted
    // from the date, the first selected; the size the user gave the window comes back next time.
    void orderAndColumns()
    {
        Opened w(kValues + "('2000/04/16','09','00','会議',0,'本社','資料'), ('2000/04/15','10','00','朝礼',1,'',''),"
                           "('1999/12/31','23','45','大晦日',2,'',''), ('2000/04/15','09','30','来客',5,'応接室',''),"
                           "('2000/04/15','09','30','会議',1,'',''), ('2001/01/01','00','00','元日',0,'',''),"
                           "('2000/04/14','18','00','懇親会',1,'','')");
        QCOMPARE(w.window->windowTitle(), "予定一覧");
        QCOMPARE(shown(w.window.get()), QStringList({"日付|時刻|重要度|用件|場所|備考", ">*1999/12/31(金)|23時45分|!|大晦日||",
                                                     "*2000/04/14(金)|18時00分|!!|懇親会||", "2000/04/15(土)|09時30分|!!|会議||",
                                                     "2000/04/15(土)|09時30分|!|来客|応接室|", "2000/04/15(土)|10時00分|!!|朝礼||",
                                                     "2000/04/16(日)|09時00分|!!!|会議|本社|資料", "2001/01/01(月)|00時00分|!!!|元日||",
                                                     "7件"}));
        QCOMPARE(w.window->size(), QSize(760, 480));
        w.window->resize(800, 500);
        w.window->close();
        QCOMPARE(AllListWindow(w.module).size(), QSize(800, 500));
    }

    // As the user types, the rows whose subject, place or notice hold the text, Latin letters in
    // either case, pattern characters and quotes as themselves. Pages read where the view jumps
    // to (as a dragged scroll bar makes it) and then in turn give each row once in order, twins
    // by identity: in the whole table, along the index for dense matches, by passes for sparse.
    void search_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("found");
        QTest::newRow("whole table") << "" << "3008件";
        QTest::newRow("dense") << "p1" << "1500件";
        QTest::newRow("sparse") << "x1" << "555件";
        QTest::newRow("Japanese, subject and notice") << "会議" << "2件";
        QTest::newRow("percent") << "100%" << "1件";
        QTest::newRow("underscore") << "A_B" << "1件";
        QTest::newRow("quote") << "'s" << "1件";
        QTest::newRow("case, place, blanks around") << "　abc " << "1件";
        QTest::newRow("nothing") << "ＸＹＺ" << "0件";
    }
    void search()
    {
        QFETCH(QString, typed);
        QFETCH(QString, found);
        Opened w("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000) INSERT INTO PLAN_DAT"
                 " (P_DATE, P_HOUR, P_MIN, P_DETAIL, P_IMPORTANCE, P_PLACE, P_NOTICE) SELECT '2000/04/15', printf('%02d', i % 12), '00', 'x' || (i % 700), 1, 'p' || (i % 2), '' FROM n;"
                 + kValues + "('2000/04/15','09','00','定例会議',1,'本社',''), ('2000/04/16','10','00','100% 達成',1,'',''),"
                 "('2000/04/17','11','00','A_B 打合せ',1,'',''), ('2000/04/18','12','00','it''s mine',1,'',''),"
                 "('2000/04/19','13','00','Meeting',1,'ABC商事',''), ('2000/04/20','14','00','100 達成',1,'','会議室'),"
                 "('2000/04/21','15','00','AxB',1,'',''), ('2000/04/22','16','00','its',1,'','')");
        QList<store::PLAN_REC> rows = w.env.rows(); // in the order of their ids
        std::ranges::stable_sort(rows, {}, [](const auto& r) { return std::tuple(r.P_DATE, r.P_HOUR, r.P_DETAIL); });
        QStringList lines;
        for (const auto& r : rows)
            lines << r.P_DETAIL + '|' + r.P_PLACE + '|' + r.P_NOTICE;
        const QStringList expected = QStringList{"用件|場所|備考"} + lines.filter(typed.trimmed(), Qt::CaseInsensitive) << found;
        CHILD(field, QLineEdit, w.window, "searchField");
        CHILD(table, QTableView, w.window, "allListTable");
        for (const QChar c : typed) // typed as key strokes; QTest::keyClicks types Latin-1 only
            QTest::sendKeyEvent(QTest::Click, field, Qt::Key_unknown, QString(c), Qt::NoModifier);
        QTRY_COMPARE(table->model()->rowCount(), expected.size() - 2);
        for (qsizetype row : {expected.size() - 3, expected.size() * 2 / 3, expected.size() / 3})
            table->model()->index(int(row), 3).data();
        QCOMPARE(shown(w.window.get(), {3, 4, 5}).replaceInStrings(">", ""), expected);
    }

    // Ctrl+L in the main window opens the list, the focus in the search field. Keys pick a row,
    // typed characters do not; Delete asks as today's list does
    // and deletes that row alone, even beside its twin, or tells why it could not; Enter opens
    // the entry form on the row, whose saving replaces that row alone, found by its identity,
    // after the checks of a new appointment: a row is a duplicate of its twin, not of itself, and
    // a refused change keeps the table. The list shows the row selected where it now stands, and
    // once the list closes the main window counts today's rows again.
    void editing_data()
    {
        QTest::addColumn<QString>("keys");
        QTest::addColumn<MsgAnswer>("answer");
        QTest::addColumn<QString>("typed"); // subject|what another program does while the form is open
        QTest::addColumn<QStringList>("after"); // the form's caption, the list, the boxes, the main window's count
        const QStringList head{"searchField", "予定変更|変更", "用件|場所"};
        const QString asked = "この予定を削除しますか？ [削除確認, icon 1, yes/no]";
        const QString four = "4件の予定が入っています。", three = "3件の予定が入っています。";
        QTest::newRow("deletion declined, a twin changed") << "Down, Del, Return" << MsgAnswer::No << "打合せ"
            << head + QStringList{" 会議|A", "会議|B", ">打合せ|A", "来客|", "4件", asked, four};
        QTest::newRow("deletion refused, the row saved beside its twin") << "Down, Down, Del, Return" << MsgAnswer::Yes << "会議"
            << head + QStringList{" 会議|A", "会議|A", ">会議|B", "来客|", "4件", asked, "拒否",
                                  "同じ用件が存在します。 [ﾃﾞｰﾀ重複ｴﾗｰ, icon 2]", four};
        QTest::newRow("twin deleted, the next saved as it was") << "Down, Del, Return" << MsgAnswer::Yes << "会議"
            << head + QStringList{" 会議|A", ">会議|B", "来客|", "3件", asked, three};
        QTest::newRow("empty subject") << "Ctrl+End, Return" << MsgAnswer::Yes << "　 "
            << head + QStringList{" 会議|A", "会議|A", "会議|B", ">来客|", "4件", "用件を入力して下さい。 [入力ｴﾗｰ, icon 2]", four};
        QTest::newRow("deleted meanwhile") << "Ctrl+End, Return" << MsgAnswer::Yes << "来客|DELETE FROM PLAN_DAT WHERE P_DETAIL = '来客'"
            << head + QStringList{" 会議|A", "会議|A", ">会議|B", "3件",
                                  "この予定はほかのプログラムで削除されたため、変更できません。 [ミルドカ, icon 2]", three};
        QTest::newRow("changed meanwhile, kept") << "Ctrl+End, Return" << MsgAnswer::Yes
            << "来訪|UPDATE PLAN_DAT SET P_PLACE = '別室' WHERE P_DETAIL = '来客'"
            << head + QStringList{" 会議|A", "会議|A", "会議|B", ">来客|別室", "4件",
                                  "この予定はほかのプログラムで変更されたため、変更できません。予定を開き直してください。 [ミルドカ, icon 2]", four};
    }
    void editing()
    {
        QFETCH(QString, keys);
        QFETCH(MsgAnswer, answer);
        QFETCH(QString, typed);
        QFETCH(QStringList, after);
        testing::TestEnv env;
        // Two rows alike but for a blank, a third alike but for its place; another program's
        // trigger keeps the row of place B from being deleted.
        env.exec(kValues + "('2000/04/15','10','00',' 会議',1,'A',''), ('2000/04/15','10','00','会議',1,'A',''),"
                           "('2000/04/15','10','00','会議',1,'B',''), ('2000/04/15','11','00','来客',1,'','');"
                           "CREATE TRIGGER t BEFORE DELETE ON PLAN_DAT WHEN old.P_PLACE = 'B' BEGIN SELECT RAISE(ABORT, '拒否'); END;");
        testing::StartedMain main;
        QVERIFY(QTest::qWaitForWindowActive(&main.window));
        QAction* action = main.action("actionAllList");
        QCOMPARE(action ? action->text() : "no actionAllList", "予定一覧(&L)");
        env.answer(answer);
        QStringList listed;
        testing::onNextModal([&](QWidget* list) {
            testing::onNextModal([&](QWidget* form) {
                [&] {
                    CHILD(detail, QLineEdit, form, "DETAIL_TEXT");
                    CHILD(ok, QPushButton, form, "OK_BTN");
                    listed << form->windowTitle() + '|' + ok->text();
                    env.exec(typed.section('|', 1));
                    detail->setText(typed.section('|', 0, 0));
                    ok->click();
                }();
                form->hide(); // ends a refused change without the question closing would ask
            });
            CHILD(table, QTableView, list, "allListTable");
            listed << list->focusWidget()->objectName();
            QTest::keyClick(table, Qt::Key_2); // no type-ahead: it would move on to the next row
            QTest::keySequence(table, QKeySequence(keys));
            listed += shown(list, {3, 4});
            list->close();
        });
        QTest::keyClick(&main.window, Qt::Key_L, Qt::ControlModifier);
        QCOMPARE(listed + env.told() << main.label("TELL_LABEL"), after);
        // Every question here, as today's list's, has Yes as its default.
        QVERIFY(std::ranges::all_of(env.shown(), [](const auto& m) { return m.defaultButton != MsgAnswer::No; }));
    }
};

QTEST_MAIN(TestAllList)
#include "test_all_list.moc"
