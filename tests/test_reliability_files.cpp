// Files that are not what they should be: a sec.mdb that is no database or cannot be written,
// broken pictures (some claiming to be enormous) and a settings store that cannot be used.
// The program starts, says what the engine or the loader says, stays usable, keeps its memory
// bounded and never changes the file it could not use.
#include "main_window/main_frm.h"
#include "plan_entry/plan_frm.h"
#include "platform/failure.h"
#include "platform/picture.h"
#include "platform/settings_store.h"
#include "state/module1.h"
#include "support/test_env.h"

#include <QtTest>
#include <QtWidgets>

#include <sqlite3.h>

#include <functional>
#include <optional>

using platform::MsgAnswer;
using testing::rec;
using testing::TestEnv;

namespace {

const QString kToday = QStringLiteral("2000/04/15");
// Twice the loader's allocation limit: a picture the limit lets through fits well within it,
// while one of the sizes the headers claim (256 MB for 8000 x 8000, 14 GB for 60000 x 60000)
// would show far above it.
constexpr qint64 kPeakGrowthLimitKb = 2 * platform::kPictureAllocationLimitMb * 1024;

// Every distinct broken file the tests hand to the program, for the figures.
QSet<QString> g_filesTried;

QString engine(int code) { return QString::fromUtf8(sqlite3_errstr(code)); }
QString counted(int n) { return QStringLiteral("%1件の予定が入っています。").arg(n); }

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray randomBytes(int size, quint32 seed)
{
    QList<quint32> words(size / 4);
    QRandomGenerator(seed).fillRange(words.data(), words.size());
    return QByteArray(reinterpret_cast<const char*>(words.constData()), size);
}

// What the path and whatever the engine may leave beside it (journals) hold, to show that
// nothing changed them: each entry's name, mode and the hash of its bytes.
QString fingerprint(const QString& path)
{
    QString result;
    const QFileInfo info(path);
    for (const QFileInfo& entry : info.dir().entryInfoList({info.fileName() + '*'}, QDir::AllEntries | QDir::Hidden))
        result += entry.fileName() + ' ' + QString::number(int(entry.permissions())) + ' '
            + QCryptographicHash::hash(readFile(entry.filePath()), QCryptographicHash::Sha256).toHex() + ';';
    return result;
}

// How far the peak memory grows while the action runs; the peak count starts afresh from what
// the process holds now, when the system allows it.
qint64 peakGrowthKb(const std::function<void()>& action)
{
    auto kb = [](const char* field) {
        QFile status(QStringLiteral("/proc/self/status"));
        status.open(QIODevice::ReadOnly);
        const QByteArray text = status.readAll();
        return text.mid(text.indexOf(field) + qstrlen(field)).trimmed().split(' ').first().toLongLong();
    };
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    const bool reset = clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
    clear.close();
    const qint64 base = kb(reset ? "VmRSS:" : "VmHWM:");
    action();
    return kb("VmHWM:") - base;
}

// The prompts of the OK boxes shown, each with its title when that is not the program's.
QStringList told(const TestEnv& env)
{
    QStringList result;
    for (const auto& box : env.shown())
        if (box.buttons == platform::MsgButtons::Ok)
            result << box.prompt + (box.title == platform::programTitle() ? "" : " titled " + box.title);
    return result;
}

// Opens the settings window from the main window's menu, does the steps there and presses the
// update button; a window that stays open is then cancelled. Returns whether it stayed open.
bool inSettings(MAIN_FRM& window, const std::function<void(QWidget*)>& steps)
{
    bool stayedOpen = false;
    testing::onNextModal([&](QWidget* dialog) {
        steps(dialog);
        QTest::mouseClick(dialog->findChild<QPushButton*>("CMD_UPDATE"), Qt::LeftButton);
        if ((stayedOpen = dialog->isVisible()))
            QTest::mouseClick(dialog->findChild<QPushButton*>("CMD_CANCEL"), Qt::LeftButton);
    });
    window.mnuSet_Click();
    return stayedOpen;
}

void enterNames(QWidget* dialog)
{
    dialog->findChild<QLineEdit*>("S_NAME_TEXT")->setText("受付");
    dialog->findChild<QLineEdit*>("M_NAME_TEXT")->setText("部長");
}

using Started = testing::StartedMain;

// --- Pictures, made here: real ones cut short or spoilt, and headers claiming 60000 x 60000.

QByteArray encoded(const char* format)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QImage(QStringLiteral(":/girl.gif")).convertToFormat(QImage::Format_RGB32).save(&buffer, format);
    return buffer.data();
}

QByteArray le32(qint64 n)
{
    QByteArray b(4, 0);
    qToLittleEndian<quint32>(quint32(n), b.data());
    return b;
}
QByteArray le16(int n) { return le32(n).left(2); }

} // namespace

class TestReliabilityFiles : public QObject {
    Q_OBJECT
private slots:
    void cleanupTestCase() { qInfo("broken files tried: %lld", qint64(g_filesTried.size())); }

    // A sec.mdb the program cannot use as it should: start-up and the first count report the
    // engine's words, each command that needs the table says why it cannot work, the window,
    // the entry form and the settings window stay usable, and the file is exactly as it was.
    void badDatabase_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("atStart"); // what start-up reports
        QTest::addColumn<QString>("refused"); // what each later use of the table reports
        const QString notOpen = QStringLiteral("データベースが開かれていません。");
        const QString noTable = QStringLiteral("no such table: PLAN_DAT");
        QTest::newRow("random bytes") << "random" << engine(SQLITE_NOTADB) << notOpen;
        QTest::newRow("first half of a database with rows") << "truncated" << engine(SQLITE_CORRUPT) << notOpen;
        QTest::newRow("empty file") << "empty" << noTable << noTable;
        QTest::newRow("folder named sec.mdb") << "folder" << engine(SQLITE_CANTOPEN) << notOpen;
        QTest::newRow("database without PLAN_DAT") << "no table" << noTable << noTable;
        // Readable: only the writes are refused, and the count shows the past appointment.
        QTest::newRow("read-only, holding a past appointment")
            << "read-only" << engine(SQLITE_READONLY) << engine(SQLITE_READONLY);
    }
    void badDatabase()
    {
        QFETCH(QString, kind);
        QFETCH(QString, atStart);
        QFETCH(QString, refused);
        TestEnv env;
        env.insert(rec("2000/04/14", "18", "00", "昨日"));
        env.insert(rec(kToday, "09", "00", "会議"));
        const QString db = env.dbPath();
        if (kind == "random") {
            writeFile(db, randomBytes(8192, 4));
        } else if (kind == "truncated") {
            for (int i = 0; i < 300; ++i)
                env.insert(rec(kToday, "10", "00", QStringLiteral("用件%1").arg(i), 1, QString(100, QChar(0x5834))));
            const QByteArray whole = readFile(db);
            QVERIFY(whole.size() > 8 * 4096);
            writeFile(db, whole.left(whole.size() / 2));
        } else if (kind == "empty") {
            writeFile(db, {});
        } else if (kind == "folder") {
            QVERIFY(QFile::remove(db) && QDir().mkdir(db));
        } else if (kind == "no table") {
            env.exec("DROP TABLE PLAN_DAT; CREATE TABLE NOTES (LINE TEXT); INSERT INTO NOTES VALUES ('x');");
        } else {
            QVERIFY(QFile::setPermissions(db, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        }
        g_filesTried << "sec.mdb: " + kind;
        const QString before = fingerprint(db);
        const QStringList onRefresh = kind == "read-only" ? QStringList{} : QStringList{refused};
        {
            Started main;
            QCOMPARE(told(env), QStringList{atStart} + onRefresh);
            QCOMPARE(main.label("TELL_LABEL"), counted(kind == "read-only" ? 1 : 3));

            // The purge on demand reports why it could not work instead of claiming success.
            env.clearShown();
            env.answer(MsgAnswer::Yes);
            main.window.mnuData_Click();
            QCOMPARE(told(env), QStringList{refused});

            // The entry form opens, reports the failed save and keeps what was typed.
            env.clearShown();
            PLAN_FRM form(main.module, &main.window);
            QVERIFY(form.prepare());
            form.show();
            auto* subject = form.findChild<QLineEdit*>("DETAIL_TEXT");
            subject->insert("会議");
            QTest::mouseClick(form.findChild<QPushButton*>("OK_BTN"), Qt::LeftButton);
            QCOMPARE(told(env), QStringList{refused});
            QCOMPARE(subject->text(), QStringLiteral("会議"));
            QVERIFY(form.isVisible());

            // What needs no table still works: the settings window stores the names, and the
            // main window shows them (its refresh still reports the table).
            env.clearShown();
            QVERIFY(!inSettings(main.window, enterNames));
            QCOMPARE(told(env), onRefresh);
            QCOMPARE(env.setting("SEC_NAME") + env.setting("MY_NAME"), QStringLiteral("受付部長"));
            QCOMPARE(main.label("NAME_LABEL"), QStringLiteral("受付："));
        }
        QCOMPARE(fingerprint(db), before); // no journal left behind either
    }

    // A broken picture as the stored picture or the default one at start-up, or chosen in the
    // settings window. At start-up the loader's words are reported (by start-up and by the
    // first refresh) and start-up goes on; chosen, it is passed over silently. Either way the
    // picture shown stays the one designed, or, for a file cut late, what the loader could
    // read. The program keeps working, memory stays bounded and the file is left alone.
    void brokenPicture_data()
    {
        QTest::addColumn<QString>("role");
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("refused"); // false: cut late enough that the loader may show what it read
        auto add = [](const char* name, const char* suffix, const QByteArray& bytes, bool refused = true) {
            g_filesTried << QStringLiteral("picture: ") + QString::fromUtf8(name);
            for (const char* role : {"SEC_PIC", "girl.gif", "chosen"})
                QTest::addRow("%s as %s", name, role) << role << suffix << bytes << refused;
        };
        // Headers claiming side x side: a GIF screen and image with a scrap of compressed data,
        // a real JPEG's frame header, a BMP information header at 24 bits; no pixels.
        auto gif = [](int side) {
            return "GIF89a" + le16(side) + le16(side) + QByteArray(3, 0) + ',' + le32(0) + le16(side) + le16(side)
                + QByteArray(1, 0) + QByteArray("\x08\x05", 2) + QByteArray(5, '\xff') + QByteArray(1, 0) + ';';
        };
        auto jpeg = [](int side) {
            QByteArray bytes = encoded("JPG");
            const qsizetype frame = bytes.indexOf(QByteArray("\xff\xc0", 2));
            qToBigEndian<quint16>(quint16(side), bytes.data() + frame + 5);
            qToBigEndian<quint16>(quint16(side), bytes.data() + frame + 7);
            return bytes;
        };
        const QByteArray girl = readFile(QStringLiteral(MERIDOCAL_GIRL_GIF)), jpg = encoded("JPG"), bmp = encoded("BMP");
        add("GIF cut after its header", ".gif", girl.left(13));
        add("GIF cut in half", ".gif", girl.left(girl.size() / 2), false);
        add("GIF signature, then garbage", ".gif", "GIF89a" + randomBytes(2000, 1));
        add("GIF claiming 60000 x 60000", ".gif", gif(60000));
        add("GIF claiming 8000 x 8000", ".gif", gif(8000));
        add("JPEG cut after 20 bytes", ".jpg", jpg.left(20));
        add("JPEG cut in half", ".jpg", jpg.left(jpg.size() / 2), false);
        add("JPEG start marker, then garbage", ".jpg", QByteArray("\xff\xd8\xff", 3) + randomBytes(3000, 2));
        add("JPEG claiming 60000 x 60000", ".jpg", jpeg(60000));
        add("JPEG claiming 8000 x 8000", ".jpg", jpeg(8000));
        add("BMP cut after 30 bytes", ".bmp", bmp.left(30));
        add("BMP cut in half", ".bmp", bmp.left(bmp.size() / 2), false);
        add("BMP signature, then garbage", ".bmp", "BM" + randomBytes(3000, 3));
        add("BMP claiming 60000 x 60000", ".bmp", "BM" + le32(54) + le32(0) + le32(54) + le32(40) + le32(60000)
            + le32(60000) + le16(1) + le16(24) + le32(0) + le32(0) + le32(2835) + le32(2835) + le32(0) + le32(0));
        add("zero bytes", ".bmp", QByteArray());
    }
    void brokenPicture()
    {
        QFETCH(QString, role);
        QFETCH(QString, suffix);
        QFETCH(QByteArray, bytes);
        QFETCH(bool, refused);
        TestEnv env;
        env.insert(rec("2000/04/14", "18", "00", "昨日"));
        env.insert(rec(kToday, "09", "00", "会議"));
        const QString path = role == "girl.gif" ? env.girlPath() : env.path("broken" + suffix);
        writeFile(path, bytes);
        if (role == "SEC_PIC")
            env.setSetting("SEC_PIC", path);
        const QImage design(QStringLiteral(":/girl.gif"));
        QString verdict; // what the loader says of the file; empty when it reads it
        try {
            platform::loadPicture(path);
        } catch (const platform::Failure& failure) {
            verdict = failure.description();
        }
        QVERIFY(!refused || !verdict.isEmpty());

        std::optional<Started> main;
        const qint64 growth = peakGrowthKb([&] {
            main.emplace();
            if (role == "chosen") {
                env.answerFile(path);
                QVERIFY(!inSettings(main->window, [](QWidget* dialog) {
                    QTest::mouseClick(dialog->findChild<QPushButton*>("CMD_PICTURE"), Qt::LeftButton);
                }));
            }
        });
        QVERIFY2(growth < kPeakGrowthLimitKb, qPrintable(QStringLiteral("peak grew by %1 kB").arg(growth)));
        QCOMPARE(env.fileRequests().size(), role == "chosen" ? 1 : 0);
        QCOMPARE(told(env), QStringList(role == "chosen" || verdict.isEmpty() ? 0 : 2, verdict));
        if (verdict.isEmpty())
            QVERIFY(!main->picture().isNull() && main->picture() != design);
        else
            QVERIFY(main->picture() == design);
        QCOMPARE(main->module.SEC_PIC_PATH, role == "chosen" && !verdict.isEmpty() ? env.girlPath() : path);
        if (role != "girl.gif")
            QCOMPARE(env.setting("SEC_PIC"), main->module.SEC_PIC_PATH);

        // Start-up went on past the picture: the date, the purge and the count are there.
        QCOMPARE(main->label("DATE_TEXT"), QStringLiteral("2000年04月15日"));
        QCOMPARE(main->label("TELL_LABEL"), counted(1));
        QCOMPARE(env.count("P_DATE < '2000/04/15'"), 0);
        QCOMPARE(readFile(path), bytes);
    }

    // A settings store that cannot be read or written: start-up falls back to the defaults
    // and says nothing; the update in the settings window reports the store's own failure as an
    // internal error, the window stays open, and the store is left as it was. The first write
    // failed: the name set before it is kept, the one after it never happened.
    void unusableStore_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("its folder cannot be made") << "no folder";
        QTest::newRow("random bytes") << "random";
    }
    void unusableStore()
    {
        QFETCH(QString, kind);
        g_filesTried << "store: " + kind;
        TestEnv env;
        const QString store = env.path(kind == "no folder" ? "blocker/settings.ini" : "corrupt.ini");
        writeFile(kind == "no folder" ? env.path("blocker") : store, randomBytes(4096, 5));
        platform::SettingsStore::useFile(store);
        const QString before = fingerprint(store);
        Started main;
        QCOMPARE(env.prompts(), QStringList{});
        QCOMPARE(main.module.SEC_NAME_STR + main.module.MY_NAME_STR, QStringLiteral("秘書社長"));
        QCOMPARE(main.module.SEC_PIC_PATH, env.girlPath());

        QVERIFY(inSettings(main.window, enterNames));
        QCOMPARE(env.shown().size(), 1);
        const platform::MessageRequest& box = env.shown().first();
        QVERIFY(!box.prompt.isEmpty());
        if (kind == "no folder") { // the store's own words: a write there fails the same way
            try {
                state::writeSettings({{state::kSecName, QStringLiteral("受付")}});
                QFAIL("the write went through");
            } catch (const platform::Failure& failure) {
                QCOMPARE(box.prompt, failure.description());
            }
        }
        QCOMPARE(box.title, QStringLiteral("Internal Error"));
        QCOMPARE(box.icon, platform::MsgIcon::Critical);
        QCOMPARE(box.buttons, platform::MsgButtons::Ok);
        QCOMPARE(main.module.SEC_NAME_STR + main.module.MY_NAME_STR, QStringLiteral("受付社長"));
        QCOMPARE(fingerprint(store), before);
    }
};

QTEST_MAIN(TestReliabilityFiles)
#include "test_reliability_files.moc"
