#include "ui/MRSettingChip.h"

#include "ui/MRAccessible.h"
#include "ui/MRStyleKit.h"
#include "ui/MRWidgetTheme.h"

#include <QAccessible>
#include <QEvent>
#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QtMath>

namespace {

constexpr int kHeight = 26;
constexpr qreal kRadius = 13;
constexpr qreal kIconLeft = 9;
constexpr qreal kLabelGap = 6;
constexpr qreal kLabelRight = 11;
constexpr qreal kOnFillAlpha = 0.14;
constexpr qreal kOnBorderAlpha = 0.55;
constexpr qreal kDisabledOpacity = 0.45;

QFont labelFont()
{
    return MRTheme::uiFont(12, QFont::Medium);
}

} // namespace

MRSettingChip::MRSettingChip(const QString& symbol, const QString& label, const MRColor& iconColor, QWidget* parent)
    : MRInteractiveWidget(parent), m_icon(MRStyleKit::symbol(symbol, 12, QFont::DemiBold)), m_label(label),
      m_iconColor(iconColor)
{
    MRAccessible::install();
    setAttribute(Qt::WA_Hover);
    setFixedHeight(kHeight);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void MRSettingChip::setOn(bool on)
{
    if (on == m_on)
        return;
    m_on = on;
    updateAppearance();
    QAccessible::State changed;
    changed.checked = true;
    QAccessibleStateChangeEvent event(this, changed);
    QAccessible::updateAccessibility(&event);
}

void MRSettingChip::toggle()
{
    setOn(!m_on);
    Q_EMIT toggled(m_on);
}

void MRSettingChip::setSettingDetail(const QString& detail)
{
    m_settingDetail = detail;
    setToolTip(detail);
}

QString MRSettingChip::accessibleValue() const
{
    return m_on ? QStringLiteral("1") : QStringLiteral("0");
}

QSize MRSettingChip::sizeHint() const
{
    const qreal text = QFontMetricsF(labelFont()).horizontalAdvance(m_label);
    return {qCeil(kIconLeft + m_icon.size().width() + kLabelGap + text + kLabelRight), kHeight};
}

QSize MRSettingChip::minimumSizeHint() const
{
    // The label gives way first.
    return {qCeil(kIconLeft + m_icon.size().width() + kLabelGap + kLabelRight), kHeight};
}

void MRSettingChip::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled())
        painter.setOpacity(kDisabledOpacity);

    const MRColor accent = MRTheme::accent();
    MRColor fill;
    if (m_on)
        fill = accent.withAlpha(kOnFillAlpha);
    else if (isHovered() && isEnabled())
        fill = MRTheme::rowHover();
    const MRColor border = m_on ? accent.withAlpha(kOnBorderAlpha) : MRTheme::hairline();
    const QColor fillColor = MRWidgetTheme::resolve(fill, this);
    painter.setBrush(fillColor.isValid() ? QBrush(fillColor) : QBrush(Qt::NoBrush));
    painter.setPen(QPen(MRWidgetTheme::resolve(border, this), 1));
    const qreal radius = qMin<qreal>(kRadius, height() / 2.0) - 0.5;
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);

    const QSizeF iconSize = m_icon.size();
    const QRectF iconRect(kIconLeft, (height() - iconSize.height()) / 2, iconSize.width(), iconSize.height());
    m_icon.paint(painter, iconRect, MRWidgetTheme::resolve(m_on ? m_iconColor : MRTheme::textTertiary(), this));

    const QFont font = labelFont();
    const qreal left = iconRect.right() + kLabelGap;
    const qreal width = qMax<qreal>(0, this->width() - kLabelRight - left);
    painter.setFont(font);
    painter.setPen(MRWidgetTheme::resolve(m_on ? MRTheme::textPrimary() : MRTheme::textSecondary(), this));
    painter.drawText(QRectF(left, 0, width, height()), Qt::AlignLeft | Qt::AlignVCenter,
                     QFontMetricsF(font).elidedText(m_label, Qt::ElideRight, width));
}

void MRSettingChip::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    toggle();
}
