#include "QtMessageBox.h"

#include "LogText.h"

#include <QMessageBox>

namespace {

QMessageBox::Icon iconForStyle(int32_t style) {
    switch (style & 0x70) {
    case 16:
        return QMessageBox::Critical;
    case 32:
        return QMessageBox::Question;
    case MessageBoxSeam::StyleExclamation:
        return QMessageBox::Warning;
    case MessageBoxSeam::StyleInformation:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

} // namespace

void QtMessageBox::ShowMessage(QWidget* owner, const std::string& text, const std::string& title,
                               int32_t style) {
    QMessageBox box(iconForStyle(style), LogText::fromBytes(title), LogText::fromBytes(text), QMessageBox::Ok,
                    owner);
    box.exec();
}

bool QtMessageBox::AskYesNo(QWidget* owner, const std::string& text, const std::string& title,
                            int32_t style) {
    QMessageBox box(iconForStyle(style), LogText::fromBytes(title), LogText::fromBytes(text),
                    QMessageBox::Yes | QMessageBox::No, owner);
    box.setDefaultButton((style & StyleDefaultNo) != 0 ? QMessageBox::No : QMessageBox::Yes);
    // Closing the box by its frame or Escape answers No.
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}
