#include "app/AppDelegate.h"

#include "server/APIManager.h"
#include "server/LoginWindowController.h"
#include "stores/KeychainHelper.h"
#include "ui/ThemeManager.h"
#include "update/UpdateManager.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QWindow>

namespace {

// The appearance menu's items; each one's position is the mode number it stands for.
const char* const kAppearanceTitles[] = {
    QT_TRANSLATE_NOOP("AppDelegate", "System"),
    QT_TRANSLATE_NOOP("AppDelegate", "Light"),
    QT_TRANSLATE_NOOP("AppDelegate", "Dark"),
};

QList<QWidget*> visibleWindows()
{
    QList<QWidget*> windows;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && !widget->windowTitle().isEmpty() &&
            (widget->windowType() == Qt::Window || widget->windowType() == Qt::Dialog))
            windows << widget;
    }
    return windows;
}

} // namespace

AppDelegate::AppDelegate()
{
    buildActions();
    connect(&ThemeManager::shared(), &ThemeManager::themeDidChange, this, &AppDelegate::validateMenuItems);
}

AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationDidFinishLaunching()
{
    ThemeManager::shared().apply();
    const QString serverURL = KeychainHelper::serverURL();
    const QString apiKey = KeychainHelper::apiKey();
    if (!serverURL.isEmpty() && !apiKey.isEmpty()) {
        APIManager::shared().setServerURL(serverURL);
        APIManager::shared().setApiKey(apiKey);
        showMainWindow();
    } else {
        showLoginWindow();
    }
    raise();
}

void AppDelegate::showLoginWindow()
{
    auto login = std::make_unique<LoginWindowController>();
    login->setDelegate(this);
    login->window()->addActions({m_about, m_quit, m_close});
    // The new window is up before the old one closes, so this never counts as closing the
    // last window; the old one goes once the call that led here has returned.
    login->show();
    if (m_mainWC) {
        m_mainWC->setDelegate(nullptr);
        m_mainWC->close();
        m_mainWC.release()->deleteLater();
    }
    m_loginWC = std::move(login);
    validateMenuItems();
}

void AppDelegate::showMainWindow()
{
    auto window = std::make_unique<MainWindowController>();
    window->setDelegate(this);
    window->setMenuBar(buildMenuBar(window.get()));
    window->show();
    if (m_loginWC) {
        m_loginWC->setDelegate(nullptr);
        m_loginWC->close();
        // The sign-in window reported from inside its own call; it goes once that returns.
        m_loginWC.release()->deleteLater();
    }
    m_mainWC = std::move(window);
    validateMenuItems();
    UpdateManager::shared().startAutomaticChecks();
}

void AppDelegate::raise()
{
    QWidget* window = m_mainWC ? m_mainWC.get() : (m_loginWC ? m_loginWC->window() : nullptr);
    if (!window)
        return;
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->activateWindow();
}

void AppDelegate::loginWindowControllerDidAuthenticate(LoginWindowController*)
{
    showMainWindow();
}

void AppDelegate::mainWindowControllerDidLogout(MainWindowController*)
{
    KeychainHelper::deleteCredentials();
    APIManager::shared().setServerURL(QString());
    APIManager::shared().setApiKey(QString());
    showLoginWindow();
}

void AppDelegate::setAppearanceMode(int mode)
{
    ThemeManager::shared().setMode(ThemeManager::Mode(mode));
}

void AppDelegate::checkForUpdates()
{
    QPointer<AppDelegate> self(this);
    UpdateManager::shared().checkWithCompletion([self](const std::optional<UpdateInfo>& update, const QString& error) {
        // A newer build has been announced already; the workspace shows its banner.
        if (!self || update)
            return;
        if (!error.isEmpty())
            self->showUpdateAlert(tr("Couldn’t check for updates"), error, true);
        else
            self->showUpdateAlert(tr("You’re up to date"),
                                  tr("Mirelo %1 is the latest version.").arg(UpdateManager::currentVersion()), false);
    });
}

void AppDelegate::showUpdateAlert(const QString& message, const QString& informative, bool warning)
{
    QWidget* parent = m_mainWC.get();
    auto* alert = new QMessageBox(warning ? QMessageBox::Warning : QMessageBox::Information, tr("Mirelo"), message,
                                  QMessageBox::Ok, parent);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->setInformativeText(informative);
    alert->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    alert->open();
}

QList<QAction*> AppDelegate::appearanceActions() const
{
    return m_appearance->actions();
}

QMenuBar* AppDelegate::menuBar() const
{
    return m_mainWC ? m_mainWC->menuBar() : nullptr;
}

void AppDelegate::buildActions()
{
    m_about = new QAction(tr("About Mirelo"), this);
    m_about->setMenuRole(QAction::AboutRole);
    connect(m_about, &QAction::triggered, this, [this] {
        MainWindowController::showAboutPanel(m_mainWC ? static_cast<QWidget*>(m_mainWC.get())
                                                      : (m_loginWC ? m_loginWC->window() : nullptr));
    });
    m_checkForUpdates = new QAction(tr("Check for Updates…"), this);
    m_checkForUpdates->setMenuRole(QAction::ApplicationSpecificRole);
    connect(m_checkForUpdates, &QAction::triggered, this, &AppDelegate::checkForUpdates);
    m_quit = new QAction(tr("Quit Mirelo"), this);
    m_quit->setMenuRole(QAction::QuitRole);
    m_quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(m_quit, &QAction::triggered, this, [] {
        // Closing the windows first lets the main window keep its frame.
        QApplication::closeAllWindows();
        QCoreApplication::quit();
    });
    m_close = new QAction(tr("Close"), this);
    m_close->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_W));
    connect(m_close, &QAction::triggered, this, [] {
        if (QWidget* window = QApplication::activeWindow())
            window->close();
    });

    struct Edit
    {
        const char* title;
        QKeySequence::StandardKey key;
        const char* method;
    };
    const Edit edits[] = {
        {QT_TR_NOOP("Undo"), QKeySequence::Undo, "undo"},
        {QT_TR_NOOP("Redo"), QKeySequence::Redo, "redo"},
        {QT_TR_NOOP("Cut"), QKeySequence::Cut, "cut"},
        {QT_TR_NOOP("Copy"), QKeySequence::Copy, "copy"},
        {QT_TR_NOOP("Paste"), QKeySequence::Paste, "paste"},
        {QT_TR_NOOP("Select All"), QKeySequence::SelectAll, "selectAll"},
    };
    for (const Edit& edit : edits) {
        auto* action = new QAction(tr(edit.title), this);
        action->setShortcut(edit.key);
        const char* method = edit.method;
        connect(action, &QAction::triggered, this, [method] { sendToFocusedWidget(method); });
        m_editActions << action;
    }

    m_appearance = new QActionGroup(this);
    // A stored mode outside the three checks none of them.
    m_appearance->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    for (int tag = 0; tag < int(std::size(kAppearanceTitles)); ++tag) {
        QAction* item = m_appearance->addAction(tr(kAppearanceTitles[tag]));
        item->setCheckable(true);
        item->setData(tag);
        connect(item, &QAction::triggered, this, [this, tag] { setAppearanceMode(tag); });
    }

    m_minimize = new QAction(tr("Minimize"), this);
    m_minimize->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_M));
    connect(m_minimize, &QAction::triggered, this, [] {
        if (QWidget* window = QApplication::activeWindow())
            window->showMinimized();
    });
    m_zoom = new QAction(tr("Zoom"), this);
    connect(m_zoom, &QAction::triggered, this, [] {
        if (QWidget* window = QApplication::activeWindow())
            window->isMaximized() ? window->showNormal() : window->showMaximized();
    });
    m_bringAllToFront = new QAction(tr("Bring All to Front"), this);
    connect(m_bringAllToFront, &QAction::triggered, this, [] {
        for (QWidget* window : visibleWindows())
            window->raise();
    });
    validateMenuItems();
}

QMenuBar* AppDelegate::buildMenuBar(MainWindowController* window)
{
    auto* bar = new QMenuBar;

    QMenu* application = bar->addMenu(tr("Mirelo"));
    application->addAction(m_about);
    application->addAction(m_checkForUpdates);
    application->addSeparator();
    application->addAction(m_quit);

    QMenu* file = bar->addMenu(tr("File"));
    file->addAction(window->newQueryAction());
    file->addSeparator();
    file->addAction(m_close);

    QMenu* edit = bar->addMenu(tr("Edit"));
    edit->addActions(m_editActions.mid(0, 2));
    edit->addSeparator();
    edit->addActions(m_editActions.mid(2));

    QMenu* view = bar->addMenu(tr("View"));
    view->addAction(window->toggleSidebarAction());
    view->addAction(window->focusSearchAction());
    view->addSeparator();
    QMenu* appearance = view->addMenu(tr("Appearance"));
    appearance->addActions(m_appearance->actions());

    QMenu* windows = bar->addMenu(tr("Window"));
    connect(windows, &QMenu::aboutToShow, this, [this, windows] { fillWindowMenu(windows); });
    fillWindowMenu(windows);

    for (QMenu* menu : {application, file, edit, view, appearance, windows})
        connect(menu, &QMenu::aboutToShow, this, &AppDelegate::validateMenuItems);
    return bar;
}

void AppDelegate::fillWindowMenu(QMenu* menu)
{
    menu->clear();
    menu->addAction(m_minimize);
    menu->addAction(m_zoom);
    menu->addSeparator();
    menu->addAction(m_bringAllToFront);
    // The open windows follow, as the desktop the design comes from lists them.
    const QList<QWidget*> windows = visibleWindows();
    if (windows.isEmpty())
        return;
    menu->addSeparator();
    for (QWidget* window : windows) {
        QAction* item = menu->addAction(window->windowTitle());
        item->setCheckable(true);
        item->setChecked(window == QApplication::activeWindow());
        QPointer<QWidget> target(window);
        connect(item, &QAction::triggered, menu, [target] {
            if (!target)
                return;
            target->raise();
            target->activateWindow();
        });
    }
}

void AppDelegate::validateMenuItems()
{
    const int mode = int(ThemeManager::shared().mode());
    for (QAction* item : m_appearance->actions())
        item->setChecked(item->data().toInt() == mode);
    m_checkForUpdates->setEnabled(m_mainWC != nullptr);
}

void AppDelegate::sendToFocusedWidget(const char* method)
{
    const QByteArray signature = QByteArray(method) + "()";
    for (QObject* target = QApplication::focusWidget(); target; target = target->parent()) {
        if (target->metaObject()->indexOfMethod(signature.constData()) >= 0) {
            QMetaObject::invokeMethod(target, method);
            return;
        }
        if (target->isWidgetType() && static_cast<QWidget*>(target)->isWindow())
            return;
    }
}
