#include "platform/message_box.h"

#include "platform/failure.h"

#include <QAbstractButton>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>

namespace platform {
namespace {
MessageHandler g_handler;
PasswordHandler g_passwordHandler;

QMessageBox::Icon toQt(MsgIcon icon)
{
    switch (icon) {
    case MsgIcon::Question: return QMessageBox::Question;
    case MsgIcon::Exclamation: return QMessageBox::Warning;
    case MsgIcon::Critical: return QMessageBox::Critical;
    case MsgIcon::Information: return QMessageBox::Information;
    case MsgIcon::None: break;
    }
    return QMessageBox::NoIcon;
}
} // namespace

QString programTitle()
{
    return QStringLiteral("ミルドカ");
}

QString displayText(const QString& prompt)
{
    QString text = prompt;
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

void setMessageHandler(MessageHandler handler)
{
    g_handler = std::move(handler);
}

MsgAnswer messageBox(QWidget* parent, const MessageRequest& request)
{
    if (g_handler)
        return g_handler(request);

    QMessageBox box(toQt(request.icon), request.title, displayText(request.prompt), QMessageBox::NoButton, parent);
    box.setTextFormat(Qt::PlainText);
    if (request.buttons == MsgButtons::Choices) {
        const MsgAnswer answers[] = {MsgAnswer::First, MsgAnswer::Second, MsgAnswer::Third};
        QList<QAbstractButton*> buttons;
        for (qsizetype i = 0; i < request.choices.size(); ++i) {
            const bool cancel = i == request.choices.size() - 1;
            buttons << box.addButton(request.choices.at(i), cancel ? QMessageBox::RejectRole : QMessageBox::AcceptRole);
            if (cancel)
                box.setEscapeButton(buttons.back());
        }
        const int given = int(request.defaultButton) - int(MsgAnswer::First);
        if (given >= 0 && given < buttons.size())
            box.setDefaultButton(qobject_cast<QPushButton*>(buttons.at(given)));
        box.exec();
        const qsizetype chosen = buttons.indexOf(box.clickedButton());
        return chosen >= 0 && chosen < buttons.size() - 1 && chosen < 3 ? answers[chosen] : MsgAnswer::Cancel;
    }
    if (request.buttons == MsgButtons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(request.defaultButton == MsgAnswer::No ? QMessageBox::No : QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? MsgAnswer::Yes : MsgAnswer::No;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.setEscapeButton(QMessageBox::Ok);
    box.exec();
    return MsgAnswer::Ok;
}

void showError(QWidget* parent, const QString& description, const QString& title)
{
    messageBox(parent, {description, title, MsgIcon::None, MsgButtons::Ok, MsgAnswer::Ok});
}

void showWarning(QWidget* parent, const QString& prompt, const QString& title)
{
    messageBox(parent, {prompt, title, MsgIcon::Exclamation, MsgButtons::Ok, MsgAnswer::Ok});
}

bool askYesNo(QWidget* parent, const QString& prompt, const QString& title, MsgAnswer defaultButton)
{
    return messageBox(parent, {prompt, title, MsgIcon::Question, MsgButtons::YesNo, defaultButton}) == MsgAnswer::Yes;
}

void setPasswordHandler(PasswordHandler handler)
{
    g_passwordHandler = std::move(handler);
}

std::optional<QString> askPassword(QWidget* parent, const QString& title, const QString& prompt)
{
    if (g_passwordHandler)
        return g_passwordHandler(prompt);
    bool given = false;
    const QString password = QInputDialog::getText(parent, title, prompt, QLineEdit::Password, {}, &given);
    return given ? std::optional<QString>(password) : std::nullopt;
}

bool reported(QWidget* parent, const std::function<void()>& step, const QString& title, MsgIcon icon)
{
    try {
        step();
        return true;
    } catch (...) {
        messageBox(parent, {describeCurrentException(), title, icon, MsgButtons::Ok, MsgAnswer::Ok});
        return false;
    }
}

} // namespace platform
