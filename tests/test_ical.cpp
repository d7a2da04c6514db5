// iCalendar files in and out through the two commands of the tools menu, the real file dialog
// seam and sec.mdb. Times are read in Asia/Tokyo (set before anything reads the local time).
#include "support/test_env.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTest>

#include <time.h>

using testing::rec;
using testing::StartedMain;
using testing::TestEnv;

namespace {

// A zone of the calendar's own (not a system name), as Outlook and Google write them: US Eastern
// with the daylight-saving rule of 2000.
const QByteArray kEastern = "BEGIN:VTIMEZONE\nTZID:Eastern\nBEGIN:STANDARD\nDTSTART:19701025T020000\n"
                            "RRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU\nTZOFFSETFROM:-0400\nTZOFFSETTO:-0500\nEND:STANDARD\n"
                            "BEGIN:DAYLIGHT\nDTSTART:19700405T020000\nRRULE:FREQ=YEARLY;BYMONTH=4;BYDAY=1SU\n"
                            "TZOFFSETFROM:-0500\nTZOFFSETTO:-0400\nEND:DAYLIGHT\nEND:VTIMEZONE\n";

const QByteArray kGoogle =
    "BEGIN:VCALENDAR\nPRODID:-//Google Inc//Google Calendar 70.9054//EN\nVERSION:2.0\n" + kEastern
    + "BEGIN:VEVENT\nDTSTART;TZID=Eastern:20000403T090000\nDTEND;TZID=Eastern:20000403T100000\n"
      "RRULE:FREQ=WEEKLY;COUNT=5\nEXDATE;TZID=Eastern:20000417T090000\nRDATE;TZID=Eastern:20000419T090000\n"
      "UID:w@google.com\nSUMMARY:週次会議\nLOCATION:会議室A\nEND:VEVENT\nBEGIN:VEVENT\nUID:w@google.com\n"
      "RECURRENCE-ID;TZID=Eastern:20000424T090000\nDTSTART;TZID=Eastern:20000425T110000\nSUMMARY:週次会議（変更）\n"
      "END:VEVENT\nEND:VCALENDAR\n";

const QByteArray kApple =
    "BEGIN:VCALENDAR\nVERSION:2.0\nPRODID:-//Apple Inc.//Mac OS X 10.15//EN\n"
    "BEGIN:VEVENT\nUID:u1\nDTSTART:20000415T012000Z\nSUMMARY:朝会\nPRIORITY:3\nEND:VEVENT\n"
    "BEGIN:VEVENT\nUID:u1b\nDTSTART:20000415T012000Z\nSUMMARY: 朝会 \nEND:VEVENT\n"
    "BEGIN:VEVENT\nUID:u2\nDTSTART;VALUE=DATE:20000420\nDTEND;VALUE=DATE:20000421\nSUMMARY:休\n 暇\n"
    "LOCATION:会\xe8\n \xad\xb0室\nPRIORITY:7\nEND:VEVENT\nBEGIN:VEVENT\nUID:u3\nDTSTART;VALUE=DATE:19900105\n"
    "RRULE:FREQ=YEARLY\nSUMMARY:誕生日\nDESCRIPTION:" + QByteArray(300, 'x')
    + "\nEND:VEVENT\nBEGIN:VEVENT\nUID:u4\nDTSTART;TZID=Europe/Berlin:20000420T120000\nSUMMARY:ベルリン\nPRIORITY:5\n"
      "END:VEVENT\nBEGIN:VEVENT\nUID:u5\nDTSTART:20000421T090000\nSUMMARY:中止\nSTATUS:CANCELLED\nEND:VEVENT\n"
      "BEGIN:VEVENT\nUID:u6\nDTSTART;VALUE=DATE:20000414\nSUMMARY:昨日\nEND:VEVENT\n"
      "BEGIN:VEVENT\nUID:u7\nDTSTART:20000422T090000\nEND:VEVENT\nEND:VCALENDAR\n";

} // namespace

class TestIcal : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        qputenv("TZ", "Asia/Tokyo");
        tzset();
    }
    void cleanup() { QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty()); }

    void roundTripThroughTheCommands()
    {
        TestEnv env;
        StartedMain main; // on an empty table, so that today's count shows that an import refreshes it
        QAction* exportItem = main.action("actionExportIcal");
        QAction* importItem = main.action("actionImportIcal");
        QVERIFY2(exportItem && importItem, "actionExportIcal, actionImportIcal");
        QCOMPARE(exportItem->text(), QStringLiteral("iCalendar 書き出し(&E)…"));
        QCOMPARE(importItem->text(), QStringLiteral("iCalendar 読み込み(&I)…"));
        exportItem->trigger(); // no file chosen: both are cancelled and tell nothing (see the prompts below)
        importItem->trigger();
        for (const store::PLAN_REC& r :
             {rec("2000/04/15", "09", "30", "会議, 議題; 予算\\資料 \\n", 0, "本社\r\n3階", "😀 絵文字\n二行目\r三行目"),
              rec("2000/04/15", "09", "30", " 前後に空白　", 1, "\t", "'; DROP TABLE PLAN_DAT; --"),
              rec("2000/04/16", "23", "45", QString(255, u'長'), 2, QStringLiteral("😀あ,;").repeated(63), "é\\,\\;"),
              rec("2001/01/01", "00", "00", "<b>NUL</b>", 1, "", QStringLiteral("前") + QChar(0) + QStringLiteral("後"))})
            env.insert(r);
        const QStringList table = env.table();
        const QString file = env.path("予定.ics");
        env.answerFile(file);
        exportItem->trigger();

        // Every line ends in CRLF, holds at most 75 octets, and is whole UTF-8 on its own.
        const QByteArray exported = testing::bytesOf(file);
        QVERIFY(exported.startsWith("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//ミルドカ//MERIDOCAL 2.00//JA\r\n"));
        for (const QByteArray& line : exported.chopped(1).split('\n'))
            QVERIFY2(line.endsWith('\r') && line.size() <= 76 && QString::fromUtf8(line).toUtf8() == line, line.data());

        // The same appointments keep their UIDs at a later export.
        const auto uids = [](const QByteArray& text) { return QString::fromUtf8(text).split("\r\n").filter("UID:"); };
        env.setNow(QDateTime(QDate(2000, 4, 15), QTime(11, 0)));
        env.answerFile(env.path("again.ics"));
        exportItem->trigger();
        QCOMPARE(uids(testing::bytesOf(env.path("again.ics"))), uids(exported));
        QCOMPARE(uids(exported).size(), 4);

        // Into the emptied table every text comes back exactly; a second import of the file adds nothing.
        env.exec(QStringLiteral("DELETE FROM PLAN_DAT"));
        env.answerFile(file);
        importItem->trigger();
        QCOMPARE(env.table(), table);
        QCOMPARE(main.label("TELL_LABEL"), QStringLiteral("2件の予定が入っています。"));
        env.answerFile(file);
        importItem->trigger();
        QCOMPARE(env.table(), table);

        // The row it cannot write sorts among the others: nothing of the new file replaces the old.
        env.exec(QStringLiteral("INSERT INTO PLAN_DAT (P_DATE, P_HOUR, P_MIN, P_DETAIL, P_IMPORTANCE, P_PLACE, P_NOTICE) VALUES ('2000/13/45', '09', '30', '壊れた行', 1, '', '')"));
        env.answerFile(file);
        exportItem->trigger();
        QCOMPARE(testing::bytesOf(file), exported);
        QCOMPARE(env.prompts(), QStringList({"4件の予定を書き出しました。", "4件の予定を書き出しました。", "4件の予定を読み込みました。",
                                             "0件の予定を読み込みました。\r重複のため読み込まなかった予定：4件",
                                             "日付か時刻の読めない予定があります（2000/13/45 09時30分「壊れた行」）。"}));
        const QList<platform::FileDialogRequest>& requests = env.fileRequests();
        QCOMPARE(requests.at(0).filter, QStringLiteral("iCalendar (*.ics)|*.ics|"));
        QVERIFY(requests.at(0).save && requests.at(0).defaultSuffix == "ics" && !requests.at(1).save);
    }

    // Ends, whole days and a UID made once go out and come back: a timed end as DTEND, days as
    // dates (the end the day after the last); a changed appointment keeps its UID at the next
    // export, and an event another program wrote goes out again with its attendees and alarm.
    void endsAndIdentity()
    {
        TestEnv env;
        StartedMain main;
        env.insert(testing::until(rec("2000/04/15", "10", "00", "会議"), "2000/04/15|11|30"));
        env.insert(testing::until(rec("2000/04/16", "00", "00", "旅行"), "2000/04/18"));
        testing::writeBytes(env.path("in.ics"), "BEGIN:VCALENDAR\nPRODID:-//x//EN\nVERSION:2.0\nBEGIN:VEVENT\nUID:f1\n"
                                                "DTSTART:20000420T010000Z\nDURATION:PT2H\nSUMMARY:よそ\nATTENDEE:mailto:a@x\n"
                                                "BEGIN:VALARM\nACTION:DISPLAY\nTRIGGER:-PT5M\nEND:VALARM\nEND:VEVENT\nEND:VCALENDAR\n");
        env.answerFile(env.path("in.ics"));
        main.action("actionImportIcal")->trigger();
        const auto exported = [&](const QString& name) {
            env.answerFile(env.path(name));
            main.action("actionExportIcal")->trigger();
            return QString::fromUtf8(testing::bytesOf(env.path(name))).split("\r\n");
        };
        const QStringList first = exported("1.ics");
        for (const char* line : {"DTEND:20000415T113000", "DTSTART;VALUE=DATE:20000416", "DTEND;VALUE=DATE:20000419",
                                 "UID:f1", "DURATION:PT2H", "ATTENDEE:mailto:a@x", "TRIGGER:-PT5M"})
            QVERIFY2(first.contains(line), line);
        env.exec("UPDATE PLAN_DAT SET P_DETAIL = P_DETAIL || '!', P_HOUR = iif(ALL_DAY, P_HOUR, '09')");
        const QStringList changed = env.table();
        const QStringList second = exported("2.ics");
        QCOMPARE(second.filter("UID:"), first.filter("UID:"));
        QVERIFY(second.contains("ATTENDEE:mailto:a@x") && second.contains("DTEND:20000420T030000Z"));
        env.exec("DELETE FROM PLAN_DAT");
        env.answerFile(env.path("2.ics"));
        main.action("actionImportIcal")->trigger();
        QCOMPARE(env.table(), changed);
        QCOMPARE(changed, QStringList({"2000/04/15|09|00|会議!|1|||2000/04/15|11|30|0", "2000/04/16|00|00|旅行!|1|||2000/04/18|||1",
                                       "2000/04/20|09|00|よそ!|1|||2000/04/20|12|00|0"}));
    }

    // What a calendar program writes comes in; a file that cannot be read or written whole leaves
    // the table as it was.
    void importsWhatCalendarProgramsWrite_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("failingSql");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QStringList>("added");
        QTest::newRow("CRLF, own zone, weekly with an extra date, an exception and a moved instance")
            << QByteArray(kGoogle).replace('\n', "\r\n") << "" << "3件の予定を読み込みました。"
            << QStringList{"2000/04/19|22|00|週次会議|1|会議室A||2000/04/19|23|00|0",
                           "2000/05/01|22|00|週次会議|1|会議室A||2000/05/01|23|00|0",
                           "2000/04/26|00|00|週次会議（変更）|1||"};
        QTest::newRow("LF, UTC, all day, folded, yearly, system zone, cancelled, past, no subject")
            << kApple << ""
            << "4件の予定を読み込みました。\r重複のため読み込まなかった予定：1件\r"
               "昨日までに終わったため読み込まなかった予定：1件\r文字数が多すぎるため短くした予定：1件\r"
               "用件か日時がないため読み込まなかった予定：1件"
            << QStringList{"2000/04/15|10|20|朝会|0||", "2000/04/20|00|00|休暇|2|会議室||2000/04/20|||1",
                           "2001/01/05|00|00|誕生日|1||" + QString(255, u'x') + "|2001/01/05|||1", "2000/04/20|19|00|ベルリン|1||"};
        QTest::newRow("truncated") << kApple.left(kApple.indexOf("UID:u3")) << ""
            << "iCalendar のファイルが途中で切れているため読み込めません（END:VCALENDAR で終わっていません）。" << QStringList();
        QTest::newRow("garbage") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16) << ""
            << "iCalendar のファイルではありません（BEGIN:VCALENDAR で始まる予定表がありません）。" << QStringList();
        QTest::newRow("too large") << QByteArray(64 * 1024 * 1024 + 1, '\n') << ""
                                   << "「%1」は大きすぎるため読み込めません（64 MB まで）。" << QStringList();
        QTest::newRow("the engine fails after a row was added")
            << kApple << "CREATE TRIGGER t BEFORE INSERT ON PLAN_DAT WHEN NEW.P_DETAIL = '休暇'"
                         " BEGIN SELECT RAISE(ABORT, '書き込みに失敗しました'); END"
            << "書き込みに失敗しました" << QStringList();
    }
    void importsWhatCalendarProgramsWrite()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, failingSql);
        QFETCH(QString, message);
        QFETCH(QStringList, added);
        TestEnv env;
        env.insert(rec("2000/04/15", "08", "00", "既存", 0, "場所", "メモ"));
        env.exec(failingSql); // an empty statement does nothing
        StartedMain main;
        const QString path = env.path("in.ics");
        QVERIFY(testing::writeBytes(path, file));
        env.answerFile(path);
        main.action("actionImportIcal")->trigger();
        QCOMPARE(env.prompts(), QStringList{message.replace("%1", QDir::toNativeSeparators(path))});
        QCOMPARE(env.table(), QStringList{"2000/04/15|08|00|既存|0|場所|メモ"} + added);
    }
};

QTEST_MAIN(TestIcal)
#include "test_ical.moc"