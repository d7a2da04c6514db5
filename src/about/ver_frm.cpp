#include "about/ver_frm.h"

#include "platform/window_style.h"

#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

namespace {
const QString kCaption = QStringLiteral("ミルドカのﾊﾞｰｼﾞｮﾝ情報");
const QString kName = QStringLiteral("ミルドカ");
const QString kVersion = QStringLiteral("Ver 2.00");
const QString kCredit = QStringLiteral("制作：ミルドカ開発チーム");
const QString kOk = QStringLiteral("OK");
} // namespace

VER_FRM::VER_FRM(state::Module1&, QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("VER_FRM"));
    setWindowTitle(kCaption);
    platform::makeFixedDialog(this, 267, 111);

    Picture1 = platform::control<QLabel>(this, "Picture1", 16, 8, 32, 32);
    Picture1->setPixmap(QIcon(QStringLiteral(":/icon.png")).pixmap(32, 32));

    Label1 = platform::control<QLabel>(this, "Label1", 72, 16, 89, 21);
    Label1->setFont(platform::msPGothic(15.75, true));
    platform::setLabelText(Label1, kName);

    Label2 = platform::control<QLabel>(this, "Label2", 184, 40, 49, 17);
    Label2->setText(kVersion);

    Label3 = platform::control<QLabel>(this, "Label3", 80, 56, 169, 17);
    Label3->setText(kCredit);

    Command1 = platform::control<QPushButton>(this, "Command1", 168, 80, 81, 25);
    Command1->setText(kOk);
    Command1->setDefault(false);
    connect(Command1, &QPushButton::clicked, this, &QDialog::accept);
    Command1->setFocus();
}

void VER_FRM::keyPressEvent(QKeyEvent* event)
{
    // OK is not the cancel button: Escape closes nothing, as in the other windows.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
