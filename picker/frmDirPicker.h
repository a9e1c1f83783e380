#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>

class QLabel;
class QLineEdit;
class QPushButton;
class QStyle;
class DirListBox;
class DriveListBox;

// The "Client Directory" dialog: a drive list, a folder list and a text box that holds the path OK
// returns. One instance serves the whole run (see DoSelectDir); it is hidden, not closed, between uses.
class frmDirPicker : public QDialog {
    Q_OBJECT
public:
    explicit frmDirPicker(QWidget* parent = nullptr);

    // 0 when created, 1 after OK, 2 after Cancel; kept between uses. Anything but 1 means no choice.
    int32_t DialogResult = 0;

    // Runs once, right after creation: puts both lists on the program's own folder.
    int32_t Form_Load(QString& reason);

    // Puts the drive list on start's drive and the folder list (and so the text box) on start.
    int32_t ShowStartFolder(const QString& start, QString& reason);

    // Shows the dialog modally, owned by and centred over owner, until OK or Cancel hides it.
    void ShowModalOver(QWidget* owner);

    // The path OK returns: the text box's text, exactly as it stands.
    QString PathText() const;

    void Drive1_Change();
    void Dir1_Change();
    void cmdOK_Click();
    void cmdCancel_Click();

    // Esc and the window's close box both arrive here: they are a Cancel, never a leftover OK.
    void reject() override;

private:
    void createControls();
    void placeControls();
    void reportUnreadableFolder(const QString& folder, const QString& reason);

    QLabel* lblPathName;
    QLineEdit* txtPathName;
    DriveListBox* Drive1;
    DirListBox* Dir1;
    QPushButton* cmdOK;
    QPushButton* cmdCancel;
    QStyle* m_style = nullptr; // the classic Windows look, owned by the dialog
};
