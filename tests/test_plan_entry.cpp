// The appointment entry window as the user meets it: its opening state, the Enter walk through
// the fields, the unsaved-input question on every way of closing, and saving with the
// duplicate check into the real table.
#include "main_window/main_frm.h"
#include "plan_entry/plan_frm.h"
#include "support/test_env.h"

#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QWindow>

#include <memory>

using platform::MsgAnswer;
using platform::MsgIcon;

namespace {
const QString kToday = QStringLiteral("2000/04/15");
const QStringList kFields = {"DETAIL_TEXT", "PLACE_TEXT", "NOTICE_TEXT"};

QString focusName()
{
    return QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString();
}

// Text arrives as the input method commits it, which is how Japanese reaches a field.
void type(const QString& text, QWidget* field = QApplication::focusWidget())
{
    QInputMethodEvent event;
    event.setCommitString(text);
    QApplication::sendEvent(field, &event);
}

void key(int k, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    testing::press(QApplication::focusWidget(), k, modifiers);
}

// The table's rows in the order stored, one a line, the columns joined by |.
QString stored(const testing::TestEnv& env)
{
    QStringList rows;
    for (const store::PLAN_REC& r : env.rows())
        rows << QStringList({r.P_DATE, r.P_HOUR, r.P_MIN, r.P_DETAIL, QString::number(r.P_IMPORTANCE), r.P_PLACE,
                             r.P_NOTICE}).join('|');
    return rows.join('\n');
}

// One appointment typed into the form, against one stored subject at 09:30 today; the rows
// name only what differs from that.
struct Entry {
    QString stored = "会議";
    QDate date = QDate(2000, 4, 15);
    QString hour = "09", minute = "30";
    int importance = 1;
    QString subject = "会議", place, notice;
    QString refusal, title; // the box shown instead of storing, if any
};
} // namespace
Q_DECLARE_METATYPE(Entry)
// The rows leave the other members of Entry at their defaults on purpose.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

class TestPlanEntry : public QObject {
    Q_OBJECT

    std::unique_ptr<testing::TestEnv> m_env;
    state::Module1 m_module;
    std::unique_ptr<PLAN_FRM> m_form;

    template <class T = QWidget> T* w(const QString& name)
    {
        T* widget = m_form->findChild<T*>(name);
        if (!widget)
            qFatal("no control %s", qPrintable(name));
        return widget;
    }

    // The window opened as the main window opens it, shown and active.
    bool open()
    {
        m_form = std::make_unique<PLAN_FRM>(m_module);
        if (!m_form->prepare())
            return false;
        m_form->show();
        m_form->activateWindow();
        return QTest::qWaitForWindowActive(m_form.get());
    }

    // What the user reads: date, hour:minute, the selected importance, then the three fields.
    QString form()
    {
        QString importance, texts;
        for (int i = 0; i < 3; ++i) {
            importance += w<QRadioButton>(QStringLiteral("IMPO_OPT_%1").arg(i))->isChecked() ? QString::number(i) : "";
            texts += (i ? "|" : "") + w<QLineEdit>(kFields[i])->text();
        }
        return w<QDateEdit>("DATE_DTP")->text() + ' ' + w<QComboBox>("HOUR_LST")->currentText() + ':'
            + w<QComboBox>("MIN_LST")->currentText() + ' ' + importance + ' ' + texts;
    }

    void focusOn(const QString& name)
    {
        w(name)->setFocus();
        QCOMPARE(focusName(), name);
    }

    // Fills the fields as a user would; the subject last, so the focus ends there.
    void enter(const QString& detail, const QString& place = {}, const QString& notice = {})
    {
        for (const auto& [name, value] : {std::pair{kFields[1], place}, {kFields[2], notice}, {kFields[0], detail}}) {
            focusOn(name);
            type(value);
        }
    }

private slots:
    void init()
    {
        m_env = std::make_unique<testing::TestEnv>();
        m_module.SEC_DB = platform::Database::open(m_env->dbPath());
        m_module.TODAY_STR = kToday;
    }
    void cleanup()
    {
        m_form.reset();
        m_module.SEC_DB.reset();
        m_env.reset();
        for (QWidget* window : QApplication::topLevelWidgets())
            QVERIFY2(!window->isVisible(), qPrintable(window->objectName() + " left open"));
    }

    // One session from opening to closing, past midnight in a run that started the day before.
    void openAndEnter()
    {
        m_env->setNow(QDateTime(QDate(2000, 4, 16), QTime(0, 10)));
        QVERIFY(open());
        // The picker shows the new day, and nothing counts as unsaved yet.
        QCOMPARE(m_form->windowTitle(), "予定設定");
        QCOMPARE(m_form->size(), QSize(533, 249));
        QCOMPARE(form(), "2000/04/16 00:00 1 ||");
        QVERIFY(!m_form->editFlag());
        // Screen readers name each field by the caption beside it.
        for (const auto& [label, field] : {std::pair{"Label2", 0}, {"Label6", 1}, {"Label8", 2}})
            QCOMPARE(w<QLabel>(label)->buddy(), w(kFields[field]));

        // Tab walks the ring, the minute list before the hour list, both ways.
        QCOMPARE(focusName(), "IMPO_OPT_1");
        const QStringList ring = {"DETAIL_TEXT", "PLACE_TEXT", "NOTICE_TEXT", "OK_BTN",    "CLOSE_BTN",
                                  "DATE_DTP",    "MIN_LST",    "HOUR_LST",    "IMPO_OPT_1"};
        QStringList seen, back(ring.rbegin() + 1, ring.rend());
        for (int i = 0; i < 2 * ring.size(); ++i) {
            key(Qt::Key_Tab, i < ring.size() ? Qt::NoModifier : Qt::ShiftModifier);
            seen << focusName();
        }
        QCOMPARE(seen, ring + back + ring.mid(ring.size() - 1));

        // Enter on an empty subject is refused where it is; Enter where there is no field or button
        // presses nothing, for no button is the default.
        focusOn("DETAIL_TEXT");
        key(Qt::Key_Return);
        QCOMPARE(m_env->prompts(), QStringList("用件を入力して下さい。"));
        QCOMPARE(m_env->shown().last().title, "入力ｴﾗｰ");
        QCOMPARE(m_env->shown().last().icon, MsgIcon::Exclamation);
        QCOMPARE(focusName(), "DETAIL_TEXT");
        type("会議");
        for (const char* control : {"DATE_DTP", "HOUR_LST", "MIN_LST", "IMPO_OPT_1"}) {
            focusOn(control);
            key(Qt::Key_Return);
        }
        QCOMPARE(m_env->shown().size(), 1);

        // Enter walks subject, place, notice and the button without pressing it; the fourth saves
        // on the clock's date and leaves date, time and importance for the next appointment.
        w<QComboBox>("HOUR_LST")->setCurrentIndex(9);
        w<QComboBox>("MIN_LST")->setCurrentIndex(2);
        QTest::mouseClick(w("IMPO_OPT_0"), Qt::LeftButton);
        focusOn("DETAIL_TEXT");
        const QStringList typed = {"", "本社", "資料持参"}, next = {"PLACE_TEXT", "NOTICE_TEXT", "OK_BTN"};
        for (int i = 0; i < 3; ++i) {
            type(typed[i]);
            key(i == 1 ? Qt::Key_Enter : Qt::Key_Return);
            QCOMPARE(focusName(), next[i]);
            QCOMPARE(m_env->count(), 0);
        }
        key(Qt::Key_Return);
        QCOMPARE(stored(*m_env), "2000/04/16|09|30|会議|0|本社|資料持参");
        QCOMPARE(form(), "2000/04/16 09:30 0 ||");
        QCOMPARE(focusName(), "DETAIL_TEXT");
        // Neither the save nor picking a date or time afterwards leaves anything unsaved.
        for (const char* picker : {"DATE_DTP", "HOUR_LST", "MIN_LST"}) {
            focusOn(picker);
            key(Qt::Key_Down);
        }
        QCOMPARE(form(), "1999/04/16 10:45 0 ||");
        QTest::mouseClick(w("CLOSE_BTN"), Qt::LeftButton);
        QVERIFY(!m_form->isVisible());
        QCOMPARE(m_env->shown().size(), 1);
    }

    // Every way of closing asks before unsaved input is lost; No keeps the form as it was, Yes
    // closes it. Typing counts even when deleted again, and so does reselecting the importance.
    void closing_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("path");
        QTest::newRow("subject typed and deleted, close button") << "DETAIL_TEXT" << "button";
        QTest::newRow("place typed, Escape") << "PLACE_TEXT" << "escape";
        QTest::newRow("notice typed, close box") << "NOTICE_TEXT" << "close box";
        QTest::newRow("high, then medium again, close button") << "IMPO_OPT_0" << "button";
    }
    void closing()
    {
        QFETCH(QString, input);
        QFETCH(QString, path);
        QVERIFY(open());
        if (kFields.contains(input)) {
            focusOn(input);
            type("本社");
            if (input == kFields[0])
                key(Qt::Key_Backspace);
        } else {
            QTest::mouseClick(w(input), Qt::LeftButton);
            QTest::mouseClick(w("IMPO_OPT_1"), Qt::LeftButton);
        }
        const QString before = form();
        for (MsgAnswer answer : {MsgAnswer::No, MsgAnswer::Yes}) {
            m_env->answer(answer);
            if (path == "button")
                QTest::mouseClick(w("CLOSE_BTN"), Qt::LeftButton);
            else if (path == "close box")
                m_form->windowHandle()->close();
            else
                key(Qt::Key_Escape);
            QCOMPARE(m_form->isVisible(), answer == MsgAnswer::No);
            QCOMPARE(form(), before);
        }
        QCOMPARE(m_env->prompts(), QStringList(2, "予定を登録せずに終了しますか？"));
        const platform::MessageRequest& question = m_env->shown().last();
        QCOMPARE(question.title, "終了確認");
        QCOMPARE(question.icon, MsgIcon::Question);
        QCOMPARE(question.buttons, platform::MsgButtons::YesNo);
        QCOMPARE(question.defaultButton, MsgAnswer::Yes);
    }

    // Against one stored appointment, 会議 at 09:30 today, medium, in 本社. A refused entry keeps
    // all that was typed and stays unsaved; a stored one empties the fields. Quotes and the
    // longest texts that fit are tried through the form with the hostile inputs.
    void save_data()
    {
        QTest::addColumn<Entry>("entry");
        const QString dup = "同じ用件が存在します。", dupTitle = "ﾃﾞｰﾀ重複ｴﾗｰ", program = "ミルドカ";
        const QString check = "CHECK constraint failed: ";
        QTest::newRow("same minute, other importance, place, notice")
            << Entry{.importance = 2, .place = "支社", .notice = "延期", .refusal = dup, .title = dupTitle};
        QTest::newRow("09:45") << Entry{.minute = "45", .place = "本社"};
        QTest::newRow("10:30") << Entry{.hour = "10", .place = "本社"};
        QTest::newRow("next day") << Entry{.date = QDate(2000, 4, 16)};
        QTest::newRow("blanks around the subject") << Entry{.subject = "\u3000会議 ", .refusal = dup, .title = dupTitle};
        QTest::newRow("leading blank stored and typed") << Entry{.stored = " 会議", .subject = " 会議"};
        QTest::newRow("blank subject")
            << Entry{.subject = " \u3000 ", .refusal = "用件を入力して下さい。", .title = "入力ｴﾗｰ"};
        QTest::newRow("40000-character notice") << Entry{.subject = "来客", .notice = QString(40000, 'y'),
                                                         .refusal = check + "P_NOTICE_SIZE", .title = program};
    }
    void save()
    {
        QFETCH(Entry, entry);
        m_env->insert(testing::rec(kToday, "09", "30", entry.stored, 1, "本社"));
        QVERIFY(open());
        w<QDateEdit>("DATE_DTP")->setDate(entry.date);
        w<QComboBox>("HOUR_LST")->setCurrentText(entry.hour);
        w<QComboBox>("MIN_LST")->setCurrentText(entry.minute);
        QTest::mouseClick(w(QStringLiteral("IMPO_OPT_%1").arg(entry.importance)), Qt::LeftButton);
        enter(entry.subject, entry.place, entry.notice);
        QTest::mouseClick(w("OK_BTN"), Qt::LeftButton);

        const bool refused = !entry.refusal.isEmpty();
        QCOMPARE(m_env->prompts(), refused ? QStringList(entry.refusal) : QStringList());
        if (refused) {
            QCOMPARE(m_env->shown().last().title, entry.title);
            QCOMPARE(m_env->shown().last().icon, entry.title == "ミルドカ" ? MsgIcon::None : MsgIcon::Exclamation);
        }
        const QString date = entry.date.toString("yyyy/MM/dd"), importance = QString::number(entry.importance);
        QCOMPARE(form(), date + ' ' + entry.hour + ':' + entry.minute + ' ' + importance + ' '
                             + (refused ? entry.subject + '|' + entry.place + '|' + entry.notice : "||"));
        QCOMPARE(m_form->editFlag(), refused);
        const QString row = QStringList({date, entry.hour, entry.minute, entry.subject, importance, entry.place,
                                         entry.notice}).join('|');
        QCOMPARE(stored(*m_env), "2000/04/15|09|30|" + entry.stored + "|1|本社|" + (refused ? "" : '\n' + row));
    }

    // From the main window's menu to its count: the form saves one appointment and closes. The
    // list of today reads every column as text, so the empty place and notice must not be NULL.
    void countInTheMainWindow()
    {
        m_env->insert(testing::rec(kToday, "08", "00", "朝礼"));
        state::Module1 module;
        MAIN_FRM main(module);
        main.startUp();
        main.show();
        main.refresh();
        auto* tell = main.findChild<QLabel*>(QStringLiteral("TELL_LABEL"));
        QVERIFY(tell);
        QCOMPARE(tell->text(), "1件の予定が入っています。");

        // Runs inside the window's own event loop: it must close whatever opened, whatever it is.
        QString seen;
        testing::onNextModal([&](QWidget* modal) {
            if (modal->objectName() == "PLAN_FRM") {
                type("会議", modal->findChild<QLineEdit*>("DETAIL_TEXT"));
                for (const char* button : {"OK_BTN", "CLOSE_BTN"})
                    QTest::mouseClick(modal->findChild<QPushButton*>(button), Qt::LeftButton);
            }
            seen = modal->objectName() + (modal->isVisible() ? " left open" : "");
            if (modal->isVisible())
                static_cast<QDialog*>(modal)->done(QDialog::Rejected);
        });
        main.mnuSche_Click();
        QCOMPARE(seen, "PLAN_FRM");
        QCOMPARE(stored(*m_env), "2000/04/15|08|00|朝礼|1||\n2000/04/15|00|00|会議|1||");
        QCOMPARE(m_env->count("P_PLACE = '' AND P_NOTICE = ''"), 2);
        QCOMPARE(tell->text(), "2件の予定が入っています。");
        QVERIFY(m_env->shown().isEmpty());
        main.close();
    }
};

QTEST_MAIN(TestPlanEntry)
#include "test_plan_entry.moc"
