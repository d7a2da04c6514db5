// Hostile text typed or pasted into the entry form and the settings form. Every input is either
// stored and read back exactly as the field held it, or refused with its message; no input
// changes a statement, so the table and every other row stay as they were.
#include "main_window/main_frm.h"
#include "plan_entry/plan_frm.h"
#include "settings_dialog/setting_frm.h"
#include "state/module1.h"
#include "support/test_env.h"
#include "today_list/listen_frm.h"

#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include <sqlite3.h>

#include <memory>

using platform::MsgAnswer;
using platform::MsgButtons;
using platform::MsgIcon;
using testing::rec;
using testing::TestEnv;

namespace {

const QString kToday = QStringLiteral("2000/04/15");

enum class Outcome { Stored, Empty, TooLong };

struct Input {
    const char* label;
    QString text;
    bool pasted;
    Outcome subject;
    Outcome placeOrNotice;
    Outcome name;
};

QString repeated(const QString& piece, int times)
{
    QString result;
    for (int i = 0; i < times; ++i)
        result += piece;
    return result;
}

QList<Input> hostileInputs()
{
    const QString nul(QChar(0));
    const QString smile = QStringLiteral("\U0001F600");
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
        {"two emoji (4 code units)", repeated(smile, 2), false, O::Stored, O::Stored, O::Stored},
        {"three emoji (6 code units)", repeated(smile, 3), false, O::Stored, O::Stored, O::TooLong},
        {"right-to-left marks", "\u202E議会\u200F", false, O::Stored, O::Stored, O::Stored},
        {"255 characters", QString(255, QChar(0x4F1A)), false, O::Stored, O::Stored, O::TooLong},
        {"256 characters", QString(256, QChar(0x4F1A)), false, O::TooLong, O::TooLong, O::TooLong},
        {"pasted, short, with a line break", "山\n田", true, O::Stored, O::Stored, O::Stored},
        // Longer than a name field lets in: the paste is refused whole and the field stays empty.
        {"pasted, several lines", "一行目\n二行目\r\n三行目\r", true, O::Stored, O::Stored, O::Empty},
    };
}

// What the tests tried, for the figures.
int g_entries = 0;

// Text as the input method commits it, one piece at a time.
void commit(QLineEdit* field, const QString& text)
{
    QInputMethodEvent event;
    event.setCommitString(text);
    QApplication::sendEvent(field, &event);
}

// Empties the field as the user would, then puts the text in: pasted from the clipboard, or
// typed character by character (a surrogate pair is one character, as the keyboard sends it).
void enter(QLineEdit* field, const QString& text, bool pasted)
{
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(field, Qt::Key_Delete);
    if (pasted) {
        QGuiApplication::clipboard()->setText(text);
        QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
        return;
    }
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype length = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        commit(field, text.mid(i, length));
        i += length - 1;
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

// The table's definition and the file's own check, to show that nothing was dropped or broken.
QString soundness(const QString& path)
{
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    QString result;
    sqlite3_stmt* stmt = nullptr;
    const char* sql = "SELECT type || ' ' || name FROM sqlite_master UNION ALL SELECT * FROM pragma_integrity_check";
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK)
        while (sqlite3_step(stmt) == SQLITE_ROW)
            result += QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0))) + QLatin1Char(';');
    else
        result = QString::fromUtf8(sqlite3_errmsg(db));
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return result;
}

template <class W> W* child(QWidget* window, const char* name)
{
    W* widget = window->findChild<W*>(QString::fromLatin1(name));
    if (!widget)
        qFatal("no control %s", name);
    return widget;
}

QStringList okPrompts(const TestEnv& env)
{
    QStringList result;
    for (const auto& box : env.shown())
        if (box.buttons == MsgButtons::Ok)
            result << box.prompt;
    return result;
}

} // namespace

class TestReliabilityInput : public QObject {
    Q_OBJECT
private slots:
    void cleanup()
    {
        for (QWidget* w : QApplication::topLevelWidgets())
            QVERIFY2(!w->isVisible(), qPrintable(w->objectName() + " left open"));
    }
    void cleanupTestCase()
    {
        qInfo("hostile inputs tried: %lld, through 5 fields: %d entries", qint64(hostileInputs().size()), g_entries);
    }

    // Through the entry form into the subject, the place or the notice; then read back through
    // the table and today's list, saved again (a stored subject is a duplicate) and deleted.
    void entryForm_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("pasted");
        QTest::addColumn<Outcome>("outcome");
        for (const Input& input : hostileInputs()) {
            QTest::addRow("subject: %s", input.label) << "DETAIL_TEXT" << input.text << input.pasted << input.subject;
            QTest::addRow("place: %s", input.label) << "PLACE_TEXT" << input.text << input.pasted << input.placeOrNotice;
            QTest::addRow("notice: %s", input.label) << "NOTICE_TEXT" << input.text << input.pasted << input.placeOrNotice;
        }
    }
    void entryForm()
    {
        QFETCH(QString, field);
        QFETCH(QString, text);
        QFETCH(bool, pasted);
        QFETCH(Outcome, outcome);
        ++g_entries;
        TestEnv env;
        // Rows that a statement broken by the text would find, change or delete.
        env.insert(rec(kToday, "00", "00", "x", 0, "本社", "1"));
        env.insert(rec(kToday, "00", "00", "1", 2, "x", "'"));
        env.insert(rec(kToday, "09", "00", "会議", 1, "本社", "資料"));
        env.insert(rec("2000/04/16", "00", "00", "x"));
        const QStringList others = table(env);
        const QString sound = soundness(env.dbPath());

        state::Module1 module;
        module.SEC_DB = platform::Database::open(env.dbPath());
        module.TODAY_STR = kToday;
        auto form = std::make_unique<PLAN_FRM>(module);
        QVERIFY(form->prepare());
        form->show();
        const QHash<QString, QString> marker = {{"DETAIL_TEXT", "試験"}, {"PLACE_TEXT", "場所"}, {"NOTICE_TEXT", "備考"}};
        for (const char* name : {"DETAIL_TEXT", "PLACE_TEXT", "NOTICE_TEXT"})
            enter(child<QLineEdit>(form.get(), name), name == field ? text : marker[name], name == field && pasted);
        auto value = [&form](const char* name) { return child<QLineEdit>(form.get(), name)->text(); };
        const QString subject = value("DETAIL_TEXT");
        const QString place = value("PLACE_TEXT");
        const QString notice = value("NOTICE_TEXT");
        if (!pasted)
            QCOMPARE(child<QLineEdit>(form.get(), qPrintable(field))->text(), text);

        QTest::mouseClick(child<QPushButton>(form.get(), "OK_BTN"), Qt::LeftButton);
        QCOMPARE(soundness(env.dbPath()), sound);
        if (outcome != Outcome::Stored) {
            const QString column = field == "DETAIL_TEXT" ? "P_DETAIL" : field == "PLACE_TEXT" ? "P_PLACE" : "P_NOTICE";
            QCOMPARE(okPrompts(env), QStringList{outcome == Outcome::Empty
                                                     ? QStringLiteral("用件を入力して下さい。")
                                                     : QStringLiteral("CHECK constraint failed: %1_SIZE").arg(column)});
            QCOMPARE(env.shown().first().title,
                     outcome == Outcome::Empty ? QStringLiteral("入力ｴﾗｰ") : platform::programTitle());
            QCOMPARE(value("DETAIL_TEXT") + value("PLACE_TEXT") + value("NOTICE_TEXT"), subject + place + notice);
            QCOMPARE(table(env), others);
            form->done(0);
            return;
        }

        // Stored exactly as the fields held it, beside the others, which are untouched.
        QCOMPARE(okPrompts(env), QStringList{});
        const store::PLAN_REC saved = rec(kToday, "00", "00", subject, 1, place, notice);
        QCOMPARE(table(env), others + QStringList{show(saved)});
        QCOMPARE(value("DETAIL_TEXT"), QString());

        // The same appointment again is found by the duplicate check, text and all.
        enter(child<QLineEdit>(form.get(), "DETAIL_TEXT"), subject, true);
        QTest::mouseClick(child<QPushButton>(form.get(), "OK_BTN"), Qt::LeftButton);
        QCOMPARE(okPrompts(env), QStringList{"同じ用件が存在します。"});
        QCOMPARE(table(env), others + QStringList{show(saved)});
        form->done(0);

        // Today's list reads it back: the line is the subject, the details are place and notice.
        env.clearShown();
        LISTEN_FRM list(module);
        QVERIFY(list.prepare());
        list.show();
        auto* lines = child<QListWidget>(&list, "DETAIL_LST");
        int line = -1;
        for (int i = 0; i < lines->count(); ++i)
            if (lines->item(i)->text() == subject)
                line = i;
        QVERIFY2(line >= 0, "the subject is not among the lines");
        lines->setCurrentRow(line);
        QCOMPARE(child<QLabel>(&list, "PLACE_LABEL")->text(), place);
        QCOMPARE(child<QLabel>(&list, "NOTICE_LABEL")->text(), notice);

        // Deleting it removes that row and no other.
        env.answer(MsgAnswer::Yes);
        QTest::keyClick(lines, Qt::Key_Delete);
        QCOMPARE(okPrompts(env), QStringList{});
        QCOMPARE(table(env), others);
        QCOMPARE(lines->count(), 3);
        QCOMPARE(soundness(env.dbPath()), sound);
        list.done(0);
    }

    // Through the settings form into either name; a stored name is read back from the store
    // by the next start.
    void settingsForm_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("pasted");
        QTest::addColumn<Outcome>("outcome");
        for (const Input& input : hostileInputs()) {
            QTest::addRow("secretary: %s", input.label) << "S_NAME_TEXT" << input.text << input.pasted << input.name;
            QTest::addRow("user: %s", input.label) << "M_NAME_TEXT" << input.text << input.pasted << input.name;
        }
    }
    void settingsForm()
    {
        QFETCH(QString, field);
        QFETCH(QString, text);
        QFETCH(bool, pasted);
        QFETCH(Outcome, outcome);
        ++g_entries;
        TestEnv env;
        env.insert(rec(kToday, "09", "00", "会議"));
        const QStringList rows = table(env);
        const bool secretary = field == "S_NAME_TEXT";

        state::Module1 module;
        module.SEC_NAME_STR = QStringLiteral("秘書");
        module.MY_NAME_STR = QStringLiteral("社長");
        module.SEC_PIC_PATH = env.girlPath();
        auto form = std::make_unique<SETTING_FRM>(module);
        QVERIFY(form->prepare());
        form->show();
        auto* typedInto = child<QLineEdit>(form.get(), qPrintable(field));
        auto* other = child<QLineEdit>(form.get(), secretary ? "M_NAME_TEXT" : "S_NAME_TEXT");
        enter(other, secretary ? QStringLiteral("部長") : QStringLiteral("受付"), false);
        enter(typedInto, text, pasted);
        const QString held = typedInto->text();
        // Typing stops at six code units; what fits is kept whole.
        if (!pasted && text.size() <= 6)
            QCOMPARE(held, text);

        QTest::mouseClick(child<QPushButton>(form.get(), "CMD_UPDATE"), Qt::LeftButton);
        QCOMPARE(table(env), rows);
        if (outcome != Outcome::Stored) {
            const QString prompt = outcome == Outcome::TooLong ? QStringLiteral("文字数が多すぎます。\r（5文字以内）")
                                   : secretary ? QStringLiteral("秘書の名前を入力して下さい。\r")
                                               : QStringLiteral("あなたの名前を入力して下さい。\r（半角／全角5）");
            QCOMPARE(env.prompts(), QStringList{prompt});
            QCOMPARE(env.shown().first().title, QStringLiteral("エラー発生！"));
            QCOMPARE(env.shown().first().icon, MsgIcon::Exclamation);
            QVERIFY(form->isVisible());
            QCOMPARE(typedInto->text(), held);
            QVERIFY(!env.hasSetting("SEC_NAME") && !env.hasSetting("MY_NAME"));
            QCOMPARE(module.SEC_NAME_STR + module.MY_NAME_STR, QStringLiteral("秘書社長"));
            form->done(0);
            return;
        }

        QVERIFY(env.shown().isEmpty());
        QVERIFY(!form->isVisible());
        QCOMPARE(secretary ? module.SEC_NAME_STR : module.MY_NAME_STR, held);
        QCOMPARE(env.setting(secretary ? "SEC_NAME" : "MY_NAME"), held);

        // The next start reads it back and shows it.
        state::Module1 next;
        MAIN_FRM main(next);
        main.startUp();
        main.show();
        main.refresh();
        QVERIFY(env.shown().isEmpty());
        QCOMPARE(secretary ? next.SEC_NAME_STR : next.MY_NAME_STR, held);
        if (secretary)
            QCOMPARE(child<QLabel>(&main, "NAME_LABEL")->text(), held + QStringLiteral("："));
        main.close();
    }
};

QTEST_MAIN(TestReliabilityInput)
#include "test_reliability_input.moc"
