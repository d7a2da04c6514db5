// Another program holding sec.mdb: every command that needs the table fails within the busy
// timeout with the engine's own words, leaves the table and the window as they were, and works
// once the other program lets go. Two copies of the program saving in turn lose nothing.
#include "main_window/main_frm.h"
#include "plan_entry/plan_frm.h"
#include "platform/database.h"
#include "state/module1.h"
#include "support/test_env.h"
#include "today_list/listen_frm.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include <sqlite3.h>

#include <memory>

using platform::MsgAnswer;
using testing::rec;
using testing::TestEnv;

namespace {

const QString kToday = QStringLiteral("2000/04/15");
const QString kPurged = QStringLiteral("削除されました");
const QString kDuplicate = QStringLiteral("同じ用件が存在します。");

// A hang shows as a call that does not come back; this bound only has to tell a few busy
// timeouts in a row from one.
constexpr qint64 kReturnsWithinMs = 10 * platform::Database::kBusyTimeoutMs;

QString locked()
{
    return QString::fromUtf8(sqlite3_errstr(SQLITE_BUSY));
}

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

enum class Hold { Immediate, Exclusive };

// Another program in the middle of a write: it has begun a transaction and added a row of its
// own that it has not committed. An exclusive hold keeps readers out as well.
class OtherProgram {
public:
    OtherProgram(const QString& path, Hold hold)
    {
        if (sqlite3_open_v2(path.toUtf8().constData(), &m_db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
            qFatal("cannot open %s", qPrintable(path));
        exec(hold == Hold::Exclusive ? "BEGIN EXCLUSIVE" : "BEGIN IMMEDIATE");
        exec("INSERT INTO PLAN_DAT VALUES ('2000/04/15', '12', '00', 'uncommitted', 1, '', '')");
    }
    ~OtherProgram() { release(); }
    void release()
    {
        if (!m_db)
            return;
        exec("ROLLBACK");
        sqlite3_close(m_db);
        m_db = nullptr;
    }

private:
    void exec(const char* sql)
    {
        char* error = nullptr;
        if (sqlite3_exec(m_db, sql, nullptr, nullptr, &error) != SQLITE_OK)
            qFatal("%s: %s", sql, error);
    }
    sqlite3* m_db = nullptr;
};

// The main window as the program starts it.
struct Started {
    state::Module1 module;
    std::unique_ptr<MAIN_FRM> window;
    Started()
    {
        window = std::make_unique<MAIN_FRM>(module);
        window->startUp();
        window->show();
        window->refresh();
    }
    QString tell() const { return window->findChild<QLabel*>(QStringLiteral("TELL_LABEL"))->text(); }
};

// A window opened the way the main window opens it, on a connection of its own.
template <class Dialog> struct Opened {
    state::Module1 module;
    std::unique_ptr<Dialog> dialog;
    bool prepared = false;
    explicit Opened(const QString& dbPath)
    {
        module.SEC_DB = platform::Database::open(dbPath);
        module.TODAY_STR = kToday;
        dialog = std::make_unique<Dialog>(module);
        prepared = dialog->prepare();
        if (prepared)
            dialog->show();
    }
    template <class W> W* get(const char* name) const
    {
        W* widget = dialog->template findChild<W*>(QString::fromLatin1(name));
        if (!widget)
            qFatal("no control %s", name);
        return widget;
    }
};

// Text as the input method commits it into a field.
void type(QLineEdit* field, const QString& text)
{
    QInputMethodEvent event;
    event.setCommitString(text);
    QApplication::sendEvent(field, &event);
}

QStringList fields(const Opened<PLAN_FRM>& form)
{
    QStringList result;
    for (const char* name : {"DETAIL_TEXT", "PLACE_TEXT", "NOTICE_TEXT"})
        result << form.get<QLineEdit>(name)->text();
    return result;
}

QStringList lines(const Opened<LISTEN_FRM>& list)
{
    QStringList result;
    auto* widget = list.get<QListWidget>("DETAIL_LST");
    for (int i = 0; i < widget->count(); ++i)
        result << widget->item(i)->text();
    return result;
}

} // namespace

class TestReliabilityLocks : public QObject {
    Q_OBJECT
private slots:
    void cleanup()
    {
        for (QWidget* w : QApplication::topLevelWidgets())
            QVERIFY2(!w->isVisible(), qPrintable(w->objectName() + " left open"));
    }

    // Each command meets the hold, then runs again once it is gone. Reading is refused only by
    // an exclusive hold; every write is refused by both.
    void commandUnderAnotherProgramsHold_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<Hold>("hold");
        QTest::addColumn<bool>("reads");
        for (const auto& [command, reads] : {std::pair{"start-up purge", false}, {"refresh", true},
                                             {"save", false}, {"deletion", false}, {"purge on demand", false}}) {
            QTest::addRow("%s, immediate", command) << command << Hold::Immediate << reads;
            QTest::addRow("%s, exclusive", command) << command << Hold::Exclusive << reads;
        }
    }
    void commandUnderAnotherProgramsHold()
    {
        QFETCH(QString, command);
        QFETCH(Hold, hold);
        QFETCH(bool, reads);
        const bool refused = !reads || hold == Hold::Exclusive;
        TestEnv env;
        env.insert(rec("2000/04/15", "09", "00", "会議", 0, "本社", "資料"));
        env.insert(rec("2000/04/15", "10", "30", "来客"));
        env.insert(rec("2000/04/16", "09", "00", "明日"));

        // Set up what the command works on, before the other program takes hold.
        std::unique_ptr<Started> main;
        std::unique_ptr<Opened<PLAN_FRM>> form;
        std::unique_ptr<Opened<LISTEN_FRM>> list;
        if (command == "start-up purge") {
            env.insert(rec("2000/04/14", "18", "00", "昨日"));
        } else if (command == "refresh" || command == "purge on demand") {
            main = std::make_unique<Started>();
            QCOMPARE(main->tell(), QStringLiteral("2件の予定が入っています。"));
            // Entered after start-up, so that there is something to count and to purge.
            env.insert(rec("2000/04/15", "11", "00", "追加"));
            env.insert(rec("2000/04/14", "18", "00", "昨日"));
        } else if (command == "save") {
            form = std::make_unique<Opened<PLAN_FRM>>(env.dbPath());
            QVERIFY(form->prepared);
            form->get<QComboBox>("HOUR_LST")->setCurrentIndex(13);
            type(form->get<QLineEdit>("DETAIL_TEXT"), "打合せ");
            type(form->get<QLineEdit>("PLACE_TEXT"), "会議室");
            type(form->get<QLineEdit>("NOTICE_TEXT"), "資料持参");
        } else if (command == "deletion") {
            list = std::make_unique<Opened<LISTEN_FRM>>(env.dbPath());
            QVERIFY(list->prepared);
            QVERIFY(QTest::qWaitForWindowActive(list->dialog.get()));
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), list->get<QWidget>("DETAIL_LST"));
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
        }
        const QStringList tableBefore = table(env);
        const QStringList windowBefore = form ? fields(*form) : list ? lines(*list) : QStringList();
        const int selectedBefore = list ? list->get<QListWidget>("DETAIL_LST")->currentRow() : -1;
        const QString tellBefore = main ? main->tell() : QString();
        env.clearShown();

        // The command, as the user gives it.
        auto run = [&] {
            if (command == "start-up purge") {
                main = std::make_unique<Started>();
            } else if (command == "refresh") {
                main->window->refresh();
            } else if (command == "save") {
                QTest::mouseClick(form->get<QPushButton>("OK_BTN"), Qt::LeftButton);
            } else if (command == "deletion") {
                env.answer(MsgAnswer::Yes);
                QTest::keyClick(list->get<QWidget>("DETAIL_LST"), Qt::Key_Delete);
            } else {
                env.answer(MsgAnswer::Yes);
                main->window->mnuData_Click();
            }
        };

        auto other = std::make_unique<OtherProgram>(env.dbPath(), hold);
        QElapsedTimer timer;
        timer.start();
        run();
        QVERIFY2(timer.elapsed() < kReturnsWithinMs, qPrintable(QString::number(timer.elapsed())));
        other->release();

        // What the user was told: the engine's words for each refused statement, nothing else.
        QStringList failures;
        for (const auto& box : env.shown()) {
            if (box.buttons == platform::MsgButtons::YesNo)
                continue;
            failures << box.prompt;
            QCOMPARE(box.title, platform::programTitle());
        }
        QStringList expected;
        if (command == "start-up purge")
            expected << locked() << (hold == Hold::Exclusive ? QStringList{locked()} : QStringList{}); // purge, refresh
        else if (refused)
            expected << locked();
        QCOMPARE(failures, expected);

        // Nothing of the table changed, and the window still shows what it showed.
        QCOMPARE(table(env), tableBefore);
        if (form) {
            QCOMPARE(fields(*form), windowBefore);
            QVERIFY(form->dialog->isVisible());
        }
        if (list) {
            QCOMPARE(lines(*list), windowBefore);
            QCOMPARE(list->get<QListWidget>("DETAIL_LST")->currentRow(), selectedBefore);
            QVERIFY(list->dialog->isVisible());
        }
        if (command == "refresh")
            QCOMPARE(main->tell(), refused ? tellBefore : QStringLiteral("3件の予定が入っています。"));
        if (command == "start-up purge") {
            QCOMPARE(main->module.TODAY_STR, kToday);
            // A refused first count leaves the caption the window was designed with.
            QCOMPARE(main->tell(), hold == Hold::Exclusive ? QStringLiteral("3件の予定が入っています。")
                                                           : QStringLiteral("2件の予定が入っています。"));
        }

        // The same command once the other program has let go.
        env.clearShown();
        if (command == "start-up purge")
            main.reset();
        run();
        QStringList after;
        for (const auto& box : env.shown())
            if (box.buttons == platform::MsgButtons::Ok)
                after << box.prompt;
        QCOMPARE(after, command == "purge on demand" ? QStringList{kPurged} : QStringList{});
        if (command == "start-up purge" || command == "purge on demand") {
            QCOMPARE(env.count("P_DATE < '2000/04/15'"), 0);
            QCOMPARE(env.count(), tableBefore.size() - 1);
        } else if (command == "refresh") {
            QCOMPARE(main->tell(), QStringLiteral("3件の予定が入っています。"));
        } else if (command == "save") {
            const QList<store::PLAN_REC> saved = env.rows("P_DETAIL = '打合せ'");
            QCOMPARE(saved.size(), 1);
            QCOMPARE(show(saved.first()), show(rec(kToday, "13", "00", "打合せ", 1, "会議室", "資料持参")));
            QCOMPARE(fields(*form), QStringList({"", "", ""}));
        } else if (command == "deletion") {
            QCOMPARE(env.count(), tableBefore.size() - 1);
            QCOMPARE(lines(*list).size(), windowBefore.size() - 1);
            QVERIFY(!lines(*list).contains(windowBefore[selectedBefore]));
            QCOMPARE(env.count(QStringLiteral("P_DETAIL = '%1'").arg(windowBefore[selectedBefore])), 0);
        }

        if (form)
            form->dialog->done(0);
        if (list)
            list->dialog->done(0);
        if (main)
            main->window->close();
    }

    // Two copies of the program, each with its own connection and its own entry form, save in
    // turn: each sees what the other stored, and every appointment of both stays.
    void twoProgramsSavingInTurn_data()
    {
        QTest::addColumn<QStringList>("saves"); // "copy|subject|hour|minute|stored or refused"
        QStringList alternating;
        for (int i = 0; i < 12; ++i)
            alternating << QStringLiteral("%1|予定%2|%3|%4|stored")
                               .arg(i % 2 ? "B" : "A")
                               .arg(i)
                               .arg(8 + i / 4, 2, 10, QLatin1Char('0'))
                               .arg((i % 4) * 15, 2, 10, QLatin1Char('0'));
        QTest::newRow("alternating, all different") << alternating;
        QTest::newRow("each other's twins are refused")
            << QStringList{"A|会議|09|00|stored", "B|会議|09|00|refused", "B|会議|09|15|stored",
                           "A|会議|09|15|refused", "A|来客|09|00|stored",   "B|来客|10|00|stored",
                           "B|来客|09|00|refused", "A|it's|09|00|stored",   "B|it's|09|00|refused"};
    }
    void twoProgramsSavingInTurn()
    {
        QFETCH(QStringList, saves);
        TestEnv env;
        env.insert(rec("2000/04/15", "07", "00", "朝礼"));
        Opened<PLAN_FRM> a(env.dbPath());
        Opened<PLAN_FRM> b(env.dbPath());
        QVERIFY(a.prepared && b.prepared);

        QStringList expected = table(env);
        for (const QString& save : saves) {
            const QStringList f = save.split(QLatin1Char('|'));
            Opened<PLAN_FRM>& form = f[0] == "A" ? a : b;
            env.clearShown();
            form.get<QComboBox>("HOUR_LST")->setCurrentText(f[2]);
            form.get<QComboBox>("MIN_LST")->setCurrentText(f[3]);
            type(form.get<QLineEdit>("DETAIL_TEXT"), f[1]);
            type(form.get<QLineEdit>("PLACE_TEXT"), f[0]);
            QTest::mouseClick(form.get<QPushButton>("OK_BTN"), Qt::LeftButton);
            if (f[4] == "stored") {
                QVERIFY2(env.shown().isEmpty(), qPrintable(save + ": " + env.prompts().join(", ")));
                expected << show(rec(kToday, f[2], f[3], f[1], 1, f[0]));
            } else {
                QCOMPARE(env.prompts(), QStringList{kDuplicate});
                form.get<QLineEdit>("DETAIL_TEXT")->clear();
                form.get<QLineEdit>("PLACE_TEXT")->clear();
            }
            QCOMPARE(table(env), expected);
        }
        a.dialog->done(0);
        b.dialog->done(0);
    }
};

QTEST_MAIN(TestReliabilityLocks)
#include "test_reliability_locks.moc"
