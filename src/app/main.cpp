#include "platform/SingleInstance.h"
#include "server/APIManager.h"
#include "server/LoginWindowController.h"
#include "server/LoginWindowControllerDelegate.h"
#include "stores/KeychainHelper.h"
#include "ui/ThemeManager.h"

#include <QApplication>
#include <QMainWindow>
#include <QTextStream>
#include <memory>

namespace {

// Chooses between the sign-in window and the main window and moves from one to the other.
class Shell final : public LoginWindowControllerDelegate
{
public:
    void start()
    {
        const QString serverURL = KeychainHelper::serverURL();
        const QString apiKey = KeychainHelper::apiKey();
        if (serverURL.isEmpty() || apiKey.isEmpty()) {
            showLoginWindow();
            return;
        }
        APIManager::shared().setServerURL(serverURL);
        APIManager::shared().setApiKey(apiKey);
        showMainWindow();
    }

    // Brings the open window to the front, for a second start of the application.
    void raise()
    {
        QWidget* window = m_login ? m_login->window() : m_main.get();
        if (!window)
            return;
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
        window->show();
        window->raise();
        window->activateWindow();
    }

    void loginWindowControllerDidAuthenticate(LoginWindowController*) override { showMainWindow(); }

private:
    void showLoginWindow()
    {
        m_main.reset();
        m_login = std::make_unique<LoginWindowController>();
        m_login->setDelegate(this);
        m_login->show();
    }

    void showMainWindow()
    {
        m_main = std::make_unique<QMainWindow>();
        m_main->setWindowTitle(QStringLiteral("Mirelo"));
        m_main->resize(1100, 720);
        // Shown before the sign-in window closes, so that this never counts as closing the
        // last window.
        m_main->show();
        if (m_login) {
            m_login->close();
            // The sign-in window reported from within its own call; it goes once that returns.
            m_login.release()->deleteLater();
        }
    }

    std::unique_ptr<LoginWindowController> m_login;
    std::unique_ptr<QMainWindow> m_main;
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Mirelo"));
    QApplication::setApplicationName(QStringLiteral("Mirelo"));
    QApplication::setStyle(QStringLiteral("Fusion"));

    // A second start raises the running instance's window instead of writing its files too.
    SingleInstance instance;
    switch (instance.claim()) {
    case SingleInstance::Claim::Primary:
        break;
    case SingleInstance::Claim::AnotherRunning:
        return 0;
    case SingleInstance::Claim::Unanswered:
        QTextStream(stderr) << QCoreApplication::translate(
            "main", "Mirelo is already running but does not answer. Quit it and start Mirelo again.\n");
        return 1;
    }

    ThemeManager::shared().apply();
    Shell shell;
    QObject::connect(&instance, &SingleInstance::raiseRequested, &app, [&shell] { shell.raise(); });
    shell.start();
    return app.exec();
}
