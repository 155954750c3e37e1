#include "window/MainWindowController.h"

#include "db/ConnectionManager.h"
#include "ui/MRButton.h"
#include "ui/MRIcon.h"
#include "ui/MRStyleKit.h"
#include "ui/MRTextField.h"
#include "ui/MRTheme.h"
#include "ui/MRWidgetTheme.h"
#include "ui/ThemeManager.h"
#include "update/UpdateManager.h"
#include "workspace/ContentViewController.h"
#include "workspace/QueryHistory.h"

#include <QAction>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSplitter>
#include <QTimer>
#include <QToolBar>

namespace {

constexpr int kToolbarButtonWidth = 30;
constexpr int kToolbarButtonHeight = 24;
constexpr int kSearchFieldWidth = 220;
constexpr int kToolbarGap = 6;
constexpr int kToolbarMargin = 8;
constexpr int kMenuDrop = 4;
constexpr int kAboutIconSize = 64;

// The window's top strip: the window background with a hairline under it, as the unified
// title bar and toolbar look, instead of the style's raised tool bar.
class WindowToolbar final : public QToolBar
{
public:
    using QToolBar::QToolBar;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), MRWidgetTheme::resolve(MRTheme::windowBackground(), this));
        painter.fillRect(QRect(0, height() - 1, width(), 1), MRWidgetTheme::resolve(MRTheme::hairline(), this));
    }

    void changeEvent(QEvent* event) override
    {
        if (event->type() == QEvent::PaletteChange)
            update();
        QToolBar::changeEvent(event);
    }
};

// The thin divider between the panes: one hairline, with the style's grip left out.
class HairlineHandle final : public QSplitterHandle
{
public:
    using QSplitterHandle::QSplitterHandle;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), MRWidgetTheme::resolve(MRTheme::hairline(), this));
    }
};

class PaneSplitter final : public QSplitter
{
public:
    using QSplitter::QSplitter;

protected:
    QSplitterHandle* createHandle() override { return new HairlineHandle(orientation(), this); }
};

} // namespace

MainWindowController::MainWindowController(QWidget* parent) : QMainWindow(parent)
{
    setWindowTitle(tr("Mirelo"));
    setMinimumSize(kMinimumWidth, kMinimumHeight);
    resize(kInitialWidth, kInitialHeight);
    buildSplit();
    buildToolbar();
    buildActions();
    syncState();
    connect(&ThemeManager::shared(), &ThemeManager::themeDidChange, this, &MainWindowController::updateThemeButton);
    restoreFrame();
}

MainWindowController::~MainWindowController()
{
    // The panes are children and outlive this body; they must not reach back into a
    // window that is half gone.
    m_sidebar->setDelegate(nullptr);
    m_content->setDelegate(nullptr);
    if (m_sheetController)
        m_sheetController->setDelegate(nullptr);
}

void MainWindowController::buildSplit()
{
    m_sidebar = new SidebarViewController;
    m_sidebar->setDelegate(this);
    m_sidebar->setMinimumWidth(kSidebarMinimum);
    m_sidebar->setMaximumWidth(kSidebarMaximum);
    m_content = new ContentViewController;
    m_content->setDelegate(this);
    m_content->setMinimumWidth(kContentMinimum);

    m_splitter = new PaneSplitter(Qt::Horizontal);
    m_splitter->setHandleWidth(1);
    m_splitter->setChildrenCollapsible(false);
    m_splitter->addWidget(m_sidebar);
    m_splitter->addWidget(m_content);
    m_splitter->setCollapsible(0, true);
    m_splitter->setStretchFactor(0, 0);
    m_splitter->setStretchFactor(1, 1);
    m_splitter->setSizes({m_sidebarWidth, kInitialWidth - m_sidebarWidth});
    setCentralWidget(m_splitter);
}

void MainWindowController::buildToolbar()
{
    m_toolbar = new WindowToolbar(this);
    m_toolbar->setObjectName(QStringLiteral("MireloMainToolbar"));
    m_toolbar->setMovable(false);
    m_toolbar->setFloatable(false);
    m_toolbar->toggleViewAction()->setEnabled(false);
    m_toolbar->setContextMenuPolicy(Qt::PreventContextMenu);
    m_toolbar->setContentsMargins(0, 0, 0, 0);

    const auto iconButton = [this](const QString& symbol, const QString& label,
                                   void (MainWindowController::*action)()) {
        MRButton* button = MRStyleKit::iconButtonWithSymbol(symbol, label, this, [this, action] { (this->*action)(); });
        button->setFixedSize(kToolbarButtonWidth, kToolbarButtonHeight);
        return button;
    };
    m_sidebarButton =
        iconButton(QStringLiteral("sidebar.left"), tr("Toggle Sidebar"), &MainWindowController::toggleSidebar);

    m_searchField = new MRTextField;
    m_searchField->setFixedHeight(kToolbarButtonHeight + 4);
    m_searchField->setPlaceholderText(tr("Search history"));
    m_searchField->setAccessibleName(tr("Search history"));
    m_searchField->setClearButtonEnabled(true);
    m_searchField->setFixedWidth(kSearchFieldWidth);
    m_searchField->setFont(MRTheme::uiFont(13));
    m_searchDebounce = new QTimer(this);
    m_searchDebounce->setSingleShot(true);
    m_searchDebounce->setInterval(kSearchDebounceMs);
    connect(m_searchDebounce, &QTimer::timeout, this, &MainWindowController::applySearchFilter);
    connect(m_searchField, &QLineEdit::textChanged, m_searchDebounce, qOverload<>(&QTimer::start));

    m_themeButton =
        iconButton(ThemeManager::shared().symbolName(), tr("Toggle appearance"), &MainWindowController::cycleTheme);
    m_moreButton =
        MRStyleKit::iconButtonWithSymbol(QStringLiteral("ellipsis"), tr("More"), this, [this] { showOverflowMenu(); });
    m_moreButton->setFixedSize(kToolbarButtonWidth, kToolbarButtonHeight);

    // One row laid out here rather than as tool bar items, which the tool bar would pin to
    // its top edge instead of centring.
    auto* row = new QWidget;
    row->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(kToolbarMargin, kToolbarMargin, kToolbarMargin, kToolbarMargin);
    layout->setSpacing(kToolbarGap);
    layout->addWidget(m_sidebarButton, 0, Qt::AlignVCenter);
    layout->addWidget(m_searchField, 0, Qt::AlignVCenter);
    layout->addStretch(1);
    layout->addWidget(m_themeButton, 0, Qt::AlignVCenter);
    layout->addWidget(m_moreButton, 0, Qt::AlignVCenter);
    m_toolbar->addWidget(row);
    addToolBar(Qt::TopToolBarArea, m_toolbar);
    updateThemeButton();

    setTabOrder(m_sidebarButton, m_searchField);
    setTabOrder(m_searchField, m_themeButton);
    setTabOrder(m_themeButton, m_moreButton);
}

void MainWindowController::buildActions()
{
    const auto action = [this](const QString& text, const QKeySequence& shortcut,
                               void (MainWindowController::*slot)()) {
        auto* item = new QAction(text, this);
        item->setShortcut(shortcut);
        connect(item, &QAction::triggered, this, slot);
        addAction(item);
        return item;
    };
    m_newQueryAction = action(tr("New Query"), QKeySequence(Qt::CTRL | Qt::Key_N), &MainWindowController::newQuery);
    m_focusSearchAction =
        action(tr("Search History"), QKeySequence(Qt::CTRL | Qt::Key_F), &MainWindowController::focusSearch);
    // Control-Command-S on the desktop the design comes from; Meta is Command's partner here.
    m_toggleSidebarAction = action(tr("Toggle Sidebar"), QKeySequence(Qt::CTRL | Qt::META | Qt::Key_S),
                                   &MainWindowController::toggleSidebar);
    m_cycleAppearanceAction = action(tr("Cycle Appearance"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_L),
                                     &MainWindowController::cycleTheme);
}

void MainWindowController::syncState()
{
    m_sidebar->reloadConnections();
    m_sidebar->reloadRecents();
    m_content->connectionsChanged();
    m_content->showMainView(ContentViewController::MainView::Query);
}

void MainWindowController::newQuery()
{
    m_sidebar->setSelectedView(0);
    m_content->startNewQuery();
}

void MainWindowController::focusSearch()
{
    m_searchField->setFocus(Qt::ShortcutFocusReason);
    m_searchField->selectAll();
}

bool MainWindowController::isSidebarCollapsed() const
{
    return m_splitter->sizes().value(0) == 0;
}

void MainWindowController::toggleSidebar()
{
    const QList<int> sizes = m_splitter->sizes();
    const int total = sizes.value(0) + sizes.value(1);
    if (isSidebarCollapsed()) {
        m_splitter->setSizes({m_sidebarWidth, total - m_sidebarWidth});
    } else {
        m_sidebarWidth = sizes.value(0);
        m_splitter->setSizes({0, total});
    }
}

void MainWindowController::setActiveConnectionId(const std::optional<QString>& connectionId)
{
    ConnectionManager::shared().setActiveConnectionId(connectionId);
    m_sidebar->reloadConnections();
    m_content->connectionsChanged();
}

void MainWindowController::openConnectionSheet()
{
    if (m_sheetController)
        m_sheetController->setDelegate(nullptr);
    m_sheetController = std::make_unique<ConnectionSheetController>();
    m_sheetController->setDelegate(this);
    m_sheetController->beginSheetModalForWindow(this);
}

void MainWindowController::cycleTheme()
{
    ThemeManager::shared().cycle();
    updateThemeButton();
}

void MainWindowController::updateThemeButton()
{
    const ThemeManager& theme = ThemeManager::shared();
    m_themeButton->setImage(MRStyleKit::symbol(theme.symbolName(), 14, QFont::Normal));
    m_themeButton->setToolTip(tr("Appearance: %1").arg(theme.label()));
}

void MainWindowController::applySearchFilter()
{
    const QString text = m_searchField->text();
    m_sidebar->filterRecentsWithQuery(text);
    m_content->filterHistory(text);
}

QMenu* MainWindowController::showOverflowMenu()
{
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addAction(tr("About Mirelo"), this, [this] { showAboutPanel(this); });
    menu->addSeparator();
    menu->addAction(tr("Sign Out…"), this, &MainWindowController::signOutClicked);
    menu->popup(m_moreButton->mapToGlobal(QPoint(0, m_moreButton->height() + kMenuDrop)));
    return menu;
}

void MainWindowController::signOutClicked()
{
    if (m_signOutBox)
        return;
    auto* box = new QMessageBox(QMessageBox::Warning, tr("Sign Out?"), tr("Sign Out?"), QMessageBox::NoButton, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->setInformativeText(tr("Your API key will be removed from this device."));
    QPushButton* signOut = box->addButton(tr("Sign Out"), QMessageBox::AcceptRole);
    box->addButton(tr("Cancel"), QMessageBox::RejectRole);
    box->setDefaultButton(signOut);
    connect(box, &QMessageBox::finished, this, [this, box, signOut] {
        if (box->clickedButton() != signOut)
            return;
        // The shell closes and deletes this window in answer; it must not do so from inside
        // the dialog's own signal.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (m_delegate)
                    m_delegate->mainWindowControllerDidLogout(this);
            },
            Qt::QueuedConnection);
    });
    m_signOutBox = box;
    box->open();
}

QMessageBox* MainWindowController::signOutConfirmation() const
{
    return m_signOutBox;
}

void MainWindowController::showAboutPanel(QWidget* parent)
{
    auto* box = new QMessageBox(parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    box->setWindowTitle(tr("About Mirelo"));
    const QColor accent = MRWidgetTheme::resolve(MRTheme::accent(), box);
    box->setIconPixmap(MRStyleKit::sparkleImageOfSize(kAboutIconSize).pixmap(accent, box->devicePixelRatioF()));
    box->setText(tr("Mirelo"));
    box->setInformativeText(tr("Version %1 (%2)\nNatural language to SQL, instantly.")
                                .arg(UpdateManager::currentVersion(), QString::number(UpdateManager::currentBuild())));
    box->addButton(QMessageBox::Ok);
    box->open();
}

void MainWindowController::sidebarDidSelectView(int index)
{
    m_content->showMainView(index == 1 ? ContentViewController::MainView::History
                                       : ContentViewController::MainView::Query);
}

void MainWindowController::sidebarDidStartNewQuery()
{
    m_content->startNewQuery();
}

void MainWindowController::sidebarDidSelectRecentAtIndex(int index)
{
    m_content->loadHistoryRecordAtIndex(index);
}

void MainWindowController::sidebarDidRequestManageConnections()
{
    openConnectionSheet();
}

void MainWindowController::sidebarDidSelectConnectionId(const std::optional<QString>& connectionId)
{
    setActiveConnectionId(connectionId);
}

void MainWindowController::sidebarDidRequestClearHistory()
{
    QueryHistory::shared().clearAll();
    m_sidebar->reloadRecents();
    m_content->reloadHistory();
}

void MainWindowController::contentDidAddHistoryRecord()
{
    m_sidebar->reloadRecents();
}

void MainWindowController::contentDidRequestManageConnections()
{
    openConnectionSheet();
}

void MainWindowController::contentDidSelectConnectionId(const std::optional<QString>& connectionId)
{
    setActiveConnectionId(connectionId);
}

void MainWindowController::connectionSheetDidDismiss()
{
    m_sheetController.reset();
    m_sidebar->reloadConnections();
    m_content->connectionsChanged();
}

void MainWindowController::closeEvent(QCloseEvent* event)
{
    saveFrame();
    QMainWindow::closeEvent(event);
}

void MainWindowController::restoreFrame()
{
    const QByteArray frame = QSettings().value(QLatin1String(kFrameKey)).toByteArray();
    QScreen* screen = QGuiApplication::primaryScreen();
    if (frame.isEmpty() || !restoreGeometry(frame)) {
        if (screen)
            move(screen->availableGeometry().center() - rect().center());
        return;
    }
    // A frame saved on a larger screen is brought inside this one's visible area.
    screen = this->screen() ? this->screen() : screen;
    if (!screen)
        return;
    const QRect available = screen->availableGeometry();
    QRect frameRect = geometry();
    frameRect.setSize(frameRect.size().boundedTo(available.size()).expandedTo(minimumSize()));
    if (frameRect.right() > available.right())
        frameRect.moveRight(available.right());
    if (frameRect.bottom() > available.bottom())
        frameRect.moveBottom(available.bottom());
    if (frameRect.left() < available.left())
        frameRect.moveLeft(available.left());
    if (frameRect.top() < available.top())
        frameRect.moveTop(available.top());
    setGeometry(frameRect);
}

void MainWindowController::saveFrame() const
{
    QSettings().setValue(QLatin1String(kFrameKey), saveGeometry());
}
