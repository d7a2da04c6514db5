#pragma once

#include "state/module1.h"

#include <QMainWindow>
#include <QPointer>

class DayTurns;
class IcalControl;
class QAction;
class QActionGroup;
class QFrame;
class QLabel;
class QMenu;
class QToolBar;
class Reminders;
class ResidentTray;
class ScheduleWindow;
class SyncControl;
namespace platform {
class PictureBox;
}
namespace store {
struct PLAN_REC;
}

// The start-up window: the secretary's picture, today's date, a greeting, today's count,
// and the menu and tool bar through which every other window is reached.
class MAIN_FRM : public QMainWindow {
    Q_OBJECT
public:
    explicit MAIN_FRM(state::Module1& module, QWidget* parent = nullptr);
    ~MAIN_FRM() override;

    // Start-up, then the window shown centred on the screen, then the first refresh.
    void start();
    // Opens the database, reads the settings, and fills the date, greeting and picture;
    // past appointments are purged. Runs once, before the window is first shown; from then on
    // the greeting and the day follow the clock.
    void startUp();
    // Redraws what the dialogs may have changed: picture, name, today's count and the
    // enabling of the way into today's list, and plans today's reminders anew. Runs after the
    // first show, after each dialog and when the day turns.
    void refresh();

    void mnuConfirm_Click();
    void mnuSche_Click();
    void mnuSet_Click();
    void mnuData_Click();
    void mnuExit_Click();
    void mnuVersion_Click();
    void Toolbar1_ButtonClick(const QString& key);
    // Another start of the program on the same sec.mdb asks this one to come to the front.
    void bringToFront();
    // Opens the appointment of this id in the change form, as the list of all appointments does.
    void openAppointment(qint64 id);

    bool pictureWarningArmed() const { return PICT_DOWN; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    template <class Dialog> void openDialog();
    void buildMenus();
    void buildToolsMenu();
    void buildToolBar();
    void showPicture();
    void setTodayListEnabled(bool enabled);
    void pictureMoved();
    void setDay();
    void showGreeting();
    void catchUpWithDay();
    void planReminders();
    void chooseNotice(QAction* choice);
    void toggleStartAtLogin(bool on);
    void showToolsState();
    void openSchedule();

    state::Module1& m_module;
    SyncControl* m_sync = nullptr;
    IcalControl* m_ical = nullptr;
    bool PICT_DOWN = false;
    bool m_warningShown = false;
    bool m_dayTurnPending = false;
    DayTurns* m_dayTurns = nullptr;
    Reminders* m_reminders = nullptr;
    ResidentTray* m_resident = nullptr;
    QPointer<ScheduleWindow> m_schedule;

    QToolBar* Toolbar1 = nullptr;
    QFrame* Frame1 = nullptr;
    QLabel* DATE_TEXT = nullptr;
    QLabel* NAME_LABEL = nullptr;
    QLabel* GREETING_LABEL = nullptr;
    QLabel* TELL_LABEL = nullptr;
    platform::PictureBox* SEC_PICT = nullptr;

    QMenu* mnuMenu = nullptr;
    QMenu* mnuHelp = nullptr;
    QMenu* m_toolsMenu = nullptr;
    QAction* mnuConfirm = nullptr;
    QAction* mnuSche = nullptr;
    QAction* mnuSet = nullptr;
    QAction* mnuData = nullptr;
    QAction* mnuP1 = nullptr;
    QAction* mnuExit = nullptr;
    QAction* mnuVersion = nullptr;
    QAction* m_listenButton = nullptr;
    QActionGroup* m_noticeChoices = nullptr;
    QAction* m_startAtLogin = nullptr;
};

// The greeting for an hour of the day, 0 to 23.
QString greetingForHour(int hour);
