#pragma once

#include <QLayout>

// Lays out one column in a page: a fixed distance below the page's top, centred, as wide
// as the page less a margin on each side but never wider than a cap, and as tall as its
// content at that width; the page ends a fixed distance below the column.
class WorkspaceColumnLayout final : public QLayout
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(WorkspaceColumnLayout)

public:
    struct Metrics
    {
        int top = 0;
        int maxWidth = 0;
        int sideMargin = 0; // on each side, while the cap is not reached
        int bottom = 0;
    };

    WorkspaceColumnLayout(const Metrics& metrics, QWidget* parent = nullptr);
    ~WorkspaceColumnLayout() override;

    Metrics metrics() const { return m_metrics; }
    // The column's width in a page of the given width.
    int columnWidth(int pageWidth) const;

    void addItem(QLayoutItem* item) override;
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;
    int count() const override;

    QSize sizeHint() const override;
    QSize minimumSize() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    void setGeometry(const QRect& rect) override;

private:
    int columnHeight(int columnWidth) const;

    Metrics m_metrics;
    QLayoutItem* m_item = nullptr;
};
