#pragma once

#include <QList>
#include <QString>

#include <utility>

namespace platform {

// The per-user settings store, addressed by application, section and key.
class SettingsStore {
public:
    // The text stored under the key, or empty when the key or the store itself is missing
    // or unreadable.
    static QString read(const QString& application, const QString& section, const QString& key);
    // Writes the values together and at once: either all of them reach the store or, with a
    // Failure naming the real cause, none. Waits a bounded time for another writer's lock.
    static void write(const QString& application, const QString& section,
                      const QList<std::pair<QString, QString>>& values);
    // Keeps the store in one INI file instead of the user's place (tests); empty restores it.
    static void useFile(const QString& path);

    // How long a write waits for the store's lock file before it gives up.
    static constexpr int kLockWaitMs = 3000;
};

} // namespace platform
