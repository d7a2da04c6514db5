#pragma once

#include "state/module1.h"

#include <QDialog>

class QLabel;
class QPushButton;

// The About box: the program's icon, name, version and a credit line.
class VER_FRM : public QDialog {
    Q_OBJECT
public:
    VER_FRM(state::Module1& module, QWidget* parent = nullptr);

    // Nothing to load: the box only shows its design.
    bool prepare() { return true; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QLabel* Picture1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QPushButton* Command1 = nullptr;
};
