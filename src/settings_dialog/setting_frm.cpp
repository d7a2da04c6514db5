#include "settings_dialog/setting_frm.h"

#include "platform/failure.h"
#include "platform/file_dialog.h"
#include "platform/files.h"
#include "platform/message_box.h"
#include "platform/picture.h"
#include "platform/window_style.h"
#include "state/text.h"

#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QValidator>

namespace {
const QString kCaption = QStringLiteral("秘書の設定");
const QString kFrame = QStringLiteral("名前の設定");
const QString kSecNameCaption = QStringLiteral("秘書の名前　：");
const QString kMyNameCaption = QStringLiteral("あなたの名前　：");
const QString kPicture = QStringLiteral("画像変更");
const QString kRedo = QStringLiteral("ﾃﾞﾌｫﾙﾄに戻す");
const QString kUpdate = QStringLiteral("更新");
const QString kCancel = QStringLiteral("キャンセル");
const QString kErrorTitle = QStringLiteral("エラー発生！");
const QString kSecNameEmpty = QStringLiteral("秘書の名前を入力して下さい。") + QLatin1Char('\r');
const QString kMyNameEmpty = QStringLiteral("あなたの名前を入力して下さい。") + QLatin1Char('\r') + QStringLiteral("（半角／全角5）");
const QString kTooLong = QStringLiteral("文字数が多すぎます。") + QLatin1Char('\r') + QStringLiteral("（5文字以内）");
const QString kNoSuchPicture = QStringLiteral("指定された画像は存在しません。");
const QString kInternalError = QStringLiteral("Internal Error");
const QString kPictureFilter = QStringLiteral("ﾋﾞｯﾄﾏｯﾌﾟﾌｧｲﾙ(*.bmp)|*.bmp|") + QStringLiteral("GIFﾌｧｲﾙ(*.gif)|*.gif|")
                               + QStringLiteral("JPGﾌｧｲﾙ(*.jpg)|*.jpg|");

// One more than a name may have, so that the sixth character can be typed and then refused
// with a message instead of silently swallowed.
constexpr int kTypingLimit = 6;
constexpr int kLongestName = 5;

// The typing limit of a name field. QLineEdit's own limit cuts a longer text the moment it is
// set, and a stored name longer than the limit must show whole: so the limit is the longer of
// the two. It depends on nothing typed since, because undo and redo bring back texts without
// asking the validator, and a text it would then call invalid lets the next edit through unchecked.
class TypingLimit : public QValidator {
public:
    TypingLimit(QLineEdit* field, int limit) : QValidator(field), m_limit(qMax<qsizetype>(limit, field->text().size())) {}

    State validate(QString& input, int&) const override { return input.size() > m_limit ? Invalid : Acceptable; }

private:
    qsizetype m_limit;
};

void limitTyping(QLineEdit* field, int limit)
{
    field->setValidator(new TypingLimit(field, limit));
}

bool isEnter(const QKeyEvent* key)
{
    return key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
}
} // namespace

SETTING_FRM::SETTING_FRM(state::Module1& module, QWidget* parent) : QDialog(parent), m_module(module)
{
    setObjectName(QStringLiteral("SETTING_FRM"));
    setWindowTitle(kCaption);
    platform::makeFixedDialog(this, 418, 184);

    SEC_PICT = platform::control<platform::PictureBox>(this, "SEC_PICT", 8, 8, 104, 104);

    Frame1 = platform::control<QGroupBox>(this, "Frame1", 120, 8, 289, 113);
    Frame1->setTitle(kFrame);

    Label1 = platform::control<QLabel>(Frame1, "Label1", 16, 32, 81, 17);
    Label1->setText(kSecNameCaption);
    S_NAME_TEXT = platform::control<QLineEdit>(Frame1, "S_NAME_TEXT", 120, 32, 153, 18);
    Label1->setBuddy(S_NAME_TEXT);

    Label2 = platform::control<QLabel>(Frame1, "Label2", 16, 72, 89, 17);
    Label2->setText(kMyNameCaption);
    M_NAME_TEXT = platform::control<QLineEdit>(Frame1, "M_NAME_TEXT", 120, 72, 153, 18);
    Label2->setBuddy(M_NAME_TEXT);

    auto button = [this](const char* name, const QString& text, int left, int top, int width,
                         void (SETTING_FRM::*handler)()) {
        auto* b = platform::control<QPushButton>(this, name, left, top, width, 25);
        b->setText(text);
        // No button is ever the window's default, not even drawn as one: Enter presses only
        // the button that has the focus (the event filter below).
        b->setAutoDefault(false);
        b->installEventFilter(this);
        connect(b, &QPushButton::clicked, this, handler);
        return b;
    };
    CMD_PICTURE = button("CMD_PICTURE", kPicture, 8, 120, 105, &SETTING_FRM::CMD_PICTURE_Click);
    CMD_REDO = button("CMD_REDO", kRedo, 8, 152, 105, &SETTING_FRM::CMD_REDO_Click);
    CMD_UPDATE = button("CMD_UPDATE", kUpdate, 208, 152, 89, &SETTING_FRM::CMD_UPDATE_Click);
    CMD_CANCEL = button("CMD_CANCEL", kCancel, 320, 152, 89, &SETTING_FRM::CMD_CANCEL_Click);

    // The user's name comes before the secretary's in the Tab order, although Enter leads the
    // other way: that is how the window has always behaved.
    setTabOrder(CMD_PICTURE, CMD_UPDATE);
    setTabOrder(CMD_UPDATE, CMD_CANCEL);
    setTabOrder(CMD_CANCEL, CMD_REDO);
    setTabOrder(CMD_REDO, M_NAME_TEXT);
    setTabOrder(M_NAME_TEXT, S_NAME_TEXT);
    setTabOrder(S_NAME_TEXT, CMD_PICTURE);

    S_NAME_TEXT->installEventFilter(this);
    M_NAME_TEXT->installEventFilter(this);
}

bool SETTING_FRM::prepare()
{
    S_NAME_TEXT->setText(m_module.SEC_NAME_STR);
    limitTyping(S_NAME_TEXT, kTypingLimit);
    M_NAME_TEXT->setText(m_module.MY_NAME_STR);
    limitTyping(M_NAME_TEXT, kTypingLimit);
    // The file may have gone since start-up found it. The window is still useful without it,
    // so the picture area just stays empty.
    try {
        SEC_PICT->load(m_module.SEC_PIC_PATH);
    } catch (const platform::Failure&) {
    }
    CMD_PICTURE->setFocus();
    return true;
}

bool SETTING_FRM::checkName(const QString& text, const QString& emptyPrompt)
{
    if (state::trimBlanks(text).isEmpty()) {
        platform::showWarning(this, emptyPrompt, kErrorTitle);
        return false;
    }
    if (text.size() > kLongestName) {
        platform::showWarning(this, kTooLong, kErrorTitle);
        return false;
    }
    return true;
}

bool SETTING_FRM::CheckSecName()
{
    return checkName(S_NAME_TEXT->text(), kSecNameEmpty);
}

bool SETTING_FRM::CheckMyName()
{
    return checkName(M_NAME_TEXT->text(), kMyNameEmpty);
}

bool SETTING_FRM::eventFilter(QObject* watched, QEvent* event)
{
    const bool freshEnter = m_enterStrokes.isFreshPress(event, Qt::Key_Return)
                            || m_enterStrokes.isFreshPress(event, Qt::Key_Enter);
    if (event->type() != QEvent::KeyPress || !isEnter(static_cast<QKeyEvent*>(event)))
        return QDialog::eventFilter(watched, event);
    // Taken here, or the dialog would hand the same press on to whichever button the focus
    // has just been moved to; a held Enter acts once.
    if (auto* field = qobject_cast<QLineEdit*>(watched); field && freshEnter)
        nameEntered(field);
    else if (auto* button = qobject_cast<QPushButton*>(watched); button && freshEnter)
        button->click();
    return true;
}

void SETTING_FRM::nameEntered(QLineEdit* field)
{
    if (field == S_NAME_TEXT) {
        if (CheckSecName())
            M_NAME_TEXT->setFocus(Qt::TabFocusReason);
    } else if (CheckMyName()) {
        CMD_UPDATE->setFocus(Qt::TabFocusReason);
    }
}

void SETTING_FRM::keyPressEvent(QKeyEvent* event)
{
    // No cancel button either: Escape does not close the window.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void SETTING_FRM::CMD_PICTURE_Click()
{
    const std::optional<QString> chosen = platform::openFileDialog(this, {kPictureFilter, 1, true});
    if (!chosen)
        return;
    if (!platform::isOrdinaryFile(*chosen)) {
        platform::showWarning(this, kNoSuchPicture, kErrorTitle);
        return;
    }
    // A file that is not a picture changes nothing and says nothing.
    try {
        SEC_PICT->load(*chosen);
    } catch (const platform::Failure&) {
        return;
    }
    m_module.SEC_PIC_PATH = *chosen;
}

void SETTING_FRM::CMD_REDO_Click()
{
    // The path goes back even when the default picture cannot be read, so that the next update
    // stores the default rather than a picture the user just asked to leave.
    m_module.SEC_PIC_PATH = state::defaultPicturePath();
    platform::reported(this, [this] { SEC_PICT->load(m_module.SEC_PIC_PATH); });
}

void SETTING_FRM::CMD_UPDATE_Click()
{
    if (!CheckSecName() || !CheckMyName())
        return;
    const QString secName = S_NAME_TEXT->text();
    const QString myName = M_NAME_TEXT->text();
    // The names take effect only once stored, so the program never shows a name the store
    // does not hold.
    const bool stored = platform::reported(this, [&] {
        state::writeSettings({{state::kSecName, secName}, {state::kMyName, myName}, {state::kSecPic, m_module.SEC_PIC_PATH}});
    }, kInternalError, platform::MsgIcon::Critical);
    if (!stored)
        return;
    m_module.SEC_NAME_STR = secName;
    m_module.MY_NAME_STR = myName;
    accept();
}

void SETTING_FRM::CMD_CANCEL_Click()
{
    reject();
}
