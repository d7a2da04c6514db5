// The database adapter on real files: where an unusable file fails and with which description,
// how a result set moves and adds rows, and how the statements behave on the schema. What the
// windows make of unusable files, locks and hostile or overlong texts is tested through them.
#include "platform/database.h"
#include "platform/failure.h"
#include "store/plan_store.h"
#include "support/test_env.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTest>

#include <sqlite3.h>

#include <optional>

using platform::Database;
using platform::Recordset;
using testing::rec;

namespace {

const QString kToday = QStringLiteral("2000/04/15");

// The description of the Failure that f throws, or nothing when it throws none.
template <class F>
std::optional<QString> failureOf(F f)
{
    try { f(); } catch (const platform::Failure& failure) { return failure.description(); }
    return std::nullopt;
}

// Whether f throws a Failure that describes itself.
template <class F>
bool fails(F f)
{
    return !failureOf(f).value_or(QString()).isEmpty();
}

QString engineText(int code) { return QString::fromUtf8(sqlite3_errstr(code)); }

QByteArray bytesOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList describe(const QList<store::PLAN_REC>& rows)
{
    QStringList result;
    for (const auto& r : rows)
        result << QStringList{r.P_DATE, r.P_HOUR, r.P_MIN, r.P_DETAIL, QString::number(r.P_IMPORTANCE), r.P_PLACE,
                              r.P_NOTICE}.join(QLatin1Char('|'));
    return result;
}

// Begins a new row through a result set and sets all seven columns, as the entry form does.
void fillNew(Recordset& rs, const store::PLAN_REC& row)
{
    rs.addNew();
    const QList<std::pair<const char*, QVariant>> fields = {
        {"P_DATE", row.P_DATE}, {"P_HOUR", row.P_HOUR}, {"P_MIN", row.P_MIN}, {"P_DETAIL", row.P_DETAIL},
        {"P_IMPORTANCE", row.P_IMPORTANCE}, {"P_PLACE", row.P_PLACE}, {"P_NOTICE", row.P_NOTICE}};
    for (const auto& [column, value] : fields)
        rs.setField(QString::fromLatin1(column), value);
}

Recordset duplicates(Database& db, const store::PLAN_REC& row, const QString& table = {})
{
    return db.openRecordset(store::duplicateSql(row.P_DATE, row.P_DETAIL, row.P_HOUR, row.P_MIN), table);
}

} // namespace

class TestPlatformDatabase : public QObject {
    Q_OBJECT
private slots:
    // A file that is no database fails at open, one without the table at its first statement and
    // one without write permission at its first write (reading works), each with the engine's
    // description; a missing file is not created, and no file is changed.
    void badFiles_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("atOpen");
        QTest::addColumn<QString>("atUse");
        QTest::newRow("missing file") << "missing" << engineText(SQLITE_CANTOPEN) << "";
        QTest::newRow("random bytes") << "random" << engineText(SQLITE_NOTADB) << "";
        QTest::newRow("empty file, no PLAN_DAT") << "empty" << "" << "no such table: PLAN_DAT";
        QTest::newRow("read-only") << "readonly" << "" << engineText(SQLITE_READONLY);
    }
    void badFiles()
    {
        QFETCH(QString, kind);
        QFETCH(QString, atOpen);
        QFETCH(QString, atUse);
        testing::TestEnv env(testing::TestEnv::Options{.database = kind == QLatin1String("readonly")});
        const QString path = env.dbPath();
        if (kind == QLatin1String("readonly")) {
            env.insert(rec("2000/04/14", "09", "00", "昨日"));
            env.insert(rec(kToday, "10", "00", "今日"));
            QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther));
        } else if (kind != QLatin1String("missing")) {
            QByteArray bytes(kind == QLatin1String("random") ? 8192 : 0, '\0');
            QRandomGenerator(42).fillRange(reinterpret_cast<quint32*>(bytes.data()), bytes.size() / 4);
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        }
        const QByteArray before = bytesOf(path);

        std::unique_ptr<Database> db;
        QCOMPARE(failureOf([&] { db = Database::open(path); }).value_or(QString()), atOpen);
        qint64 today = -1;
        if (db)
            QCOMPARE(failureOf([&] {
                today = db->openRecordset(store::countTodaySql(kToday)).recordCount();
                db->execute(store::purgeAtStartSql(kToday));
            }), atUse);
        QCOMPARE(today, kind == QLatin1String("readonly") ? 1 : -1);
        db.reset();
        QCOMPARE(QFileInfo::exists(path), kind != QLatin1String("missing"));
        QCOMPARE(bytesOf(path), before);
    }

    // Right after opening, eof means "no row"; the last row gives the full count; the walk from
    // the first row visits each row once, and a step past the end fails.
    void walkingRows()
    {
        testing::TestEnv env;
        const QStringList expected = {"用件0", "用件1", "用件2"};
        for (const QString& detail : expected)
            env.insert(rec(kToday, "1" + detail.right(1), "00", detail));
        env.insert(rec("2000/04/16", "09", "00", "明日"));
        auto db = Database::open(env.dbPath());
        QVERIFY(db->openRecordset(store::listTodaySql("2000/04/17")).eof());
        Recordset rs = db->openRecordset(store::listTodaySql(kToday));
        rs.moveLast();
        QCOMPARE(rs.recordCount(), 3);
        QStringList seen;
        for (rs.moveFirst(); !rs.eof(); rs.moveNext())
            seen << rs.text(QStringLiteral("P_DETAIL"));
        seen.sort();
        QCOMPARE(seen, expected);
        QVERIFY(fails([&] { rs.moveNext(); }));
    }

    // The typed readers refuse a missing value, and a number that does not fit 16 bits.
    void typedReaders()
    {
        testing::TestEnv env;
        Recordset rs = Database::open(env.dbPath())->openRecordset(
            "SELECT NULL AS N, 32767 AS HI, -32768 AS LO, 32768 AS OVER, -32769 AS UNDER, '会議 室' AS WORDS");
        QVERIFY(fails([&] { rs.text("N"); }));
        for (const char* column : {"N", "OVER", "UNDER", "WORDS"})
            QVERIFY2(fails([&] { rs.int16(column); }), column);
        QCOMPARE(rs.int16("HI"), 32767);
        QCOMPARE(rs.int16("LO"), -32768);
        QCOMPARE(rs.text("WORDS"), "会議 室");
    }

    // A new row is stored only by update, with every column as it was set.
    void addingRows()
    {
        testing::TestEnv env;
        const auto row = rec(kToday, "09", "30", "会議", 2, "本社", "資料");
        auto db = Database::open(env.dbPath());
        Recordset rs = duplicates(*db, row, store::kTable);
        fillNew(rs, row);
        QCOMPARE(env.count(), 0);
        rs.update();
        QCOMPARE(describe(env.rows()), describe({row}));
        QCOMPARE(db->openRecordset(store::listTodaySql(kToday)).text(QStringLiteral("P_NOTICE")), QStringLiteral("資料"));
    }

    // A failure while a row is being filled stores nothing, and the half-filled row is not kept;
    // a second statement after the first is refused whole, and neither of them runs.
    void failuresStoreNothing()
    {
        testing::TestEnv env;
        env.insert(rec("2000/04/14", "09", "30", "昨日"));
        const QStringList before = describe(env.rows());
        auto db = Database::open(env.dbPath());
        Recordset rs = duplicates(*db, rec(kToday, "09", "30", "会議"), store::kTable);
        rs.addNew();
        rs.setField(QStringLiteral("P_DATE"), kToday);
        QVERIFY(fails([&] { rs.setField(QStringLiteral("P_NOWHERE"), 1); }));
        QVERIFY(fails([&] { rs.update(); }));
        QVERIFY(fails([&] { rs.update(); }));
        QVERIFY(fails([&] { db->openRecordset(store::countTodaySql(kToday)).addNew(); }));
        QVERIFY(fails([&] { db->execute("DELETE FROM PLAN_DAT; DROP TABLE PLAN_DAT"); }));
        QVERIFY(fails([&] { db->openRecordset("SELECT * FROM PLAN_DAT; DELETE FROM PLAN_DAT"); }));
        QCOMPARE(describe(env.rows()), before);
    }

    // Both purges remove exactly the rows dated before today.
    void purges()
    {
        for (const QString& sql : {store::purgeAtStartSql(kToday), store::purgeOnDemandSql(kToday)}) {
            testing::TestEnv env;
            for (const char* date : {"2000/04/14", "1999/12/31", "2000/04/15", "2000/04/16", "2001/01/01"})
                env.insert(rec(date, "09", "00", "用件"));
            Database::open(env.dbPath())->execute(sql);
            QCOMPARE(env.count(), 3);
            QCOMPARE(env.count("P_DATE >= '2000/04/15'"), 3);
        }
    }

    // Each statement reaches its rows through the index, never by reading the whole table.
    void statementsUseTheIndex()
    {
        testing::TestEnv env;
        auto db = Database::open(env.dbPath());
        for (const QString& sql : {store::countTodaySql(kToday), store::listTodaySql(kToday),
                                   store::duplicateSql(kToday, "会議", "09", "30"), store::deleteSql(rec(kToday, "09", "30", "会議")),
                                   store::purgeAtStartSql(kToday), store::purgeOnDemandSql(kToday)}) {
            Recordset plan = db->openRecordset(QStringLiteral("EXPLAIN QUERY PLAN ") + sql);
            QVERIFY2(!plan.eof(), qPrintable(sql));
            for (; !plan.eof(); plan.moveNext()) {
                const QString step = plan.text(QStringLiteral("detail"));
                QVERIFY2(step.contains(QStringLiteral("PLAN_DAT_KEY")) && !step.startsWith(QStringLiteral("SCAN")),
                         qPrintable(sql + QStringLiteral(": ") + step));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestPlatformDatabase)
#include "test_platform_database.moc"
