#include "app/AppDelegate.h"
#include "server/APIManager.h"
#include "server/LoginWindowController.h"
#include "stores/KeychainHelper.h"
#include "support/TestHttpServer.h"
#include "ui/MRTextField.h"
#include "ui/ThemeManager.h"
#include "update/UpdateManager.h"
#include "window/MainWindowController.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTest>
#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace {

// An item of one of the menus.
QAction* findAction(const QMenuBar* bar, const QString& item)
{
    for (const QAction* top : bar->actions())
        for (QAction* action : top->menu()->actions())
            if (action->text() == item)
                return action;
    return nullptr;
}

// The alert open in front of the windows, if any.
QMessageBox* openAlert()
{
    return qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
}

} // namespace

// The shell as it starts, signs in and out, and answers its menus; with real windows, the
// real credential file and a real local server.
class TestAppDelegate : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void startsWithTheWindowTheCredentialsAllow_data();
    void startsWithTheWindowTheCredentialsAllow();
    void signInAndOut();
    void menusReachTheWindow();
    void appearanceMenu();
    void checkForUpdates_data();
    void checkForUpdates();

private:
    std::unique_ptr<TestHttpServer> m_server;
    std::unique_ptr<AppDelegate> m_app;
};

void TestAppDelegate::init()
{
    m_app.reset();
    m_server = std::make_unique<TestHttpServer>();
    m_server->route("GET", "/api/v1/health", TestHttpServer::json(200, "{}"));
    m_server->route("GET", "/api/v1/desktop/appcast", TestHttpServer::json(200, R"({"release":null})"));
    KeychainHelper::deleteCredentials();
    APIManager::shared().setServerURL(QString());
    APIManager::shared().setApiKey(QString());
    UpdateManager::setCurrentBuildForTesting(42);
    UpdateManager::setCurrentVersionForTesting(u"1.4"_s);
    m_app = std::make_unique<AppDelegate>();
}

void TestAppDelegate::startsWithTheWindowTheCredentialsAllow_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("withURL");
    QTest::addColumn<bool>("main");
    QTest::newRow("both") << u"key"_s << true << true;
    QTest::newRow("empty key") << u""_s << true << false;
    QTest::newRow("no URL") << u"key"_s << false << false;
}

void TestAppDelegate::startsWithTheWindowTheCredentialsAllow()
{
    QFETCH(QString, key);
    QFETCH(bool, withURL);
    QFETCH(bool, main);
    KeychainHelper::saveAPIKey(key, withURL ? m_server->baseUrl() : QString());
    m_app->applicationDidFinishLaunching();
    // Exactly one of the two windows, and the server client set only with both credentials.
    QCOMPARE(m_app->mainWindowController() != nullptr, main);
    QCOMPARE(m_app->loginWindowController() != nullptr, !main);
    QCOMPARE(APIManager::shared().apiKey(), main ? key : QString());
    QCOMPARE(m_app->checkForUpdatesAction()->isEnabled(), main);
}

void TestAppDelegate::signInAndOut()
{
    KeychainHelper::saveConnectionPasswords({{u"conn-1"_s, u"secret"_s}});
    m_app->applicationDidFinishLaunching();
    LoginWindowController* login = m_app->loginWindowController();
    QVERIFY(login);
    QVERIFY(QTest::qWaitForWindowActive(login->window()));
    QTest::keyClicks(login->serverURLField(), u"  "_s + m_server->baseUrl() + u"  "_s);
    QTest::keyClicks(login->apiKeyField(), u" the-key "_s);
    QTest::keyClick(login->apiKeyField(), Qt::Key_Return);
    QTRY_VERIFY(m_app->mainWindowController());
    QVERIFY(!m_app->loginWindowController());
    QCOMPARE(KeychainHelper::apiKey(), u"the-key"_s);
    QCOMPARE(KeychainHelper::serverURL(), m_server->baseUrl());

    // Sign out: both credentials go, the connection passwords stay, a fresh sign-in window.
    m_app->mainWindowController()->signOutClicked();
    m_app->mainWindowController()->signOutConfirmation()->buttons().constFirst()->click();
    QTRY_VERIFY(m_app->loginWindowController());
    QVERIFY(!m_app->mainWindowController());
    QVERIFY(KeychainHelper::apiKey().isEmpty() && KeychainHelper::serverURL().isEmpty());
    QCOMPARE(KeychainHelper::connectionPasswords().value(u"conn-1"_s), u"secret"_s);
    QVERIFY(APIManager::shared().apiKey().isEmpty() && APIManager::shared().serverURL().isEmpty());
    QVERIFY(m_app->loginWindowController()->serverURLField()->text().isEmpty());
    QVERIFY(!m_app->checkForUpdatesAction()->isEnabled());
    // That neither transition ends the application, and that closing the last window does,
    // takes a running event loop: the test of the real binary checks both.
}

void TestAppDelegate::menusReachTheWindow()
{
    KeychainHelper::saveAPIKey(u"key"_s, m_server->baseUrl());
    m_app->applicationDidFinishLaunching();
    MainWindowController* main = m_app->mainWindowController();
    QMenuBar* bar = m_app->menuBar();
    // The Window menu lists the open windows when it opens.
    Q_EMIT bar->actions().at(4)->menu()->aboutToShow();
    QVERIFY(findAction(bar, u"Mirelo"_s));
    findAction(bar, u"Toggle Sidebar"_s)->trigger();
    QVERIFY(main->isSidebarCollapsed());

    // The Edit menu acts on the focused field.
    main->activateWindow();
    main->searchField()->setFocus();
    QVERIFY(QTest::qWaitForWindowActive(main));
    main->searchField()->setText(u"late orders"_s);
    findAction(bar, u"Select All"_s)->trigger();
    findAction(bar, u"Copy"_s)->trigger();
    QCOMPARE(QGuiApplication::clipboard()->text(), u"late orders"_s);
}

void TestAppDelegate::appearanceMenu()
{
    ThemeManager::shared().setMode(ThemeManager::Mode::System);
    const QList<QAction*> items = m_app->appearanceActions();
    const auto marks = [&items] {
        QString shown;
        for (const QAction* item : items)
            shown += item->isChecked() ? u'x' : u'-';
        return shown;
    };
    QCOMPARE(marks(), u"x--"_s);
    items.at(2)->trigger();
    QCOMPARE(ThemeManager::shared().mode(), ThemeManager::Mode::Dark);
    QCOMPARE(marks(), u"--x"_s);
    // A change made elsewhere (the toolbar) moves the mark too.
    ThemeManager::shared().cycle();
    QCOMPARE(marks(), u"x--"_s);
}

void TestAppDelegate::checkForUpdates_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("appcast");
    QTest::addColumn<QString>("alert"); // empty: none, the banner speaks for a newer build
    QTest::addColumn<QString>("detail");
    QTest::newRow("up to date") << 200 << QByteArray(R"({"release":null})") << u"You’re up to date"_s
                                << u"Mirelo 1.4 is the latest version."_s;
    QTest::newRow("failed") << 404 << QByteArray("{}") << u"Couldn’t check for updates"_s
                            << u"Update check failed (HTTP 404)."_s;
    QTest::newRow("newer build") << 200
                                 << QByteArray(R"({"release":{"version":"1.5","build":43,"sha256":"ab",)"
                                               R"("download_path":"/d/m.zip"}})")
                                 << QString() << QString();
}

void TestAppDelegate::checkForUpdates()
{
    QFETCH(int, status);
    QFETCH(QByteArray, appcast);
    QFETCH(QString, alert);
    QFETCH(QString, detail);
    KeychainHelper::saveAPIKey(u"key"_s, m_server->baseUrl());
    m_app->applicationDidFinishLaunching();
    MainWindowController* main = m_app->mainWindowController();
    QVERIFY(m_server->waitForAnswers(1)); // the start-up check, silent
    m_server->route("GET", "/api/v1/desktop/appcast", TestHttpServer::json(status, appcast));
    QSignalSpy offered(&UpdateManager::shared(), &UpdateManager::updateAvailable);
    m_app->checkForUpdatesAction()->trigger();
    QTRY_VERIFY(openAlert() || !offered.isEmpty());
    QCOMPARE(openAlert() ? openAlert()->text() : QString(), alert);
    if (alert.isEmpty())
        return;
    QCOMPARE(openAlert()->informativeText(), detail);
    // A sheet on the main window.
    QVERIFY(openAlert()->parentWidget() == main && openAlert()->windowModality() == Qt::WindowModal);
}

QTEST_MAIN(TestAppDelegate)
#include "tst_appdelegate.moc"
