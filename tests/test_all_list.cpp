// The list of every appointment as the user meets it: order and columns, the search, a change
// in the entry form, the Delete key, and the main window once it closes.
#include "all_list/all_list_window.h"
#include "support/test_env.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>

using platform::MsgAnswer;

namespace {

const QString kValues = QStringLiteral("INSERT INTO PLAN_DAT VALUES ");

// Each box as "prompt [title] icon buttons default".
QStringList boxes(const QList<platform::MessageRequest>& shown)
{
    QStringList result;
    for (const auto& m : shown)
        result << QStringLiteral("%1 [%2] %3 %4 %5").arg(m.prompt, m.title).arg(int(m.icon)).arg(int(m.buttons))
                      .arg(int(m.defaultButton));
    return result;
}

// The window over a test folder whose table the given statements fill, opened as the main window
// opens it.
struct Opened {
    testing::TestEnv env;
    state::Module1 module;
    std::unique_ptr<AllListWindow> window;

    explicit Opened(const QString& fill)
    {
        env.exec(fill);
        module.SEC_DB = platform::Database::open(env.dbPath());
        module.TODAY_STR = QStringLiteral("2000/04/15");
        window = std::make_unique<AllListWindow>(module);
        QVERIFY(window->prepare());
        window->show();
    }
    QTableView* table() const { return window->findChild<QTableView*>("allListTable"); }
    QString count() const { return window->findChild<QLabel*>("countLabel")->text(); }
    // The rows as shown, the given columns joined by "|"; the selected row starts with ">", a
    // greyed one with "*".
    QStringList shown(const QList<int>& columns = {0, 1, 2, 3, 4, 5}) const
    {
        QStringList result;
        const QAbstractItemModel* model = table()->model();
        for (int row = 0; row < model->rowCount(); ++row) {
            QStringList cells;
            for (int column : columns)
                cells << model->index(row, column).data().toString();
            result << QString(table()->selectionModel()->isRowSelected(row) ? ">" : "")
                          + (model->index(row, 0).data(Qt::ForegroundRole).isValid() ? "*" : "") + cells.join('|');
        }
        return result;
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
        QCOMPARE(w.window->size(), QSize(760, 480));
        QString headers = w.window->windowTitle();
        for (int c = 0; c < 6; ++c)
            headers += ' ' + w.table()->model()->headerData(c, Qt::Horizontal).toString();
        QCOMPARE(headers, "予定一覧 日付 時刻 重要度 用件 場所 備考");
        QCOMPARE(w.shown(), QStringList({">*1999/12/31(金)|23時45分|!|大晦日||", "*2000/04/14(金)|18時00分|!!|懇親会||",
                                         "2000/04/15(土)|09時30分|!!|会議||", "2000/04/15(土)|09時30分|!|来客|応接室|",
                                         "2000/04/15(土)|10時00分|!!|朝礼||", "2000/04/16(日)|09時00分|!!!|会議|本社|資料",
                                         "2001/01/01(月)|00時00分|!!!|元日||"}));
        w.window->resize(800, 500);
        w.window->close();
        AllListWindow again(w.module);
        QCOMPARE(again.size(), QSize(800, 500));
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
                 " SELECT '2000/04/15', printf('%02d', i % 12), '00', 'x' || (i % 700), 1, 'p' || (i % 2), '' FROM n;"
                 + kValues + "('2000/04/15','09','00','定例会議',1,'本社',''), ('2000/04/16','10','00','100% 達成',1,'',''),"
                 "('2000/04/17','11','00','A_B 打合せ',1,'',''), ('2000/04/18','12','00','it''s mine',1,'',''),"
                 "('2000/04/19','13','00','Meeting',1,'ABC商事',''), ('2000/04/20','14','00','100 達成',1,'','会議室'),"
                 "('2000/04/21','15','00','AxB',1,'',''), ('2000/04/22','16','00','its',1,'','')");
        QList<store::PLAN_REC> rows = w.env.rows(); // in the order of their ids
        std::ranges::stable_sort(rows, {}, [](const auto& r) { return std::tuple(r.P_DATE, r.P_HOUR, r.P_DETAIL); });
        rows.removeIf([&](const auto& r) {
            return !(r.P_DETAIL + '\n' + r.P_PLACE + '\n' + r.P_NOTICE).contains(typed.trimmed(), Qt::CaseInsensitive);
        });
        QStringList expected;
        for (const auto& r : rows)
            expected << (expected.isEmpty() ? ">" : "") + r.P_DETAIL + '|' + r.P_PLACE;
        QCOMPARE(QString::number(expected.size()) + "件", found);
        auto* field = w.window->findChild<QLineEdit*>("searchField");
        QVERIFY2(field, "searchField");
        for (const QChar c : typed) // typed as key strokes; QTest::keyClicks types Latin-1 only
            QTest::sendKeyEvent(QTest::Click, field, Qt::Key_unknown, QString(c), Qt::NoModifier);
        QTRY_COMPARE(w.count(), found);
        for (qsizetype row : {expected.size() - 1, expected.size() * 2 / 3, expected.size() / 3})
            w.table()->model()->index(int(row), 3).data();
        QCOMPARE(w.shown({3, 4}), expected);
        field->clear();
        QTRY_COMPARE(w.count(), "3008件");
    }

    // Enter on a row opens the entry form on it; saving replaces that row alone, found by its
    // identity, after the checks of a new appointment, and the list shows it selected where it
    // now stands. A refused change keeps the table; closing then asks before input is lost.
    void change_data()
    {
        QTest::addColumn<int>("pick");
        QTest::addColumn<QString>("typed"); // subject|hour
        QTest::addColumn<QString>("meanwhile"); // what another program does while the form is open
        QTest::addColumn<QStringList>("asked");
        QTest::addColumn<QStringList>("after");
        const QStringList kept{"10時00分| 会議|A", "10時00分|会議|B", ">11時00分|来客|"};
        const QString closing = "予定を登録せずに終了しますか？ [終了確認] 1 1 1";
        QTest::newRow("twin differing in blanks") << 1 << "会議|10" << "" << QStringList{}
                                                  << QStringList{"10時00分| 会議|A", ">10時00分|会議|C", "11時00分|来客|"};
        QTest::newRow("moved earlier") << 2 << "打合せ|09" << "" << QStringList{}
                                       << QStringList{">09時00分|打合せ|C", "10時00分| 会議|A", "10時00分|会議|B"};
        QTest::newRow("duplicate") << 2 << "会議 |10" << ""
                                   << QStringList{"同じ用件が存在します。 [ﾃﾞｰﾀ重複ｴﾗｰ] 2 0 0", closing} << kept;
        QTest::newRow("empty subject") << 2 << "　 |11" << ""
                                       << QStringList{"用件を入力して下さい。 [入力ｴﾗｰ] 2 0 0", closing} << kept;
        QTest::newRow("deleted meanwhile")
            << 2 << "来客|11" << "DELETE FROM PLAN_DAT WHERE P_DETAIL = '来客'"
            << QStringList{"この予定はほかのプログラムで削除されたため、変更できません。 [ミルドカ] 2 0 0", closing}
            << QStringList{"10時00分| 会議|A", ">10時00分|会議|B"};
    }
    void change()
    {
        QFETCH(int, pick);
        QFETCH(QString, typed);
        QFETCH(QString, meanwhile);
        QFETCH(QStringList, asked);
        QFETCH(QStringList, after);
        Opened w(kValues + "('2000/04/15','10','00',' 会議',1,'A',''), ('2000/04/15','10','00','会議',1,'B',''),"
                           "('2000/04/15','11','00','来客',1,'','')");
        QString opened;
        testing::onNextModal([&](QWidget* form) {
            auto* detail = form->findChild<QLineEdit*>("DETAIL_TEXT");
            auto* place = form->findChild<QLineEdit*>("PLACE_TEXT");
            auto* ok = form->findChild<QPushButton*>("OK_BTN");
            opened = QStringList({form->windowTitle(), ok->text(), detail->text(), place->text()}).join('|');
            w.env.exec(meanwhile);
            detail->setText(typed.section('|', 0, 0));
            place->setText("C");
            form->findChild<QComboBox*>("HOUR_LST")->setCurrentText(typed.section('|', 1));
            w.env.answer(MsgAnswer::Yes);
            ok->click();
            form->close(); // asks only when the form is still open
        });
        w.table()->selectRow(pick);
        QTest::keyClick(w.table(), Qt::Key_Return);
        QCOMPARE(opened, QStringList({"予定変更|変更| 会議|A", "予定変更|変更|会議|B", "予定変更|変更|来客|"})[pick]);
        QCOMPARE(boxes(w.env.shown()), asked);
        QCOMPARE(w.shown({1, 3, 4}), after);
    }

    // The Delete key asks as today's list does and deletes the picked row alone, even beside an
    // identical twin; a refused deletion is told and leaves the table.
    void deletion_data()
    {
        QTest::addColumn<MsgAnswer>("answer");
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QStringList>("asked");
        QTest::addColumn<QStringList>("after");
        const QString question = "この予定を削除しますか？ [削除確認] 1 1 1";
        const QStringList kept{"会議", ">会議", "来客"};
        QTest::newRow("yes") << MsgAnswer::Yes << "" << QStringList{question} << QStringList{"会議", ">来客"};
        QTest::newRow("no") << MsgAnswer::No << "" << QStringList{question} << kept;
        QTest::newRow("refused") << MsgAnswer::Yes
                                 << "CREATE TRIGGER t BEFORE DELETE ON PLAN_DAT BEGIN SELECT RAISE(ABORT, '拒否'); END;"
                                 << QStringList{question, "拒否 [ミルドカ] 0 0 0"} << kept;
    }
    void deletion()
    {
        QFETCH(MsgAnswer, answer);
        QFETCH(QString, setup);
        QFETCH(QStringList, asked);
        QFETCH(QStringList, after);
        Opened w(setup + kValues + "('2000/04/15','10','00','会議',1,'',''), ('2000/04/15','10','00','会議',1,'',''),"
                                   "('2000/04/16','10','00','来客',1,'','')");
        w.env.answer(answer);
        w.table()->selectRow(1);
        QTest::keyClick(w.table(), Qt::Key_Delete);
        QCOMPARE(boxes(w.env.shown()), asked);
        QCOMPARE(w.env.count(), after.size());
        QCOMPARE(w.shown({3}), after);
        QCOMPARE(w.count(), QString::number(after.size()) + "件");
    }

    // Ctrl+L in the main window opens the list; once it closes, the main window counts today's
    // rows again.
    void fromMainWindow()
    {
        testing::TestEnv env;
        env.exec(kValues + "('2000/04/15','10','00','会議',1,'','')");
        testing::StartedMain main;
        QVERIFY(QTest::qWaitForWindowActive(&main.window));
        QAction* action = main.action("actionAllList");
        QVERIFY2(action, "actionAllList");
        QCOMPARE(action->text(), "予定一覧(&L)");
        env.answer(MsgAnswer::Yes);
        testing::onNextModal([](QWidget* list) {
            QTest::keyClick(list->findChild<QTableView*>(), Qt::Key_Delete);
            list->close();
        });
        QTest::keyClick(&main.window, Qt::Key_L, Qt::ControlModifier);
        QCOMPARE(main.label("TELL_LABEL"), "今日は予定がありません。");
    }
};

QTEST_MAIN(TestAllList)
#include "test_all_list.moc"
