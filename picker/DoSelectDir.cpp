#include "DoSelectDir.h"

// Interface first: the dialog itself follows. Until then every call is a cancel, which leaves the
// caller's folder untouched.
int32_t DoSelectDir(QWidget* frmParent, QString& ResultString) {
    (void)frmParent;
    (void)ResultString;
    return DirPickerCancelled;
}

void DestroyDirPicker() {}
