// The trusted-certificate list beside the settings file: where it lives, what a fingerprint is, and a
// rewrite that is atomic, owner-only and replaces only the server it is about.

#include "TrustStore.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const std::string kOld = "SHA256:" + QByteArray(32, '\x11').toHex(':').toUpper().toStdString();
const std::string kNew = "SHA256:" + QByteArray(32, '\xab').toHex(':').toUpper().toStdString();

} // namespace

class TestTrustStore : public QObject {
    Q_OBJECT

private slots:
    void pathBesideTheSettingsFile_data();
    void pathBesideTheSettingsFile();
    void fingerprintForms_data();
    void fingerprintForms();
    void rewriteIsAtomicOwnerOnlyAndReplacesOneServer();
    void refusesWhatCannotBeOneEntry();
};

void TestTrustStore::pathBesideTheSettingsFile_data() {
    QTest::addColumn<QString>("settings");
    QTest::addColumn<QString>("trust");
    QTest::newRow("program folder") << "/opt/kavrel/kavrel.INI"
                                    << "/opt/kavrel/kavrel.TRUST";
    QTest::newRow("installed layout") << "/home/a/.config/kavrel/kavrel.INI"
                                      << "/home/a/.config/kavrel/kavrel.TRUST";
    QTest::newRow("job file") << "/etc/kavrel/pbx1.INI"
                              << "/etc/kavrel/pbx1.TRUST";
    QTest::newRow("dot in a folder only") << "/srv/a.b/job"
                                          << "/srv/a.b/job.TRUST";
    QTest::newRow("relative") << "job.ini"
                              << "job.TRUST";
}

void TestTrustStore::pathBesideTheSettingsFile() {
    QFETCH(QString, settings);
    QFETCH(QString, trust);
    QCOMPARE(QString::fromStdString(TrustStore::pathBeside(settings.toStdString())), trust);
}

void TestTrustStore::fingerprintForms_data() {
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("normalized");
    const QString upper = QString::fromStdString(kNew);
    QTest::newRow("as the log shows it") << upper << upper;
    QTest::newRow("lower case") << upper.toLower() << upper;
    QTest::newRow("one pair short") << upper.left(upper.size() - 3) << "";
    QTest::newRow("no prefix") << upper.mid(7) << "";
    QTest::newRow("not hex") << upper.left(upper.size() - 1) + "G"
                             << "";
    QTest::newRow("dashes for colons")
        << QString(upper).replace(':', '-').replace("SHA256-", "SHA256:") << "";
}

void TestTrustStore::fingerprintForms() {
    QFETCH(QString, given);
    QFETCH(QString, normalized);
    QCOMPARE(QString::fromStdString(TrustStore::normalizedFingerprint(given.toStdString())), normalized);
}

void TestTrustStore::rewriteIsAtomicOwnerOnlyAndReplacesOneServer() {
    QTemporaryDir folder;
    const TrustStore store(TrustStore::pathBeside(folder.filePath("kavrel.INI").toStdString()));
    QVERIFY(store.trust("127.0.0.1:2121", kOld));
    QVERIFY(store.trust("[::1]:990", kOld));
    const std::string path = store.path();
    // Loosened by hand, and linked to: a rewrite in place would show through the link.
    QCOMPARE(::chmod(path.c_str(), 0644), 0);
    const std::string link = path + ".link";
    QCOMPARE(::link(path.c_str(), link.c_str()), 0);
    QFile before(QString::fromStdString(link));
    QVERIFY(before.open(QIODevice::ReadOnly));
    const QByteArray oldText = before.readAll();

    QVERIFY(store.trust("127.0.0.1:2121", kNew));
    QCOMPARE(store.fingerprintFor("127.0.0.1:2121"), kNew);
    QCOMPARE(store.fingerprintFor("[::1]:990"), kOld);
    QCOMPARE(store.fingerprintFor("127.0.0.1"), std::string());
    QFile linked(QString::fromStdString(link));
    QVERIFY(linked.open(QIODevice::ReadOnly));
    QCOMPARE(linked.readAll(), oldText);
    struct stat info {};
    QCOMPARE(::stat(path.c_str(), &info), 0);
    QCOMPARE(info.st_mode & 07777, 0600u);
    QFile text(QString::fromStdString(path));
    QVERIFY(text.open(QIODevice::ReadOnly));
    QCOMPARE(text.readAll().count(QByteArray(" 127.0.0.1:2121\n")), 1);
}

void TestTrustStore::refusesWhatCannotBeOneEntry() {
    QTemporaryDir folder;
    const TrustStore store(folder.filePath("kavrel.TRUST").toStdString());
    QVERIFY(!store.trust("evil\n" + kOld + " host", kNew));
    QVERIFY(!store.trust("host", "SHA1:AB"));
    QVERIFY(!QFile::exists(folder.filePath("kavrel.TRUST")));
    QVERIFY(!TrustStore(folder.path().toStdString()).trust("host", kNew)); // a folder in the file's place
}

QTEST_APPLESS_MAIN(TestTrustStore)
#include "tst_truststore.moc"
