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
    Kavrel window;
    window.Form_Load();
    window.show();
    return QApplication::exec();
}
