// iCalendar files in and out through the two commands of the tools menu, the real file dialog
// seam and sec.mdb. Times are read in Asia/Tokyo (set before anything reads the local time).
#include "ical/ical_bounds.h"
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

// A calendar of events, each a UID (also its subject) and the lines that follow.
QByteArray calendar(const QList<std::pair<QByteArray, QByteArray>>& events, const QByteArray& zones = {})
{
    QByteArray text = "BEGIN:VCALENDAR\nVERSION:2.0\nPRODID:-//test//EN\n" + zones;
    for (const auto& [uid, lines] : events)
        text += "BEGIN:VEVENT\nUID:" + uid + "\nSUMMARY:" + uid + "\n" + lines + "END:VEVENT\n";
    return text + "END:VCALENDAR\n";
}

QByteArray daily(int events)
{
    QList<std::pair<QByteArray, QByteArray>> list;
    for (int i = 0; i < events; ++i)
        list.append({"d" + QByteArray::number(i), "DTSTART:20000415T090000\nRRULE:FREQ=DAILY\n"});
    return calendar(list);
}

QByteArray manyDates(int count)
{
    QByteArray lines = "DTSTART:20000416T000000\n";
    for (int i = 0; i < count; ++i)
        lines += "RDATE:" + QDateTime(QDate(2000, 4, 16), QTime(0, 0)).addSecs(60 * i).toString("yyyyMMdd'T'HHmmss").toLatin1() + "\n";
    return calendar({{"r", lines}});
}

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
              rec("2001/01/01", "00", "00", "<b>NUL</b>", 1, "", QStringLiteral("前") + QChar(0) + QStringLiteral("後")),
              rec("2001/01/02", "10", "00", "　全角の空白　", 1, "", "")})
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
        QCOMPARE(uids(exported).size(), 5);

        // Into the emptied table every text comes back exactly; a second import of the file adds nothing.
        env.exec(QStringLiteral("DELETE FROM PLAN_DAT"));
        env.answerFile(file);
        importItem->trigger();
        QCOMPARE(env.table(), table);
        QCOMPARE(main.label("TELL_LABEL"), QStringLiteral("2件の予定が入っています。"));
        env.answerFile(file);
        importItem->trigger();
        QCOMPARE(env.table(), table);

        // A link would have the file written in another folder: refused, its target untouched.
        QVERIFY(QFile::link(env.path("again.ics"), env.path("link.ics")));
        env.answerFile(env.path("link.ics"));
        exportItem->trigger();
        QCOMPARE(testing::bytesOf(env.path("again.ics")).size(), exported.size());

        // The row it cannot write sorts among the others: nothing of the new file replaces the old.
        env.exec(QStringLiteral("INSERT INTO PLAN_DAT (P_DATE, P_HOUR, P_MIN, P_DETAIL, P_IMPORTANCE, P_PLACE, P_NOTICE) VALUES ('2000/13/45', '09', '30', '壊れた行', 1, '', '')"));
        env.answerFile(file);
        exportItem->trigger();
        QCOMPARE(testing::bytesOf(file), exported);
        const QString link = "「" + QDir::toNativeSeparators(env.path("link.ics")) + "」";
        QCOMPARE(env.prompts(), QStringList({"5件の予定を書き出しました。", "5件の予定を書き出しました。", "5件の予定を読み込みました。",
                                             "0件の予定を読み込みました。\r重複のため読み込まなかった予定：5件",
                                             link + "は別の場所へのリンクのため書き出せません。\r別の名前を選んでください。",
                                             "日付か時刻の読めない予定があります（2000/13/45 09時30分「壊れた行」）。"}));
        QList<platform::MsgIcon> icons;
        for (const platform::MessageRequest& box : env.shown())
            icons << box.icon;
        using platform::MsgIcon;
        QCOMPARE(icons, QList({MsgIcon::Information, MsgIcon::Information, MsgIcon::Information, MsgIcon::Information,
                               MsgIcon::Exclamation, MsgIcon::Exclamation}));
        QCOMPARE(env.shown().at(4).title, platform::programTitle());
        const QList<platform::FileDialogRequest>& requests = env.fileRequests();
        QCOMPARE(requests.at(0).filter, QStringLiteral("iCalendar (*.ics)|*.ics|"));
        QVERIFY(requests.at(0).save && requests.at(0).defaultSuffix == "ics" && !requests.at(1).save);
    }

    // A rule is refused before libical follows it when it has no date at all or steps finer
    // than an hour; the check never refuses a rule that has a date.
    void checksRulesBeforeFollowingThem_data()
    {
        QTest::addColumn<QByteArray>("rule");
        QTest::addColumn<int>("startHour");
        QTest::addColumn<ical::RuleVerdict>("verdict");
        using ical::RuleVerdict;
        QTest::newRow("weekly") << QByteArray("FREQ=WEEKLY;BYDAY=MO,WE") << 9 << RuleVerdict::Usable;
        QTest::newRow("leap day") << QByteArray("FREQ=YEARLY;BYMONTH=2;BYMONTHDAY=29") << 9 << RuleVerdict::Usable;
        QTest::newRow("Monday the 29th of February") << QByteArray("FREQ=YEARLY;BYMONTH=2;BYMONTHDAY=29;BYDAY=MO") << 9 << RuleVerdict::Usable;
        QTest::newRow("last day of a leap year's January") << QByteArray("FREQ=YEARLY;BYYEARDAY=-366;BYMONTH=1") << 0 << RuleVerdict::Usable;
        QTest::newRow("30th of February") << QByteArray("FREQ=DAILY;BYMONTH=2;BYMONTHDAY=30") << 9 << RuleVerdict::NoDate;
        QTest::newRow("31st from the end of April") << QByteArray("FREQ=MONTHLY;BYMONTH=4;BYMONTHDAY=-31") << 9 << RuleVerdict::NoDate;
        QTest::newRow("366th day in January") << QByteArray("FREQ=YEARLY;BYYEARDAY=366;BYMONTH=1") << 9 << RuleVerdict::NoDate;
        QTest::newRow("numbered weekday by the week") << QByteArray("FREQ=WEEKLY;BYDAY=2MO") << 9 << RuleVerdict::NoDate;
        QTest::newRow("every other hour, never at ten") << QByteArray("FREQ=HOURLY;INTERVAL=2;BYHOUR=10") << 9 << RuleVerdict::NoDate;
        QTest::newRow("every other hour, at ten") << QByteArray("FREQ=HOURLY;INTERVAL=2;BYHOUR=10") << 8 << RuleVerdict::Usable;
        QTest::newRow("hourly by set position") << QByteArray("FREQ=HOURLY;BYSETPOS=2") << 9 << RuleVerdict::TooFine;
        QTest::newRow("by the minute") << QByteArray("FREQ=MINUTELY;COUNT=3") << 9 << RuleVerdict::TooFine;
        QTest::newRow("by the second") << QByteArray("FREQ=SECONDLY;BYMONTH=2;BYMONTHDAY=30") << 9 << RuleVerdict::TooFine;
    }
    void checksRulesBeforeFollowingThem()
    {
        QFETCH(QByteArray, rule);
        QFETCH(int, startHour);
        QFETCH(ical::RuleVerdict, verdict);
        QCOMPARE(ical::checkRule(icalrecurrencetype_from_string(rule.constData()), startHour), verdict);
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
        // "しない" has no alarm to say it: our own mark does, and takes the place of the foreign lead alarm.
        env.exec("UPDATE PLAN_DAT SET P_DETAIL = P_DETAIL || '!', P_HOUR = iif(ALL_DAY, P_HOUR, '09'),"
                 " P_REMIND = iif(ALL_DAY, NULL, -1)");
        const QStringList changed = env.table();
        const QStringList second = exported("2.ics");
        QCOMPARE(second.filter("UID:"), first.filter("UID:"));
        QVERIFY(second.contains("ATTENDEE:mailto:a@x") && second.contains("DTEND:20000420T030000Z"));
        QCOMPARE(second.filter("TRIGGER").size() * 10 + second.filter("X-MERIDOCAL-NO-ALARM:TRUE").size(), 2);
        env.exec("DELETE FROM PLAN_DAT");
        env.answerFile(env.path("2.ics"));
        main.action("actionImportIcal")->trigger();
        QCOMPARE(env.table(), changed);
        QCOMPARE(env.count("P_REMIND = -1") * 10 + env.count("P_REMIND IS NULL"), 21);
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
        QTest::addColumn<QStringList>("added"); // the first rows added
        QTest::addColumn<int>("count");          // all rows added
        QTest::newRow("CRLF, own zone, weekly with an extra date, an exception and a moved instance")
            << QByteArray(kGoogle).replace('\n', "\r\n") << "" << "1件の予定を読み込みました。"
            << QStringList{"2000/04/26|00|00|週次会議（変更）|1||", "2000/04/19|22|00|週次会議|1|会議室A||2000/04/19|23|00|0",
                           "2000/05/01|22|00|週次会議|1|会議室A||2000/05/01|23|00|0"} << 3;
        QTest::newRow("LF, UTC, all day, folded, yearly, system zone, cancelled, past, no subject")
            << kApple << ""
            << "4件の予定を読み込みました。\r重複のため読み込まなかった予定：1件\r"
               "昨日までに終わったため読み込まなかった予定：1件\r文字数が多すぎるため短くした予定：1件\r"
               "用件か日時がないため読み込まなかった予定：1件"
            << QStringList{"2001/01/05|00|00|誕生日|1||" + QString(255, u'x') + "|2001/01/05|||1", "2000/04/15|10|20|朝会|0||",
                           "2000/04/20|00|00|休暇|2|会議室||2000/04/20|||1", "2000/04/20|19|00|ベルリン|1||"} << 4;
        QTest::newRow("truncated") << kApple.left(kApple.indexOf("UID:u3")) << ""
            << "ファイルが途中で切れているため読み込めません。" << QStringList() << 0;
        QTest::newRow("garbage") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16) << ""
            << "iCalendar の形式ではありません（1行目）。" << QStringList() << 0;
        QTest::newRow("a line of plain text") << calendar({{"p", "DTSTART:20000420T090000\n会議です\n"}}) << ""
            << "iCalendar の形式ではありません（8行目）。" << QStringList() << 0;
        QTest::newRow("NUL") << QByteArray(kApple).insert(kApple.indexOf("Apple"), '\0') << ""
            << "ファイルに文字でないデータ（NUL）があります（3行目）。" << QStringList() << 0;
        QTest::newRow("too large") << QByteArray(64 * 1024 * 1024 + 1, '\n') << ""
                                   << "{file}は大きすぎるため読み込めません（64 MB まで）。" << QStringList() << 0;
        // Each of these rules kept libical searching for minutes or for ever inside one step.
        QTest::newRow("rules without a date, by the second or the minute; a series not ended")
            << calendar({{"s", "DTSTART:20000415T090000\nRRULE:FREQ=SECONDLY;BYMONTH=2;BYMONTHDAY=30\n"},
                         {"h", "DTSTART:20000415T090000\nRRULE:FREQ=HOURLY;BYMONTH=2;BYMONTHDAY=30\n"},
                         {"w", "DTSTART:20000415T090000\nRRULE:FREQ=HOURLY;BYDAY=5MO\n"},
                         {"m", "DTSTART:20000415T090000\nRRULE:FREQ=MINUTELY\n"},
                         {"y", "DTSTART:19980415T090000\nRRULE:FREQ=YEARLY;INTERVAL=5\n"}})
            << "" << "0件の予定を読み込みました。\rこれから1年の間に日がないため読み込まなかった予定：1件\r"
                     "繰り返しの規則が扱えないため読み込まなかった予定：4件" << QStringList() << 0;
        QTest::newRow("a zone that changes every minute")
            << calendar({{"z", "DTSTART;TZID=Bomb:20000420T090000\n"}},
                        "BEGIN:VTIMEZONE\nTZID:Bomb\nBEGIN:STANDARD\nDTSTART:16010101T000000\nRRULE:FREQ=MINUTELY\n"
                        "TZOFFSETFROM:+0100\nTZOFFSETTO:+0000\nEND:STANDARD\nBEGIN:DAYLIGHT\nDTSTART:16010101T000030\n"
                        "RRULE:FREQ=MINUTELY\nTZOFFSETFROM:+0000\nTZOFFSETTO:+0100\nEND:DAYLIGHT\nEND:VTIMEZONE\n")
            << "" << "1件の予定を読み込みました。\r時間帯が分からず現地時刻とした予定：1件" << QStringList{"2000/04/20|09|00|z|1||"} << 1;
        QTest::newRow("zones by old and Windows names")
            << calendar({{"e", "DTSTART;TZID=US-Eastern:20000420T090000\n"},
                         {"t", "DTSTART;TZID=Tokyo Standard Time:20000420T090000\n"},
                         {"c", "DTSTART;TZID=Asia/Calcutta:20000420T090000\n"},
                         {"x", "DTSTART;TZID=Mars/Olympus:20000420T090000\n"}})
            << "" << "4件の予定を読み込みました。\r時間帯が分からず現地時刻とした予定：1件"
            << QStringList{"2000/04/20|22|00|e|1||", "2000/04/20|09|00|t|1||", "2000/04/20|12|30|c|1||", "2000/04/20|09|00|x|1||"} << 4;
        QTest::newRow("more dates than a series may have") << manyDates(12000) << ""
            << "1件の予定を読み込みました。\r繰り返しが多すぎるため途中までとした予定：1件"
            << QStringList{"2000/04/16|00|00|r|1||", "2000/04/16|00|01|r|1||"} << 10000;
        // Series are read while their rows stay under the bound: 274 of 366 days, and six not read.
        QTest::newRow("more rows than a file may add") << daily(280) << ""
            << "274件の予定を読み込みました。\r一度に読める量を超えたため読み込まなかった予定：6件"
            << QStringList{"2000/04/15|09|00|d0|1||", "2000/04/16|09|00|d0|1||"} << 274 * 366;
        QTest::newRow("the engine fails after a row was added")
            << kApple << "CREATE TRIGGER t BEFORE INSERT ON PLAN_DAT WHEN NEW.P_DETAIL = '休暇'"
                         " BEGIN SELECT RAISE(ABORT, '書き込みに失敗しました'); END"
            << "書き込みに失敗しました" << QStringList() << 0;
    }
    void importsWhatCalendarProgramsWrite()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, failingSql);
        QFETCH(QString, message);
        QFETCH(QStringList, added);
        QFETCH(int, count);
        TestEnv env;
        env.insert(rec("2000/04/15", "08", "00", "既存", 0, "場所", "メモ"));
        env.exec(failingSql); // an empty statement does nothing
        StartedMain main;
        const QString path = env.path("予定%1%2.ics"); // a name that message building must not fill in
        QVERIFY(testing::writeBytes(path, file));
        env.answerFile(path);
        main.action("actionImportIcal")->trigger();
        QCOMPARE(env.prompts(), QStringList{message.replace("{file}", "「" + QDir::toNativeSeparators(path) + "」")});
        const QStringList table = env.table();
        QCOMPARE(table.mid(0, added.size() + 1), QStringList{"2000/04/15|08|00|既存|0|場所|メモ"} + added);
        QCOMPARE(table.size(), count + 1);
    }
};

QTEST_MAIN(TestIcal)
#include "test_ical.moc"