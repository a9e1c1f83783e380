#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// What kavrel-cli takes from its settings file: no connection value from the window's first-run
// defaults, and a word when the file that holds the password can be read by others.
class TestCliSettings : public QObject {
    Q_OBJECT

private slots:
    void connectionComesOnlyFromTheFile_data();
    void connectionComesOnlyFromTheFile();
};

void TestCliSettings::connectionComesOnlyFromTheFile_data() {
    QTest::addColumn<QString>("connection");
    QTest::addColumn<int>("permissions");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("said");
    const QString unreachable = "Server=127.0.0.1:1\n";
    const int ownerOnly = int(QFile::ReadOwner | QFile::WriteOwner);
    QTest::newRow("no section") << "" << ownerOnly << 64 << "no Server key in the [Connection] section";
    QTest::newRow("no server") << "[Connection]\nUser=u\nPassword=p\n"
                               << ownerOnly << 64 << "no Server key in the [Connection] section";
    QTest::newRow("no user") << "[Connection]\n" + unreachable + "Password=p\n"
                             << ownerOnly << 64 << "no User key in the [Connection] section";
    QTest::newRow("no password") << "[Connection]\n" + unreachable + "User=u\n"
                                 << ownerOnly << 64 << "no Password key in the [Connection] section";
    QTest::newRow("readable by others")
        << "[Connection]\n" + unreachable + "User=u\nPassword=p\n"
        << int(ownerOnly | QFile::ReadOther) << 2 << "holds the password and can be read by other users";
    QTest::newRow("owner-only") << "[Connection]\n" + unreachable + "User=u\nPassword=p\n"
                                << ownerOnly << 2 << "";
}

// A file without a [Connection] section once made a scheduled run connect to "trelvik" as "admin".
void TestCliSettings::connectionComesOnlyFromTheFile() {
    QFETCH(QString, connection);
    QFETCH(int, permissions);
    QFETCH(int, exitCode);
    QFETCH(QString, said);
    QTemporaryDir work;
    QFile settings(work.filePath("job.INI"));
    QVERIFY(settings.open(QIODevice::WriteOnly));
    settings.write((connection + "[LocalHost]\nDataPath=" + work.filePath("backup") + "\n").toUtf8());
    settings.close();
    QVERIFY(settings.setPermissions(QFile::Permissions(permissions)));
    QProcess cli;
    cli.start(QStringLiteral(KAVREL_CLI_PATH), {"backup", "--settings", settings.fileName()});
    QVERIFY(cli.waitForFinished(30000));
    const QString output = QString::fromUtf8(cli.readAllStandardOutput() + cli.readAllStandardError());
    QCOMPARE(cli.exitCode(), exitCode);
    QCOMPARE(output.count("can be read by other users"), said.contains("other users") ? 1 : 0);
    QVERIFY2(output.contains(said), qPrintable(output));
}

QTEST_GUILESS_MAIN(TestCliSettings)
#include "tst_clisettings.moc"
