#include "ProgramLocation.h"
#include "ProtocolTrace.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

// The trace holds user names and server addresses: owner-only, password masked, bounded in size.
class TestProtocolTrace : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void relativeNameLandsBesideTheProgram();
    void passwordIsMasked_data();
    void passwordIsMasked();
    void linesCarryTimestampAndDirection();
    void fileIsOwnerOnly();
    void rotatesToOnePreviousFile();
    void emptyNameStopsTracing();

private:
    QString readAll(const QString& path) const;
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestProtocolTrace::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    ProgramLocation::overrideDirectory(m_dir->path().toStdString());
}

void TestProtocolTrace::cleanup() {
    ProgramLocation::overrideDirectory("");
}

QString TestProtocolTrace::readAll(const QString& path) const {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

void TestProtocolTrace::relativeNameLandsBesideTheProgram() {
    ProtocolTrace trace;
    QVERIFY(trace.open("KAVREL.LOG").ok());
    trace.sent("NOOP");
    QCOMPARE(QString::fromStdString(trace.path()), m_dir->filePath("KAVREL.LOG"));
    QVERIFY(readAll(m_dir->filePath("KAVREL.LOG")).contains("> NOOP"));
}

void TestProtocolTrace::passwordIsMasked_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("shown");
    QTest::newRow("upper") << "PASS tamsk"
                           << "PASS ****";
    QTest::newRow("lower") << "pass tamsk"
                           << "PASS ****";
    QTest::newRow("empty password") << "PASS"
                                    << "PASS ****";
    QTest::newRow("other command") << "USER admin"
                                   << "USER admin";
    QTest::newRow("PASSWORD is not PASS") << "PASSX y"
                                          << "PASSX y";
}

void TestProtocolTrace::passwordIsMasked() {
    QFETCH(QString, command);
    QFETCH(QString, shown);
    QCOMPARE(QString::fromStdString(ProtocolTrace::masked(command.toStdString())), shown);
    ProtocolTrace trace;
    QVERIFY(trace.open(m_dir->filePath("t.log").toStdString()).ok());
    trace.sent(command.toStdString());
    QString text = readAll(m_dir->filePath("t.log"));
    QVERIFY2(text.contains("> " + shown + "\n"), qPrintable(text));
    if (command.startsWith("PASS", Qt::CaseInsensitive) && command.size() > 5)
        QVERIFY(!text.contains("tamsk"));
}

void TestProtocolTrace::linesCarryTimestampAndDirection() {
    ProtocolTrace trace;
    QVERIFY(trace.open(m_dir->filePath("t.log").toStdString()).ok());
    trace.sent("USER admin");
    trace.received("331 Username ok, send password.");
    trace.note("Connected to 127.0.0.1:21");
    const QStringList lines = readAll(m_dir->filePath("t.log")).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 3);
    static const QRegularExpression stamp("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} ");
    for (const QString& line : lines)
        QVERIFY2(stamp.match(line).hasMatch(), qPrintable(line));
    QVERIFY(lines[0].endsWith("> USER admin"));
    QVERIFY(lines[1].endsWith("< 331 Username ok, send password."));
    QVERIFY(lines[2].endsWith("* Connected to 127.0.0.1:21"));
}

void TestProtocolTrace::fileIsOwnerOnly() {
    const QString path = m_dir->filePath("t.log");
    QFile loose(path);
    QVERIFY(loose.open(QIODevice::WriteOnly));
    loose.close();
    QVERIFY(loose.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther | QFile::ReadGroup));
    ProtocolTrace trace;
    QVERIFY(trace.open(path.toStdString()).ok());
    QCOMPARE(QFileInfo(path).permissions() & (QFile::ReadOther | QFile::ReadGroup | QFile::WriteOther),
             QFile::Permissions());
}

void TestProtocolTrace::rotatesToOnePreviousFile() {
    const QString path = m_dir->filePath("t.log");
    ProtocolTrace trace;
    QVERIFY(trace.open(path.toStdString()).ok());
    const std::string reply(1000, 'x');
    const int linesPerFile = int(ProtocolTrace::kRotateBytes / 1030);
    for (int i = 0; i < linesPerFile * 2 + 10; ++i)
        trace.received(reply);
    trace.sent("LAST");
    QVERIFY(QFileInfo(path).size() <= ProtocolTrace::kRotateBytes);
    QVERIFY(QFileInfo(path + ".1").size() <= ProtocolTrace::kRotateBytes);
    QVERIFY(QFileInfo(path + ".1").size() > ProtocolTrace::kRotateBytes / 2);
    QVERIFY(readAll(path).contains("> LAST"));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files).size(), 2);
}

void TestProtocolTrace::emptyNameStopsTracing() {
    const QString path = m_dir->filePath("t.log");
    ProtocolTrace trace;
    QVERIFY(trace.open(path.toStdString()).ok());
    trace.sent("ONE");
    QVERIFY(trace.open("").ok());
    trace.sent("TWO");
    QString text = readAll(path);
    QVERIFY(text.contains("ONE"));
    QVERIFY(!text.contains("TWO"));
}

QTEST_APPLESS_MAIN(TestProtocolTrace)
#include "tst_protocoltrace.moc"
