#include "platform/files.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <QFile>

#ifdef Q_OS_LINUX
#include <fcntl.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <system_error>

namespace platform {
namespace {
QString g_folder;

#ifdef Q_OS_LINUX
// Qt reads file names as UTF-8 and cannot name a folder whose name is not: it gives no program
// folder at all. The folder is then opened by its own bytes and named through the descriptor,
// a path every library can open.
QString folderByItsBytes()
{
    char exe[4096];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0)
        return {};
    QByteArray folder(exe, int(n));
    folder.truncate(qMax(1, int(folder.lastIndexOf('/'))));
    static const int fd = open(folder.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    return fd < 0 ? QString() : QStringLiteral("/proc/self/fd/%1").arg(fd);
}
#endif
} // namespace

QString programFolder()
{
    if (!g_folder.isEmpty())
        return g_folder;
    const QString folder = QCoreApplication::applicationDirPath();
#ifdef Q_OS_LINUX
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return folderByItsBytes();
#endif
    return folder;
}

void setProgramFolder(const QString& folder)
{
    g_folder = folder;
}

bool isOrdinaryFile(const QString& path)
{
    if (path.isEmpty())
        return false;
    std::error_code ec;
    const auto status = std::filesystem::status(std::filesystem::path(QFile::encodeName(path).toStdString()), ec);
    if (ec || status.type() != std::filesystem::file_type::regular)
        return false;
    return !QFileInfo(path).isHidden();
}

} // namespace platform
