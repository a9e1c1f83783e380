#include "CliRun.h"
#include "IniFunction.h"
#include "ProgramLocation.h"
#include "ProtocolTrace.h"
#include "TransferCommands.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <sys/stat.h>

// Where the settings file, the protocol trace, the default local folder and kavrel-cli's default settings
// land in each layout, with HOME and XDG_CONFIG_HOME pointed into a temporary folder.
class TestLayout : public QObject {
    Q_OBJECT

private slots:
    void cleanup();
    void placesFiles_data();
    void placesFiles();
};

void TestLayout::cleanup() {
    ProgramLocation::setLayout(ProgramLocation::Layout::Portable);
    ProgramLocation::overrideDirectory({});
    ProgramLocation::overrideBaseName({});
}

void TestLayout::placesFiles_data() {
    QTest::addColumn<bool>("installed");
    QTest::addColumn<QString>("xdgConfigHome"); // relative to the temporary folder; "-" leaves it unset
    QTest::addColumn<QString>("settingsFolder");
    QTest::addColumn<QString>("localFolder"); // DataPath default and the base of an empty local folder
    QTest::newRow("portable") << false << "config"
                              << "program"
                              << "program";
    QTest::newRow("installed, XDG_CONFIG_HOME set") << true << "config"
                                                    << "config/kavrel"
                                                    << "home/Kavrel";
    QTest::newRow("installed, XDG_CONFIG_HOME unset") << true << "-"
                                                      << "home/.config/kavrel"
                                                      << "home/Kavrel";
    // The base-directory convention ignores a relative XDG_CONFIG_HOME.
    QTest::newRow("installed, XDG_CONFIG_HOME relative") << true << "rel"
                                                         << "home/.config/kavrel"
                                                         << "home/Kavrel";
}

void TestLayout::placesFiles() {
    QFETCH(bool, installed);
    QFETCH(QString, xdgConfigHome);
    QFETCH(QString, settingsFolder);
    QFETCH(QString, localFolder);
    QTemporaryDir temp;
    QVERIFY(QDir(temp.path()).mkpath("program") && QDir(temp.path()).mkpath("home"));
    const QString program = temp.filePath("program");
    ProgramLocation::overrideDirectory(program.toStdString());
    ProgramLocation::overrideBaseName("kavrel");
    ProgramLocation::setLayout(installed ? ProgramLocation::Layout::Installed
                                         : ProgramLocation::Layout::Portable);
    qputenv("HOME", temp.filePath("home").toLocal8Bit());
    if (xdgConfigHome == "-")
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME",
                (xdgConfigHome == "rel" ? xdgConfigHome : temp.filePath(xdgConfigHome)).toLocal8Bit());
    const QString settings = temp.filePath(settingsFolder);

    std::string path;
    WriteIniString("Connection", "Server", "pbx1", path);
    QCOMPARE(QString::fromStdString(path), settings + "/kavrel.INI");
    QVERIFY(QFileInfo::exists(settings + "/kavrel.INI"));
    ProtocolTrace trace;
    QVERIFY(trace.open("KAVREL.LOG").ok());
    QCOMPARE(QString::fromStdString(trace.path()), settings + "/KAVREL.LOG");
    QCOMPARE(QString::fromStdString(ProgramLocation::defaultLocalFolder()), temp.filePath(localFolder));
    if (installed) {
        struct stat folder {};
        QVERIFY(::stat(QFile::encodeName(settings).constData(), &folder) == 0);
        QCOMPARE(folder.st_mode & 0777, 0700u);
        QCOMPARE(QString::fromStdString(TransferCommands::LocalBaseDirectory("  ")),
                 temp.filePath(localFolder));
        QVERIFY(QDir(program).isEmpty());
    }

    // kavrel-cli without --settings reads the window's file: it names the one it looked for.
    QVERIFY(QFile::remove(settings + "/kavrel.INI"));
    std::FILE* err = std::tmpfile();
    CliOptions options;
    options.command = CliOptions::Command::Backup;
    QCOMPARE(RunCli(options, stdout, err), 64);
    char text[1024] = {};
    std::rewind(err);
    QVERIFY(std::fread(text, 1, sizeof text - 1, err) > 0);
    std::fclose(err);
    QVERIFY2(QString(text).contains(settings + "/kavrel.INI\n"), text);
}

QTEST_GUILESS_MAIN(TestLayout)
#include "tst_layout.moc"
