#pragma once

#include "MessageBoxSeam.h"

// The program's message boxes: a real, modal QMessageBox with an OK button, or Yes and No.
class QtMessageBox : public MessageBoxSeam {
public:
    void ShowMessage(QWidget* owner, const std::string& text, const std::string& title,
                     int32_t style) override;
    bool AskYesNo(QWidget* owner, const std::string& text, const std::string& title, int32_t style) override;
};
