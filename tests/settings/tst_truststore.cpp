// The trusted-certificate list beside the settings file: where it lives, what a fingerprint is, and a
// rewrite that is atomic, owner-only and replaces only the server it is about.

#include "TrustStore.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const std::string kOld = "SHA256:" + QByteArray(32, '\x11').toHex(':').toStdString();
const std::string kNew = "SHA256:" + QByteArray(32, '\xab').toHex(':').toUpper().toStdString();

QByteArray contentOf(const std::string& path) {
    QFile file(QString::fromStdString(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestTrustStore : public QObject {
    Q_OBJECT

private slots:
    void names_data();
    void names();
    void rewriteIsAtomicOwnerOnlyAndReplacesOneServer();
};

void TestTrustStore::names_data() {
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<bool>("isPath"); // pathBeside, else normalizedFingerprint
    QTest::newRow("beside the settings") << "/etc/kavrel/pbx1.INI"
                                         << "/etc/kavrel/pbx1.TRUST" << true;
    QTest::newRow("dot in a folder only") << "/srv/a.b/job"
                                          << "/srv/a.b/job.TRUST" << true;
    const QString upper = QString::fromStdString(kNew);
    QTest::newRow("lower case fingerprint") << upper.toLower() << upper << false;
    QTest::newRow("one pair short") << upper.chopped(3) << "" << false;
    QTest::newRow("no prefix") << upper.mid(7) << "" << false;
}

void TestTrustStore::names() {
    QFETCH(QString, given);
    QFETCH(QString, expected);
    QFETCH(bool, isPath);
    const std::string text = given.toStdString();
    QCOMPARE(QString::fromStdString(isPath ? TrustStore::pathBeside(text)
                                           : TrustStore::normalizedFingerprint(text)),
             expected);
}

void TestTrustStore::rewriteIsAtomicOwnerOnlyAndReplacesOneServer() {
    QTemporaryDir folder;
    const TrustStore store(TrustStore::pathBeside(folder.filePath("kavrel.INI").toStdString()));
    const std::string path = store.path();
    QVERIFY(!store.trust("evil\n" + kOld + " host", kNew));
    QVERIFY(!QFile::exists(QString::fromStdString(path)));
    QVERIFY(store.trust("127.0.0.1:2121", kOld) && store.trust("[::1]:990", kOld));
    // Loosened by hand and linked to: a rewrite in place would show through the link.
    QCOMPARE(::chmod(path.c_str(), 0644), 0);
    QCOMPARE(::link(path.c_str(), (path + ".link").c_str()), 0);
    const QByteArray oldText = contentOf(path);

    QVERIFY(store.trust("127.0.0.1:2121", kNew));
    QCOMPARE(store.fingerprintFor("127.0.0.1:2121"), kNew);
    QCOMPARE(store.fingerprintFor("[::1]:990"), TrustStore::normalizedFingerprint(kOld));
    QCOMPARE(store.fingerprintFor("127.0.0.1"), std::string());
    QCOMPARE(contentOf(path + ".link"), oldText);
    QCOMPARE(contentOf(path).count(" 127.0.0.1:2121\n"), 1);
    struct stat info {};
    QCOMPARE(::stat(path.c_str(), &info), 0);
    QCOMPARE(info.st_mode & 07777, 0600u);
    QVERIFY(!TrustStore(folder.path().toStdString()).trust("host", kNew)); // a folder in the file's place
}

QTEST_APPLESS_MAIN(TestTrustStore)
#include "tst_truststore.moc"
