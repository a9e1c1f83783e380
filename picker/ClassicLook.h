#pragma once

#include <QFont>

class QStyle;
class QWidget;

// The look both windows share: the Windows widget style and a small bold sans serif, which keep the
// controls at the sizes the layout gives them on any desktop theme.
namespace ClassicLook {

// The family used for every control: MS Sans Serif where it has a bold face, else a close bold sans.
QString sansFamily();

// 8.25 pt bold: the window's font, inherited by every control.
QFont windowFont();

// 9.75 pt bold: the captions of the four frames.
QFont frameFont();

// 8.25 pt regular in the same family: the folder picker's font.
QFont dialogFont();

// Gives widget and all its children the Windows style (a widget's style does not pass to its children).
void applyWindowsStyle(QWidget* widget, QStyle* style);

} // namespace ClassicLook
