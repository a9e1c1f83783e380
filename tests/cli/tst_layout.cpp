#include "CliRun.h"
#include "IniFunction.h"
#include "ProgramLocation.h"
#include "ProtocolTrace.h"
#include "TransferCommands.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <sys/stat.h>

// Where the settings file, the protocol trace, the local folder and kavrel-cli's default settings land in
// each layout, with HOME and XDG_CONFIG_HOME pointed into a temporary folder.
class TestLayout : public QObject {
    Q_OBJECT

private slots:
    void placesFiles_data();
    void placesFiles();
};

void TestLayout::placesFiles_data() {
    QTest::addColumn<QString>("xdgConfigHome");  // "-": unset; "rel": relative, which the convention ignores
    QTest::addColumn<QString>("settingsFolder"); // "program": the portable layout
    const auto row = [](const char* tag, const char* xdg, const char* folder) {
        QTest::newRow(tag) << QString(xdg) << QString(folder);
    };
    row("portable", "config", "program");
    row("installed, XDG_CONFIG_HOME set", "config", "config/kavrel");
    row("installed, XDG_CONFIG_HOME unset", "-", "home/.config/kavrel");
    row("installed, XDG_CONFIG_HOME relative", "rel", "home/.config/kavrel");
}

void TestLayout::placesFiles() {
    QFETCH(QString, xdgConfigHome);
    QFETCH(QString, settingsFolder);
    const bool installed = settingsFolder != "program";
    QTemporaryDir temp;
    QVERIFY(QDir(temp.path()).mkpath("program") && QDir(temp.path()).mkpath("home"));
    const QString program = temp.filePath("program"), settings = temp.filePath(settingsFolder);
    ProgramLocation::overrideDirectory(program.toStdString());
    ProgramLocation::overrideBaseName("kavrel");
    ProgramLocation::setLayout(installed ? ProgramLocation::Layout::Installed
                                         : ProgramLocation::Layout::Portable);
    qputenv("HOME", temp.filePath("home").toLocal8Bit());
    qunsetenv("XDG_CONFIG_HOME");
    if (xdgConfigHome != "-")
        qputenv("XDG_CONFIG_HOME",
                (xdgConfigHome == "rel" ? "rel" : temp.filePath(xdgConfigHome)).toLocal8Bit());

    std::string path;
    WriteIniString("Connection", "Server", "pbx1", path);
    QCOMPARE(QString::fromStdString(path), settings + "/kavrel.INI");
    QVERIFY(QFile::exists(path.c_str()));
    ProtocolTrace trace;
    QVERIFY(trace.open("KAVREL.LOG").ok());
    QCOMPARE(QString::fromStdString(trace.path()), settings + "/KAVREL.LOG");
    const QString local = installed ? temp.filePath("home/Kavrel") : program;
    QCOMPARE(QString::fromStdString(ProgramLocation::defaultLocalFolder()), local);
    if (installed) {
        struct stat folder {};
        QVERIFY(::stat(path.substr(0, path.rfind('/')).c_str(), &folder) == 0);
        QCOMPARE(folder.st_mode & 0777, 0700u);
        QCOMPARE(QString::fromStdString(TransferCommands::LocalBaseDirectory("  ")), local);
        QVERIFY(QDir(program).isEmpty());
    }

    // kavrel-cli without --settings reads the window's file: it names the one it looked for.
    QVERIFY(QFile::remove(path.c_str()));
    std::FILE* err = std::tmpfile();
    CliOptions options;
    options.command = CliOptions::Command::Backup;
    QCOMPARE(RunCli(options, stdout, err), 64);
    char text[1024] = {};
    std::rewind(err);
    QVERIFY(std::fread(text, 1, sizeof text - 1, err) > 0);
    std::fclose(err);
    QVERIFY2(QString(text).contains(settings + "/kavrel.INI\n"), text);
    ProgramLocation::setLayout(ProgramLocation::Layout::Portable);
}

QTEST_GUILESS_MAIN(TestLayout)
#include "tst_layout.moc"
