// Another program holding sec.mdb: every command that needs the table fails within the busy
// timeout with the engine's own words, leaves the table and the window as they were, and works
// once the other program lets go. Two copies of the program saving in turn lose nothing.
#include "main_window/main_frm.h"
#include "plan_entry/plan_frm.h"
#include "platform/database.h"
#include "state/module1.h"
#include "support/test_env.h"
#include "today_list/listen_frm.h"

#include <QtTest>
#include <QtWidgets>

#include <sqlite3.h>

#include <functional>
#include <memory>
#include <optional>

using platform::MsgAnswer;
using testing::rec;
using testing::TestEnv;

namespace {

const QString kToday = QStringLiteral("2000/04/15");
// A hang shows as a call that does not come back; this bound only has to tell a few busy
// timeouts in a row from one.
constexpr qint64 kReturnsWithinMs = 10 * platform::Database::kBusyTimeoutMs;
int g_lockCases = 0, g_savesInTurn = 0;

QString locked() { return QString::fromUtf8(sqlite3_errstr(SQLITE_BUSY)); }
QString counted(int n) { return QStringLiteral("%1件の予定が入っています。").arg(n); }

QString show(const store::PLAN_REC& r)
{
    return QStringList({r.P_DATE, r.P_HOUR, r.P_MIN, r.P_DETAIL, QString::number(r.P_IMPORTANCE), r.P_PLACE, r.P_NOTICE})
        .join(QLatin1Char('|'));
}

QStringList table(const TestEnv& env)
{
    QStringList result;
    for (const auto& r : env.rows())
        result << show(r);
    return result;
}

// Another program in the middle of a write: it has begun a transaction and added a row of its
// own that it has not committed. An exclusive hold keeps readers out as well.
struct OtherProgram {
    sqlite3* db = nullptr;
    OtherProgram(const QString& path, bool exclusive)
    {
        sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
        exec(exclusive ? "BEGIN EXCLUSIVE" : "BEGIN IMMEDIATE");
        exec("INSERT INTO PLAN_DAT VALUES ('2000/04/15', '12', '00', 'uncommitted', 1, '', '')");
    }
    ~OtherProgram() { exec("ROLLBACK"), sqlite3_close(db); }
    void exec(const char* sql)
    {
        if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
            qFatal("%s: %s", sql, sqlite3_errmsg(db));
    }
};

using Started = testing::StartedMain;

// A window opened the way the main window opens it, on a connection of its own.
template <class Dialog> struct Opened {
    state::Module1 module;
    std::unique_ptr<Dialog> dialog;
    explicit Opened(const QString& dbPath)
    {
        module.SEC_DB = platform::Database::open(dbPath);
        module.TODAY_STR = kToday;
        dialog = std::make_unique<Dialog>(module);
        if (dialog->prepare())
            dialog->show();
    }
    template <class W = QLineEdit> W* get(const char* name) const { return dialog->template findChild<W*>(name); }
};

} // namespace

class TestReliabilityLocks : public QObject {
    Q_OBJECT
private slots:
    void cleanupTestCase()
    {
        qInfo("lock cases: %d commands under a hold, %d saves by two copies in turn", g_lockCases, g_savesInTurn);
    }

    // Each command meets the hold, then runs again once it is gone. The entry form, today's
    // list and (but for the start-up purge) the main window are open throughout.
    void commandUnderAnotherProgramsHold_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("exclusive");
        for (const char* command : {"start-up purge", "refresh", "save", "deletion", "purge on demand"}) {
            QTest::addRow("%s, immediate", command) << QString::fromUtf8(command) << false;
            QTest::addRow("%s, exclusive", command) << QString::fromUtf8(command) << true;
        }
    }
    void commandUnderAnotherProgramsHold()
    {
        QFETCH(QString, command);
        QFETCH(bool, exclusive);
        ++g_lockCases;
        const bool atStart = command == "start-up purge";
        // Reading is refused only by an exclusive hold; every write is refused by both.
        const bool refused = command != "refresh" || exclusive;
        const store::PLAN_REC yesterday = rec("2000/04/14", "18", "00", "昨日");
        TestEnv env;
        for (const auto& r : {rec(kToday, "09", "00", "会議", 0, "本社", "資料"), rec(kToday, "10", "30", "来客"),
                              rec("2000/04/16", "09", "00", "明日"), yesterday})
            env.insert(r);
        std::optional<Started> main;
        if (!atStart) {
            main.emplace();
            QCOMPARE(main->label("TELL_LABEL"), counted(2));
            // Entered after start-up, so that there is something to count and to purge.
            env.insert(rec(kToday, "11", "00", "追加"));
            env.insert(yesterday);
        }
        Opened<PLAN_FRM> form(env.dbPath());
        Opened<LISTEN_FRM> list(env.dbPath());
        auto* lines = list.get<QListWidget>("DETAIL_LST");
        lines->setCurrentRow(1);
        form.get<QComboBox>("HOUR_LST")->setCurrentIndex(13);
        form.get("DETAIL_TEXT")->insert("打合せ");
        form.get("PLACE_TEXT")->insert("会議室");
        form.get("NOTICE_TEXT")->insert("資料持参");
        // What the windows show: the count, the fields and the lines.
        auto seen = [&] {
            QStringList result{main ? main->label("TELL_LABEL") : QString()};
            for (const char* name : {"DETAIL_TEXT", "PLACE_TEXT", "NOTICE_TEXT"})
                result << form.get(name)->text();
            for (int i = 0; i < lines->count(); ++i)
                result << lines->item(i)->text();
            return result;
        };
        const QHash<QString, std::function<void()>> commands{
            {"start-up purge", [&] { main.emplace(); }},
            {"refresh", [&] { main->window.refresh(); }},
            {"save", [&] { QTest::mouseClick(form.get<QPushButton>("OK_BTN"), Qt::LeftButton); }},
            {"deletion", [&] { env.answer(MsgAnswer::Yes), QTest::keyClick(lines, Qt::Key_Delete); }},
            {"purge on demand", [&] { env.answer(MsgAnswer::Yes), main->window.mnuData_Click(); }},
        };
        auto told = [&env] {
            QStringList result;
            for (const auto& box : env.shown())
                if (box.buttons != platform::MsgButtons::YesNo)
                    result << box.prompt + (box.title == platform::programTitle() ? "" : " titled " + box.title);
            return result;
        };
        const QStringList tableBefore = table(env);
        QStringList window = seen();
        env.clearShown();
        {
            OtherProgram other(env.dbPath(), exclusive);
            QElapsedTimer timer;
            timer.start();
            commands[command]();
            QVERIFY2(timer.elapsed() < kReturnsWithinMs, qPrintable(QString::number(timer.elapsed())));
        }

        // The user was told the engine's words for each refused statement and nothing else;
        // nothing of the table changed, and the windows still show what they showed. At start
        // the purge and then the first count are refused; a refused count leaves the caption
        // the window was designed with.
        QCOMPARE(told(), QStringList(atStart ? 1 + (exclusive) : refused, locked()));
        QCOMPARE(table(env), tableBefore);
        if (atStart || !refused)
            window[0] = counted(atStart && !exclusive ? 2 : 3);
        QCOMPARE(seen(), window);
        QCOMPARE(lines->currentRow(), 1);
        QVERIFY(form.dialog->isVisible() && list.dialog->isVisible());

        // The same command once the other program has let go.
        env.clearShown();
        commands[command]();
        QCOMPARE(told(), command == "purge on demand" ? QStringList{"削除されました"} : QStringList{});
        QStringList expected = tableBefore;
        window[0] = counted(command == "refresh" ? 3 : 2);
        if (command.contains("purge")) {
            expected.removeAll(show(yesterday));
        } else if (command == "save") {
            expected << show(rec(kToday, "13", "00", "打合せ", 1, "会議室", "資料持参"));
            window[1] = window[2] = window[3] = QString();
        } else if (command == "deletion") {
            expected.removeAll(show(rec(kToday, "10", "30", "来客")));
            window.removeAll("来客");
        }
        QCOMPARE(table(env), expected);
        QCOMPARE(seen(), window);
    }

    // Two copies of the program, each with its own connection and its own entry form, save in
    // turn: each sees what the other stored, each other's twins are refused, and every
    // appointment of both stays.
    void twoProgramsSavingInTurn()
    {
        QStringList saves; // "copy|subject|hour|minute|stored or refused"
        for (int i = 0; i < 12; ++i)
            saves << QStringLiteral("%1|予定%2|%3|%4|stored").arg(i % 2 ? "B" : "A").arg(i).arg(8 + i / 4, 2, 10,
                         QLatin1Char('0')).arg((i % 4) * 15, 2, 10, QLatin1Char('0'));
        saves << QStringList{"A|会議|09|00|stored", "B|会議|09|00|refused", "B|会議|09|15|stored", "A|会議|09|15|refused",
                             "A|来客|09|00|stored", "B|来客|10|00|stored",  "B|来客|09|00|refused", "A|it's|09|00|stored",
                             "B|it's|09|00|refused"};
        TestEnv env;
        env.insert(rec(kToday, "07", "00", "朝礼"));
        Opened<PLAN_FRM> a(env.dbPath());
        Opened<PLAN_FRM> b(env.dbPath());
        QStringList expected = table(env);
        for (const QString& save : saves) {
            const QStringList f = save.split(QLatin1Char('|'));
            Opened<PLAN_FRM>& form = f[0] == "A" ? a : b;
            ++g_savesInTurn;
            env.clearShown();
            form.get<QComboBox>("HOUR_LST")->setCurrentText(f[2]);
            form.get<QComboBox>("MIN_LST")->setCurrentText(f[3]);
            form.get("DETAIL_TEXT")->setText(f[1]);
            form.get("PLACE_TEXT")->setText(f[0]);
            QTest::mouseClick(form.get<QPushButton>("OK_BTN"), Qt::LeftButton);
            if (f[4] == "stored")
                expected << show(rec(kToday, f[2], f[3], f[1], 1, f[0]));
            QCOMPARE(env.prompts(), f[4] == "stored" ? QStringList{} : QStringList{"同じ用件が存在します。"});
            QCOMPARE(table(env), expected);
        }
    }
};

QTEST_MAIN(TestReliabilityLocks)
#include "test_reliability_locks.moc"
