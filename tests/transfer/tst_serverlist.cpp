#include "ClsVariant.h"
#include "LocalFileSystem.h"
#include "ServerList.h"

#include <QTemporaryDir>
#include <QTest>

#include <filesystem>
#include <memory>
#include <stdexcept>

// The listing collection, its value holder, and the local file operations under them.
class TestServerList : public QObject {
    Q_OBJECT

private slots:
    void variantHoldsEachKind();
    void variantKeepsObjectReference();
    void listIsOneBasedAndOrdered();
    void removeFromFrontMiddleAndBack();
    void positionOutsideRangeThrows_data();
    void positionOutsideRangeThrows();
    void consumingTenThousandFromTheFront();
    void parentFolderName_data();
    void parentFolderName();
    void buildPath_data();
    void buildPath();
    void absolutePathName();
    void readOnlyFileIsNotDeletedWithoutForce();
    void createFolderOverAFileThrows();
    void listingsAreSortedAndSeparated();
};

void TestServerList::variantHoldsEachKind() {
    ClsVariant text(std::string("a.wav"));
    QVERIFY(text.IsText());
    QCOMPARE(QString::fromStdString(text.Text()), QStringLiteral("a.wav"));

    ClsVariant number(int64_t{42});
    QVERIFY(!number.IsText());
    QVERIFY(number.Text().empty());
    QCOMPARE(std::get<int64_t>(number.Value()), int64_t{42});

    number.SetValue(2.5);
    QCOMPARE(std::get<double>(number.Value()), 2.5);
    QVERIFY(std::holds_alternative<std::monostate>(ClsVariant().Value()));
}

void TestServerList::variantKeepsObjectReference() {
    auto object = std::make_shared<int>(7);
    ClsVariant holder;
    holder.SetValue(ClsVariant::Object(object));
    const auto held = std::get<ClsVariant::Object>(holder.Value());
    QCOMPARE(held.get(), static_cast<void*>(object.get()));
    *object = 8;
    QCOMPARE(*static_cast<int*>(held.get()), 8);
}

void TestServerList::listIsOneBasedAndOrdered() {
    ServerList list;
    QCOMPARE(list.Count(), 0);
    for (const char* name : {"a", "b", "c"})
        list.Add(ClsVariant(std::string(name)));
    QCOMPARE(list.Count(), 3);
    QCOMPARE(QString::fromStdString(list.Item(1).Text()), QStringLiteral("a"));
    QCOMPARE(QString::fromStdString(list.Item(3).Text()), QStringLiteral("c"));
    list.Clear();
    QCOMPARE(list.Count(), 0);
}

void TestServerList::removeFromFrontMiddleAndBack() {
    ServerList list;
    for (const char* name : {"a", "b", "c", "d", "e"})
        list.Add(ClsVariant(std::string(name)));
    list.Remove(1);
    list.Remove(2); // "c"
    list.Remove(list.Count());
    QCOMPARE(list.Count(), 2);
    QCOMPARE(QString::fromStdString(list.Item(1).Text()), QStringLiteral("b"));
    QCOMPARE(QString::fromStdString(list.Item(2).Text()), QStringLiteral("d"));
}

void TestServerList::positionOutsideRangeThrows_data() {
    QTest::addColumn<int>("position");
    QTest::newRow("zero") << 0;
    QTest::newRow("negative") << -1;
    QTest::newRow("past the end") << 3;
}

void TestServerList::positionOutsideRangeThrows() {
    QFETCH(int, position);
    ServerList list;
    list.Add(ClsVariant(std::string("a")));
    list.Add(ClsVariant(std::string("b")));
    QVERIFY_THROWS_EXCEPTION(std::out_of_range, list.Item(position));
    QVERIFY_THROWS_EXCEPTION(std::out_of_range, list.Remove(position));
    QCOMPARE(list.Count(), 2);
}

void TestServerList::consumingTenThousandFromTheFront() {
    ServerList list;
    for (int i = 0; i < 10000; ++i)
        list.Add(ClsVariant("f" + std::to_string(i)));
    int expected = 0;
    while (list.Count() > 0) {
        QCOMPARE(list.Item(1).Text(), "f" + std::to_string(expected++));
        list.Remove(1);
    }
    QCOMPARE(expected, 10000);
}

void TestServerList::parentFolderName_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("parent");
    QTest::newRow("root") << "/"
                          << "";
    QTest::newRow("top level") << "/srv"
                               << "/";
    QTest::newRow("nested") << "/srv/backup/DTA"
                            << "/srv/backup";
    QTest::newRow("trailing separator") << "/srv/backup/"
                                        << "/srv";
    QTest::newRow("relative alone") << "DTA"
                                    << "";
    QTest::newRow("empty") << ""
                           << "";
}

void TestServerList::parentFolderName() {
    QFETCH(QString, path);
    QFETCH(QString, parent);
    QCOMPARE(QString::fromStdString(LocalFileSystem().GetParentFolderName(path.toStdString())), parent);
}

void TestServerList::buildPath_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("joined");
    QTest::newRow("plain") << "/srv/backup"
                           << "DTA"
                           << "/srv/backup/DTA";
    QTest::newRow("root") << "/"
                          << "DTA"
                          << "/DTA";
    QTest::newRow("trailing separator") << "/dev/shm/"
                                        << "MBX"
                                        << "/dev/shm/MBX";
}

void TestServerList::buildPath() {
    QFETCH(QString, path);
    QFETCH(QString, name);
    QFETCH(QString, joined);
    QCOMPARE(QString::fromStdString(LocalFileSystem().BuildPath(path.toStdString(), name.toStdString())),
             joined);
}

void TestServerList::absolutePathName() {
    const LocalFileSystem fileSystem;
    const auto current = std::filesystem::current_path().string();
    QCOMPARE(fileSystem.GetAbsolutePathName("a/./b/../c/"), current + "/a/c");
    QCOMPARE(fileSystem.GetAbsolutePathName("/x//y/"), std::string("/x/y"));
    QCOMPARE(fileSystem.GetAbsolutePathName("/"), std::string("/"));
}

void TestServerList::readOnlyFileIsNotDeletedWithoutForce() {
    QTemporaryDir dir;
    const std::string path = dir.filePath("locked.wav").toStdString();
    QVERIFY(QFile(QString::fromStdString(path)).open(QIODevice::WriteOnly));
    std::filesystem::permissions(path, std::filesystem::perms::owner_read);
    const LocalFileSystem fileSystem;
    QVERIFY(fileSystem.IsReadOnly(path));
    try {
        fileSystem.DeleteFile(path);
        QFAIL("a read-only file was deleted without force");
    } catch (const std::filesystem::filesystem_error& error) {
        QCOMPARE(error.code(), std::make_error_code(std::errc::permission_denied));
    }
    QVERIFY(fileSystem.FileExists(path));
    fileSystem.DeleteFile(path, true);
    QVERIFY(!fileSystem.FileExists(path));
}

void TestServerList::createFolderOverAFileThrows() {
    QTemporaryDir dir;
    const std::string path = dir.filePath("taken").toStdString();
    QVERIFY(QFile(QString::fromStdString(path)).open(QIODevice::WriteOnly));
    QVERIFY_THROWS_EXCEPTION(std::filesystem::filesystem_error, LocalFileSystem().CreateFolder(path));
}

void TestServerList::listingsAreSortedAndSeparated() {
    QTemporaryDir dir;
    for (const char* name : {"b.wav", "a.wav", ".hidden"})
        QVERIFY(QFile(dir.filePath(name)).open(QIODevice::WriteOnly));
    QVERIFY(QDir(dir.path()).mkdir("sub2"));
    QVERIFY(QDir(dir.path()).mkdir("sub1"));
    const LocalFileSystem fileSystem;
    const auto files = fileSystem.FileNames(dir.path().toStdString());
    QCOMPARE(files, (std::vector<std::string>{".hidden", "a.wav", "b.wav"}));
    const auto folders = fileSystem.SubFolderNames(dir.path().toStdString());
    QCOMPARE(folders, (std::vector<std::string>{"sub1", "sub2"}));
}

QTEST_GUILESS_MAIN(TestServerList)
#include "tst_serverlist.moc"
