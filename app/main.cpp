// gridquest: the main window. It has no command line of its own.
#include "Form1.h"
#include "Prompts.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("gridquest"));
    // Lets the desktop match the window to its menu entry and icon (Wayland's app id).
    QGuiApplication::setDesktopFileName(QStringLiteral("example.norvane.Gridquest"));
    gq::DialogPrompts prompts;
    gq::Form1Setup setup;
    setup.prompts = &prompts;
    gq::Form1 window(std::move(setup));
    prompts.setOwner(&window);
    if (!window.formLoad())
        return 1;
    window.show();
    return QApplication::exec();
}
