#pragma once

#include <QListWidget>
#include <QString>
#include <QStringList>
#include <cstdint>

// The folder list: the current path's ancestors from the root down, the current folder, then its
// subfolders (hidden ones included, sorted by name regardless of case). Opening an entry, by a double
// click or by Enter, makes it the current path; Enter never reaches the dialog's default button.
class DirListBox : public QListWidget {
    Q_OBJECT
public:
    // Where each entry's folder is kept; the shown text is indented and holds only the last name.
    static constexpr int PathRole = Qt::UserRole;

    explicit DirListBox(QWidget* parent = nullptr);

    // The current path: absolute, without a trailing "/" (except the root itself).
    QString path() const { return path_; }

    // Makes folder (absolute) the current path and announces it through pathChanged, also when it is the
    // path already shown, so that whoever mirrors the path always gets the start folder. A folder that
    // does not exist or cannot be listed leaves everything as it was: -1 and the system's reason.
    int32_t setPath(const QString& folder, QString& reason);

    // The row of the current folder (the last ancestor row).
    int currentFolderRow() const { return currentFolderRow_; }

    // Opens the entry in row as the user would.
    void openRow(int row);

signals:
    void pathChanged();
    // The user tried to open a folder that has gone or cannot be read; the list is unchanged.
    void openFailed(const QString& folder, const QString& reason);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    static QStringList ancestorsOf(const QString& folder);
    void fill(const QString& folder, const QStringList& subfolderNames);
    void addEntry(const QString& folder, const QString& name, int depth, const QIcon& icon);

    QString path_;
    int currentFolderRow_ = -1;
};
