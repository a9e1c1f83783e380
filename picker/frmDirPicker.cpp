#include "frmDirPicker.h"

#include "ClassicLook.h"
#include "DirListBox.h"
#include "DriveListBox.h"
#include "PickerMessages.h"
#include "ProgramLocation.h"
#include "TwipScale.h"

#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleFactory>

namespace {

QString programFolder() {
    return QFile::decodeName(ProgramLocation::directory().c_str());
}

} // namespace

frmDirPicker::frmDirPicker(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName(QStringLiteral("frmDirPicker"));
    setWindowTitle(QStringLiteral("Client Directory"));
    setWindowIcon(style()->standardIcon(QStyle::SP_DirIcon));
    setModal(true);
    // The owner's bold font must not leak in: the dialog has the window's classic look, regular.
    setFont(ClassicLook::dialogFont());
    createControls();
    placeControls();
    m_style = QStyleFactory::create(QStringLiteral("Windows"));
    if (m_style != nullptr)
        m_style->setParent(this);
    ClassicLook::applyWindowsStyle(this, m_style);
}

void frmDirPicker::createControls() {
    lblPathName = new QLabel(QStringLiteral("Selected Path"), this);
    lblPathName->setObjectName(QStringLiteral("lblPathName"));
    txtPathName = new QLineEdit(this);
    txtPathName->setObjectName(QStringLiteral("txtPathName"));
    Drive1 = new DriveListBox(this);
    Drive1->setObjectName(QStringLiteral("Drive1"));
    Dir1 = new DirListBox(this);
    Dir1->setObjectName(QStringLiteral("Dir1"));
    cmdOK = new QPushButton(QStringLiteral("&OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setDefault(true);
    cmdCancel = new QPushButton(QStringLiteral("&Cancel"), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));

    setTabOrder(txtPathName, Drive1);
    setTabOrder(Drive1, Dir1);
    setTabOrder(Dir1, cmdOK);
    setTabOrder(cmdOK, cmdCancel);

    connect(Drive1, &DriveListBox::driveChanged, this, &frmDirPicker::Drive1_Change);
    connect(Dir1, &DirListBox::pathChanged, this, &frmDirPicker::Dir1_Change);
    connect(Dir1, &DirListBox::openFailed, this, &frmDirPicker::reportUnreadableFolder);
    connect(cmdOK, &QPushButton::clicked, this, &frmDirPicker::cmdOK_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmDirPicker::cmdCancel_Click);
}

void frmDirPicker::placeControls() {
    const TwipScale scale(logicalDpiX(), logicalDpiY());
    const auto place = [&scale](QWidget* control, int left, int top, int width, int height) {
        control->setGeometry(scale.rect(left, top, width, height));
    };
    place(lblPathName, 240, 120, 1005, 195);
    lblPathName->adjustSize();
    place(txtPathName, 240, 360, 3015, 285);
    place(Drive1, 240, 840, 3015, 315);
    place(Dir1, 240, 1200, 3015, 3690);
    place(cmdOK, 240, 5040, 1095, 375);
    place(cmdCancel, 2160, 5040, 1095, 375);
    setFixedSize(scale.size(3510, 5580));
}

int32_t frmDirPicker::Form_Load(QString& reason) {
    Drive1->setDrive(QFile::decodeName(ProgramLocation::driveRoot().c_str()));
    QCoreApplication::processEvents();
    return Dir1->setPath(programFolder(), reason);
}

int32_t frmDirPicker::ShowStartFolder(const QString& start, QString& reason) {
    Drive1->setDrive(start);
    return Dir1->setPath(start, reason);
}

void frmDirPicker::ShowModalOver(QWidget* owner) {
    if (parentWidget() != owner)
        setParent(owner, windowFlags());
    // Not marked as placed, so that every showing centres the dialog over its owner again.
    setAttribute(Qt::WA_Moved, false);
    exec();
}

QString frmDirPicker::PathText() const {
    return txtPathName->text();
}

void frmDirPicker::Drive1_Change() {
    const QString drive = Drive1->drive();
    QString reason;
    if (Dir1->setPath(drive, reason) < 0) {
        Drive1->showDriveQuietly(Dir1->path().isEmpty() ? programFolder() : Dir1->path());
        PickerMessages::showError(this, windowTitle(),
                                  QStringLiteral("The drive %1 cannot be read: %2").arg(drive, reason));
    }
}

void frmDirPicker::Dir1_Change() {
    txtPathName->setText(Dir1->path());
    Drive1->showDriveQuietly(Dir1->path());
}

void frmDirPicker::cmdOK_Click() {
    DialogResult = 1;
    hide();
}

void frmDirPicker::cmdCancel_Click() {
    DialogResult = 2;
    hide();
}

void frmDirPicker::reject() {
    cmdCancel_Click();
}

void frmDirPicker::reportUnreadableFolder(const QString& folder, const QString& reason) {
    PickerMessages::showError(this, windowTitle(),
                              QStringLiteral("The folder %1 cannot be opened: %2").arg(folder, reason));
}
