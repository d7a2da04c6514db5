#pragma once

#include "state/module1.h"

#include <QDialog>

class QCheckBox;
class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QPushButton;
namespace platform {
class Http;
}

// Where the calendar to sync with is and who reads it: URL, user name and password, whether to
// sync by itself, a check of the connection. Saving makes sec.mdb ready for sync.
class SyncSettingsDialog : public QDialog {
    Q_OBJECT
public:
    SyncSettingsDialog(state::Module1& module, QWidget* parent = nullptr);

    // Fills the fields from the settings and the keyring. Always true: the window has no
    // opening step that can fail.
    bool prepare();

private:
    void save();
    void checkConnection();

    state::Module1& m_module;
    platform::Http* m_http = nullptr;
    QLineEdit* m_urlEdit = nullptr;
    QLineEdit* m_userEdit = nullptr;
    QLineEdit* m_passwordEdit = nullptr;
    QCheckBox* m_autoCheck = nullptr;
    QLabel* m_keyringLabel = nullptr;
    QPushButton* m_checkButton = nullptr;
    QLabel* m_checkLabel = nullptr;
    QDialogButtonBox* m_buttons = nullptr;
};
