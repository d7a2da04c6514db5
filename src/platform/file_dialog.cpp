#include "platform/file_dialog.h"

#include <QFileDialog>

namespace platform {
namespace {
FileDialogHandler g_handler;
}

void setFileDialogHandler(FileDialogHandler handler)
{
    g_handler = std::move(handler);
}

QStringList nameFilters(const QString& filter)
{
    const QStringList pieces = filter.split(QLatin1Char('|'));
    QStringList result;
    for (int i = 0; i + 1 < pieces.size(); i += 2) {
        const QString& description = pieces[i];
        const QString& pattern = pieces[i + 1];
        if (description.isEmpty() && pattern.isEmpty())
            continue;
        // A description that already ends with its pattern in parentheses is what Qt expects;
        // otherwise the pattern is added so Qt can still filter.
        if (description.endsWith(QLatin1Char('(') + pattern + QLatin1Char(')')))
            result << description;
        else
            result << description + QLatin1String(" (") + pattern + QLatin1Char(')');
    }
    return result;
}

std::optional<QString> openFileDialog(QWidget* parent, const FileDialogRequest& request)
{
    if (g_handler)
        return g_handler(request);

    QFileDialog dialog(parent);
    dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(request.defaultSuffix);
    const QStringList filters = nameFilters(request.filter);
    dialog.setNameFilters(filters);
    if (request.filterIndex >= 1 && request.filterIndex <= filters.size())
        dialog.selectNameFilter(filters[request.filterIndex - 1]);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst();
}

} // namespace platform
