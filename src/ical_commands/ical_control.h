#pragma once

#include <QObject>

class QMenu;
class QWidget;
namespace state {
class Module1;
}

// What the main window does for iCalendar files: the two commands of the tools menu, with the
// file dialog and the boxes that say what came of them.
class IcalControl : public QObject {
    Q_OBJECT
public:
    IcalControl(state::Module1& module, QWidget* window);

    // "iCalendar 書き出し(&E)…" and "iCalendar 読み込み(&I)…".
    void addCommands(QMenu* menu);

signals:
    // An import added appointments.
    void rowsChanged();

private:
    void exportFile();
    void importFile();

    state::Module1& m_module;
    QWidget* m_window;
};
