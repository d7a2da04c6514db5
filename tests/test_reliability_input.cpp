// Hostile text typed or pasted into the entry form and the settings form. Every input is either
// stored and read back exactly as the field held it, or refused with its message; no input
// changes a statement, so the table and every other row stay as they were.
#include "main_window/main_frm.h"
#include "plan_entry/plan_frm.h"
#include "settings_dialog/setting_frm.h"
#include "state/module1.h"
#include "support/test_env.h"
#include "today_list/listen_frm.h"

#include <QtTest>
#include <QtWidgets>

using testing::rec;
using testing::TestEnv;

namespace {

const QString kToday = QStringLiteral("2000/04/15");
int g_entries = 0; // what the tests tried, for the figures

enum class Outcome { Stored, Empty, TooLong };

struct Input {
    const char* label;
    QString text;
    bool pasted;
    Outcome subject, placeOrNotice, name;
};

QList<Input> hostileInputs()
{
    const QString nul(QChar(0));
    using O = Outcome;
    return {
        {"one quote", "'", false, O::Stored, O::Stored, O::Stored},
        {"two quotes", "''", false, O::Stored, O::Stored, O::Stored},
        {"always-true condition", "x' OR '1'='1", false, O::Stored, O::Stored, O::TooLong},
        {"dropping the table", "'; DROP TABLE PLAN_DAT; --", false, O::Stored, O::Stored, O::TooLong},
        {"backslash before a quote", "\\'\\\\", false, O::Stored, O::Stored, O::Stored},
        {"backslash escape attempt", "a\\'; DELETE FROM PLAN_DAT; --", false, O::Stored, O::Stored, O::TooLong},
        {"NUL inside", "会" + nul + "議", false, O::Stored, O::Stored, O::Stored},
        {"NUL first, then a quote", nul + "'x", false, O::Stored, O::Stored, O::Stored},
        {"ideographic spaces only", "\u3000\u3000\u3000", false, O::Empty, O::Stored, O::Empty},
        {"two emoji (4 code units)", "\U0001F600\U0001F600", false, O::Stored, O::Stored, O::Stored},
        {"three emoji (6 code units)", "\U0001F600\U0001F600\U0001F600", false, O::Stored, O::Stored, O::TooLong},
        {"right-to-left marks", "\u202E議会\u200F", false, O::Stored, O::Stored, O::Stored},
        {"255 characters", QString(255, QChar(0x4F1A)), false, O::Stored, O::Stored, O::TooLong},
        {"256 characters", QString(256, QChar(0x4F1A)), false, O::TooLong, O::TooLong, O::TooLong},
        {"pasted, short, with a line break", "山\n田", true, O::Stored, O::Stored, O::Stored},
        // Longer than a name field lets in: the paste is refused whole and the field stays empty.
        {"pasted, several lines", "一行目\n二行目\r\n三行目\r", true, O::Stored, O::Stored, O::Empty},
    };
}

// Empties the field as the user would, then puts the text in: pasted from the clipboard, or
// typed as the input method commits it, a character at a time (a surrogate pair is one).
void enter(QWidget* field, const QString& text, bool pasted)
{
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(field, Qt::Key_Delete);
    if (pasted) {
        QGuiApplication::clipboard()->setText(text);
        QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
    }
    for (qsizetype i = 0; !pasted && i < text.size(); ++i) {
        QInputMethodEvent event;
        event.setCommitString(text.mid(i, text[i].isHighSurrogate() ? 2 : 1));
        i += event.commitString().size() - 1;
        QApplication::sendEvent(field, &event);
    }
}

// A row as one line. Backslashes and NULs are escaped, so that a NUL shows in a failure message
// and two different rows never read the same.
QString show(const store::PLAN_REC& r)
{
    QStringList fields{r.P_DATE, r.P_HOUR, r.P_MIN, r.P_DETAIL, QString::number(r.P_IMPORTANCE), r.P_PLACE, r.P_NOTICE};
    for (QString& field : fields)
        field.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QChar(0), QLatin1String("\\0"));
    return fields.join(QLatin1Char('|'));
}

QStringList table(const TestEnv& env)
{
    QStringList result;
    for (const auto& r : env.rows())
        result << show(r);
    return result;
}

// A box as its prompt, title and icon.
QString box(const QString& prompt, const QString& title, platform::MsgIcon icon)
{
    return QStringLiteral("%1 (%2, icon %3)").arg(prompt, title).arg(int(icon));
}

QStringList told(const TestEnv& env)
{
    QStringList result;
    for (const auto& b : env.shown())
        result << box(b.prompt, b.title, b.icon);
    return result;
}

} // namespace

class TestReliabilityInput : public QObject {
    Q_OBJECT
private slots:
    void cleanupTestCase()
    {
        qInfo("hostile inputs tried: %lld, through 5 fields: %d entries", qint64(hostileInputs().size()), g_entries);
    }

    // Through the entry form into the subject, the place or the notice; then read back through
    // the table and today's list, saved again (a stored subject is a duplicate) and deleted.
    void entryForm_data()
    {
        QTest::addColumn<int>("field"); // subject, place, notice
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("pasted");
        QTest::addColumn<Outcome>("outcome");
        for (const Input& input : hostileInputs()) {
            QTest::addRow("subject: %s", input.label) << 0 << input.text << input.pasted << input.subject;
            QTest::addRow("place: %s", input.label) << 1 << input.text << input.pasted << input.placeOrNotice;
            QTest::addRow("notice: %s", input.label) << 2 << input.text << input.pasted << input.placeOrNotice;
        }
    }
    void entryForm()
    {
        QFETCH(int, field);
        QFETCH(QString, text);
        QFETCH(bool, pasted);
        QFETCH(Outcome, outcome);
        ++g_entries;
        TestEnv env;
        // Rows that a statement broken by the text would find, change or delete.
        for (const auto& r : {rec(kToday, "00", "00", "x", 0, "本社", "1"), rec(kToday, "00", "00", "1", 2, "x", "'"),
                              rec(kToday, "09", "00", "会議", 1, "本社", "資料"), rec("2000/04/16", "00", "00", "x")})
            env.insert(r);
        const QStringList others = table(env);
        state::Module1 module;
        module.SEC_DB = platform::Database::open(env.dbPath());
        module.TODAY_STR = kToday;
        PLAN_FRM form(module);
        QVERIFY(form.prepare());
        form.show();
        QList<QLineEdit*> fields;
        for (const char* name : {"DETAIL_TEXT", "PLACE_TEXT", "NOTICE_TEXT"})
            fields << form.findChild<QLineEdit*>(name);
        const QStringList markers{"試験", "場所", "備考"};
        QStringList held; // what the fields hold
        for (int i = 0; i < 3; ++i) {
            enter(fields[i], i == field ? text : markers[i], i == field && pasted);
            held << fields[i]->text();
        }
        if (!pasted)
            QCOMPARE(held[field], text);
        QTest::mouseClick(form.findChild<QPushButton*>("OK_BTN"), Qt::LeftButton);
        const QString column = QStringList{"P_DETAIL", "P_PLACE", "P_NOTICE"}[field];
        QCOMPARE(told(env), outcome == Outcome::Stored ? QStringList{}
                            : outcome == Outcome::Empty
                                ? QStringList{box("用件を入力して下さい。", "入力ｴﾗｰ", platform::MsgIcon::Exclamation)}
                                : QStringList{box("CHECK constraint failed: " + column + "_SIZE", platform::programTitle(),
                                                  platform::MsgIcon::None)});
        if (outcome != Outcome::Stored) {
            QCOMPARE(fields[0]->text() + fields[1]->text() + fields[2]->text(), held.join(""));
            QCOMPARE(table(env), others);
            return;
        }
        // Stored exactly as the fields held it, beside the others, which are untouched.
        const QStringList stored = others + QStringList{show(rec(kToday, "00", "00", held[0], 1, held[1], held[2]))};
        QCOMPARE(table(env), stored);
        // The same appointment again is found by the duplicate check, text and all.
        enter(fields[0], held[0], true);
        QTest::mouseClick(form.findChild<QPushButton*>("OK_BTN"), Qt::LeftButton);
        QCOMPARE(told(env), QStringList{box("同じ用件が存在します。", "ﾃﾞｰﾀ重複ｴﾗｰ", platform::MsgIcon::Exclamation)});
        QCOMPARE(table(env), stored);

        // Today's list reads it back: the line is the subject, the details are place and notice.
        env.clearShown();
        LISTEN_FRM list(module);
        QVERIFY(list.prepare());
        list.show();
        auto* lines = list.findChild<QListWidget*>("DETAIL_LST");
        const auto found = lines->findItems(held[0], Qt::MatchExactly);
        QCOMPARE(found.size(), 1);
        lines->setCurrentItem(found.first());
        QCOMPARE(list.findChild<QLabel*>("PLACE_LABEL")->text(), held[1]);
        QCOMPARE(list.findChild<QLabel*>("NOTICE_LABEL")->text(), held[2]);

        // Deleting it removes that row and no other.
        env.answer(platform::MsgAnswer::Yes);
        QTest::keyClick(lines, Qt::Key_Delete);
        QCOMPARE(told(env).size(), 1); // the question only
        QCOMPARE(table(env), others);
    }

    // Through the settings form into either name; a stored name is read back from the store
    // by the next start.
    void settingsForm_data()
    {
        QTest::addColumn<bool>("secretary");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("pasted");
        QTest::addColumn<Outcome>("outcome");
        for (const Input& input : hostileInputs()) {
            QTest::addRow("secretary: %s", input.label) << true << input.text << input.pasted << input.name;
            QTest::addRow("user: %s", input.label) << false << input.text << input.pasted << input.name;
        }
    }
    void settingsForm()
    {
        QFETCH(bool, secretary);
        QFETCH(QString, text);
        QFETCH(bool, pasted);
        QFETCH(Outcome, outcome);
        ++g_entries;
        TestEnv env;
        state::Module1 module;
        module.SEC_NAME_STR = QStringLiteral("秘書");
        module.MY_NAME_STR = QStringLiteral("社長");
        module.SEC_PIC_PATH = env.girlPath();
        SETTING_FRM form(module);
        QVERIFY(form.prepare());
        form.show();
        auto* typedInto = form.findChild<QLineEdit*>(secretary ? "S_NAME_TEXT" : "M_NAME_TEXT");
        enter(form.findChild<QLineEdit*>(secretary ? "M_NAME_TEXT" : "S_NAME_TEXT"), secretary ? "部長" : "受付", false);
        enter(typedInto, text, pasted);
        const QString held = typedInto->text();
        // Typing stops at six code units; what fits is kept whole.
        if (!pasted && text.size() <= 6)
            QCOMPARE(held, text);

        QTest::mouseClick(form.findChild<QPushButton*>("CMD_UPDATE"), Qt::LeftButton);
        const bool stored = outcome == Outcome::Stored;
        const QString prompt = outcome == Outcome::TooLong ? QStringLiteral("文字数が多すぎます。\r（5文字以内）")
                               : secretary ? QStringLiteral("秘書の名前を入力して下さい。\r")
                                           : QStringLiteral("あなたの名前を入力して下さい。\r（半角／全角5）");
        QCOMPARE(told(env), stored ? QStringList{} : QStringList{box(prompt, "エラー発生！", platform::MsgIcon::Exclamation)});
        QCOMPARE(form.isVisible(), !stored);
        QCOMPARE(typedInto->text(), held);
        const QStringList names = !stored ? QStringList{"秘書", "社長"} : secretary ? QStringList{held, "部長"}
                                                                                  : QStringList{"受付", held};
        QCOMPARE(QStringList({module.SEC_NAME_STR, module.MY_NAME_STR}), names);

        // The next start reads both back from the store (where a refused name left nothing) and
        // shows the secretary's.
        env.clearShown();
        state::Module1 next;
        MAIN_FRM main(next);
        main.startUp();
        main.refresh();
        QCOMPARE(told(env), QStringList{});
        QCOMPARE(QStringList({next.SEC_NAME_STR, next.MY_NAME_STR}), names);
        QCOMPARE(main.findChild<QLabel*>("NAME_LABEL")->text(), names[0] + QStringLiteral("："));
        QCOMPARE(env.hasSetting("SEC_NAME") || env.hasSetting("MY_NAME"), stored);
    }
};

QTEST_MAIN(TestReliabilityInput)
#include "test_reliability_input.moc"
