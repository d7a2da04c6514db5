// Hostile text typed or pasted into the entry form. Each input is stored and read back exactly,
// and shown as the text it is, or refused with its message; no input changes a statement or
// loads anything, so the other rows stay as they were. (The names go through the settings test.)
#include "plan_entry/plan_frm.h"
#include "support/test_env.h"
#include "today_list/listen_frm.h"

#include <QtTest>
#include <QtWidgets>

using platform::MsgIcon;
using testing::box;
using testing::rec;
using testing::TestEnv;

namespace {
// Puts the text in as the user would: pasted, or committed by the input method.
void enter(QLineEdit* field, const QString& text, bool pasted)
{
    field->clear();
    field->setFocus();
    QGuiApplication::clipboard()->setText(text);
    QInputMethodEvent event;
    event.setCommitString(text);
    pasted ? QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier) : (void)QApplication::sendEvent(field, &event);
}

void inputs()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("pasted");
    QTest::addColumn<QString>("subjectRefusal");
    const QString nul(QChar(0));
    QTest::newRow("one quote") << "'" << false << "";
    QTest::newRow("always-true condition") << "x' OR '1'='1" << false << "";
    QTest::newRow("dropping the table") << "'; DROP TABLE PLAN_DAT; --" << false << "";
    QTest::newRow("backslashes and a quote") << "\\'\\\\" << false << "";
    QTest::newRow("NUL first, then a quote") << nul + "'x" << false << "";
    QTest::newRow("emoji and right-to-left marks") << "\U0001F600\u202E議\u200F" << false << "";
    QTest::newRow("an image of /dev/zero") << "<img src=\"/dev/zero\">" << false << "";
    QTest::newRow("bold and an entity") << "<b>&amp;</b>" << true << "";
    QTest::newRow("ideographic spaces only")
        << "\u3000\u3000" << false << box("用件を入力して下さい。", "入力ｴﾗｰ", MsgIcon::Exclamation);
    QTest::newRow("pasted line break") << "山\n田" << true << "";
}
} // namespace

class TestReliabilityInput : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty()); }

    // Into all three fields of the entry form, then read back through the table and today's list,
    // saved again (found as a duplicate) and deleted.
    void entryForm_data() { inputs(); }
    void entryForm()
    {
        QFETCH(QString, text);
        QFETCH(bool, pasted);
        QFETCH(QString, subjectRefusal);
        TestEnv env;
        for (const auto& r : {rec("2000/04/15", "00", "00", "x", 0, "'", "1"), rec("2000/04/16", "00", "00", "1")})
            env.insert(r);
        const QStringList others = env.table();
        state::Module1 module;
        module.SEC_DB = platform::Database::open(env.dbPath());
        module.TODAY_STR = "2000/04/15";
        PLAN_FRM form(module);
        QVERIFY(form.prepare());
        form.show();
        QStringList held;
        for (const char* name : {"PLACE_TEXT", "NOTICE_TEXT", "DETAIL_TEXT"}) {
            CHILD(field, QLineEdit, &form, name);
            enter(field, text, pasted);
            held << field->text();
        }
        QCOMPARE(held[2], pasted ? held[2] : text);
        for (int i = 0; i < 2; ++i) {
            form.findChild<QPushButton*>("OK_BTN")->click();
            enter(form.findChild<QLineEdit*>("DETAIL_TEXT"), held[2], true);
        }
        const QString stored = testing::line(rec("2000/04/15", "00", "00", held[2], 1, held[0], held[1]));
        const QString duplicate = box("同じ用件が存在します。", "ﾃﾞｰﾀ重複ｴﾗｰ", MsgIcon::Exclamation);
        QCOMPARE(env.told(), subjectRefusal.isEmpty() ? QStringList{duplicate} : QStringList(2, subjectRefusal));
        QCOMPARE(env.table(), others + QStringList{stored}.mid(0, subjectRefusal.isEmpty()));

        // Today's list reads it back, the details shown as text; Delete removes that row only.
        LISTEN_FRM list(module);
        QVERIFY(list.prepare());
        list.show();
        CHILD(lines, QListWidget, &list, "DETAIL_LST");
        lines->setCurrentItem(lines->findItems(subjectRefusal.isEmpty() ? held[2] : "x", Qt::MatchExactly).value(0));
        QCOMPARE(lines->currentItem()->text() + list.findChild<QLabel*>("PLACE_LABEL")->text()
                     + list.findChild<QLabel*>("NOTICE_LABEL")->text(),
                 subjectRefusal.isEmpty() ? held[2] + held[0] + held[1] : QString("x'1"));
        env.answer(platform::MsgAnswer::Yes);
        QTest::keyClick(lines, Qt::Key_Delete);
        QCOMPARE(env.table(), others.mid(subjectRefusal.isEmpty() ? 0 : 1));
    }
};

QTEST_MAIN(TestReliabilityInput)
#include "test_reliability_input.moc"
