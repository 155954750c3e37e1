#include "ui/MRSuggestionRow.h"

#include "ui/MRStyleKit.h"
#include "ui/MRWidgetTheme.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QtMath>

namespace {

constexpr int kHeight = 52;
constexpr qreal kTileSize = 34;
constexpr qreal kTileRadius = 7;
constexpr qreal kTileLeft = 8;
constexpr qreal kTitleGap = 14;
constexpr qreal kTitleRight = 12;

QFont titleFont()
{
    return MRTheme::uiFont(14);
}

} // namespace

MRSuggestionRow::MRSuggestionRow(const QString& symbol, const QString& title, QWidget* parent)
    : MRRowView(parent), m_title(title), m_icon(MRStyleKit::symbol(symbol, 14, QFont::Normal))
{
    setFixedHeight(kHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setRowAccessibilityLabel(title);
}

QSize MRSuggestionRow::sizeHint() const
{
    const qreal text = QFontMetricsF(titleFont()).horizontalAdvance(m_title);
    return {qCeil(kTileLeft + kTileSize + kTitleGap + text + kTitleRight), kHeight};
}

QSize MRSuggestionRow::minimumSizeHint() const
{
    return {qCeil(kTileLeft + kTileSize + kTitleGap + kTitleRight), kHeight};
}

void MRSuggestionRow::paintRow(QPainter& painter)
{
    if (showsHover())
        paintRowBackground(painter, MRTheme::rowHover());

    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF tile(kTileLeft, (height() - kTileSize) / 2, kTileSize, kTileSize);
    painter.setPen(QPen(MRWidgetTheme::resolve(MRTheme::hairline(), this), 1));
    painter.setBrush(MRWidgetTheme::resolve(MRTheme::elevatedBackground(), this));
    painter.drawRoundedRect(tile.adjusted(0.5, 0.5, -0.5, -0.5), kTileRadius - 0.5, kTileRadius - 0.5);
    m_icon.paint(painter, tile, MRWidgetTheme::resolve(MRTheme::textSecondary(), this));

    const QFont font = titleFont();
    const qreal left = tile.right() + kTitleGap;
    const qreal width = qMax<qreal>(0, this->width() - kTitleRight - left);
    painter.setFont(font);
    painter.setPen(MRWidgetTheme::resolve(MRTheme::textPrimary(), this));
    painter.drawText(QRectF(left, 0, width, height()), Qt::AlignLeft | Qt::AlignVCenter,
                     QFontMetricsF(font).elidedText(m_title, Qt::ElideRight, width));
}
