#include "reminders/reminder_window.h"

#include "platform/picture.h"
#include "platform/window_style.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
const QString kClose = QStringLiteral("閉じる");
constexpr int kPictureSize = 64;

QLabel* plainLabel(const QString& name, const QString& text, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    return label;
}
} // namespace

ReminderWindow::ReminderWindow(const platform::Notification& notification, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                          | Qt::WindowCloseButtonHint)
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
