#include "resident/resident_tray.h"

#include "platform/message_box.h"
#include "platform/system_tray.h"
#include "state/module1.h"

#include <QApplication>
#include <QMenu>
#include <QPixmap>
#include <QSystemTrayIcon>

namespace {
const QString kChoice = QStringLiteral("閉じても常駐する(&K)");
const QString kChoiceTip = QStringLiteral("閉じるボタンでは画面から隠れるだけになり、通知領域のアイコンからお知らせを続けます。");
const QString kNoTray = QStringLiteral("このデスクトップには通知領域（システムトレイ）がないため、常駐できません。");
const QString kTodayCount = QStringLiteral("%1　今日の予定 %2件");
const QString kTodayNone = QStringLiteral("%1　今日は予定がありません");
const QString kShow = QStringLiteral("表示");
const QString kEntry = QStringLiteral("予定設定");
const QString kExit = QStringLiteral("終了");
const QString kInternalError = QStringLiteral("Internal Error");
const QString kOn = QStringLiteral("1");
} // namespace

ResidentTray::ResidentTray(QWidget* window) : QObject(window), m_window(window)
{
    setObjectName(QStringLiteral("residentTray"));
}

void ResidentTray::addChoice(QMenu* menu)
{
    m_choice = menu->addAction(kChoice);
    m_choice->setObjectName(QStringLiteral("mnuResident"));
    m_choice->setCheckable(true);
    // The reason a greyed choice cannot be taken is told where the user looks for it.
    menu->setToolTipsVisible(true);
    connect(m_choice, &QAction::triggered, this, &ResidentTray::choose);
    connect(menu, &QMenu::aboutToShow, this, &ResidentTray::follow);
    follow();
}

bool ResidentTray::resident() const
{
    return platform::systemTrayAvailable() && state::readSetting(state::kResident) == kOn;
}

bool ResidentTray::staysOnClose() const
{
    // A session that ends asks every window to close; refusing would hold up the logout.
    return !m_leaving && !qApp->isSavingSession() && resident();
}

void ResidentTray::choose(bool on)
{
    platform::reported(m_window, [on] {
        state::writeSettings({{state::kResident, on ? kOn : QStringLiteral("0")}});
    }, kInternalError, platform::MsgIcon::Critical);
    follow();
}

void ResidentTray::follow()
{
    const bool available = platform::systemTrayAvailable();
    const bool on = resident();
    if (m_choice) {
        m_choice->setEnabled(available);
        m_choice->setChecked(on);
        m_choice->setToolTip(available ? kChoiceTip : kNoTray);
    }
    if (!on) {
        if (m_icon)
            m_icon->hide();
        return;
    }
    if (!m_icon) {
        // The menu goes with the window: a tray icon does not own its menu.
        m_menu = new QMenu(m_window);
        m_menu->setObjectName(QStringLiteral("residentMenu"));
        const std::pair<QString, void (ResidentTray::*)()> items[] = {
            {kShow, &ResidentTray::showRequested}, {kEntry, &ResidentTray::entryRequested}, {kExit, &ResidentTray::exitRequested}};
        const char* names[] = {"trayShow", "traySche", "trayExit"};
        for (int i = 0; i < 3; ++i) {
            QAction* item = m_menu->addAction(items[i].first);
            item->setObjectName(QLatin1String(names[i]));
            connect(item, &QAction::triggered, this, [this, request = items[i].second] { command(request); });
        }
        m_icon = new QSystemTrayIcon(this);
        m_icon->setObjectName(QStringLiteral("trayIcon"));
        m_icon->setContextMenu(m_menu);
        connect(m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                command(&ResidentTray::showRequested);
        });
    }
    m_icon->setToolTip(m_count > 0 ? kTodayCount.arg(platform::programTitle()).arg(m_count)
                                   : kTodayNone.arg(platform::programTitle()));
    m_icon->setIcon(m_picture.isNull() ? m_window->windowIcon() : QIcon(QPixmap::fromImage(m_picture)));
    m_icon->show();
}

void ResidentTray::showToday(int count, const QImage& picture)
{
    // Kept for an icon that the choice brings later.
    m_count = count;
    m_picture = picture;
    follow();
}

void ResidentTray::leave()
{
    m_leaving = true;
    if (m_icon)
        m_icon->hide();
}

void ResidentTray::command(void (ResidentTray::*request)())
{
    // A window of the program that is open holds every command until it closes, as the main
    // window's own menus do: the tray only brings it to the front.
    if (QWidget* open = QApplication::activeModalWidget()) {
        emit showRequested();
        open->raise();
        open->activateWindow();
        return;
    }
    emit(this->*request)();
}
