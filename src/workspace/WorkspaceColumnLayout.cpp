#include "workspace/WorkspaceColumnLayout.h"

#include <QWidget>
#include <algorithm>
#include <utility>

WorkspaceColumnLayout::WorkspaceColumnLayout(const Metrics& metrics, QWidget* parent)
    : QLayout(parent), m_metrics(metrics)
{
    setContentsMargins(0, 0, 0, 0);
    // The page is sized from heightForWidth; a minimum size set from the column's minimum
    // would make it taller than the column needs.
    setSizeConstraint(QLayout::SetNoConstraint);
}

WorkspaceColumnLayout::~WorkspaceColumnLayout()
{
    delete m_item;
}

int WorkspaceColumnLayout::columnWidth(int pageWidth) const
{
    return std::clamp(pageWidth - 2 * m_metrics.sideMargin, 0, m_metrics.maxWidth);
}

void WorkspaceColumnLayout::addItem(QLayoutItem* item)
{
    // One column only; a second one replaces the first.
    delete m_item;
    m_item = item;
}

QLayoutItem* WorkspaceColumnLayout::itemAt(int index) const
{
    return index == 0 ? m_item : nullptr;
}

QLayoutItem* WorkspaceColumnLayout::takeAt(int index)
{
    if (index != 0)
        return nullptr;
    return std::exchange(m_item, nullptr);
}

int WorkspaceColumnLayout::count() const
{
    return m_item ? 1 : 0;
}

int WorkspaceColumnLayout::columnHeight(int columnWidth) const
{
    if (!m_item || m_item->isEmpty())
        return 0;
    if (m_item->hasHeightForWidth())
        return m_item->heightForWidth(columnWidth);
    return m_item->sizeHint().height();
}

QSize WorkspaceColumnLayout::sizeHint() const
{
    const int width = m_metrics.maxWidth + 2 * m_metrics.sideMargin;
    return {width, heightForWidth(width)};
}

QSize WorkspaceColumnLayout::minimumSize() const
{
    // Never wider than the page it is shown in: the column narrows instead.
    const int content = m_item && !m_item->isEmpty() ? m_item->minimumSize().height() : 0;
    return {0, m_metrics.top + content + m_metrics.bottom};
}

int WorkspaceColumnLayout::heightForWidth(int width) const
{
    return m_metrics.top + columnHeight(columnWidth(width)) + m_metrics.bottom;
}

void WorkspaceColumnLayout::setGeometry(const QRect& rect)
{
    QLayout::setGeometry(rect);
    if (!m_item)
        return;
    const int width = columnWidth(rect.width());
    const int left = rect.left() + (rect.width() - width) / 2;
    m_item->setGeometry(QRect(left, rect.top() + m_metrics.top, width, columnHeight(width)));
}
