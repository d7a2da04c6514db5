#pragma once

#include <optional>

namespace platform {

// Whether the desktop shows icons in a system tray (a StatusNotifier host or an X11 tray). Asked
// anew each time: a panel can come or go while the program runs.
bool systemTrayAvailable();

// Tests say whether there is a tray; nullopt asks the desktop again.
void setSystemTrayForTests(std::optional<bool> available);

} // namespace platform
