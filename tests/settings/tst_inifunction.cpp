#include "IniFunction.h"
#include "TestFiles.h"
#include "TrustStore.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <climits>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct stat statOf(const QString& path) {
    struct stat info {};
    ::stat(QFile::encodeName(path).constData(), &info);
    return info;
}

} // namespace

// The settings file as the window and kavrel-cli read and write it: the reader's rules, a write that
// changes one value and keeps the rest, and a file that is replaced whole, owner-only, or left alone.
// (That the reader finds what the writer wrote, blanks, case, line breaks and odd headers included, is
// fuzz_settings's, whose corpus ctest replays.)
// And the trusted-certificate list beside it, rewritten the same way, one server at a time.
class TestIniFunction : public QObject {
    Q_OBJECT

private slots:
    void init() { dir = std::make_unique<QTemporaryDir>(); }
    void read_data();
    void read();
    void write_data();
    void write();
    void writeReplacesTheFileWhole();
    void unusableFilesAreLeftAlone_data();
    void unusableFilesAreLeftAlone();
    void trustStoreReplacesOneServer();

private:
    QString file() const { return dir->filePath("KAVREL.INI"); }
    std::unique_ptr<QTemporaryDir> dir;
};

void TestIniFunction::read_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QByteArray>("text"); // ReadIniString of [C] K, default "dflt"
    QTest::addColumn<int>("number");      // ReadIniInteger of [C] K, default 7
    QTest::newRow("plain") << QByteArray("[C]\nK=pbx1\n") << QByteArray("pbx1") << 0;
    QTest::newRow("absent") << QByteArray("[D]\nK=a\n[C]\nX=1\n") << QByteArray("dflt") << 7;
    QTest::newRow("longer than 1022") << "[C]\nK=" + QByteArray(2000, 'x') << QByteArray(1022, 'x') << 0;
}

void TestIniFunction::read() {
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, text);
    QFETCH(int, number);
    QVERIFY(writeFile(file(), content));
    std::string path = file().toStdString();
    QCOMPARE(ReadIniString("C", "K", "dflt", path), text.toStdString());
    QCOMPARE(ReadIniInteger("C", "K", 7, path), number);
}

void TestIniFunction::write_data() {
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QByteArray>("after");
    QTest::newRow("no file") << QByteArray("<none>") << QByteArray("v") << QByteArray("[C]\nK=v\n");
    QTest::newRow("replace, the rest stays")
        << QByteArray("; top\n[C]\n; note\nK = old\nU=u\n\n[D]\nX=1\n") << QByteArray("new")
        << QByteArray("; top\n[C]\n; note\nK=new\nU=u\n\n[D]\nX=1\n");
    QTest::newRow("new key after the section's last")
        << QByteArray("[C]\nA=1\n\n[D]\nX=1\n") << QByteArray("v")
        << QByteArray("[C]\nA=1\nK=v\n\n[D]\nX=1\n");
}

void TestIniFunction::write() {
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, value);
    QFETCH(QByteArray, after);
    if (before != "<none>")
        QVERIFY(writeFile(file(), before));
    std::string path = file().toStdString();
    WriteIniString("C", "K", value.toStdString(), path);
    QCOMPARE(readFile(file()), after);
}

// A new file renamed into place (a crash cannot cut it short), owner-only also when the old file
// allowed more: it holds the password.
void TestIniFunction::writeReplacesTheFileWhole() {
    std::string path = file().toStdString();
    WriteIniInteger("S", "Data", 1, path);
    QCOMPARE(statOf(file()).st_mode & 07777, mode_t(0600));
    QVERIFY(::chmod(path.c_str(), 0640) == 0);
    const ino_t before = statOf(file()).st_ino;
    WriteIniString("S", "Data", "0", path);
    QVERIFY(statOf(file()).st_ino != before);
    QCOMPARE(statOf(file()).st_mode & 07777, mode_t(0600));
    QCOMPARE(readFile(file()), QByteArray("[S]\nData=0\n"));
    QCOMPARE(QDir(dir->path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
             QStringList{"KAVREL.INI"});
}

void TestIniFunction::unusableFilesAreLeftAlone_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("mode");
    QTest::newRow("binary") << QByteArray("[C]\nK=a\0b\n", 10) << 0600;
    QTest::newRow("larger than 1 MiB") << "[C]\nK=a\n" + QByteArray(1024 * 1024, 'x') << 0600;
    QTest::newRow("read-only") << QByteArray("[C]\nK=a\n") << 0444;
    // Someone else could have pointed the backup at their server: not read, not rewritten.
    QTest::newRow("others can write") << QByteArray("[C]\nK=a\n") << 0602;
    QTest::newRow("another user's") << QByteArray("[C]\nK=a\n") << -1;
}

void TestIniFunction::unusableFilesAreLeftAlone() {
    QFETCH(QByteArray, content);
    QFETCH(int, mode);
    QVERIFY(writeFile(file(), content));
    const QByteArray name = QFile::encodeName(file());
    if (mode < 0 && ::chown(name.constData(), 65534, 65534) != 0)
        QSKIP("giving the file to another user needs root");
    QVERIFY(::chmod(name.constData(), mode_t(mode < 0 ? 0600 : mode)) == 0);
    const ino_t before = statOf(file()).st_ino;
    std::string path = file().toStdString();
    QCOMPARE(ReadIniString("C", "K", "dflt", path), std::string(mode == 0444 ? "a" : "dflt"));
    WriteIniString("C", "K", "b", path);
    QCOMPARE(readFile(file()), content);
    QCOMPARE(statOf(file()).st_ino, before);
    QCOMPARE(QDir(dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList{"KAVREL.INI"});
}

void TestIniFunction::trustStoreReplacesOneServer() {
    const std::string kOld = "SHA256:" + QByteArray(32, '\x11').toHex(':').toStdString();
    const std::string kNew = "SHA256:" + QByteArray(32, '\xab').toHex(':').toUpper().toStdString();
    QVERIFY(QDir(dir->path()).mkdir("a.b"));
    // A dot in a folder's name is no extension of the settings file's.
    const TrustStore store(TrustStore::pathBeside(dir->filePath("a.b/job").toStdString()));
    const std::string path = store.path();
    QCOMPARE(QString::fromStdString(path), dir->filePath("a.b/job.TRUST"));
    QVERIFY(!store.trust("evil\n" + kOld + " host", kNew));
    QVERIFY(!store.trust("127.0.0.1:2121", kNew.substr(7)));
    QVERIFY(!QFile::exists(QString::fromStdString(path)));
    QVERIFY(store.trust("127.0.0.1:2121", kOld) && store.trust("[::1]:990", kOld));
    // Loosened by hand and linked to: a rewrite in place would show through the link.
    QCOMPARE(::chmod(path.c_str(), 0644), 0);
    QCOMPARE(::link(path.c_str(), (path + ".link").c_str()), 0);
    const QByteArray oldText = readFile(QString::fromStdString(path));

    QVERIFY(store.trust("127.0.0.1:2121", QString::fromStdString(kNew).toLower().toStdString()));
    QCOMPARE(store.fingerprintFor("127.0.0.1:2121"), kNew);
    QCOMPARE(store.fingerprintFor("[::1]:990"), TrustStore::normalizedFingerprint(kOld));
    QCOMPARE(store.fingerprintFor("127.0.0.1"), std::string());
    QCOMPARE(readFile(QString::fromStdString(path + ".link")), oldText);
    QCOMPARE(readFile(QString::fromStdString(path)).count(" 127.0.0.1:2121\n"), 1);
    struct stat info {};
    QCOMPARE(::stat(path.c_str(), &info), 0);
    QCOMPARE(info.st_mode & 07777, 0600u);
    QVERIFY(!TrustStore(dir->path().toStdString()).trust("host", kNew)); // a folder in the file's place
}

QTEST_GUILESS_MAIN(TestIniFunction)
#include "tst_inifunction.moc"
