// The list of every appointment as the user meets it: order and columns, the search, a change
// in the entry form, the Delete key, and the main window once it closes.
#include "all_list/all_list_window.h"
#include "store/search_index.h"
#include "support/test_env.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTimer>

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

    explicit Opened(const QString& fill, bool readOnly = false)
    {
        env.exec(fill);
        QFile::setPermissions(env.dbPath(), readOnly ? QFile::ReadOwner : QFile::ReadOwner | QFile::WriteOwner);
        module.SEC_DB = platform::Database::open(env.dbPath());
        // As the main window's start makes it; a read-only file without one searches without it.
        QCOMPARE(store::ensureSearchIndex(module.db()), !readOnly);
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

    // Full- and half-width forms and either case find each other, through the index and, on a
    // read-only file that has none, by a pass over the table; the shortest texts always pass over
    // it. Quotes, "%" and "*" are themselves, never syntax.
    void foldedSearch_data()
    {
        QTest::addColumn<bool>("readOnly");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("found");
        const std::pair<QString, QStringList> cases[] = {
            {"Ａ社", {"A社訪問"}}, {"ａ社訪問", {"A社訪問"}}, {"第２", {"第2会議室"}}, {"第２会議", {"第2会議室"}},
            {"ｸﾘﾆｯｸ", {"クリニック受診"}}, {"ünïcödé", {"ÜNÏCÖDÉ 勉強会"}}, {"データ", {"ﾃﾞｰﾀ整理"}},
            {"0%", {"100% 達成"}}, {"100%", {"100% 達成"}}, {"\"hi\"", {"say \"hi\""}}, {"a*b", {"a*b"}},
            {"*", {"a*b"}}, {"ＸＹＺ", {}}};
        for (const bool readOnly : {false, true})
            for (const auto& [typed, found] : cases)
                QTest::addRow("%s%s", readOnly ? "read-only " : "", qPrintable(typed)) << readOnly << typed << found;
    }
    void foldedSearch()
    {
        QFETCH(bool, readOnly);
        QFETCH(QString, typed);
        QFETCH(QStringList, found);
        const QStringList subjects{"A社訪問", "第2会議室", "クリニック受診", "ÜNÏCÖDÉ 勉強会", "ﾃﾞｰﾀ整理", "100% 達成",
                                   "100 達成", "say \"hi\"", "a*b", "axb", "ab"};
        Opened w(kValues + "('2000/04/15','10','00','" + subjects.join("',1,'',''), ('2000/04/15','10','00','") + "',1,'','')",
                 readOnly);
        CHILD(field, QLineEdit, w.window, "searchField");
        field->setText(typed);
        QTest::keyClick(field, Qt::Key_Return);
        QCOMPARE(shown(w.window.get(), {3}).replaceInStrings(">", ""),
                 QStringList{"用件"} + found << QString::number(found.size()) + "件");
    }

    // Whoever adds, changes or deletes rows, the index finds what the table holds at the next
    // search; a PLAN_DAT made anew or an index emptied behind its back is built again.
    void indexInStep_data()
    {
        QTest::addColumn<QString>("change"); // what another program does to the table
        QTest::addColumn<bool>("atStart");   // looked at as the program's start does, not a search
        QTest::addColumn<QStringList>("found"); // the subjects the index finds for 会議室
        QTest::newRow("insert") << kValues + "('2000/04/16','10','00','第３会議室',1,'','')" << false << QStringList{"来客", "第1会議室", "第３会議室"};
        QTest::newRow("change") << "UPDATE PLAN_DAT SET P_NOTICE = '小会議室' WHERE P_DETAIL = '外出';"
                                   " UPDATE PLAN_DAT SET P_PLACE = '' WHERE P_DETAIL = '来客'"
                                << false << QStringList{"外出", "第1会議室"};
        QTest::newRow("delete, purge") << "DELETE FROM PLAN_DAT WHERE P_DATE < '2000/04/15' OR P_DETAIL = '外出'" << false << QStringList{"来客"};
        QTest::newRow("rowid reused") << "DELETE FROM PLAN_DAT WHERE P_DETAIL = '外出';" + kValues + "('2000/04/15','12','00','会議室予約',1,'','')"
                                      << false << QStringList{"会議室予約", "来客", "第1会議室"};
        QTest::newRow("PLAN_DAT made anew") << "CREATE TABLE NEW_DAT AS SELECT * FROM PLAN_DAT; DROP TABLE PLAN_DAT;"
                                               " ALTER TABLE NEW_DAT RENAME TO PLAN_DAT; DELETE FROM PLAN_DAT WHERE P_DETAIL = '来客'"
                                            << false << QStringList{"第1会議室"};
        QTest::newRow("index emptied") << "DELETE FROM PLAN_SEARCH" << true << QStringList{"来客", "第1会議室"};
    }
    void indexInStep()
    {
        QFETCH(QString, change);
        QFETCH(bool, atStart);
        QFETCH(QStringList, found);
        testing::TestEnv env;
        env.exec(kValues + "('2000/04/14','09','00','第1会議室',1,'',''), ('2000/04/15','10','00','来客',1,'大会議室',''),"
                           "('2000/04/15','11','00','外出',1,'','')");
        const auto db = platform::Database::open(env.dbPath());
        QVERIFY(store::ensureSearchIndex(*db));
        env.exec(change);
        QVERIFY((atStart ? store::ensureSearchIndex : store::catchUpSearchIndex)(*db));
        QStringList subjects;
        for (const auto& row : db->query("SELECT d.P_DETAIL FROM PLAN_SEARCH s JOIN PLAN_DAT d ON d.rowid = s.rowid"
                                         " WHERE PLAN_SEARCH MATCH ? ORDER BY 1", {store::searchPhrase("会議室")}))
            subjects << row.front().toString();
        QCOMPARE(subjects, found);
    }

    // Change and delete as buttons and in the table's context menu act on the selected row (the
    // entry form opens on it, or it is deleted); with no row to act on, neither can be chosen.
    void commands_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("slot");
        QTest::addColumn<QStringList>("after"); // the form that opened, the list, the boxes
        const QStringList changed{"予定変更|来客", "用件", "会議", ">来客", "2件"};
        const QStringList deleted{"", "用件", ">会議", "1件", "この予定を削除しますか？ [削除確認, icon 1, yes/no]"};
        QTest::newRow("change button") << "changeButton" << "click" << changed;
        QTest::newRow("change in the menu") << "changeAction" << "trigger" << changed;
        QTest::newRow("delete button") << "deleteButton" << "click" << deleted;
        QTest::newRow("delete in the menu") << "deleteAction" << "trigger" << deleted;
    }
    void commands()
    {
        QFETCH(QString, control);
        QFETCH(QString, slot);
        QFETCH(QStringList, after);
        Opened w(kValues + "('2000/04/15','10','00','会議',1,'',''), ('2000/04/15','11','00','来客',1,'','')");
        CHILD(table, QTableView, w.window, "allListTable");
        CHILD(field, QLineEdit, w.window, "searchField");
        CHILD(command, QObject, w.window, qPrintable(control));
        QCOMPARE(table->actions().size() * (table->contextMenuPolicy() == Qt::ActionsContextMenu), 2);
        QTest::keyClick(table, Qt::Key_Down);
        w.env.answer(MsgAnswer::Yes);
        QString form;
        QTimer closer;
        connect(&closer, &QTimer::timeout, [&form] {
            QWidget* modal = QApplication::activeModalWidget();
            form = modal ? modal->windowTitle() + '|' + modal->findChild<QLineEdit*>("DETAIL_TEXT")->text() : form;
            QMetaObject::invokeMethod(modal, "hide");
        });
        closer.start(10);
        QVERIFY(QMetaObject::invokeMethod(command, slot.toLatin1().constData()));
        QCOMPARE(QStringList{form} + shown(w.window.get(), {3}) + w.env.told(), after);
        field->setText("ＸＹＺ");
        QTest::keyClick(field, Qt::Key_Return);
        QCOMPARE(command->property("enabled"), false);
    }

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
        // The marks are spoken as what they mean.
        auto* cells = QAccessible::queryAccessibleInterface(w.window->findChild<QTableView*>("allListTable"));
        QCOMPARE(cells->tableInterface()->cellAt(1, 2)->text(QAccessible::Name), "重要度 中");
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
            << head + QStringList{" 会議|A", "会議|A", ">会議|B", "来客|", "4件", asked, "拒否 [ミルドカ, icon 2]",
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
