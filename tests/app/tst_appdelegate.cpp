#include "app/AppDelegate.h"
#include "server/APIManager.h"
#include "server/LoginWindowController.h"
#include "stores/KeychainHelper.h"
#include "support/TestHttpServer.h"
#include "ui/MRButton.h"
#include "ui/MRTextField.h"
#include "ui/ThemeManager.h"
#include "update/UpdateManager.h"
#include "window/MainWindowController.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTest>
#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace {

QAction* findAction(const QMenuBar* bar, const QString& menu, const QString& item)
{
    for (QAction* top : bar->actions()) {
        if (top->text() != menu || !top->menu())
            continue;
        for (QAction* action : top->menu()->actions())
            if (action->text() == item)
                return action;
    }
    return nullptr;
}

QStringList titles(const QMenu* menu)
{
    QStringList texts;
    for (const QAction* action : menu->actions())
        texts << (action->isSeparator() ? u"-"_s : action->text());
    return texts;
}

QMessageBox* openAlert(QWidget* parent)
{
    const QList<QMessageBox*> boxes = parent->findChildren<QMessageBox*>();
    for (QMessageBox* box : boxes)
        if (box->isVisible())
            return box;
    return nullptr;
}

} // namespace

// The shell as it starts, signs in and out, and answers its menus; with real windows, the
// real credential file and a real local server.
class TestAppDelegate : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void startsWithTheWindowTheCredentialsAllow_data();
    void startsWithTheWindowTheCredentialsAllow();
    void signInAndOut();
    void menus();
    void appearanceMenu();
    void checkForUpdates();
    void editMenuReachesTheFocusedField();

private:
    void signIn();

    std::unique_ptr<TestHttpServer> m_server;
    std::unique_ptr<AppDelegate> m_app;
};

void TestAppDelegate::init()
{
    m_server = std::make_unique<TestHttpServer>();
    m_server->route("GET", "/api/v1/health", TestHttpServer::json(200, "{}"));
    m_server->route("GET", "/api/v1/desktop/appcast", TestHttpServer::json(200, R"({"release":null})"));
    KeychainHelper::deleteCredentials();
    APIManager::shared().setServerURL(QString());
    APIManager::shared().setApiKey(QString());
    m_app = std::make_unique<AppDelegate>();
}

void TestAppDelegate::cleanup()
{
    m_app.reset();
    m_server.reset();
}

void TestAppDelegate::signIn()
{
    KeychainHelper::saveAPIKey(u"key"_s, m_server->baseUrl());
}

void TestAppDelegate::startsWithTheWindowTheCredentialsAllow_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("withURL");
    QTest::addColumn<bool>("main");
    QTest::newRow("both") << u"key"_s << true << true;
    QTest::newRow("no key") << QString() << true << false;
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
    QWidget* shown =
        main ? static_cast<QWidget*>(m_app->mainWindowController()) : m_app->loginWindowController()->window();
    QVERIFY(shown->isVisible());
    // No request re-checks the stored key at start-up.
    QTRY_VERIFY(m_server->requests().size() <= (main ? 1 : 0));
    for (const TestHttpServer::Request& request : m_server->requests())
        QCOMPARE(request.path, QByteArray("/api/v1/desktop/appcast"));
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
    QTRY_VERIFY(!m_app->loginWindowController());
    QCOMPARE(KeychainHelper::apiKey(), u"the-key"_s);
    QCOMPARE(KeychainHelper::serverURL(), m_server->baseUrl());
    QVERIFY(m_app->mainWindowController()->isVisible());
    QVERIFY(m_app->checkForUpdatesAction()->isEnabled());

    // Sign out: both credentials go, the connection passwords stay, a fresh sign-in window.
    m_app->mainWindowController()->signOutClicked();
    QMessageBox* box = m_app->mainWindowController()->signOutConfirmation();
    QVERIFY(box);
    box->buttons().constFirst()->click();
    QTRY_VERIFY(m_app->loginWindowController());
    QVERIFY(!m_app->mainWindowController());
    QVERIFY(KeychainHelper::apiKey().isEmpty());
    QVERIFY(KeychainHelper::serverURL().isEmpty());
    QCOMPARE(KeychainHelper::connectionPasswords().value(u"conn-1"_s), u"secret"_s);
    QVERIFY(APIManager::shared().apiKey().isEmpty() && APIManager::shared().serverURL().isEmpty());
    QVERIFY(m_app->loginWindowController()->serverURLField()->text().isEmpty());
    QVERIFY(!m_app->checkForUpdatesAction()->isEnabled());
    // That neither transition ends the application, and that closing the last window does,
    // takes a running event loop: the test of the real binary checks both.
}

void TestAppDelegate::menus()
{
    signIn();
    m_app->applicationDidFinishLaunching();
    QMenuBar* bar = m_app->menuBar();
    QVERIFY(bar);
    QStringList tops;
    for (const QAction* top : bar->actions())
        tops << top->text();
    QCOMPARE(tops, (QStringList{u"Mirelo"_s, u"File"_s, u"Edit"_s, u"View"_s, u"Window"_s}));
    QCOMPARE(titles(bar->actions().at(0)->menu()),
             (QStringList{u"About Mirelo"_s, u"Check for Updates…"_s, u"-"_s, u"Quit Mirelo"_s}));
    QCOMPARE(titles(bar->actions().at(1)->menu()), (QStringList{u"New Query"_s, u"-"_s, u"Close"_s}));
    QCOMPARE(titles(bar->actions().at(2)->menu()),
             (QStringList{u"Undo"_s, u"Redo"_s, u"-"_s, u"Cut"_s, u"Copy"_s, u"Paste"_s, u"Select All"_s}));
    QCOMPARE(titles(bar->actions().at(3)->menu()),
             (QStringList{u"Toggle Sidebar"_s, u"Search History"_s, u"-"_s, u"Appearance"_s}));
    QMenu* windowMenu = bar->actions().at(4)->menu();
    Q_EMIT windowMenu->aboutToShow();
    const QStringList window = titles(windowMenu);
    QCOMPARE(window.mid(0, 4), (QStringList{u"Minimize"_s, u"Zoom"_s, u"-"_s, u"Bring All to Front"_s}));
    QVERIFY2(window.contains(u"Mirelo"_s), "the Window menu does not list the open window");

    const QList<std::pair<QString, QKeySequence>> keys{
        {u"New Query"_s, QKeySequence(Qt::CTRL | Qt::Key_N)},
        {u"Close"_s, QKeySequence(Qt::CTRL | Qt::Key_W)},
        {u"Quit Mirelo"_s, QKeySequence(Qt::CTRL | Qt::Key_Q)},
        {u"Toggle Sidebar"_s, QKeySequence(Qt::CTRL | Qt::META | Qt::Key_S)},
        {u"Search History"_s, QKeySequence(Qt::CTRL | Qt::Key_F)},
        {u"Minimize"_s, QKeySequence(Qt::CTRL | Qt::Key_M)},
        {u"Redo"_s, QKeySequence(QKeySequence::Redo)},
    };
    for (const auto& [title, key] : keys) {
        QAction* action = nullptr;
        for (const QString& menu : tops)
            if (!action)
                action = findAction(bar, menu, title);
        QVERIFY2(action, qPrintable(title));
        QCOMPARE(action->shortcut(), key);
    }

    // File › New Query reaches the window: the workspace clears.
    MainWindowController* main = m_app->mainWindowController();
    findAction(bar, u"View"_s, u"Toggle Sidebar"_s)->trigger();
    QVERIFY(main->isSidebarCollapsed());
}

void TestAppDelegate::appearanceMenu()
{
    ThemeManager::shared().setMode(ThemeManager::Mode::System);
    const QList<QAction*> items = m_app->appearanceActions();
    QCOMPARE(items.size(), 3);
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
    // A change made elsewhere (the toolbar) moves the mark too; an unknown mode marks none.
    ThemeManager::shared().cycle();
    QCOMPARE(marks(), u"x--"_s);
    ThemeManager::shared().setMode(ThemeManager::Mode(5));
    QCOMPARE(marks(), u"---"_s);
    ThemeManager::shared().setMode(ThemeManager::Mode::System);
}

void TestAppDelegate::checkForUpdates()
{
    signIn();
    m_app->applicationDidFinishLaunching();
    MainWindowController* main = m_app->mainWindowController();
    UpdateManager::setCurrentBuildForTesting(42);
    UpdateManager::setCurrentVersionForTesting(u"1.4"_s);

    // Up to date: the alert, as a sheet on the main window.
    m_app->checkForUpdatesAction()->trigger();
    QTRY_VERIFY(openAlert(main));
    QMessageBox* alert = openAlert(main);
    QCOMPARE(alert->text(), u"You’re up to date"_s);
    QCOMPARE(alert->informativeText(), u"Mirelo 1.4 is the latest version."_s);
    QCOMPARE(alert->windowModality(), Qt::WindowModal);
    alert->buttons().constFirst()->click();
    QTRY_VERIFY(!openAlert(main));

    // The server fails: the error in the warning alert.
    m_server->route("GET", "/api/v1/desktop/appcast", TestHttpServer::json(404, "{}"));
    m_app->checkForUpdatesAction()->trigger();
    QTRY_VERIFY(openAlert(main));
    alert = openAlert(main);
    QCOMPARE(alert->text(), u"Couldn’t check for updates"_s);
    QCOMPARE(alert->informativeText(), u"Update check failed (HTTP 404)."_s);
    QCOMPARE(alert->icon(), QMessageBox::Warning);
    alert->buttons().constFirst()->click();
    QTRY_VERIFY(!openAlert(main));

    // A newer build: no alert, the banner speaks for it.
    m_server->route("GET", "/api/v1/desktop/appcast",
                    TestHttpServer::json(200, R"({"release":{"version":"1.5","build":43,"sha256":"ab",)"
                                              R"("download_path":"/d/m.zip"}})"));
    QSignalSpy offered(&UpdateManager::shared(), &UpdateManager::updateAvailable);
    m_app->checkForUpdatesAction()->trigger();
    QVERIFY(offered.wait());
    QCoreApplication::processEvents();
    QVERIFY(!openAlert(main));
    UpdateManager::setCurrentBuildForTesting(std::nullopt);
    UpdateManager::setCurrentVersionForTesting(std::nullopt);
}

void TestAppDelegate::editMenuReachesTheFocusedField()
{
    signIn();
    m_app->applicationDidFinishLaunching();
    MainWindowController* main = m_app->mainWindowController();
    main->activateWindow();
    QLineEdit* search = main->searchField();
    search->setFocus();
    QVERIFY(QTest::qWaitForWindowActive(main));
    search->setText(u"late orders"_s);
    findAction(m_app->menuBar(), u"Edit"_s, u"Select All"_s)->trigger();
    findAction(m_app->menuBar(), u"Edit"_s, u"Copy"_s)->trigger();
    QCOMPARE(QGuiApplication::clipboard()->text(), u"late orders"_s);
    findAction(m_app->menuBar(), u"Edit"_s, u"Cut"_s)->trigger();
    QVERIFY(search->text().isEmpty());
    findAction(m_app->menuBar(), u"Edit"_s, u"Undo"_s)->trigger();
    QCOMPARE(search->text(), u"late orders"_s);
}

QTEST_MAIN(TestAppDelegate)
#include "tst_appdelegate.moc"
