#include "ui/MRIcon.h"

#include "ui/MRIconCatalogue.h"

#include <QPainter>
#include <QtMath>

namespace {

// A symbol's box is a little larger than its point size, as a glyph's line height is.
constexpr qreal kSymbolBoxPerPoint = 1.2;

} // namespace

MRIcon MRIcon::symbol(const QString& name, qreal pointSize, bool semibold)
{
    MRIcon icon;
    if (!MRIconCatalogue::contains(name) || pointSize <= 0)
        return icon;
    icon.m_kind = Kind::Symbol;
    icon.m_name = name;
    icon.m_pointSize = pointSize;
    icon.m_semibold = semibold;
    return icon;
}

MRIcon MRIcon::sparkle(qreal size)
{
    MRIcon icon;
    if (size <= 0)
        return icon;
    icon.m_kind = Kind::Sparkle;
    icon.m_pointSize = size;
    return icon;
}

QSizeF MRIcon::size() const
{
    switch (m_kind) {
    case Kind::Symbol:
        return {m_pointSize * kSymbolBoxPerPoint, m_pointSize * kSymbolBoxPerPoint};
    case Kind::Sparkle:
        return {m_pointSize, m_pointSize};
    case Kind::None:
        break;
    }
    return {};
}

void MRIcon::paint(QPainter& painter, const QRectF& rect, const QColor& color) const
{
    const QSizeF own = size();
    const QRectF box(rect.center().x() - own.width() / 2, rect.center().y() - own.height() / 2, own.width(),
                     own.height());
    switch (m_kind) {
    case Kind::Symbol:
        MRIconCatalogue::draw(m_name, painter, box, color, m_semibold);
        break;
    case Kind::Sparkle:
        MRIconCatalogue::drawSparkle(painter, box, color);
        break;
    case Kind::None:
        break;
    }
}

QPixmap MRIcon::pixmap(const QColor& color, qreal devicePixelRatio) const
{
    if (isNull())
        return {};
    const QSizeF logical = size();
    QPixmap pixmap(qCeil(logical.width() * devicePixelRatio), qCeil(logical.height() * devicePixelRatio));
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    paint(painter, QRectF(QPointF(0, 0), pixmap.deviceIndependentSize()), color);
    return pixmap;
}

QIcon MRIcon::icon(const QColor& color) const
{
    QIcon result;
    if (isNull())
        return result;
    for (qreal ratio : {1.0, 2.0, 3.0})
        result.addPixmap(pixmap(color, ratio));
    return result;
}
