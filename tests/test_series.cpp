// Repeating appointments: the form's choices as rules and the dates they give, rules that must
// not run away, and changing or deleting one occurrence, the later ones or all of them through
// the real windows and the real table.
#include "plan_entry/plan_frm.h"
#include "recurrence/recurrence.h"
#include "store/series_store.h"
#include "support/test_env.h"
#include "today_list/listen_frm.h"

#include <QtTest>
#include <QtWidgets>

using platform::MsgAnswer;
using recurrence::Ending;
using recurrence::Repeat;

class TestSeries : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { qputenv("TZ", "Asia/Tokyo"), tzset(); }
    void cleanup() { QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty()); }

    // Each choice of the form for a first date: its caption, its rule and its first dates. A day a
    // month or year lacks is skipped; a zoned series keeps its wall-clock time across a change of
    // daylight-saving time, which moves it here.
    void choices_data()
    {
        QTest::addColumn<QDate>("first");
        QTest::addColumn<Repeat>("repeat");
        QTest::addColumn<Ending>("ending");
        QTest::addColumn<QString>("tzid");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QByteArray>("rule");
        QTest::addColumn<QString>("dates"); // the first four, local time
        const QDate wed(2000, 4, 19);
        QTest::newRow("daily, 3 times") << wed << Repeat::Daily << Ending::Count << "" << "毎日" << QByteArray("FREQ=DAILY;COUNT=3")
                                        << "2000/04/19 10:30,2000/04/20 10:30,2000/04/21 10:30";
        QTest::newRow("weekdays") << QDate(2000, 4, 21) << Repeat::Weekdays << Ending::Never << "" << "平日（月〜金）"
                                  << QByteArray("FREQ=WEEKLY;BYDAY=MO,TU,WE,TH,FR")
                                  << "2000/04/21 10:30,2000/04/24 10:30,2000/04/25 10:30,2000/04/26 10:30";
        QTest::newRow("weekly until") << wed << Repeat::Weekly << Ending::Until << "" << "毎週（水曜日）"
                                      << QByteArray("FREQ=WEEKLY;BYDAY=WE;UNTIL=20000503T235959")
                                      << "2000/04/19 10:30,2000/04/26 10:30,2000/05/03 10:30";
        QTest::newRow("every other week") << wed << Repeat::Biweekly << Ending::Never << "" << "隔週（水曜日）"
                                          << QByteArray("FREQ=WEEKLY;INTERVAL=2;BYDAY=WE")
                                          << "2000/04/19 10:30,2000/05/03 10:30,2000/05/17 10:30,2000/05/31 10:30";
        QTest::newRow("the 31st") << QDate(2000, 1, 31) << Repeat::MonthlyByDate << Ending::Never << "" << "毎月（31日）"
                                  << QByteArray("FREQ=MONTHLY;BYMONTHDAY=31")
                                  << "2000/01/31 10:30,2000/03/31 10:30,2000/05/31 10:30,2000/07/31 10:30";
        QTest::newRow("second Wednesday") << QDate(2000, 4, 12) << Repeat::MonthlyByWeekday << Ending::Never << ""
                                          << "毎月（第2水曜日）" << QByteArray("FREQ=MONTHLY;BYDAY=2WE")
                                          << "2000/04/12 10:30,2000/05/10 10:30,2000/06/14 10:30,2000/07/12 10:30";
        QTest::newRow("fifth Wednesday") << QDate(2000, 3, 29) << Repeat::MonthlyByWeekday << Ending::Never << ""
                                         << "毎月（第5水曜日）" << QByteArray("FREQ=MONTHLY;BYDAY=5WE")
                                         << "2000/03/29 10:30,2000/05/31 10:30,2000/08/30 10:30,2000/11/29 10:30";
        QTest::newRow("29th of February") << QDate(2000, 2, 29) << Repeat::Yearly << Ending::Never << "" << "毎年（2月29日）"
                                          << QByteArray("FREQ=YEARLY;BYMONTH=2;BYMONTHDAY=29")
                                          << "2000/02/29 10:30,2004/02/29 10:30,2008/02/29 10:30,2012/02/29 10:30";
        QTest::newRow("Berlin across summer time") << QDate(2000, 3, 20) << Repeat::Weekly << Ending::Never << "Europe/Berlin"
                                                   << "毎週（月曜日）" << QByteArray("FREQ=WEEKLY;BYDAY=MO")
                                                   << "2000/03/20 18:30,2000/03/27 17:30,2000/04/03 17:30,2000/04/10 17:30";
    }
    void choices()
    {
        QFETCH(QDate, first);
        QFETCH(Repeat, repeat);
        QFETCH(Ending, ending);
        QFETCH(QString, tzid);
        QFETCH(QString, caption);
        QFETCH(QByteArray, rule);
        QFETCH(QString, dates);
        QCOMPARE(recurrence::repeatCaptions(first).at(int(repeat)), caption);
        QCOMPARE(recurrence::ruleFor(repeat, first, ending, 3, QDate(2000, 5, 3)), rule);
        QCOMPARE(recurrence::repeatOf(rule, first), repeat);
        const recurrence::Pattern pattern{{first, QTime(10, 30)}, tzid, rule, {}, {}};
        QStringList shown;
        for (const auto& o : recurrence::expand(pattern, first, first.addYears(20)).occurrences)
            shown << o.start.toString("yyyy/MM/dd HH:mm");
        QCOMPARE(shown.mid(0, 4).join(','), dates);
    }

    // Rules that would make thousands of rows, or search for ever, are refused or cut.
    void bounds_data()
    {
        QTest::addColumn<QByteArray>("rule");
        QTest::addColumn<recurrence::Verdict>("verdict");
        QTest::addColumn<int>("count");
        QTest::newRow("by the hour") << QByteArray("FREQ=HOURLY") << recurrence::Verdict::Refused << 0;
        QTest::newRow("by the minute") << QByteArray("FREQ=MINUTELY;COUNT=5") << recurrence::Verdict::Refused << 0;
        QTest::newRow("no date at all") << QByteArray("FREQ=YEARLY;BYMONTH=2;BYMONTHDAY=30") << recurrence::Verdict::Refused << 0;
        QTest::newRow("unreadable") << QByteArray("FREQ=SOMETIMES") << recurrence::Verdict::Refused << 0;
        QTest::newRow("a million times") << QByteArray("FREQ=DAILY;COUNT=1000000") << recurrence::Verdict::Capped
                                         << recurrence::kMaxOccurrences;
    }
    void bounds()
    {
        QFETCH(QByteArray, rule);
        QFETCH(recurrence::Verdict, verdict);
        QFETCH(int, count);
        const auto e = recurrence::expand({{QDate(2000, 4, 15), QTime(9, 0)}, {}, rule, {}, {}}, QDate(2000, 1, 1), QDate(2100, 1, 1));
        QCOMPARE(e.verdict, verdict);
        QCOMPARE(int(e.occurrences.size()), count);
    }

    // Typed in the form: the choice's caption follows the date, the series is one record and its
    // occurrences rows from today to a year ahead.
    void typedInTheForm()
    {
        testing::TestEnv env;
        state::Module1 module;
        module.SEC_DB = platform::Database::open(env.dbPath());
        PLAN_FRM form(module);
        QVERIFY(form.prepare());
        CHILD(date, QDateEdit, &form, "DATE_DTP");
        CHILD(repeat, QComboBox, &form, "REPEAT_LST");
        CHILD(ending, QComboBox, &form, "REPEAT_END_LST");
        CHILD(count, QSpinBox, &form, "REPEAT_COUNT_SPN");
        CHILD(detail, QLineEdit, &form, "DETAIL_TEXT");
        date->setDate(QDate(2000, 5, 31));
        repeat->setCurrentIndex(int(Repeat::MonthlyByDate));
        QCOMPARE(repeat->currentText(), "毎月（31日）");
        QVERIFY(!count->isEnabled());
        ending->setCurrentIndex(int(Ending::Count));
        count->setValue(4);
        detail->setText("月末締め");
        form.OK_BTN_Click();
        QCOMPARE(env.count("P_DETAIL = '月末締め' AND SERIES_ID IS NOT NULL"), 4);
        QCOMPARE(env.rows("P_DETAIL = '月末締め'").last().P_DATE, "2000/10/31");
        QCOMPARE(repeat->currentIndex(), 0);
        form.close();
    }

    // Changing (in the form) or deleting (with today's list's Delete key) an occurrence asks
    // which; each answer does what other calendars do. Today's is the second of four Saturdays.
    void occurrenceChanges_data()
    {
        QTest::addColumn<bool>("deleting");
        QTest::addColumn<MsgAnswer>("answer");
        QTest::addColumn<QString>("series"); // the first series' rule and EXDATE afterwards
        QTest::addColumn<QString>("dates");  // the rows, with subjects
        const QString kept = "FREQ=WEEKLY;BYDAY=SA;COUNT=4|", ended = "FREQ=WEEKLY;BYDAY=SA;UNTIL=20000415T102959|";
        QTest::newRow("cancel") << false << MsgAnswer::Cancel << kept << "04/15 定例,04/22 定例,04/29 定例";
        QTest::newRow("change this one") << false << MsgAnswer::First << kept << "04/15 定例!,04/22 定例,04/29 定例";
        QTest::newRow("change from here on") << false << MsgAnswer::Second << ended << "04/15 定例!,04/22 定例!,04/29 定例!";
        QTest::newRow("change all") << false << MsgAnswer::Third << kept << "04/15 定例!,04/22 定例!,04/29 定例!";
        QTest::newRow("delete this one") << true << MsgAnswer::First << kept + "20000415T103000" << "04/22 定例,04/29 定例";
        QTest::newRow("delete from here on") << true << MsgAnswer::Second << ended << "";
        QTest::newRow("delete all") << true << MsgAnswer::Third << "" << "";
    }
    void occurrenceChanges()
    {
        QFETCH(bool, deleting);
        QFETCH(MsgAnswer, answer);
        QFETCH(QString, series);
        QFETCH(QString, dates);
        testing::TestEnv env;
        state::Module1 module;
        module.SEC_DB = platform::Database::open(env.dbPath());
        module.TODAY_STR = "2000/04/15";
        store::addSeries(module.db(), store::seriesFor(testing::rec("2000/04/08", "10", "30", "定例"), "FREQ=WEEKLY;BYDAY=SA;COUNT=4"),
                         QDate(2000, 4, 15));
        env.answer(answer);
        const auto change = [&] {
            PLAN_FRM form(module);
            form.prepareChange(store::storedRow(module.db().query("SELECT " + store::kRowColumns + " FROM PLAN_DAT").at(0)));
            form.findChild<QLineEdit*>("DETAIL_TEXT")->setText("定例!");
            form.OK_BTN_Click();
            form.close();
        };
        QString time;
        const auto remove = [&] {
            LISTEN_FRM list(module);
            list.prepare();
            list.show();
            time = list.findChild<QLabel*>("TIME_LABEL")->text();
            QTest::keyClick(list.findChild<QListWidget*>("DETAIL_LST"), Qt::Key_Delete);
            list.close();
        };
        deleting ? remove() : change();
        QStringList shown;
        for (const auto& r : env.rows())
            shown << r.P_DATE.mid(5) + ' ' + r.P_DETAIL;
        shown.sort();
        QCOMPARE(shown.join(','), dates);
        const auto first = module.db().query("SELECT RRULE || '|' || EXDATE FROM PLAN_SERIES ORDER BY ID LIMIT 1");
        QCOMPARE(first.empty() ? QString() : first.at(0).at(0).toString(), series);
        QVERIFY(env.prompts().contains(deleting ? "繰り返しの予定です。どの予定を削除しますか？" : "繰り返しの予定です。どの予定を変更しますか？"));
        QCOMPARE(time, deleting ? "10時30分（繰り返し）" : "");
    }

    // A file keeps series whole both ways: one typed here with a changed and a deleted occurrence,
    // and one from another program in its own zone with an exclusion and a moved occurrence, go
    // out as two events with their rules and exceptions and come back as the same rows.
    void filesKeepSeriesWhole()
    {
        testing::TestEnv env;
        testing::StartedMain main;
        platform::Database& db = main.module.db();
        const QDate today(2000, 4, 15);
        store::addSeries(db, store::seriesFor(testing::rec("2000/04/15", "10", "30", "定例"), "FREQ=WEEKLY;BYDAY=SA;COUNT=4"), today);
        const auto idOn = [&](const QString& day) { return db.query("SELECT ID FROM PLAN_DAT WHERE P_DATE = ?", {day}).at(0).at(0).toLongLong(); };
        store::changeOccurrence(db, idOn("2000/04/22"), testing::rec("2000/04/22", "11", "00", "定例!"), store::Scope::ThisOnly, {}, today);
        store::deleteOccurrence(db, idOn("2000/04/29"), store::Scope::ThisOnly, today);
        QVERIFY(testing::writeBytes(env.path("in.ics"),
            "BEGIN:VCALENDAR\nPRODID:-//x//EN\nVERSION:2.0\nBEGIN:VEVENT\nUID:b@x\nDTSTART;TZID=Europe/Berlin:20000410T100000\n"
            "DURATION:PT1H\nRRULE:FREQ=WEEKLY;COUNT=4\nEXDATE;TZID=Europe/Berlin:20000417T100000\nSUMMARY:ベルリン\n"
            "ATTENDEE:mailto:a@x\nEND:VEVENT\nBEGIN:VEVENT\nUID:b@x\nRECURRENCE-ID;TZID=Europe/Berlin:20000424T100000\n"
            "DTSTART;TZID=Europe/Berlin:20000424T120000\nSUMMARY:ベルリン（変更）\nEND:VEVENT\nEND:VCALENDAR\n"));
        env.answerFile(env.path("in.ics"));
        main.action("actionImportIcal")->trigger();
        QStringList before = env.table();
        before.sort();
        QCOMPARE(before, QStringList({"2000/04/15|10|30|定例|1||", "2000/04/22|11|00|定例!|1||", "2000/04/24|19|00|ベルリン（変更）|1||",
                                      "2000/05/01|17|00|ベルリン|1|||2000/05/01|18|00|0", "2000/05/06|10|30|定例|1||"}));
        env.answerFile(env.path("out.ics"));
        main.action("actionExportIcal")->trigger();
        const QStringList lines = QString::fromUtf8(testing::bytesOf(env.path("out.ics"))).split("\r\n");
        QCOMPARE(lines.filter("BEGIN:VEVENT").size(), 4);
        for (const char* line : {"RRULE:FREQ=WEEKLY;COUNT=4;BYDAY=SA", "EXDATE:20000429T103000", "RECURRENCE-ID:20000422T103000",
                                 "RRULE:FREQ=WEEKLY;COUNT=4", "EXDATE;TZID=Europe/Berlin:20000417T100000",
                                 "RECURRENCE-ID;TZID=Europe/Berlin:20000424T100000", "TZID:Europe/Berlin", "ATTENDEE:mailto:a@x"})
            QVERIFY2(lines.contains(line), line);
        env.exec("DELETE FROM PLAN_DAT; DELETE FROM PLAN_SERIES");
        env.answerFile(env.path("out.ics"));
        main.action("actionImportIcal")->trigger();
        QStringList after = env.table();
        after.sort();
        QCOMPARE(after, before);
    }
};

QTEST_MAIN(TestSeries)
#include "test_series.moc"
