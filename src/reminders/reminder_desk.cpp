#include "reminders/reminder_desk.h"

#include "platform/message_box.h"
#include "platform/notifications.h"
#include "reminders/reminder_window.h"
#include "state/module1.h"

#include <QWidget>

namespace {
const QString kMissedSummary = QStringLiteral("お知らせできなかった予定");
const QString kDesktopEntry = QStringLiteral("io.github.meridocal.Meridocal");
const QString kOpen = QStringLiteral("default");
const QString kSnooze5 = QStringLiteral("snooze5");
const QString kSnooze15 = QStringLiteral("snooze15");
const QString kAcknowledge = QStringLiteral("acknowledge");
const QStringList kAnswers{kSnooze5, QStringLiteral("5分後"), kSnooze15, QStringLiteral("15分後"), kAcknowledge,
                           QStringLiteral("了解")};
// A click on the body opens the appointment; services that show the default action as a
// button name it so.
const QStringList kOpenAction{kOpen, QStringLiteral("開く")};
} // namespace

ReminderDesk::ReminderDesk(Reminders& reminders, state::Module1& module, QWidget* window)
    : QObject(window), m_reminders(reminders), m_module(module), m_window(window),
      m_events(new platform::NotificationEvents(this))
{
    connect(&m_reminders, &Reminders::due, this, &ReminderDesk::remind);
    connect(&m_reminders, &Reminders::missed, this, &ReminderDesk::tellMissed);
    connect(m_events, &platform::NotificationEvents::actionInvoked, this, &ReminderDesk::answer);
    connect(m_events, &platform::NotificationEvents::closed, this, [this](uint id, uint reason) {
        // Dismissed by the user is an answer too; gone otherwise (the service closed it, or we
        // did after an answer) leaves the reminder as shown.
        const QList<Reminder> reminders = m_shown.take(id);
        if (reason == platform::NotificationEvents::kDismissedByUser && !reminders.isEmpty())
            m_reminders.acknowledge(reminders);
    });
}

void ReminderDesk::remind(const QList<Reminder>& reminders)
{
    QList<store::PLAN_REC> rows;
    for (const Reminder& r : reminders)
        rows << r.rec;
    const QList<ReminderText> texts = reminderTexts(rows, m_module.MY_NAME_STR);
    for (qsizetype i = 0; i < texts.size(); ++i) {
        // One each, or one for all of them.
        const QList<Reminder> covered = texts.size() == reminders.size() ? QList{reminders[i]} : reminders;
        platform::Notification n;
        n.appName = platform::programTitle();
        n.appIcon = kDesktopEntry;
        n.desktopEntry = kDesktopEntry;
        n.summary = m_module.SEC_NAME_STR.isEmpty() ? platform::programTitle() : m_module.SEC_NAME_STR;
        n.body = texts[i].body;
        n.picturePath = m_module.SEC_PIC_PATH;
        n.urgent = texts[i].urgent;
        n.stays = true;
        n.actions = (covered.size() == 1 ? kOpenAction : QStringList()) + kAnswers;
        platform::notify(
            n, this, [this, covered] { showInList(covered); }, [this, covered](uint id) { m_shown.insert(id, covered); });
    }
}

void ReminderDesk::tellMissed(const QList<Reminder>& reminders)
{
    QList<store::PLAN_REC> rows;
    for (const Reminder& r : reminders)
        rows << r.rec;
    const ReminderText text = missedText(rows);
    platform::Notification n;
    n.appName = platform::programTitle();
    n.appIcon = kDesktopEntry;
    n.desktopEntry = kDesktopEntry;
    n.summary = kMissedSummary;
    n.body = text.body;
    n.picturePath = m_module.SEC_PIC_PATH;
    n.urgent = text.urgent;
    n.stays = true;
    platform::notify(n, this, [this, n] { (new ReminderWindow(n, m_window))->show(); });
}

void ReminderDesk::answer(uint id, const QString& key)
{
    const auto shown = m_shown.find(id);
    if (shown == m_shown.end())
        return; // another program's notification
    const QList<Reminder> reminders = *shown;
    if (key == kSnooze5 || key == kSnooze15)
        m_reminders.snooze(reminders, key == kSnooze5 ? 5 : 15);
    else if (key == kAcknowledge || key == kOpen)
        m_reminders.acknowledge(reminders);
    else
        return;
    m_shown.erase(shown);
    // A notification that stays is not taken away by the service after an answer.
    platform::closeNotification(id);
    if (key == kOpen)
        emit openRequested(reminders.front().id);
}

void ReminderDesk::showInList(const QList<Reminder>& reminders)
{
    if (!m_list) {
        m_list = new ReminderListWindow(m_window);
        connect(m_list, &ReminderListWindow::snoozed, &m_reminders, &Reminders::snooze);
        connect(m_list, &ReminderListWindow::acknowledged, &m_reminders, &Reminders::acknowledge);
    }
    m_list->add(reminders);
    m_list->show();
}
