#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>

class Kavrel;

// Reading the main window the way a user sees it, for tests.
namespace WindowInspection {

// The lines of the message log, without their CR LF ends.
QStringList logLines(const Kavrel& window);

// The control of that objectName and kind, or null.
template <class Control> Control* control(const QWidget& window, const char* name) {
    return window.findChild<Control*>(QLatin1String(name));
}

} // namespace WindowInspection
