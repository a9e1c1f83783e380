#include "MessageBoxRecorder.h"

#include "LogText.h"

void MessageBoxRecorder::ShowMessage(QWidget*, const std::string& text, const std::string& title,
                                     int32_t style) {
    Box box{LogText::fromBytes(text), LogText::fromBytes(title), style};
    m_boxes.append(box);
    if (m_whileOpen)
        m_whileOpen(box);
}

bool MessageBoxRecorder::AskYesNo(QWidget* owner, const std::string& text, const std::string& title,
                                  int32_t style) {
    ShowMessage(owner, text, title, style);
    return m_answerYes;
}

MessageBoxRecorder::Box MessageBoxRecorder::last() const {
    return m_boxes.isEmpty() ? Box() : m_boxes.last();
}
