#include "LiveSession.h"

#include <QFileInfo>

// The built `mirelo` as a user meets it, under a virtual X display with real input events:
// the sign-in window without credentials, signing in against the demo server, and a second
// start that hands over to the first. Signing out is part of the end-to-end walk.
class TestAppBinary : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void signInAndHandOver();
};

void TestAppBinary::signInAndHandOver()
{
    GUI_REQUIRE(LiveSession::missingTools());
    LiveSession session(u"appbinary"_s);
    GUI_STEP(session.start(u"postgresql"_s));
    const AppProfile profile = session.makeProfile();
    GUI_STEP(session.startApp(profile));
    QString mainWindow;
    GUI_STEP(session.signIn(&mainWindow));
    GUI_STEP(session.screenshot(u"main-window"_s));
    const QJsonObject credentials = profile.credentials();
    QCOMPARE(credentials.value(u"serverURL").toString(), session.serverURL());
    QCOMPARE(credentials.value(u"apiKey").toString(), session.apiKey());
    QCOMPARE(QFileInfo(profile.credentialsPath()).permissions() & (QFile::ReadGroup | QFile::ReadOther),
             QFileDevice::Permissions());

    // Another user's Mirelo (a profile of its own) opens on top and takes the keyboard.
    session.launch(session.makeProfile(), u"mirelo-other-user"_s);
    QTRY_VERIFY_WITH_TIMEOUT(session.xWindows().size() == 2 && session.xFocusedWindow() != mainWindow, 10000);

    // Starting Mirelo again with the first profile hands over to the one running: the new
    // process ends with 0 and the running main window comes to the front (xdotool lists the
    // windows bottom to top) with the keyboard.
    QProcess* second = session.launch(profile, u"mirelo-second"_s);
    QVERIFY(second->waitForFinished(20000));
    QCOMPARE(second->exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->exitCode(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(session.xWindows().constLast(), mainWindow, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(session.xFocusedWindow(), mainWindow, 5000);
    GUI_STEP(session.screenshot(u"raised"_s));
}

QTEST_GUILESS_MAIN(TestAppBinary)
#include "tst_appbinary.moc"
