#pragma once

#include <QString>

#include <functional>
#include <optional>

class QObject;

namespace platform {

// What a look-up in the keyring found.
struct KeyringAnswer {
    bool found = false;
    QString password;
    bool keyring = true; // false: no keyring could be used, and the password lives only as long as this run
};

// Passwords in the desktop's keyring (Secret Service, KWallet, the Windows credential store)
// through QtKeychain, never in a file of ours. Where no keyring answers, a password written in
// this run is kept in memory until the program ends. done runs later, from the event loop, and
// not at all once context is gone.
void readPassword(const QString& key, QObject* context, std::function<void(const KeyringAnswer&)> done);
void writePassword(const QString& key, const QString& password, QObject* context,
                   std::function<void(const KeyringAnswer&)> done);

// Tests answer in place of the desktop's keyring: a read has no password, a write has one; an
// answer with keyring false acts as a desktop without one. Setting a handler (or a null one,
// which restores the real keyring) starts a new run: the memory is emptied.
struct KeyringRequest {
    QString key;
    std::optional<QString> written;
};
using KeyringHandler = std::function<KeyringAnswer(const KeyringRequest&)>;
void setKeyringHandler(KeyringHandler handler);

} // namespace platform
