#include "ui/MRContrast.h"

#include <QtMath>

namespace MRContrast {

namespace {

qreal linear(float channel)
{
    return channel <= 0.04045f ? channel / 12.92 : qPow((channel + 0.055) / 1.055, 2.4);
}

} // namespace

qreal luminance(const QColor& color)
{
    const QColor rgb = color.toRgb();
    return 0.2126 * linear(rgb.redF()) + 0.7152 * linear(rgb.greenF()) + 0.0722 * linear(rgb.blueF());
}

qreal ratio(const QColor& a, const QColor& b)
{
    const qreal la = luminance(a);
    const qreal lb = luminance(b);
    return (qMax(la, lb) + 0.05) / (qMin(la, lb) + 0.05);
}

QColor over(const QColor& top, const QColor& bottom)
{
    const QColor t = top.toRgb();
    const QColor b = bottom.toRgb();
    const float ta = t.alphaF();
    const float ba = b.alphaF() * (1 - ta);
    const float alpha = ta + ba;
    if (alpha <= 0)
        return QColor::fromRgbF(0, 0, 0, 0);
    const auto mix = [&](float tc, float bc) { return (tc * ta + bc * ba) / alpha; };
    return QColor::fromRgbF(mix(t.redF(), b.redF()), mix(t.greenF(), b.greenF()), mix(t.blueF(), b.blueF()), alpha);
}

QColor deepenedFor(const QColor& fill, const QColor& text, qreal minimum)
{
    QColor deeper = fill.toRgb();
    for (int factor = 101; ratio(text, deeper) < minimum && deeper.value() > 0; ++factor)
        deeper = fill.toRgb().darker(factor);
    return deeper;
}

} // namespace MRContrast
