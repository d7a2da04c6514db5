#pragma once

#include <QString>

#include <functional>
#include <optional>

class QWidget;

namespace platform {

// A file request. filter is the program's own list: descriptions and patterns alternating,
// each followed by "|". filterIndex counts from 1. A save request asks before replacing a file
// and adds defaultSuffix to a name typed without one.
struct FileDialogRequest {
    QString filter;
    int filterIndex = 1;
    bool hideReadOnly = false;
    bool save = false;
    QString defaultSuffix = {};
};

// The chosen path, or nothing when the user cancelled. The dialog does not insist that a
// typed file name exists: the caller tests it.
std::optional<QString> openFileDialog(QWidget* parent, const FileDialogRequest& request);

// Qt's name filters for the program's filter list, in order.
QStringList nameFilters(const QString& filter);

using FileDialogHandler = std::function<std::optional<QString>(const FileDialogRequest&)>;
void setFileDialogHandler(FileDialogHandler handler);

} // namespace platform
