// iCalendar files in and out through the two commands of the tools menu, the real file dialog
// seam and sec.mdb. Times are read in Asia/Tokyo (set before anything reads the local time).
#include "support/test_env.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QStringDecoder>
#include <QTest>

#include <time.h>

using testing::rec;
using testing::StartedMain;
using testing::TestEnv;

namespace {

const QString kImportOne = QStringLiteral("1件の予定を読み込みました。");

// One text per row, all seven columns, for comparing tables as a whole.
QStringList texts(const QList<store::PLAN_REC>& rows)
{
    QStringList result;
    for (const store::PLAN_REC& r : rows)
        result << QStringList{r.P_DATE, r.P_HOUR + ':' + r.P_MIN, r.P_DETAIL, QString::number(r.P_IMPORTANCE),
                              r.P_PLACE, r.P_NOTICE}.join(u'|');
    return result;
}

void run(StartedMain& main, const char* action)
{
    QAction* item = main.action(action);
    QVERIFY2(item, action);
    item->trigger();
}

void write(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray read(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArrayList uids(const QByteArray& calendar)
{
    QByteArrayList result;
    for (const QByteArray& line : calendar.split('\n'))
        if (line.startsWith("UID:"))
            result << line;
    return result;
}

QByteArray crlf(QByteArray text)
{
    return text.replace('\n', "\r\n");
}

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
      "UID:w@google.com\nSUMMARY:週次会議\n"
      "LOCATION:会議室A\nEND:VEVENT\nBEGIN:VEVENT\nUID:w@google.com\nRECURRENCE-ID;TZID=Eastern:20000424T090000\n"
      "DTSTART;TZID=Eastern:20000425T110000\nSUMMARY:週次会議（変更）\nEND:VEVENT\nEND:VCALENDAR\n";

const QByteArray kApple =
    "BEGIN:VCALENDAR\nVERSION:2.0\nPRODID:-//Apple Inc.//Mac OS X 10.15//EN\n"
    "BEGIN:VEVENT\nUID:u1\nDTSTART:20000415T012000Z\nSUMMARY:朝会\nPRIORITY:3\nEND:VEVENT\n"
    "BEGIN:VEVENT\nUID:u1b\nDTSTART:20000415T012000Z\nSUMMARY: 朝会 \nEND:VEVENT\n"
    "BEGIN:VEVENT\nUID:u2\nDTSTART;VALUE=DATE:20000420\nDTEND;VALUE=DATE:20000421\nSUMMARY:休\n 暇\n"
    "LOCATION:会\xe8\n \xad\xb0室\nPRIORITY:7\nEND:VEVENT\n"
    "BEGIN:VEVENT\nUID:u3\nDTSTART;VALUE=DATE:19900105\nRRULE:FREQ=YEARLY\nSUMMARY:誕生日\nDESCRIPTION:"
    + QByteArray(300, 'x')
    + "\nEND:VEVENT\nBEGIN:VEVENT\nUID:u4\nDTSTART;TZID=Europe/Berlin:20000420T120000\nSUMMARY:ベルリン\n"
      "PRIORITY:5\nEND:VEVENT\nBEGIN:VEVENT\nUID:u5\nDTSTART:20000421T090000\nSUMMARY:中止\nSTATUS:CANCELLED\n"
      "END:VEVENT\nBEGIN:VEVENT\nUID:u6\nDTSTART;VALUE=DATE:20000414\nSUMMARY:昨日\nEND:VEVENT\n"
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
        const QList<store::PLAN_REC> hostile = {
            rec("2000/04/15", "09", "30", "会議, 議題; 予算\\資料 \\n", 0, "本社\r\n3階", "😀 絵文字\n二行目\r三行目"),
            rec("2000/04/15", "09", "30", " 前後に空白　", 1, "\t", "'; DROP TABLE PLAN_DAT; --"),
            rec("2000/04/16", "23", "45", QString(255, u'長'), 2, QStringLiteral("😀あ,;").repeated(63), "é\\,\\;"),
            rec("2001/01/01", "00", "00", "<b>NUL</b>", 1, "", QStringLiteral("前") + QChar(0) + QStringLiteral("後"))};
        TestEnv env;
        for (const store::PLAN_REC& r : hostile)
            env.insert(r);
        StartedMain main;
        QAction* exportItem = main.action("actionExportIcal");
        QAction* importItem = main.action("actionImportIcal");
        QVERIFY2(exportItem && importItem, "actionExportIcal, actionImportIcal");
        QCOMPARE(exportItem->text(), QStringLiteral("iCalendar 書き出し(&E)…"));
        QCOMPARE(importItem->text(), QStringLiteral("iCalendar 読み込み(&I)…"));
        const QString file = env.path("予定.ics");
        env.answerFile(file);
        run(main, "actionExportIcal");
        QCOMPARE(env.fileRequests().at(0).filter, QStringLiteral("iCalendar (*.ics)|*.ics|"));
        QVERIFY(env.fileRequests().at(0).save);
        QCOMPARE(env.fileRequests().at(0).defaultSuffix, QStringLiteral("ics"));
        QCOMPARE(env.prompts(), QStringList{"4件の予定を書き出しました。"});

        // Every line ends in CRLF, holds at most 75 octets, and is whole UTF-8 on its own.
        const QByteArray exported = read(file);
        QVERIFY(exported.startsWith("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//ミルドカ//MERIDOCAL 2.00//JA\r\n"));
        QVERIFY(exported.contains("\r\n ")); // the long texts were folded
        for (const QByteArray& line : exported.chopped(1).split('\n')) {
            QStringDecoder utf8(QStringDecoder::Utf8);
            const QString decoded = utf8(line);
            QVERIFY2(line.endsWith('\r') && line.size() <= 76 && !utf8.hasError(), qPrintable(decoded));
        }

        // The same appointments keep their UIDs at a later export.
        env.setNow(QDateTime(QDate(2000, 4, 15), QTime(11, 0)));
        env.answerFile(env.path("again.ics"));
        run(main, "actionExportIcal");
        QCOMPARE(uids(read(env.path("again.ics"))), uids(exported));
        QCOMPARE(uids(exported).size(), 4);

        env.clearShown();
        env.answerFile(file);
        run(main, "actionImportIcal");
        QVERIFY(!env.fileRequests().at(2).save);
        QCOMPARE(env.prompts(), QStringList{"0件の予定を読み込みました。\r重複のため読み込まなかった予定：4件"});
        QCOMPARE(texts(env.rows()), texts(hostile));

        env.exec(QStringLiteral("DELETE FROM PLAN_DAT"));
        env.clearShown();
        env.answerFile(file);
        run(main, "actionImportIcal");
        QCOMPARE(env.prompts(), QStringList{"4件の予定を読み込みました。"});
        QCOMPARE(texts(env.rows()), texts(hostile));
        QCOMPARE(main.label("TELL_LABEL"), QStringLiteral("2件の予定が入っています。"));
    }

    void cancelledOrFailedExportKeepsTheOldFile()
    {
        TestEnv env;
        env.exec(QStringLiteral("INSERT INTO PLAN_DAT VALUES ('2000/13/45', '09', '30', '壊れた行', 1, '', '')"));
        StartedMain main;
        run(main, "actionExportIcal");
        run(main, "actionImportIcal");
        QCOMPARE(env.fileRequests().size(), 2);
        QVERIFY(env.shown().isEmpty());
        write(env.path("old.ics"), "BEGIN:VCALENDAR\r\nEND:VCALENDAR\r\n");
        env.answerFile(env.path("old.ics"));
        run(main, "actionExportIcal");
        QCOMPARE(env.prompts(), QStringList{"日付か時刻の読めない予定があります（2000/13/45 09時30分「壊れた行」）。"});
        QCOMPARE(read(env.path("old.ics")), QByteArray("BEGIN:VCALENDAR\r\nEND:VCALENDAR\r\n"));
    }

    void importsWhatCalendarProgramsWrite_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("todayLabel");
        QTest::newRow("CRLF, own zone, weekly with an extra date, an exception and a moved instance")
            << crlf(kGoogle)
            << QStringList{"2000/04/19|22:00|週次会議|1|会議室A|", "2000/05/01|22:00|週次会議|1|会議室A|",
                           "2000/04/26|00:00|週次会議（変更）|1||"}
            << "3件の予定を読み込みました。" << "今日は予定がありません。";
        QTest::newRow("LF, UTC, all day, folded, yearly, system zone, cancelled, past, no subject")
            << kApple
            << QStringList{"2000/04/15|10:20|朝会|0||", "2000/04/20|00:00|休暇|2|会議室|",
                           "2001/01/05|00:00|誕生日|1||" + QString(255, u'x'), "2000/04/20|19:00|ベルリン|1||"}
            << "4件の予定を読み込みました。\r重複のため読み込まなかった予定：1件\r"
               "昨日までに終わったため読み込まなかった予定：1件\r文字数が多すぎるため短くした予定：1件\r"
               "用件か日時がないため読み込まなかった予定：1件"
            << "1件の予定が入っています。";
    }
    void importsWhatCalendarProgramsWrite()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, rows);
        QFETCH(QString, message);
        QFETCH(QString, todayLabel);
        TestEnv env;
        StartedMain main;
        write(env.path("in.ics"), file);
        env.answerFile(env.path("in.ics"));
        run(main, "actionImportIcal");
        QCOMPARE(env.prompts(), QStringList{message});
        QCOMPARE(texts(env.rows()), rows);
        QCOMPARE(main.label("TELL_LABEL"), todayLabel);
    }

    void failedImportLeavesTheTable_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("message");
        QTest::newRow("truncated") << kApple.left(kApple.indexOf("UID:u3")) << ""
                                   << "iCalendar のファイルが途中で切れているため読み込めません（END:VCALENDAR で終わっていません）。";
        QTest::newRow("garbage") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16) << ""
                                 << "iCalendar のファイルではありません（BEGIN:VCALENDAR で始まる予定表がありません）。";
        QTest::newRow("too large") << QByteArray(64 * 1024 * 1024 + 1, '\n') << ""
                                   << "「%1」は大きすぎるため読み込めません（64 MB まで）。";
        QTest::newRow("the engine fails after a row was added")
            << kApple << "CREATE TRIGGER t BEFORE INSERT ON PLAN_DAT WHEN NEW.P_DETAIL = '休暇'"
                         " BEGIN SELECT RAISE(ABORT, '書き込みに失敗しました'); END"
            << "書き込みに失敗しました";
    }
    void failedImportLeavesTheTable()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, sql);
        QFETCH(QString, message);
        TestEnv env;
        env.insert(rec("2000/04/15", "08", "00", "既存", 0, "場所", "メモ"));
        env.exec(sql); // an empty statement does nothing
        StartedMain main;
        const QString path = env.path("in.ics");
        write(path, file);
        env.answerFile(path);
        run(main, "actionImportIcal");
        QCOMPARE(env.prompts(), QStringList{message.replace("%1", QDir::toNativeSeparators(path))});
        QCOMPARE(texts(env.rows()), QStringList{"2000/04/15|08:00|既存|0|場所|メモ"});
    }
};

QTEST_MAIN(TestIcal)
#include "test_ical.moc"
