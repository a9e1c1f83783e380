#include "IniFunction.h"
#include "ProgramLocation.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <climits>
#include <string>

namespace {

std::string bytes(const QByteArray& data) {
    return data.toStdString();
}

bool writeFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

mode_t modeOf(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

ino_t inodeOf(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_ino : 0;
}

void setMode(const QString& path, mode_t mode) {
    QVERIFY(::chmod(QFile::encodeName(path).constData(), mode) == 0);
}

} // namespace

class TestIniFunction : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void readsString_data();
    void readsString();
    void readsInteger_data();
    void readsInteger();
    void cutsStringsAt1022Characters_data();
    void cutsStringsAt1022Characters();
    void writeThenRead_data();
    void writeThenRead();
    void writeKeepsTheRestOfTheFile_data();
    void writeKeepsTheRestOfTheFile();
    void refusesNamesThatCannotBeWritten_data();
    void refusesNamesThatCannotBeWritten();
    void writesIntegersAsDecimalText_data();
    void writesIntegersAsDecimalText();
    void absentFileGivesDefaultsAndFirstWriteCreatesIt();
    void emptyPathBecomesTheDefaultPath();
    void givenPathIsUsedUnchanged();
    void defaultPathJoinsFolderAndBaseName();
    void newFileIsForItsOwnerOnly();
    void rewriteKeepsPermissions_data();
    void rewriteKeepsPermissions();
    void writeReplacesTheFileAtomically();
    void readOnlyFileIsLeftAlone();
    void readOnlyFolderIsLeftAlone();
    void unusableFilesGiveDefaultsAndAreNotTouched_data();
    void unusableFilesGiveDefaultsAndAreNotTouched();
    void folderOrPipeInPlaceOfTheFile();
    void writeThatWouldPassTheSizeCapIsRefused();
    void symbolicLinkIsWrittenThrough();

private:
    QString filePath(const QString& name = QStringLiteral("KAVREL.INI")) const {
        return m_dir->filePath(name);
    }
    std::string path() const { return filePath().toStdString(); }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestIniFunction::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestIniFunction::cleanup() {
    if (m_dir)
        ::chmod(QFile::encodeName(m_dir->path()).constData(), 0700);
    m_dir.reset();
    ProgramLocation::overrideDirectory({});
    ProgramLocation::overrideBaseName({});
}

void TestIniFunction::readsString_data() {
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray dflt = "DEFAULT";
    QTest::newRow("plain") << QByteArray("[Connection]\nServer=pbx1\n") << "Connection"
                           << "Server" << QByteArray("pbx1");
    QTest::newRow("absent key") << QByteArray("[Connection]\nUser=a\n") << "Connection"
                                << "Server" << dflt;
    QTest::newRow("absent section") << QByteArray("[Other]\nServer=a\n") << "Connection"
                                    << "Server" << dflt;
    QTest::newRow("empty file") << QByteArray() << "Connection"
                                << "Server" << dflt;
    QTest::newRow("empty value") << QByteArray("[Connection]\nServer=\n") << "Connection"
                                 << "Server" << QByteArray();
    QTest::newRow("blank value") << QByteArray("[Connection]\nServer=   \n") << "Connection"
                                 << "Server" << QByteArray();
    QTest::newRow("blanks around = and value")
        << QByteArray("[Connection]\n  Server  =   pbx 1   \n") << "Connection"
        << "Server" << QByteArray("pbx 1");
    QTest::newRow("tabs") << QByteArray("[Connection]\n\tServer\t=\tpbx\t\n") << "Connection"
                          << "Server" << QByteArray("pbx");
    QTest::newRow("section case") << QByteArray("[cONNECTION]\nServer=x\n") << "Connection"
                                  << "Server" << QByteArray("x");
    QTest::newRow("key case") << QByteArray("[Connection]\nSERVER=x\n") << "Connection"
                              << "Server" << QByteArray("x");
    QTest::newRow("blanks in brackets") << QByteArray("[  Connection ]\nServer=x\n") << "Connection"
                                        << "Server" << QByteArray("x");
    QTest::newRow("double quotes") << QByteArray("[C]\nK=\"a value\"\n") << "C"
                                   << "K" << QByteArray("a value");
    QTest::newRow("single quotes") << QByteArray("[C]\nK='a value'\n") << "C"
                                   << "K" << QByteArray("a value");
    QTest::newRow("quotes keep inner blanks") << QByteArray("[C]\nK=\"  x  \"\n") << "C"
                                              << "K" << QByteArray("  x  ");
    QTest::newRow("one pair only") << QByteArray("[C]\nK=\"\"x\"\"\n") << "C"
                                   << "K" << QByteArray("\"x\"");
    QTest::newRow("empty quotes") << QByteArray("[C]\nK=\"\"\n") << "C"
                                  << "K" << QByteArray();
    QTest::newRow("unmatched quote") << QByteArray("[C]\nK=\"abc\n") << "C"
                                     << "K" << QByteArray("\"abc");
    QTest::newRow("mixed quotes") << QByteArray("[C]\nK=\"abc'\n") << "C"
                                  << "K" << QByteArray("\"abc'");
    QTest::newRow("lone quote") << QByteArray("[C]\nK=\"\n") << "C"
                                << "K" << QByteArray("\"");
    QTest::newRow("first duplicate wins") << QByteArray("[C]\nK=1\nK=2\n") << "C"
                                          << "K" << QByteArray("1");
    QTest::newRow("first of repeated sections wins") << QByteArray("[C]\nK=1\n[D]\nK=3\n[c]\nK=2\n") << "C"
                                                     << "K" << QByteArray("1");
    QTest::newRow("key in second block of a section") << QByteArray("[C]\nA=1\n[D]\nK=3\n[C]\nK=2\n") << "C"
                                                      << "K" << QByteArray("2");
    QTest::newRow("semicolon comment") << QByteArray("[C]\n; K=commented\nK=real\n") << "C"
                                       << "K" << QByteArray("real");
    QTest::newRow("hash comment") << QByteArray("[C]\n# K=commented\nK=real\n") << "C"
                                  << "K" << QByteArray("real");
    QTest::newRow("commented-out only") << QByteArray("[C]\n;K=commented\n") << "C"
                                        << "K" << dflt;
    QTest::newRow("comment at file start") << QByteArray("; settings\n; of the program\n[C]\nK=v\n") << "C"
                                           << "K" << QByteArray("v");
    QTest::newRow("CR LF lines") << QByteArray("[A]\r\nX=1\r\n[C]\r\nK=v w\r\n") << "C"
                                 << "K" << QByteArray("v w");
    QTest::newRow("UTF-8 mark") << QByteArray("\xEF\xBB\xBF[C]\nK=v\n") << "C"
                                << "K" << QByteArray("v");
    QTest::newRow("no final line end") << QByteArray("[C]\nK=v") << "C"
                                       << "K" << QByteArray("v");
    QTest::newRow("equals in value") << QByteArray("[C]\nK=a=b\n") << "C"
                                     << "K" << QByteArray("a=b");
    QTest::newRow("semicolon in value") << QByteArray("[C]\nK=pw;x\n") << "C"
                                        << "K" << QByteArray("pw;x");
    QTest::newRow("8-bit text") << QByteArray("[C]\nK=caf\xE9\n") << "C"
                                << "K" << QByteArray("caf\xE9");
    QTest::newRow("key of another section") << QByteArray("[D]\nK=v\n[C]\nX=1\n") << "C"
                                            << "K" << dflt;
    QTest::newRow("key before any section") << QByteArray("K=v\n[C]\nX=1\n") << "C"
                                            << "K" << dflt;
    QTest::newRow("broken header: keys below belong to no section") << QByteArray("[D]\n[C\nK=v\n") << "D"
                                                                    << "K" << dflt;
    QTest::newRow("broken header: not the section it names") << QByteArray("[C\nK=v\n") << "C"
                                                             << "K" << dflt;
    QTest::newRow("line without equals ignored") << QByteArray("[C]\ngarbage\nK=v\n") << "C"
                                                 << "K" << QByteArray("v");
}

void TestIniFunction::readsString() {
    QFETCH(QByteArray, ini);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QByteArray, expected);
    QVERIFY(writeFile(filePath(), ini));
    std::string settingsPath = path();
    const std::string defaultValue = "DEFAULT";
    QCOMPARE(ReadIniString(section.toStdString(), key.toStdString(), defaultValue, settingsPath),
             bytes(expected));
    QCOMPARE(defaultValue, std::string("DEFAULT"));
    QCOMPARE(settingsPath, path());
}

void TestIniFunction::readsInteger_data() {
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<int>("expected");

    QTest::newRow("number") << QByteArray("[S]\nK=42\n") << 42;
    QTest::newRow("zero") << QByteArray("[S]\nK=0\n") << 0;
    QTest::newRow("one") << QByteArray("[S]\nK=1\n") << 1;
    QTest::newRow("minus one") << QByteArray("[S]\nK=-1\n") << -1;
    QTest::newRow("plus sign") << QByteArray("[S]\nK=+3\n") << 3;
    QTest::newRow("leading digits") << QByteArray("[S]\nK=5abc\n") << 5;
    QTest::newRow("no digits") << QByteArray("[S]\nK=abc\n") << 0;
    QTest::newRow("empty value gives default") << QByteArray("[S]\nK=\n") << 7;
    QTest::newRow("blank value gives default") << QByteArray("[S]\nK=  \n") << 7;
    QTest::newRow("absent gives default") << QByteArray("[S]\nX=1\n") << 7;
    QTest::newRow("no file content") << QByteArray() << 7;
    QTest::newRow("blanks around") << QByteArray("[S]\nK =  12  \n") << 12;
    QTest::newRow("quoted") << QByteArray("[S]\nK=\"12\"\n") << 12;
    QTest::newRow("leading zeros") << QByteArray("[S]\nK=007\n") << 7;
    QTest::newRow("hex is not read") << QByteArray("[S]\nK=0x10\n") << 0;
    QTest::newRow("double sign") << QByteArray("[S]\nK=--5\n") << 0;
    QTest::newRow("sign then blank") << QByteArray("[S]\nK=- 5\n") << 0;
    QTest::newRow("sign alone") << QByteArray("[S]\nK=-\n") << 0;
    QTest::newRow("decimal point") << QByteArray("[S]\nK=3.9\n") << 3;
    QTest::newRow("largest") << QByteArray("[S]\nK=2147483647\n") << INT_MAX;
    QTest::newRow("smallest") << QByteArray("[S]\nK=-2147483648\n") << INT_MIN;
    QTest::newRow("too large stops at the limit") << QByteArray("[S]\nK=99999999999999999999\n") << INT_MAX;
    QTest::newRow("too small stops at the limit") << QByteArray("[S]\nK=-99999999999\n") << INT_MIN;
    QTest::newRow("first duplicate wins") << QByteArray("[S]\nK=1\nk=0\n") << 1;
}

void TestIniFunction::readsInteger() {
    QFETCH(QByteArray, ini);
    QFETCH(int, expected);
    QVERIFY(writeFile(filePath(), ini));
    std::string settingsPath = path();
    const int32_t defaultValue = 7;
    QCOMPARE(ReadIniInteger("S", "K", defaultValue, settingsPath), expected);
    QCOMPARE(defaultValue, 7);
}

void TestIniFunction::cutsStringsAt1022Characters_data() {
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("expectedLength");
    QTest::newRow("1021") << 1021 << 1021;
    QTest::newRow("1022") << 1022 << 1022;
    QTest::newRow("1023") << 1023 << 1022;
    QTest::newRow("1500") << 1500 << 1022;
}

void TestIniFunction::cutsStringsAt1022Characters() {
    QFETCH(int, length);
    QFETCH(int, expectedLength);
    std::string value;
    for (int i = 0; i < length; ++i)
        value += static_cast<char>('a' + i % 26);
    std::string settingsPath = path();
    WriteIniString("LocalHost", "DataPath", value, settingsPath);
    QCOMPARE(ReadIniString("LocalHost", "DataPath", "", settingsPath), value.substr(0, expectedLength));
    // The stored text itself is whole; only what a read returns is cut.
    QVERIFY(readFile(filePath()).contains(QByteArray::fromStdString("DataPath=" + value + "\n")));
    QCOMPARE(ReadIniString("LocalHost", "Absent", value, settingsPath), value.substr(0, expectedLength));
}

void TestIniFunction::writeThenRead_data() {
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QByteArray>("readBack");
    QTest::newRow("empty") << QByteArray() << QByteArray();
    QTest::newRow("plain") << QByteArray("pbx.example") << QByteArray("pbx.example");
    QTest::newRow("drive path") << QByteArray("C:\\DTA") << QByteArray("C:\\DTA");
    QTest::newRow("blanks at both ends") << QByteArray("  pass word  ") << QByteArray("  pass word  ");
    QTest::newRow("tab at the end") << QByteArray("secret\t") << QByteArray("secret\t");
    QTest::newRow("wrapped in double quotes") << QByteArray("\"quoted\"") << QByteArray("\"quoted\"");
    QTest::newRow("wrapped in single quotes") << QByteArray("'single'") << QByteArray("'single'");
    QTest::newRow("one quote") << QByteArray("\"") << QByteArray("\"");
    QTest::newRow("equals and semicolon") << QByteArray(";a=b#") << QByteArray(";a=b#");
    QTest::newRow("brackets") << QByteArray("[Connection]") << QByteArray("[Connection]");
    QTest::newRow("8-bit") << QByteArray("caf\xE9 \xFF") << QByteArray("caf\xE9 \xFF");
    QTest::newRow("line break flattened") << QByteArray("one\ntwo\r\nthree") << QByteArray("one two  three");
}

void TestIniFunction::writeThenRead() {
    QFETCH(QByteArray, value);
    QFETCH(QByteArray, readBack);
    std::string settingsPath = path();
    WriteIniString("Connection", "Password", bytes(value), settingsPath);
    WriteIniString("Connection", "User", "admin", settingsPath);
    QCOMPARE(ReadIniString("Connection", "Password", "DEFAULT", settingsPath), bytes(readBack));
    QCOMPARE(ReadIniString("Connection", "User", "DEFAULT", settingsPath), std::string("admin"));
    // Written again over itself, the value stays the same.
    WriteIniString("Connection", "Password", bytes(value), settingsPath);
    QCOMPARE(ReadIniString("Connection", "Password", "DEFAULT", settingsPath), bytes(readBack));
}

void TestIniFunction::writeKeepsTheRestOfTheFile_data() {
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QByteArray>("after");

    QTest::newRow("replace, comments and sections stay")
        << QByteArray(
               "; Kavrel settings\n\n[Connection]\n; the PBX\nServer = old\nUser=u\n\n[Other]\nX=1\n; end\n")
        << "Connection"
        << "Server" << QByteArray("new")
        << QByteArray(
               "; Kavrel settings\n\n[Connection]\n; the PBX\nServer=new\nUser=u\n\n[Other]\nX=1\n; end\n");
    QTest::newRow("CR LF file keeps its line ends")
        << QByteArray("[Connection]\r\nServer=old\r\nUser=u\r\n") << "Connection"
        << "Server" << QByteArray("new") << QByteArray("[Connection]\r\nServer=new\r\nUser=u\r\n");
    QTest::newRow("new key after the section's last key")
        << QByteArray("[Connection]\nServer=a\n\n; about Other\n[Other]\nX=1\n") << "Connection"
        << "User" << QByteArray("u")
        << QByteArray("[Connection]\nServer=a\nUser=u\n\n; about Other\n[Other]\nX=1\n");
    QTest::newRow("new key in the first of repeated sections")
        << QByteArray("[C]\nA=1\n[D]\n[C]\nB=2\n") << "C"
        << "K" << QByteArray("v") << QByteArray("[C]\nA=1\nK=v\n[D]\n[C]\nB=2\n");
    QTest::newRow("new key under a bare header")
        << QByteArray("[Connection]\n[Other]\n") << "Connection"
        << "Server" << QByteArray("s") << QByteArray("[Connection]\nServer=s\n[Other]\n");
    QTest::newRow("header without line end")
        << QByteArray("[Connection]") << "Connection"
        << "Server" << QByteArray("s") << QByteArray("[Connection]\nServer=s\n");
    QTest::newRow("new section appended")
        << QByteArray("[Other]\nX=1") << "Connection"
        << "Server" << QByteArray("s") << QByteArray("[Other]\nX=1\n[Connection]\nServer=s\n");
    QTest::newRow("names match without case")
        << QByteArray("[CONNECTION]\nserver=old\n") << "Connection"
        << "Server" << QByteArray("new") << QByteArray("[CONNECTION]\nServer=new\n");
    QTest::newRow("only the first duplicate changes")
        << QByteArray("[C]\nK=1\nK=2\n") << "C"
        << "K" << QByteArray("9") << QByteArray("[C]\nK=9\nK=2\n");
    // A comment at the end of a block may be about what follows, so new keys go above it.
    QTest::newRow("commented key is not the key")
        << QByteArray("[C]\n;K=old\n") << "C"
        << "K" << QByteArray("new") << QByteArray("[C]\nK=new\n;K=old\n");
    QTest::newRow("keys below a broken header are not the section's")
        << QByteArray("[D]\nA=1\n[C\nK=v\n") << "D"
        << "K" << QByteArray("new") << QByteArray("[D]\nA=1\nK=new\n[C\nK=v\n");
    QTest::newRow("UTF-8 mark before the header")
        << QByteArray("\xEF\xBB\xBF[Connection]\nServer=a\n") << "Connection"
        << "Server" << QByteArray("b") << QByteArray("\xEF\xBB\xBF[Connection]\nServer=b\n");
    QTest::newRow("unknown lines stay") << QByteArray("[C]\njunk line\nK=1\n") << "C"
                                        << "K" << QByteArray("2") << QByteArray("[C]\njunk line\nK=2\n");
    QTest::newRow("blank-edged value is quoted")
        << QByteArray("[C]\nK=1\n") << "C"
        << "K" << QByteArray(" x ") << QByteArray("[C]\nK=\" x \"\n");
    QTest::newRow("line break cannot inject a key")
        << QByteArray("[Connection]\nServer=pbx\n") << "Connection"
        << "User" << QByteArray("u\n[Connection]\nServer=evil")
        << QByteArray("[Connection]\nServer=pbx\nUser=u [Connection] Server=evil\n");
}

void TestIniFunction::writeKeepsTheRestOfTheFile() {
    QFETCH(QByteArray, before);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QByteArray, value);
    QFETCH(QByteArray, after);
    QVERIFY(writeFile(filePath(), before));
    std::string settingsPath = path();
    WriteIniString(section.toStdString(), key.toStdString(), bytes(value), settingsPath);
    QCOMPARE(readFile(filePath()), after);
    // What the writer changed is what the reader finds.
    QByteArray flattened = value;
    flattened.replace('\n', ' ').replace('\r', ' ');
    QCOMPARE(ReadIniString(section.toStdString(), key.toStdString(), "DEFAULT", settingsPath),
             bytes(flattened));
}

void TestIniFunction::refusesNamesThatCannotBeWritten_data() {
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::newRow("empty section") << ""
                                   << "K";
    QTest::newRow("empty key") << "S"
                               << "";
    QTest::newRow("bracket in section") << "S]x"
                                        << "K";
    QTest::newRow("equals in key") << "S"
                                   << "K=x";
    QTest::newRow("line break in section") << "S\n[T"
                                           << "K";
    QTest::newRow("line break in key") << "S"
                                       << "K\nX";
    QTest::newRow("comment key") << "S"
                                 << ";K";
    QTest::newRow("blank-edged key") << "S"
                                     << " K";
}

void TestIniFunction::refusesNamesThatCannotBeWritten() {
    QFETCH(QString, section);
    QFETCH(QString, key);
    const QByteArray before("[S]\nK=1\n");
    QVERIFY(writeFile(filePath(), before));
    std::string settingsPath = path();
    WriteIniString(section.toStdString(), key.toStdString(), "v", settingsPath);
    QCOMPARE(readFile(filePath()), before);
}

void TestIniFunction::writesIntegersAsDecimalText_data() {
    QTest::addColumn<int>("value");
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("0") << 0 << QByteArray("0");
    QTest::newRow("1") << 1 << QByteArray("1");
    QTest::newRow("-5") << -5 << QByteArray("-5");
    QTest::newRow("largest") << INT_MAX << QByteArray("2147483647");
    QTest::newRow("smallest") << INT_MIN << QByteArray("-2147483648");
}

void TestIniFunction::writesIntegersAsDecimalText() {
    QFETCH(int, value);
    QFETCH(QByteArray, text);
    std::string settingsPath;
    ProgramLocation::overrideDirectory(m_dir->path().toStdString());
    ProgramLocation::overrideBaseName("kavrel");
    const int32_t written = value;
    WriteIniInteger("Selection", "Prompt", written, settingsPath);
    QCOMPARE(settingsPath, filePath(QStringLiteral("kavrel.INI")).toStdString());
    QCOMPARE(readFile(filePath(QStringLiteral("kavrel.INI"))), "[Selection]\nPrompt=" + text + "\n");
    QCOMPARE(ReadIniInteger("Selection", "Prompt", 77, settingsPath), value);
    QCOMPARE(written, value);
}

void TestIniFunction::absentFileGivesDefaultsAndFirstWriteCreatesIt() {
    std::string settingsPath = path();
    QCOMPARE(ReadIniString("Connection", "Server", "", settingsPath), std::string());
    QCOMPARE(ReadIniString("Connection", "Server", "pbx", settingsPath), std::string("pbx"));
    QCOMPARE(ReadIniInteger("Selection", "Data", 1, settingsPath), 1);
    QCOMPARE(ReadIniInteger("Selection", "Data", -3, settingsPath), -3);
    QVERIFY(!QFile::exists(filePath()));
    WriteIniString("Connection", "Server", "pbx1", settingsPath);
    QCOMPARE(readFile(filePath()), QByteArray("[Connection]\nServer=pbx1\n"));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList{"KAVREL.INI"});
}

void TestIniFunction::emptyPathBecomesTheDefaultPath() {
    ProgramLocation::overrideDirectory(m_dir->path().toStdString());
    ProgramLocation::overrideBaseName("TrelBack");
    const std::string expected = m_dir->filePath(QStringLiteral("TrelBack.INI")).toStdString();

    std::string first;
    WriteIniString("Connection", "User", "admin", first);
    QCOMPARE(first, expected);
    std::string second;
    QCOMPARE(ReadIniString("Connection", "User", "", second), std::string("admin"));
    QCOMPARE(second, expected);
    std::string third;
    WriteIniInteger("Selection", "Data", 1, third);
    QCOMPARE(third, expected);
    std::string fourth;
    QCOMPARE(ReadIniInteger("Selection", "Data", 0, fourth), 1);
    QCOMPARE(fourth, expected);
    QCOMPARE(readFile(QString::fromStdString(expected)),
             QByteArray("[Connection]\nUser=admin\n[Selection]\nData=1\n"));
}

void TestIniFunction::givenPathIsUsedUnchanged() {
    ProgramLocation::overrideDirectory(m_dir->path().toStdString());
    ProgramLocation::overrideBaseName("kavrel");
    std::string settingsPath = filePath(QStringLiteral("elsewhere.ini")).toStdString();
    const std::string given = settingsPath;
    WriteIniString("Connection", "Server", "pbx", settingsPath);
    QCOMPARE(settingsPath, given);
    QCOMPARE(ReadIniString("Connection", "Server", "", settingsPath), std::string("pbx"));
    QCOMPARE(settingsPath, given);
    QVERIFY(QFile::exists(filePath(QStringLiteral("elsewhere.ini"))));
    QVERIFY(!QFile::exists(filePath(QStringLiteral("kavrel.INI"))));
}

void TestIniFunction::defaultPathJoinsFolderAndBaseName() {
    ProgramLocation::overrideDirectory("/opt/kavrel");
    ProgramLocation::overrideBaseName("kavrel");
    QCOMPARE(DefaultSettingsPath(), std::string("/opt/kavrel/kavrel.INI"));
    // Joined with one separator without looking at the folder text, as it always was.
    ProgramLocation::overrideDirectory("/");
    QCOMPARE(DefaultSettingsPath(), std::string("//kavrel.INI"));
    ProgramLocation::overrideDirectory({});
    ProgramLocation::overrideBaseName({});
    QCOMPARE(DefaultSettingsPath(),
             QCoreApplication::applicationDirPath().toStdString() + "/tst_inifunction.INI");
}

void TestIniFunction::newFileIsForItsOwnerOnly() {
    const mode_t previous = ::umask(0);
    std::string settingsPath = path();
    WriteIniString("Connection", "Password", "tamsk", settingsPath);
    ::umask(previous);
    QCOMPARE(modeOf(filePath()), mode_t(0600));
}

void TestIniFunction::rewriteKeepsPermissions_data() {
    QTest::addColumn<int>("mode");
    QTest::newRow("0600") << 0600;
    QTest::newRow("0640") << 0640;
    QTest::newRow("0644") << 0644;
    QTest::newRow("0660") << 0660;
    QTest::newRow("0200 write only") << 0200;
}

void TestIniFunction::rewriteKeepsPermissions() {
    QFETCH(int, mode);
    QVERIFY(writeFile(filePath(), "[Connection]\nServer=a\n"));
    setMode(filePath(), static_cast<mode_t>(mode));
    std::string settingsPath = path();
    WriteIniString("Connection", "Server", "b", settingsPath);
    QCOMPARE(modeOf(filePath()), static_cast<mode_t>(mode));
    if (mode & 0400)
        QCOMPARE(readFile(filePath()), QByteArray("[Connection]\nServer=b\n"));
}

void TestIniFunction::writeReplacesTheFileAtomically() {
    QVERIFY(writeFile(filePath(), "[Connection]\nServer=a\n"));
    const ino_t before = inodeOf(filePath());
    std::string settingsPath = path();
    WriteIniString("Connection", "Server", "b", settingsPath);
    // A new file renamed into place, never the old one rewritten where a crash could cut it short.
    QVERIFY(inodeOf(filePath()) != before);
    QCOMPARE(readFile(filePath()), QByteArray("[Connection]\nServer=b\n"));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList{"KAVREL.INI"});
}

void TestIniFunction::readOnlyFileIsLeftAlone() {
    const QByteArray content("[Connection]\nServer=a\n");
    QVERIFY(writeFile(filePath(), content));
    setMode(filePath(), 0444);
    const ino_t before = inodeOf(filePath());
    std::string settingsPath = path();
    QCOMPARE(ReadIniString("Connection", "Server", "", settingsPath), std::string("a"));
    WriteIniString("Connection", "Server", "b", settingsPath);
    WriteIniInteger("Selection", "Data", 1, settingsPath);
    QCOMPARE(readFile(filePath()), content);
    QCOMPARE(inodeOf(filePath()), before);
    QCOMPARE(modeOf(filePath()), mode_t(0444));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList{"KAVREL.INI"});
}

void TestIniFunction::readOnlyFolderIsLeftAlone() {
    const QByteArray content("[Connection]\nServer=a\n");
    QVERIFY(writeFile(filePath(), content));
    setMode(m_dir->path(), 0555);
    std::string settingsPath = path();
    WriteIniString("Connection", "Server", "b", settingsPath);
    std::string newFile = filePath(QStringLiteral("new.INI")).toStdString();
    WriteIniString("Connection", "Server", "b", newFile);
    setMode(m_dir->path(), 0700);
    QCOMPARE(readFile(filePath()), content);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList{"KAVREL.INI"});
    QCOMPARE(ReadIniString("Connection", "Server", "", settingsPath), std::string("a"));
}

void TestIniFunction::unusableFilesGiveDefaultsAndAreNotTouched_data() {
    QTest::addColumn<QByteArray>("content");
    QByteArray binary;
    for (int i = 0; i < 4096; ++i)
        binary += static_cast<char>((i * 7919) % 256);
    QTest::newRow("binary") << binary;
    QTest::newRow("settings with a NUL") << QByteArray("[Connection]\nServer=a\0b\n", 25);
    QByteArray huge("[Connection]\nServer=a\n");
    huge += QByteArray(1024 * 1024, 'x');
    QTest::newRow("larger than 1 MiB") << huge;
}

void TestIniFunction::unusableFilesGiveDefaultsAndAreNotTouched() {
    QFETCH(QByteArray, content);
    QVERIFY(writeFile(filePath(), content));
    std::string settingsPath = path();
    QCOMPARE(ReadIniString("Connection", "Server", "dflt", settingsPath), std::string("dflt"));
    QCOMPARE(ReadIniInteger("Connection", "Server", 3, settingsPath), 3);
    WriteIniString("Connection", "Server", "b", settingsPath);
    QCOMPARE(readFile(filePath()), content);
}

void TestIniFunction::folderOrPipeInPlaceOfTheFile() {
    QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("KAVREL.INI")));
    std::string settingsPath = path();
    QCOMPARE(ReadIniString("Connection", "Server", "dflt", settingsPath), std::string("dflt"));
    WriteIniString("Connection", "Server", "b", settingsPath);
    QVERIFY(QFileInfo(filePath()).isDir());

    const QString pipe = filePath(QStringLiteral("pipe.INI"));
    QVERIFY(::mkfifo(QFile::encodeName(pipe).constData(), 0600) == 0);
    std::string pipePath = pipe.toStdString();
    QCOMPARE(ReadIniInteger("Selection", "Data", 4, pipePath), 4);
    WriteIniString("Connection", "Server", "b", pipePath);
    QVERIFY(!QFileInfo(pipe).isFile());
}

void TestIniFunction::writeThatWouldPassTheSizeCapIsRefused() {
    const QByteArray content("[Connection]\nServer=a\n");
    QVERIFY(writeFile(filePath(), content));
    std::string settingsPath = path();
    WriteIniString("Connection", "Server", std::string(1024 * 1024, 'y'), settingsPath);
    QCOMPARE(readFile(filePath()), content);
}

void TestIniFunction::symbolicLinkIsWrittenThrough() {
    QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("real")));
    const QString target = filePath(QStringLiteral("real/settings.ini"));
    QVERIFY(writeFile(target, "[Connection]\nServer=a\n"));
    QVERIFY(QFile::link(target, filePath()));
    std::string settingsPath = path();
    WriteIniString("Connection", "Server", "b", settingsPath);
    QVERIFY(QFileInfo(filePath()).isSymLink());
    QCOMPARE(readFile(target), QByteArray("[Connection]\nServer=b\n"));
}

QTEST_GUILESS_MAIN(TestIniFunction)
#include "tst_inifunction.moc"
