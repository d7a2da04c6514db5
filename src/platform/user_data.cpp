#include "platform/user_data.h"

#include "platform/failure.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QStorageInfo>

#include <vector>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>
#else
#include <io.h>
#endif

namespace platform {
namespace {

// Another copy of the program making the same first copy holds the lock for well under this.
constexpr int kLockWaitMs = 10000;
// The appointments are the user's own business: no one else may read them.
constexpr QFileDevice::Permissions kOwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

bool hasEntry(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

// QFile's reasons are the system's English words; the folder tells the user what went wrong.
[[noreturn]] void failCopy(const QString& target)
{
    const QFileInfo folder(QFileInfo(target).absolutePath());
    const QStorageInfo storage(folder.absoluteFilePath());
    QString why = QStringLiteral("書き込みに失敗しました");
    if (!folder.isDir())
        why = QStringLiteral("フォルダー %1 を作れません").arg(folder.absoluteFilePath());
    else if (!folder.isWritable())
        why = QStringLiteral("フォルダー %1 に書き込めません").arg(folder.absoluteFilePath());
    else if (storage.isValid() && storage.bytesAvailable() < 1024 * 1024)
        why = QStringLiteral("ディスクがいっぱいです");
    throw Failure(QStringLiteral("予定を保存するファイル %1 を作れません（%2）。").arg(target, why));
}

bool syncToDisk(QFile& file)
{
#ifdef Q_OS_UNIX
    return file.flush() && ::fsync(file.handle()) == 0;
#else
    return file.flush() && ::_commit(file.handle()) == 0;
#endif
}

// The finished copy takes its name only if no entry has it: an entry of that name that appeared
// meanwhile is kept. The folder is flushed too, so that the name outlives a power loss before the
// marker does.
bool moveInPlace(const QString& from, const QString& to)
{
#ifdef Q_OS_UNIX
    const bool linked = ::link(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
    const bool taken = !linked && errno == EEXIST;
    QFile::remove(from);
    const int folder = ::open(QFile::encodeName(QFileInfo(to).absolutePath()).constData(), O_RDONLY | O_CLOEXEC);
    const bool synced = folder >= 0 && ::fsync(folder) == 0;
    if (folder >= 0)
        ::close(folder);
    return (linked || taken) && synced;
#else
    return QFile::rename(from, to) || (QFile::remove(from), hasEntry(to));
#endif
}

} // namespace

QString userDataFolder()
{
    // Only an absolute path counts, as the base-directory rules have it: a relative one would
    // put the appointments wherever the program happened to be started.
    const QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (QDir::isAbsolutePath(dataHome))
        return QDir::cleanPath(dataHome);
    QString home = qEnvironmentVariable("HOME");
#ifdef Q_OS_UNIX
    // Without HOME (a service, a cleared environment) the user's home is the one of the
    // account, not the root of the file system.
    if (!QDir::isAbsolutePath(home)) {
        std::vector<char> buffer(16384);
        passwd entry{};
        passwd* found = nullptr;
        if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir)
            home = QFile::decodeName(found->pw_dir);
    }
#else
    if (!QDir::isAbsolutePath(home))
        home = QDir::homePath();
#endif
    if (!QDir::isAbsolutePath(home))
        return QString();
    return QDir::cleanPath(home + QStringLiteral("/.local/share"));
}

void copyOnFirstStart(const QString& source, const QString& target)
{
    const QString marker = target + QStringLiteral(".created");
    if (QFileInfo::exists(marker))
        return;
    const QString folder = QFileInfo(target).absolutePath();
    QDir().mkpath(folder);
    QFile::setPermissions(folder, kOwnerOnly | QFileDevice::ExeOwner);
    // Two copies of the program started together must not each take the other's half copy
    // for a leftover.
    QLockFile lock(target + QStringLiteral(".lock"));
    if (!lock.tryLock(kLockWaitMs))
        failCopy(target);
    if (QFileInfo::exists(marker))
        return;
    const QString part = target + QStringLiteral(".part");
    // Left by a first start that was cut short: never a database.
    QFile::remove(part);
    // A file already under the name without the marker was put in place by a start cut short
    // just after, or by the user: either way it is kept.
    if (!hasEntry(target)) {
        QFile in(source);
        if (!in.open(QIODevice::ReadOnly))
            throw Failure(QStringLiteral("予定のひな形のファイル %1 を読めません。"
                                         "プログラムをインストールし直してください。").arg(source));
        QFile out(part);
        if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly, kOwnerOnly) || out.write(in.readAll()) != in.size()
            || !syncToDisk(out))
            failCopy(target);
        out.close();
        if (!moveInPlace(part, target))
            failCopy(target);
    }
    QFile done(marker);
    if (!done.open(QIODevice::WriteOnly, kOwnerOnly) || !syncToDisk(done))
        failCopy(target);
}

} // namespace platform
