// sec.mdb across versions, on real files: a file of the first version (as that version made it,
// with sync links) comes to this one whole, with a copy of itself kept; one that cannot be written
// still shows today's appointments; one of a newer version is only read. New files are this
// version's, the same tables a migration makes.
#include "support/test_env.h"

#include "store/storage.h"

#include <QtTest>
#include <QtWidgets>

using testing::TestEnv;

namespace {

// The first version's table, as its schema made it, with rowids 1-4 (2 deleted): 4 stands for a
// server's event, 3 was sent by an export only.
const QString kFirstSchema = QStringLiteral(
    "CREATE TABLE PLAN_DAT (P_DATE TEXT NOT NULL CONSTRAINT P_DATE_SIZE CHECK (length(P_DATE) <= 10), P_HOUR TEXT NOT NULL"
    " CONSTRAINT P_HOUR_SIZE CHECK (length(P_HOUR) <= 2), P_MIN TEXT NOT NULL CONSTRAINT P_MIN_SIZE CHECK (length(P_MIN) <= 2),"
    " P_DETAIL TEXT NOT NULL CONSTRAINT P_DETAIL_SIZE CHECK (length(P_DETAIL) <= 255), P_IMPORTANCE INTEGER NOT NULL CONSTRAINT"
    " P_IMPORTANCE_SIZE CHECK (P_IMPORTANCE BETWEEN -32768 AND 32767), P_PLACE TEXT NOT NULL CONSTRAINT P_PLACE_SIZE CHECK"
    " (length(P_PLACE) <= 255), P_NOTICE TEXT NOT NULL CONSTRAINT P_NOTICE_SIZE CHECK (length(P_NOTICE) <= 255)) STRICT;"
    "CREATE INDEX PLAN_DAT_KEY ON PLAN_DAT (P_DATE, P_HOUR, P_MIN, P_DETAIL);"
    "INSERT INTO PLAN_DAT VALUES ('2000/04/14','18','00','昨日',1,'',''), ('x','0','0','消えた',1,'',''),"
    " ('2000/04/15','09','00','朝礼',0,'本社','資料'), ('2000/04/15','10','30','会議',2,'',''); DELETE FROM PLAN_DAT WHERE rowid = 2;");

// Makes env's sec.mdb a file of the first version, linked to a server as that version did.
const QString kFirstVersion = "DROP TABLE PLAN_DAT; DROP TABLE PLAN_SERIES;" + kFirstSchema + "PRAGMA user_version = 0;"
    "CREATE TABLE SYNC_ITEM (HREF TEXT PRIMARY KEY, UID TEXT NOT NULL, ETAG TEXT NOT NULL, SERIES INTEGER NOT NULL);"
    "CREATE TABLE SYNC_LINK (ROW_ID INTEGER PRIMARY KEY, HREF TEXT NOT NULL, DAY TEXT NOT NULL, DIGEST TEXT NOT NULL);"
    "INSERT INTO SYNC_ITEM VALUES ('/c/s.ics', 'server-uid', '1', 0); INSERT INTO SYNC_LINK VALUES (4, '/c/s.ics', '', '');";

QStringList columnsOf(const QString& path)
{
    QStringList result;
    for (const char* what : {"PRAGMA table_info(PLAN_DAT)", "PRAGMA index_list(PLAN_DAT)", "PRAGMA user_version"})
        for (const platform::Row& row : platform::Database::open(path)->query(QString::fromLatin1(what)))
            result << QVariant(QVariantList(row.begin(), row.end())).toStringList().join('|');
    return result;
}

} // namespace

class TestStorage : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty()); }

    // Started on the first version: the file as it was is kept beside it, every row keeps its
    // values and its rowid as its id, the link stays with its row, UIDs are those the server and
    // the export knew, and the tables are those of a new file. A new row never reuses an id.
    void migrates()
    {
        TestEnv env;
        const QStringList fresh = columnsOf(env.dbPath());
        env.exec(kFirstVersion);
        const QByteArray before = testing::bytesOf(env.dbPath());
        {
            testing::StartedMain main;
            QCOMPARE(main.label("TELL_LABEL"), "2件の予定が入っています。");
        }
        QCOMPARE(env.told(), QStringList());
        QCOMPARE(testing::bytesOf(env.dbPath() + ".bak"), before);
        QCOMPARE(columnsOf(env.dbPath()), fresh);
        env.insert(testing::rec("2000/04/16", "09", "00", "新規"));
        auto db = platform::Database::open(env.dbPath());
        QStringList rows;
        for (const auto& r : db->query("SELECT ID || ' ' || P_DETAIL || ' ' || UID FROM PLAN_DAT ORDER BY ID"))
            rows << r[0].toString().left(20);
        const QString exported = store::firstUid(testing::rec("2000/04/15", "09", "00", "朝礼"));
        QCOMPARE(rows.mid(0, 2), QStringList({("3 朝礼 " + exported).left(20), "4 会議 server-uid"}));
        QVERIFY2(rows.value(2).startsWith("5 新規 ") && rows.size() == 3, qPrintable(rows.join(", ")));
        QCOMPARE(db->query("SELECT ROW_ID, HREF FROM SYNC_LINK").at(0), platform::Row({4, "/c/s.ics"}));
        QCOMPARE(env.table(), QStringList({"2000/04/15|09|00|朝礼|0|本社|資料", "2000/04/15|10|30|会議|2||",
                                           "2000/04/16|09|00|新規|1||"}));
    }

    // A file that cannot be written shows today's appointments and every change says why: a file
    // of the first version is read into memory for it and stays as it was; one made by a newer
    // version says so at start-up.
    void unwritable_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QFile::Permissions>("permissions");
        QTest::addColumn<QStringList>("told");
        const QString old = "データベースに書き込めません（ファイルまたはフォルダーが読み取り専用です）。古い版のファイルのため、読むことだけができます。";
        const QString newer = "このデータベースは新しい版のミルドカで作られたため、変更できません（読むことだけができます）。";
        const QString ask = testing::box("昨日以前のデータを削除しますか？", "ﾃﾞｰﾀﾒﾝﾃﾅﾝｽ", platform::MsgIcon::Question,
                                         platform::MsgButtons::YesNo);
        QTest::newRow("first version, read-only") << kFirstVersion << QFile::Permissions(QFile::ReadOwner)
                                                  << QStringList{old, ask, old};
        QTest::newRow("newer version")
            << "INSERT INTO PLAN_DAT (P_DATE, P_HOUR, P_MIN, P_DETAIL, P_IMPORTANCE, P_PLACE, P_NOTICE) VALUES ('2000/04/14',"
               " '09', '00', 'a', 1, '', ''), ('2000/04/15', '09', '00', 'b', 1, '', ''), ('2000/04/15', '10', '00', 'c', 1, '', '');"
               "PRAGMA user_version = " + QString::number(store::kSchemaVersion + 1)
            << (QFile::ReadOwner | QFile::WriteOwner)
            << QStringList{testing::box("このデータベースは新しい版のミルドカで作られたため、読むことだけができます。"
                                        "予定の登録・変更・削除はできません。", platform::programTitle(), platform::MsgIcon::Exclamation),
                           newer, ask, newer};
    }
    void unwritable()
    {
        QFETCH(QString, sql);
        QFETCH(QFile::Permissions, permissions);
        QFETCH(QStringList, told);
        TestEnv env;
        env.exec(sql);
        QVERIFY(QFile::setPermissions(env.dbPath(), permissions));
        const QByteArray before = testing::bytesOf(env.dbPath());
        {
            testing::StartedMain main;
            QCOMPARE(main.label("TELL_LABEL"), "2件の予定が入っています。");
            env.answer(platform::MsgAnswer::Yes);
            main.action("mnuData")->trigger();
        }
        QCOMPARE(env.told(), told);
        QCOMPARE(testing::bytesOf(env.dbPath()), before);
        QVERIFY(!QFile::exists(env.dbPath() + ".bak"));
    }
};

QTEST_MAIN(TestStorage)
#include "test_storage.moc"
