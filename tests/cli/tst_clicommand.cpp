#include "FtpServerFixture.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/types.h>

namespace {

constexpr int kRunTimeoutMs = 60000;

using Tree = QMap<QString, QByteArray>; // relative path -> content

struct RunResult {
    int exitCode = -1;
    bool crashed = true;
    QString out;
    QString err;
};

// Bytes that differ from file to file and from position to position, so a swapped or shifted file shows.
QByteArray contentFor(const QString& name, int size, int generation = 1) {
    QByteArray bytes(size, '\0');
    quint32 state = qHash(name) ^ static_cast<quint32>(generation * 2654435761u);
    for (int i = 0; i < size; ++i) {
        state = state * 1103515245u + 12345u;
        bytes[i] = static_cast<char>(state >> 24);
    }
    return bytes;
}

void writeTree(const QString& root, const Tree& tree) {
    for (auto it = tree.begin(); it != tree.end(); ++it) {
        const QString path = root + '/' + it.key();
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
        QCOMPARE(file.write(it.value()), it.value().size());
    }
}

// Every file under root (hidden ones too: a staging folder left behind must show), by relative path.
Tree readTree(const QString& root) {
    Tree tree;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            tree.insert(QDir(root).relativeFilePath(path), file.readAll());
        else
            tree.insert(QDir(root).relativeFilePath(path), QByteArray("<unreadable>"));
    }
    return tree;
}

QStringList subfoldersOf(const QString& root) {
    return QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
}

// A small voice-mail server: each category, Prompts with two subdirectories, and one level too deep.
Tree voiceMailTree(int generation = 1) {
    Tree tree;
    auto add = [&](const QString& path, int size) { tree.insert(path, contentFor(path, size, generation)); };
    add("DTA/system.dat", 1000);
    add("DTA/routing.dat", 70000);
    add("PMT/p1.wav", 5000);
    add("PMT/p2.wav", 0);
    add("PMT/A/x.wav", 3000);
    add("PMT/B/y.wav", 4000);
    for (int i = 1; i <= 5; ++i)
        add(QStringLiteral("MSG/m%1.msg").arg(i), 8192 * i);
    add("MBX/u100.mbx", 512);
    return tree;
}

// What a backup of voiceMailTree() holds: Prompts goes one level deep only.
Tree withoutDeeperThanPrompts(Tree tree) {
    tree.remove("PMT/A/deep/z.wav");
    return tree;
}

Tree onlyFolders(const Tree& tree, const QStringList& folders) {
    Tree kept;
    for (auto it = tree.begin(); it != tree.end(); ++it) {
        if (folders.contains(it.key().section('/', 0, 0)))
            kept.insert(it.key(), it.value());
    }
    return kept;
}

QString describe(const Tree& actual, const Tree& expected) {
    QStringList lines;
    for (auto it = expected.begin(); it != expected.end(); ++it) {
        if (!actual.contains(it.key()))
            lines << "missing " + it.key();
        else if (actual.value(it.key()) != it.value())
            lines << "differs " + it.key();
    }
    for (auto it = actual.begin(); it != actual.end(); ++it) {
        if (!expected.contains(it.key()))
            lines << "unexpected " + it.key();
    }
    return lines.join("; ");
}

#define COMPARE_TREES(actual, expected)                                                                      \
    do {                                                                                                     \
        const Tree actualTree = (actual);                                                                    \
        const Tree expectedTree = (expected);                                                                \
        QVERIFY2(actualTree == expectedTree, qPrintable(describe(actualTree, expectedTree)));                \
    } while (false)

QStringList lastLines(const QString& text, int count) {
    QStringList lines = text.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines.mid(qMax(0, lines.size() - count));
}

} // namespace

class TestCliCommand : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void backupCopiesEveryTickedCategory();
    void restoreRebuildsTheServerByteForByte();
    void selectionFromSettingsOrOnly_data();
    void selectionFromSettingsOrOnly();
    void localDirOverridesTheSettings();
    void couldNotConnectOrLogIn_data();
    void couldNotConnectOrLogIn();
    void failingFileHaltsPrematurely_data();
    void failingFileHaltsPrematurely();
    void signalStopsBetweenFilesAndKeepsPreviousBackup_data();
    void signalStopsBetweenFilesAndKeepsPreviousBackup();
    void missingSettingsFile_data();
    void missingSettingsFile();
    void emptyConnectionFieldIsRefused_data();
    void emptyConnectionFieldIsRefused();
    void usageErrors_data();
    void usageErrors();
    void settingsFileIsNeverWritten();
    void quietPrintsOnlyWhatWentWrong();
    void helpAndVersion();

private:
    QString settingsPath() const { return m_work->filePath("job/kavrel-job.INI"); }
    QString backupDir() const { return m_work->filePath("backup"); }
    void writeSettings(const QString& extra = QString(), const QString& server = QString());
    RunResult run(const QStringList& arguments);
    QStringList serverCommands(const QString& verb) const;

    std::unique_ptr<QTemporaryDir> m_work;
    std::unique_ptr<FtpServerFixture> m_server;
};

void TestCliCommand::init() {
    m_work = std::make_unique<QTemporaryDir>();
    QVERIFY(m_work->isValid());
    QVERIFY(QDir(m_work->path()).mkdir("job"));
    m_server = std::make_unique<FtpServerFixture>();
    QVERIFY(m_server->start());
}

void TestCliCommand::cleanup() {
    m_server.reset();
    m_work.reset();
}

void TestCliCommand::writeSettings(const QString& extra, const QString& server) {
    QFile file(settingsPath());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    const QString text = QStringLiteral("[Connection]\nServer=%1\nUser=admin\nPassword=tamsk\n"
                                        "[LocalHost]\nDataPath=%2\n%3")
                             .arg(server.isEmpty() ? m_server->address() : server, backupDir(), extra);
    file.write(text.toUtf8());
}

RunResult TestCliCommand::run(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral(KAVREL_CLI_PATH), arguments);
    RunResult result;
    if (!process.waitForStarted() || !process.waitForFinished(kRunTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        result.err = "kavrel-cli did not finish";
        return result;
    }
    result.exitCode = process.exitCode();
    result.crashed = process.exitStatus() != QProcess::NormalExit;
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

QStringList TestCliCommand::serverCommands(const QString& verb) const {
    QStringList matching;
    for (const QString& line : m_server->commands()) {
        if (line.section(' ', 0, 0).compare(verb, Qt::CaseInsensitive) == 0)
            matching << line;
    }
    return matching;
}

void TestCliCommand::backupCopiesEveryTickedCategory() {
    Tree server = voiceMailTree();
    server.insert("PMT/A/deep/z.wav", contentFor("z", 100));
    writeTree(m_server->root(), server);
    writeSettings();

    const RunResult result = run({"backup", "--settings", settingsPath()});
    QVERIFY2(!result.crashed && result.exitCode == 0, qPrintable(result.out + result.err));
    COMPARE_TREES(readTree(backupDir()), withoutDeeperThanPrompts(server));
    QCOMPARE(subfoldersOf(backupDir()), (QStringList{"DTA", "MBX", "MSG", "PMT"}));

    // The window's connect lines, then the categories in order, headers between blank lines.
    QVERIFY2(result.out.startsWith("FTP Client Engine Version "), qPrintable(result.out));
    QVERIFY2(result.out.contains("Connecting to server...\nConnected to " + m_server->address() +
                                 "\nMode set to Binary\n"),
             qPrintable(result.out));
    const QStringList headers{"\n\nBacking up application data\n\n", "\n\nBacking up prompts\n\n",
                              "\n\nBacking up messages\n\n", "\n\nBacking up subscriber data\n\n"};
    qsizetype previous = -1;
    for (const QString& header : headers) {
        const qsizetype at = result.out.indexOf(header);
        QVERIFY2(at > previous, qPrintable(header + " out of place in:\n" + result.out));
        previous = at;
    }
    QCOMPARE(lastLines(result.out, 1), QStringList{"Backup completed."});
    QVERIFY2(!result.out.contains('\r'), "CR LF of the headers must be plain line breaks");
    QCOMPARE(result.err, QString()); // not a terminal: no progress line at all
    // Passive and binary on the wire, and the session closed.
    QVERIFY(!serverCommands("TYPE").isEmpty());
    QCOMPARE(serverCommands("TYPE").last(), QStringLiteral("TYPE I"));
    QCOMPARE(serverCommands("QUIT").size(), 1);
}

void TestCliCommand::restoreRebuildsTheServerByteForByte() {
    const Tree server = voiceMailTree();
    writeTree(m_server->root(), server);
    writeSettings();
    const RunResult backup = run({"backup", "--settings", settingsPath()});
    QCOMPARE(backup.exitCode, 0);

    // A fresh, empty server takes the backup back.
    FtpServerFixture fresh;
    QVERIFY(fresh.start());
    writeSettings(QString(), fresh.address());
    const RunResult restore = run({"restore", "--settings", settingsPath()});
    QVERIFY2(!restore.crashed && restore.exitCode == 0, qPrintable(restore.out + restore.err));
    COMPARE_TREES(readTree(fresh.root()), server);
    QVERIFY(restore.out.contains("\n\nRestoring application data\n\n"));
    QVERIFY(restore.out.contains("\n\nRestoring subscriber data\n\n"));
    QCOMPARE(lastLines(restore.out, 1), QStringList{"Restore completed."});
    // Restore leaves the local side as it was.
    COMPARE_TREES(readTree(backupDir()), server);
}

void TestCliCommand::selectionFromSettingsOrOnly_data() {
    QTest::addColumn<QString>("selection");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("expectedFolders");

    QTest::newRow("settings tick all by default")
        << QString() << QStringList{} << QStringList{"DTA", "MBX", "MSG", "PMT"};
    QTest::newRow("settings untick two") << "[Selection]\nData=0\nPrompt=1\nMessage=0\nMailbox=-1\n"
                                         << QStringList{} << QStringList{"MBX", "PMT"};
    QTest::newRow("only overrides the settings")
        << "[Selection]\nData=0\nPrompt=0\nMessage=0\nMailbox=0\n"
        << QStringList{"--only", "MSG,DTA"} << QStringList{"DTA", "MSG"};
    QTest::newRow("only one") << QString() << QStringList{"--only=mbx"} << QStringList{"MBX"};
    QTest::newRow("nothing ticked") << "[Selection]\nData=0\nPrompt=0\nMessage=0\nMailbox=0\n"
                                    << QStringList{} << QStringList{};
}

void TestCliCommand::selectionFromSettingsOrOnly() {
    QFETCH(QString, selection);
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, expectedFolders);
    const Tree server = voiceMailTree();
    writeTree(m_server->root(), server);
    writeSettings(selection);

    const RunResult result = run(QStringList{"backup", "--settings", settingsPath()} + arguments);
    QVERIFY2(result.exitCode == 0, qPrintable(result.out + result.err));
    QCOMPARE(subfoldersOf(backupDir()), expectedFolders);
    COMPARE_TREES(readTree(backupDir()), onlyFolders(server, expectedFolders));
    QCOMPARE(result.out.contains("Backing up application data"), expectedFolders.contains("DTA"));
    QCOMPARE(result.out.contains("Backing up prompts"), expectedFolders.contains("PMT"));
    QCOMPARE(result.out.contains("Backing up messages"), expectedFolders.contains("MSG"));
    QCOMPARE(result.out.contains("Backing up subscriber data"), expectedFolders.contains("MBX"));
    QCOMPARE(lastLines(result.out, 1), QStringList{"Backup completed."});
}

void TestCliCommand::localDirOverridesTheSettings() {
    const Tree server = voiceMailTree();
    writeTree(m_server->root(), server);
    writeSettings();
    const QString elsewhere = m_work->filePath("elsewhere");

    const RunResult result = run({"backup", "--settings", settingsPath(), "--local-dir", elsewhere});
    QVERIFY2(result.exitCode == 0, qPrintable(result.out + result.err));
    COMPARE_TREES(readTree(elsewhere), server);
    QVERIFY2(!QFileInfo::exists(backupDir()), "the settings' DataPath must not be touched");
    QVERIFY(result.out.contains("Setting local directory to " + elsewhere + "/DTA"));
}

void TestCliCommand::couldNotConnectOrLogIn_data() {
    QTest::addColumn<bool>("refuseLogin");
    QTest::addColumn<QString>("command");
    QTest::newRow("refused login, backup") << true << "backup";
    QTest::newRow("refused login, restore") << true << "restore";
    QTest::newRow("nobody listening") << false << "backup";
}

void TestCliCommand::couldNotConnectOrLogIn() {
    QFETCH(bool, refuseLogin);
    QFETCH(QString, command);
    writeTree(m_server->root(), voiceMailTree());
    QString server;
    if (refuseLogin) {
        m_server->setFaults(QJsonObject{{"refuse_login", true}});
    } else {
        FtpServerFixture gone;
        QVERIFY(gone.start());
        server = gone.address();
    } // the port of a server that has just stopped
    writeSettings(QString(), server);

    const RunResult result = run({command, "--settings", settingsPath()});
    QVERIFY(!result.crashed);
    QCOMPARE(result.exitCode, 2);
    QVERIFY(result.out.contains("Connecting to server...\n"));
    QVERIFY(!result.out.contains("Connected to"));
    QVERIFY2(lastLines(result.out, 1) != QStringList{"Connecting to server..."},
             "the engine's reason follows the connect line");
    QVERIFY2(!QFileInfo::exists(backupDir()), "nothing local is touched without a session");
}

void TestCliCommand::failingFileHaltsPrematurely_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("verb");
    QTest::addColumn<QString>("summary");
    QTest::newRow("backup") << "backup"
                            << "RETR"
                            << "Backup halted prematurely.";
    QTest::newRow("restore") << "restore"
                             << "STOR"
                             << "Restore halted prematurely.";
}

void TestCliCommand::failingFileHaltsPrematurely() {
    QFETCH(QString, command);
    QFETCH(QString, verb);
    QFETCH(QString, summary);
    const Tree tree = voiceMailTree();
    writeTree(command == "backup" ? m_server->root() : backupDir(), tree);
    writeSettings();
    m_server->setFaults(QJsonObject{
        {"transfer_error", QJsonObject{{"command", verb}, {"name", "m3.msg"}, {"text", "Disk gone."}}}});

    const RunResult result = run({command, "--settings", settingsPath()});
    QVERIFY(!result.crashed);
    QCOMPARE(result.exitCode, 1);
    QVERIFY2(result.out.contains("Disk gone."), qPrintable(result.out));
    QCOMPARE(lastLines(result.out, 1), QStringList{summary});
    QVERIFY2(!result.out.contains("subscriber data"), "no category starts after the failure");
    if (command == "backup") {
        // Categories before the failure are complete; the failed folder never got half a backup.
        COMPARE_TREES(readTree(backupDir()), onlyFolders(tree, {"DTA", "PMT"}));
    } else {
        QVERIFY(!QFileInfo::exists(m_server->root() + "/MBX"));
        QVERIFY(!QFileInfo::exists(m_server->root() + "/MSG/m3.msg"));
    }
}

void TestCliCommand::signalStopsBetweenFilesAndKeepsPreviousBackup_data() {
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGTERM") << int(SIGTERM);
}

void TestCliCommand::signalStopsBetweenFilesAndKeepsPreviousBackup() {
    QFETCH(int, signalNumber);
    const Tree first = voiceMailTree(1);
    writeTree(m_server->root(), first);
    writeSettings();
    QCOMPARE(run({"backup", "--settings", settingsPath()}).exitCode, 0);

    // The server's data changes; the next backup is stopped inside its first directory.
    const Tree second = voiceMailTree(2);
    writeTree(m_server->root(), second);
    m_server->clearCommands();
    // routing.dat (70,000 bytes) takes about two seconds; the signal comes while it moves.
    m_server->setFaults(QJsonObject{
        {"throttle",
         QJsonObject{{"command", "RETR"}, {"name", "routing.dat"}, {"bytes_per_second", 35000}}}});

    QProcess process;
    process.start(QStringLiteral(KAVREL_CLI_PATH), {"backup", "--settings", settingsPath()});
    QVERIFY(process.waitForStarted());
    QDeadlineTimer deadline(20000);
    while (!serverCommands("RETR").contains("RETR routing.dat") && !deadline.hasExpired() &&
           process.state() == QProcess::Running)
        QTest::qWait(20);
    QVERIFY2(serverCommands("RETR").contains("RETR routing.dat"),
             qPrintable(serverCommands("RETR").join(", ")));
    QTest::qWait(200);
    const qsizetype filesStarted = serverCommands("RETR").size();
    QCOMPARE(::kill(static_cast<pid_t>(process.processId()), signalNumber), 0);
    QVERIFY(process.waitForFinished(kRunTimeoutMs));
    const QString out = QString::fromUtf8(process.readAllStandardOutput());

    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 3);
    QCOMPARE(lastLines(out, 2), (QStringList{"...Done.", "Backup halted by user."}));
    // The file in transfer completed without an error, and no further file was started.
    QCOMPARE(serverCommands("RETR").size(), filesStarted);
    QVERIFY2(!out.contains("rror"), qPrintable(out));
    QVERIFY2(!out.contains("Backing up prompts"), qPrintable(out));
    // Every folder keeps the previous backup exactly, and no staging leftovers.
    COMPARE_TREES(readTree(backupDir()), first);
    QCOMPARE(subfoldersOf(backupDir() + "/DTA"), QStringList{});
}

void TestCliCommand::missingSettingsFile_data() {
    QTest::addColumn<QString>("settingsName");
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("no such file") << "job/none.INI" << QByteArray();
    QTest::newRow("a folder") << "job" << QByteArray();
    QTest::newRow("no such folder") << "nowhere/kavrel.INI" << QByteArray();
    QTest::newRow("binary, which the readers would ignore")
        << "job/binary.INI" << QByteArray("[Connection]\nServer=127.0.0.1\n\0\x01\x02", 33);
}

void TestCliCommand::missingSettingsFile() {
    QFETCH(QString, settingsName);
    QFETCH(QByteArray, content);
    const QString path = m_work->filePath(settingsName);
    if (!content.isEmpty()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    m_server->clearCommands();
    const RunResult result = run({"backup", "--settings", path});
    QVERIFY(!result.crashed);
    QCOMPARE(result.exitCode, 64);
    QVERIFY2(result.err.contains("settings file missing, unreadable or not a settings file: " + path),
             qPrintable(result.err));
    QCOMPARE(result.out, QString());
    QVERIFY2(!content.isEmpty() || !QFileInfo::exists(path) || QFileInfo(path).isDir(),
             "the missing file must not be created");
    QVERIFY2(!QFileInfo::exists(backupDir()), "nothing is backed up with made-up settings");
}

void TestCliCommand::emptyConnectionFieldIsRefused_data() {
    QTest::addColumn<QString>("connection");
    QTest::addColumn<QString>("message");
    QTest::newRow("server") << "[Connection]\nServer=\n"
                            << "No server name or address specified.";
    QTest::newRow("user") << "[Connection]\nServer=x\nUser=\n"
                          << "No user name specifed.";
    QTest::newRow("password") << "[Connection]\nServer=x\nUser=admin\nPassword=\n"
                              << "No password specified.";
}

void TestCliCommand::emptyConnectionFieldIsRefused() {
    QFETCH(QString, connection);
    QFETCH(QString, message);
    QFile file(settingsPath());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(connection.toUtf8());
    file.close();
    const RunResult result = run({"backup", "--settings", settingsPath()});
    QCOMPARE(result.exitCode, 64);
    QVERIFY2(result.err.contains(message), qPrintable(result.err));
    QCOMPARE(result.out, QString());
}

void TestCliCommand::usageErrors_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("no command") << QStringList{};
    QTest::newRow("unknown option") << QStringList{"backup", "--fast"};
    QTest::newRow("unknown category") << QStringList{"backup", "--only", "WAV"};
    QTest::newRow("two commands") << QStringList{"backup", "restore"};
}

void TestCliCommand::usageErrors() {
    QFETCH(QStringList, arguments);
    writeSettings();
    const RunResult result = run(arguments + QStringList{"--settings", settingsPath()});
    QCOMPARE(result.exitCode, 64);
    QVERIFY2(result.err.startsWith("kavrel-cli: "), qPrintable(result.err));
    QVERIFY(result.err.contains("Try 'kavrel-cli --help'."));
    QCOMPARE(result.out, QString());
    QVERIFY(serverCommands("USER").isEmpty());
}

void TestCliCommand::settingsFileIsNeverWritten() {
    writeTree(m_server->root(), voiceMailTree());
    writeSettings("[Selection]\nData=5\n; a comment the window's writer would drop\n");
    const QDateTime old = QDateTime::fromString("2020-01-02T03:04:05Z", Qt::ISODate);
    {
        QFile file(settingsPath());
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(old, QFileDevice::FileModificationTime));
    }
    QFile::setPermissions(settingsPath(), QFile::ReadOwner | QFile::WriteOwner);
    QFile before(settingsPath());
    QVERIFY(before.open(QIODevice::ReadOnly));
    const QByteArray bytes = before.readAll();
    const auto inode = QFileInfo(settingsPath()).fileTime(QFileDevice::FileMetadataChangeTime);

    QCOMPARE(run({"backup", "--settings", settingsPath()}).exitCode, 0);
    QCOMPARE(run({"restore", "--settings", settingsPath()}).exitCode, 0);
    m_server->setFaults(QJsonObject{{"refuse_login", true}});
    QCOMPARE(run({"backup", "--settings", settingsPath()}).exitCode, 2);

    QFile after(settingsPath());
    QVERIFY(after.open(QIODevice::ReadOnly));
    QCOMPARE(after.readAll(), bytes);
    const QFileInfo info(settingsPath());
    QCOMPARE(info.lastModified(), old);
    QCOMPARE(info.fileTime(QFileDevice::FileMetadataChangeTime), inode); // not replaced by rename either
    QCOMPARE(info.permissions() & (QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther),
             QFile::ReadOwner | QFile::WriteOwner);
    // Beside it only the protocol trace appears, with the password masked.
    QStringList beside = QDir(m_work->filePath("job")).entryList(QDir::Files);
    beside.removeAll("kavrel-job.INI");
    for (const QString& name : beside)
        QVERIFY2(name.startsWith("KAVREL.LOG"), qPrintable(name));
    QFile trace(m_work->filePath("job/KAVREL.LOG"));
    QVERIFY(trace.open(QIODevice::ReadOnly));
    const QByteArray traced = trace.readAll();
    QVERIFY(traced.contains("USER admin"));
    QVERIFY(!traced.contains("tamsk"));
}

void TestCliCommand::quietPrintsOnlyWhatWentWrong() {
    writeTree(m_server->root(), voiceMailTree());
    writeSettings();
    const RunResult good = run({"backup", "--quiet", "--settings", settingsPath()});
    QCOMPARE(good.exitCode, 0);
    QCOMPARE(good.out, QString());
    QCOMPARE(good.err, QString());

    m_server->setFaults(
        QJsonObject{{"transfer_error", QJsonObject{{"command", "RETR"}, {"name", "u100.mbx"}}}});
    const RunResult bad = run({"backup", "-q", "--settings", settingsPath()});
    QCOMPARE(bad.exitCode, 1);
    QVERIFY2(bad.out.contains("Connecting to server...\n"), qPrintable(bad.out));
    QVERIFY(bad.out.contains("Backing up subscriber data"));
    QCOMPARE(lastLines(bad.out, 1), QStringList{"Backup halted prematurely."});
}

void TestCliCommand::helpAndVersion() {
    const RunResult help = run({"--help"});
    QCOMPARE(help.exitCode, 0);
    QVERIFY(help.out.startsWith("Usage: kavrel-cli backup|restore [options]\n"));
    QVERIFY(help.out.contains("--local-dir DIR"));
    const RunResult version = run({"--version"});
    QCOMPARE(version.exitCode, 0);
    QVERIFY2(QRegularExpression("^kavrel-cli \\d+\\.\\d+\\.\\d+\n$").match(version.out).hasMatch(),
             qPrintable(version.out));
}

QTEST_GUILESS_MAIN(TestCliCommand)
#include "tst_clicommand.moc"
