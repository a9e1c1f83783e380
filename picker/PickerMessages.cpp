#include "PickerMessages.h"

#include <QMessageBox>

void PickerMessages::showError(QWidget* parent, const QString& title, const QString& text) {
    if (recorder()) {
        recorder()(title, text);
        return;
    }
    QMessageBox::critical(parent, title, text);
}

void PickerMessages::setRecorder(Recorder recorder) {
    PickerMessages::recorder() = std::move(recorder);
}

PickerMessages::Recorder& PickerMessages::recorder() {
    static Recorder installed;
    return installed;
}
