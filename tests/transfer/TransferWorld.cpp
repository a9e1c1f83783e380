#include "TransferWorld.h"

#include "FtpEngine.h"

#include <QDir>
#include <QJsonObject>

void RecordingHost::Display(const std::string& line) {
    displayed << QString::fromStdString(line);
    if (onDisplay)
        onDisplay(displayed.last());
}

void RecordingHost::Yield() {
    if (onYield)
        onYield(*this);
}

void RecordingHost::SetNewState(int32_t newState) {
    // As the window does: a state change puts the bar back to 0 and yields.
    states.push_back(newState);
    progressValue = 0.0;
    Yield();
}

void RecordingHost::ShowMessage(const std::string& text, const std::string& title, int32_t style) {
    messages
        << QString("%1|%2|%3").arg(QString::fromStdString(title), QString::fromStdString(text)).arg(style);
}

namespace {

Tree sampleFiles() {
    return {{"DTA/system.cfg", "greeting=standard\r\n"},
            {"DTA/lines.dat", QByteArray(40000, 'L')},
            {"PMT/p001.wav", QByteArray(30000, 'p')},
            {"PMT/p002.wav", "RIFF prompt two"},
            {"PMT/A/a1.wav", QByteArray(12345, 'a')},
            {"PMT/B/b1.wav", "bee one"},
            {"PMT/B/b2.wav", QByteArray()},
            {"MSG/m1.msg", QByteArray(2048, 'm')},
            {"MSG/m2.msg", "message two"},
            {"MSG/m3.msg", QByteArray(1, '\0')},
            {"MBX/boxes.dat", QByteArray(5000, 'x')}};
}

} // namespace

bool writeSampleTree(const QString& root) {
    const Tree files = sampleFiles();
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        if (!writeFile(root + '/' + it.key(), it.value()))
            return false;
    }
    return writeFile(root + "/PMT/A/deep/too-deep.wav", "never backed up");
}

Tree sampleBackup() {
    Tree tree = sampleFiles();
    for (const char* folder : {"DTA/", "PMT/", "PMT/A/", "PMT/B/", "MSG/", "MBX/"})
        tree.insert(folder, {});
    return tree;
}

bool TransferWorld::start(FtpServerFixture::ListingMode mode) {
    return server.start(mode) && fceAttach(4) >= 0;
}

void TransferWorld::stop() {
    fceRelease();
    server.stop();
}

bool TransferWorld::begin() {
    if (!QDir(server.root()).removeRecursively() || !QDir().mkpath(server.root()))
        return false;
    server.setFaults(QJsonObject());
    local = std::make_unique<QTemporaryDir>();
    host = RecordingHost();
    fceSetInteger(0, FCE_CONNECT_TIMEOUT_MS, 3000);
    if (fceConnect(0, server.address().toUtf8().constData(), "admin", "tamsk") < 0 || fceSetMode(0, 'B') < 0)
        return false;
    server.clearCommands();
    return local->isValid();
}

void TransferWorld::end() {
    server.setFaults(QJsonObject());
    fceClose(0);
}

QStringList TransferWorld::sent(const QString& verb) const {
    return server.commands().filter(QRegularExpression('^' + verb + ' '));
}
