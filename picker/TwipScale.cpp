#include "TwipScale.h"

#include <cmath>

namespace {

constexpr double TwipsPerInch = 1440.0;

int toPixels(int twips, int dpi) {
    return static_cast<int>(std::lround(twips * dpi / TwipsPerInch));
}

} // namespace

TwipScale::TwipScale(int logicalDpiX, int logicalDpiY) : m_dpiX(logicalDpiX), m_dpiY(logicalDpiY) {}

int TwipScale::x(int twips) const {
    return toPixels(twips, m_dpiX);
}

int TwipScale::y(int twips) const {
    return toPixels(twips, m_dpiY);
}

QRect TwipScale::rect(int left, int top, int width, int height) const {
    return QRect(x(left), y(top), x(width), y(height));
}

QSize TwipScale::size(int width, int height) const {
    return QSize(x(width), y(height));
}
