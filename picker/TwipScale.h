#pragma once

#include <QRect>
#include <QSize>

// Converts the window's design units (twips, 1440 to the inch) into pixels at the screen's logical DPI.
class TwipScale {
public:
    TwipScale(int logicalDpiX, int logicalDpiY);

    int x(int twips) const;
    int y(int twips) const;
    QRect rect(int left, int top, int width, int height) const;
    QSize size(int width, int height) const;

private:
    int m_dpiX;
    int m_dpiY;
};
