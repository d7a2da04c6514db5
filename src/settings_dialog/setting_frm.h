#pragma once

#include "state/module1.h"

#include <QDialog>

class SETTING_FRM : public QDialog {
    Q_OBJECT
public:
    SETTING_FRM(state::Module1& module, QWidget* parent = nullptr);

    // Runs the opening steps before the window is first shown. False when the window closed
    // itself during them and must not be shown.
    bool prepare();

private:
    state::Module1& m_module;
};
