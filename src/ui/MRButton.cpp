#include "ui/MRButton.h"

#include "ui/MRFocusRing.h"
#include "ui/MRWidgetTheme.h"

#include <QEvent>
#include <QFocusEvent>
#include <QFontMetricsF>
#include <QPainter>
#include <QtMath>

namespace {

constexpr qreal kExtraWidth = 30;
constexpr qreal kImageSpacing = 4;
constexpr qreal kVerticalPadding = 6;

} // namespace

MRButton::MRButton(QWidget* parent) : MRInteractiveWidget(parent)
{
    setAttribute(Qt::WA_Hover);
    // Reached with Tab, as with full keyboard access; a click does not take focus.
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void MRButton::setMrStyle(Style style)
{
    m_style = style;
    update();
}

void MRButton::setCornerRadius(qreal radius)
{
    m_cornerRadius = radius;
    update();
}

void MRButton::setStyledTitle(const MRStyledText& title)
{
    m_titleFont = title.font;
    m_titleColor = title.color;
    setText(title.text);
    updateGeometry();
    update();
}

void MRButton::setImage(const MRIcon& image)
{
    m_image = image;
    updateGeometry();
    update();
}

void MRButton::setImageTint(const MRColor& tint)
{
    m_imageTint = tint;
    update();
}

void MRButton::setImageTrailing(bool trailing)
{
    m_imageTrailing = trailing;
    update();
}

QSizeF MRButton::contentSize() const
{
    const QSizeF imageSize = m_image.size();
    if (text().isEmpty())
        return imageSize;
    const QFontMetricsF metrics(m_titleFont);
    qreal width = metrics.horizontalAdvance(text());
    qreal height = metrics.height();
    if (!m_image.isNull()) {
        width += kImageSpacing + imageSize.width();
        height = qMax(height, imageSize.height());
    }
    return {width, height};
}

QSize MRButton::sizeHint() const
{
    const QSizeF content = contentSize();
    const qreal extra = isImageOnly() ? 0 : kExtraWidth;
    return {qCeil(content.width() + extra), qCeil(content.height() + kVerticalPadding)};
}

QSize MRButton::minimumSizeHint() const
{
    return sizeHint();
}

void MRButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds = rect();
    const bool pressed = isDown();
    const bool hovered = isHovered() && isEnabled();

    MRColor fill;
    bool border = false;
    switch (m_style) {
    case Style::Primary:
        fill = (pressed || hovered) ? MRTheme::accentPressed() : MRTheme::accent();
        break;
    case Style::Ghost:
        border = true;
        [[fallthrough]];
    case Style::Icon:
        if (pressed)
            fill = MRTheme::rowSelected();
        else if (hovered)
            fill = MRTheme::rowHover();
        break;
    default:
        break;
    }
    const QColor fillColor = MRWidgetTheme::resolve(fill, this);
    if (fillColor.isValid() || border) {
        painter.setBrush(fillColor.isValid() ? QBrush(fillColor) : QBrush(Qt::NoBrush));
        painter.setPen(border ? QPen(MRWidgetTheme::resolve(MRTheme::hairline(), this), 1) : QPen(Qt::NoPen));
        const qreal inset = border ? 0.5 : 0;
        const qreal radius = qMax<qreal>(0, m_cornerRadius - inset);
        painter.drawRoundedRect(bounds.adjusted(inset, inset, -inset, -inset), radius, radius);
    }

    painter.save();
    if (!isEnabled())
        painter.setOpacity(kMRDisabledOpacity);
    const QSizeF content = contentSize();
    qreal x = bounds.center().x() - content.width() / 2;
    const QSizeF imageSize = m_image.size();
    const auto paintImage = [&] {
        m_image.paint(painter, QRectF(QPointF(x, bounds.center().y() - imageSize.height() / 2), imageSize),
                      MRWidgetTheme::resolve(m_imageTint, this));
        x += imageSize.width() + kImageSpacing;
    };
    if (!m_image.isNull() && !m_imageTrailing)
        paintImage();
    if (!text().isEmpty()) {
        const QFontMetricsF metrics(m_titleFont);
        const qreal width = metrics.horizontalAdvance(text());
        painter.setFont(m_titleFont);
        painter.setPen(MRWidgetTheme::resolve(m_titleColor, this));
        painter.drawText(QRectF(x, bounds.top(), width, bounds.height()), Qt::AlignLeft | Qt::AlignVCenter, text());
        x += width + kImageSpacing;
    }
    if (!m_image.isNull() && m_imageTrailing)
        paintImage();
    painter.restore();

    if (showsFocusRing())
        MRFocusRing::paint(painter, bounds, m_cornerRadius, this, m_style == Style::Primary);
}
