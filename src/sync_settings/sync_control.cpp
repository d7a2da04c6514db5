#include "sync_settings/sync_control.h"

#include "platform/keyring.h"
#include "platform/message_box.h"
#include "sync/sync_engine.h"

#include <QAction>
#include <QApplication>
#include <QMenu>

namespace {
const QString kSettingsCommand = QStringLiteral("同期設定(&Y)…");
const QString kSyncNowCommand = QStringLiteral("今すぐ同期(&N)");
const QString kTitle = QStringLiteral("同期");
const QString kPasswordPrompt = QStringLiteral("カレンダーのサーバーのパスワードを入力してください。");
const QString kDone = QStringLiteral("同期しました（送信 %1件、受信 %2件、削除 %3件）。");
const QString kConflicts = QStringLiteral("両方で変更されていた予定 %1件は、両方の内容を残しました。");
const QString kUnsendable = QStringLiteral("日付か時刻の読めない予定 %1件は送れませんでした。");
const QString kSpared = QStringLiteral("削除しなかった予定 %1件は、こちらに残しました。");
const QString kSparedThere = QStringLiteral("サーバーの予定 %1件は削除せず、次の同期でこちらに戻します。");
const QString kRefused = QStringLiteral("サーバーが受け付けなかったか読めなかった予定 %1件は、次の同期でもう一度試します。");
const QString kMoreTold = QStringLiteral("ほか %1件");
// Refusals named in one box; a server that refuses everything would fill the screen.
constexpr int kToldLines = 10;

// What the server refused this time and was not told before, one a line.
QString toldLines(const QStringList& told)
{
    QStringList lines = told.mid(0, kToldLines);
    if (told.size() > kToldLines)
        lines << kMoreTold.arg(told.size() - kToldLines);
    return lines.join(QLatin1Char('\r'));
}

// After a change, several changes in a row (one dialog after another) make one sync.
constexpr int kSoonMs = 2000;
constexpr int kEveryMs = 15 * 60 * 1000;
} // namespace

SyncControl::SyncControl(state::Module1& module, QWidget* window)
    : QObject(window), m_module(module), m_window(window), m_engine(new calsync::SyncEngine(module, this))
{
    m_soon.setSingleShot(true);
    m_soon.setInterval(kSoonMs);
    m_every.setInterval(kEveryMs);
    connect(&m_soon, &QTimer::timeout, this, &SyncControl::runAutomatic);
    connect(&m_every, &QTimer::timeout, this, &SyncControl::runAutomatic);
    connect(m_engine, &calsync::SyncEngine::finished, this, &SyncControl::ended);
}

void SyncControl::addCommands(QMenu* menu, const std::function<void()>& openSettings)
{
    QAction* settings = menu->addAction(kSettingsCommand);
    settings->setObjectName(QStringLiteral("mnuSyncSettings"));
    connect(settings, &QAction::triggered, this, openSettings);
    m_syncNowAction = menu->addAction(kSyncNowCommand);
    m_syncNowAction->setObjectName(QStringLiteral("mnuSyncNow"));
    connect(m_syncNowAction, &QAction::triggered, this, [this] { run(true); });
}

bool SyncControl::ready() const
{
    try {
        return !state::readSetting(calsync::kSyncUrl).isEmpty() && m_module.SEC_DB && calsync::isPrepared(*m_module.SEC_DB);
    } catch (...) {
        return false; // a database that cannot be read cannot be synced; the window says why elsewhere
    }
}

void SyncControl::update()
{
    const bool ready = this->ready();
    m_syncNowAction->setEnabled(ready && !m_busy);
    const bool automatic = ready && state::readSetting(calsync::kSyncAuto) == QLatin1String("1");
    if (!automatic)
        m_every.stop();
    else if (!m_every.isActive())
        m_every.start();
}

void SyncControl::changed()
{
    if (m_every.isActive())
        m_soon.start();
}

void SyncControl::stop()
{
    m_soon.stop();
    m_every.stop();
    m_engine->stop();
    m_busy = false;
}

void SyncControl::runAutomatic()
{
    // While a window of ours is open the user is at work; closing it brings a sync anyway.
    if (QApplication::activeModalWidget())
        return;
    if (m_busy)
        m_again = true;
    else
        run(false);
}

void SyncControl::run(bool manual)
{
    if (m_busy || !ready())
        return;
    const QUrl url = calsync::calendarUrl(state::readSetting(calsync::kSyncUrl));
    const QString user = state::readSetting(calsync::kSyncUser);
    const QString key = calsync::keyringKey(user, url);
    m_busy = true;
    m_manual = manual;
    update();
    platform::readPassword(key, this, [this, url, user, key, manual](const platform::KeyringAnswer& answer) {
        if (!m_busy) // stopped meanwhile
            return;
        QString password = answer.password;
        bool given = answer.found;
        if (!given && (manual || !m_declined)) {
            const std::optional<QString> typed = platform::askPassword(m_window, kTitle, kPasswordPrompt);
            given = typed.has_value();
            m_declined = !given;
            password = typed.value_or(QString());
            if (given)
                platform::writePassword(key, password, this, [](const platform::KeyringAnswer&) {});
        }
        if (!given) {
            m_busy = false;
            update();
            return;
        }
        calsync::SyncEngine::Confirm confirm;
        if (manual)
            confirm = [this](const QString& question) {
                return platform::askYesNo(m_window, question, kTitle, platform::MsgAnswer::No);
            };
        m_engine->start({url, user, password}, confirm);
    });
}

void SyncControl::ended()
{
    const calsync::SyncReport& report = m_engine->report();
    m_busy = false;
    update();
    if (report.received || report.deleted || report.conflicts)
        emit rowsChanged();
    if (m_manual) {
        QString text = report.failure;
        if (text.isEmpty()) {
            text = kDone.arg(report.sent).arg(report.received).arg(report.deleted);
            if (report.conflicts)
                text += QLatin1Char('\r') + kConflicts.arg(report.conflicts);
            if (report.unsendable)
                text += QLatin1Char('\r') + kUnsendable.arg(report.unsendable);
            if (report.spared)
                text += QLatin1Char('\r') + kSpared.arg(report.spared);
            if (report.sparedThere)
                text += QLatin1Char('\r') + kSparedThere.arg(report.sparedThere);
            if (report.refused)
                text += QLatin1Char('\r') + kRefused.arg(report.refused);
        }
        if (!report.told.isEmpty())
            text += QLatin1Char('\r') + toldLines(report.told);
        const bool fine = report.failure.isEmpty() && report.told.isEmpty();
        platform::messageBox(m_window, {text, kTitle, fine ? platform::MsgIcon::Information : platform::MsgIcon::Exclamation,
                                        platform::MsgButtons::Ok, platform::MsgAnswer::Ok});
    } else {
        // A server that stays away is told once, not every 15 minutes: the next box comes only
        // after a sync has gone through again. Each refusal is told once too (sec.mdb
        // remembers it), however many automatic syncs try it again.
        QStringList text;
        if (!report.failure.isEmpty() && !std::exchange(m_autoFailing, true))
            text << report.failure;
        if (!report.told.isEmpty())
            text << toldLines(report.told);
        if (!text.isEmpty())
            platform::showWarning(m_window, text.join(QLatin1Char('\r')), kTitle);
    }
    if (report.failure.isEmpty())
        m_autoFailing = false;
    if (std::exchange(m_again, false))
        m_soon.start();
}
