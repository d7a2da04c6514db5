#include "sync_settings/sync_settings_dialog.h"

#include "platform/failure.h"
#include "platform/http.h"
#include "platform/keyring.h"
#include "platform/message_box.h"
#include "sync/sync_engine.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
const QString kCaption = QStringLiteral("同期設定");
const QString kUrlCaption = QStringLiteral("カレンダーの URL(&U)：");
const QString kUrlHint = QStringLiteral("https://example.com/dav/calendars/user/personal/");
const QString kUserCaption = QStringLiteral("ユーザー名(&N)：");
const QString kPasswordCaption = QStringLiteral("パスワード(&P)：");
const QString kAuto = QStringLiteral("自動で同期する");
const QString kCheck = QStringLiteral("接続確認");
const QString kSave = QStringLiteral("保存");
const QString kCancel = QStringLiteral("キャンセル");
const QString kChecking = QStringLiteral("接続しています…");
const QString kCheckedOk = QStringLiteral("接続できました。このカレンダーと同期できます。");
const QString kNotCalendar = QStringLiteral("この URL はカレンダーではありません。CalDAV のカレンダーの URL を入力してください。");
const QString kCheckFailed = QStringLiteral("接続できません（%1）。");
const QString kNoKeyring = QStringLiteral("このパソコンではキーリング（パスワードの保管庫）が使えません。"
                                          "パスワードはこのプログラムを終了するまでのあいだだけ覚えておき、"
                                          "次に起動したときは最初の同期で尋ねます。");
} // namespace

SyncSettingsDialog::SyncSettingsDialog(state::Module1& module, QWidget* parent)
    : QDialog(parent), m_module(module), m_http(new platform::Http(this))
{
    setObjectName(QStringLiteral("SyncSettingsDialog"));
    setWindowTitle(kCaption);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

    auto makeEdit = [this](const char* name) {
        auto* edit = new QLineEdit(this);
        edit->setObjectName(QLatin1String(name));
        edit->setMinimumWidth(360);
        return edit;
    };
    m_urlEdit = makeEdit("m_urlEdit");
    m_urlEdit->setPlaceholderText(kUrlHint);
    m_userEdit = makeEdit("m_userEdit");
    m_passwordEdit = makeEdit("m_passwordEdit");
    m_passwordEdit->setEchoMode(QLineEdit::Password);
    auto* form = new QFormLayout;
    form->addRow(kUrlCaption, m_urlEdit);
    form->addRow(kUserCaption, m_userEdit);
    form->addRow(kPasswordCaption, m_passwordEdit);

    m_autoCheck = new QCheckBox(kAuto, this);
    m_autoCheck->setObjectName(QStringLiteral("m_autoCheck"));
    m_keyringLabel = new QLabel(this);
    m_keyringLabel->setObjectName(QStringLiteral("m_keyringLabel"));
    m_checkButton = new QPushButton(kCheck, this);
    m_checkButton->setObjectName(QStringLiteral("m_checkButton"));
    m_checkButton->setAutoDefault(false);
    m_checkLabel = new QLabel(this);
    m_checkLabel->setObjectName(QStringLiteral("m_checkLabel"));
    for (QLabel* label : {m_keyringLabel, m_checkLabel}) {
        // The server's words may show here: text, never markup.
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(true);
    }
    auto* checkRow = new QHBoxLayout;
    checkRow->addWidget(m_checkButton);
    checkRow->addWidget(m_checkLabel, 1);

    m_buttons = new QDialogButtonBox(this);
    m_buttons->setObjectName(QStringLiteral("m_buttons"));
    QPushButton* save = m_buttons->addButton(kSave, QDialogButtonBox::AcceptRole);
    save->setObjectName(QStringLiteral("m_saveButton"));
    m_buttons->addButton(kCancel, QDialogButtonBox::RejectRole)->setObjectName(QStringLiteral("m_cancelButton"));

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_autoCheck);
    layout->addLayout(checkRow);
    layout->addWidget(m_keyringLabel);
    layout->addWidget(m_buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(m_buttons, &QDialogButtonBox::accepted, this, &SyncSettingsDialog::save);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_checkButton, &QPushButton::clicked, this, &SyncSettingsDialog::checkConnection);
}

bool SyncSettingsDialog::prepare()
{
    const QString url = state::readSetting(calsync::kSyncUrl);
    const QString user = state::readSetting(calsync::kSyncUser);
    m_urlEdit->setText(url);
    m_userEdit->setText(user);
    m_autoCheck->setChecked(state::readSetting(calsync::kSyncAuto) == QLatin1String("1"));
    m_keyringLabel->hide();
    platform::readPassword(calsync::keyringKey(user, calsync::calendarUrl(url)), this,
                           [this](const platform::KeyringAnswer& answer) {
                               // What the user typed meanwhile stays.
                               if (answer.found && !m_passwordEdit->isModified())
                                   m_passwordEdit->setText(answer.password);
                               m_keyringLabel->setText(kNoKeyring);
                               m_keyringLabel->setVisible(!answer.keyring);
                           });
    return true;
}

void SyncSettingsDialog::save()
{
    if (const QString problem = calsync::urlProblem(m_urlEdit->text()); !problem.isEmpty()) {
        platform::showWarning(this, problem, kCaption);
        m_urlEdit->setFocus();
        return;
    }
    const QUrl url = calsync::calendarUrl(m_urlEdit->text());
    const QString user = m_userEdit->text().trimmed();
    const bool saved = platform::reported(this, [&] {
        calsync::prepareDatabase(m_module.db());
        state::writeSettings({{calsync::kSyncUrl, url.toString()},
                              {calsync::kSyncUser, user},
                              {calsync::kSyncAuto, m_autoCheck->isChecked() ? QStringLiteral("1") : QStringLiteral("0")}});
    }, platform::programTitle(), platform::MsgIcon::Exclamation);
    if (!saved)
        return;
    m_buttons->setEnabled(false);
    // The window closes once the keyring has it, or (without a keyring) the memory of this run.
    platform::writePassword(calsync::keyringKey(user, url), m_passwordEdit->text(), this,
                            [this](const platform::KeyringAnswer&) { accept(); });
}

void SyncSettingsDialog::checkConnection()
{
    if (const QString problem = calsync::urlProblem(m_urlEdit->text()); !problem.isEmpty()) {
        m_checkLabel->setText(problem);
        return;
    }
    const calsync::Account account{calsync::calendarUrl(m_urlEdit->text()), m_userEdit->text().trimmed(),
                                   m_passwordEdit->text()};
    m_checkButton->setEnabled(false);
    m_checkLabel->setText(kChecking);
    m_http->send(calsync::describeCollection(account), [this, account](const platform::HttpReply& reply) {
        m_checkButton->setEnabled(true);
        QString text = kCheckFailed.arg(calsync::problem(reply));
        if (reply.status == 207) {
            try {
                const calsync::Multistatus answer = calsync::readMultistatus(reply.body, account.calendar);
                text = !answer.responses.empty() && answer.responses.front().calendar ? kCheckedOk : kNotCalendar;
            } catch (...) {
                text = kCheckFailed.arg(platform::describeCurrentException());
            }
        }
        m_checkLabel->setText(text);
    });
}
