#pragma once

#include <QDateTime>

namespace platform {

// The local date and time. Tests fix it; the program always reads the system clock.
class Clock {
public:
    static QDateTime now();
    static void setFixed(const QDateTime& when);
    static void useSystem();
};

} // namespace platform
