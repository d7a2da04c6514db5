#include "settings_dialog/setting_frm.h"

SETTING_FRM::SETTING_FRM(state::Module1& module, QWidget* parent) : QDialog(parent), m_module(module)
{
    setObjectName(QStringLiteral("SETTING_FRM"));
}

bool SETTING_FRM::prepare()
{
    return false;
}
