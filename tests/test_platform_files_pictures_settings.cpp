// The file test, the picture loader and the settings store on real files in a temporary folder.
#include "platform/failure.h"
#include "platform/files.h"
#include "platform/picture.h"
#include "platform/settings_store.h"
#include "state/module1.h"
#include "support/test_env.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QTest>
#include <QtEndian>

#include <optional>

#include <sys/stat.h>

namespace {

template <class F>
std::optional<QString> failureOf(F f)
{
    try { f(); } catch (const platform::Failure& failure) { return failure.description(); }
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

QString read(const QString& key) { return platform::SettingsStore::read(state::kApplication, state::kSection, key); }
void write(const QString& key, const QString& text) { platform::SettingsStore::write(state::kApplication, state::kSection, {{key, text}}); }
const QStringList kKeys = {state::kSecName.key, state::kMyName.key, state::kSecPic.key};

// A picture with four coloured quarters.
QImage quarters()
{
    QImage image(48, 32, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, x < 24 ? (y < 16 ? qRgb(255, 0, 0) : qRgb(0, 0, 255)) : (y < 16 ? qRgb(0, 255, 0) : qRgb(255, 255, 255)));
    return image;
}

QByteArray encoded(const QImage& image, const char* format)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, 95);
    return buffer.data();
}

// A small bitmap whose header claims side × side pixels.
QByteArray bitmapClaiming(qint32 side)
{
    QByteArray bytes = encoded(quarters(), "BMP");
    qToLittleEndian(side, bytes.data() + 18);
    qToLittleEndian(side, bytes.data() + 22);
    return bytes;
}

} // namespace

class TestPlatformFilesPicturesSettings : public QObject {
    Q_OBJECT
private slots:
    // Only a regular file (or a link to one) whose name is not hidden counts as an ordinary file.
    void ordinaryFiles()
    {
        QTemporaryDir dir;
        const auto at = [&](const char* name) { return dir.filePath(QString::fromUtf8(name)); };
        QVERIFY(writeFile(at("秘書 の　絵.gif"), "GIF89a") && writeFile(at(".x.gif"), "GIF89a"));
        QVERIFY(QFile::link(at("秘書 の　絵.gif"), at("link.gif")) && QDir(dir.path()).mkdir("pictures.gif"));
        QCOMPARE(mkfifo(QFile::encodeName(at("pipe.gif")).constData(), 0600), 0);
        const QList<std::pair<QString, bool>> cases = {
            {at("秘書 の　絵.gif"), true}, {at("link.gif"), true},  {at("pictures.gif"), false}, {at("gone.gif"), false},
            {at(".x.gif"), false},        {at("pipe.gif"), false}, {"/dev/null", false},        {QString(), false}};
        for (const auto& [path, ordinary] : cases)
            QVERIFY2(platform::isOrdinaryFile(path) == ordinary, qPrintable(path));
    }

    // Bitmap, JPEG and the real GIF load with their own size and colours, whatever the name says.
    // A missing file or text is a failure with a description, and a header that claims a huge
    // picture is refused by the loader's own bound, with no other limit set. Cut, spoilt and
    // empty pictures are tried in every role through the main window.
    void pictures_data()
    {
        QTest::addColumn<QByteArray>("bytes"); // no file when null
        QTest::addColumn<QImage>("expected");  // refused when null
        const QByteArray girl = readFile(QStringLiteral(MERIDOCAL_GIRL_GIF));
        QTest::newRow("bitmap") << encoded(quarters(), "BMP") << quarters();
        QTest::newRow("JPEG named .gif") << encoded(quarters(), "JPG") << quarters();
        QTest::newRow("GIF") << girl << QImage(QStringLiteral(MERIDOCAL_GIRL_GIF), "GIF");
        QTest::newRow("missing file") << QByteArray() << QImage();
        QTest::newRow("text named .gif") << QByteArray("これは絵ではありません。\n") << QImage();
        QTest::newRow("bitmap claiming 9000 x 9000") << bitmapClaiming(9000) << QImage();
    }
    void pictures()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QImage, expected);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("picture.gif"));
        QVERIFY(bytes.isNull() || writeFile(path, bytes));
        // The loader must bound the memory itself, not rely on whatever limit was set before.
        const int previousLimit = QImageReader::allocationLimit();
        QImageReader::setAllocationLimit(0);
        QImage loaded;
        const auto failure = failureOf([&] { loaded = platform::loadPicture(path); });
        QImageReader::setAllocationLimit(previousLimit);
        if (expected.isNull()) {
            QVERIFY2(!failure.value_or(QString()).trimmed().isEmpty(), "the file was taken for a picture");
            return;
        }
        QCOMPARE(failure, std::nullopt);
        QCOMPARE(loaded.size(), expected.size());
        // One sample in each quarter, so a picture turned, mirrored or discoloured shows.
        const QImage got = loaded.scaled(2, 2), want = expected.scaled(2, 2);
        for (int i = 0; i < 4; ++i) {
            const QRgb a = got.pixel(i % 2, i / 2), b = want.pixel(i % 2, i / 2);
            QVERIFY(qAbs(qRed(a) - qRed(b)) < 24 && qAbs(qGreen(a) - qGreen(b)) < 24 && qAbs(qBlue(a) - qBlue(b)) < 24);
        }
    }

    // An empty path is no picture and no failure.
    void emptyPathIsNoPicture()
    {
        QCOMPARE(failureOf([] { QVERIFY(platform::loadPicture(QString()).isNull()); }), std::nullopt);
    }

    // A key that was never written reads empty; what is written reads back unchanged, and only
    // under its own key and section.
    void settingsRoundTrip_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("text");
        QTest::newRow("blanks at both ends") << state::kMyName.key << " 社長\u3000";
        QTest::newRow("path with blanks") << state::kSecPic.key << "/home/太郎/My Pictures/girl 2.gif";
        QTest::newRow("separators") << state::kSecName.key << "a=b; c,d #e [f] \\g \"h\"";
    }
    void settingsRoundTrip()
    {
        QFETCH(QString, key);
        QFETCH(QString, text);
        testing::TestEnv env;
        for (const QString& k : kKeys)
            QCOMPARE(read(k), QString());
        write(state::kMyName.key, QStringLiteral("前から"));
        write(key, text);
        QCOMPARE(read(key), text);
        QCOMPARE(read(state::kMyName.key), key == state::kMyName.key ? text : QStringLiteral("前から"));
        QVERIFY(QFileInfo(env.settingsPath()).size() > 0);
        QCOMPARE(platform::SettingsStore::read(state::kApplication, QStringLiteral("OTHER"), key), QString());
    }

    // A folder in place of the store reads as empty, and a write to it fails with a description and
    // puts nothing in it. A damaged or unreachable store is tried through the windows.
    void unusableStore()
    {
        testing::TestEnv env;
        QVERIFY(QDir(env.folder()).mkdir(QStringLiteral("settings.ini")));
        for (const QString& key : kKeys)
            QCOMPARE(read(key), QString());
        QVERIFY(!failureOf([] { write(state::kSecName.key, "花子"); }).value_or(" ").trimmed().isEmpty());
        QVERIFY(QDir(env.settingsPath()).isEmpty());
    }
};

QTEST_MAIN(TestPlatformFilesPicturesSettings)
#include "test_platform_files_pictures_settings.moc"
