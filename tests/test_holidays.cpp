// The national holidays as the Cabinet Office published them, year by year, and a few days that
// only the older rules explain.
#include "holidays/japanese_holidays.h"

#include <QTest>

class TestHolidays : public QObject {
    Q_OBJECT
private slots:
    // Every holiday of the year, in order, as "month/day name".
    void publishedYears_data()
    {
        QTest::addColumn<int>("year");
        QTest::addColumn<QString>("holidays");
        QTest::newRow("2019") << 2019
            << "1/1 元日, 1/14 成人の日, 2/11 建国記念の日, 3/21 春分の日, 4/29 昭和の日, 4/30 国民の休日, "
               "5/1 休日（即位の日）, 5/2 国民の休日, 5/3 憲法記念日, 5/4 みどりの日, 5/5 こどもの日, 5/6 振替休日, "
               "7/15 海の日, 8/11 山の日, 8/12 振替休日, 9/16 敬老の日, 9/23 秋分の日, 10/14 体育の日, "
               "10/22 即位礼正殿の儀, 11/3 文化の日, 11/4 振替休日, 11/23 勤労感謝の日";
        QTest::newRow("2020") << 2020
            << "1/1 元日, 1/13 成人の日, 2/11 建国記念の日, 2/23 天皇誕生日, 2/24 振替休日, 3/20 春分の日, "
               "4/29 昭和の日, 5/3 憲法記念日, 5/4 みどりの日, 5/5 こどもの日, 5/6 振替休日, 7/23 海の日, "
               "7/24 スポーツの日, 8/10 山の日, 9/21 敬老の日, 9/22 秋分の日, 11/3 文化の日, 11/23 勤労感謝の日";
        QTest::newRow("2021") << 2021
            << "1/1 元日, 1/11 成人の日, 2/11 建国記念の日, 2/23 天皇誕生日, 3/20 春分の日, 4/29 昭和の日, "
               "5/3 憲法記念日, 5/4 みどりの日, 5/5 こどもの日, 7/22 海の日, 7/23 スポーツの日, 8/8 山の日, "
               "8/9 振替休日, 9/20 敬老の日, 9/23 秋分の日, 11/3 文化の日, 11/23 勤労感謝の日";
        QTest::newRow("2022") << 2022
            << "1/1 元日, 1/10 成人の日, 2/11 建国記念の日, 2/23 天皇誕生日, 3/21 春分の日, 4/29 昭和の日, "
               "5/3 憲法記念日, 5/4 みどりの日, 5/5 こどもの日, 7/18 海の日, 8/11 山の日, 9/19 敬老の日, "
               "9/23 秋分の日, 10/10 スポーツの日, 11/3 文化の日, 11/23 勤労感謝の日";
        QTest::newRow("2023") << 2023
            << "1/1 元日, 1/2 振替休日, 1/9 成人の日, 2/11 建国記念の日, 2/23 天皇誕生日, 3/21 春分の日, "
               "4/29 昭和の日, 5/3 憲法記念日, 5/4 みどりの日, 5/5 こどもの日, 7/17 海の日, 8/11 山の日, "
               "9/18 敬老の日, 9/23 秋分の日, 10/9 スポーツの日, 11/3 文化の日, 11/23 勤労感謝の日";
        QTest::newRow("2024") << 2024
            << "1/1 元日, 1/8 成人の日, 2/11 建国記念の日, 2/12 振替休日, 2/23 天皇誕生日, 3/20 春分の日, "
               "4/29 昭和の日, 5/3 憲法記念日, 5/4 みどりの日, 5/5 こどもの日, 5/6 振替休日, 7/15 海の日, "
               "8/11 山の日, 8/12 振替休日, 9/16 敬老の日, 9/22 秋分の日, 9/23 振替休日, 10/14 スポーツの日, "
               "11/3 文化の日, 11/4 振替休日, 11/23 勤労感謝の日";
        QTest::newRow("2025") << 2025
            << "1/1 元日, 1/13 成人の日, 2/11 建国記念の日, 2/23 天皇誕生日, 2/24 振替休日, 3/20 春分の日, "
               "4/29 昭和の日, 5/3 憲法記念日, 5/4 みどりの日, 5/5 こどもの日, 5/6 振替休日, 7/21 海の日, "
               "8/11 山の日, 9/15 敬老の日, 9/23 秋分の日, 10/13 スポーツの日, 11/3 文化の日, "
               "11/23 勤労感謝の日, 11/24 振替休日";
        QTest::newRow("2026") << 2026
            << "1/1 元日, 1/12 成人の日, 2/11 建国記念の日, 2/23 天皇誕生日, 3/20 春分の日, 4/29 昭和の日, "
               "5/3 憲法記念日, 5/4 みどりの日, 5/5 こどもの日, 5/6 振替休日, 7/20 海の日, 8/11 山の日, "
               "9/21 敬老の日, 9/22 国民の休日, 9/23 秋分の日, 10/12 スポーツの日, 11/3 文化の日, 11/23 勤労感謝の日";
        QTest::newRow("2027") << 2027
            << "1/1 元日, 1/11 成人の日, 2/11 建国記念の日, 2/23 天皇誕生日, 3/21 春分の日, 3/22 振替休日, "
               "4/29 昭和の日, 5/3 憲法記念日, 5/4 みどりの日, 5/5 こどもの日, 7/19 海の日, 8/11 山の日, "
               "9/20 敬老の日, 9/23 秋分の日, 10/11 スポーツの日, 11/3 文化の日, 11/23 勤労感謝の日";
    }
    void publishedYears()
    {
        QFETCH(int, year);
        QFETCH(QString, holidays);
        QStringList found;
        for (QDate day(year, 1, 1); day.year() == year; day = day.addDays(1)) {
            const QString name = holidays::holidayName(day);
            if (!name.isEmpty())
                found << QStringLiteral("%1/%2 %3").arg(day.month()).arg(day.day()).arg(name);
        }
        QCOMPARE(found.join(", "), holidays);
    }

    // The rules as they stood before: a Sunday holiday moved to Monday only, the day between two
    // holidays, the days of separate laws, and nothing before the law.
    void olderRules_data()
    {
        QTest::addColumn<QDate>("day");
        QTest::addColumn<QString>("name");
        QTest::newRow("Monday after a Sunday, 1973") << QDate(1973, 4, 30) << "振替休日";
        QTest::newRow("Sunday holiday before the substitute law") << QDate(1973, 2, 12) << "";
        QTest::newRow("4 May between holidays, 1988") << QDate(1988, 5, 4) << "国民の休日";
        QTest::newRow("4 May a Sunday, 1997") << QDate(1997, 5, 4) << "";
        QTest::newRow("5 May a Sunday, 2002: Monday only") << QDate(2002, 5, 6) << "振替休日";
        QTest::newRow("the chain past 4 and 5 May, 2008") << QDate(2008, 5, 6) << "振替休日";
        QTest::newRow("silver week 2009") << QDate(2009, 9, 22) << "国民の休日";
        QTest::newRow("funeral of the Showa emperor") << QDate(1989, 2, 24) << "昭和天皇の大喪の礼";
        QTest::newRow("emperor's birthday, last in December") << QDate(2018, 12, 24) << "振替休日";
        QTest::newRow("no emperor's birthday in 2019") << QDate(2019, 12, 23) << "";
        QTest::newRow("before the law") << QDate(1948, 5, 5) << "";
        QTest::newRow("equinox of 2030") << QDate(2030, 3, 20) << "春分の日";
    }
    void olderRules()
    {
        QFETCH(QDate, day);
        QFETCH(QString, name);
        QCOMPARE(holidays::holidayName(day), name);
    }
};

QTEST_GUILESS_MAIN(TestHolidays)
#include "test_holidays.moc"
