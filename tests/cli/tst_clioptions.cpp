#include "CliOptions.h"
#include "ProgressLine.h"

#include <QTest>

#include <string>
#include <vector>

Q_DECLARE_METATYPE(CliOptions::Command)

namespace {

CliParseResult parse(const QStringList& words) {
    std::vector<std::string> storage{"kavrel-cli"};
    for (const auto& word : words)
        storage.push_back(word.toStdString());
    std::vector<const char*> argv;
    for (const auto& text : storage)
        argv.push_back(text.c_str());
    return ParseCliOptions(static_cast<int>(argv.size()), argv.data());
}

QString joined(const std::optional<std::vector<std::string>>& folders) {
    if (!folders)
        return QStringLiteral("<none>");
    QStringList names;
    for (const auto& name : *folders)
        names << QString::fromStdString(name);
    return names.join(',');
}

} // namespace

class TestCliOptions : public QObject {
    Q_OBJECT

private slots:
    void acceptedLines_data();
    void acceptedLines();
    void refusedLines_data();
    void refusedLines();
    void helpWinsOverEverythingElse();
    void progressLineText_data();
    void progressLineText();
    void progressLineSilentWhenDisabled();
};

void TestCliOptions::acceptedLines_data() {
    QTest::addColumn<QStringList>("words");
    QTest::addColumn<CliOptions::Command>("command");
    QTest::addColumn<QString>("settings");
    QTest::addColumn<QString>("localDir");
    QTest::addColumn<QString>("only");
    QTest::addColumn<bool>("quiet");

    const auto none = QStringLiteral("<none>");
    QTest::newRow("backup alone") << QStringList{"backup"} << CliOptions::Command::Backup << none << none
                                  << none << false;
    QTest::newRow("restore alone") << QStringList{"restore"} << CliOptions::Command::Restore << none << none
                                   << none << false;
    QTest::newRow("options after the command")
        << QStringList{"backup", "--settings", "/etc/k.INI", "--local-dir", "/srv/b"}
        << CliOptions::Command::Backup << "/etc/k.INI"
        << "/srv/b" << none << false;
    QTest::newRow("options before the command, = form")
        << QStringList{"--settings=/etc/k.INI", "--local-dir=/srv/b", "restore"}
        << CliOptions::Command::Restore << "/etc/k.INI"
        << "/srv/b" << none << false;
    QTest::newRow("only, mixed case, repeated name")
        << QStringList{"backup", "--only", "msg,DTA,Msg"} << CliOptions::Command::Backup << none << none
        << "MSG,DTA" << false;
    QTest::newRow("only, all four") << QStringList{"backup", "--only=DTA,PMT,MSG,MBX"}
                                    << CliOptions::Command::Backup << none << none << "DTA,PMT,MSG,MBX"
                                    << false;
    QTest::newRow("quiet") << QStringList{"backup", "--quiet"} << CliOptions::Command::Backup << none << none
                           << none << true;
    QTest::newRow("short quiet") << QStringList{"-q", "restore"} << CliOptions::Command::Restore << none
                                 << none << none << true;
    QTest::newRow("the same command twice")
        << QStringList{"backup", "backup"} << CliOptions::Command::Backup << none << none << none << false;
    QTest::newRow("version") << QStringList{"--version"} << CliOptions::Command::Version << none << none
                             << none << false;
    QTest::newRow("help") << QStringList{"--help"} << CliOptions::Command::Help << none << none << none
                          << false;
    QTest::newRow("a settings path with blanks")
        << QStringList{"backup", "--settings", "/tmp/my folder/k.INI"} << CliOptions::Command::Backup
        << "/tmp/my folder/k.INI" << none << none << false;
}

void TestCliOptions::acceptedLines() {
    QFETCH(QStringList, words);
    QFETCH(CliOptions::Command, command);
    QFETCH(QString, settings);
    QFETCH(QString, localDir);
    QFETCH(QString, only);
    QFETCH(bool, quiet);

    const CliParseResult result = parse(words);
    QVERIFY2(result.error.empty(), result.error.c_str());
    QCOMPARE(result.options.command, command);
    QCOMPARE(result.options.settingsFile ? QString::fromStdString(*result.options.settingsFile) : "<none>",
             settings);
    QCOMPARE(result.options.localDir ? QString::fromStdString(*result.options.localDir) : "<none>", localDir);
    QCOMPARE(joined(result.options.only), only);
    QCOMPARE(result.options.quiet, quiet);
}

void TestCliOptions::refusedLines_data() {
    QTest::addColumn<QStringList>("words");
    QTest::addColumn<QString>("errorPart");

    QTest::newRow("nothing") << QStringList{} << "give a command";
    QTest::newRow("options only") << QStringList{"--quiet"} << "give a command";
    QTest::newRow("two commands") << QStringList{"backup", "restore"} << "one command";
    QTest::newRow("unknown word") << QStringList{"backup", "now"} << "unknown argument \"now\"";
    QTest::newRow("unknown option") << QStringList{"backup", "--force"} << "unknown argument";
    QTest::newRow("settings without value")
        << QStringList{"backup", "--settings"} << "--settings needs a value";
    QTest::newRow("empty settings value")
        << QStringList{"backup", "--settings="} << "--settings needs a value";
    QTest::newRow("empty local dir") << QStringList{"backup", "--local-dir", ""}
                                     << "--local-dir needs a value";
    QTest::newRow("unknown category") << QStringList{"backup", "--only", "DTA,XYZ"} << "--only takes";
    QTest::newRow("empty name in list") << QStringList{"backup", "--only", "DTA,,MSG"} << "--only takes";
    QTest::newRow("trailing comma") << QStringList{"backup", "--only=DTA,"} << "--only takes";
    QTest::newRow("a prefix is no option")
        << QStringList{"backup", "--settingsfile", "x"} << "unknown argument";
}

void TestCliOptions::refusedLines() {
    QFETCH(QStringList, words);
    QFETCH(QString, errorPart);
    const CliParseResult result = parse(words);
    QVERIFY2(QString::fromStdString(result.error).contains(errorPart), result.error.c_str());
}

void TestCliOptions::helpWinsOverEverythingElse() {
    const CliParseResult result = parse({"backup", "--version", "--only", "DTA", "-h"});
    QVERIFY(result.error.empty());
    QCOMPARE(result.options.command, CliOptions::Command::Help);
    QVERIFY(QString::fromStdString(CliUsageText()).contains("Exit status: 0 completed"));
}

void TestCliOptions::progressLineText_data() {
    QTest::addColumn<QString>("label");
    QTest::addColumn<double>("done");
    QTest::addColumn<double>("total");
    QTest::addColumn<double>("rate");
    QTest::addColumn<QString>("expected");

    QTest::newRow("megabytes") << "C:\\MSG" << 12.0 << 2000.0 << 3.44e6
                               << "C:\\MSG  12 of 2000 files  3.4 MB/s";
    QTest::newRow("kilobytes") << "C:\\PMT\\A" << 0.0 << 100.0 << 2600.0
                               << "C:\\PMT\\A  0 of 100 files  3 kB/s";
    QTest::newRow("no label") << "" << 5.0 << 5.0 << 0.0 << "5 of 5 files  0 kB/s";
    QTest::newRow("rate not known yet") << "C:\\DTA" << 0.0 << 40.0 << -1.0 << "C:\\DTA  0 of 40 files";
}

void TestCliOptions::progressLineText() {
    QFETCH(QString, label);
    QFETCH(double, done);
    QFETCH(double, total);
    QFETCH(double, rate);
    QFETCH(QString, expected);
    QCOMPARE(QString::fromStdString(ProgressLine::format(label.toStdString(), done, total, rate)), expected);
}

void TestCliOptions::progressLineSilentWhenDisabled() {
    char buffer[256] = {};
    std::FILE* sink = fmemopen(buffer, sizeof buffer - 1, "w");
    QVERIFY(sink);
    {
        ProgressLine off(sink, false);
        off.startDirectory("C:\\DTA", 3);
        off.setFilesDone(3);
        off.clear();
        std::fflush(sink);
        QCOMPARE(std::ftell(sink), 0L);
    }
    ProgressLine on(sink, true);
    on.setFilesDone(0); // before any directory: nothing to show
    on.startDirectory("C:\\DTA", 3);
    on.setFilesDone(3);
    on.clear();
    std::fclose(sink);
    const QString drawn = QString::fromLatin1(buffer);
    QVERIFY2(drawn.startsWith("\r\033[KC:\\DTA  0 of 3 files\r"), qPrintable(drawn));
    QVERIFY2(drawn.contains("\r\033[KC:\\DTA  3 of 3 files"), qPrintable(drawn));
    QVERIFY2(drawn.endsWith("\r\033[K"), qPrintable(drawn));
    QVERIFY2(!drawn.contains(QLatin1Char(0x0a)), "the progress line never ends a line of its own");
}

QTEST_GUILESS_MAIN(TestCliOptions)
#include "tst_clioptions.moc"
