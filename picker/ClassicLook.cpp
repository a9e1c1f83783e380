#include "ClassicLook.h"

#include <QFontDatabase>
#include <QStyle>
#include <QWidget>

namespace {

bool hasBoldFace(const QString& family) {
    if (!QFontDatabase::hasFamily(family))
        return false;
    const QStringList styles = QFontDatabase::styles(family);
    for (const QString& style : styles) {
        if (QFontDatabase::bold(family, style))
            return true;
    }
    return false;
}

QFont sans(qreal pointSize, bool bold) {
    QFont font(ClassicLook::sansFamily());
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    return font;
}

} // namespace

namespace ClassicLook {

QString sansFamily() {
    for (const char* family : {"MS Sans Serif", "Liberation Sans", "DejaVu Sans"}) {
        if (hasBoldFace(QString::fromLatin1(family)))
            return QString::fromLatin1(family);
    }
    return QFont().defaultFamily();
}

QFont windowFont() {
    return sans(8.25, true);
}

QFont frameFont() {
    return sans(9.75, true);
}

QFont dialogFont() {
    return sans(8.25, false);
}

void applyWindowsStyle(QWidget* widget, QStyle* style) {
    if (style == nullptr)
        return;
    widget->setStyle(style);
    const auto children = widget->findChildren<QWidget*>();
    for (QWidget* child : children)
        child->setStyle(style);
}

} // namespace ClassicLook
