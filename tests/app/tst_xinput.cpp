#include "FtpServerFixture.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

// The program as an administrator drives it: under Xvfb with openbox, clicked with xdotool and
// closed through the window manager, against a throttled or stalled test server. The click on Abort is
// one real X event after which the pointer stays still. Every wait is on a condition (the server's
// command log, a window that appears), never a fixed delay.
class TestXInput : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void stopDuringAFile_data();
    void stopDuringAFile();

private:
    // Runs xdotool or wmctrl on our display; its standard output, trimmed.
    QString x(const QString& tool, const QStringList& arguments);
    // A click on the button whose centre lies this many twips below the window's top (Connect, Backup
    // and Abort share one column); when done is given, repeated until it holds (a click that came
    // before the button could take it is lost).
    bool click(int twipsDown, const std::function<bool()>& done = {});
    int sent(const QString& verb) const {
        return server.commands().filter(QRegularExpression("^" + verb)).size();
    }

    QProcessEnvironment display = QProcessEnvironment::systemEnvironment();
    QProcess xvfb;
    QProcess openbox;
    FtpServerFixture server;
    QString window; // the main window's X id
    double pixelsPerTwip = 0;
};

namespace {

constexpr int kConnect = 510, kBackup = 3550, kAbort = 5070; // button centres, twips below the window's top
// How long a step may take on a loaded machine (the sanitized build, other tests beside it); a wait
// ends as soon as its condition holds, so this costs nothing when all goes well.
constexpr int kPatienceMs = 60000;

bool waitFor(const std::function<bool()>& condition, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > ms)
            return false;
        QTest::qWait(50);
    }
    return true;
}

} // namespace

void TestXInput::initTestCase() {
    // Xvfb picks a free display number itself and writes it to the descriptor given: here its stdout.
    xvfb.setStandardErrorFile(QProcess::nullDevice());
    xvfb.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"});
    QVERIFY2(xvfb.waitForStarted() && xvfb.waitForReadyRead(kPatienceMs), "no Xvfb: run scripts/setup");
    display.insert("DISPLAY", ":" + QString::fromLatin1(xvfb.readLine()).trimmed());
    display.insert("QT_QPA_PLATFORM", "xcb");
    display.remove("QT_NO_GLIB"); // the event loop as the program runs by default
    openbox.setProcessEnvironment(display);
    openbox.setProcessChannelMode(QProcess::ForwardedChannels);
    openbox.start("openbox", {});
    QVERIFY2(openbox.waitForStarted(), "no openbox: run scripts/setup");
    QVERIFY2(waitFor([&] { return x("wmctrl", {"-m"}).contains("Openbox"); }, kPatienceMs), "no openbox");
    QVERIFY(server.start());
    for (int file = 1; file <= 4; ++file)
        QVERIFY(writeFile(server.root() + QString("/DTA/f%1.dat").arg(file), patternBytes(30000, file)));
    QVERIFY(writeFile(server.root() + "/PMT/p1.wav", patternBytes(30000, 5)));
}

void TestXInput::cleanupTestCase() {
    for (QProcess* process : {&openbox, &xvfb}) {
        process->terminate(); // by its process id
        process->waitForFinished(5000);
    }
}

QString TestXInput::x(const QString& tool, const QStringList& arguments) {
    QProcess process;
    process.setProcessEnvironment(display);
    process.start(tool, arguments);
    if (!process.waitForFinished(kPatienceMs))
        process.kill();
    process.waitForFinished();
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

bool TestXInput::click(int twipsDown, const std::function<bool()>& done) {
    for (int attempt = 0; attempt < 10; ++attempt) {
        x("xdotool",
          {"mousemove", "--window", window, "--sync", QString::number(qRound(3942 * pixelsPerTwip)),
           QString::number(qRound(twipsDown * pixelsPerTwip)), "click", "1"});
        if (!done || waitFor(done, 3000))
            return true;
    }
    return false;
}

void TestXInput::stopDuringAFile_data() {
    QTest::addColumn<int>("closes");    // through the window manager; none: a click on Abort
    QTest::addColumn<QString>("fault"); // on RETR: 2 s a file, or no answer at all
    QTest::addColumn<QString>("title"); // of the summary box
    QTest::addColumn<int>("leastMs");   // from the stop to the summary box
    QTest::addColumn<int>("mostMs");
    const QString complete = "Backup Complete";
    const QString halted = "Error During Backup";
    QTest::newRow("Abort") << 0 << "throttle" << complete << 0 << kPatienceMs;
    QTest::newRow("window-manager close") << 1 << "throttle" << complete << 0 << kPatienceMs;
    // Not taken in until the file ends, the close would wait out the 60 s silence limit.
    QTest::newRow("close, the file stalls: cut 10 s after the close")
        << 1 << "silence" << halted << 9500 << 30000;
    QTest::newRow("a second close cuts it at once") << 2 << "silence" << halted << 0 << 8000;
}

// The file in hand completes (a stalled one is cut short 10 s after a close, or at a second) and no
// file after the next one starts; after Abort the focus is not left on Exit; a closed window goes once its
// summary box is answered, with its settings written.
void TestXInput::stopDuringAFile() {
    QFETCH(int, closes);
    QFETCH(QString, fault);
    QFETCH(QString, title);
    QFETCH(int, leastMs);
    QFETCH(int, mostMs);
    QTemporaryDir folder; // the program's folder: its settings file and trace go beside it
    const QString settings = folder.filePath("kavrel.INI");
    QVERIFY(QFile::copy(KAVREL_PATH, folder.filePath("kavrel")));
    QVERIFY(writeFile(settings, QString("[Connection]\nServer=%1\nUser=admin\nPassword=tamsk\n[LocalHost]\n"
                                        "DataPath=%2\n")
                                    .arg(server.address(), folder.filePath("backup"))
                                    .toUtf8()));
    server.setFaults({{fault, QJsonObject{{"command", "RETR"}, {"bytes_per_second", 15000}}}});
    server.clearCommands();
    QProcess kavrel;
    kavrel.setProcessEnvironment(display);
    kavrel.start(folder.filePath("kavrel"));
    window =
        x("xdotool", {"search", "--sync", "--onlyvisible", "--name", "^Trelvik Backup and Restore Utility$"});
    QVERIFY(!window.isEmpty());
    const QString geometry = x("xdotool", {"getwindowgeometry", "--shell", window});
    pixelsPerTwip = QRegularExpression("WIDTH=(\\d+)").match(geometry).captured(1).toDouble() / 11385;
    QVERIFY(click(kConnect, [&] { return sent("TYPE I") == 1; }));
    QVERIFY(click(kBackup, [&] { return sent("RETR") > 0; }));

    const int started = sent("RETR");
    QElapsedTimer clock;
    clock.start();
    for (int close = 0; close < closes; ++close)
        x("wmctrl", {"-i", "-c", window});
    if (closes == 0)
        click(kAbort);
    QString box;
    const QStringList summary{"search", "--name", "^(Backup Complete|Error During Backup)$"};
    QVERIFY(waitFor([&] { return !(box = x("xdotool", summary)).isEmpty(); }, mostMs));
    QVERIFY2(clock.elapsed() >= leastMs, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(x("xdotool", {"getwindowname", box}), title);
    QVERIFY2(sent("RETR") <= started + 1, qPrintable(server.commands().filter("RETR").join(' ')));
    QVERIFY(waitFor(
        [&] {
            x("xdotool", {"windowactivate", "--sync", box, "key", "Return"});
            return x("xdotool", summary).isEmpty();
        },
        kPatienceMs));
    if (closes == 0) {
        // Abort had the focus: passed on to Exit, this Space would end the program before Connect.
        x("xdotool", {"windowactivate", "--sync", window, "key", "space", "alt+d"});
        QVERIFY(waitFor([&] { return sent("QUIT") == 1; }, kPatienceMs));
        x("xdotool", {"key", "alt+c"});
        QVERIFY(waitFor([&] { return sent("USER") == 2; }, kPatienceMs));
        x("wmctrl", {"-i", "-c", window});
    }
    QVERIFY(kavrel.waitForFinished(kPatienceMs));
    QCOMPARE(kavrel.exitCode(), 0);
    QVERIFY(readFile(settings).contains("[Selection]"));
}

QTEST_GUILESS_MAIN(TestXInput)
#include "tst_xinput.moc"
