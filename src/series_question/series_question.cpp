#include "series_question/series_question.h"

#include "platform/message_box.h"

namespace series_question {
namespace {

const QString kChangePrompt = QStringLiteral("繰り返しの予定です。どの予定を変更しますか？");
const QString kDeletePrompt = QStringLiteral("繰り返しの予定です。どの予定を削除しますか？");
const QString kTitle = QStringLiteral("繰り返しの予定");
const QStringList kChoices{QStringLiteral("この予定だけ(&O)"), QStringLiteral("これ以降すべて(&F)"),
                           QStringLiteral("すべて(&A)"), QStringLiteral("キャンセル")};

} // namespace

std::optional<store::Scope> ask(QWidget* parent, bool deleting)
{
    platform::MessageRequest request{deleting ? kDeletePrompt : kChangePrompt, kTitle, platform::MsgIcon::Question,
                                     platform::MsgButtons::Choices, platform::MsgAnswer::First, kChoices};
    switch (platform::messageBox(parent, request)) {
    case platform::MsgAnswer::First: return store::Scope::ThisOnly;
    case platform::MsgAnswer::Second: return store::Scope::Following;
    case platform::MsgAnswer::Third: return store::Scope::All;
    default: return std::nullopt;
    }
}

} // namespace series_question
