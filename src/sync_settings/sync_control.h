#pragma once

#include "state/module1.h"

#include <QObject>
#include <QTimer>

#include <functional>

class QAction;
class QMenu;
class QWidget;
namespace calsync {
class SyncEngine;
}

// What the main window does for sync: the two commands, the automatic syncs (at start-up, soon
// after each change, every 15 minutes) and the report of each sync. The network work runs in
// the background; the window stays usable all the while.
class SyncControl : public QObject {
    Q_OBJECT
public:
    SyncControl(state::Module1& module, QWidget* window);

    // "同期設定(&Y)…", which runs openSettings, and "今すぐ同期(&N)".
    void addCommands(QMenu* menu, const std::function<void()>& openSettings);
    // Follows the settings: the command enabled when sync is set up and none runs, the
    // automatic syncs on or off.
    void update();
    // Something may have changed here: with automatic sync, a sync follows soon.
    void changed();
    // The window closes: a running sync ends at once.
    void stop();

signals:
    // A sync changed the appointments here.
    void rowsChanged();

private:
    bool ready() const;
    void runAutomatic();
    void run(bool manual);
    void ended();

    state::Module1& m_module;
    QWidget* m_window;
    calsync::SyncEngine* m_engine;
    QAction* m_syncNowAction = nullptr;
    QTimer m_soon;
    QTimer m_every;
    bool m_busy = false;
    bool m_manual = false;
    bool m_again = false;       // a change came while a sync ran
    bool m_declined = false;    // the password was not given this run: automatic syncs do not ask again
    bool m_autoFailing = false; // an automatic sync failed and said so, and none has gone through since
};
