#pragma once

#include "db/ConnectionSheetController.h"
#include "window/SidebarViewController.h"
#include "workspace/ContentViewControllerDelegate.h"

#include <QMainWindow>
#include <QPointer>
#include <memory>
#include <optional>

class ContentViewController;
class MRButton;
class MainWindowController;
class QAction;
class QLineEdit;
class QMenu;
class QMessageBox;
class QSplitter;
class QTimer;
class QToolBar;

// What the main window tells the application shell.
class MainWindowControllerDelegate
{
public:
    virtual ~MainWindowControllerDelegate() = default;
    // The user confirmed "Sign Out". Sent once the confirmation has closed, never from
    // inside one of the window's own handlers, so the shell may delete the window at once.
    virtual void mainWindowControllerDidLogout(MainWindowController* controller) = 0;
};

// The application's main window: the sidebar and the query workspace side by side under a
// toolbar with the history search, the appearance switch and the "More" menu. It is the
// hub between its panes and the connection editor: each reports to it, and it turns every
// message into calls on the stores and the other panes.
class MainWindowController final : public QMainWindow,
                                   public SidebarDelegate,
                                   public ContentViewControllerDelegate,
                                   public ConnectionSheetControllerDelegate
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MainWindowController)

public:
    static constexpr int kInitialWidth = 1040;
    static constexpr int kInitialHeight = 720;
    static constexpr int kMinimumWidth = 840;
    static constexpr int kMinimumHeight = 560;
    static constexpr int kSidebarMinimum = 248;
    static constexpr int kSidebarMaximum = 300;
    static constexpr int kContentMinimum = 480;
    static constexpr int kSearchDebounceMs = 200;
    // Where the window's frame is kept between launches.
    static constexpr const char* kFrameKey = "MireloMainWindow";

    explicit MainWindowController(QWidget* parent = nullptr);
    ~MainWindowController() override;

    // Not owned; it must outlive the window or be cleared first.
    void setDelegate(MainWindowControllerDelegate* delegate) { m_delegate = delegate; }
    MainWindowControllerDelegate* delegate() const { return m_delegate; }

    // The menu commands this window answers.
    void newQuery();
    void focusSearch();
    void toggleSidebar();
    bool isSidebarCollapsed() const;

    // Stores the active connection, then refreshes the sidebar and the workspace.
    void setActiveConnectionId(const std::optional<QString>& connectionId);
    // Opens a new connection editor over the window; one that is open is replaced.
    void openConnectionSheet();
    void cycleTheme();
    QMenu* showOverflowMenu();
    void signOutClicked();
    // The About box, over parent's window.
    static void showAboutPanel(QWidget* parent);

    // Actions with the window's shortcuts; the application's menus show the same ones.
    QAction* newQueryAction() const { return m_newQueryAction; }
    QAction* focusSearchAction() const { return m_focusSearchAction; }
    QAction* toggleSidebarAction() const { return m_toggleSidebarAction; }
    QAction* cycleAppearanceAction() const { return m_cycleAppearanceAction; }

    // The parts, for the shell and for tests.
    SidebarViewController* sidebar() const { return m_sidebar; }
    ContentViewController* content() const { return m_content; }
    QSplitter* splitter() const { return m_splitter; }
    QToolBar* toolbar() const { return m_toolbar; }
    MRButton* sidebarButton() const { return m_sidebarButton; }
    QLineEdit* searchField() const { return m_searchField; }
    MRButton* themeButton() const { return m_themeButton; }
    MRButton* moreButton() const { return m_moreButton; }
    ConnectionSheetController* sheetController() const { return m_sheetController.get(); }
    QMessageBox* signOutConfirmation() const;

    // SidebarDelegate
    void sidebarDidSelectView(int index) override;
    void sidebarDidStartNewQuery() override;
    void sidebarDidSelectRecentAtIndex(int index) override;
    void sidebarDidRequestManageConnections() override;
    void sidebarDidSelectConnectionId(const std::optional<QString>& connectionId) override;
    void sidebarDidRequestClearHistory() override;

    // ContentViewControllerDelegate
    void contentDidAddHistoryRecord() override;
    void contentDidRequestManageConnections() override;
    void contentDidSelectConnectionId(const std::optional<QString>& connectionId) override;

    // ConnectionSheetControllerDelegate
    void connectionSheetDidDismiss() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildSplit();
    void buildToolbar();
    void buildActions();
    void syncState();
    void updateThemeButton();
    void applySearchFilter();
    void restoreFrame();
    void saveFrame() const;

    MainWindowControllerDelegate* m_delegate = nullptr;
    SidebarViewController* m_sidebar = nullptr;
    ContentViewController* m_content = nullptr;
    QSplitter* m_splitter = nullptr;
    QToolBar* m_toolbar = nullptr;
    MRButton* m_sidebarButton = nullptr;
    QLineEdit* m_searchField = nullptr;
    MRButton* m_themeButton = nullptr;
    MRButton* m_moreButton = nullptr;
    QTimer* m_searchDebounce = nullptr;
    QAction* m_newQueryAction = nullptr;
    QAction* m_focusSearchAction = nullptr;
    QAction* m_toggleSidebarAction = nullptr;
    QAction* m_cycleAppearanceAction = nullptr;
    std::unique_ptr<ConnectionSheetController> m_sheetController;
    QPointer<QMessageBox> m_signOutBox;
    // The sidebar's width before it was folded away, to unfold it to.
    int m_sidebarWidth = 260;
};
