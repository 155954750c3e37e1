#pragma once

#include "workspace/WorkspaceColumnLayout.h"

#include <QScrollArea>

class MRContentFlipped;
class QAbstractScrollArea;

// One page of the workspace: a borderless, transparent area that scrolls vertically only,
// holding a document as wide as the visible area with one centred column in it. Its
// scroll bar floats over the content and hides itself when idle, so the document keeps
// the full width whether or not the page scrolls.
class WorkspacePage final : public QScrollArea
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(WorkspacePage)

public:
    WorkspacePage(const WorkspaceColumnLayout::Metrics& metrics, QWidget* parent = nullptr);

    MRContentFlipped* document() const { return m_document; }
    // The column the page's content goes into.
    QWidget* column() const { return m_column; }
    WorkspaceColumnLayout* columnLayout() const { return m_layout; }

    // Gives a scroll area scroll bars that float over its content instead of taking room
    // beside it, and that show only while it scrolls or the pointer is on them.
    static void useOverlayScrollBars(QAbstractScrollArea* area);

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The document takes the visible width and the height its column needs there, at
    // least the visible height.
    void fitDocument();

    MRContentFlipped* m_document;
    WorkspaceColumnLayout* m_layout;
    QWidget* m_column;
};
