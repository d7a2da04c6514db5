// The file test, the picture loader and the settings store on real files in a temporary folder.
#include "platform/failure.h"
#include "platform/files.h"
#include "platform/picture.h"
#include "platform/settings_store.h"
#include "state/module1.h"
#include "support/test_env.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QRandomGenerator>
#include <QTest>

#include <optional>

#include <sys/stat.h>

namespace {

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

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A bitmap header that claims width × height pixels of 24 bits, followed by a few bytes only.
QByteArray bitmapClaiming(qint32 width, qint32 height)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    const quint32 pixelBytes = quint32(width) * 3u * quint32(height);
    out.writeRawData("BM", 2);
    out << quint32(54u + pixelBytes) << quint16(0) << quint16(0) << quint32(54);
    out << quint32(40) << width << height << quint16(1) << quint16(24) << quint32(0) << pixelBytes << qint32(2835)
        << qint32(2835) << quint32(0) << quint32(0);
    bytes.append(QByteArray(256, '\x7f'));
    return bytes;
}

// A picture with four coloured quarters, so that a load that turned or mirrored it shows.
QImage quarters()
{
    QImage image(48, 32, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, x < 24 ? (y < 16 ? qRgb(255, 0, 0) : qRgb(0, 0, 255)) : (y < 16 ? qRgb(0, 255, 0) : qRgb(255, 255, 255)));
    return image;
}

bool near(QRgb a, QRgb b)
{
    return qAbs(qRed(a) - qRed(b)) < 24 && qAbs(qGreen(a) - qGreen(b)) < 24 && qAbs(qBlue(a) - qBlue(b)) < 24;
}

} // namespace

class TestPlatformFilesPicturesSettings : public QObject {
    Q_OBJECT
private slots:
    // Only a regular file whose name is not hidden counts as an ordinary file.
    void ordinaryFiles_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("ordinary");
        QTest::newRow("regular file") << "regular" << true;
        QTest::newRow("Japanese name with blanks") << "japanese" << true;
        QTest::newRow("link to a regular file") << "link" << true;
        QTest::newRow("folder") << "folder" << false;
        QTest::newRow("missing") << "missing" << false;
        QTest::newRow("hidden") << "hidden" << false;
        QTest::newRow("pipe") << "fifo" << false;
        QTest::newRow("device") << "device" << false;
        QTest::newRow("empty path") << "empty" << false;
        QTest::newRow("link to a folder") << "folderLink" << false;
        QTest::newRow("dangling link") << "dangling" << false;
    }
    void ordinaryFiles()
    {
        QFETCH(QString, kind);
        QFETCH(bool, ordinary);
        QTemporaryDir dir;
        const QString regular = dir.filePath(QStringLiteral("girl.gif"));
        QVERIFY(writeFile(regular, "GIF89a"));
        QString path;
        if (kind == QLatin1String("regular")) {
            path = regular;
        } else if (kind == QLatin1String("japanese")) {
            path = dir.filePath(QStringLiteral("秘書 の　絵.gif"));
            QVERIFY(writeFile(path, "GIF89a"));
        } else if (kind == QLatin1String("link")) {
            path = dir.filePath(QStringLiteral("link.gif"));
            QVERIFY(QFile::link(regular, path));
        } else if (kind == QLatin1String("folder")) {
            path = dir.filePath(QStringLiteral("pictures.gif"));
            QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("pictures.gif")));
        } else if (kind == QLatin1String("missing")) {
            path = dir.filePath(QStringLiteral("gone.gif"));
        } else if (kind == QLatin1String("hidden")) {
            path = dir.filePath(QStringLiteral(".x.gif"));
            QVERIFY(writeFile(path, "GIF89a"));
        } else if (kind == QLatin1String("fifo")) {
            path = dir.filePath(QStringLiteral("pipe.gif"));
            QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        } else if (kind == QLatin1String("device")) {
            path = QStringLiteral("/dev/null");
        } else if (kind == QLatin1String("folderLink")) {
            path = dir.filePath(QStringLiteral("folder-link.gif"));
            QVERIFY(QFile::link(dir.path(), path));
        } else if (kind == QLatin1String("dangling")) {
            path = dir.filePath(QStringLiteral("dangling.gif"));
            QVERIFY(QFile::link(dir.filePath(QStringLiteral("nowhere.gif")), path));
        }
        QCOMPARE(platform::isOrdinaryFile(path), ordinary);
    }

    // Bitmap, JPEG and the real GIF load with their own size and colours, whatever the name says.
    void picturesLoad_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("format");
        QTest::newRow("bitmap") << "picture.bmp" << QByteArray("BMP");
        QTest::newRow("JPEG") << "picture.jpg" << QByteArray("JPG");
        QTest::newRow("JPEG named .gif") << "picture.gif" << QByteArray("JPG");
        QTest::newRow("GIF") << "girl.gif" << QByteArray();
    }
    void picturesLoad()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, format);
        QTemporaryDir dir;
        const QString path = dir.filePath(name);
        QImage expected;
        if (format.isEmpty()) {
            QVERIFY(QFile::copy(QStringLiteral(MERIDOCAL_GIRL_GIF), path));
            QVERIFY(QFileInfo(path).size() > 0);
            expected = QImage(QStringLiteral(MERIDOCAL_GIRL_GIF), "GIF");
        } else {
            expected = quarters();
            QVERIFY(expected.save(path, format.constData(), 95));
        }
        const QImage loaded = platform::loadPicture(path);
        QVERIFY(!loaded.isNull());
        QCOMPARE(loaded.size(), expected.size());
        for (const QPoint at : {QPoint(2, 2), QPoint(expected.width() - 3, 2), QPoint(2, expected.height() - 3),
                                QPoint(expected.width() - 3, expected.height() - 3)})
            QVERIFY2(near(loaded.pixel(at), expected.pixel(at)), qPrintable(QStringLiteral("%1,%2").arg(at.x()).arg(at.y())));
    }

    void emptyPathGivesNoPicture()
    {
        QImage picture = quarters();
        const auto failure = failureOf([&] { picture = platform::loadPicture(QString()); });
        QCOMPARE(failure, std::nullopt);
        QVERIFY(picture.isNull());
    }

    // Whatever cannot be read as a picture is a failure with a description, and a header that
    // claims a huge picture is refused without the memory being taken.
    void picturesRefused_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("missing file") << "missing";
        QTest::newRow("text named .gif") << "text";
        QTest::newRow("zero bytes") << "zero";
        QTest::newRow("truncated GIF") << "gif40";
        QTest::newRow("truncated JPEG") << "jpg40";
        QTest::newRow("truncated bitmap") << "bmp40";
        QTest::newRow("bitmap claiming 60000 x 60000") << "huge";
        QTest::newRow("bitmap claiming 9000 x 9000") << "large";
        QTest::newRow("folder") << "folder";
    }
    void picturesRefused()
    {
        QFETCH(QString, kind);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("picture.gif"));
        const QString made = dir.filePath(QStringLiteral("made"));
        if (kind == QLatin1String("text"))
            QVERIFY(writeFile(path, "これは絵ではありません。\n"));
        else if (kind == QLatin1String("zero"))
            QVERIFY(writeFile(path, QByteArray()));
        else if (kind == QLatin1String("gif40"))
            QVERIFY(writeFile(path, readFile(QStringLiteral(MERIDOCAL_GIRL_GIF)).left(40)));
        else if (kind == QLatin1String("jpg40"))
            QVERIFY(quarters().save(made, "JPG") && writeFile(path, readFile(made).left(40)));
        else if (kind == QLatin1String("bmp40"))
            QVERIFY(quarters().save(made, "BMP") && writeFile(path, readFile(made).left(40)));
        else if (kind == QLatin1String("huge"))
            QVERIFY(writeFile(path, bitmapClaiming(60000, 60000)));
        else if (kind == QLatin1String("large"))
            QVERIFY(writeFile(path, bitmapClaiming(9000, 9000)));
        else if (kind == QLatin1String("folder"))
            QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("picture.gif")));

        // The loader must bound the memory itself, not rely on whatever limit was set before.
        const int previousLimit = QImageReader::allocationLimit();
        QImageReader::setAllocationLimit(0);
        const auto failure = failureOf([&] { platform::loadPicture(path); });
        QImageReader::setAllocationLimit(previousLimit);
        QVERIFY2(failure.has_value(), "the file was taken for a picture");
        QVERIFY(!failure->trimmed().isEmpty());
    }

    // A key that was never written reads empty; what is written reads back unchanged.
    void settingsRoundTrip_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("text");
        QTest::newRow("name with blanks") << state::kKeySecName << "秘書 の　花子";
        QTest::newRow("blanks at both ends") << state::kKeyMyName << " 社長\u3000";
        QTest::newRow("path with blanks") << state::kKeySecPic << "/home/太郎/My Pictures/girl 2.gif";
        QTest::newRow("separators") << state::kKeySecName << "a=b; c,d #e [f] \\g \"h\"";
        QTest::newRow("half-width katakana") << state::kKeySecName << "ﾐﾙﾄﾞｶ";
    }
    void settingsRoundTrip()
    {
        QFETCH(QString, key);
        QFETCH(QString, text);
        testing::TestEnv env;
        const QStringList keys = {state::kKeySecName, state::kKeyMyName, state::kKeySecPic};
        for (const QString& k : keys)
            QCOMPARE(platform::SettingsStore::read(state::kApplication, state::kSection, k), QString());
        platform::SettingsStore::write(state::kApplication, state::kSection, state::kKeyMyName, QStringLiteral("前から"));
        platform::SettingsStore::write(state::kApplication, state::kSection, key, text);
        QCOMPARE(platform::SettingsStore::read(state::kApplication, state::kSection, key), text);
        if (key != state::kKeyMyName)
            QCOMPARE(platform::SettingsStore::read(state::kApplication, state::kSection, state::kKeyMyName), "前から");
        QVERIFY(QFileInfo(env.settingsPath()).size() > 0);
        QCOMPARE(platform::SettingsStore::read(state::kApplication, QStringLiteral("OTHER"), key), QString());
    }

    // A store that cannot be created makes the write fail with a description.
    void settingsCannotBeWritten()
    {
        testing::TestEnv env;
        const QString blocker = env.path(QStringLiteral("blocker"));
        QVERIFY(writeFile(blocker, "a file, not a folder"));
        platform::SettingsStore::useFile(blocker + QStringLiteral("/settings.ini"));
        const auto failure = failureOf(
            [] { platform::SettingsStore::write(state::kApplication, state::kSection, state::kKeySecName, "花子"); });
        QVERIFY(failure.has_value());
        QVERIFY(!failure->trimmed().isEmpty());
        QCOMPARE(readFile(blocker), QByteArray("a file, not a folder"));
        QCOMPARE(platform::SettingsStore::read(state::kApplication, state::kSection, state::kKeySecName), QString());
    }

    // A damaged or unreadable store reads as empty rather than as some stray text.
    void damagedStoreReadsEmpty_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("random bytes") << "random";
        QTest::newRow("folder in its place") << "folder";
        QTest::newRow("binary zeros") << "zeros";
    }
    void damagedStoreReadsEmpty()
    {
        QFETCH(QString, kind);
        testing::TestEnv env;
        if (kind == QLatin1String("folder")) {
            QVERIFY(QDir(env.folder()).mkdir(QStringLiteral("settings.ini")));
        } else if (kind == QLatin1String("zeros")) {
            QVERIFY(writeFile(env.settingsPath(), QByteArray(4096, '\0')));
        } else {
            QByteArray bytes(4096, Qt::Uninitialized);
            QRandomGenerator random(7);
            random.fillRange(reinterpret_cast<quint32*>(bytes.data()), bytes.size() / 4);
            QVERIFY(writeFile(env.settingsPath(), bytes));
        }
        for (const QString& key : {state::kKeySecName, state::kKeyMyName, state::kKeySecPic})
            QCOMPARE(platform::SettingsStore::read(state::kApplication, state::kSection, key), QString());
    }
};

QTEST_MAIN(TestPlatformFilesPicturesSettings)
#include "test_platform_files_pictures_settings.moc"
