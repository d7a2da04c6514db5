#include "reminders/reminder_window.h"

#include "platform/picture.h"
#include "platform/window_style.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>

namespace {
const QString kClose = QStringLiteral("閉じる");
const QString kListTitle = QStringLiteral("お知らせ");
const QString kTime = QStringLiteral("%1/%2 %3:%4");
const QString kUrgent = QStringLiteral("高");
const QString kSnooze5 = QStringLiteral("5分後");
const QString kAcknowledge = QStringLiteral("了解");
constexpr int kPictureSize = 64;
constexpr int kSnoozeMinutes = 5;
constexpr int kListWidth = 480;
constexpr int kListHeight = 240;

QLabel* plainLabel(const QString& name, const QString& text, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    return label;
}

constexpr Qt::WindowFlags kReminderFlags = Qt::Window | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint
                                           | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;
} // namespace

ReminderWindow::ReminderWindow(const platform::Notification& notification, QWidget* parent) : QWidget(parent, kReminderFlags)
{
    setObjectName(QStringLiteral("reminderWindow"));
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setWindowTitle(notification.summary);
    setWindowIcon(QIcon(QStringLiteral(":/icon.png")));

    auto* picture = new platform::PictureBox(this);
    picture->setObjectName(QStringLiteral("picture"));
    picture->setFixedSize(kPictureSize, kPictureSize);
    // A picture that cannot be shown leaves the area empty: the reminder itself matters more.
    try {
        picture->load(notification.picturePath);
    } catch (...) {
    }

    QLabel* summary = plainLabel(QStringLiteral("summary"), notification.summary, this);
    summary->setFont(platform::msPGothic(9, true));
    QLabel* body = plainLabel(QStringLiteral("body"), notification.body, this);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* close = buttons->addButton(kClose, QDialogButtonBox::RejectRole);
    close->setObjectName(QStringLiteral("closeButton"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QWidget::close);

    auto* texts = new QVBoxLayout;
    texts->addWidget(summary);
    texts->addWidget(body);
    texts->addStretch();
    auto* row = new QHBoxLayout;
    row->addWidget(picture, 0, Qt::AlignTop);
    row->addLayout(texts, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

ReminderListWindow::ReminderListWindow(QWidget* parent) : QWidget(parent, kReminderFlags)
{
    setObjectName(QStringLiteral("reminderList"));
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setWindowTitle(kListTitle);
    setWindowIcon(QIcon(QStringLiteral(":/icon.png")));
    auto* rows = new QWidget;
    m_rows = new QVBoxLayout(rows);
    m_rows->addStretch(); // the rows stay at the top
    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setWidget(rows);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(scroll);
    resize(kListWidth, kListHeight);
}

void ReminderListWindow::add(const QList<Reminder>& reminders)
{
    for (const Reminder& r : reminders) {
        auto* row = new QWidget;
        row->setObjectName(QStringLiteral("reminderRow"));
        const QDate day = r.startsAt.date();
        const QString time = kTime.arg(day.month()).arg(day.day(), 2, 10, QLatin1Char('0')).arg(r.rec.P_HOUR, r.rec.P_MIN);
        auto* line = new QHBoxLayout(row);
        line->setContentsMargins(0, 0, 0, 0);
        line->addWidget(plainLabel(QStringLiteral("time"), time, row));
        QLabel* importance = plainLabel(QStringLiteral("importance"), r.rec.P_IMPORTANCE == 0 ? kUrgent : QString(), row);
        importance->setFixedWidth(importance->fontMetrics().horizontalAdvance(kUrgent) + 4);
        line->addWidget(importance);
        line->addWidget(plainLabel(QStringLiteral("subject"), r.rec.P_DETAIL, row), 2);
        line->addWidget(plainLabel(QStringLiteral("place"), r.rec.P_PLACE, row), 1);
        auto* snooze = new QPushButton(kSnooze5, row);
        snooze->setObjectName(QStringLiteral("snoozeButton"));
        auto* ack = new QPushButton(kAcknowledge, row);
        ack->setObjectName(QStringLiteral("ackButton"));
        line->addWidget(snooze);
        line->addWidget(ack);
        connect(snooze, &QPushButton::clicked, this, [this, row, r] {
            answered(row);
            emit snoozed({r}, kSnoozeMinutes);
        });
        connect(ack, &QPushButton::clicked, this, [this, row, r] {
            answered(row);
            emit acknowledged({r});
        });
        m_rows->insertWidget(m_rows->count() - 1, row);
    }
}

void ReminderListWindow::answered(QWidget* row)
{
    row->hide();
    row->deleteLater();
    // The last answer closes the window; rows already answered are on their way out.
    const auto rows = findChildren<QWidget*>(QStringLiteral("reminderRow"));
    if (std::ranges::none_of(rows, [](QWidget* w) { return w->isVisibleTo(w->parentWidget()); }))
        close();
}
