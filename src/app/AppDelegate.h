#pragma once

#include "server/LoginWindowControllerDelegate.h"
#include "window/MainWindowController.h"

#include <QObject>
#include <QPointer>
#include <memory>

class LoginWindowController;
class QAction;
class QActionGroup;
class QMenu;
class QMenuBar;

// The application shell: applies the appearance, builds the menus, chooses between the
// sign-in window and the main window from the stored credentials, and moves between the
// two on sign-in and sign-out. At any moment it owns exactly one of the two windows.
class AppDelegate final : public QObject, public LoginWindowControllerDelegate, public MainWindowControllerDelegate
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AppDelegate)

public:
    AppDelegate();
    ~AppDelegate() override;

    // Start-up: the saved appearance, the menus, then the window the credentials call for.
    void applicationDidFinishLaunching();

    void showLoginWindow();
    void showMainWindow();
    // Brings the open window to the front, as a second start of the application asks.
    void raise();

    void setAppearanceMode(int mode);
    void checkForUpdates();

    // LoginWindowControllerDelegate
    void loginWindowControllerDidAuthenticate(LoginWindowController* controller) override;
    // MainWindowControllerDelegate
    void mainWindowControllerDidLogout(MainWindowController* controller) override;

    LoginWindowController* loginWindowController() const { return m_loginWC.get(); }
    MainWindowController* mainWindowController() const { return m_mainWC.get(); }
    QAction* checkForUpdatesAction() const { return m_checkForUpdates; }
    QList<QAction*> appearanceActions() const;
    // The menus shown above the main window.
    QMenuBar* menuBar() const;

private:
    void buildActions();
    QMenuBar* buildMenuBar(MainWindowController* window);
    void validateMenuItems();
    void fillWindowMenu(QMenu* menu);
    // The responder chain of the desktop the design comes from: the focused widget, then
    // its parents, the first that has the action.
    static void sendToFocusedWidget(const char* method);
    void showUpdateAlert(const QString& message, const QString& informative, bool warning);

    std::unique_ptr<LoginWindowController> m_loginWC;
    std::unique_ptr<MainWindowController> m_mainWC;

    QAction* m_about = nullptr;
    QAction* m_checkForUpdates = nullptr;
    QAction* m_quit = nullptr;
    QAction* m_close = nullptr;
    QList<QAction*> m_editActions;
    QActionGroup* m_appearance = nullptr;
    QAction* m_minimize = nullptr;
    QAction* m_zoom = nullptr;
    QAction* m_bringAllToFront = nullptr;
};
