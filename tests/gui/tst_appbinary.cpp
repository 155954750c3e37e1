#include "GuiTest.h"

#include <QFileInfo>

using namespace Qt::StringLiterals;

// The built `mirelo` as a user meets it, under a virtual X display with real input events:
// the sign-in window without credentials, signing in against the demo server, the main
// window, a second start that hands over to the first, signing out through the More menu,
// and closing the last window.
class TestAppBinary : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void signInHandOverSignOutAndQuit();
};

void TestAppBinary::initTestCase()
{
    GUI_REQUIRE_TOOLS();
}

void TestAppBinary::signInHandOverSignOutAndQuit()
{
    LiveSession session(u"appbinary"_s);
    GUI_STEP(session.startDisplay());
    GUI_STEP(session.startDemoServer(u"postgresql"_s));
    AppProfile profile;
    GUI_STEP(session.makeProfile(&profile));
    GUI_STEP(session.startApp(profile));

    // No credentials: the sign-in window, 460 × 460, with the URL field ready for typing.
    const QString signInWindow = GuiTest::waitForXWindow(session, u"Mirelo"_s, QSize(460, 460));
    QVERIFY2(!signInWindow.isEmpty(), "No 460 × 460 sign-in window appeared.");
    GUI_INPUT(session, session.fillField(u"Server URL"_s, session.serverURL()));
    GUI_INPUT(session, session.fillField(u"API Key"_s, session.apiKey()));
    GUI_STEP(session.screenshot(u"sign-in"_s));
    QVERIFY(!GuiTest::readJson(profile.credentialsPath()).contains(u"apiKey"));

    // Return signs in; the main window replaces the sign-in window.
    GUI_INPUT(session, session.pressKeys(u"Return"_s));
    const QString mainWindow = GuiTest::waitForXWindow(session, u"Mirelo"_s, QSize(1040, 720));
    QVERIFY2(!mainWindow.isEmpty(), "No 1040 × 720 main window appeared after signing in.");
    QVERIFY(session.waitFor(u"Prompt"_s).found);
    QTRY_VERIFY_WITH_TIMEOUT(session.xWindowsNamed(u"Mirelo"_s) == QStringList{mainWindow}, 5000);
    GUI_STEP(session.screenshot(u"main-window"_s));
    const QJsonObject credentials = GuiTest::readJson(profile.credentialsPath());
    QCOMPARE(credentials.value(u"serverURL").toString(), session.serverURL());
    QCOMPARE(credentials.value(u"apiKey").toString(), session.apiKey());
    QCOMPARE(QFileInfo(profile.credentialsPath()).permissions() & (QFile::ReadGroup | QFile::ReadOther),
             QFileDevice::Permissions());

    // Another user's Mirelo (a profile of its own) opens on top and takes the keyboard.
    AppProfile other;
    GUI_STEP(session.makeProfile(&other));
    GUI_STEP(session.startBystander(other));
    QTRY_VERIFY_WITH_TIMEOUT(session.xWindowsNamed(u"Mirelo"_s).size() == 2, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(session.xWindowsNamed(u"Mirelo"_s).constLast() != mainWindow, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(session.xFocusedWindow() != mainWindow, 5000);
    GUI_STEP(session.screenshot(u"other-user-on-top"_s));

    // Starting Mirelo again with the first profile hands over to the one running: the new
    // process ends with 0 and the running main window comes to the front with the keyboard.
    QString error;
    const int exitCode = session.runAppAgain(profile, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(exitCode, 0);
    // xdotool lists the windows bottom to top.
    QTRY_COMPARE_WITH_TIMEOUT(session.xWindowsNamed(u"Mirelo"_s).constLast(), mainWindow, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(session.xFocusedWindow(), mainWindow, 5000);
    GUI_STEP(session.screenshot(u"raised"_s));
    session.stopBystander();
    QTRY_COMPARE_WITH_TIMEOUT(session.xWindowsNamed(u"Mirelo"_s), QStringList{mainWindow}, 5000);

    // Sign Out… in the More menu, confirmed: the sign-in window again, the application
    // still running, and neither credential left in the file.
    GUI_INPUT(session, session.click(session.waitFor(u"More"_s)));
    GUI_INPUT(session, session.click(session.waitForMenuItem(u"Sign Out…"_s)));
    const ProbedWidget confirm = session.waitFor(u"Sign Out"_s);
    QVERIFY2(confirm.found, "The sign-out confirmation did not appear.");
    GUI_STEP(session.screenshot(u"sign-out-confirmation"_s));
    GUI_INPUT(session, session.click(confirm));
    QVERIFY2(!GuiTest::waitForXWindow(session, u"Mirelo"_s, QSize(460, 460)).isEmpty(),
             "The sign-in window did not come back after signing out.");
    QTRY_COMPARE_WITH_TIMEOUT(session.xWindowsNamed(u"Mirelo"_s).size(), 1, 5000);
    QVERIFY(session.waitFor(u"Server URL"_s).found);
    QCOMPARE(session.app()->state(), QProcess::Running);
    const QJsonObject afterSignOut = GuiTest::readJson(profile.credentialsPath());
    QVERIFY(!afterSignOut.contains(u"apiKey"));
    QVERIFY(!afterSignOut.contains(u"serverURL"));
    GUI_STEP(session.screenshot(u"signed-out"_s));

    // Closing the last window (File ▸ Close, Ctrl+W) ends the application with 0.
    GUI_INPUT(session, session.pressKeys(u"ctrl+w"_s));
    QVERIFY2(session.waitForAppExit(10000), "Mirelo was still running after its last window closed.");
    QCOMPARE(session.app()->exitStatus(), QProcess::NormalExit);
    QCOMPARE(session.app()->exitCode(), 0);
}

QTEST_GUILESS_MAIN(TestAppBinary)
#include "tst_appbinary.moc"
