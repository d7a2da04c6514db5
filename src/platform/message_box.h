#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QWidget;

namespace platform {

enum class MsgIcon { None, Question, Exclamation, Critical, Information };
enum class MsgButtons { Ok, YesNo, Choices };
// First to Third: the choices of a Choices box in their order; Cancel: its last button, Escape or
// the close box.
enum class MsgAnswer { Ok, Yes, No, First, Second, Third, Cancel };

// One message box as the program asks for it. The prompt keeps the program's own line
// breaks (a bare carriage return between two lines); the box shows them as lines.
struct MessageRequest {
    QString prompt;
    QString title;
    MsgIcon icon = MsgIcon::None;
    MsgButtons buttons = MsgButtons::Ok;
    MsgAnswer defaultButton = MsgAnswer::Ok;
    // The buttons of a Choices box, the cancelling one last.
    QStringList choices{};
};

// The title that every box without a title of its own carries.
QString programTitle();

// Shows a modal box and returns the button chosen. Closing a Yes/No box without choosing
// counts as No; closing an OK box counts as OK.
MsgAnswer messageBox(QWidget* parent, const MessageRequest& request);

// Shorthands for the program's usual boxes.
void showError(QWidget* parent, const QString& description, const QString& title = programTitle());
void showWarning(QWidget* parent, const QString& prompt, const QString& title);
bool askYesNo(QWidget* parent, const QString& prompt, const QString& title,
              MsgAnswer defaultButton = MsgAnswer::Yes);

// Runs step; any failure it throws is shown with its description, an OK button and the title
// (the program's unless given), and the result is false. The one place where handlers catch.
bool reported(QWidget* parent, const std::function<void()>& step, const QString& title = programTitle(),
              MsgIcon icon = MsgIcon::None);

// Asks for a password in a small modal box; nothing when the user cancels.
std::optional<QString> askPassword(QWidget* parent, const QString& title, const QString& prompt);

// Tests answer the boxes instead of a person; a null handler restores the real boxes.
using MessageHandler = std::function<MsgAnswer(const MessageRequest&)>;
void setMessageHandler(MessageHandler handler);
using PasswordHandler = std::function<std::optional<QString>(const QString& prompt)>;
void setPasswordHandler(PasswordHandler handler);

// The text as a box shows it: a bare carriage return becomes a line break.
QString displayText(const QString& prompt);

} // namespace platform
