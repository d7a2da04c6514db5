// sec.mdb across versions, on real files: a file of the first version (as that version made it,
// with sync links) comes to this one whole, with a copy of itself kept; one that cannot be written
// still shows today's appointments; one of a newer version is only read. New files are this
// version's, the same tables a migration makes.
#include "support/test_env.h"

#include "store/storage.h"
#include "sync/sync_engine.h"

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

// Replaces env's sec.mdb by a file of the first version, linked to a server as that version did.
void makeFirstVersion(TestEnv& env)
{
    testing::writeBytes(env.dbPath(), {});
    env.exec(kFirstSchema);
    calsync::prepareDatabase(*platform::Database::open(env.dbPath()));
    env.exec("INSERT INTO SYNC_ITEM VALUES ('/c/s.ics', 'server-uid', '1', 0); INSERT INTO SYNC_LINK VALUES (4, '/c/s.ics', '', '');");
}

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

    // Started on the first version: every row keeps its values and its rowid as its id, the link
    // stays with its row, UIDs are those the server and the export knew, and the file as it was
    // is kept beside it (a copy already there is left alone). The purge of past rows and a new
    // appointment never reuse an id.
    void migrates_data()
    {
        QTest::addColumn<bool>("backupThere");
        QTest::newRow("first migration") << false;
        QTest::newRow("a copy kept from before") << true;
    }
    void migrates()
    {
        QFETCH(bool, backupThere);
        TestEnv env;
        const QStringList fresh = columnsOf(env.dbPath());
        makeFirstVersion(env);
        const QByteArray before = testing::bytesOf(env.dbPath());
        const QByteArray backup = backupThere ? QByteArray("older") : before;
        if (backupThere)
            testing::writeBytes(env.dbPath() + ".bak", backup);
        {
            testing::StartedMain main;
            QCOMPARE(main.label("TELL_LABEL"), "2件の予定が入っています。");
        }
        QCOMPARE(env.told(), QStringList());
        QCOMPARE(testing::bytesOf(env.dbPath() + ".bak"), backup);
        QCOMPARE(columnsOf(env.dbPath()), fresh);
        env.insert(testing::rec("2000/04/16", "09", "00", "新規"));
        auto db = platform::Database::open(env.dbPath());
        QStringList rows;
        for (const auto& r : db->query("SELECT ID, P_DETAIL, UID, ALL_DAY, END_DATE FROM PLAN_DAT ORDER BY ID"))
            rows << QStringLiteral("%1 %2 %3 %4[%5]").arg(r[0].toString(), r[1].toString(), r[2].toString().left(10),
                                                          r[3].toString(), r[4].toString());
        const QString exported = store::firstUid(testing::rec("2000/04/15", "09", "00", "朝礼")).left(10);
        QCOMPARE(rows.mid(0, 2), QStringList({"3 朝礼 " + exported + " 0[]", "4 会議 server-uid 0[]"}));
        QVERIFY2(rows.value(2).startsWith("5 新規 ") && rows.size() == 3, qPrintable(rows.join(", ")));
        QCOMPARE(db->query("SELECT ROW_ID, HREF FROM SYNC_LINK").at(0), platform::Row({4, "/c/s.ics"}));
        QCOMPARE(env.table(), QStringList({"2000/04/15|09|00|朝礼|0|本社|資料", "2000/04/15|10|30|会議|2||",
                                           "2000/04/16|09|00|新規|1||"}));
    }

    // A file that cannot be written shows its appointments as today's and every change says why;
    // a file of the first version is read into memory for it and stays as it was, and one made by
    // a newer version says so at start-up.
    void unwritable_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QStringList>("told");
        const QString refused = "データベースに書き込めません（ファイルまたはフォルダーが読み取り専用です）。";
        const QString oldRefused = refused + "古い版のファイルのため、読むことだけができます。";
        const QString newer = "このデータベースは新しい版のミルドカで作られたため、変更できません（読むことだけができます）。";
        const QString ask = testing::box("昨日以前のデータを削除しますか？", "ﾃﾞｰﾀﾒﾝﾃﾅﾝｽ", platform::MsgIcon::Question,
                                         platform::MsgButtons::YesNo);
        QTest::newRow("first version, read-only") << "old" << QStringList{oldRefused, ask, oldRefused};
        QTest::newRow("newer version")
            << "newer" << QStringList{testing::box("このデータベースは新しい版のミルドカで作られたため、読むことだけができます。"
                                                   "予定の登録・変更・削除はできません。",
                                                   platform::programTitle(), platform::MsgIcon::Exclamation),
                                      newer, ask, newer};
    }
    void unwritable()
    {
        QFETCH(QString, kind);
        QFETCH(QStringList, told);
        TestEnv env;
        makeFirstVersion(env);
        if (kind == "newer") {
            store::openAppointments(env.dbPath());
            env.exec("PRAGMA user_version = 3");
        } else {
            QVERIFY(QFile::setPermissions(env.dbPath(), QFile::ReadOwner));
        }
        const QByteArray before = testing::bytesOf(env.dbPath());
        {
            testing::StartedMain main;
            QCOMPARE(main.label("TELL_LABEL"), "2件の予定が入っています。");
            env.answer(platform::MsgAnswer::Yes);
            main.action("mnuData")->trigger();
        }
        QCOMPARE(env.told(), told);
        QCOMPARE(testing::bytesOf(env.dbPath()), before);
        QCOMPARE(QFile::exists(env.dbPath() + ".bak"), kind == "newer");
    }
};

QTEST_MAIN(TestStorage)
#include "test_storage.moc"
