#include "ui/MRFocusRing.h"

#include "ui/MRWidgetTheme.h"

#include <QFocusEvent>
#include <QPainter>
#include <QPainterPath>

namespace MRFocusRing {

namespace {

constexpr qreal kWidth = 2.0;
constexpr qreal kAlpha = 0.55;
constexpr qreal kOnFillInset = 2.0;
constexpr qreal kOnFillAlpha = 0.85;

} // namespace

void track(bool& visible, const QFocusEvent* event)
{
    switch (event->reason()) {
    case Qt::ActiveWindowFocusReason:
    case Qt::PopupFocusReason:
    case Qt::MenuBarFocusReason:
    case Qt::NoFocusReason:
        return;
    case Qt::MouseFocusReason:
        visible = false;
        return;
    default:
        visible = event->gotFocus();
        return;
    }
}

void paint(QPainter& painter, const QRectF& bounds, qreal radius, const QWidget* widget, bool onAccentFill)
{
    const qreal inset = kWidth / 2 + (onAccentFill ? kOnFillInset : 0);
    const QRectF ring = bounds.adjusted(inset, inset, -inset, -inset);
    const qreal r = qMax<qreal>(0, radius - inset);
    const MRColor color =
        onAccentFill ? MRTheme::onAccent().withAlpha(kOnFillAlpha) : MRTheme::accent().withAlpha(kAlpha);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(MRWidgetTheme::resolve(color, widget), kWidth));
    painter.drawRoundedRect(ring, r, r);
    painter.restore();
}

} // namespace MRFocusRing
