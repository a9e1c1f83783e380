#include "ModalDialogDriver.h"

#include "frmDirPicker.h"

#include <QApplication>

namespace {
constexpr int PollMs = 10;
}

ModalDialogDriver::ModalDialogDriver(QObject* parent) : QObject(parent) {
    poller_.setInterval(PollMs);
    connect(&poller_, &QTimer::timeout, this, &ModalDialogDriver::poll);
}

void ModalDialogDriver::actWhenShown(Action action, int timeoutMs) {
    action_ = std::move(action);
    timeoutMs_ = timeoutMs;
    waitedMs_ = 0;
    acted_ = false;
    leftOpen_ = false;
    poller_.start();
}

void ModalDialogDriver::poll() {
    waitedMs_ += PollMs;
    auto* dialog = qobject_cast<frmDirPicker*>(QApplication::activeModalWidget());
    const bool shown = dialog != nullptr && dialog->isVisible();
    if (!acted_) {
        if (shown) {
            acted_ = true;
            waitedMs_ = 0;
            action_(*dialog);
        } else if (waitedMs_ >= timeoutMs_) {
            poller_.stop();
        }
        return;
    }
    if (!shown) {
        poller_.stop();
    } else if (waitedMs_ >= timeoutMs_) {
        leftOpen_ = true;
        poller_.stop();
        dialog->hide();
    }
}
