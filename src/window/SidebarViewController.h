#pragma once

#include <QList>
#include <QString>
#include <QWidget>
#include <optional>

class MRButton;
class MRClickRow;
class MRFlippedView;
class MRImageView;
class MRLabel;
class MRPill;
class MRSeparatorView;
class MRSidebarRow;
class QAction;
class QMenu;
class QScrollArea;
class QVariantAnimation;
class QVBoxLayout;

// What the sidebar reports; the main window acts on each.
class SidebarDelegate
{
public:
    virtual ~SidebarDelegate() = default;

    // 0 = Query, 1 = History. Also sent with 0 just before a new query or a recent prompt.
    virtual void sidebarDidSelectView(int index) = 0;
    virtual void sidebarDidStartNewQuery() = 0;
    // The record's position in QueryHistory::records(), whatever the filter shows.
    virtual void sidebarDidSelectRecentAtIndex(int index) = 0;
    virtual void sidebarDidRequestManageConnections() = 0;
    // nullopt for "No database".
    virtual void sidebarDidSelectConnectionId(const std::optional<QString>& connectionId) = 0;
    virtual void sidebarDidRequestClearHistory() = 0;
};

// The main window's left pane: the Query/History switch, "New query", "Databases", the
// foldable list of recent prompts with its options, and the connection picker. It owns no
// data: it reads QueryHistory and ConnectionManager when told to reload, and reports every
// choice to its delegate.
class SidebarViewController final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SidebarViewController)

public:
    static constexpr int kAnimationMs = 180;
    // The settings key that keeps the Recents list folded across launches.
    static constexpr const char* kRecentsCollapsedKey = "MRRecentsCollapsed";

    explicit SidebarViewController(QWidget* parent = nullptr);

    // Not owned; it must outlive the controller or be replaced first.
    void setDelegate(SidebarDelegate* delegate) { m_delegate = delegate; }
    SidebarDelegate* delegate() const { return m_delegate; }

    // Rebuilds the recent prompts from QueryHistory under the current filter.
    void reloadRecents();
    // Shows the active connection, or "No database", in the picker row.
    void reloadConnections();
    // Moves the switch without telling the delegate.
    void setSelectedView(int index);
    // Keeps the recents whose prompt contains query, ignoring case; an empty query shows all.
    void filterRecentsWithQuery(const QString& query);
    // Folds or unfolds the recents, remembers it, and animates the change.
    void toggleRecents();
    // Gives one recent row the selected look and the others the plain look.
    void selectRecentRow(MRSidebarRow* row);

    // The menus, popped up under their controls; each deletes itself when it closes.
    QMenu* showRecentsMenu();
    QMenu* showConnectionMenu();
    void clearHistoryClicked();
    void connectionMenuItemClicked(QAction* item);
    void manageFromMenu();

    std::optional<QString> searchFilter() const { return m_searchFilter; }
    bool isRecentsCollapsed() const { return m_recentsCollapsed; }
    // Whether the recents list is still growing or shrinking.
    bool isRecentsAnimating() const;

    // The parts, for the owner and for tests.
    MRPill* pill() const { return m_pill; }
    MRSidebarRow* primaryRow() const { return m_primaryRow; }
    MRSidebarRow* databasesRow() const { return m_databasesRow; }
    MRClickRow* recentsHeader() const { return m_recentsHeader; }
    MRImageView* recentsChevron() const { return m_recentsChevron; }
    MRButton* recentsOptionsButton() const { return m_optionsButton; }
    QScrollArea* recentsScroll() const { return m_recentsScroll; }
    MRFlippedView* recentsContainer() const { return m_recentsContainer; }
    QList<MRSidebarRow*> recentRows() const { return m_recentRows; }
    MRLabel* emptyRecentsLabel() const { return m_emptyRecentsLabel; }
    MRSeparatorView* separator() const { return m_separator; }
    MRSidebarRow* connectionRow() const { return m_connectionRow; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void buildLayout();
    void layoutParts();
    void applyRecentsCollapsed(bool animated);
    void updateTabOrder();
    void recentClicked(MRSidebarRow* row, int index);
    QMenu* popUnder(QMenu* menu, QWidget* control);

    SidebarDelegate* m_delegate = nullptr;
    MRPill* m_pill = nullptr;
    MRSidebarRow* m_primaryRow = nullptr;
    MRSidebarRow* m_databasesRow = nullptr;
    MRClickRow* m_recentsHeader = nullptr;
    MRImageView* m_recentsChevron = nullptr;
    MRLabel* m_recentsTitle = nullptr;
    MRButton* m_optionsButton = nullptr;
    QScrollArea* m_recentsScroll = nullptr;
    MRFlippedView* m_recentsContainer = nullptr;
    QVBoxLayout* m_recentsLayout = nullptr;
    MRLabel* m_emptyRecentsLabel = nullptr;
    MRSeparatorView* m_separator = nullptr;
    MRSidebarRow* m_connectionRow = nullptr;
    QVariantAnimation* m_recentsAnimation = nullptr;

    std::optional<QString> m_searchFilter;
    QList<MRSidebarRow*> m_recentRows;
    bool m_recentsCollapsed = false;
    // How much of the recents' full height shows: 1 unfolded, 0 folded.
    qreal m_recentsShown = 1;
};
