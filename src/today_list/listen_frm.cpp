#include "today_list/listen_frm.h"

LISTEN_FRM::LISTEN_FRM(state::Module1& module, QWidget* parent) : QDialog(parent), m_module(module)
{
    setObjectName(QStringLiteral("LISTEN_FRM"));
}

bool LISTEN_FRM::prepare()
{
    return false;
}
