// The entry form as the user meets it: its opening state, the Enter walk, held keys and floods
// of pasted text, the unsaved-input question, and saving into the real table.
#include "plan_entry/plan_frm.h"
#include "support/test_env.h"

#include <QtTest>
#include <QtWidgets>

#include <memory>

using platform::MsgAnswer;
using platform::MsgIcon;
using testing::box;

namespace {
const QStringList kFields = {"DETAIL_TEXT", "PLACE_TEXT", "NOTICE_TEXT"};

QString focusName()
{
    return QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString();
}

// Text arrives as the input method commits it, which is how Japanese reaches a field.
void type(const QString& text)
{
    QInputMethodEvent event;
    event.setCommitString(text);
    QApplication::sendEvent(QApplication::focusWidget(), &event);
}

void key(int k, QEvent::Type type = QEvent::None, quint64 at = 0)
{
    if (type == QEvent::None)
        return QTest::keyClick(QApplication::focusWidget(), Qt::Key(k));
    QKeyEvent event(type, k, Qt::NoModifier, QStringLiteral("\r"));
    event.setTimestamp(at);
    QApplication::sendEvent(QApplication::focusWidget(), &event);
}

// One appointment typed into the form against 会議 stored at 09:30 today; a refused one keeps
// what was typed, a stored one empties the fields.
struct Entry {
    QString stored = "会議";
    QString minute = "30";
    QString subject = "会議", notice;
    QString refusal; // the box shown instead of storing, if any
};
} // namespace
Q_DECLARE_METATYPE(Entry)
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

class TestPlanEntry : public QObject {
    Q_OBJECT
    std::unique_ptr<testing::TestEnv> m_env;
    state::Module1 m_module;
    std::unique_ptr<PLAN_FRM> m_form;

    bool open()
    {
        m_form = std::make_unique<PLAN_FRM>(m_module);
        return m_form->prepare() && (m_form->show(), QTest::qWaitForWindowActive(m_form.get()));
    }
    QString fields() const
    {
        QStringList texts;
        for (const QString& name : kFields)
            texts << m_form->findChild<QLineEdit*>(name)->text();
        return texts.join('|');
    }
    void focusOn(const QString& name) { m_form->findChild<QWidget*>(name)->setFocus(); }

private slots:
    void init()
    {
        m_env = std::make_unique<testing::TestEnv>();
        m_module.SEC_DB = platform::Database::open(m_env->dbPath());
        m_module.TODAY_STR = "2000/04/15";
    }
    void cleanup()
    {
        m_form.reset();
        m_module.SEC_DB.reset();
        m_env.reset();
        QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
    }

    // One session past midnight in a run that started the day before: the picker shows the
    // clock's day; Enter refuses an empty subject, then walks subject, place, notice and the
    // button, and the fourth Enter saves; Escape closes nothing and a saved form closes unasked.
    void walk()
    {
        m_env->setNow(QDateTime(QDate(2000, 4, 16), QTime(0, 10)));
        QVERIFY(open());
        QCOMPARE(m_form->findChild<QDateEdit*>("DATE_DTP")->text(), "2000/04/16");
        QCOMPARE(focusName(), "IMPO_OPT_1");
        focusOn("DETAIL_TEXT");
        key(Qt::Key_Return);
        QCOMPARE(m_env->told(), QStringList{box("用件を入力して下さい。", "入力ｴﾗｰ", MsgIcon::Exclamation)});
        QCOMPARE(focusName(), "DETAIL_TEXT");
        const QStringList typed = {"会議", "本社", "資料持参"}, next = {"PLACE_TEXT", "NOTICE_TEXT", "OK_BTN"};
        for (int i = 0; i < 3; ++i) {
            type(typed[i]);
            key(Qt::Key_Return);
            QCOMPARE(focusName(), next[i]);
        }
        QCOMPARE(m_env->count(), 0);
        key(Qt::Key_Escape);
        key(Qt::Key_Return);
        QCOMPARE(m_env->table(), QStringList{"2000/04/16|00|00|会議|1|本社|資料持参"});
        QCOMPARE(fields(), "||");
        QCOMPARE(focusName(), "DETAIL_TEXT");
        QVERIFY(m_form->isVisible());
        m_form->findChild<QPushButton*>("CLOSE_BTN")->click();
        QVERIFY(!m_form->isVisible());
        QCOMPARE(m_env->told().size(), 1);
    }

    // Enter held down, however fast its repeats come and whether or not Qt marks them as
    // repeats, acts once; a fresh stroke acts again. Closing with the unsaved subject asks; No
    // keeps the form open, Yes closes it.
    void heldEnterActsOnceAndClosingAsks()
    {
        QVERIFY(open());
        focusOn("DETAIL_TEXT");
        type("会議");
        key(Qt::Key_Return, QEvent::KeyPress, 1000);
        for (quint64 at = 1030; at < 2500; at += 30) {
            key(Qt::Key_Return, QEvent::KeyRelease, at); // unmarked repeats: release and press at one moment
            key(Qt::Key_Return, QEvent::KeyPress, at);
        }
        for (int i = 0; i < 20; ++i)
            key(Qt::Key_Return, QEvent::KeyPress, 2500); // presses with no release between
        QCOMPARE(focusName(), "PLACE_TEXT");
        key(Qt::Key_Return, QEvent::KeyRelease, 2600);
        key(Qt::Key_Return, QEvent::KeyPress, 2700);
        QCOMPARE(focusName(), "NOTICE_TEXT");
        QCOMPARE(m_env->count() + m_env->told().size(), 0);
        for (MsgAnswer answer : {MsgAnswer::No, MsgAnswer::Yes}) {
            m_env->answer(answer);
            m_form->windowHandle()->close();
            QCOMPARE(m_form->isVisible(), answer == MsgAnswer::No);
        }
        QCOMPARE(m_env->told(), QStringList(2, box("予定を登録せずに終了しますか？", "終了確認", MsgIcon::Question,
                                                   platform::MsgButtons::YesNo)));
        QCOMPARE(m_env->shown().last().defaultButton, MsgAnswer::Yes);
    }

    // The end and whole days: an end before the start and a date before today are refused in the
    // form's words (a time earlier today is not); whole days disable the times and store 00時00分.
    void endAndDay_data()
    {
        QTest::addColumn<int>("days");
        QTest::addColumn<QString>("hour");
        QTest::addColumn<QString>("end"); // hour and minute
        QTest::addColumn<bool>("allDay");
        QTest::addColumn<QString>("told");
        QTest::addColumn<QString>("stored"); // the row as testing::line writes it
        const QString bad = box("終了時刻が開始時刻より前です。", "入力ｴﾗｰ", MsgIcon::Exclamation);
        QTest::newRow("an end") << 0 << "10" << "11|30" << false << "" << "2000/04/15|10|00|会議|1|||2000/04/15|11|30|0";
        QTest::newRow("an end's hour alone") << 1 << "10" << "11|" << false << "" << "2000/04/16|10|00|会議|1|||2000/04/16|11|00|0";
        QTest::newRow("an end before the start") << 0 << "10" << "09|45" << false << bad << "";
        QTest::newRow("all day") << 0 << "10" << "09|00" << true << "" << "2000/04/15|00|00|会議|1|||2000/04/15|||1";
        QTest::newRow("earlier today") << 0 << "08" << "|" << false << "" << "2000/04/15|08|00|会議|1||";
        QTest::newRow("yesterday") << -1 << "10" << "|" << false << box("過去の日付には登録できません。", "入力ｴﾗｰ", MsgIcon::Exclamation) << "";
    }
    void endAndDay()
    {
        QFETCH(int, days);
        QFETCH(QString, hour);
        QFETCH(QString, end);
        QFETCH(bool, allDay);
        QFETCH(QString, told);
        QFETCH(QString, stored);
        QVERIFY(open());
        CHILD(date, QDateEdit, m_form, "DATE_DTP");
        CHILD(allDayMark, QCheckBox, m_form, "ALL_DAY_CHK");
        QCOMPARE(allDayMark->text(), "終日(&A)");
        date->setDate(date->date().addDays(days));
        m_form->findChild<QComboBox*>("HOUR_LST")->setCurrentText(hour);
        m_form->findChild<QComboBox*>("END_HOUR_LST")->setCurrentText(end.section('|', 0, 0));
        m_form->findChild<QComboBox*>("END_MIN_LST")->setCurrentText(end.section('|', 1));
        allDayMark->setChecked(allDay);
        for (const char* list : {"HOUR_LST", "MIN_LST", "END_HOUR_LST", "END_MIN_LST"})
            QCOMPARE(m_form->findChild<QComboBox*>(list)->isEnabled(), !allDay);
        focusOn("DETAIL_TEXT");
        type("会議");
        m_form->findChild<QPushButton*>("OK_BTN")->click();
        QCOMPARE(m_env->told(), QStringList{told}.mid(0, !told.isEmpty()));
        QCOMPARE(m_env->table(), QStringList{stored}.mid(0, !stored.isEmpty()));
    }

    // Changed in the form, an appointment shows its end and keeps it, days-long ones their length.
    void changeKeepsEnd()
    {
        m_env->insert(testing::until(testing::rec("2000/04/16", "22", "00", "夜行"), "2000/04/17|06|20"));
        m_form = std::make_unique<PLAN_FRM>(m_module);
        QVERIFY(m_form->prepareChange(store::storedRow(m_module.db().query("SELECT " + store::kRowColumns + " FROM PLAN_DAT")[0])));
        QCOMPARE(m_form->findChild<QComboBox*>("END_HOUR_LST")->currentText(), "06");
        QCOMPARE(m_form->findChild<QComboBox*>("END_MIN_LST")->currentText(), "20");
        m_form->findChild<QDateEdit*>("DATE_DTP")->setDate(QDate(2000, 4, 20));
        m_form->findChild<QPushButton*>("OK_BTN")->click();
        QCOMPARE(m_env->table(), QStringList{"2000/04/20|22|00|夜行|1|||2000/04/21|06|20|0"});
    }

    // Saving: the duplicate rule compares date, time and the trimmed subject; a text longer than
    // its column is refused whatever it holds, a NUL included, and a pasted flood stays bounded.
    void save_data()
    {
        QTest::addColumn<Entry>("entry");
        const QString dup = box("同じ用件が存在します。", "ﾃﾞｰﾀ重複ｴﾗｰ", MsgIcon::Exclamation);
        QTest::newRow("same minute, other notice") << Entry{.notice = "延期", .refusal = dup};
        QTest::newRow("09:45") << Entry{.minute = "45"};
        QTest::newRow("blanks around the subject") << Entry{.subject = "\u3000会議 ", .refusal = dup};
        QTest::newRow("leading blank stored and typed") << Entry{.stored = " 会議", .subject = " 会議"};
        QTest::newRow("blank subject")
            << Entry{.subject = " \u3000 ", .refusal = box("用件を入力して下さい。", "入力ｴﾗｰ", MsgIcon::Exclamation)};
        QTest::newRow("255 characters") << Entry{.subject = QString(255, QChar(0x4F1A))};
        QTest::newRow("256 characters")
            << Entry{.subject = QString(256, QChar(0x4F1A)), .refusal = "「用件」の文字数が多すぎます（255文字以内）。"};
        QTest::newRow("one character, a NUL and 300 more")
            << Entry{.subject = "x" + QString(QChar(0)) + QString(300, 'y'),
                     .refusal = "「用件」の文字数が多すぎます（255文字以内）。"};
        QTest::newRow("five million characters pasted into the notice")
            << Entry{.subject = "来客", .notice = QString(5000000, 'y'), .refusal = "「備考」の文字数が多すぎます（255文字以内）。"};
    }
    void save()
    {
        QFETCH(Entry, entry);
        m_env->insert(testing::rec("2000/04/15", "09", "30", entry.stored));
        QVERIFY(open());
        m_form->findChild<QComboBox*>("HOUR_LST")->setCurrentText("09");
        m_form->findChild<QComboBox*>("MIN_LST")->setCurrentText(entry.minute);
        QGuiApplication::clipboard()->setText(entry.notice);
        focusOn("NOTICE_TEXT");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_V, Qt::ControlModifier);
        const QString notice = m_form->findChild<QLineEdit*>("NOTICE_TEXT")->text();
        QCOMPARE(notice, entry.notice.left(1024));
        focusOn("DETAIL_TEXT");
        type(entry.subject);
        m_form->findChild<QPushButton*>("OK_BTN")->click();
        const bool refused = !entry.refusal.isEmpty();
        QCOMPARE(m_env->told(), QStringList{entry.refusal}.mid(0, refused));
        QCOMPARE(fields(), refused ? entry.subject + "||" + notice : "||");
        QCOMPARE(m_form->editFlag(), refused);
        QCOMPARE(m_env->table(), (QStringList{"2000/04/15|09|30|" + entry.stored + "|1||",
                                              testing::line(testing::rec("2000/04/15", "09", entry.minute,
                                                                         entry.subject, 1, "", notice))})
                                     .mid(0, refused ? 1 : 2));
    }
};

QTEST_MAIN(TestPlanEntry)
#include "test_plan_entry.moc"
