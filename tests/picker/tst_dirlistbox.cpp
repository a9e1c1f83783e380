#include "DirListBox.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

// The folder list on its own: what it shows for a path, and how the user opens entries.
class TestDirListBox : public QObject {
    Q_OBJECT
private slots:
    void init();
    void showsAncestorsThenFolderThenSortedSubfolders();
    void rootHasOnlyItselfAsAncestor();
    void pathIsCleanedAndAbsolute_data();
    void pathIsCleanedAndAbsolute();
    void missingOrNonFolderPathChangesNothing_data();
    void missingOrNonFolderPathChangesNothing();
    void settingTheSamePathAnnouncesItAgain();
    void doubleClickOpensEntry();
    void enterOpensEntryAndIsConsumed_data();
    void enterOpensEntryAndIsConsumed();
    void openingAnAncestorGoesUp();
    void openingAVanishedFolderSaysWhyAndStays();
    void manySubfoldersAreAllListed();

private:
    QStringList shownPaths() const;
    int rowOf(const QString& folder) const;

    QTemporaryDir temp_;
    QString base_;
    std::unique_ptr<DirListBox> list_;
};

void TestDirListBox::init() {
    QVERIFY(temp_.isValid());
    base_ = QDir::cleanPath(temp_.path()) + "/case";
    QDir(base_).removeRecursively();
    QDir dir;
    for (const char* name : {"b", "A", "c", ".hidden", "a2/deeper"})
        QVERIFY(dir.mkpath(base_ + "/" + name));
    QFile plain(base_ + "/file.txt");
    QVERIFY(plain.open(QIODevice::WriteOnly));
    QVERIFY(QFile::link(base_ + "/c", base_ + "/link-to-c"));
    QVERIFY(QFile::link(base_ + "/nowhere", base_ + "/broken-link"));
    list_ = std::make_unique<DirListBox>();
}

QStringList TestDirListBox::shownPaths() const {
    QStringList paths;
    for (int row = 0; row < list_->count(); ++row)
        paths << list_->item(row)->data(DirListBox::PathRole).toString();
    return paths;
}

int TestDirListBox::rowOf(const QString& folder) const {
    return static_cast<int>(shownPaths().indexOf(folder));
}

void TestDirListBox::showsAncestorsThenFolderThenSortedSubfolders() {
    QString reason;
    QCOMPARE(list_->setPath(base_, reason), 0);
    QStringList expected{"/"};
    QString walked;
    for (const QString& name : base_.split('/', Qt::SkipEmptyParts))
        expected << (walked += "/" + name);
    const int folderRow = static_cast<int>(expected.size()) - 1;
    for (const char* name : {".hidden", "A", "a2", "b", "c", "link-to-c"})
        expected << base_ + "/" + name;
    QCOMPARE(shownPaths(), expected);
    QCOMPARE(list_->path(), base_);
    QCOMPARE(list_->currentFolderRow(), folderRow);
    QCOMPARE(list_->currentRow(), folderRow);
    // Deeper entries are indented further and show only their own name.
    QCOMPARE(list_->item(folderRow + 1)->text().trimmed(), QString(".hidden"));
    QVERIFY(list_->item(folderRow + 1)->text().indexOf('.') > list_->item(folderRow)->text().indexOf('c'));
}

void TestDirListBox::rootHasOnlyItselfAsAncestor() {
    QString reason;
    QCOMPARE(list_->setPath("/", reason), 0);
    QCOMPARE(list_->path(), QString("/"));
    QCOMPARE(list_->currentFolderRow(), 0);
    QCOMPARE(shownPaths().first(), QString("/"));
    QVERIFY(shownPaths().contains("/tmp"));
    QCOMPARE(shownPaths().count("/"), 1);
}

void TestDirListBox::pathIsCleanedAndAbsolute_data() {
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("shown");
    QTest::newRow("trailing slash") << "%1/b/"
                                    << "%1/b";
    QTest::newRow("dot and dot-dot") << "%1/./b/../c"
                                     << "%1/c";
    QTest::newRow("double slash") << "%1//a2"
                                  << "%1/a2";
    QTest::newRow("link kept as named") << "%1/link-to-c"
                                        << "%1/link-to-c";
}

void TestDirListBox::pathIsCleanedAndAbsolute() {
    QFETCH(QString, given);
    QFETCH(QString, shown);
    QString reason;
    QCOMPARE(list_->setPath(given.arg(base_), reason), 0);
    QCOMPARE(list_->path(), shown.arg(base_));
}

void TestDirListBox::missingOrNonFolderPathChangesNothing_data() {
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing") << "%1/missing"
                             << "No such file or directory";
    QTest::newRow("file") << "%1/file.txt"
                          << "Not a directory";
    QTest::newRow("broken link") << "%1/broken-link"
                                 << "No such file or directory";
}

void TestDirListBox::missingOrNonFolderPathChangesNothing() {
    QFETCH(QString, given);
    QFETCH(QString, reason);
    QString ignored;
    QCOMPARE(list_->setPath(base_ + "/b", ignored), 0);
    const QStringList before = shownPaths();
    QSignalSpy changed(list_.get(), &DirListBox::pathChanged);
    QString why;
    QCOMPARE(list_->setPath(given.arg(base_), why), -1);
    QCOMPARE(why, reason);
    QCOMPARE(changed.count(), 0);
    QCOMPARE(list_->path(), base_ + "/b");
    QCOMPARE(shownPaths(), before);
}

void TestDirListBox::settingTheSamePathAnnouncesItAgain() {
    QString reason;
    QSignalSpy changed(list_.get(), &DirListBox::pathChanged);
    QCOMPARE(list_->setPath(base_, reason), 0);
    QCOMPARE(list_->setPath(base_, reason), 0);
    QCOMPARE(changed.count(), 2);
}

void TestDirListBox::doubleClickOpensEntry() {
    QString reason;
    QCOMPARE(list_->setPath(base_, reason), 0);
    list_->resize(300, 2000);
    list_->show();
    QVERIFY(QTest::qWaitForWindowExposed(list_.get()));
    QSignalSpy changed(list_.get(), &DirListBox::pathChanged);
    const int row = rowOf(base_ + "/a2");
    QVERIFY(row > 0);
    const QRect where = list_->visualItemRect(list_->item(row));
    QTest::mouseClick(list_->viewport(), Qt::LeftButton, {}, where.center());
    QCOMPARE(list_->path(), base_); // one click only selects
    QTest::mouseDClick(list_->viewport(), Qt::LeftButton, {}, where.center());
    QCOMPARE(list_->path(), base_ + "/a2");
    QCOMPARE(changed.count(), 1);
    QVERIFY(shownPaths().contains(base_ + "/a2/deeper"));
}

void TestDirListBox::enterOpensEntryAndIsConsumed_data() {
    QTest::addColumn<int>("key");
    QTest::newRow("Return") << int(Qt::Key_Return);
    QTest::newRow("Enter") << int(Qt::Key_Enter);
}

void TestDirListBox::enterOpensEntryAndIsConsumed() {
    QFETCH(int, key);
    QString reason;
    QCOMPARE(list_->setPath(base_, reason), 0);
    list_->setCurrentRow(rowOf(base_ + "/b"));
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QCoreApplication::sendEvent(list_.get(), &press);
    QVERIFY(press.isAccepted());
    QCOMPARE(list_->path(), base_ + "/b");
}

void TestDirListBox::openingAnAncestorGoesUp() {
    QString reason;
    QCOMPARE(list_->setPath(base_ + "/a2/deeper", reason), 0);
    list_->openRow(rowOf(base_));
    QCOMPARE(list_->path(), base_);
    QVERIFY(shownPaths().contains(base_ + "/b"));
}

void TestDirListBox::openingAVanishedFolderSaysWhyAndStays() {
    QString reason;
    QCOMPARE(list_->setPath(base_, reason), 0);
    QVERIFY(QDir(base_ + "/b").removeRecursively());
    QSignalSpy failed(list_.get(), &DirListBox::openFailed);
    QSignalSpy changed(list_.get(), &DirListBox::pathChanged);
    list_->openRow(rowOf(base_ + "/b"));
    QCOMPARE(failed.count(), 1);
    QCOMPARE(failed.at(0).at(0).toString(), base_ + "/b");
    QCOMPARE(failed.at(0).at(1).toString(), QString("No such file or directory"));
    QCOMPARE(changed.count(), 0);
    QCOMPARE(list_->path(), base_);
}

void TestDirListBox::manySubfoldersAreAllListed() {
    const QString crowded = base_ + "/crowded";
    QDir dir;
    for (int i = 0; i < 1000; ++i)
        QVERIFY(dir.mkpath(crowded + QString("/m%1").arg(i, 5, 10, QChar('0'))));
    QString reason;
    QCOMPARE(list_->setPath(crowded, reason), 0);
    QCOMPARE(list_->count() - list_->currentFolderRow() - 1, 1000);
    QCOMPARE(shownPaths().last(), crowded + "/m00999");
}

QTEST_MAIN(TestDirListBox)
#include "tst_dirlistbox.moc"
