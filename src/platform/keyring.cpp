#include "platform/keyring.h"

#include <QHash>
#include <QTimer>

#include <qt6keychain/keychain.h>

namespace platform {
namespace {
const QString kService = QStringLiteral("meridocal");

KeyringHandler g_handler;
QHash<QString, QString> g_memory; // this run's passwords, for a desktop without a keyring

// What this run remembers, for when the keyring has nothing; keyring says whether one answered.
KeyringAnswer remembered(const QString& key, bool keyring)
{
    return {g_memory.contains(key), g_memory.value(key), keyring};
}

void answerLater(QObject* context, std::function<void(const KeyringAnswer&)> done, const KeyringAnswer& answer)
{
    QTimer::singleShot(0, context, [done = std::move(done), answer] { done(answer); });
}
} // namespace

void setKeyringHandler(KeyringHandler handler)
{
    g_handler = std::move(handler);
    g_memory.clear();
}

void readPassword(const QString& key, QObject* context, std::function<void(const KeyringAnswer&)> done)
{
    if (g_handler) {
        const KeyringAnswer answer = g_handler({key, std::nullopt});
        answerLater(context, std::move(done), answer.found ? answer : remembered(key, answer.keyring));
        return;
    }
    auto* job = new QKeychain::ReadPasswordJob(kService);
    job->setAutoDelete(true);
    job->setKey(key);
    QObject::connect(job, &QKeychain::Job::finished, context, [key, done = std::move(done)](QKeychain::Job* j) {
        const auto* read = static_cast<QKeychain::ReadPasswordJob*>(j);
        if (read->error() == QKeychain::NoError)
            done({true, read->textData(), true});
        else
            done(remembered(key, read->error() == QKeychain::EntryNotFound));
    });
    job->start();
}

void writePassword(const QString& key, const QString& password, QObject* context,
                   std::function<void(const KeyringAnswer&)> done)
{
    g_memory.insert(key, password);
    if (g_handler) {
        answerLater(context, std::move(done), g_handler({key, password}));
        return;
    }
    auto* job = new QKeychain::WritePasswordJob(kService);
    job->setAutoDelete(true);
    job->setKey(key);
    job->setTextData(password);
    QObject::connect(job, &QKeychain::Job::finished, context, [password, done = std::move(done)](QKeychain::Job* j) {
        done({true, password, j->error() == QKeychain::NoError});
    });
    job->start();
}

} // namespace platform
