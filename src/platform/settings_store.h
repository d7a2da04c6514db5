#pragma once

#include <QString>

namespace platform {

// The per-user settings store, addressed by application, section and key.
class SettingsStore {
public:
    // The text stored under the key, or empty when the key or the store itself is missing
    // or unreadable.
    static QString read(const QString& application, const QString& section, const QString& key);
    // Writes at once; a store that cannot be written throws Failure with a description.
    static void write(const QString& application, const QString& section, const QString& key,
                      const QString& text);
    // Keeps the store in one INI file instead of the user's place (tests); empty restores it.
    static void useFile(const QString& path);
};

} // namespace platform
