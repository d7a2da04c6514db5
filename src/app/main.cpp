#include "main_window/main_frm.h"
#include "platform/single_instance.h"
#include "platform/window_style.h"
#include "state/module1.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("MERIDOCAL"));
    // Lets the desktop match the windows to the installed entry and its icon.
    QApplication::setDesktopFileName(QStringLiteral("io.github.meridocal.Meridocal"));
    // A second start on the same sec.mdb only brings the running secretary to the front.
    platform::SingleInstance instance;
    if (!instance.claim(state::databaseLocation()))
        return 0;
    platform::installJapaneseEnvironment(app);

    state::Module1 module;
    MAIN_FRM window(module);
    QObject::connect(&instance, &platform::SingleInstance::activationRequested, &window, &MAIN_FRM::bringToFront);
    window.start();
    return QApplication::exec();
}
