#include "about/ver_frm.h"

#include "platform/window_style.h"

#include <QIcon>
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

    Picture1 = new QLabel(this);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Picture1->setPixmap(QIcon(QStringLiteral(":/icon.png")).pixmap(32, 32));
    platform::place(Picture1, 16, 8, 32, 32);

    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setFont(platform::msPGothic(15.75, true));
    platform::place(Label1, 72, 16, 89, 21);
    platform::setLabelText(Label1, kName);

    Label2 = new QLabel(kVersion, this);
    Label2->setObjectName(QStringLiteral("Label2"));
    platform::place(Label2, 184, 40, 49, 17);

    Label3 = new QLabel(kCredit, this);
    Label3->setObjectName(QStringLiteral("Label3"));
    platform::place(Label3, 80, 56, 169, 17);

    Command1 = new QPushButton(kOk, this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setDefault(false);
    platform::place(Command1, 168, 80, 81, 25);
    connect(Command1, &QPushButton::clicked, this, &QDialog::accept);
    Command1->setFocus();
}
