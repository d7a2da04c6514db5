// What the adapters promise beneath the windows: one statement at a time, the engine's failures
// in Japanese words, a program folder whatever bytes its name has, and a build step that never
// replaces a file that may hold appointments.
#include "platform/database.h"
#include "platform/failure.h"
#include "platform/files.h"
#include "support/test_env.h"

#include <QtTest>

#include <cstdio>
#include <filesystem>
#include <cstring>

namespace {
QString failureOf(const std::function<void()>& step)
{
    try {
        step();
    } catch (const platform::Failure& failure) {
        return failure.description();
    }
    return {};
}
} // namespace

class TestPlatform : public QObject {
    Q_OBJECT
private slots:
    // Each failure names its cause; the table keeps what it held.
    void failures_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("description");
        QTest::newRow("a second statement smuggled in") << "second" << "SQL 文の後に余分な文字があります。";
        QTest::newRow("disk full") << "full" << "ディスクがいっぱいで、データベースに書き込めません。";
        QTest::newRow("text too long for its column") << "long" << "「場所」の文字数が多すぎます（255文字以内）。";
        QTest::newRow("file removed while running")
            << "removed" << "データベースのファイルが実行中に移動・削除・置き換えされました。プログラムを起動し直してください。";
    }
    void failures()
    {
        QFETCH(QString, kind);
        QFETCH(QString, description);
        testing::TestEnv env;
        env.insert(testing::rec("2000/04/15", "09", "00", "会議"));
        const QStringList before = env.table();
        auto db = platform::Database::open(env.dbPath());
        const QString insert = "INSERT INTO PLAN_DAT (P_DATE, P_HOUR, P_MIN, P_DETAIL, P_IMPORTANCE, P_PLACE, P_NOTICE) VALUES ('2000/04/16', '10', '00', ?, 1, ?, '')";
        const QHash<QString, std::function<void()>> steps{
            {"second", [&] { db->execute("DELETE FROM PLAN_DAT; DROP TABLE PLAN_DAT"); }},
            {"full", [&] {
                 db->run("PRAGMA max_page_count = " + QString::number(db->query("PRAGMA page_count")[0][0].toInt()));
                 platform::Transaction transaction(*db);
                 for (int i = 0; i < 100; ++i)
                     db->run(insert, {QString::number(i), QString(200, 'x')});
             }},
            {"long", [&] { db->run(insert, {"x", QString(256, 'x')}); }},
            {"removed", [&] { QFile::rename(env.dbPath(), env.path("moved.mdb")), db->run(insert, {"x", ""}); }},
        };
        QCOMPARE(failureOf(steps[kind]), description);
        db.reset();
        QFile::rename(env.path("moved.mdb"), env.dbPath());
        QCOMPARE(env.table(), before);
    }

    // A program folder whose name is not UTF-8 still holds the program's sec.mdb: a copy of this
    // test program run from there opens it and counts its row.
    void folderNamedInAnyBytes()
    {
        testing::TestEnv env;
        env.insert(testing::rec("2000/04/15", "09", "00", "会議"));
        const std::filesystem::path folder = QFile::encodeName(env.folder()).toStdString() + "/bad\xff\xfe";
        std::filesystem::create_directory(folder);
        std::filesystem::copy_file(QFile::encodeName(QCoreApplication::applicationFilePath()).toStdString(), folder / "child");
        std::filesystem::copy_file(QFile::encodeName(env.dbPath()).toStdString(), folder / "sec.mdb");
        // Started through the shell, which passes the name's bytes as they are.
        QProcess child;
        child.start("/bin/sh", {"-c", "\"$0\"/bad*/child --count-rows", env.folder()});
        QVERIFY(child.waitForFinished(30000));
        QCOMPARE(child.readAllStandardOutput().trimmed(), "1");
    }

    // The build makes sec.mdb only where no entry of that name is, a link to a missing file
    // included, and says so.
    void buildStepLeavesExistingEntries()
    {
        testing::TestEnv env({.database = false});
        QVERIFY(QFile::link(env.path("gone.mdb"), env.dbPath()));
        QProcess makeDb;
        makeDb.start(MERIDOCAL_MAKE_DB, {MERIDOCAL_SCHEMA_FILE, env.dbPath()});
        QVERIFY(makeDb.waitForFinished());
        QCOMPARE(makeDb.exitCode(), 0);
        QVERIFY(makeDb.readAllStandardOutput().contains("left as it is"));
        QCOMPARE(QFileInfo(env.dbPath()).symLinkTarget(), env.path("gone.mdb"));
        QVERIFY(!QFileInfo::exists(env.path("gone.mdb")));
    }
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 2 && std::strcmp(argv[1], "--count-rows") == 0) {
        auto db = platform::Database::open(state::databasePath());
        std::printf("%d\n", int(db->query("SELECT count(*) FROM PLAN_DAT")[0][0].toInt()));
        return 0;
    }
    TestPlatform test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_platform.moc"
