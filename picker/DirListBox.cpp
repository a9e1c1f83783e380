#include "DirListBox.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QStyle>
#include <algorithm>
#include <filesystem>
#include <system_error>

namespace {

// Names of the folders directly inside folder; a listing that fails gives the system's reason instead.
int32_t listSubfolders(const QString& folder, QStringList& names, QString& reason) {
    const std::filesystem::path where(QFile::encodeName(folder).toStdString());
    std::error_code error;
    if (!std::filesystem::is_directory(where, error)) {
        reason = QString::fromLocal8Bit(
            (error ? error : std::make_error_code(std::errc::not_a_directory)).message());
        return -1;
    }
    std::filesystem::directory_iterator entry(where, error);
    for (; !error && entry != std::filesystem::directory_iterator(); entry.increment(error)) {
        std::error_code entryError;
        // A link to a folder is a folder to browse; an entry that vanished meanwhile is simply left out.
        if (entry->is_directory(entryError))
            names.append(QFile::decodeName(entry->path().filename().c_str()));
    }
    if (error) {
        reason = QString::fromLocal8Bit(error.message());
        return -1;
    }
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        const int byName = a.compare(b, Qt::CaseInsensitive);
        return byName != 0 ? byName < 0 : a < b;
    });
    return 0;
}

} // namespace

DirListBox::DirListBox(QWidget* parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformItemSizes(true);
    connect(this, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* item) { openRow(row(item)); });
}

int32_t DirListBox::setPath(const QString& folder, QString& reason) {
    const QString absolute = QDir::cleanPath(QDir(folder).absolutePath());
    QStringList subfolders;
    if (listSubfolders(absolute, subfolders, reason) < 0)
        return -1;
    fill(absolute, subfolders);
    emit pathChanged();
    return 0;
}

void DirListBox::openRow(int row) {
    const QListWidgetItem* entry = item(row);
    if (entry == nullptr)
        return;
    const QString folder = entry->data(PathRole).toString();
    QString reason;
    if (setPath(folder, reason) < 0)
        emit openFailed(folder, reason);
}

void DirListBox::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        // Enter opens the folder; the dialog must not take it as a press of its default button.
        openRow(currentRow());
        event->accept();
        return;
    }
    QListWidget::keyPressEvent(event);
}

QStringList DirListBox::ancestorsOf(const QString& folder) {
    QStringList chain{QStringLiteral("/")};
    QString walked;
    for (const QString& name : folder.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        walked += QLatin1Char('/') + name;
        chain.append(walked);
    }
    return chain;
}

void DirListBox::fill(const QString& folder, const QStringList& subfolderNames) {
    setUpdatesEnabled(false);
    clear();
    const QStringList chain = ancestorsOf(folder);
    const QIcon openIcon = style()->standardIcon(QStyle::SP_DirOpenIcon);
    for (int depth = 0; depth < chain.size(); ++depth) {
        const QString name = depth == 0 ? chain[0] : chain[depth].section(QLatin1Char('/'), -1);
        addEntry(chain[depth], name, depth, openIcon);
    }
    const QString prefix = folder == QLatin1String("/") ? folder : folder + QLatin1Char('/');
    const QIcon closedIcon = style()->standardIcon(QStyle::SP_DirClosedIcon);
    for (const QString& name : subfolderNames)
        addEntry(prefix + name, name, static_cast<int>(chain.size()), closedIcon);
    path_ = folder;
    currentFolderRow_ = static_cast<int>(chain.size()) - 1;
    setCurrentRow(currentFolderRow_);
    scrollToItem(item(currentFolderRow_));
    setUpdatesEnabled(true);
}

void DirListBox::addEntry(const QString& folder, const QString& name, int depth, const QIcon& icon) {
    auto* entry = new QListWidgetItem(icon, QString(depth * 2, QLatin1Char(' ')) + name);
    entry->setData(PathRole, folder);
    addItem(entry);
}
