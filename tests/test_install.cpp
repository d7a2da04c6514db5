// An installed copy: no sec.mdb beside the program, only the empty template under the prefix.
// Each user's first start copies the template into their own data folder; a start cut short
// leaves nothing that counts; after the first start the user's file is theirs, and a damaged
// or missing one is reported, never replaced.
#include "platform/files.h"
#include "platform/user_data.h"
#include "support/test_env.h"

#include <QtTest>
#include <QtWidgets>

namespace {

// A file that an earlier start left in the user's data folder; none for a null text.
void leave(const QString& path, const QByteArray& content)
{
    QVERIFY(content.isNull() || testing::writeBytes(path, content));
}

// The program in <prefix>/lib/meridocal, the template (holding one of today's
// appointments) in <prefix>/share/meridocal, and an empty data folder of the user's.
struct Installed {
    testing::TestEnv env{{.database = false, .girl = false}};
    QString user = env.path(QStringLiteral("data/meridocal/sec.mdb"));
    QByteArray templateBytes;
    Installed()
    {
        platform::setProgramFolder(env.path(QStringLiteral("prefix/lib/meridocal")));
        QDir().mkpath(platform::programFolder());
        QDir().mkpath(QDir::cleanPath(state::templatePath() + QStringLiteral("/..")));
        testing::makeDatabase(state::templatePath());
        store::insert(*platform::Database::open(state::templatePath()), testing::rec("2000/04/15", "09", "00", "会議"));
        templateBytes = testing::bytesOf(state::templatePath());
        qputenv("XDG_DATA_HOME", env.path(QStringLiteral("data")).toLocal8Bit());
    }
};

} // namespace

class TestInstall : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty()); }

    void firstStartCopiesTheTemplate_data()
    {
        QTest::addColumn<QByteArray>("leftover");
        QTest::newRow("first start") << QByteArray();
        QTest::newRow("temporary copy left by a start cut short") << QByteArray("SQLite format 3\0half", 20);
    }
    void firstStartCopiesTheTemplate()
    {
        QFETCH(QByteArray, leftover);
        Installed installed;
        leave(installed.user + QStringLiteral(".part"), leftover);
        testing::StartedMain main;
        QCOMPARE(main.label("TELL_LABEL"), QStringLiteral("1件の予定が入っています。"));
        // The template's rows; the start adds only the search index beside them.
        const QString rows = QStringLiteral("SELECT * FROM PLAN_DAT");
        QVERIFY(platform::Database::open(installed.user)->query(rows)
                == platform::Database::open(state::templatePath())->query(rows));
        // No one but the user may read the appointments or list their folder.
        const QFileInfo file(installed.user), folder(file.path());
        QCOMPARE((file.permissions() | folder.permissions()).toInt() & 0x77, 0); // group and others
        QCOMPARE(file.dir().entryList(QDir::Files), QStringList({"sec.mdb", "sec.mdb.created"}));
        // What the user saves goes to their own file only.
        store::insert(main.module.db(), testing::rec("2000/04/16", "10", "30", "歯医者"));
        QCOMPARE(testing::bytesOf(state::templatePath()), installed.templateBytes);
    }

    void afterTheFirstStartTheFileIsReportedNotReplaced_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("prompt");
        QTest::newRow("damaged") << QByteArray("not a database, but long enough to be read as one")
                                 << QStringLiteral("データベースのファイルではないか、ファイルが壊れています。");
        QTest::newRow("missing") << QByteArray() << QStringLiteral("データベースのファイルを開けません（ファイルがないか、"
                                                                   "ファイルまたはフォルダーにアクセスできません）。");
    }
    void afterTheFirstStartTheFileIsReportedNotReplaced()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, prompt);
        Installed installed;
        leave(installed.user + QStringLiteral(".created"), "");
        leave(installed.user, content);
        testing::StartedMain main;
        QCOMPARE(installed.env.told().value(0), prompt);
        QCOMPARE(testing::bytesOf(installed.user), content);
        QCOMPARE(QFileInfo::exists(installed.user), !content.isNull());
    }

    // The user's data folder: XDG_DATA_HOME and HOME count only when absolute paths; without
    // them the account's home (as getent tells it), never the root.
    void userDataFolder_data()
    {
        QTest::addColumn<QByteArray>("dataHome"); // null: unset
        QTest::addColumn<QByteArray>("home");
        QTest::addColumn<QString>("folder"); // "~": the account's home
        QTest::newRow("both") << QByteArray("/x/data/") << QByteArray("/h") << "/x/data";
        QTest::newRow("relative XDG_DATA_HOME") << QByteArray("data") << QByteArray("/h/") << "/h/.local/share";
        QTest::newRow("no HOME") << QByteArray() << QByteArray() << "~/.local/share";
        QTest::newRow("relative HOME") << QByteArray() << QByteArray("h") << "~/.local/share";
    }
    void userDataFolder()
    {
        QFETCH(QByteArray, dataHome);
        QFETCH(QByteArray, home);
        QFETCH(QString, folder);
        QProcess getent;
        getent.start("sh", {"-c", "getent passwd $(id -u) | cut -d: -f6"});
        QVERIFY(getent.waitForFinished());
        const QByteArray kept = qgetenv("HOME");
        const auto set = [](const char* name, const QByteArray& value) { value.isNull() ? qunsetenv(name) : qputenv(name, value); };
        set("XDG_DATA_HOME", dataHome), set("HOME", home);
        const QString found = platform::userDataFolder();
        qputenv("HOME", kept);
        QCOMPARE(found, QDir::cleanPath(folder.replace("~", getent.readAll().trimmed())));
    }
};

QTEST_MAIN(TestInstall)
#include "test_install.moc"
