// The session states: what each state enables, the pointer and the progress bar, invalid requests,
// and the host's progress, yield and repaint calls.

#include "Kavrel.h"
#include "MessageBoxRecorder.h"
#include "WindowInspection.h"

#include <QCheckBox>
#include <QProgressBar>
#include <QThread>
#include <QTimer>
#include <QtTest>

using WindowInspection::control;
using WindowInspection::logLines;

namespace {

const QStringList stateControls = {"eServer",      "eUser",     "ePassword",      "bConnect",   "bQuit",
                                   "bExit",        "bLocalDir", "chkApplication", "chkPrompts", "chkMessages",
                                   "chkMailboxes", "bGet",      "bPut",           "cmdAbort"};

struct Snapshot {
    QList<bool> enabled;
    bool busyCursor = false;
    int barValue = 0;
    bool barEnabled = false;
    int32_t state = 0;
    bool operator==(const Snapshot&) const = default;
};

Snapshot snapshotOf(const Kavrel& window) {
    Snapshot snapshot;
    for (const QString& name : stateControls)
        snapshot.enabled << control<QWidget>(window, name.toLatin1().constData())->isEnabled();
    snapshot.busyCursor = window.cursor().shape() == Qt::BusyCursor;
    auto* bar = control<QProgressBar>(window, "pbarFiles");
    snapshot.barValue = bar->value();
    snapshot.barEnabled = bar->isEnabled();
    snapshot.state = window.FTPState();
    return snapshot;
}

QList<bool> flags(const char* pattern) {
    QList<bool> result;
    for (const char* c = pattern; *c; ++c)
        result << (*c == '1');
    return result;
}

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
public:
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

} // namespace

class SessionStatesTest : public QObject {
    Q_OBJECT

private slots:
    void init() { m_window = std::make_unique<Kavrel>(&m_boxes); }
    void cleanup() { m_window.reset(); }

    void eachStateSetsItsColumn_data();
    void eachStateSetsItsColumn();
    void invalidStatesChangeNothing_data();
    void invalidStatesChangeNothing();
    void requestingTheCurrentStateResetsTheBar();
    void checkBoxValuesSurviveStateChanges();
    void setNewStateYieldsOnce();
    void progressKeepsTheHostsValuesAndShowsTheirShare();
    void keepAliveRepaintsWhileAFileMoves();
    void abortButtonSetsTheFlagInTransferring();

private:
    MessageBoxRecorder m_boxes;
    std::unique_ptr<Kavrel> m_window;
};

void SessionStatesTest::eachStateSetsItsColumn_data() {
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("state");
    QTest::addColumn<QList<bool>>("enabled");
    QTest::addColumn<bool>("busy");
    QTest::addColumn<bool>("barEnabled");
    //                                                        eeepbbbccccbbc
    const QList<bool> disconnected = flags("11110111111000");
    const QList<bool> connected = flags("00001111111110");
    const QList<bool> transferring = flags("00000000000001");
    for (int from = 0; from <= 2; ++from) {
        const QByteArray suffix = " from " + QByteArray::number(from);
        QTest::newRow("disconnected" + suffix) << from << 0 << disconnected << false << false;
        QTest::newRow("connected" + suffix) << from << 1 << connected << false << false;
        QTest::newRow("transferring" + suffix) << from << 2 << transferring << true << true;
    }
}

void SessionStatesTest::eachStateSetsItsColumn() {
    QFETCH(int, from);
    QFETCH(int, state);
    QFETCH(QList<bool>, enabled);
    QFETCH(bool, busy);
    QFETCH(bool, barEnabled);
    m_window->SetNewState(from);
    m_window->SetProgressMax(4.0);
    m_window->SetProgressValue(3.0);
    QCOMPARE(control<QProgressBar>(*m_window, "pbarFiles")->value(), 75);
    m_window->SetNewState(state);
    const Snapshot after = snapshotOf(*m_window);
    QCOMPARE(after.enabled, enabled);
    QCOMPARE(after.busyCursor, busy);
    QCOMPARE(m_window->cursor().shape(), busy ? Qt::BusyCursor : Qt::ArrowCursor);
    QCOMPARE(after.barValue, 0);
    QCOMPARE(m_window->ProgressValue(), 0.0);
    QCOMPARE(after.barEnabled, barEnabled);
    QCOMPARE(after.state, state);
    // The controls SetNewState never touches.
    QVERIFY(!control<QWidget>(*m_window, "eLocalDir")->isEnabled());
    QVERIFY(control<QWidget>(*m_window, "eMessage")->isEnabled());
    QVERIFY(control<QWidget>(*m_window, "frameServer")->isEnabled());
    QVERIFY(m_window->MessageLogText().isEmpty());
}

void SessionStatesTest::invalidStatesChangeNothing_data() {
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("requested");
    QTest::newRow("3 while disconnected") << 0 << 3;
    QTest::newRow("-1 while disconnected") << 0 << -1;
    QTest::newRow("3 while transferring") << 2 << 3;
    QTest::newRow("-1 while connected") << 1 << -1;
}

void SessionStatesTest::invalidStatesChangeNothing() {
    QFETCH(int, from);
    QFETCH(int, requested);
    m_window->SetNewState(from);
    m_window->SetProgressValue(40.0);
    const Snapshot before = snapshotOf(*m_window);
    QCOMPARE(before.barValue, 40);
    m_window->SetNewState(requested);
    QVERIFY(snapshotOf(*m_window) == before);
    QCOMPARE(m_window->ProgressValue(), 40.0);
    QCOMPARE(logLines(*m_window),
             QStringList{QStringLiteral("Invalid FTPState requested: %1").arg(requested)});
}

void SessionStatesTest::requestingTheCurrentStateResetsTheBar() {
    m_window->SetNewState(Kavrel::StateConnected);
    m_window->SetProgressValue(50.0);
    m_window->SetNewState(Kavrel::StateConnected);
    QCOMPARE(control<QProgressBar>(*m_window, "pbarFiles")->value(), 0);
    QVERIFY(control<QWidget>(*m_window, "bGet")->isEnabled());
}

void SessionStatesTest::checkBoxValuesSurviveStateChanges() {
    control<QCheckBox>(*m_window, "chkPrompts")->setChecked(false);
    control<QCheckBox>(*m_window, "chkMessages")->setCheckState(Qt::PartiallyChecked);
    for (int state : {2, 1, 0, 2})
        m_window->SetNewState(state);
    QCOMPARE(control<QCheckBox>(*m_window, "chkApplication")->checkState(), Qt::Checked);
    QCOMPARE(control<QCheckBox>(*m_window, "chkPrompts")->checkState(), Qt::Unchecked);
    QCOMPARE(control<QCheckBox>(*m_window, "chkMessages")->checkState(), Qt::PartiallyChecked);
}

void SessionStatesTest::setNewStateYieldsOnce() {
    // A queued event runs inside the call, after the controls have been set.
    int stateSeen = -1;
    bool abortEnabledSeen = false;
    QTimer::singleShot(0, m_window.get(), [&] {
        stateSeen = m_window->FTPState();
        abortEnabledSeen = control<QWidget>(*m_window, "cmdAbort")->isEnabled();
    });
    m_window->SetNewState(Kavrel::StateTransferring);
    QCOMPARE(stateSeen, int(Kavrel::StateTransferring));
    QVERIFY(abortEnabledSeen);

    bool ranInInvalidRequest = false;
    QTimer::singleShot(0, m_window.get(), [&] { ranInInvalidRequest = true; });
    m_window->SetNewState(7);
    QVERIFY(ranInInvalidRequest);
}

void SessionStatesTest::progressKeepsTheHostsValuesAndShowsTheirShare() {
    auto* bar = control<QProgressBar>(*m_window, "pbarFiles");
    m_window->SetProgressValue(0.0);
    m_window->SetProgressMax(3.0);
    QCOMPARE(m_window->ProgressMax(), 3.0);
    m_window->SetProgressValue(m_window->ProgressValue() + 1.0);
    QCOMPARE(m_window->ProgressValue(), 1.0);
    QCOMPARE(bar->value(), 33);
    m_window->SetProgressValue(m_window->ProgressValue() + 1.0);
    m_window->SetProgressValue(m_window->ProgressValue() + 1.0);
    QCOMPARE(bar->value(), 100);
    QCOMPARE(bar->maximum(), 100);
    // A value past the maximum or a maximum of 0 never breaks the bar.
    m_window->SetProgressValue(7.0);
    QCOMPARE(bar->value(), 100);
    m_window->SetProgressMax(0.0);
    QCOMPARE(bar->value(), 0);
    QCOMPARE(m_window->ProgressValue(), 7.0);
}

void SessionStatesTest::keepAliveRepaintsWhileAFileMoves() {
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    m_window->SetNewState(Kavrel::StateTransferring);
    PaintCounter counter;
    m_window->installEventFilter(&counter);
    // A file that moves for a while: the engine reports progress, and the log shows a new line.
    m_window->Display("Retrieving 1 files...");
    m_window->update();
    m_window->KeepAlive(1000);
    QVERIFY(counter.paints >= 1);
    const int afterFirst = counter.paints;
    QThread::msleep(150);
    m_window->update();
    m_window->KeepAlive(2000);
    QVERIFY(counter.paints > afterFirst);
    m_window->removeEventFilter(&counter);
}

void SessionStatesTest::abortButtonSetsTheFlagInTransferring() {
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    auto* abort = control<QWidget>(*m_window, "cmdAbort");
    QTest::mouseClick(abort, Qt::LeftButton);
    QVERIFY(!m_window->AbortRequested()); // disabled while disconnected
    m_window->SetNewState(Kavrel::StateTransferring);
    QTest::mouseClick(abort, Qt::LeftButton);
    QVERIFY(m_window->AbortRequested());
    m_window->SetNewState(Kavrel::StateConnected);
    QVERIFY(m_window->AbortRequested()); // the end of a command does not clear it
}

QTEST_MAIN(SessionStatesTest)
#include "tst_sessionstates.moc"
