#include "plan_entry/plan_frm.h"

PLAN_FRM::PLAN_FRM(state::Module1& module, QWidget* parent) : QDialog(parent), m_module(module)
{
    setObjectName(QStringLiteral("PLAN_FRM"));
}

bool PLAN_FRM::prepare()
{
    return false;
}
