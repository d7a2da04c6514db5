#pragma once

#include <QImage>
#include <QObject>

class QAction;
class QMenu;
class QSystemTrayIcon;
class QWidget;

// The secretary that stays when its window is closed: a choice in the Tools menu, kept in the
// settings store, and while it is on an icon in the desktop's system tray with today's count and
// a menu of its own. Where the desktop has no tray the choice is greyed and never applies, so a
// closed window can always be found again.
class ResidentTray : public QObject {
    Q_OBJECT
public:
    explicit ResidentTray(QWidget* window);

    // Adds the choice to menu; its mark and whether it can be chosen are read each time the menu opens.
    void addChoice(QMenu* menu);
    // What the icon shows: today's count in its tool tip, the secretary's picture as the icon.
    void showToday(int count, const QImage& picture);
    // Whether closing the window only hides it: the choice is on, a tray shows the icon, and
    // neither the exit command nor the end of the desktop session asked for the end.
    bool staysOnClose() const;
    // The exit command: the icon goes, and closing the window ends the program from now on.
    void leave();

signals:
    void showRequested();
    void entryRequested();
    void exitRequested();

private:
    bool resident() const;
    void follow();
    void choose(bool on);
    void command(void (ResidentTray::*request)());

    QWidget* m_window;
    QAction* m_choice = nullptr;
    QSystemTrayIcon* m_icon = nullptr;
    QMenu* m_menu = nullptr;
    bool m_leaving = false;
    int m_count = 0;
    QImage m_picture;
};
