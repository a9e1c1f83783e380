#pragma once

#include "LogText.h"
#include "MessageBoxSeam.h"

#include <QList>
#include <QString>

#include <functional>

// Stands in for the modal message box in tests: records every box the program would have shown and
// returns at once, as if the user had pressed OK.
class MessageBoxRecorder : public MessageBoxSeam {
public:
    struct Box {
        QString text;
        QString title;
        int32_t style = 0;
    };

    void ShowMessage(QWidget*, const std::string& text, const std::string& title, int32_t style) override {
        m_boxes.append({LogText::fromBytes(text), LogText::fromBytes(title), style});
        if (m_whileOpen)
            m_whileOpen(m_boxes.last());
    }
    // Records the question like any box, runs the while-open action, and gives the set answer.
    bool AskYesNo(QWidget* owner, const std::string& text, const std::string& title, int32_t style) override {
        ShowMessage(owner, text, title, style);
        return m_answerYes;
    }
    // What AskYesNo answers; No until a test says otherwise.
    void setAnswer(bool yes) { m_answerYes = yes; }

    int count() const { return static_cast<int>(m_boxes.size()); }
    // The last box shown; an empty box when there was none.
    Box last() const { return m_boxes.isEmpty() ? Box() : m_boxes.last(); }
    void clear() { m_boxes.clear(); }

    // Runs while a box stands open, before the user presses OK: a test can close the window or press
    // another button there.
    void setWhileOpen(std::function<void(const Box&)> action) { m_whileOpen = std::move(action); }

private:
    QList<Box> m_boxes;
    std::function<void(const Box&)> m_whileOpen;
    bool m_answerYes = false;
};
