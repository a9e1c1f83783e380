#include "Kavrel.h"

#include "settings/StandardDescriptors.h"

#include <QApplication>
#include <QStyleFactory>

int main(int argc, char* argv[]) {
    StandardDescriptors::ensureOpen();
    QApplication application(argc, argv);
    // The folder picker and the message boxes share the window's classic look.
    if (QStyle* windowsStyle = QStyleFactory::create(QStringLiteral("Windows")))
        QApplication::setStyle(windowsStyle);
    // The menu entry kavrel.desktop: desktops that match windows to entries find the icon there.
    QGuiApplication::setDesktopFileName(QStringLiteral("kavrel"));
    Kavrel window;
    // The message boxes and the folder picker show the window's icon too.
    QApplication::setWindowIcon(window.windowIcon());
    window.Form_Load();
    window.show();
    return QApplication::exec();
}
