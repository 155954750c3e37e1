#pragma once

#include <QStyledItemDelegate>

class QAbstractItemView;

// Paints one row of the connection editor's list: the database symbol and the name, cut
// short at the tail. The selected row is a rounded accent wash inset from the row's edges;
// while the list has keyboard focus from the keyboard, the current row also carries the
// focus ring.
class MRConnRowView final : public QStyledItemDelegate
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MRConnRowView)

public:
    static constexpr int kRowHeight = 30;
    static constexpr int kRowSpacing = 2;

    // Paints view's rows and follows its keyboard focus.
    explicit MRConnRowView(QAbstractItemView* view);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // The part of a row's rectangle that the selected look fills.
    static QRectF selectionRect(const QRect& row);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QAbstractItemView* m_view;
    bool m_focusRing = false;
};
