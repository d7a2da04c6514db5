#pragma once

#include <QString>

namespace platform {

// The folder of the running executable, with "/" as separator and no trailing "/" except at
// the root. Tests point it at a temporary folder.
QString programFolder();
void setProgramFolder(const QString& folder);

// True when an ordinary file exists at path: a regular file (or a link to one) whose name
// is not hidden. Folders, devices, sockets and pipes count as missing.
bool isOrdinaryFile(const QString& path);

} // namespace platform
