#include "platform/system_tray.h"

#include <QSystemTrayIcon>

namespace platform {
namespace {
std::optional<bool> g_scripted;
} // namespace

bool systemTrayAvailable()
{
    return g_scripted ? *g_scripted : QSystemTrayIcon::isSystemTrayAvailable();
}

void setSystemTrayForTests(std::optional<bool> available)
{
    g_scripted = available;
}

} // namespace platform
