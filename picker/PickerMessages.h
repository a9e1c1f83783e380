#pragma once

#include <QString>
#include <functional>

class QWidget;

// Every message box of the folder picker goes through here, so that a test can take the place of the
// user: with a recorder installed no box is shown and the recorder receives the title and text instead.
class PickerMessages {
public:
    using Recorder = std::function<void(const QString& title, const QString& text)>;

    // A modal message box with the error icon, owned by parent.
    static void showError(QWidget* parent, const QString& title, const QString& text);

    // An empty recorder restores the real message boxes.
    static void setRecorder(Recorder recorder);

private:
    static Recorder& recorder();
};
