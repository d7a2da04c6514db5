// The text forms and statements that every window relies on.
#include "state/module1.h"
#include "state/text.h"
#include "store/plan_store.h"
#include "support/test_env.h"

#include <QTest>

class TestTextAndStatements : public QObject {
    Q_OBJECT
private slots:
    void trimming_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("trimmed");
        QTest::newRow("plain") << "会議" << "会議";
        QTest::newRow("half-width blanks") << "  会議 " << "会議";
        QTest::newRow("ideographic blanks") << "\u3000会議\u3000\u3000" << "会議";
        QTest::newRow("mixed blanks") << " \u3000会 議\u3000 " << "会 議";
        QTest::newRow("blanks only") << " \u3000 " << "";
        QTest::newRow("tab and newline stay") << "\t会議\n" << "\t会議\n";
    }
    void trimming()
    {
        QFETCH(QString, typed);
        QFETCH(QString, trimmed);
        QCOMPARE(state::trimBlanks(typed), trimmed);
    }

    void dates_data()
    {
        QTest::addColumn<QDate>("date");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("caption");
        QTest::newRow("15 April 2000") << QDate(2000, 4, 15) << "2000/04/15" << "2000年04月15日";
        QTest::newRow("3 January 2001") << QDate(2001, 1, 3) << "2001/01/03" << "2001年01月03日";
        QTest::newRow("31 December 1999") << QDate(1999, 12, 31) << "1999/12/31" << "1999年12月31日";
    }
    void dates()
    {
        QFETCH(QDate, date);
        QFETCH(QString, key);
        QFETCH(QString, caption);
        QCOMPARE(state::dateKey(date), key);
        QCOMPARE(state::dateCaption(date), caption);
    }

    void datesOrderAsText()
    {
        const QStringList keys = {state::dateKey(QDate(1999, 12, 31)), state::dateKey(QDate(2000, 4, 14)),
                                  state::dateKey(QDate(2000, 4, 15)), state::dateKey(QDate(2000, 4, 16)),
                                  state::dateKey(QDate(2000, 5, 1)), state::dateKey(QDate(2001, 1, 1))};
        for (int i = 1; i < keys.size(); ++i)
            QVERIFY2(keys[i - 1] < keys[i], qPrintable(keys[i - 1] + " < " + keys[i]));
    }

    void statementsAsWritten()
    {
        const QString today = QStringLiteral("2000/04/15");
        QCOMPARE(store::countTodaySql(today), "SELECT * FROM PLAN_DAT WHERE PLAN_DAT.P_DATE = '2000/04/15'");
        QCOMPARE(store::purgeAtStartSql(today), "DELETE FROM PLAN_DAT WHERE PLAN_DAT.P_DATE< '2000/04/15'");
        QCOMPARE(store::purgeOnDemandSql(today), "DELETE FROM PLAN_DAT WHERE PLAN_DAT.P_DATE < '2000/04/15'");
        QCOMPARE(store::listTodaySql(today), "SELECT * FROM PLAN_DAT WHERE P_DATE= '2000/04/15';");
        QCOMPARE(store::duplicateSql(today, "会議", "09", "30"),
                 "SELECT PLAN_DAT.* FROM PLAN_DAT WHERE PLAN_DAT.P_DATE = '2000/04/15' AND PLAN_DAT.P_DETAIL = '会議'"
                 " AND PLAN_DAT.P_HOUR = '09' AND PLAN_DAT.P_MIN= '30';");
        QCOMPARE(store::deleteSql(testing::rec(today, "09", "30", "会議")),
                 "DELETE FROM PLAN_DAT WHERE PLAN_DAT.P_DATE = '2000/04/15' AND PLAN_DAT.P_DETAIL = '会議'"
                 " AND PLAN_DAT.P_HOUR = '09' AND PLAN_DAT.P_MIN= '30';");
    }

    void quotesStayInsideTheLiteral()
    {
        QCOMPARE(state::sqlQuote("x' OR '1'='1"), "x'' OR ''1''=''1");
        QCOMPARE(store::duplicateSql("2000/04/15", "it's", "09", "30"),
                 "SELECT PLAN_DAT.* FROM PLAN_DAT WHERE PLAN_DAT.P_DATE = '2000/04/15' AND PLAN_DAT.P_DETAIL = 'it''s'"
                 " AND PLAN_DAT.P_HOUR = '09' AND PLAN_DAT.P_MIN= '30';");
    }

    void programPaths_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("prefix");
        QTest::newRow("folder") << "/opt/app" << "/opt/app/";
        QTest::newRow("root") << "/" << "/";
        QTest::newRow("drive root") << "E:\\" << "E:\\";
        QTest::newRow("drive folder") << "D:/APP" << "D:/APP/";
    }
    void programPaths()
    {
        QFETCH(QString, folder);
        QFETCH(QString, prefix);
        QCOMPARE(state::folderPrefix(folder), prefix);
    }
};

QTEST_MAIN(TestTextAndStatements)
#include "test_text_and_statements.moc"
