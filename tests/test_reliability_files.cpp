// Files that are not what they should be: a sec.mdb that is no database or cannot be written,
// broken pictures (some claiming to be enormous, one a pipe) and a settings store that cannot be
// read. The program starts, says in Japanese what went wrong, stays usable, keeps its memory
// bounded and never changes the file it could not use.
#include "platform/settings_store.h"
#include "support/test_env.h"

#include <QtTest>
#include <QtWidgets>

#include <sys/stat.h>

using testing::rec;
using testing::TestEnv;

namespace {
const QString kNotOpen = QStringLiteral("データベースが開かれていません。");

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size());
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray randomBytes(int size, quint32 seed)
{
    QByteArray bytes(size, 0);
    QRandomGenerator(seed).fillRange(reinterpret_cast<quint32*>(bytes.data()), size / 4);
    return bytes;
}

// The names and bytes of what lies at path and beside it (journals), to show nothing changed.
QString fingerprint(const QString& path)
{
    QString result;
    const QFileInfo info(path);
    for (const QFileInfo& e : info.dir().entryInfoList({info.fileName() + '*'}, QDir::AllEntries | QDir::Hidden))
        result += e.fileName() + QCryptographicHash::hash(readFile(e.filePath()), QCryptographicHash::Sha1).toHex();
    return result;
}

QByteArray encoded(const char* format)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QImage(QStringLiteral(":/girl.gif")).convertToFormat(QImage::Format_RGB32).save(&buffer, format);
    return buffer.data();
}

qint64 peakKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    const QByteArray text = status.readAll();
    return text.mid(text.indexOf("VmHWM:") + 6).trimmed().split(' ').first().toLongLong();
}
} // namespace

class TestReliabilityFiles : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty()); }

    // A sec.mdb the program cannot use: start-up and the first count say why, the purge on
    // demand says so instead of claiming success, and the file is exactly as it was.
    void badDatabase_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QStringList>("told");
        const QString damaged = "データベースのファイルではないか、ファイルが壊れています。";
        const QString readOnly = "データベースに書き込めません（ファイルまたはフォルダーが読み取り専用です）。";
        QTest::newRow("random bytes") << "random" << QStringList{damaged, kNotOpen, kNotOpen};
        QTest::newRow("first half of a database") << "truncated" << QStringList{damaged, kNotOpen, kNotOpen};
        QTest::newRow("folder named sec.mdb")
            << "folder"
            << QStringList{"データベースのファイルを開けません（ファイルがないか、ファイルまたはフォルダーにアクセスできません）。",
                           kNotOpen, kNotOpen};
        QTest::newRow("empty file") << "empty" << QStringList(3, "no such table: PLAN_DAT");
        QTest::newRow("read-only, a past appointment kept") << "read-only" << QStringList{readOnly, readOnly};
    }
    void badDatabase()
    {
        QFETCH(QString, kind);
        QFETCH(QStringList, told);
        TestEnv env;
        env.insert(rec("2000/04/14", "18", "00", "昨日"));
        env.exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 300) INSERT INTO PLAN_DAT"
                 " SELECT '2000/04/15', '10', '00', '用件' || i, 1, printf('%.100c', '場'), '' FROM n");
        const QString db = env.dbPath();
        const QByteArray whole = readFile(db);
        const QHash<QString, std::function<void()>> spoil{
            {"random", [&] { writeFile(db, randomBytes(8192, 4)); }},
            {"truncated", [&] { writeFile(db, whole.left(whole.size() / 2)); }},
            {"folder", [&] { QVERIFY(QFile::remove(db) && QDir().mkdir(db)); }},
            {"empty", [&] { writeFile(db, {}); }},
            {"read-only", [&] { QVERIFY(QFile::setPermissions(db, QFile::ReadOwner)); }},
        };
        spoil[kind]();
        const QString before = fingerprint(db);
        {
            testing::StartedMain main;
            env.answer(platform::MsgAnswer::Yes);
            main.action("mnuData")->trigger();
        }
        QStringList shown = env.told();
        shown.removeAt(shown.size() - 2); // the purge's question
        QCOMPARE(shown, told);
        QCOMPARE(fingerprint(db), before);
    }

    // A broken picture as the stored picture at start-up is reported by start-up and the first
    // refresh, and start-up goes on; chosen in the settings window it is passed over silently.
    // Memory stays bounded whatever size a header claims.
    void brokenPicture_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("chosen");
        const QByteArray jpg = encoded("JPG");
        QByteArray hugeJpg = jpg;
        const qsizetype frame = hugeJpg.indexOf(QByteArray("\xff\xc0", 2));
        hugeJpg.replace(frame + 5, 4, QByteArray("\xea\x60\xea\x60", 4)); // 60000 x 60000
        // A BMP information header claiming 60000 x 60000 pixels at 24 bits, and no pixels.
        const QByteArray hugeBmp = QByteArray::fromHex("424d36000000000000003600000028000000"
                                                       "60ea000060ea00000100180000000000000000000000000000000000000000000000");
        const QList<std::pair<const char*, QByteArray>> files{
            {"GIF cut after its header", readFile(MERIDOCAL_GIRL_GIF).left(13)},
            {"JPEG cut after 20 bytes", jpg.left(20)},
            {"JPEG claiming 60000 x 60000", hugeJpg},
            {"BMP claiming 60000 x 60000", hugeBmp},
            {"garbage", randomBytes(3000, 3)},
            {"zero bytes", {}},
        };
        for (const auto& [name, bytes] : files) {
            QTest::addRow("%s at start-up", name) << bytes << false;
            QTest::addRow("%s chosen", name) << bytes << true;
        }
    }
    void brokenPicture()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, chosen);
        TestEnv env;
        const QString path = env.path("broken.jpg");
        writeFile(path, bytes);
        env.setSetting("SEC_PIC", chosen ? QString() : path);
        env.answerFile(path);
        const qint64 peakBefore = peakKb();
        testing::StartedMain main;
        testing::onNextModal([](QWidget* dialog) {
            dialog->findChild<QPushButton*>("CMD_PICTURE")->click();
            dialog->close();
        });
        main.action("mnuSet")->trigger();
        QVERIFY2(peakKb() - peakBefore < 2 * 64 * 1024, "peak memory grew beyond twice the loader's limit");
        QCOMPARE(env.told().size(), chosen ? 0 : 3); // start-up, the first refresh, the one after the window
        QVERIFY(env.told().filter("broken.jpg").size() == env.told().size());
        QCOMPARE(main.picture(), QImage(QStringLiteral(":/girl.gif")));
        QCOMPARE(main.module.SEC_PIC_PATH, chosen ? env.girlPath() : path);
        QCOMPARE(main.label("DATE_TEXT"), "2000年04月15日");
        QCOMPARE(readFile(path), bytes);
    }

    // The picture replaced by a pipe while running: the refresh reports it instead of waiting
    // for bytes that never come.
    void pictureBecomesAPipe()
    {
        TestEnv env;
        const QString path = env.path("pic.gif");
        QVERIFY(QFile::copy(env.girlPath(), path));
        env.setSetting("SEC_PIC", path);
        testing::StartedMain main;
        QVERIFY(QFile::remove(path) && mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
        main.window.refresh();
        QCOMPARE(env.told(), QStringList{"通常のファイルではないため、画像として読み込めません。: " + path});
    }

    // A settings store that does not parse: start-up falls back to the defaults and says nothing.
    void unreadableStore()
    {
        TestEnv env;
        writeFile(env.settingsPath(), randomBytes(4096, 5));
        testing::StartedMain main;
        QCOMPARE(env.told(), QStringList());
        QCOMPARE(main.module.SEC_NAME_STR + main.module.MY_NAME_STR, "秘書社長");
    }
};

QTEST_MAIN(TestReliabilityFiles)
#include "test_reliability_files.moc"
