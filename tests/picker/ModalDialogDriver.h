#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>

class frmDirPicker;

// Stands in for the user of the modal folder picker: it waits until the dialog is the active modal
// window, then runs an action on it from inside the modal loop. A dialog that stays open after the action
// is cancelled after a while, so that a fault fails the test instead of hanging it.
class ModalDialogDriver : public QObject {
    Q_OBJECT
public:
    using Action = std::function<void(frmDirPicker& dialog)>;

    explicit ModalDialogDriver(QObject* parent = nullptr);

    // Arms the driver for the next modal showing of the dialog.
    void actWhenShown(Action action, int timeoutMs = 5000);

    bool acted() const { return acted_; }
    // Set when the dialog was still open timeoutMs after the action and had to be closed by force.
    bool leftOpen() const { return leftOpen_; }

private:
    void poll();

    Action action_;
    QTimer poller_;
    int waitedMs_ = 0;
    int timeoutMs_ = 0;
    bool acted_ = false;
    bool leftOpen_ = false;
};
