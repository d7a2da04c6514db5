// Files that are not what they should be: a sec.mdb that is no database or cannot be written,
// broken pictures (some claiming to be enormous) and a settings store that cannot be used.
// The program starts, says what the engine or the loader says, stays usable, keeps its memory
// bounded and never changes the file it could not use.
#include "main_window/main_frm.h"
#include "plan_entry/plan_frm.h"
#include "settings_dialog/setting_frm.h"
#include "platform/failure.h"
#include "platform/picture.h"
#include "platform/settings_store.h"
#include "state/module1.h"
#include "support/test_env.h"

#include <QApplication>
#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSet>
#include <QTest>
#include <QtEndian>

#include <sqlite3.h>

#include <memory>

using platform::MsgAnswer;
using platform::MsgButtons;
using testing::rec;
using testing::TestEnv;

namespace {

const QString kToday = QStringLiteral("2000/04/15");
const QString kNotOpen = QStringLiteral("データベースが開かれていません。");
const QString kNoTable = QStringLiteral("no such table: PLAN_DAT");
const QString kDesignCount = QStringLiteral("3件の予定が入っています。");
const QString kPurged = QStringLiteral("削除されました");

// Twice the loader's allocation limit: a picture the limit lets through fits well within it,
// while one of the sizes the headers claim (256 MB for 8000 x 8000, 14 GB for 60000 x 60000)
// would show far above it.
constexpr qint64 kPeakGrowthLimitKb = 2 * platform::kPictureAllocationLimitMb * 1024;

// Every distinct broken file the tests hand to the program, for the figures.
QSet<QString> g_filesTried;

QString engine(int code)
{
    return QString::fromUtf8(sqlite3_errstr(code));
}

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
    QRandomGenerator generator(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& b : bytes)
        b = char(generator.bounded(256));
    return bytes;
}

// What a path holds, to show that nothing changed it: the bytes of a file, or the entries of a
// folder.
QString fingerprint(const QString& path)
{
    const QFileInfo info(path);
    if (info.isDir())
        return QStringLiteral("folder: ") + QDir(path).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).join(',');
    return QString::fromLatin1(QCryptographicHash::hash(readFile(path), QCryptographicHash::Sha256).toHex())
        + QStringLiteral(" mode ") + QString::number(int(info.permissions()));
}

// The database and whatever the engine may leave beside it (journals).
QStringList databaseEntries(const QString& folder)
{
    return QDir(folder).entryList({QStringLiteral("sec.mdb*")}, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}

qint64 statusKb(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').first().toLongLong();
    return -1;
}

// Starts the peak count afresh from what the process holds now, when the system allows it.
qint64 resetPeakKb()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly) && clear.write("5") == 1) {
        clear.close();
        return statusKb("VmRSS:");
    }
    return statusKb("VmHWM:");
}

QStringList okPrompts(const TestEnv& env)
{
    QStringList result;
    for (const auto& box : env.shown())
        if (box.buttons == MsgButtons::Ok)
            result << box.prompt;
    return result;
}

void type(QLineEdit* field, const QString& text)
{
    QInputMethodEvent event;
    event.setCommitString(text);
    QApplication::sendEvent(field, &event);
}

// Opens the settings window from the main window's menu, enters both names and presses the
// update button; a window that stays open is then cancelled. Returns whether it stayed open.
bool updateNames(MAIN_FRM* window, const QString& secretary, const QString& user)
{
    bool stayedOpen = false;
    testing::onNextModal([&](QWidget* dialog) {
        for (const auto& [name, text] : {std::pair{"S_NAME_TEXT", secretary}, {"M_NAME_TEXT", user}}) {
            auto* field = dialog->findChild<QLineEdit*>(QString::fromLatin1(name));
            QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClick(field, Qt::Key_Delete);
            type(field, text);
        }
        QTest::mouseClick(dialog->findChild<QPushButton*>("CMD_UPDATE"), Qt::LeftButton);
        stayedOpen = dialog->isVisible();
        if (stayedOpen)
            QTest::mouseClick(dialog->findChild<QPushButton*>("CMD_CANCEL"), Qt::LeftButton);
    });
    window->mnuSet_Click();
    return stayedOpen;
}

// The main window as the program starts it.
struct Started {
    state::Module1 module;
    std::unique_ptr<MAIN_FRM> window;
    Started()
    {
        window = std::make_unique<MAIN_FRM>(module);
        window->startUp();
        window->show();
        window->refresh();
    }
    ~Started() { window->close(); }
    QString label(const char* name) const { return window->findChild<QLabel*>(QString::fromLatin1(name))->text(); }
    QImage picture() const { return window->findChild<platform::PictureBox*>(QStringLiteral("SEC_PICT"))->picture(); }
};

// --- Pictures, made here: real ones cut short or spoilt, and headers claiming 60000 x 60000.

QByteArray saved(const char* format)
{
    QImage image(120, 90, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgb(x * 2, y * 2, (x + y) % 256));
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, format))
        qFatal("cannot write a %s picture", format);
    return buffer.data();
}

QByteArray le16(int n)
{
    QByteArray b(2, 0);
    qToLittleEndian<quint16>(quint16(n), b.data());
    return b;
}

QByteArray le32(qint64 n)
{
    QByteArray b(4, 0);
    qToLittleEndian<quint32>(quint32(n), b.data());
    return b;
}

QByteArray hugeBmp(int side)
{
    // File header, then an information header for side x side at 24 bits, and no pixels.
    return "BM" + le32(54) + le16(0) + le16(0) + le32(54) + le32(40) + le32(side) + le32(side) + le16(1) + le16(24)
        + le32(0) + le32(0) + le32(2835) + le32(2835) + le32(0) + le32(0);
}

QByteArray hugeGif(int side)
{
    // A screen and one image of side x side, a scrap of compressed data and the trailer.
    return "GIF89a" + le16(side) + le16(side) + QByteArray(3, 0) + ',' + le16(0) + le16(0) + le16(side) + le16(side)
        + QByteArray(1, 0) + QByteArray("\x08\x05", 2) + QByteArray(5, '\xff') + QByteArray(1, 0) + ';';
}

QByteArray hugeJpeg(int side)
{
    // A real JPEG whose frame header is made to claim side x side.
    QByteArray jpeg = saved("JPG");
    const qsizetype frame = jpeg.indexOf(QByteArray("\xff\xc0", 2));
    if (frame < 0)
        qFatal("no frame header in the JPEG");
    qToBigEndian<quint16>(quint16(side), jpeg.data() + frame + 5);
    qToBigEndian<quint16>(quint16(side), jpeg.data() + frame + 7);
    return jpeg;
}

struct BrokenPicture {
    const char* name;
    const char* suffix;
    QByteArray bytes;
    bool refused; // false: cut late enough that the loader may still show what it read
};

QList<BrokenPicture> brokenPictures()
{
    const QByteArray gif = readFile(QStringLiteral(MERIDOCAL_GIRL_GIF));
    const QByteArray jpeg = saved("JPG");
    const QByteArray bmp = saved("BMP");
    return {
        {"GIF cut after its header", ".gif", gif.left(13), true},
        {"GIF cut in half", ".gif", gif.left(gif.size() / 2), false},
        {"GIF signature, then garbage", ".gif", "GIF89a" + randomBytes(2000, 1), true},
        {"GIF claiming 60000 x 60000", ".gif", hugeGif(60000), true},
        {"GIF claiming 8000 x 8000", ".gif", hugeGif(8000), true},
        {"JPEG cut after 20 bytes", ".jpg", jpeg.left(20), true},
        {"JPEG cut in half", ".jpg", jpeg.left(jpeg.size() / 2), false},
        {"JPEG start marker, then garbage", ".jpg", QByteArray("\xff\xd8\xff", 3) + randomBytes(3000, 2), true},
        {"JPEG claiming 60000 x 60000", ".jpg", hugeJpeg(60000), true},
        {"JPEG claiming 8000 x 8000", ".jpg", hugeJpeg(8000), true},
        {"BMP cut after 30 bytes", ".bmp", bmp.left(30), true},
        {"BMP cut in half", ".bmp", bmp.left(bmp.size() / 2), false},
        {"BMP signature, then garbage", ".bmp", "BM" + randomBytes(3000, 3), true},
        {"BMP claiming 60000 x 60000", ".bmp", hugeBmp(60000), true},
        {"zero bytes", ".bmp", QByteArray(), true},
    };
}

// What the loader says of a file it refuses; empty when it reads the file.
QString loaderVerdict(const QString& path)
{
    try {
        platform::loadPicture(path);
    } catch (const platform::Failure& failure) {
        return failure.description();
    }
    return {};
}

} // namespace

class TestReliabilityFiles : public QObject {
    Q_OBJECT
private slots:
    void cleanup()
    {
        for (QWidget* w : QApplication::topLevelWidgets())
            QVERIFY2(!w->isVisible(), qPrintable(w->objectName() + " left open"));
    }
    void cleanupTestCase() { qInfo("broken files tried: %lld", qint64(g_filesTried.size())); }

    // A sec.mdb the program cannot use as it should: start-up and the first count report the
    // engine's words, each command that needs the table says why it cannot work, the window and
    // the entry form stay usable, and the file is exactly as it was.
    void badDatabase_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QStringList>("atStart"); // start-up, then the first refresh
        QTest::addColumn<QString>("refused");     // what the purge on demand and a save report
        QTest::addColumn<QString>("count");       // the count caption after start-up
        QTest::newRow("random bytes") << "random" << QStringList{engine(SQLITE_NOTADB), kNotOpen} << kNotOpen
                                      << kDesignCount;
        QTest::newRow("first half of a database with rows")
            << "truncated" << QStringList{engine(SQLITE_CORRUPT), kNotOpen} << kNotOpen << kDesignCount;
        QTest::newRow("empty file") << "empty" << QStringList{kNoTable, kNoTable} << kNoTable << kDesignCount;
        QTest::newRow("folder named sec.mdb") << "folder" << QStringList{engine(SQLITE_CANTOPEN), kNotOpen} << kNotOpen
                                              << kDesignCount;
        QTest::newRow("database without PLAN_DAT") << "no table" << QStringList{kNoTable, kNoTable} << kNoTable
                                                   << kDesignCount;
        QTest::newRow("read-only, holding a past appointment")
            << "read-only" << QStringList{engine(SQLITE_READONLY)} << engine(SQLITE_READONLY)
            << QStringLiteral("1件の予定が入っています。");
    }
    void badDatabase()
    {
        QFETCH(QString, kind);
        QFETCH(QStringList, atStart);
        QFETCH(QString, refused);
        QFETCH(QString, count);
        TestEnv env;
        env.insert(rec("2000/04/14", "18", "00", "昨日"));
        env.insert(rec("2000/04/15", "09", "00", "会議"));
        const QString db = env.dbPath();
        if (kind == "random") {
            writeFile(db, randomBytes(8192, 4));
        } else if (kind == "truncated") {
            for (int i = 0; i < 300; ++i)
                env.insert(rec("2000/04/15", "10", "00", QStringLiteral("用件%1").arg(i), 1, QString(100, QChar(0x5834))));
            const QByteArray whole = readFile(db);
            QVERIFY(whole.size() > 8 * 4096);
            writeFile(db, whole.left(whole.size() / 2));
        } else if (kind == "empty") {
            writeFile(db, {});
        } else if (kind == "folder") {
            QVERIFY(QFile::remove(db));
            QVERIFY(QDir().mkdir(db));
        } else if (kind == "no table") {
            env.exec("DROP TABLE PLAN_DAT; CREATE TABLE NOTES (LINE TEXT); INSERT INTO NOTES VALUES ('x');");
        } else if (kind == "read-only") {
            QVERIFY(QFile::setPermissions(db, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        }
        g_filesTried << QStringLiteral("sec.mdb: ") + kind;
        const QString before = fingerprint(db);
        const QStringList entriesBefore = databaseEntries(env.folder());

        {
            Started main;
            QCOMPARE(okPrompts(env), atStart);
            for (const auto& box : env.shown())
                QCOMPARE(box.title, platform::programTitle());
            QCOMPARE(main.label("TELL_LABEL"), count);

            // The purge on demand reports why it could not work instead of claiming success.
            env.clearShown();
            env.answer(MsgAnswer::Yes);
            main.window->mnuData_Click();
            QCOMPARE(okPrompts(env), QStringList{refused});

            // The entry form opens, reports the failed save and keeps what was typed.
            env.clearShown();
            PLAN_FRM form(main.module, main.window.get());
            QVERIFY(form.prepare());
            form.show();
            type(form.findChild<QLineEdit*>("DETAIL_TEXT"), "会議");
            type(form.findChild<QLineEdit*>("PLACE_TEXT"), "本社");
            QTest::mouseClick(form.findChild<QPushButton*>("OK_BTN"), Qt::LeftButton);
            QCOMPARE(okPrompts(env), QStringList{refused});
            QCOMPARE(form.findChild<QLineEdit*>("DETAIL_TEXT")->text(), QStringLiteral("会議"));
            QCOMPARE(form.findChild<QLineEdit*>("PLACE_TEXT")->text(), QStringLiteral("本社"));
            QVERIFY(form.isVisible());
            form.done(0);

            // What needs no table still works: the About box opens and closes.
            env.clearShown();
            QString about;
            testing::onNextModal([&about](QWidget* box) {
                about = box->windowTitle();
                box->findChild<QPushButton*>("Command1")->click();
            });
            main.window->mnuVersion_Click();
            QCOMPARE(about, QStringLiteral("ミルドカのﾊﾞｰｼﾞｮﾝ情報"));
            QCOMPARE(okPrompts(env), atStart.mid(1)); // the refresh after the box says it again

            // The settings window still stores the names, and the main window shows them.
            env.clearShown();
            QVERIFY(!updateNames(main.window.get(), "受付", "部長"));
            QCOMPARE(okPrompts(env), atStart.mid(1));
            QCOMPARE(env.setting("SEC_NAME") + env.setting("MY_NAME"), QStringLiteral("受付部長"));
            QCOMPARE(main.label("NAME_LABEL"), QStringLiteral("受付："));
        }

        QCOMPARE(fingerprint(db), before);
        QCOMPARE(databaseEntries(env.folder()), entriesBefore); // no journal left behind either
    }

    // A broken picture as the stored picture and as the default one: start-up reports what the
    // loader says and goes on, the window keeps working, and memory stays within bounds.
    void brokenPictureAtStart_data()
    {
        QTest::addColumn<QString>("where");
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("refused");
        for (const BrokenPicture& p : brokenPictures()) {
            QTest::addRow("%s as SEC_PIC", p.name) << "SEC_PIC" << p.suffix << p.bytes << p.refused;
            QTest::addRow("%s as girl.gif", p.name) << "girl.gif" << p.suffix << p.bytes << p.refused;
            g_filesTried << QStringLiteral("picture: ") + QString::fromUtf8(p.name);
        }
    }
    void brokenPictureAtStart()
    {
        QFETCH(QString, where);
        QFETCH(QString, suffix);
        QFETCH(QByteArray, bytes);
        QFETCH(bool, refused);
        TestEnv env;
        env.insert(rec("2000/04/14", "18", "00", "昨日"));
        env.insert(rec("2000/04/15", "09", "00", "会議"));
        const QString path = where == "SEC_PIC" ? env.path("broken" + suffix) : env.girlPath();
        writeFile(path, bytes);
        if (where == "SEC_PIC")
            env.setSetting("SEC_PIC", path);
        const QImage design(QStringLiteral(":/girl.gif"));
        QVERIFY(!design.isNull());

        const qint64 base = resetPeakKb();
        Started main;
        const qint64 growth = statusKb("VmHWM:") - base;
        QVERIFY2(growth < kPeakGrowthLimitKb, qPrintable(QStringLiteral("peak grew by %1 kB").arg(growth)));

        // Start-up went on past the picture: date, greeting, purge and count are all there.
        QCOMPARE(main.module.SEC_PIC_PATH, path);
        QCOMPARE(main.module.TODAY_STR, kToday);
        QCOMPARE(main.label("DATE_TEXT"), QStringLiteral("2000年04月15日"));
        QCOMPARE(main.label("NAME_LABEL"), QStringLiteral("秘書："));
        QCOMPARE(main.label("TELL_LABEL"), QStringLiteral("1件の予定が入っています。"));
        QCOMPARE(env.count("P_DATE < '2000/04/15'"), 0);

        const QString verdict = loaderVerdict(path);
        QVERIFY(!refused || !verdict.isEmpty());
        if (verdict.isEmpty()) {
            // Cut late: the loader showed what it could read, and nobody is told anything.
            QVERIFY(env.shown().isEmpty());
            QVERIFY(!main.picture().isNull());
        } else {
            // Start-up and the first refresh each say what the loader said; the picture area
            // keeps the picture the window was designed with.
            QCOMPARE(okPrompts(env), QStringList({verdict, verdict}));
            QCOMPARE(env.shown().first().title, platform::programTitle());
            QVERIFY(main.picture() == design);
        }

        // The window keeps working: the purge on demand still purges.
        env.insert(rec("2000/04/13", "18", "00", "一昨日"));
        env.clearShown();
        env.answer(MsgAnswer::Yes);
        main.window->mnuData_Click();
        QCOMPARE(okPrompts(env), QStringList{kPurged});
        QCOMPARE(env.count("P_DATE < '2000/04/15'"), 0);
        if (where == "SEC_PIC")
            QCOMPARE(env.setting("SEC_PIC"), path);
        QCOMPARE(readFile(path), bytes);
    }

    // A broken picture chosen in the settings window changes nothing and says nothing; the
    // window goes on working and stores the picture it had.
    void brokenPictureChosen_data()
    {
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("refused");
        for (const BrokenPicture& p : brokenPictures())
            QTest::newRow(p.name) << p.suffix << p.bytes << p.refused;
    }
    void brokenPictureChosen()
    {
        QFETCH(QString, suffix);
        QFETCH(QByteArray, bytes);
        QFETCH(bool, refused);
        TestEnv env;
        const QString path = env.path("chosen" + suffix);
        writeFile(path, bytes);
        state::Module1 module;
        module.SEC_NAME_STR = QStringLiteral("秘書");
        module.MY_NAME_STR = QStringLiteral("社長");
        module.SEC_PIC_PATH = env.girlPath();
        SETTING_FRM form(module);
        QVERIFY(form.prepare());
        form.show();
        auto* picture = form.findChild<platform::PictureBox*>("SEC_PICT");
        const QImage before = picture->picture();
        QVERIFY(!before.isNull());

        env.answerFile(path);
        const qint64 base = resetPeakKb();
        QTest::mouseClick(form.findChild<QPushButton*>("CMD_PICTURE"), Qt::LeftButton);
        const qint64 growth = statusKb("VmHWM:") - base;
        QVERIFY2(growth < kPeakGrowthLimitKb, qPrintable(QStringLiteral("peak grew by %1 kB").arg(growth)));
        QCOMPARE(env.fileRequests().size(), 1);
        QVERIFY2(env.shown().isEmpty(), qPrintable(env.prompts().join(", ")));

        const QString verdict = loaderVerdict(path);
        QVERIFY(!refused || !verdict.isEmpty());
        if (verdict.isEmpty()) {
            QCOMPARE(module.SEC_PIC_PATH, path);
            QVERIFY(picture->picture() != before);
        } else {
            QCOMPARE(module.SEC_PIC_PATH, env.girlPath());
            QVERIFY(picture->picture() == before);
        }

        // The window still works: the update stores the names and whichever picture it holds.
        QTest::mouseClick(form.findChild<QPushButton*>("CMD_UPDATE"), Qt::LeftButton);
        QVERIFY(env.shown().isEmpty());
        QVERIFY(!form.isVisible());
        QCOMPARE(env.setting("SEC_PIC"), module.SEC_PIC_PATH);
        QCOMPARE(readFile(path), bytes);
    }

    // A settings store that cannot be read or written: start-up falls back to the defaults
    // and says nothing; the update in the settings window reports the store's failure as an
    // internal error and the window stays open.
    void unusableStoreAtStart_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("its folder cannot be made") << "no folder";
        QTest::newRow("random bytes") << "random";
        g_filesTried << QStringLiteral("store: no folder") << QStringLiteral("store: random");
    }
    void unusableStoreAtStart()
    {
        QFETCH(QString, kind);
        TestEnv env;
        QString store;
        if (kind == "no folder") {
            writeFile(env.path("blocker"), "a file where the folder should be");
            store = env.path("blocker/settings.ini");
        } else {
            store = env.path("corrupt.ini");
            writeFile(store, randomBytes(4096, 5));
        }
        platform::SettingsStore::useFile(store);
        const QString before = fingerprint(store);
        Started main;
        QVERIFY2(env.shown().isEmpty(), qPrintable(env.prompts().join(", ")));
        QCOMPARE(main.module.SEC_NAME_STR, QStringLiteral("秘書"));
        QCOMPARE(main.module.MY_NAME_STR, QStringLiteral("社長"));
        QCOMPARE(main.module.SEC_PIC_PATH, env.girlPath());
        QCOMPARE(main.label("NAME_LABEL"), QStringLiteral("秘書："));
        QCOMPARE(fingerprint(store), before);

        QVERIFY(updateNames(main.window.get(), "受付", "部長"));
        QCOMPARE(env.shown().size(), 1);
        const platform::MessageRequest& box = env.shown().first();
        QVERIFY(!box.prompt.isEmpty());
        QCOMPARE(box.title, QStringLiteral("Internal Error"));
        QCOMPARE(box.icon, platform::MsgIcon::Critical);
        QCOMPARE(box.buttons, MsgButtons::Ok);
        // A failure is all or nothing: the store the update could not use is left as it was.
        QCOMPARE(fingerprint(store), before);
    }
};

QTEST_MAIN(TestReliabilityFiles)
#include "test_reliability_files.moc"
