#include "about/ver_frm.h"

VER_FRM::VER_FRM(state::Module1& module, QWidget* parent) : QDialog(parent), m_module(module)
{
    setObjectName(QStringLiteral("VER_FRM"));
}

bool VER_FRM::prepare()
{
    return false;
}
