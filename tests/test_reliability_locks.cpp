// Another program holding sec.mdb: every command that needs the table fails within the busy
// timeout with the Japanese description of a lock, leaves the table and the windows as they
// were, and works once the other program lets go.
#include "plan_entry/plan_frm.h"
#include "support/test_env.h"
#include "today_list/listen_frm.h"

#include <QtTest>
#include <QtWidgets>

#include <sqlite3.h>

#include <optional>

using platform::MsgAnswer;
using testing::rec;
using testing::TestEnv;

namespace {
const QString kLocked = QStringLiteral("データベースがほかのプログラムに使われています（ロック中）。しばらくしてからやり直してください。");

// Another program in the middle of a write, holding the file exclusively: readers are kept out
// as well as writers, so every command meets it.
struct OtherProgram {
    sqlite3* db = nullptr;
    explicit OtherProgram(const QString& path)
    {
        sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
        sqlite3_exec(db, "BEGIN EXCLUSIVE; INSERT INTO PLAN_DAT VALUES ('2000/04/15','12','00','他',1,'','')",
                     nullptr, nullptr, nullptr);
    }
    ~OtherProgram() { sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr), sqlite3_close(db); }
};

// A window opened as the main window opens it, on a connection of its own.
template <class Dialog> struct Opened {
    state::Module1 module;
    std::unique_ptr<Dialog> dialog;
    explicit Opened(const QString& dbPath)
    {
        module.SEC_DB = platform::Database::open(dbPath);
        module.TODAY_STR = "2000/04/15";
        dialog = std::make_unique<Dialog>(module);
        dialog->prepare();
        dialog->show();
    }
};
} // namespace

class TestReliabilityLocks : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty()); }

    void underAHold_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("refusals");
        QTest::addColumn<QStringList>("after"); // the table once the command ran again, hold gone
        const QString past = "2000/04/14|18|00|昨日|1||", meeting = "2000/04/15|09|00|会議|1||",
                      guest = "2000/04/15|10|30|来客|1||", added = "2000/04/15|00|00|打合せ|1||";
        QTest::newRow("start-up purge and count") << "start" << 2 << QStringList{meeting, guest};
        QTest::newRow("save") << "save" << 1 << QStringList{meeting, guest, past, added};
        QTest::newRow("deletion") << "delete" << 1 << QStringList{guest, past};
        QTest::newRow("purge on demand") << "purge" << 1 << QStringList{meeting, guest};
    }
    void underAHold()
    {
        QFETCH(QString, command);
        QFETCH(int, refusals);
        QFETCH(QStringList, after);
        TestEnv env;
        env.insert(rec("2000/04/15", "09", "00", "会議"));
        env.insert(rec("2000/04/15", "10", "30", "来客"));
        std::optional<testing::StartedMain> main;
        if (command != "start")
            main.emplace();
        env.insert(rec("2000/04/14", "18", "00", "昨日")); // entered after start-up, to be purged
        Opened<PLAN_FRM> form(env.dbPath());
        Opened<LISTEN_FRM> list(env.dbPath());
        form.dialog->findChild<QLineEdit*>("DETAIL_TEXT")->setText("打合せ");
        const QHash<QString, std::function<void()>> commands{
            {"start", [&] { main.emplace(); }},
            {"save", [&] { form.dialog->findChild<QPushButton*>("OK_BTN")->click(); }},
            {"delete", [&] { env.answer(MsgAnswer::Yes), QTest::keyClick(list.dialog->findChild<QListWidget*>(), Qt::Key_Delete); }},
            {"purge", [&] { env.answer(MsgAnswer::Yes), main->action("mnuData")->trigger(); }},
        };
        const QStringList before = env.table();
        env.clearShown();
        {
            OtherProgram other(env.dbPath());
            commands[command]();
        }
        QStringList told = env.told();
        told.removeAll(testing::box("この予定を削除しますか？", "削除確認", platform::MsgIcon::Question, platform::MsgButtons::YesNo));
        told.removeAll(testing::box("昨日以前のデータを削除しますか？", "ﾃﾞｰﾀﾒﾝﾃﾅﾝｽ", platform::MsgIcon::Question,
                                    platform::MsgButtons::YesNo));
        QCOMPARE(told, QStringList(refusals, kLocked));
        QCOMPARE(env.table(), before);
        QCOMPARE(form.dialog->findChild<QLineEdit*>("DETAIL_TEXT")->text(), "打合せ");
        QCOMPARE(list.dialog->findChild<QListWidget*>()->count(), 2);

        commands[command]();
        QCOMPARE(env.table(), after);
    }
};

QTEST_MAIN(TestReliabilityLocks)
#include "test_reliability_locks.moc"
