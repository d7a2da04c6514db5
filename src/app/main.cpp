#include "main_window/main_frm.h"
#include "platform/window_style.h"
#include "state/module1.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("MERIDOCAL"));
    // Lets the desktop match the windows to the installed entry and its icon.
    QApplication::setDesktopFileName(QStringLiteral("io.github.meridocal.Meridocal"));
    platform::installJapaneseEnvironment(app);

    state::Module1 module;
    MAIN_FRM window(module);
    window.start();
    return QApplication::exec();
}
