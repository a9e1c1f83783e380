#pragma once

#include <QString>
#include <cstdint>

class QWidget;

// Outcomes of DoSelectDir; they equal the standard OK and Cancel dialog results.
inline constexpr int32_t DirPickerChosen = 1;
inline constexpr int32_t DirPickerCancelled = 2;

// Lets the user choose a local folder in the modal "Client Directory" dialog, owned by frmParent.
// On entry ResultString names the folder to start in (the program's folder when it names no existing
// folder). Returns 1 with ResultString replaced by the chosen path, or 2 (cancelled or failed) with
// ResultString left exactly as it was. Failures are reported to the user before returning.
int32_t DoSelectDir(QWidget* frmParent, QString& ResultString);

// The dialog is created on first use and then hidden and reused; the program calls this once at its
// end, while the owner window still exists, to destroy it.
void DestroyDirPicker();

class frmDirPicker;

// The dialog when it has been created and not yet destroyed, otherwise nullptr.
frmDirPicker* ExistingDirPicker();
