#include "platform/files.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <filesystem>
#include <system_error>

namespace platform {
namespace {
QString g_folder;
}

QString programFolder()
{
    return g_folder.isEmpty() ? QCoreApplication::applicationDirPath() : g_folder;
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
    const auto status = std::filesystem::status(std::filesystem::path(path.toStdU16String()), ec);
    if (ec || status.type() != std::filesystem::file_type::regular)
        return false;
    return !QFileInfo(path).isHidden();
}

} // namespace platform
