#pragma once

#include "platform/key_strokes.h"
#include "state/module1.h"

#include <QDialog>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
namespace platform {
class PictureBox;
}

// The secretary settings: the two names, checked and stored only by the update button, and the
// picture, which the picture buttons change at once for the whole program.
class SETTING_FRM : public QDialog {
    Q_OBJECT
public:
    SETTING_FRM(state::Module1& module, QWidget* parent = nullptr);

    // Runs the opening steps before the window is first shown. False when the window closed
    // itself during them and must not be shown.
    bool prepare();

    // The name rules, each on its own field: on a broken rule the rule's message is shown and
    // the result is false. Neither touches the text.
    bool CheckSecName();
    bool CheckMyName();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void CMD_PICTURE_Click();
    void CMD_REDO_Click();
    void CMD_UPDATE_Click();
    void CMD_CANCEL_Click();

    bool checkName(const QString& text, const QString& emptyPrompt);
    void nameEntered(QLineEdit* field);

    state::Module1& m_module;
    platform::KeyStrokes m_enterStrokes;

    platform::PictureBox* SEC_PICT = nullptr;
    QGroupBox* Frame1 = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* S_NAME_TEXT = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* M_NAME_TEXT = nullptr;
    QPushButton* CMD_PICTURE = nullptr;
    QPushButton* CMD_REDO = nullptr;
    QPushButton* CMD_UPDATE = nullptr;
    QPushButton* CMD_CANCEL = nullptr;
};
