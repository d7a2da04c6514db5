#pragma once

#include <QString>

namespace platform {

// The start at login of the program at programPath: an XDG autostart entry in
// $XDG_CONFIG_HOME/autostart (~/.config/autostart without it). Each copy of the program has an
// entry of its own, named from its path.
QString autostartEntryPath(const QString& programPath);
bool startsAtLogin(const QString& programPath);
// Writes the entry whole or removes it; throws Failure with the reason in the user's words.
void setStartAtLogin(const QString& programPath, bool on);

// The program's path as one argument of a desktop entry's Exec key, quoted and escaped.
QString desktopExecArgument(const QString& programPath);
// The Exec key's value that starts the program at programPath, as GLib and the other desktops
// read it.
QString desktopExecCommand(const QString& programPath);

} // namespace platform
