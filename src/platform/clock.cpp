#include "platform/clock.h"

namespace platform {
namespace {
QDateTime g_fixed;
}

QDateTime Clock::now()
{
    return g_fixed.isValid() ? g_fixed : QDateTime::currentDateTime();
}

void Clock::setFixed(const QDateTime& when)
{
    g_fixed = when;
}

void Clock::useSystem()
{
    g_fixed = QDateTime();
}

} // namespace platform
