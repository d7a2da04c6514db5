// The database adapter on real files: what opens, what fails and with which description, what a
// lock does, how a result set moves and adds rows, and how the statements behave on the schema.
#include "platform/database.h"
#include "platform/failure.h"
#include "store/plan_store.h"
#include "support/test_env.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QSet>
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
    try {
        f();
    } catch (const platform::Failure& failure) {
        return failure.description();
    }
    return std::nullopt;
}

QString engineText(int code)
{
    return QString::fromUtf8(sqlite3_errstr(code));
}

QByteArray hashOf(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

QStringList describe(const QList<store::PLAN_REC>& rows)
{
    QStringList result;
    for (const auto& r : rows)
        result << QStringList{r.P_DATE, r.P_HOUR, r.P_MIN, r.P_DETAIL, QString::number(r.P_IMPORTANCE), r.P_PLACE,
                              r.P_NOTICE}
                      .join(QLatin1Char('|'));
    return result;
}

// Another program's connection to the same file, for locks and scratch tables.
struct OtherConnection {
    sqlite3* db = nullptr;
    explicit OtherConnection(const QString& path)
    {
        sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    }
    ~OtherConnection() { sqlite3_close(db); }
    bool exec(const QString& sql) const
    {
        return sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
    }
};

// Begins a new row through a result set and sets all seven columns, as the entry form does.
void fillNew(Recordset& rs, const store::PLAN_REC& row)
{
    rs.addNew();
    rs.setField(QStringLiteral("P_DATE"), row.P_DATE);
    rs.setField(QStringLiteral("P_HOUR"), row.P_HOUR);
    rs.setField(QStringLiteral("P_MIN"), row.P_MIN);
    rs.setField(QStringLiteral("P_DETAIL"), row.P_DETAIL);
    rs.setField(QStringLiteral("P_IMPORTANCE"), row.P_IMPORTANCE);
    rs.setField(QStringLiteral("P_PLACE"), row.P_PLACE);
    rs.setField(QStringLiteral("P_NOTICE"), row.P_NOTICE);
}

void addThrough(Recordset& rs, const store::PLAN_REC& row)
{
    fillNew(rs, row);
    rs.update();
}

void addNewRow(Database& db, const store::PLAN_REC& row)
{
    Recordset rs = db.openRecordset(store::duplicateSql(row.P_DATE, row.P_DETAIL, row.P_HOUR, row.P_MIN), store::kTable);
    addThrough(rs, row);
}

enum class Op { Open, Execute, Query, Update };

} // namespace

Q_DECLARE_METATYPE(Op)

class TestPlatformDatabase : public QObject {
    Q_OBJECT
private slots:
    // Files that cannot be opened fail at open with the engine's description and stay as they were.
    void openRefused_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("description");
        QTest::newRow("missing file") << "missing" << engineText(SQLITE_CANTOPEN);
        QTest::newRow("folder named sec.mdb") << "folder" << engineText(SQLITE_CANTOPEN);
        QTest::newRow("random bytes") << "random" << engineText(SQLITE_NOTADB);
    }
    void openRefused()
    {
        QFETCH(QString, kind);
        QFETCH(QString, description);
        testing::TestEnv env(testing::TestEnv::Options{.database = false});
        const QString path = env.dbPath();
        if (kind == QLatin1String("folder"))
            QVERIFY(QDir(env.folder()).mkdir(QStringLiteral("sec.mdb")));
        if (kind == QLatin1String("random")) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QRandomGenerator random(42);
            QByteArray bytes(8192, Qt::Uninitialized);
            random.fillRange(reinterpret_cast<quint32*>(bytes.data()), bytes.size() / 4);
            file.write(bytes);
        }
        const QByteArray before = hashOf(path);

        QCOMPARE(failureOf([&] { Database::open(path); }), description);
        QCOMPARE(QFileInfo::exists(path), kind != QLatin1String("missing"));
        QCOMPARE(QFileInfo(path).isDir(), kind == QLatin1String("folder"));
        QCOMPARE(hashOf(path), before);
    }

    // A database without the table opens, and every statement on it names the missing table.
    void missingTable_data()
    {
        QTest::addColumn<QString>("schema");
        QTest::newRow("empty file") << QString();
        QTest::newRow("other table only") << "CREATE TABLE OTHER (P_DATE TEXT)";
    }
    void missingTable()
    {
        QFETCH(QString, schema);
        testing::TestEnv env(testing::TestEnv::Options{.database = false});
        {
            QFile file(env.dbPath());
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        if (!schema.isEmpty())
            QVERIFY(OtherConnection(env.dbPath()).exec(schema));
        const QByteArray before = hashOf(env.dbPath());

        auto db = Database::open(env.dbPath());
        const QString noTable = QStringLiteral("no such table: PLAN_DAT");
        QCOMPARE(failureOf([&] { db->openRecordset(store::countTodaySql(kToday)); }), noTable);
        QCOMPARE(failureOf([&] { db->execute(store::purgeAtStartSql(kToday)); }), noTable);
        QCOMPARE(failureOf([&] { addNewRow(*db, rec(kToday, "09", "30", "会議")); }), noTable);
        db.reset();
        QCOMPARE(hashOf(env.dbPath()), before);
    }

    // Without write permission the file is only read: reading works, writing fails, no byte changes.
    void readOnlyFile()
    {
        testing::TestEnv env;
        env.insert(rec("2000/04/14", "09", "00", "昨日"));
        env.insert(rec(kToday, "10", "00", "今日"));
        QVERIFY(QFile::setPermissions(env.dbPath(), QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther));
        const QByteArray before = hashOf(env.dbPath());

        auto db = Database::open(env.dbPath());
        Recordset today = db->openRecordset(store::countTodaySql(kToday));
        QCOMPARE(today.recordCount(), 1);
        QCOMPARE(failureOf([&] { db->execute(store::purgeOnDemandSql(kToday)); }), engineText(SQLITE_READONLY));
        QCOMPARE(failureOf([&] { addNewRow(*db, rec(kToday, "11", "00", "新規")); }), engineText(SQLITE_READONLY));
        db.reset();
        QCOMPARE(hashOf(env.dbPath()), before);
    }

    // Another program holding a write lock: every operation that needs the file gives up with the
    // engine's description instead of hanging, changes nothing, and works once the lock is gone.
    void lockedByAnotherProgram_data()
    {
        QTest::addColumn<QString>("lock");
        QTest::addColumn<Op>("op");
        QTest::addColumn<int>("afterRelease");
        QTest::newRow("immediate, execute") << "BEGIN IMMEDIATE" << Op::Execute << 2;
        QTest::newRow("immediate, add row") << "BEGIN IMMEDIATE" << Op::Update << 4;
        QTest::newRow("exclusive, open and count") << "BEGIN EXCLUSIVE" << Op::Open << 2;
        QTest::newRow("exclusive, execute") << "BEGIN EXCLUSIVE" << Op::Execute << 2;
        QTest::newRow("exclusive, query") << "BEGIN EXCLUSIVE" << Op::Query << 2;
        QTest::newRow("exclusive, add row") << "BEGIN EXCLUSIVE" << Op::Update << 4;
    }
    void lockedByAnotherProgram()
    {
        QFETCH(QString, lock);
        QFETCH(Op, op);
        QFETCH(int, afterRelease);
        testing::TestEnv env;
        env.insert(rec("2000/04/14", "09", "00", "昨日"));
        env.insert(rec(kToday, "10", "00", "今日"));
        env.insert(rec(kToday, "11", "00", "今日も"));
        const QStringList before = describe(env.rows());

        std::unique_ptr<Database> db;
        std::optional<Recordset> pending;
        if (op != Op::Open)
            db = Database::open(env.dbPath());
        if (op == Op::Update)
            pending = db->openRecordset(store::duplicateSql(kToday, "新規", "12", "00"), store::kTable);
        // How many rows the operation leaves (or, for the query, finds).
        auto run = [&]() -> int {
            switch (op) {
            case Op::Open: {
                // A locked file is still a database: it opens, and its statements report the lock.
                auto fresh = Database::open(env.dbPath());
                Recordset rs = fresh->openRecordset(store::countTodaySql(kToday));
                rs.moveLast();
                return int(rs.recordCount());
            }
            case Op::Execute:
                db->execute(store::purgeOnDemandSql(kToday));
                return env.count();
            case Op::Query: {
                Recordset rs = db->openRecordset(store::countTodaySql(kToday));
                rs.moveLast();
                return int(rs.recordCount());
            }
            case Op::Update:
                addThrough(*pending, rec(kToday, "12", "00", "新規"));
                return env.count();
            }
            return -1;
        };

        {
            OtherConnection other(env.dbPath());
            QVERIFY(other.exec(lock));
            QVERIFY(other.exec("INSERT INTO PLAN_DAT VALUES ('2000/04/20', '08', '00', '他', 1, '', '')"));
            QElapsedTimer timer;
            timer.start();
            QCOMPARE(failureOf(run), engineText(SQLITE_BUSY));
            QVERIFY2(timer.elapsed() < 30000, "gave up only after a very long wait");
            QVERIFY(other.exec("ROLLBACK"));
        }
        QCOMPARE(describe(env.rows()), before);
        QCOMPARE(run(), afterRelease);
    }

    // Right after opening, eof means "no row"; the last row gives the full count; the walk
    // from the first row visits each row once.
    void walkingRows_data()
    {
        QTest::addColumn<int>("todayRows");
        QTest::newRow("none") << 0;
        QTest::newRow("one") << 1;
        QTest::newRow("three") << 3;
        QTest::newRow("forty") << 40;
    }
    void walkingRows()
    {
        QFETCH(int, todayRows);
        testing::TestEnv env;
        QStringList expected;
        for (int i = 0; i < todayRows; ++i) {
            const QString detail = QStringLiteral("用件%1").arg(i);
            env.insert(rec(kToday, hourOf(i), "00", detail));
            expected << detail;
        }
        env.insert(rec("2000/04/16", "09", "00", "明日"));
        env.insert(rec("2000/04/14", "09", "00", "昨日"));
        auto db = Database::open(env.dbPath());

        Recordset rs = db->openRecordset(store::listTodaySql(kToday));
        QCOMPARE(rs.eof(), todayRows == 0);
        rs.moveLast();
        QCOMPARE(rs.recordCount(), todayRows);
        QStringList seen;
        for (rs.moveFirst(); !rs.eof(); rs.moveNext())
            seen << rs.text(QStringLiteral("P_DETAIL"));
        seen.sort();
        expected.sort();
        QCOMPARE(seen, expected);
        QVERIFY(failureOf([&] { rs.moveNext(); }).has_value());
    }

    // The typed readers refuse a missing value and a number that does not fit 16 bits.
    void typedReaders_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("reader");
        QTest::addColumn<bool>("fails");
        QTest::addColumn<QString>("expected");
        QTest::newRow("text of NULL") << "NULL" << "text" << true << QString();
        QTest::newRow("int16 of NULL") << "NULL" << "int16" << true << QString();
        QTest::newRow("int16 of 40000") << "40000" << "int16" << true << QString();
        QTest::newRow("int16 of -40000") << "-40000" << "int16" << true << QString();
        QTest::newRow("int16 of text") << "'高'" << "int16" << true << QString();
        QTest::newRow("int16 of 32767") << "32767" << "int16" << false << "32767";
        QTest::newRow("int16 of -32768") << "-32768" << "int16" << false << "-32768";
        QTest::newRow("text") << "'会議 室'" << "text" << false << "会議 室";
        QTest::newRow("empty text") << "''" << "text" << false << "";
    }
    void typedReaders()
    {
        QFETCH(QString, stored);
        QFETCH(QString, reader);
        QFETCH(bool, fails);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("scratch.db"));
        {
            OtherConnection other(path);
            QVERIFY(other.exec("CREATE TABLE T (V)"));
            QVERIFY(other.exec(QStringLiteral("INSERT INTO T VALUES (%1)").arg(stored)));
        }
        auto db = Database::open(path);
        Recordset rs = db->openRecordset(QStringLiteral("SELECT V FROM T"));
        QVERIFY(!rs.eof());
        QString read;
        const auto failure = failureOf([&] {
            read = reader == QLatin1String("text") ? rs.text(QStringLiteral("V")) : QString::number(rs.int16(QStringLiteral("V")));
        });
        QCOMPARE(failure.has_value(), fails);
        if (fails)
            QVERIFY(!failure->isEmpty());
        else
            QCOMPARE(read, expected);
    }

    // A new row is stored only by update; a text longer than its column stores nothing and
    // reports the engine's description; the longest text that fits is stored whole.
    void addingRows_data()
    {
        QTest::addColumn<QString>("column");
        QTest::addColumn<int>("length");
        QTest::addColumn<QString>("letter");
        QTest::addColumn<bool>("stored");
        for (const char* column : {"P_DETAIL", "P_PLACE", "P_NOTICE"}) {
            QTest::addRow("%s of 255", column) << column << 255 << "a" << true;
            QTest::addRow("%s of 255 kanji", column) << column << 255 << "会" << true;
            QTest::addRow("%s of 256", column) << column << 256 << "a" << false;
            QTest::addRow("%s of 256 kanji", column) << column << 256 << "会" << false;
        }
        QTest::newRow("empty place and notice") << "P_PLACE" << 0 << "a" << true;
    }
    void addingRows()
    {
        QFETCH(QString, column);
        QFETCH(int, length);
        QFETCH(QString, letter);
        QFETCH(bool, stored);
        testing::TestEnv env;
        auto row = rec(kToday, "09", "30", "会議", 0, QString(), QString());
        const QString text = letter.repeated(length);
        if (column == QLatin1String("P_DETAIL"))
            row.P_DETAIL = text;
        else if (column == QLatin1String("P_PLACE"))
            row.P_PLACE = text;
        else
            row.P_NOTICE = text;
        auto db = Database::open(env.dbPath());
        Recordset rs = db->openRecordset(store::duplicateSql(row.P_DATE, row.P_DETAIL, row.P_HOUR, row.P_MIN), store::kTable);
        QVERIFY(rs.eof());

        fillNew(rs, row);
        QCOMPARE(env.count(), 0);
        const auto failure = failureOf([&] { rs.update(); });

        if (!stored) {
            QVERIFY(failure.has_value());
            QVERIFY2(failure->startsWith(QStringLiteral("CHECK constraint failed")) && failure->contains(column),
                     qPrintable(*failure));
            QCOMPARE(env.count(), 0);
            return;
        }
        QCOMPARE(failure, std::nullopt);
        QCOMPARE(describe(env.rows()), describe({row}));
        // Read back through the adapter: empty texts are texts, not missing values.
        Recordset back = db->openRecordset(store::listTodaySql(kToday));
        QCOMPARE(back.recordCount(), 1);
        QCOMPARE(back.text(column), text);
        for (const char* name : {"P_PLACE", "P_NOTICE"})
            QVERIFY(!back.value(QString::fromLatin1(name)).isNull());
        QCOMPARE(back.int16(QStringLiteral("P_IMPORTANCE")), row.P_IMPORTANCE);
    }

    // A failure while a row is being filled stores nothing, and the half-filled row is not kept.
    void failureWhileFilling()
    {
        testing::TestEnv env;
        auto db = Database::open(env.dbPath());
        Recordset rs = db->openRecordset(store::duplicateSql(kToday, "会議", "09", "30"), store::kTable);
        rs.addNew();
        rs.setField(QStringLiteral("P_DATE"), kToday);
        QVERIFY(failureOf([&] { rs.setField(QStringLiteral("P_NOWHERE"), 1); }).has_value());
        QVERIFY(failureOf([&] { rs.update(); }).has_value());
        QVERIFY(failureOf([&] { rs.update(); }).has_value());
        QCOMPARE(env.count(), 0);
        Recordset readOnly = db->openRecordset(store::countTodaySql(kToday));
        QVERIFY(failureOf([&] { readOnly.addNew(); }).has_value());
    }

    // A second statement after the first is refused whole: neither of them runs.
    void secondStatementRefused_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<bool>("query");
        QTest::newRow("execute: delete then drop") << "DELETE FROM PLAN_DAT; DROP TABLE PLAN_DAT" << false;
        QTest::newRow("execute: delete then comment") << "DELETE FROM PLAN_DAT; -- gone" << false;
        QTest::newRow("query: select then delete") << "SELECT * FROM PLAN_DAT; DELETE FROM PLAN_DAT" << true;
        QTest::newRow("query: select then drop") << "SELECT * FROM PLAN_DAT;DROP TABLE PLAN_DAT;" << true;
    }
    void secondStatementRefused()
    {
        QFETCH(QString, sql);
        QFETCH(bool, query);
        testing::TestEnv env;
        env.insert(rec(kToday, "09", "30", "会議"));
        env.insert(rec("2000/04/14", "09", "30", "昨日"));
        const QStringList before = describe(env.rows());
        auto db = Database::open(env.dbPath());
        const auto failure = failureOf([&] {
            if (query)
                db->openRecordset(sql);
            else
                db->execute(sql);
        });
        QVERIFY(failure.has_value() && !failure->isEmpty());
        QCOMPARE(describe(env.rows()), before);
    }

    // Both purges remove exactly the rows dated before today.
    void purges_data()
    {
        QTest::addColumn<bool>("onDemand");
        QTest::newRow("at start-up") << false;
        QTest::newRow("on demand") << true;
    }
    void purges()
    {
        QFETCH(bool, onDemand);
        testing::TestEnv env;
        const QStringList dates = {"2000/04/14", "1999/12/31", "2000/04/15", "2000/04/16", "2001/01/01"};
        for (const QString& date : dates)
            env.insert(rec(date, "09", "00", QStringLiteral("用件 ") + date));
        auto db = Database::open(env.dbPath());
        db->execute(onDemand ? store::purgeOnDemandSql(kToday) : store::purgeAtStartSql(kToday));
        QStringList kept;
        for (const auto& row : env.rows())
            kept << row.P_DATE;
        QCOMPARE(kept, (QStringList{"2000/04/15", "2000/04/16", "2001/01/01"}));
    }

    // A subject carrying quotes and statement text is stored, found and deleted as itself only.
    void quotedSubjects_data()
    {
        QTest::addColumn<QString>("subject");
        QTest::newRow("always true") << "x' OR '1'='1";
        QTest::newRow("drop table") << "'; DROP TABLE PLAN_DAT; --";
        QTest::newRow("apostrophe") << "it's";
        QTest::newRow("quotes only") << "''";
    }
    void quotedSubjects()
    {
        QFETCH(QString, subject);
        testing::TestEnv env;
        const QStringList others = {"x", "1", "会議", ""};
        for (const QString& other : others)
            env.insert(rec(kToday, "09", "30", other));
        auto db = Database::open(env.dbPath());
        addNewRow(*db, rec(kToday, "09", "30", subject));
        QCOMPARE(env.count(QStringLiteral("P_DETAIL = ") + literal(subject)), 1);

        Recordset found = db->openRecordset(store::duplicateSql(kToday, subject, "09", "30"));
        QCOMPARE(found.recordCount(), 1);
        QCOMPARE(found.text(QStringLiteral("P_DETAIL")), subject);

        db->execute(store::deleteSql(rec(kToday, "09", "30", subject)));
        QStringList left;
        for (const auto& row : env.rows())
            left << row.P_DETAIL;
        QCOMPARE(left, others);
    }

    // Rows equal in the four identifying values are deleted together; a neighbour stays.
    void twinsDeletedTogether()
    {
        testing::TestEnv env;
        env.insert(rec(kToday, "09", "30", " 会議", 0, "本社", ""));
        env.insert(rec(kToday, "09", "30", " 会議", 2, "", "再"));
        env.insert(rec(kToday, "09", "45", " 会議"));
        env.insert(rec(kToday, "09", "30", "会議"));
        auto db = Database::open(env.dbPath());
        Recordset twins = db->openRecordset(store::duplicateSql(kToday, " 会議", "09", "30"));
        twins.moveLast();
        QCOMPARE(twins.recordCount(), 2);
        db->execute(store::deleteSql(rec(kToday, "09", "30", " 会議")));
        QCOMPARE(describe(env.rows()), describe({rec(kToday, "09", "45", " 会議"), rec(kToday, "09", "30", "会議")}));
    }

    // Each statement reaches its rows through the index, never by reading the whole table.
    void statementsUseTheIndex_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::newRow("count") << store::countTodaySql(kToday);
        QTest::newRow("list") << store::listTodaySql(kToday);
        QTest::newRow("duplicate") << store::duplicateSql(kToday, "会議", "09", "30");
        QTest::newRow("delete") << store::deleteSql(rec(kToday, "09", "30", "会議"));
        QTest::newRow("purge at start-up") << store::purgeAtStartSql(kToday);
        QTest::newRow("purge on demand") << store::purgeOnDemandSql(kToday);
    }
    void statementsUseTheIndex()
    {
        QFETCH(QString, sql);
        testing::TestEnv env;
        for (int i = 0; i < 50; ++i)
            env.insert(rec(QStringLiteral("2000/03/%1").arg(i % 28 + 1, 2, 10, QLatin1Char('0')), "09", "00", "過去"));
        auto db = Database::open(env.dbPath());
        Recordset plan = db->openRecordset(QStringLiteral("EXPLAIN QUERY PLAN ") + sql);
        QVERIFY(!plan.eof());
        for (; !plan.eof(); plan.moveNext()) {
            const QString step = plan.text(QStringLiteral("detail"));
            QVERIFY2(step.contains(QStringLiteral("PLAN_DAT_KEY")) && !step.startsWith(QStringLiteral("SCAN")),
                     qPrintable(step));
        }
    }

    void sixteenBits_data()
    {
        QTest::addColumn<qint64>("value");
        QTest::addColumn<bool>("fits");
        QTest::newRow("32767") << qint64(32767) << true;
        QTest::newRow("-32768") << qint64(-32768) << true;
        QTest::newRow("0") << qint64(0) << true;
        QTest::newRow("32768") << qint64(32768) << false;
        QTest::newRow("-32769") << qint64(-32769) << false;
        QTest::newRow("65536") << qint64(65536) << false;
    }
    void sixteenBits()
    {
        QFETCH(qint64, value);
        QFETCH(bool, fits);
        qint16 converted = 0;
        const auto failure = failureOf([&] { converted = platform::toInt16(value); });
        QCOMPARE(failure.has_value(), !fits);
        if (fits)
            QCOMPARE(qint64(converted), value);
        else
            QVERIFY(!failure->isEmpty());
    }

private:
    static QString hourOf(int i) { return QStringLiteral("%1").arg(i % 24, 2, 10, QLatin1Char('0')); }
    // A literal for the test's own connection, independent of the program's quoting.
    static QString literal(const QString& text)
    {
        return QLatin1Char('\'') + QString(text).replace(QLatin1Char('\''), QLatin1String("''")) + QLatin1Char('\'');
    }
};

QTEST_GUILESS_MAIN(TestPlatformDatabase)
#include "test_platform_database.moc"
