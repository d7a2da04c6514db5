#include "platform/autostart.h"

#include "platform/failure.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStorageInfo>

namespace platform {
namespace {
const QString kCannotWrite = QStringLiteral("ログイン時に起動する設定を書き込めません。");
const QString kNotUtf8 = QStringLiteral("プログラムのフォルダーの名前に UTF-8 でない文字があるため、"
                                        "起動の設定に書けません。UTF-8 の名前のフォルダーに移してください。");
const QString kCannotRemove = QStringLiteral("ログイン時に起動する設定を削除できません。");

// Why the file at path cannot be written or removed, read from the file system: the first
// folder of its path that is there tells.
QString reason(const QString& path, const QString& systemText)
{
    QFileInfo place(QFileInfo(path).absolutePath());
    while (!place.exists() && !place.isRoot())
        place = QFileInfo(place.absolutePath());
    if (!place.isDir())
        return QStringLiteral("%1 はフォルダーではありません。").arg(QDir::toNativeSeparators(place.filePath()));
    if (!place.isWritable())
        return QStringLiteral("%1 に書き込む権限がありません。").arg(QDir::toNativeSeparators(place.filePath()));
    const QStorageInfo storage(place.filePath());
    if (storage.isValid() && storage.isReadOnly())
        return QStringLiteral("%1 は読み取り専用のドライブにあります。").arg(QDir::toNativeSeparators(place.filePath()));
    if (storage.isValid() && storage.bytesAvailable() < 64 * 1024)
        return QStringLiteral("ディスクがいっぱいです。");
    return QStringLiteral("%1 を書き換えられません（%2）。").arg(QDir::toNativeSeparators(path), systemText);
}

[[noreturn]] void fail(const QString& what, const QString& path, const QString& systemText)
{
    throw Failure(what + QLatin1Char('\r') + reason(path, systemText));
}

QString entryText(const QString& programPath)
{
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=ミルドカ\n"
                          "Comment=あなたの秘書\n"
                          "Exec=%1\n"
                          "Terminal=false\n")
        .arg(desktopExecCommand(programPath));
}
} // namespace

QString desktopExecArgument(const QString& programPath)
{
    // Inside the quotes of an argument: a backslash before ", `, $ and \, and %% for %.
    QString argument;
    for (const QChar c : programPath) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            argument += QLatin1Char('\\');
        argument += c;
        if (c == QLatin1Char('%'))
            argument += QLatin1Char('%');
    }
    // Then the rules of every string value, which are read first: \\, \n, \t, \r.
    QString value;
    for (const QChar c : argument) {
        switch (c.unicode()) {
        case '\\': value += QLatin1String("\\\\"); break;
        case '\n': value += QLatin1String("\\n"); break;
        case '\t': value += QLatin1String("\\t"); break;
        case '\r': value += QLatin1String("\\r"); break;
        default: value += c;
        }
    }
    return QLatin1Char('"') + value + QLatin1Char('"');
}

QString desktopExecCommand(const QString& programPath)
{
    // GLib looks for the program named first before it reads %% as %, so a path with % would
    // be "not found" and never started: such a path goes to the shell as an argument instead.
    if (!programPath.contains(QLatin1Char('%')))
        return desktopExecArgument(programPath);
    return QStringLiteral("/bin/sh -c ") + desktopExecArgument(QStringLiteral("exec \"$0\"")) + QLatin1Char(' ')
           + desktopExecArgument(programPath);
}

QString autostartEntryPath(const QString& programPath)
{
    const QByteArray hash =
        QCryptographicHash::hash(QFile::encodeName(QFileInfo(programPath).absoluteFilePath()), QCryptographicHash::Sha256);
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
           + QStringLiteral("/autostart/meridocal-") + QString::fromLatin1(hash.toHex().left(12))
           + QStringLiteral(".desktop");
}

bool startsAtLogin(const QString& programPath)
{
    return QFileInfo(autostartEntryPath(programPath)).isFile();
}

void setStartAtLogin(const QString& programPath, bool on)
{
    const QString path = autostartEntryPath(programPath);
    if (!on) {
        QFile entry(path);
        if (QFileInfo::exists(path) && !entry.remove())
            fail(kCannotRemove, path, entry.errorString());
        return;
    }
    // A name that is not UTF-8 reaches us with its bytes replaced (or not at all): an entry
    // made from it would start nothing, and a desktop entry can hold nothing else.
    if (programPath.isEmpty() || programPath.contains(QChar::ReplacementCharacter))
        throw Failure(kCannotWrite + QLatin1Char('\r') + kNotUtf8);
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        fail(kCannotWrite, path, QString());
    // Written aside and renamed into place: the entry is there whole or not at all.
    QSaveFile entry(path);
    if (!entry.open(QIODevice::WriteOnly) || entry.write(entryText(programPath).toUtf8()) < 0 || !entry.commit())
        fail(kCannotWrite, path, entry.errorString());
}

} // namespace platform
