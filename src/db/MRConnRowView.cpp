#include "db/MRConnRowView.h"

#include "ui/MRFocusRing.h"
#include "ui/MRStyleKit.h"
#include "ui/MRTheme.h"
#include "ui/MRWidgetTheme.h"

#include <QAbstractItemView>
#include <QFocusEvent>
#include <QFontMetricsF>
#include <QPainter>

namespace {

constexpr qreal kSelectionRadius = 7;
constexpr qreal kSelectionInsetX = 4;
constexpr qreal kSelectionInsetY = 1;
constexpr qreal kSelectionAlpha = 0.16;
constexpr qreal kLeading = 11;
constexpr qreal kSpacing = 9;
constexpr qreal kTrailing = 8;

} // namespace

MRConnRowView::MRConnRowView(QAbstractItemView* view) : QStyledItemDelegate(view), m_view(view)
{
    view->installEventFilter(this);
}

QRectF MRConnRowView::selectionRect(const QRect& row)
{
    return QRectF(row).adjusted(kSelectionInsetX, kSelectionInsetY, -kSelectionInsetX, -kSelectionInsetY);
}

QSize MRConnRowView::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const
{
    return {option.rect.width(), kRowHeight + kRowSpacing};
}

void MRConnRowView::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const QWidget* widget = option.widget ? option.widget : m_view;
    const QRect row = option.rect;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);

    if (option.state & QStyle::State_Selected) {
        painter->setPen(Qt::NoPen);
        painter->setBrush(MRWidgetTheme::resolve(MRTheme::accent().withAlpha(kSelectionAlpha), widget));
        painter->drawRoundedRect(selectionRect(row), kSelectionRadius, kSelectionRadius);
    }
    if (m_focusRing && m_view->hasFocus() && index == m_view->currentIndex())
        MRFocusRing::paint(*painter, selectionRect(row), kSelectionRadius, widget);

    const MRIcon icon = MRStyleKit::symbol(QStringLiteral("cylinder.split.1x2"), 12, QFont::Normal);
    const QSizeF iconSize = icon.size();
    const QRectF iconRect(row.left() + kLeading, row.top() + (row.height() - iconSize.height()) / 2, iconSize.width(),
                          iconSize.height());
    icon.paint(*painter, iconRect, MRWidgetTheme::resolve(MRTheme::textSecondary(), widget));

    const QFont font = MRTheme::uiFont(13, QFont::Medium);
    const qreal textLeft = iconRect.right() + kSpacing;
    const qreal textWidth = qMax<qreal>(0, row.right() + 1 - kTrailing - textLeft);
    painter->setFont(font);
    painter->setPen(MRWidgetTheme::resolve(MRTheme::textPrimary(), widget));
    const QString name = index.data(Qt::DisplayRole).toString();
    painter->drawText(QRectF(textLeft, row.top(), textWidth, row.height()), Qt::AlignLeft | Qt::AlignVCenter,
                      QFontMetricsF(font).elidedText(name, Qt::ElideRight, textWidth));
    painter->restore();
}

bool MRConnRowView::eventFilter(QObject* watched, QEvent* event)
{
    // The view's own keys must not reach the editor handling of the base class.
    if (watched != m_view)
        return QStyledItemDelegate::eventFilter(watched, event);
    if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut) {
        MRFocusRing::track(m_focusRing, static_cast<QFocusEvent*>(event));
        m_view->viewport()->update();
    }
    return false;
}
