#include "main_window/main_frm.h"
#include "platform/window_style.h"
#include "state/module1.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("MERIDOCAL"));
    platform::installJapaneseEnvironment(app);

    state::Module1 module;
    MAIN_FRM window(module);
    window.start();
    return QApplication::exec();
}
