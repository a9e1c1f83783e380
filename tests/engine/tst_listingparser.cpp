#include "FtpEngine.h"
#include "ListingParser.h"

#include <QTest>

// Real listing lines of the servers a backup meets (vsftpd, pure-ftpd, ProFTPD, pyftpdlib, IIS-style),
// and the entry each must give. Names are never trimmed.
class TestListingParser : public QObject {
    Q_OBJECT

private slots:
    void listLine_data();
    void listLine();
    void mlsdLine_data();
    void mlsdLine();
    void wholeListingSkipsDotsAndKeepsOrder();
    void hostileNameFailsTheListing_data();
    void hostileNameFailsTheListing();
    void unreadableLineFailsTheListing();
    void listTextMarksDirectories();
};

namespace {

using Kind = ListingParser::LineKind;

void addRow(const char* tag, const char* line, Kind kind, const char* name, bool isDirectory, qint64 size) {
    QTest::newRow(tag) << QByteArray(line) << int(kind) << QByteArray(name) << isDirectory << size;
}

} // namespace

void TestListingParser::listLine_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<bool>("isDirectory");
    QTest::addColumn<qint64>("size");

    addRow("vsftpd dir", "drwxr-xr-x    2 21100    21100        4096 Dec 06 20:19 DTA", Kind::Entry, "DTA",
           true, -1);
    addRow("vsftpd file", "-rw-r--r--    1 21100    21100        1234 Dec 06 20:19 p1.wav", Kind::Entry,
           "p1.wav", false, 1234);
    addRow("vsftpd old file", "-rw-r--r--    1 21100    21100           4 Jan 02  2024 a.dat", Kind::Entry,
           "a.dat", false, 4);
    addRow("pure-ftpd file", "-rw-r--r--    1 21100      21100            1234 Dec  6 20:19 p1.wav",
           Kind::Entry, "p1.wav", false, 1234);
    addRow("pure-ftpd old file", "-rw-r--r--    1 21100      21100               4 Jan  2  2024 a.dat",
           Kind::Entry, "a.dat", false, 4);
    addRow("proftpd dir", "drwxr-xr-x   2 admin    admin        4096 Dec  6 20:19 SUB1", Kind::Entry, "SUB1",
           true, -1);
    addRow("proftpd file", "-rw-r--r--   1 admin    admin        1234 Dec  6 20:19 p1.wav", Kind::Entry,
           "p1.wav", false, 1234);
    addRow("no group column", "-rw-r--r--   1 admin        1234 Dec  6 20:19 p1.wav", Kind::Entry, "p1.wav",
           false, 1234);
    addRow("leading blanks", "-rw-r--r--   1 21100    21100        7 Dec 06 20:19   two blanks.wav",
           Kind::Entry, "  two blanks.wav", false, 7);
    addRow("inner and trailing blanks", "-rw-r--r--   1 21100    21100        7 Dec 06 20:19 a  b.wav ",
           Kind::Entry, "a  b.wav ", false, 7);
    addRow("symlink", "lrwxrwxrwx   1 21100    21100       6 Dec 06 20:19 link.wav -> p1.wav", Kind::Entry,
           "link.wav", false, -1);
    addRow("arrow in a plain file name", "-rw-r--r--   1 21100    21100        7 Dec 06 20:19 a -> b",
           Kind::Entry, "a -> b", false, 7);
    addRow("vsftpd dot", "drwxr-xr-x    3 21100    21100        4096 Dec 06 20:19 .", Kind::Entry, ".", true,
           -1);
    addRow("total line", "total 24", Kind::Skip, "", false, -1);
    addRow("empty line", "", Kind::Skip, "", false, -1);
    addRow("dos dir", "12-06-26  08:19PM       <DIR>          PMT", Kind::Entry, "PMT", true, -1);
    addRow("dos file", "12-06-26  08:19PM                 1234 p1.wav", Kind::Entry, "p1.wav", false, 1234);
    addRow("dos old file", "01-02-24  03:04AM                    4 a.dat", Kind::Entry, "a.dat", false, 4);
    addRow("dos leading blank file", "12-06-26  08:19PM                    3  lead.wav", Kind::Entry,
           " lead.wav", false, 3);
    addRow("dos leading blank dir", "12-06-26  08:19PM       <DIR>           Sub Dir", Kind::Entry,
           " Sub Dir", true, -1);
    addRow("dos four-digit year", "12-06-2026  08:19PM                 1234 p1.wav", Kind::Entry, "p1.wav",
           false, 1234);
    addRow("garbage", "this is not a listing line", Kind::Unreadable, "", false, -1);
    addRow("unix line without a date", "-rw-r--r--   1 a b 12 p1.wav", Kind::Unreadable, "", false, -1);
}

namespace {

// One row of a line table: the line parses to the kind, and an entry to the name, type and size.
void checkParsedRow(Kind (*parse)(std::string_view, ListingEntry&)) {
    QFETCH(QByteArray, line);
    QFETCH(int, kind);
    QFETCH(QByteArray, name);
    QFETCH(bool, isDirectory);
    QFETCH(qint64, size);

    ListingEntry entry;
    Kind got = parse(line.toStdString(), entry);
    QCOMPARE(int(got), kind);
    if (got != Kind::Entry)
        return;
    QCOMPARE(QByteArray::fromStdString(entry.name), name);
    QCOMPARE(entry.isDirectory, isDirectory);
    QCOMPARE(qint64(entry.size), size);
}

} // namespace

void TestListingParser::listLine() {
    checkParsedRow(ListingParser::parseListLine);
}

void TestListingParser::mlsdLine_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<bool>("isDirectory");
    QTest::addColumn<qint64>("size");

    addRow("pure-ftpd dir",
           "type=dir;sizd=4096;modify=20261206201957;UNIX.mode=0755;UNIX.uid=21100;UNIX.gid=21100;unique="
           "fe00ga740c3; "
           "SUB1",
           Kind::Entry, "SUB1", true, -1);
    addRow("pure-ftpd cdir",
           "type=cdir;sizd=4096;modify=20261206201957;UNIX.mode=0755;UNIX.uid=21100;UNIX.gid=21100;unique="
           "fe00ga740b2; .",
           Kind::Skip, "", false, -1);
    addRow("pure-ftpd pdir",
           "type=pdir;sizd=4096;modify=20261206201959;UNIX.mode=0755;UNIX.uid=21100;UNIX.gid=21100;unique="
           "fe00ga7407c; ..",
           Kind::Skip, "", false, -1);
    addRow("pure-ftpd file",
           "type=file;size=1234;modify=20261206201957;UNIX.mode=0644;UNIX.uid=21100;UNIX.gid=21100;unique="
           "fe00ga740f2; "
           "p1.wav",
           Kind::Entry, "p1.wav", false, 1234);
    addRow("proftpd file",
           "modify=20261206201957;perm=adfrw;size=1234;type=file;unique=FE00UA740F2;UNIX.group=21100;UNIX."
           "groupname="
           "admin;UNIX.mode=0644;UNIX.owner=21100;UNIX.ownername=admin; p1.wav",
           Kind::Entry, "p1.wav", false, 1234);
    addRow("pyftpdlib dir",
           "modify=20261206201957;perm=eldfmMTcp;size=4096;type=dir;unique=fe00ga740c3; SUB1", Kind::Entry,
           "SUB1", true, -1);
    addRow("pyftpdlib file",
           "modify=20261206201957;perm=radfwMT;size=1234;type=file;unique=fe00ga740f2; p1.wav", Kind::Entry,
           "p1.wav", false, 1234);
    addRow("blanks kept", "type=file;size=3;  lead and trail  ", Kind::Entry, " lead and trail  ", false, 3);
    addRow("upper-case facts", "Type=File;Size=9; X.WAV", Kind::Entry, "X.WAV", false, 9);
    addRow("symlink is a file", "type=OS.unix=slink:/PMT/p1.wav;size=6; link.wav", Kind::Entry, "link.wav",
           false, 6);
    addRow("no type", "size=3; x.wav", Kind::Unreadable, "", false, -1);
    addRow("bad size", "type=file;size=12x; x.wav", Kind::Unreadable, "", false, -1);
    addRow("no name", "type=file;size=3;", Kind::Unreadable, "", false, -1);
}

void TestListingParser::mlsdLine() {
    checkParsedRow(ListingParser::parseMlsdLine);
}

void TestListingParser::wholeListingSkipsDotsAndKeepsOrder() {
    const std::string text = "total 12\r\n"
                             "drwxr-xr-x    3 21100    21100        4096 Dec 06 20:19 .\r\n"
                             "drwxr-xr-x    6 21100    21100        4096 Dec 06 20:19 ..\r\n"
                             "drwxr-xr-x    2 21100    21100        4096 Dec 06 20:19 SUB1\r\n"
                             "-rw-r--r--    1 21100    21100        1234 Dec 06 20:19 p1.wav\r\n"
                             "-rw-r--r--    1 21100    21100          10 Dec 06 20:19 a.wav\n";
    std::vector<ListingEntry> entries;
    EngineStatus status = ListingParser::parse(text, ListingParser::Format::List, entries);
    QVERIFY2(status.ok(), status.text().c_str());
    QCOMPARE(entries.size(), size_t(3));
    QCOMPARE(entries[0].name, std::string("SUB1"));
    QCOMPARE(entries[1].name, std::string("p1.wav"));
    QCOMPARE(entries[2].name, std::string("a.wav"));
    QCOMPARE(entries[2].size, int64_t(10));
}

void TestListingParser::hostileNameFailsTheListing_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("name");
    QTest::newRow("parent") << QByteArray("type=file;size=3; ../x.wav") << QByteArray("../x.wav");
    QTest::newRow("backslash") << QByteArray("type=file;size=3; ..\\x.wav") << QByteArray("..\\x.wav");
    QTest::newRow("subfolder") << QByteArray("type=file;size=3; SUBDIR/EVIL.WAV")
                               << QByteArray("SUBDIR/EVIL.WAV");
    QTest::newRow("absolute") << QByteArray("type=file;size=3; /abs.wav") << QByteArray("/abs.wav");
    QTest::newRow("drive") << QByteArray("type=file;size=3; C:x.wav") << QByteArray("C:x.wav");
    QTest::newRow("carriage return") << QByteArray("type=file;size=3; a\rb.wav") << QByteArray("a\rb.wav");
}

void TestListingParser::hostileNameFailsTheListing() {
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, name);
    const std::string text = "type=file;size=3; good.wav\r\n" + line.toStdString() + "\r\n";
    std::vector<ListingEntry> entries;
    EngineStatus status = ListingParser::parse(text, ListingParser::Format::Mlsd, entries);
    QCOMPARE(status.code(), int32_t(FCE_E_UNSAFE_NAME));
    QCOMPARE(QByteArray::fromStdString(status.text()), "Unsafe file name from server: " + name);
}

void TestListingParser::unreadableLineFailsTheListing() {
    const std::string text = "-rw-r--r--    1 21100    21100        1234 Dec 06 20:19 p1.wav\r\n"
                             "?????\r\n";
    std::vector<ListingEntry> entries;
    EngineStatus status = ListingParser::parse(text, ListingParser::Format::List, entries);
    QCOMPARE(status.code(), int32_t(FCE_E_PROTOCOL));
    QVERIFY(status.text().find("?????") != std::string::npos);
}

void TestListingParser::listTextMarksDirectories() {
    std::vector<ListingEntry> entries = {{"SUB1", true, -1}, {" a b.wav", false, 3}, {"c.wav", false, 0}};
    QCOMPARE(ListingParser::listText(entries), std::string("SUB1/\r\n a b.wav\r\nc.wav\r\n"));
    QCOMPARE(ListingParser::listText({}), std::string());
}

QTEST_APPLESS_MAIN(TestListingParser)
#include "tst_listingparser.moc"
