// The appointment entry window as the user meets it: its opening state, the Enter walk through
// the fields, the unsaved-input question on every way of closing, and saving with the
// duplicate check into the real table.
#include "main_window/main_frm.h"
#include "plan_entry/plan_frm.h"
#include "state/module1.h"
#include "store/plan_store.h"
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
using platform::MsgButtons;
using platform::MsgIcon;
using testing::rec;
using testing::TestEnv;

namespace store {
bool operator==(const PLAN_REC& a, const PLAN_REC& b)
{
    return a.P_DATE == b.P_DATE && a.P_HOUR == b.P_HOUR && a.P_MIN == b.P_MIN && a.P_DETAIL == b.P_DETAIL
        && a.P_IMPORTANCE == b.P_IMPORTANCE && a.P_PLACE == b.P_PLACE && a.P_NOTICE == b.P_NOTICE;
}
char* toString(const PLAN_REC& r)
{
    return QTest::toString(QStringList({r.P_DATE, r.P_HOUR, r.P_MIN, r.P_DETAIL, QString::number(r.P_IMPORTANCE),
                                        r.P_PLACE, r.P_NOTICE})
                               .join(QLatin1Char('|')));
}
} // namespace store

namespace {
const QString kToday = QStringLiteral("2000/04/15");
const QString kNoDetail = QStringLiteral("用件を入力して下さい。");
const QString kDuplicate = QStringLiteral("同じ用件が存在します。");
const QString kCloseQuestion = QStringLiteral("予定を登録せずに終了しますか？");

template <class T> T* find(QWidget* window, const QString& name)
{
    T* widget = window->findChild<T*>(name);
    if (!widget)
        qFatal("no control %s", qPrintable(name));
    return widget;
}

QString focusName()
{
    QWidget* focus = QApplication::focusWidget();
    return focus ? focus->objectName() : QStringLiteral("(none)");
}

// Text arrives as the input method commits it, which is how Japanese reaches a field.
void type(const QString& text, QWidget* field = QApplication::focusWidget())
{
    QInputMethodEvent event;
    event.setCommitString(text);
    QApplication::sendEvent(field, &event);
}

void key(int k)
{
    testing::press(QApplication::focusWidget(), k);
}
} // namespace

class TestPlanEntry : public QObject {
    Q_OBJECT

    std::unique_ptr<TestEnv> m_env;
    state::Module1 m_module;
    std::unique_ptr<PLAN_FRM> m_form;

    template <class T = QWidget> T* w(const QString& name) { return find<T>(m_form.get(), name); }
    QLineEdit* text(const QString& name) { return w<QLineEdit>(name); }

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

    void focusOn(const QString& name)
    {
        w(name)->setFocus();
        QCOMPARE(focusName(), name);
    }

    // Fills the fields as a user would; the subject last, so the focus ends there.
    void enter(const QString& detail, const QString& place = {}, const QString& notice = {})
    {
        const std::pair<const char*, QString> fields[] = {
            {"PLACE_TEXT", place}, {"NOTICE_TEXT", notice}, {"DETAIL_TEXT", detail}};
        for (const auto& [name, value] : fields) {
            focusOn(name);
            type(value);
        }
    }

    bool asksOnClose()
    {
        const qsizetype before = m_env->shown().size();
        QTest::mouseClick(w("CLOSE_BTN"), Qt::LeftButton);
        return m_env->shown().size() > before && m_env->shown().last().prompt == kCloseQuestion;
    }

private slots:
    void init()
    {
        m_env = std::make_unique<TestEnv>();
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

    // Opened past midnight by a run that started the day before: the picker shows the new day.
    void opening()
    {
        m_env->setNow(QDateTime(QDate(2000, 4, 16), QTime(0, 10)));
        QVERIFY(open());
        QCOMPARE(m_form->windowTitle(), "予定設定");
        QCOMPARE(m_form->size(), QSize(533, 249));
        QCOMPARE(w<QDateEdit>("DATE_DTP")->date(), QDate(2000, 4, 16));
        QCOMPARE(w<QDateEdit>("DATE_DTP")->text(), "2000/04/16");

        QStringList hours, minutes;
        for (int i = 0; i < 24; ++i)
            hours << QStringLiteral("%1").arg(i, 2, 10, QLatin1Char('0'));
        minutes << "00" << "15" << "30" << "45";
        for (const auto& [name, items] : {std::pair{"HOUR_LST", hours}, {"MIN_LST", minutes}}) {
            auto* list = w<QComboBox>(name);
            QStringList shown;
            for (int i = 0; i < list->count(); ++i)
                shown << list->itemText(i);
            QCOMPARE(shown, items);
            QCOMPARE(list->currentText(), "00");
            QVERIFY(!list->isEditable());
        }
        QVERIFY(!w<QRadioButton>("IMPO_OPT_0")->isChecked());
        QVERIFY(w<QRadioButton>("IMPO_OPT_1")->isChecked());
        QVERIFY(!w<QRadioButton>("IMPO_OPT_2")->isChecked());
        for (const char* field : {"DETAIL_TEXT", "PLACE_TEXT", "NOTICE_TEXT"})
            QVERIFY(text(field)->text().isEmpty());
        QCOMPARE(focusName(), "IMPO_OPT_1");
        QVERIFY(!m_form->editFlag());
        // Screen readers name each field by the caption beside it.
        QCOMPARE(w<QLabel>("Label2")->buddy(), w("DETAIL_TEXT"));
        QCOMPARE(w<QLabel>("Label6")->buddy(), w("PLACE_TEXT"));
        QCOMPARE(w<QLabel>("Label8")->buddy(), w("NOTICE_TEXT"));
    }

    void tabOrder()
    {
        QVERIFY(open());
        const QStringList ring = {"DETAIL_TEXT", "PLACE_TEXT", "NOTICE_TEXT", "OK_BTN",    "CLOSE_BTN",
                                  "DATE_DTP",    "MIN_LST",    "HOUR_LST",    "IMPO_OPT_1"};
        QStringList forward, backward;
        for (int i = 0; i < ring.size(); ++i) {
            key(Qt::Key_Tab);
            forward << focusName();
        }
        QCOMPARE(forward, ring);
        for (int i = 0; i < ring.size(); ++i) {
            testing::press(QApplication::focusWidget(), Qt::Key_Tab, Qt::ShiftModifier);
            backward.prepend(focusName());
        }
        QCOMPARE(backward, QStringList(ring.mid(ring.size() - 1) + ring.mid(0, ring.size() - 1)));
    }

    // Enter walks subject, place, notice and the button without pressing it; the fourth saves
    // and leaves date, time and importance for the next appointment.
    void fourEnters()
    {
        QVERIFY(open());
        w<QComboBox>("HOUR_LST")->setCurrentIndex(9);
        w<QComboBox>("MIN_LST")->setCurrentIndex(2);
        QTest::mouseClick(w("IMPO_OPT_0"), Qt::LeftButton);
        focusOn("DETAIL_TEXT");
        const QStringList expected = {"PLACE_TEXT", "NOTICE_TEXT", "OK_BTN"};
        const QStringList typed = {"会議", "本社", "資料持参"};
        for (int i = 0; i < 3; ++i) {
            type(typed[i]);
            key(i == 1 ? Qt::Key_Enter : Qt::Key_Return);
            QCOMPARE(focusName(), expected[i]);
            QCOMPARE(m_env->count(), 0);
        }
        key(Qt::Key_Return);
        QCOMPARE(m_env->rows(), QList({rec(kToday, "09", "30", "会議", 0, "本社", "資料持参")}));
        QVERIFY(m_env->shown().isEmpty());
        for (const char* field : {"DETAIL_TEXT", "PLACE_TEXT", "NOTICE_TEXT"})
            QVERIFY(text(field)->text().isEmpty());
        QCOMPARE(focusName(), "DETAIL_TEXT");
        QCOMPARE(w<QComboBox>("HOUR_LST")->currentText(), "09");
        QCOMPARE(w<QComboBox>("MIN_LST")->currentText(), "30");
        QVERIFY(w<QRadioButton>("IMPO_OPT_0")->isChecked());
        QCOMPARE(w<QDateEdit>("DATE_DTP")->date(), QDate(2000, 4, 15));
        QVERIFY(!asksOnClose());
    }

    void missingSubject_data()
    {
        QTest::addColumn<QString>("subject");
        QTest::addColumn<bool>("byButton");
        QTest::newRow("empty, Enter") << "" << false;
        QTest::newRow("half-width blanks, Enter") << "   " << false;
        QTest::newRow("ideographic blank, Enter") << "\u3000" << false;
        QTest::newRow("empty, button") << "" << true;
        QTest::newRow("blanks, Enter on the button") << " \u3000 " << true;
    }
    void missingSubject()
    {
        QFETCH(QString, subject);
        QFETCH(bool, byButton);
        QVERIFY(open());
        enter(subject);
        const QString from = byButton ? "OK_BTN" : "DETAIL_TEXT";
        focusOn(from);
        key(Qt::Key_Return);
        QCOMPARE(m_env->shown().size(), 1);
        QCOMPARE(m_env->shown()[0].prompt, kNoDetail);
        QCOMPARE(m_env->shown()[0].title, "入力ｴﾗｰ");
        QCOMPARE(m_env->shown()[0].icon, MsgIcon::Exclamation);
        QCOMPARE(focusName(), from);
        QCOMPARE(text("DETAIL_TEXT")->text(), subject);
        QCOMPARE(m_env->count(), 0);
    }

    // No button is the dialog's default: Enter elsewhere than on a button presses nothing.
    void enterOutsideTheFieldsPressesNothing_data()
    {
        QTest::addColumn<QString>("control");
        QTest::newRow("date") << "DATE_DTP";
        QTest::newRow("hour") << "HOUR_LST";
        QTest::newRow("minute") << "MIN_LST";
        QTest::newRow("importance") << "IMPO_OPT_1";
    }
    void enterOutsideTheFieldsPressesNothing()
    {
        QFETCH(QString, control);
        QVERIFY(open());
        enter("会議");
        focusOn(control);
        key(Qt::Key_Return);
        QCOMPARE(m_env->count(), 0);
        QVERIFY(m_env->shown().isEmpty());
        QVERIFY(m_form->isVisible());
    }

    void unsavedInput_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("asks");
        QTest::newRow("nothing") << "nothing" << false;
        QTest::newRow("subject typed") << "subject" << true;
        QTest::newRow("subject typed and deleted") << "subject deleted" << true;
        QTest::newRow("place typed") << "place" << true;
        QTest::newRow("notice typed") << "notice" << true;
        QTest::newRow("high, then medium again") << "importance" << true;
        QTest::newRow("date changed") << "date" << false;
        QTest::newRow("hour picked") << "hour" << false;
        QTest::newRow("minute picked") << "minute" << false;
        QTest::newRow("saved") << "save" << false;
        QTest::newRow("saved, then hour picked") << "save hour" << false;
        QTest::newRow("refused as duplicate") << "duplicate" << true;
        QTest::newRow("refused by the table") << "too long" << true;
    }
    void unsavedInput()
    {
        QFETCH(QString, action);
        QFETCH(bool, asks);
        m_env->insert(rec(kToday, "00", "00", "会議"));
        QVERIFY(open());
        if (action == "subject" || action == "subject deleted") {
            enter("会");
            if (action == "subject deleted")
                key(Qt::Key_Backspace);
            QCOMPARE(text("DETAIL_TEXT")->text(), action == "subject" ? "会" : "");
        } else if (action == "place" || action == "notice") {
            enter({}, action == "place" ? "本社" : QString(), action == "notice" ? "資料" : QString());
        } else if (action == "importance") {
            QTest::mouseClick(w("IMPO_OPT_0"), Qt::LeftButton);
            QTest::mouseClick(w("IMPO_OPT_1"), Qt::LeftButton);
            QVERIFY(w<QRadioButton>("IMPO_OPT_1")->isChecked());
        } else if (action == "date" || action == "hour" || action == "minute") {
            auto shown = [this] {
                return w<QDateEdit>("DATE_DTP")->text() + w<QComboBox>("HOUR_LST")->currentText()
                    + w<QComboBox>("MIN_LST")->currentText();
            };
            const QString before = shown();
            focusOn(action == "date" ? "DATE_DTP" : action == "hour" ? "HOUR_LST" : "MIN_LST");
            key(action == "date" ? Qt::Key_Up : Qt::Key_Down);
            QVERIFY(shown() != before);
        } else if (action.startsWith("save") || action == "duplicate" || action == "too long") {
            const QString subject = action == "too long" ? QString(256, QLatin1Char('x')) : QString("打合せ");
            enter(action == "duplicate" ? "会議" : subject);
            QTest::mouseClick(w("OK_BTN"), Qt::LeftButton);
            QCOMPARE(m_env->count(), action.startsWith("save") ? 2 : 1);
            if (action == "save hour")
                w<QComboBox>("HOUR_LST")->setCurrentIndex(5);
        }
        m_env->answer(MsgAnswer::No);
        QCOMPARE(asksOnClose(), asks);
        QCOMPARE(m_form->isVisible(), asks);
        if (asks) {
            const platform::MessageRequest& question = m_env->shown().last();
            QCOMPARE(question.title, "終了確認");
            QCOMPARE(question.icon, MsgIcon::Question);
            QCOMPARE(question.buttons, MsgButtons::YesNo);
            QCOMPARE(question.defaultButton, MsgAnswer::Yes);
            m_env->answer(MsgAnswer::Yes);
            QVERIFY(asksOnClose());
            QVERIFY(!m_form->isVisible());
        }
        QCOMPARE(m_env->unscripted(), 0);
    }

    // Every way of closing asks the same question; No keeps the form as it was.
    void closingPaths_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("close button") << "button";
        QTest::newRow("Enter on the close button") << "enter";
        QTest::newRow("close box") << "close box";
        QTest::newRow("Escape") << "escape";
    }
    void closingPaths()
    {
        QFETCH(QString, path);
        QVERIFY(open());
        enter("会議", "本社");
        auto requestClose = [&] {
            if (path == "button") {
                QTest::mouseClick(w("CLOSE_BTN"), Qt::LeftButton);
            } else if (path == "enter") {
                focusOn("CLOSE_BTN");
                key(Qt::Key_Return);
            } else if (path == "close box") {
                m_form->windowHandle()->close();
            } else {
                key(Qt::Key_Escape);
            }
        };
        for (MsgAnswer answer : {MsgAnswer::No, MsgAnswer::No, MsgAnswer::Yes}) {
            QVERIFY(m_form->isVisible());
            QCOMPARE(text("DETAIL_TEXT")->text() + text("PLACE_TEXT")->text(), "会議本社");
            QVERIFY(m_form->editFlag());
            m_env->answer(answer);
            requestClose();
        }
        QCOMPARE(m_env->prompts(), QStringList(3, kCloseQuestion));
        QVERIFY(!m_form->isVisible());
        QCOMPARE(m_form->result(), int(QDialog::Rejected));
        QCOMPARE(m_env->count(), 0);
    }

    // Against one stored appointment, 会議 at 09:30 today, medium, in 本社.
    void duplicates_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QDate>("date");
        QTest::addColumn<QString>("time");
        QTest::addColumn<int>("importance");
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("place");
        QTest::addColumn<QString>("notice");
        QTest::addColumn<bool>("refused");
        const QDate day(2000, 4, 15);
        auto row = [](const char* name, const QString& stored, QDate date, const char* time, int importance,
                      const QString& subject, const char* place, const char* notice, bool refused) {
            QTest::newRow(name) << stored << date << time << importance << subject << place << notice << refused;
        };
        row("same entries", "会議", day, "09:30", 1, "会議", "本社", "", true);
        row("other importance", "会議", day, "09:30", 0, "会議", "本社", "", true);
        row("other place", "会議", day, "09:30", 1, "会議", "", "", true);
        row("other notice", "会議", day, "09:30", 2, "会議", "支社", "延期", true);
        row("09:45", "会議", day, "09:45", 1, "会議", "本社", "", false);
        row("10:30", "会議", day, "10:30", 1, "会議", "本社", "", false);
        row("next day", "会議", day.addDays(1), "09:30", 1, "会議", "", "", false);
        row("past day", "会議", day.addDays(-1), "09:30", 1, "会議", "", "", false);
        row("trailing blank typed", "会議", day, "09:30", 1, "会議 ", "", "", true);
        row("ideographic blanks typed", "会議", day, "09:30", 1, "\u3000会議\u3000", "", "", true);
        row("leading blank stored and typed", " 会議", day, "09:30", 1, " 会議", "", "", false);
        row("other subject", "会議", day, "09:30", 1, "来客", "", "", false);
        row("quote, same", "it's", day, "09:30", 1, "it's", "", "", true);
        row("quote, not a statement", "会議", day, "09:30", 1, "x' OR '1'='1", "", "", false);
        row("255 characters", "会議", day, "09:30", 1, QString(255, QChar(0x4F1A)), "", "", false);
    }
    void duplicates()
    {
        QFETCH(QString, stored);
        QFETCH(QDate, date);
        QFETCH(QString, time);
        QFETCH(int, importance);
        QFETCH(QString, subject);
        QFETCH(QString, place);
        QFETCH(QString, notice);
        QFETCH(bool, refused);
        m_env->insert(rec(kToday, "09", "30", stored, 1, "本社"));
        QVERIFY(open());
        w<QDateEdit>("DATE_DTP")->setDate(date);
        w<QComboBox>("HOUR_LST")->setCurrentText(time.left(2));
        w<QComboBox>("MIN_LST")->setCurrentText(time.right(2));
        QTest::mouseClick(w(QStringLiteral("IMPO_OPT_%1").arg(importance)), Qt::LeftButton);
        enter(subject, place, notice);
        QTest::mouseClick(w("OK_BTN"), Qt::LeftButton);

        if (refused) {
            QCOMPARE(m_env->shown().size(), 1);
            QCOMPARE(m_env->shown()[0].prompt, kDuplicate);
            QCOMPARE(m_env->shown()[0].title, "ﾃﾞｰﾀ重複ｴﾗｰ");
            QCOMPARE(m_env->shown()[0].icon, MsgIcon::Exclamation);
            QCOMPARE(m_env->count(), 1);
            QCOMPARE(text("DETAIL_TEXT")->text(), subject);
            QCOMPARE(text("PLACE_TEXT")->text(), place);
            QCOMPARE(text("NOTICE_TEXT")->text(), notice);
            QVERIFY(m_form->editFlag());
        } else {
            QVERIFY(m_env->shown().isEmpty());
            QCOMPARE(m_env->rows().value(1), rec(date.toString("yyyy/MM/dd"), time.left(2), time.right(2), subject,
                                                 qint16(importance), place, notice));
            QCOMPARE(m_env->count(), 2);
            QVERIFY(text("DETAIL_TEXT")->text().isEmpty());
            QVERIFY(!m_form->editFlag());
        }
    }

    // The table refuses what does not fit; the user keeps every typed character.
    void refusedByTheTable_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<int>("length");
        QTest::addColumn<QString>("description");
        QTest::newRow("256-character subject") << "DETAIL_TEXT" << 256 << "CHECK constraint failed: P_DETAIL_SIZE";
        QTest::newRow("256-character place") << "PLACE_TEXT" << 256 << "CHECK constraint failed: P_PLACE_SIZE";
        QTest::newRow("40000-character notice") << "NOTICE_TEXT" << 40000 << "CHECK constraint failed: P_NOTICE_SIZE";
        QTest::newRow("table missing") << "" << 0 << "no such table: PLAN_DAT";
    }
    void refusedByTheTable()
    {
        QFETCH(QString, field);
        QFETCH(int, length);
        QFETCH(QString, description);
        if (field.isEmpty())
            m_env->exec("DROP TABLE PLAN_DAT");
        QVERIFY(open());
        enter("会議");
        if (!field.isEmpty()) {
            focusOn(field);
            type(QString(length - text(field)->text().size(), QLatin1Char('y')));
        }
        QTest::mouseClick(w("OK_BTN"), Qt::LeftButton);
        QCOMPARE(m_env->shown().size(), 1);
        QCOMPARE(m_env->shown()[0].prompt, description);
        QCOMPARE(m_env->shown()[0].title, "ミルドカ");
        QCOMPARE(m_env->shown()[0].icon, MsgIcon::None);
        if (!field.isEmpty()) {
            QCOMPARE(m_env->count(), 0);
            QCOMPARE(text(field)->text().size(), length);
        }
        QVERIFY(m_form->editFlag());
        QVERIFY(m_form->isVisible());
    }

    // The window that lists today's appointments reads every column as text and fails on NULL.
    void emptyPlaceAndNoticeAreEmptyTexts()
    {
        QVERIFY(open());
        enter("会議");
        QTest::mouseClick(w("OK_BTN"), Qt::LeftButton);
        platform::Recordset rs = m_module.db().openRecordset(store::listTodaySql(kToday));
        QCOMPARE(rs.recordCount(), 1);
        for (const char* column : {"P_PLACE", "P_NOTICE"}) {
            QVERIFY(!rs.value(QString::fromLatin1(column)).isNull());
            QCOMPARE(rs.text(QString::fromLatin1(column)), "");
        }
    }

    // From the main window's menu to its count: the form saves one appointment and closes.
    void countInTheMainWindow_data()
    {
        QTest::addColumn<QDateTime>("opened");
        QTest::addColumn<QString>("storedDate");
        QTest::addColumn<QString>("count");
        QTest::newRow("today") << QDateTime(QDate(2000, 4, 15), QTime(23, 50)) << kToday << "2件の予定が入っています。";
        QTest::newRow("after midnight") << QDateTime(QDate(2000, 4, 16), QTime(0, 10)) << "2000/04/16"
                                        << "1件の予定が入っています。";
    }
    void countInTheMainWindow()
    {
        QFETCH(QDateTime, opened);
        QFETCH(QString, storedDate);
        QFETCH(QString, count);
        m_env->setNow(QDateTime(QDate(2000, 4, 15), QTime(9, 0)));
        m_env->insert(rec(kToday, "08", "00", "朝礼"));
        state::Module1 module;
        MAIN_FRM main(module);
        main.startUp();
        main.show();
        main.refresh();
        auto* tell = find<QLabel>(&main, QStringLiteral("TELL_LABEL"));
        QCOMPARE(tell->text(), "1件の予定が入っています。");

        m_env->setNow(opened);
        // Runs inside the window's own event loop: nothing here may return early and leave it open.
        QString seen;
        bool leftOpen = false;
        testing::onNextModal([&](QWidget* modal) {
            seen = modal->objectName();
            if (auto* detail = modal->findChild<QLineEdit*>(QStringLiteral("DETAIL_TEXT")))
                type("会議", detail);
            for (const QString& button : {QStringLiteral("OK_BTN"), QStringLiteral("CLOSE_BTN")}) {
                if (auto* pushButton = modal->findChild<QPushButton*>(button))
                    QTest::mouseClick(pushButton, Qt::LeftButton);
            }
            if (modal->isVisible()) {
                leftOpen = true;
                if (auto* dialog = qobject_cast<QDialog*>(modal))
                    dialog->done(QDialog::Rejected);
            }
        });
        main.mnuSche_Click();
        QCOMPARE(seen, "PLAN_FRM");
        QVERIFY(!leftOpen);
        QCOMPARE(m_env->rows().value(1), rec(storedDate, "00", "00", "会議"));
        QCOMPARE(tell->text(), count);
        QVERIFY(m_env->shown().isEmpty());
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
        main.close();
    }
};

QTEST_MAIN(TestPlanEntry)
#include "test_plan_entry.moc"
