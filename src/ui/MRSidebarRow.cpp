#include "ui/MRSidebarRow.h"

#include "ui/MRStyleKit.h"
#include "ui/MRWidgetTheme.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QtMath>

namespace {

constexpr int kHeight = 32;
constexpr qreal kIconLeft = 9;
constexpr qreal kIconWidth = 18;
constexpr qreal kDotSize = 7;
constexpr qreal kTitleGap = 8;
constexpr qreal kTrailingGap = 6;
constexpr qreal kTrailingWidth = 14;
constexpr qreal kTrailingRight = 9;

constexpr qreal kTitleLeft = kIconLeft + kIconWidth + kTitleGap;
constexpr qreal kTitleRightInset = kTrailingRight + kTrailingWidth + kTrailingGap;

} // namespace

MRSidebarRow::MRSidebarRow(const QString& symbol, const QString& title, QWidget* parent) : MRRowView(parent)
{
    if (!symbol.isEmpty())
        m_icon = MRStyleKit::symbol(symbol, 14.5, QFont::Normal);
    setFixedHeight(kHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setTitleText(title);
}

void MRSidebarRow::setTitleText(const QString& title)
{
    m_title = title;
    setRowAccessibilityLabel(title);
    updateGeometry();
    update();
}

void MRSidebarRow::setDotColor(const std::optional<MRColor>& color)
{
    m_dotColor = color;
    update();
}

void MRSidebarRow::setTrailingSymbol(const QString& name)
{
    m_trailing = name.isEmpty() ? MRIcon() : MRStyleKit::symbol(name, 11, QFont::DemiBold);
    update();
}

void MRSidebarRow::setLeadingImage(const std::optional<MRIcon>& image, const MRColor& tint)
{
    m_dotColor.reset();
    if (image)
        m_icon = *image;
    m_iconTint = tint;
    update();
}

void MRSidebarRow::setSelectedLook(bool selected)
{
    m_selected = selected;
    updateAppearance();
}

QFont MRSidebarRow::titleFont() const
{
    return MRTheme::uiFont(13, m_selected ? QFont::Medium : QFont::Normal);
}

QSize MRSidebarRow::sizeHint() const
{
    const qreal text = QFontMetricsF(titleFont()).horizontalAdvance(m_title);
    return {qCeil(kTitleLeft + text + kTitleRightInset), kHeight};
}

QSize MRSidebarRow::minimumSizeHint() const
{
    // The title gives way first, down to nothing.
    return {qCeil(kTitleLeft + kTitleRightInset), kHeight};
}

void MRSidebarRow::paintRow(QPainter& painter)
{
    if (m_selected)
        paintRowBackground(painter, MRTheme::rowSelected());
    else if (showsHover())
        paintRowBackground(painter, MRTheme::rowHover());

    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF iconSlot(kIconLeft, 0, kIconWidth, height());
    if (m_dotColor) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(MRWidgetTheme::resolve(*m_dotColor, this));
        painter.drawEllipse(
            QRectF(iconSlot.center().x() - kDotSize / 2, iconSlot.center().y() - kDotSize / 2, kDotSize, kDotSize));
    } else {
        m_icon.paint(painter, iconSlot, MRWidgetTheme::resolve(m_iconTint, this));
    }

    const QRectF trailingSlot(width() - kTrailingRight - kTrailingWidth, 0, kTrailingWidth, height());
    m_trailing.paint(painter, trailingSlot, MRWidgetTheme::resolve(MRTheme::textTertiary(), this));

    const QFont font = titleFont();
    const qreal titleWidth = qMax<qreal>(0, width() - kTitleRightInset - kTitleLeft);
    painter.setFont(font);
    painter.setPen(MRWidgetTheme::resolve(MRTheme::textPrimary(), this));
    painter.drawText(QRectF(kTitleLeft, 0, titleWidth, height()), Qt::AlignLeft | Qt::AlignVCenter,
                     QFontMetricsF(font).elidedText(m_title, Qt::ElideRight, titleWidth));
}
