#include "SampleTree.h"

namespace SampleTree {

namespace {

TreeSnapshot::Tree files() {
    return {
        {"DTA/system.cfg", "greeting=standard\r\n"},
        {"DTA/lines.dat", QByteArray(40000, 'L')},
        {"PMT/p001.wav", QByteArray(30000, 'p')},
        {"PMT/p002.wav", QByteArray("RIFF prompt two")},
        {"PMT/A/a1.wav", QByteArray(12345, 'a')},
        {"PMT/B/b1.wav", QByteArray("bee one")},
        {"PMT/B/b2.wav", QByteArray()},
        {"MSG/m1.msg", QByteArray(2048, 'm')},
        {"MSG/m2.msg", QByteArray("message two")},
        {"MSG/m3.msg", QByteArray(1, '\0')},
        {"MBX/boxes.dat", QByteArray(5000, 'x')},
    };
}

} // namespace

bool write(const QString& root) {
    const auto tree = files();
    for (auto it = tree.cbegin(); it != tree.cend(); ++it) {
        if (!TreeSnapshot::write(root + '/' + it.key(), it.value()))
            return false;
    }
    return TreeSnapshot::write(root + "/PMT/A/deep/too-deep.wav", "never backed up");
}

TreeSnapshot::Tree expectedBackup() {
    TreeSnapshot::Tree tree = files();
    for (const char* folder : {"DTA/", "PMT/", "PMT/A/", "PMT/B/", "MSG/", "MBX/"})
        tree.insert(folder, QByteArray());
    return tree;
}

} // namespace SampleTree
