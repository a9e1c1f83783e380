// The main window as it opens: every control where the layout puts it, its caption, access key,
// tab order and state, the window's own frame and look, and a picture of it for reviewers.

#include "ClassicLook.h"
#include "Kavrel.h"
#include "MessageBoxRecorder.h"
#include "TemporaryProgramFolder.h"
#include "WindowInspection.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QtTest>

using WindowInspection::control;

namespace {

int px(int twips, int dpi) {
    return qRound(twips * dpi / 1440.0);
}

} // namespace

class WindowLayoutTest : public QObject {
    Q_OBJECT

private slots:
    void init() { m_window = std::make_unique<Kavrel>(&m_boxes); }
    void cleanup() { m_window.reset(); }

    void controlGeometryFollowsTheTwipTable_data();
    void controlGeometryFollowsTheTwipTable();
    void captionsAndAccessKeys_data();
    void captionsAndAccessKeys();
    void labelsLeadToTheirFields_data();
    void labelsLeadToTheirFields();
    void statesAtCreation();
    void tabOrderFollowsTheTable();
    void windowFrameCaptionAndSize();
    void resizingMovesNoControl();
    void classicLook();
    void passwordFieldHidesTyping();
    void messageLogIsReadOnlyWithVerticalScrollBar();
    void savesAPictureOfTheWindow();

private:
    MessageBoxRecorder m_boxes;
    std::unique_ptr<Kavrel> m_window;
};

void WindowLayoutTest::controlGeometryFollowsTheTwipTable_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("container");
    QTest::addColumn<QRect>("twips");
    QTest::newRow("frameServer") << "frameServer"
                                 << "Kavrel" << QRect(120, 0, 4575, 1575);
    QTest::newRow("Label1") << "Label1"
                            << "frameServer" << QRect(360, 375, 615, 255);
    QTest::newRow("eServer") << "eServer"
                             << "frameServer" << QRect(1080, 360, 2000, 300);
    QTest::newRow("nPassword") << "nPassword"
                               << "frameServer" << QRect(120, 1095, 855, 255);
    QTest::newRow("ePassword") << "ePassword"
                               << "frameServer" << QRect(1080, 1080, 2000, 300);
    QTest::newRow("bQuit") << "bQuit"
                           << "frameServer" << QRect(3215, 720, 1215, 300);
    QTest::newRow("bExit") << "bExit"
                           << "frameServer" << QRect(3215, 1080, 1215, 300);
    QTest::newRow("frameLocal") << "frameLocal"
                                << "Kavrel" << QRect(120, 1760, 4575, 855);
    QTest::newRow("eLocalDir") << "eLocalDir"
                               << "frameLocal" << QRect(120, 360, 3480, 300);
    QTest::newRow("bLocalDir") << "bLocalDir"
                               << "frameLocal" << QRect(3675, 360, 735, 300);
    QTest::newRow("chkMessages") << "chkMessages"
                                 << "frameSelections" << QRect(240, 910, 1815, 255);
    QTest::newRow("chkMailboxes") << "chkMailboxes"
                                  << "frameSelections" << QRect(240, 1185, 1815, 255);
    QTest::newRow("bPut") << "bPut"
                          << "frameSelections" << QRect(3215, 960, 1215, 300);
    QTest::newRow("eMessage") << "eMessage"
                              << "Kavrel" << QRect(4800, 120, 6495, 5295);
    QTest::newRow("frameProgress") << "frameProgress"
                                   << "Kavrel" << QRect(120, 4560, 4575, 855);
    QTest::newRow("pbarFiles") << "pbarFiles"
                               << "frameProgress" << QRect(120, 360, 3010, 300);
    QTest::newRow("cmdAbort") << "cmdAbort"
                              << "frameProgress" << QRect(3215, 360, 1215, 300);
}

void WindowLayoutTest::controlGeometryFollowsTheTwipTable() {
    QFETCH(QString, name);
    QFETCH(QString, container);
    QFETCH(QRect, twips);
    auto* widget = control<QWidget>(*m_window, name.toLatin1().constData());
    QVERIFY2(widget != nullptr, qPrintable(name));
    QCOMPARE(widget->parentWidget()->objectName(), container);
    const int dpiX = m_window->logicalDpiX();
    const int dpiY = m_window->logicalDpiY();
    const QRect expected(px(twips.x(), dpiX), px(twips.y(), dpiY), px(twips.width(), dpiX),
                         px(twips.height(), dpiY));
    QCOMPARE(widget->geometry(), expected);
}

void WindowLayoutTest::captionsAndAccessKeys_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::newRow("bConnect") << "bConnect"
                              << "&Connect";
    QTest::newRow("bQuit") << "bQuit"
                           << "&Disconnect";
    QTest::newRow("bExit") << "bExit"
                           << "E&xit";
    QTest::newRow("bLocalDir") << "bLocalDir"
                               << "&Set";
    QTest::newRow("bGet") << "bGet"
                          << "&Backup";
    QTest::newRow("bPut") << "bPut"
                          << "&Restore";
    QTest::newRow("cmdAbort") << "cmdAbort"
                              << "&Abort";
    QTest::newRow("chkApplication") << "chkApplication"
                                    << "Application Data";
    QTest::newRow("chkPrompts") << "chkPrompts"
                                << "Prompts";
    QTest::newRow("chkMessages") << "chkMessages"
                                 << "Messages";
    QTest::newRow("chkMailboxes") << "chkMailboxes"
                                  << "Subscriber Data";
}

void WindowLayoutTest::captionsAndAccessKeys() {
    QFETCH(QString, name);
    QFETCH(QString, caption);
    auto* button = control<QAbstractButton>(*m_window, name.toLatin1().constData());
    QVERIFY2(button != nullptr, qPrintable(name));
    QCOMPARE(button->text(), caption);
    const qsizetype amp = caption.indexOf(QLatin1Char('&'));
    if (amp >= 0)
        QCOMPARE(button->shortcut(), QKeySequence(QStringLiteral("Alt+") + caption.at(amp + 1).toUpper()));
}

void WindowLayoutTest::labelsLeadToTheirFields_data() {
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("field");
    QTest::newRow("Label1") << "Label1"
                            << "Name"
                            << "eServer";
    QTest::newRow("Label2") << "Label2"
                            << "User"
                            << "eUser";
    QTest::newRow("nPassword") << "nPassword"
                               << "Password"
                               << "ePassword";
}

void WindowLayoutTest::labelsLeadToTheirFields() {
    QFETCH(QString, label);
    QFETCH(QString, caption);
    QFETCH(QString, field);
    auto* widget = control<QLabel>(*m_window, label.toLatin1().constData());
    QVERIFY(widget != nullptr);
    QCOMPARE(widget->text(), caption);
    QVERIFY(widget->alignment() & Qt::AlignRight);
    QVERIFY(widget->buddy() != nullptr);
    QCOMPARE(widget->buddy()->objectName(), field);
}

void WindowLayoutTest::statesAtCreation() {
    for (const char* name : {"eServer", "eUser", "ePassword", "eLocalDir"})
        QVERIFY2(control<QLineEdit>(*m_window, name)->text().isEmpty(), name);
    QVERIFY(!control<QLineEdit>(*m_window, "eLocalDir")->isEnabled());
    for (const char* name : {"bQuit", "bGet", "bPut", "cmdAbort"})
        QVERIFY2(!control<QWidget>(*m_window, name)->isEnabled(), name);
    for (const char* name :
         {"eServer", "eUser", "ePassword", "bConnect", "bExit", "bLocalDir", "chkApplication"})
        QVERIFY2(control<QWidget>(*m_window, name)->isEnabled(), name);
    for (const char* name : {"chkApplication", "chkPrompts", "chkMessages", "chkMailboxes"})
        QCOMPARE(control<QCheckBox>(*m_window, name)->checkState(), Qt::Checked);
    auto* bar = control<QProgressBar>(*m_window, "pbarFiles");
    QCOMPARE(bar->minimum(), 0);
    QCOMPARE(bar->maximum(), 100);
    QCOMPARE(bar->value(), 0);
    QVERIFY(control<QPlainTextEdit>(*m_window, "eMessage")->toPlainText().isEmpty());
    QCOMPARE(m_window->FTPState(), Kavrel::StateDisconnected);
    QVERIFY(!m_window->AbortRequested());
}

void WindowLayoutTest::tabOrderFollowsTheTable() {
    const QStringList expected = {"eServer",    "eUser",       "ePassword",    "bConnect",
                                  "bQuit",      "eLocalDir",   "bLocalDir",    "chkApplication",
                                  "chkPrompts", "chkMessages", "chkMailboxes", "bGet",
                                  "bPut",       "eMessage",    "cmdAbort",     "bExit"};
    QWidget* current = control<QWidget>(*m_window, "eServer");
    QStringList walked;
    for (int i = 0; i < expected.size(); ++i) {
        walked << current->objectName();
        current = current->nextInFocusChain();
        // Widgets that take no focus (frames, labels, the bar) stand between the stops of the chain.
        while (current->focusPolicy() == Qt::NoFocus || !current->inherits("QWidget") ||
               current->objectName().isEmpty() || current->objectName().startsWith(QLatin1String("qt_")))
            current = current->nextInFocusChain();
    }
    QCOMPARE(walked, expected);
}

void WindowLayoutTest::windowFrameCaptionAndSize() {
    QCOMPARE(m_window->objectName(), QStringLiteral("Kavrel"));
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Trelvik Backup and Restore Utility"));
    QCOMPARE(m_window->size(), QSize(px(11385, m_window->logicalDpiX()), px(5595, m_window->logicalDpiY())));
    const Qt::WindowFlags flags = m_window->windowFlags();
    QVERIFY(flags & Qt::WindowMinimizeButtonHint);
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QVERIFY(flags & Qt::CustomizeWindowHint);
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    QVERIFY(qAbs(m_window->geometry().center().x() - screen.center().x()) <= 1);
    QVERIFY(qAbs(m_window->geometry().center().y() - screen.center().y()) <= 1);
}

void WindowLayoutTest::resizingMovesNoControl() {
    QList<QPair<QWidget*, QRect>> before;
    for (QWidget* child : m_window->findChildren<QWidget*>())
        if (!child->objectName().isEmpty() && !child->objectName().startsWith(QLatin1String("qt_")))
            before.append({child, child->geometry()});
    QVERIFY(before.size() >= 24);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    m_window->resize(m_window->width() + 200, m_window->height() + 150);
    QCoreApplication::processEvents();
    QCOMPARE(m_window->width() >= 200, true);
    for (const auto& [child, geometry] : before)
        QCOMPARE(child->geometry(), geometry);
    m_window->resize(300, 200);
    QCoreApplication::processEvents();
    for (const auto& [child, geometry] : before)
        QCOMPARE(child->geometry(), geometry);
}

void WindowLayoutTest::classicLook() {
    QCOMPARE(m_window->style()->name().toLower(), QStringLiteral("windows"));
    auto* button = control<QPushButton>(*m_window, "bConnect");
    QCOMPARE(button->style()->name().toLower(), QStringLiteral("windows"));
    QCOMPARE(button->font().pointSizeF(), 8.25);
    QVERIFY(button->font().bold());
    QCOMPARE(button->font().family(), ClassicLook::sansFamily());
    QVERIFY(
        QStringList({"MS Sans Serif", "Liberation Sans", "DejaVu Sans"}).contains(ClassicLook::sansFamily()));
    // Controls inside a frame keep the window's font; only the frame's caption is larger.
    QCOMPARE(control<QCheckBox>(*m_window, "chkPrompts")->font().pointSizeF(), 8.25);
    for (const char* frame : {"frameServer", "frameLocal", "frameSelections", "frameProgress"}) {
        auto* box = control<QGroupBox>(*m_window, frame);
        QCOMPARE(box->font().pointSizeF(), 9.75);
        QVERIFY(box->font().bold());
    }
    QCOMPARE(control<QGroupBox>(*m_window, "frameServer")->title(), QStringLiteral("Trelvik Server"));
    QCOMPARE(control<QGroupBox>(*m_window, "frameLocal")->title(), QStringLiteral("Local Directory"));
    QCOMPARE(control<QGroupBox>(*m_window, "frameSelections")->title(), QStringLiteral("Selected Files"));
    QCOMPARE(control<QGroupBox>(*m_window, "frameProgress")->title(), QStringLiteral("Progress"));
}

void WindowLayoutTest::passwordFieldHidesTyping() {
    auto* password = control<QLineEdit>(*m_window, "ePassword");
    QCOMPARE(password->echoMode(), QLineEdit::Password);
    QVERIFY(!password->testAttribute(Qt::WA_InputMethodEnabled));
    QCOMPARE(control<QLineEdit>(*m_window, "eServer")->echoMode(), QLineEdit::Normal);
}

void WindowLayoutTest::messageLogIsReadOnlyWithVerticalScrollBar() {
    auto* log = control<QPlainTextEdit>(*m_window, "eMessage");
    QVERIFY(log->isReadOnly());
    QCOMPARE(log->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(log->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
}

void WindowLayoutTest::savesAPictureOfTheWindow() {
    TemporaryProgramFolder folder;
    QVERIFY(folder.isValid());
    Kavrel window(&m_boxes);
    window.Form_Load();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QString path = QStringLiteral(KAVREL_BUILD_DIR "/window.png");
    QFile::remove(path);
    const QPixmap picture = window.grab();
    QCOMPARE(picture.size(), window.size() * picture.devicePixelRatio());
    QVERIFY(picture.save(path));
    QVERIFY(QFileInfo(path).size() > 0);
    QVERIFY(window.close());
}

QTEST_MAIN(WindowLayoutTest)
#include "tst_windowlayout.moc"
