#pragma once

#include <cstdint>
#include <string>

class QWidget;

// Every message box of the window goes through this seam, so that tests can record what the user
// would have been shown instead of blocking on a modal dialog.
class MessageBoxSeam {
public:
    // Message-box styles the program uses.
    static constexpr int32_t StyleExclamation = 48;
    static constexpr int32_t StyleInformation = 64;
    static constexpr int32_t StyleQuestion = 32;
    // Added to a question's style: No, not Yes, is the button that Enter presses.
    static constexpr int32_t StyleDefaultNo = 256;

    virtual ~MessageBoxSeam() = default;

    // Shows one modal box with a single OK button and returns when it has been closed.
    virtual void ShowMessage(QWidget* owner, const std::string& text, const std::string& title,
                             int32_t style) = 0;

    // Shows one modal box with Yes and No buttons and returns true when Yes was pressed.
    virtual bool AskYesNo(QWidget* owner, const std::string& text, const std::string& title,
                          int32_t style) = 0;
};
