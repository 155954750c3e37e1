#pragma once

#include <QString>
#include <optional>

// What the workspace tells the window that owns it. The workspace never changes the
// active connection or the sidebar itself: the delegate does, and then calls the
// workspace back (ContentViewController::connectionsChanged, for one).
//
// Lifetime: the workspace does not own its delegate. A delegate that is also a QObject
// (the main window) is tracked, and the workspace stops calling it once it is destroyed;
// any other delegate must outlive the workspace or be cleared with setDelegate(nullptr)
// first. No message is sent from the workspace's destructor.
class ContentViewControllerDelegate
{
public:
    virtual ~ContentViewControllerDelegate() = default;

    // A generated statement has just been added to the query history.
    virtual void contentDidAddHistoryRecord() = 0;
    // The user chose "Manage Databases…" in the connection menu.
    virtual void contentDidRequestManageConnections() = 0;
    // The user chose a connection in the connection menu: its id, or none for "No database".
    virtual void contentDidSelectConnectionId(const std::optional<QString>& connectionId) = 0;

protected:
    ContentViewControllerDelegate() = default;
    ContentViewControllerDelegate(const ContentViewControllerDelegate&) = default;
    ContentViewControllerDelegate& operator=(const ContentViewControllerDelegate&) = default;
};
